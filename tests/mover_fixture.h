// Harness of the AVI engine's tests: files in a temporary folder, loaded
// with LoadAvi, messages recorded instead of shown.
#pragma once

#include "mover/avireader.h"
#include "mover/message.h"
#include "mover/shift.h"

#include "tests/avibuilder.h"
#include "tests/testutil.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

struct SHOWNMESSAGE {
    std::string text;
    std::string caption;
    UINT uType;
};
extern std::vector<SHOWNMESSAGE> g_aShown;

class AviTest : public ::testing::Test {
public:
    void SetUp() override;
    void TearDown() override;

    // Writes the bytes as name in the test's folder and loads them.
    BOOL LoadBytes(const std::vector<BYTE> &bytes, const char *pszName = "test.avi");
    BOOL LoadFile(const std::string &path);
    // The one message shown, with the file's path written as "<path>".
    std::string OnlyMessage();
    std::string Path(const char *pszName) { return JoinPath(dir, pszName); }

    std::string dir;
    AviInfo info;
};

// A frame's place in a reference file.
struct FRAMEPLACE {
    DWORD dwOffset;
    DWORD dwFrameSize;
};
// A reference file of nFrames frames whose sizes vary; their places.
std::vector<FRAMEPLACE> WriteRefFile(const std::string &path, DWORD nFrames, BYTE bFill);
// A reference record naming the file, for the frame at that place.
std::vector<BYTE> RecordBytes(const std::string &name, const FRAMEPLACE &frame);
// An AVI of 8 x 8 frames that are records naming the reference files in
// turn, each frame the next one of its file; the files are written.
std::vector<BYTE> BuildRecordAvi(const std::vector<std::string> &files, DWORD nFrames, FOURCC fccHandler);

// The text of a recovery note as a relocation writes it, with what the
// files are now: the old file's identity, size and digest, and the new
// file's identity when fCopy and it is there. Empty when the old file
// cannot be read.
std::string RelocationNoteText(const std::string &old, const std::string &newName, int fCopy, int fDeleteOld);
// Writes that note beside the AVI (its name with ".relocating").
void WriteRelocationNote(const std::string &avi, const std::string &old, const std::string &newName, int fCopy,
                         int fDeleteOld);
// Recovery of a loaded AVI's note with the window's messages recorded in
// g_aShown; RECOVER_....
int RecoverForTest(AviInfo *pInfo);

// Pixels of a 24-bit bottom-up picture as "b,g,r b,g,r ..." rows, for
// readable comparisons.
std::string Row(const BYTE *pPicture, LONG lWidth, LONG lRow);
std::vector<BYTE> Bytes(std::initializer_list<int> values);
