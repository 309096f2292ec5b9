// Harness of Spoolmend's engine: the window's functions recorded, combo
// boxes held in memory, reference files recorded through Spoolcap installed
// in front of the sample codec, and the sample codec listed as "SMPL".
#pragma once

#include "salvage/salvage.h"

#include "tests/testutil.h"

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

// A combo box in memory, sorted like the window's history boxes or in the
// order of adding like the codec list.
struct FAKECOMBO {
    std::vector<std::string> items;
    bool fSorted = true;
    int iSel = -1;
    std::string edit;
    DWORD dwEditSel = 0;
    COMBOLIST list;
};

struct SHOWN {
    std::string text;
    std::string caption;
    UINT uType;
};

// What the engine did to the window.
struct UIRECORD {
    std::vector<SHOWN> shown;
    std::string title;
    std::map<int, std::string> texts;
    std::map<int, bool> enabled;
    std::map<int, bool> visible;
    std::vector<std::pair<int, UINT>> posted;
    DWORD nScrollMax = 0, nScrollPos = 0;
    int nPictures = 0, nFailedPictures = 0;
    std::vector<BYTE> lastPicture;
    // Called at each pump of a long loop, with the number of pumps so far.
    std::function<void(int)> onPump;
    int nPumps = 0;
};
extern UIRECORD g_ui;
extern FAKECOMBO g_aCombo[4];  // IDC_CODEC, IDC_WIDTH, IDC_HEIGHT, IDC_FRAMERATE

void InitFakeCombo(FAKECOMBO *pCombo, bool fSorted);

// A picture whose content varies with the seed, so that compressed sizes
// vary from frame to frame.
std::vector<BYTE> MakeSalvagePicture(LONG lWidth, LONG lHeight, int nSeed);

class SalvageTest : public ::testing::Test {
public:
    void SetUp() override;
    void TearDown() override;

    std::string Path(const char *pszName) { return JoinPath(dir, pszName); }
    // Records nFrames pictures through Spoolcap into dir/base.000 (raw
    // frames with fRaw); returns the reference file's path.
    std::string Record(const char *pszBase, int nFrames, LONG lWidth, LONG lHeight, bool fRaw = false);
    // Opens a reference file as the window does, and with fWhole scans the
    // rest too.
    BOOL Open(const std::string &path, bool fWhole = true);
    // The one message shown, with the reference file's path written as
    // "<ref>" and dir as "<dir>".
    std::string OnlyMessage();

    std::string dir;
    std::string spoolName;  // Spoolcap's module under the name it was installed as
    std::string sampleName;
    std::vector<std::vector<BYTE>> pictures;  // of the last Record
    LONG lWidth = 64, lHeight = 48;            // the picture size that Open applies
};

// Reads a little-endian 32-bit value.
inline DWORD Dword(const std::vector<BYTE> &bytes, size_t at)
{
    return at + 4 <= bytes.size() ? (DWORD)bytes[at] | (DWORD)bytes[at + 1] << 8 | (DWORD)bytes[at + 2] << 16 |
                                        (DWORD)bytes[at + 3] << 24
                                  : 0xDEADBEEFu;
}
