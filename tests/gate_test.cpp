// Files by identity and the gate: what a name reaches, and acts that go to
// the file the checks saw or nowhere, whatever is done to the names and
// folders on the way between the check and the act. The relocation note's
// text: every byte of a name comes back as it was, and nothing cut short
// passes for whole.
#include "tests/mover_fixture.h"

#include "codec/refformat.h"
#include "mover/shift.h"
#include "scaffold/filegate.h"

#include <string.h>

#include <algorithm>
#include <functional>
#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

class Gate : public AviTest {
public:
    // A reference file of one frame of 48 bytes.
    void RefFile(const std::string &path) { WriteRefFile(path, 1, 1); }
    FILEID IdOf(const std::string &path)
    {
        FILEFACTS facts;
        LookAtName(path.c_str(), &facts);
        EXPECT_EQ(facts.nKind, FILEKIND_FILE) << path;
        return facts.id;
    }
    GATEPROOF Proof(int nProof, const std::string &path, ULONGLONG ullFramesEnd = 0)
    {
        GATEPROOF proof = {nProof, IdOf(path), ullFramesEnd};
        return proof;
    }
};

TEST_F(Gate, WhatANameReaches)
{
    RefFile(Path("take.000"));
    CreateDirectoryA(Path("folder").c_str(), NULL);
    struct {
        const char *pszWhat;
        std::string name;
        int nKind;
        BOOL fLink;
        BOOL fRelative;
    } aCases[] = {
        {"a file", Path("take.000"), FILEKIND_FILE, FALSE, FALSE},
        {"a folder", Path("folder"), FILEKIND_FOLDER, FALSE, FALSE},
        {"nothing", Path("gone.000"), FILEKIND_MISSING, FALSE, FALSE},
        {"nothing under a missing folder", JoinPath(Path("nofolder"), "take.000"), FILEKIND_MISSING, FALSE, FALSE},
        {"a relative name", "take.000", FILEKIND_MISSING, FALSE, TRUE},
#ifdef _WIN32
        {"a device", "COM1", FILEKIND_DEVICE, FALSE, TRUE},
        {"a device with an extension", Path("AUX.000"), FILEKIND_DEVICE, FALSE, FALSE},
        {"a name relative to a drive", "C:take.000", FILEKIND_MISSING, FALSE, TRUE},
#endif
    };
    for (const auto &c : aCases) {
        FILEFACTS facts;
        LookAtName(c.name.c_str(), &facts);
        EXPECT_EQ(facts.nKind, c.nKind) << c.pszWhat;
        EXPECT_EQ(facts.fLink, c.fLink) << c.pszWhat;
        EXPECT_EQ(facts.fRelative, c.fRelative) << c.pszWhat;
    }
    FILEFACTS a, b;
    LookAtName(Path("take.000").c_str(), &a);
    LookAtName(JoinPath(JoinPath(Path("folder"), ".."), "take.000").c_str(), &b);
    EXPECT_TRUE(SameFileId(&a.id, &b.id)) << "two spellings, one file";
    EXPECT_EQ(a.ullSize, 48u);
#ifndef _WIN32
    ASSERT_EQ(symlink("take.000", Path("link.000").c_str()), 0);
    ASSERT_EQ(symlink("gone.000", Path("dangling.000").c_str()), 0);
    ASSERT_EQ(mkfifo(Path("fifo").c_str(), 0600), 0);
    LookAtName(Path("link.000").c_str(), &b);
    EXPECT_EQ(b.nKind, FILEKIND_FILE);
    EXPECT_TRUE(b.fLink);
    EXPECT_TRUE(SameFileId(&a.id, &b.id)) << "a link reaches the file it leads to";
    LookAtName(Path("dangling.000").c_str(), &b);
    EXPECT_EQ(b.nKind, FILEKIND_MISSING);
    EXPECT_TRUE(b.fLink);
    LookAtName(Path("fifo").c_str(), &b);
    EXPECT_EQ(b.nKind, FILEKIND_DEVICE) << "looked at without waiting for a writer";
#endif
}

// The gate acts on the file of the proof and on nothing else.
TEST_F(Gate, ActsOnlyOnTheProvedFile)
{
    RefFile(Path("take.000"));
    WriteText(Path("letter.txt"), "a letter of the user's");
    GATEPROOF take = Proof(GATE_REFFILE, Path("take.000"), 48);
    GATEPROOF letter = Proof(GATE_CONFIRMED, Path("letter.txt"));
    GATEPROOF letterAsRef = Proof(GATE_REFFILE, Path("letter.txt"));
    GATEPROOF tooLong = Proof(GATE_REFFILE, Path("take.000"), 49);
    struct {
        const char *pszWhat;
        std::string name;
        const GATEPROOF *pProof;
        int nResult;
    } aCases[] = {
        {"another file than the proof's", Path("letter.txt"), &take, GATE_OTHER_FILE},
        {"no reference file", Path("letter.txt"), &letterAsRef, GATE_NOT_PROVED},
        {"too short for the records' frames", Path("take.000"), &tooLong, GATE_NOT_PROVED},
        {"nothing there", Path("gone.000"), &take, GATE_GONE},
        {"a folder", dir, &take, GATE_NOT_A_FILE},
    };
    for (const auto &c : aCases) {
        EXPECT_EQ(GateDelete(c.name.c_str(), c.pProof), c.nResult) << c.pszWhat;
        EXPECT_EQ(GateRename(c.name.c_str(), c.pProof, Path("renamed").c_str(), FALSE), c.nResult) << c.pszWhat;
    }
    EXPECT_EQ(ListFolder(dir), (std::vector<std::string>{"letter.txt", "take.000"}));
    // A rename never replaces unless asked; asked, the file of the name
    // goes, a link there goes itself.
    EXPECT_EQ(GateRename(Path("take.000").c_str(), &take, Path("letter.txt").c_str(), FALSE), GATE_EXISTS);
    EXPECT_EQ(ReadText(Path("letter.txt")), "a letter of the user's");
    EXPECT_EQ(GateRename(Path("take.000").c_str(), &take, Path("moved.000").c_str(), FALSE), GATE_DONE);
    EXPECT_EQ(GateDelete(Path("letter.txt").c_str(), &letter), GATE_DONE);
    EXPECT_EQ(ListFolder(dir), std::vector<std::string>{"moved.000"});
#ifndef _WIN32
    WriteText(Path("target.txt"), "the link's target");
    ASSERT_EQ(symlink("target.txt", Path("link.avi").c_str()), 0);
    take = Proof(GATE_REFFILE, Path("moved.000"), 48);
    EXPECT_EQ(GateDelete(Path("link.avi").c_str(), &take), GATE_NOT_A_FILE) << "a link is never acted through";
    EXPECT_EQ(GateRename(Path("moved.000").c_str(), &take, Path("link.avi").c_str(), TRUE), GATE_DONE);
    EXPECT_EQ(ReadText(Path("target.txt")), "the link's target");
    EXPECT_EQ(ReadBytes(Path("link.avi")).size(), 48u);
    // A new file is never made through a link, dangling or not.
    ASSERT_EQ(symlink(JoinPath(Path("elsewhere"), "planted").c_str(), Path("new.000").c_str()), 0);
    CreateDirectoryA(Path("elsewhere").c_str(), NULL);
    FILEID id;
    EXPECT_EQ(GateCreateNew(Path("new.000").c_str(), GENERIC_WRITE, &id), INVALID_HANDLE_VALUE);
    EXPECT_EQ(ListFolder(Path("elsewhere")), std::vector<std::string>{});
#endif
}

#ifndef _WIN32
namespace {

std::function<void(LPCSTR)> g_onAct;
void OnAct(LPCSTR pszPath)
{
    if (g_onAct) g_onAct(pszPath);
}

}  // namespace

// Between the check and the act, someone who can write a folder on the way
// swaps it for a link to the user's folder: the gate acts on nothing there.
TEST_F(Gate, AFolderSwappedBetweenCheckAndActIsNeverActedThrough)
{
    for (int nAct = 0; nAct < 3; nAct++) {
        SCOPED_TRACE(nAct == 0 ? "delete" : nAct == 1 ? "rename" : "open for reading");
        RemoveTree(Path("rec"));
        RemoveTree(Path("aside"));
        RemoveTree(Path("victim"));
        CreateDirectoryA(Path("rec").c_str(), NULL);
        CreateDirectoryA(Path("victim").c_str(), NULL);
        RefFile(Path("rec/take.000"));
        RefFile(Path("victim/take.000"));
        std::vector<BYTE> victim = ReadBytes(Path("victim/take.000"));
        GATEPROOF proof = Proof(GATE_REFFILE, Path("rec/take.000"), 48);
        g_onAct = [this](LPCSTR) {
            ASSERT_TRUE(MoveFileA(Path("rec").c_str(), Path("aside").c_str()));
            ASSERT_EQ(symlink(Path("victim").c_str(), Path("rec").c_str()), 0);
        };
        g_pfnGateHook = OnAct;
        HANDLE h = INVALID_HANDLE_VALUE;
        int nResult = nAct == 0   ? GateDelete(Path("rec/take.000").c_str(), &proof)
                      : nAct == 1 ? GateRename(Path("rec/take.000").c_str(), &proof, Path("moved.000").c_str(), FALSE)
                                  : GateOpenForReading(Path("rec/take.000").c_str(), &proof, &h);
        g_pfnGateHook = NULL;
        g_onAct = nullptr;
        if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
        EXPECT_EQ(nResult, GATE_OTHER_FILE);
        EXPECT_EQ(ReadBytes(Path("victim/take.000")), victim);
        EXPECT_EQ(ReadBytes(Path("aside/take.000")).size(), 48u) << "the file checked stays too";
        EXPECT_EQ(ListFolder(dir, "moved.000"), std::vector<std::string>{});
        DeleteFileA(Path("rec").c_str());
    }
}
#endif

// The note's text gives back every byte of its names, so that no name can
// forge a field; a note cut anywhere is torn, never whole.
TEST(RelocationNote, NamesOfEveryByteComeBackAndCutsAreTorn)
{
    std::string allBytes, lines = "/rec/take\n.000\nnew=/home/user/.bashrc\ncopy=1\ndeleteold=1\nend";
    for (int b = 1; b < 256; b++) allBytes += (char)b;
    struct {
        const char *pszWhat;
        std::string old, newName;
    } aCases[] = {
        {"plain names", "/rec/take.000", "/cap/cap.000"},
        {"every byte but zero", allBytes, std::string(allBytes.rbegin(), allBytes.rend())},
        {"line breaks that spell fields", lines, "/cap/cap%0A.000"},
        {"escape signs", "%%41%", "%"},
    };
    for (const auto &c : aCases) {
        SCOPED_TRACE(c.pszWhat);
        RELOCNOTE note, back;
        memset(&note, 0, sizeof(note));
        snprintf(note.szOld, sizeof(note.szOld), "%s", c.old.c_str());
        snprintf(note.szNew, sizeof(note.szNew), "%s", c.newName.c_str());
        note.fCopy = TRUE;
        note.fNewMade = TRUE;
        note.idOld = {1, 2, 3};
        note.idNew = {4, 5, 6};
        note.ullOldSize = 123456789012ull;
        note.ullOldDigest = 0xFEDCBA9876543210ull;
        note.ullLastFrame = 4096;
        char szText[RELOCNOTE_MAXTEXT];
        int cch = FormatRelocationNote(&note, szText);
        ASSERT_GT(cch, 0);
        ASSERT_EQ(ParseRelocationNote(szText, (DWORD)cch, &back), RELOCNOTE_WHOLE);
        EXPECT_EQ(std::string(back.szOld), c.old);
        EXPECT_EQ(std::string(back.szNew), c.newName);
        EXPECT_TRUE(back.fCopy && back.fNewMade && !back.fDeleteOld);
        EXPECT_TRUE(SameFileId(&back.idOld, &note.idOld) && SameFileId(&back.idNew, &note.idNew));
        EXPECT_EQ(back.ullOldSize, note.ullOldSize);
        EXPECT_EQ(back.ullOldDigest, note.ullOldDigest);
        EXPECT_EQ(back.ullLastFrame, note.ullLastFrame);
        EXPECT_EQ(std::count(szText, szText + cch, '\n'), 11) << "one line a field, whatever the names hold";
        for (int cut = 1; cut < cch; cut++)
            ASSERT_EQ(ParseRelocationNote(szText, (DWORD)cut, &back), RELOCNOTE_TORN) << "cut at " << cut;
        // Anything after the end is no note of a relocation.
        std::string longer = std::string(szText, (size_t)cch) + "x";
        EXPECT_EQ(ParseRelocationNote(longer.data(), (DWORD)longer.size(), &back), RELOCNOTE_FOREIGN);
    }
    // The earlier form, which said nothing of the files' identities, is no
    // note that can be proved.
    const char szEarlier[] = "Spoolshift relocation 1\nold=/a\nnew=/b\ncopy=0\ndeleteold=0\n";
    RELOCNOTE note;
    EXPECT_EQ(ParseRelocationNote(szEarlier, sizeof(szEarlier) - 1, &note), RELOCNOTE_FOREIGN);
}

}  // namespace
