// AVIs, recovery notes and reference files that someone else made, run
// through every command of spool and of Spoolshift's window at volume: the
// user's own files (the sentinels) survive byte for byte, and each command
// either refuses and changes nothing, or leaves every record naming a file
// that holds its frame.
#include "tests/spool_fixture.h"

#include "codec/refformat.h"
#include "mover/shift.h"
#include "scaffold/paths.h"

#include <stdlib.h>
#include <string.h>

#include <functional>
#include <map>
#ifndef _WIN32
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace {

const DWORD FRAMES = 3000;
const char THESIS[] = "the user's thesis, which no command may touch\n";
const char CONFIG[] = "Host *\n  the user's settings\n";

typedef std::map<std::string, std::vector<BYTE>> SNAPSHOT;

// A record naming a file at a place, or (dvrs) a frame whose name starts at
// byte 12.
std::vector<BYTE> ForeignFrame(const std::string &name, size_t cbField)
{
    std::vector<BYTE> frame(12 + cbField, 0);
    memcpy(frame.data(), "foreign head", 12);
    memcpy(frame.data() + 12, name.data(), name.size() < cbField ? name.size() : cbField);
    return frame;
}

// Where records place their frames in a file that is no reference file.
const FRAMEPLACE FAKE_PLACE = {0, 48};

// A record's name for the frame i of a file: the file's own name, or
// another spelling of it.
typedef std::function<std::string(DWORD i, const std::string &file)> SPELLING;

class Hostile : public Spool {
public:
    void SetUp() override
    {
        Spool::SetUp();
        CreateDirectoryA(Path("home").c_str(), NULL);
        CreateDirectoryA(Path("moved").c_str(), NULL);
        thesis = JoinPath(Path("home"), "thesis.doc");
        config = JoinPath(Path("home"), ".ssh_config");
        avi = Path("rec.avi");
    }
    void WriteSentinels()
    {
        ASSERT_TRUE(WriteText(thesis, THESIS));
        ASSERT_TRUE(WriteText(config, CONFIG));
    }
    // The files of a folder (not of its subfolders): a regular file by its
    // bytes, anything else by what it is; nothing is opened but files.
    static void SnapshotFolder(const std::string &folder, SNAPSHOT *pFiles)
    {
        for (const std::string &name : ListFolder(folder)) {
            std::string path = JoinPath(folder, name);
            FILEFACTS facts;
            LookAtName(path.c_str(), &facts);
            if (facts.nKind == FILEKIND_FOLDER && !facts.fLink) continue;
            if (facts.nKind == FILEKIND_FILE && !facts.fLink) (*pFiles)[path] = ReadBytes(path);
            else (*pFiles)[path] = std::vector<BYTE>{(BYTE)facts.nKind, (BYTE)facts.fLink};
        }
    }
    // The user's own files.
    SNAPSHOT Home()
    {
        SNAPSHOT files;
        SnapshotFolder(Path("home"), &files);
        return files;
    }
    SNAPSHOT Snapshot()
    {
        SNAPSHOT files;
        for (const char *pszSub : {"", "home", "moved", "real"}) SnapshotFolder(*pszSub ? Path(pszSub) : dir, &files);
        return files;
    }
    // The recording: records of this system naming the files in turn, each
    // frame the next of its file; files in hostile are named at a place of
    // their own, not written. spell gives a record's name for its file.
    void Recording(const std::vector<std::string> &files, DWORD nFrames, std::vector<std::string> hostile = {},
                   const std::function<void(AVISPEC *)> &bend = nullptr, const SPELLING &spell = nullptr)
    {
        std::vector<std::vector<FRAMEPLACE>> places;
        for (size_t f = 0; f < files.size(); f++)
            places.push_back(WriteRefFile(files[f], nFrames / (DWORD)files.size() + 1, (BYTE)(f + 1)));
        AVISPEC spec;
        spec.fccHandler = mmioFOURCC('S', 'M', 'P', 'L');
        spec.format = MakeFormat(8, 8, 24, spec.fccHandler);
        spec.dwTotalFrames = spec.dwLength = nFrames;
        size_t nNames = files.size() + hostile.size();
        for (DWORD i = 0; i < nFrames; i++) {
            size_t f = i % nNames;
            std::string name = f < files.size() ? (spell ? spell(i, files[f]) : files[f]) : hostile[f - files.size()];
            spec.chunks.push_back(
                Frame("00dc", RecordBytes(name, f < files.size() ? places[f][i / nNames] : FAKE_PLACE)));
        }
        if (bend) bend(&spec);
        std::vector<BYTE> bytes = BuildAvi(spec);
        ASSERT_TRUE(WriteBytes(avi, bytes.data(), bytes.size()));
    }
    // Frame 5's index entry claims more than the file holds: it cannot be
    // read.
    void SpoilFrame5()
    {
        std::vector<BYTE> bytes = ReadBytes(avi);
        for (size_t at = bytes.size() - 8; at > 0; at--) {
            if (memcmp(&bytes[at], "idx1", 4) != 0) continue;
            DWORD cbHuge = 0x100000;
            memcpy(&bytes[at + 8 + 16 * 5 + 12], &cbHuge, 4);
            break;
        }
        ASSERT_TRUE(WriteBytes(avi, bytes.data(), bytes.size()));
    }
    // An AVI of the foreign kind "dvrs" whose frame i names names[i] in a
    // field of cbField(i) bytes; "take.dat" of it is written.
    void ForeignAvi(DWORD nFrames, const std::function<std::string(DWORD)> &name,
                    const std::function<size_t(DWORD)> &cbField)
    {
        AVISPEC spec;
        spec.fccHandler = mmioFOURCC('d', 'v', 'r', 's');
        spec.format = MakeFormat(8, 8, 24, spec.fccHandler);
        spec.dwTotalFrames = spec.dwLength = nFrames;
        ASSERT_TRUE(WriteText(Path("take.dat"), "a file of the foreign codec"));
        for (DWORD i = 0; i < nFrames; i++) spec.chunks.push_back(Frame("00dc", ForeignFrame(name(i), cbField(i))));
        std::vector<BYTE> bytes = BuildAvi(spec);
        ASSERT_TRUE(WriteBytes(avi, bytes.data(), bytes.size()));
    }
    // A note as an attacker who can see the files writes it: their true
    // identities, sizes and digests.
    void Note(const std::string &old, const std::string &newName, int fCopy, int fDeleteOld)
    {
        WriteRelocationNote(avi, old, newName, fCopy, fDeleteOld);
    }
    // The engine as the window drives it: the AVI opened (recovering what
    // its note says when asked), detected, every file selected; questions
    // answered as a careful user would: yes to recovering a relocation cut
    // short and to deleting everything, no to files whose format cannot be
    // checked. The commands run even where the window would leave them
    // disabled (a note it could not recover): the engine itself must refuse.
    void Window(bool fDelete)
    {
        static std::vector<std::pair<std::string, bool>> s_items;
        static std::string s_base;
        s_items.clear();
        s_base = Path("moved/cap");
        memset(&g_ShiftUi, 0, sizeof(g_ShiftUi));
        g_ShiftUi.list.pfnGetCount = []() { return (int)s_items.size(); };
        g_ShiftUi.list.pfnGetText = [](int i, LPSTR psz) {
            if (i < 0 || i >= (int)s_items.size()) return FALSE;
            snprintf(psz, MAX_PATH, "%s", s_items[(size_t)i].first.c_str());
            return TRUE;
        };
        g_ShiftUi.list.pfnIsSelected = [](int i) { return (BOOL)(i >= 0 && i < (int)s_items.size() && s_items[(size_t)i].second); };
        g_ShiftUi.list.pfnSetSelected = [](int i, BOOL f) { s_items[(size_t)i].second = f != FALSE; };
        g_ShiftUi.list.pfnInsert = [](int i, LPCSTR psz) {
            size_t at = i < 0 || i > (int)s_items.size() ? s_items.size() : (size_t)i;
            s_items.insert(s_items.begin() + (long)at, std::make_pair(std::string(psz), false));
        };
        g_ShiftUi.list.pfnDelete = [](int i) { s_items.erase(s_items.begin() + i); };
        g_ShiftUi.list.pfnReset = []() { s_items.clear(); };
        g_ShiftUi.pfnGetItemText = [](int, LPSTR psz) { snprintf(psz, MAX_PATH, "%s", s_base.c_str()); };
        g_pfnShowMessage = [](LPCSTR pszText, LPCSTR pszCaption, UINT uType) {
            g_aShown.push_back(SHOWNMESSAGE{pszText, pszCaption, uType});
            UINT uButtons = uType & MB_TYPEMASK;
            BOOL fRecovery = strstr(pszText, "中断されています") || strstr(pszText, "was cut short");
            return uButtons == MB_YESNO ? (fRecovery ? IDYES : IDNO) : uButtons == MB_YESNOCANCEL ? IDYES : IDOK;
        };
        g_fShiftBusy = 0;
        AVIFileInit();
        memset(&info, 0, sizeof(info));
        // Opened as SetAviFile opens it: loaded, and the user asked about a
        // relocation cut short (OfferRecovery is that step of SetAviFile,
        // which the window's view tests drive whole).
        if (LoadFile(avi)) {
            OfferRecovery(&info);
            DetectRefFiles(&info);
            for (auto &item : s_items) item.second = true;
            if (fDelete) DeleteRefFiles(&info);
            else RelocateRefFiles(&info);
        }
        LoadAvi(&info, FALSE);
        AVIFileExit();
        FreeWorkBuffer();
        FreeRefTable();
    }

    std::string thesis, config, avi;
};

// What each command may do to a scene:
//   'n' succeed, 'p' report problems (status 1), 'r' refuse (status 2):
//       the whole folder as it was;
//   'R' refuse (status 2) after a recovery that may have consumed a note:
//       every file but the AVI and its note as it was;
//   'o' succeed and leave every record naming a file that holds its frame
//       (or, deleting everything, no AVI);
//   '-' succeed.
// The user's own files (home/) survive byte for byte in every case.
struct SCENE {
    const char *pszWhat;
    std::function<void(Hostile *)> make;
    const char *pszExpected;  // refs, verify, move, copy and delete, delete one, delete all
    bool fInFolder = false;   // the commands run from inside the test's folder
};

TEST_F(Hostile, EveryCommandOverTheHostileSet)
{
    std::string take = Path("take.000"), gone = Path("gone.000");
    std::string empty = JoinPath(Path("home"), "empty.txt");
    std::vector<SCENE> scenes = {
        {"a note whose rollback would delete the user's file",
         [&](Hostile *t) {
             t->Recording({take}, FRAMES);
             t->Note(take, t->thesis, 1, 0);
         },
         "ppoo-o"},
        {"a note whose copy is the user's empty file",
         [&](Hostile *t) {
             t->Recording({take}, FRAMES);
             ASSERT_TRUE(WriteText(empty, ""));
             t->Note(take, empty, 1, 0);
         },
         "ppoo-o"},
        {"a note naming the user's file as both old and new",
         [&](Hostile *t) {
             t->Recording({take}, FRAMES, {t->thesis});
             t->Note(t->thesis, t->thesis, 1, 1);
         },
         "pprrrr"},
        {"a note naming the recording's own file as both old and new",
         [&](Hostile *t) {
             t->Recording({take}, FRAMES);
             t->Note(take, take, 1, 1);
         },
         "pprrrr"},
        {"a note that would finish into the user's file",
         [&](Hostile *t) {
             t->Recording({gone}, FRAMES);
             t->Note(gone, t->config, 0, 0);
             DeleteFileA(gone.c_str());
         },
         "pprrrr"},
        {"a note whose old file has the identity of the user's file",
         [&](Hostile *t) {
             t->Recording({gone}, FRAMES);
             DeleteFileA(gone.c_str());
             // The user's file under the new name, the note claiming that
             // it is the old file moved there.
             std::string text = RelocationNoteText(t->config, t->config, 0, 0);
             size_t at = text.find("old=" + t->config + "\n");
             ASSERT_NE(at, std::string::npos);
             text.replace(at, 4 + t->config.size(), "old=" + gone);
             ASSERT_TRUE(WriteText(t->avi + ".relocating", text));
         },
         "pprrrr"},
        {"a dvrs note that would finish into the user's file",
         [&](Hostile *t) {
             t->ForeignAvi(FRAMES, [&](DWORD) { return t->Path("take.dat"); }, [](DWORD) { return (size_t)240; });
             t->Note(t->Path("take.dat"), t->config, 0, 0);
             DeleteFileA(t->Path("take.dat").c_str());
         },
         "pprrrr"},
        {"a dvrs note that would delete the user's file, whose copy the frames name",
         [&](Hostile *t) {
             t->ForeignAvi(FRAMES, [&](DWORD) { return t->Path("take.dat"); }, [](DWORD) { return (size_t)240; });
             ASSERT_TRUE(WriteText(t->Path("take.dat"), THESIS));
             t->Note(t->thesis, t->Path("take.dat"), 1, 1);
         },
         "ppRRRR"},
        {"records naming the user's files", [&](Hostile *t) { t->Recording({take}, FRAMES, {t->thesis, t->config}); },
         "nprr-r"},
        {"foreign frames naming the user's file",
         [&](Hostile *t) {
             t->ForeignAvi(FRAMES, [&](DWORD i) { return i % 2 ? t->thesis : t->Path("take.dat"); },
                           [](DWORD) { return (size_t)240; });
         },
         "nnrrrr"},
        {"one file under two spellings",
         [&](Hostile *t) {
             t->Recording({take}, FRAMES, {}, nullptr, [&](DWORD i, const std::string &file) {
                 return i % 2 ? file : JoinPath(JoinPath(t->dir, "."), "take.000");
             });
         },
         "nnoo-o"},
        {"relative names in the records, from inside the folder",
         [&](Hostile *t) {
             t->Recording({take}, FRAMES, {}, nullptr, [](DWORD, const std::string &) { return std::string("take.000"); });
         },
         "nnrrrr", true},
        {"palette changes among the frames",
         [&](Hostile *t) {
             t->Recording({take, Path("take.001")}, FRAMES, {}, [](AVISPEC *pSpec) {
                 for (size_t at : {5u, 500u, 2000u})
                     pSpec->chunks.insert(pSpec->chunks.begin() + (long)at, Frame("00pc", std::vector<BYTE>(8, 0), 0));
             });
         },
         "nnoo-o"},
        {"frames and sound in rec lists, indexed one stream after another",
         [&](Hostile *t) {
             t->Recording({take, Path("take.001")}, FRAMES, {}, [](AVISPEC *pSpec) {
                 std::vector<AVIFRAME> chunks;
                 for (AVIFRAME &frame : pSpec->chunks) {
                     frame.fInRecList = frame.fRecListStart = true;
                     chunks.push_back(frame);
                     chunks.push_back(Frame("01wb", std::vector<BYTE>(40, 0x22)));
                     chunks.back().fInRecList = true;
                 }
                 pSpec->chunks = chunks;
                 pSpec->fAudioStream = true;
                 pSpec->fIndexByStream = true;
                 pSpec->fIndexRecLists = true;
             });
         },
         "nnoo-o"},
        {"an OpenDML recording of several RIFFs, read through its indexes",
         [&](Hostile *t) {
             t->Recording({take, Path("take.001")}, FRAMES, {}, [](AVISPEC *pSpec) {
                 pSpec->fAudioStream = true;
                 // A sound chunk after every sixth frame.
                 std::vector<AVIFRAME> chunks;
                 for (size_t i = 0; i < pSpec->chunks.size(); i++) {
                     chunks.push_back(std::move(pSpec->chunks[i]));
                     if (i % 6 == 0) chunks.push_back(Frame("01wb", std::vector<BYTE>(64, 1)));
                 }
                 pSpec->chunks = std::move(chunks);
                 pSpec->cbRiffLimit = 150000;
             });
         },
         "nnoo-o"},
        {"an index that lists fewer frames than the header",
         [&](Hostile *t) {
             t->Recording({take}, FRAMES, {}, [](AVISPEC *pSpec) {
                 for (size_t i = 100; i < 110; i++) pSpec->chunks[i].fIndexed = false;
             });
         },
         "pprrrr"},
        {"records that the index leaves out, the header agreeing with the index",
         [&](Hostile *t) {
             t->Recording({take}, FRAMES, {}, [](AVISPEC *pSpec) {
                 for (size_t i = 100; i < 110; i++) pSpec->chunks[i].fIndexed = false;
                 pSpec->dwTotalFrames = pSpec->dwLength = FRAMES - 10;
             });
         },
         "pprrrr"},
        {"an OpenDML recording that goes on in an AVIX RIFF",
         [&](Hostile *t) {
             t->Recording({take}, FRAMES);
             std::vector<BYTE> bytes = ReadBytes(t->avi);
             static const BYTE s_abAvix[] = {'R', 'I', 'F', 'F', 12, 0, 0, 0, 'A', 'V', 'I', 'X',
                                             'J', 'U', 'N', 'K', 0,  0, 0, 0};
             bytes.insert(bytes.end(), s_abAvix, s_abAvix + sizeof(s_abAvix));
             ASSERT_TRUE(WriteBytes(t->avi, bytes.data(), bytes.size()));
         },
         "pprrrr"},
        {"a frame that cannot be read",
         [&](Hostile *t) {
             t->Recording({take}, FRAMES);
             t->SpoilFrame5();
         },
         "rrrrrr"},
        {"a note over a frame that cannot be read",
         [&](Hostile *t) {
             t->Recording({take}, FRAMES);
             t->SpoilFrame5();
             t->Note(take, t->Path("new.000"), 0, 0);
             ASSERT_TRUE(MoveFileA(take.c_str(), t->Path("new.000").c_str()));
         },
         "rrrrrr"},
#ifndef _WIN32
        {"a link among the spellings of a file",
         [&](Hostile *t) {
             ASSERT_EQ(symlink("take.000", t->Path("alias.000").c_str()), 0);
             t->Recording({take}, FRAMES, {}, nullptr, [&](DWORD i, const std::string &file) {
                 return i % 2 ? file : t->Path("alias.000");
             });
         },
         "nnrrrr"},
        {"a link among the spellings of a file, after the file's own name",
         [&](Hostile *t) {
             ASSERT_EQ(symlink("take.000", t->Path("alias.000").c_str()), 0);
             t->Recording({take}, FRAMES, {}, nullptr, [&](DWORD i, const std::string &file) {
                 return i % 2 ? t->Path("alias.000") : file;
             });
         },
         "nnrrrr"},
        {"a reference file that is a relative link",
         [&](Hostile *t) {
             CreateDirectoryA(t->Path("real").c_str(), NULL);
             t->Recording({t->Path("real/take.000")}, FRAMES, {}, nullptr,
                          [&](DWORD, const std::string &) { return t->Path("alias.000"); });
             ASSERT_EQ(symlink("real/take.000", t->Path("alias.000").c_str()), 0);
         },
         "nnrrrr"},
        {"a record naming a FIFO",
         [&](Hostile *t) {
             ASSERT_EQ(mkfifo(JoinPath(t->Path("home"), "pipe").c_str(), 0600), 0);
             t->Recording({take}, FRAMES, {JoinPath(t->Path("home"), "pipe")});
         },
         "pprr-r"},
        {"a line break in a file's name",
         [&](Hostile *t) { t->Recording({t->Path("take\n.000")}, FRAMES); },
         "nnooro"},
#else
        {"one file under the spellings that Windows takes for one",
         [&](Hostile *t) {
             CreateDirectoryA(t->Path("sub").c_str(), NULL);
             const std::vector<std::string> spellings = {
                 take + ".", take + " ", JoinPath(t->Path("sub"), "..\\take.000"), t->dir + "\\\\take.000",
                 "\\\\?\\" + take, JoinPath(JoinPath(t->dir, "."), "TAKE.000")};
             t->Recording({take}, FRAMES, {}, nullptr, [&](DWORD i, const std::string &file) {
                 return i % 7 == 6 ? file : spellings[i % 7];
             });
         },
         "nnoo-o"},
        {"letters whose case Windows ignores beyond ASCII",
         [&](Hostile *t) {
             // Full-width a and A in code page 932.
             std::string lower = t->Path("\x82\x81.000"), upper = t->Path("\x82\x60.000");
             t->Recording({lower}, FRAMES, {}, nullptr,
                          [&](DWORD i, const std::string &file) { return i % 2 ? file : upper; });
         },
         "nnooro"},
        {"records naming devices",
         [&](Hostile *t) { t->Recording({take}, FRAMES, {"COM1", t->Path("AUX.000")}); },
         "pprr-r"},
#endif
    };
    for (const SCENE &scene : scenes) {
        const std::vector<std::vector<std::string>> commands = {
            {"refs", avi},
            {"verify", avi},
            {"move", avi, "--base", Path("moved/cap")},
            {"move", avi, "--base", Path("copy"), "--copy", "--delete-after"},
            {"delete", avi, take},
            {"delete", avi, "--all", "--yes"},
            {"window move"},
            {"window delete"},
        };
        for (size_t c = 0; c < commands.size(); c++) {
            // The window's commands are expected to do what the command
            // line's move and delete --all do.
            char chExpected = scene.pszExpected[c < 6 ? c : c == 6 ? 2 : 5];
            std::string where = std::string(scene.pszWhat) + ": " + commands[c][0] +
                                (commands[c].size() > 2 ? " " + commands[c][2] : "");
            SCOPED_TRACE(where);
            RemoveTree(dir);
            CreateDirectoryA(dir.c_str(), NULL);
            CreateDirectoryA(Path("home").c_str(), NULL);
            CreateDirectoryA(Path("moved").c_str(), NULL);
            WriteSentinels();
            scene.make(this);
            if (HasFatalFailure()) return;
            SNAPSHOT before = Snapshot(), home = Home();
            CHAR szCwd[MAX_PATH] = "";
            if (scene.fInFolder) {
                GetCurrentDirectoryA(sizeof(szCwd), szCwd);
                SetCurrentDirectoryA(dir.c_str());
            }
            int nStatus = 0;
            if (c < 6) {
                RUN run = Run(commands[c]);
                nStatus = run.nStatus;
                if (chExpected == 'r' || chExpected == 'R') {
                    EXPECT_NE(run.err, "") << "says why";
                }
            } else {
                Window(c == 7);
            }
            if (scene.fInFolder) SetCurrentDirectoryA(szCwd);
            EXPECT_TRUE(Home() == home) << "the user's files stay as they were";
            if (c < 6) {
                int nWanted = chExpected == 'p'                       ? SPOOL_PROBLEMS
                              : chExpected == 'r' || chExpected == 'R' ? SPOOL_ERROR
                                                                       : SPOOL_OK;
                EXPECT_EQ(nStatus, nWanted);
            }
            SNAPSHOT after = Snapshot();
            if (chExpected == 'n' || chExpected == 'p' || chExpected == 'r') {
                EXPECT_TRUE(after == before) << "nothing changes";
            } else if (chExpected == 'R') {
                before.erase(avi);
                before.erase(avi + ".relocating");
                after.erase(avi);
                EXPECT_TRUE(after == before) << "nothing but the AVI and its note changes";
            } else if (chExpected == 'o' && FileExists(avi.c_str())) {
                RUN run = Run({"verify", avi});
                EXPECT_EQ(run.nStatus, SPOOL_OK) << run.err << run.out;
            }
            if (HasFailure()) return;
        }
    }
}

#ifndef _WIN32
namespace {

int g_nActs, g_nSwapAt;
std::string g_swappedAt;
std::function<void()> g_swap;
void CountActs(LPCSTR pszPath)
{
    if (++g_nActs != g_nSwapAt || !g_swap) return;
    g_swappedAt = pszPath;
    g_swap();
}

}  // namespace

// Someone who can write a folder on the records' path swaps it for a link
// to the user's folder between a check and an act, at each act of delete
// and move in turn: the user's file is never touched, and the command says
// that it stopped.
TEST_F(Hostile, AFolderSwappedForALinkAtAnyStepTouchesNothingOfTheUsers)
{
    const std::vector<std::vector<std::string>> commands = {
        {"delete", avi, "--all", "--yes"},
        {"move", avi, "--base", Path("moved/cap"), "--copy", "--delete-after"},
        {"move", avi, "--base", Path("moved/cap")},
    };
    for (const auto &command : commands) {
        for (int nSwapAt = 1;; nSwapAt++) {
            std::string where = command[0] + (command.size() > 4 ? " " + command[4] : "") + ", swapped at act " +
                                std::to_string(nSwapAt);
            SCOPED_TRACE(where);
            RemoveTree(dir);
            CreateDirectoryA(dir.c_str(), NULL);
            for (const char *psz : {"rec", "victim", "moved"}) CreateDirectoryA(Path(psz).c_str(), NULL);
            Recording({Path("rec/take.000"), Path("rec/take.001")}, 300);
            // The user's own files of the same names and bytes.
            for (const char *psz : {"take.000", "take.001"})
                CopyBytes(JoinPath(Path("rec"), psz), JoinPath(Path("victim"), psz));
            SNAPSHOT victim;
            SnapshotFolder(Path("victim"), &victim);
            g_nActs = 0;
            g_nSwapAt = nSwapAt;
            g_swappedAt.clear();
            g_swap = [this]() {
                ASSERT_TRUE(MoveFileA(Path("rec").c_str(), Path("aside").c_str()));
                ASSERT_EQ(symlink(Path("victim").c_str(), Path("rec").c_str()), 0);
            };
            g_pfnGateHook = CountActs;
            RUN run = Run(command);
            g_pfnGateHook = NULL;
            g_swap = nullptr;
            SNAPSHOT now;
            SnapshotFolder(Path("victim"), &now);
            EXPECT_TRUE(now == victim) << "the user's files stay as they were";
            if (g_nActs < nSwapAt) {
                // Every act came before the swap: the command is done.
                EXPECT_EQ(run.nStatus, SPOOL_OK) << run.err;
                break;
            }
            // An act on a file in the swapped folder stops there; one
            // elsewhere (the note beside the AVI) goes on.
            if (g_swappedAt.find(Path("rec") + "/") == 0) {
                EXPECT_EQ(run.nStatus, SPOOL_ERROR) << run.err;
                EXPECT_NE(run.err.find("is not the file that was"), std::string::npos) << run.err;
            }
            if (HasFailure()) return;
        }
    }
}
#endif

#ifndef _WIN32
// An AVI reached through a link is the file the link leads to: its note lies
// beside that file, a relocation through one name keeps one through the
// other out, and deleting it with its files deletes it, not the link.
TEST_F(Hostile, AnAviReachedThroughALinkIsTheFileItLeadsTo)
{
    std::string take = Path("take.000"), view = Path("view.avi");
    Recording({take}, 300);
    ASSERT_EQ(symlink("rec.avi", view.c_str()), 0);
    // A relocation cut short, its note beside the AVI itself.
    Note(take, Path("new.000"), 0, 0);
    ASSERT_TRUE(MoveFileA(take.c_str(), Path("new.000").c_str()));
    RUN run = Run({"verify", view});
    EXPECT_EQ(run.nStatus, SPOOL_PROBLEMS);
    EXPECT_NE(run.err.find("spool recover"), std::string::npos) << run.err;
    run = Run({"recover", view});
    EXPECT_EQ(run.nStatus, SPOOL_OK) << run.err;
    EXPECT_FALSE(FileExists((avi + ".relocating").c_str()));
    EXPECT_EQ(Run({"verify", avi}).nStatus, SPOOL_OK);
    // A relocation through the AVI's own name holds its note: none goes
    // through the link meanwhile.
    HANDLE hNote = CreateFileA((avi + ".relocating").c_str(), GENERIC_READ | GENERIC_WRITE, 0, NULL, CREATE_NEW,
                               FILE_ATTRIBUTE_NORMAL, NULL);
    ASSERT_NE(hNote, INVALID_HANDLE_VALUE);
    SNAPSHOT before = Snapshot();
    run = Run({"move", view, "--base", Path("moved/cap")});
    EXPECT_EQ(run.nStatus, SPOOL_ERROR);
    EXPECT_NE(run.err.find("Another program is relocating this AVI's files!"), std::string::npos) << run.err;
    EXPECT_TRUE(Snapshot() == before);
    CloseHandle(hNote);
    DeleteFileA((avi + ".relocating").c_str());
    // Deleted with its files through the link: the AVI goes, the link stays
    // leading nowhere, and no AVI names a file that is gone.
    run = Run({"delete", view, "--all", "--yes"});
    EXPECT_EQ(run.nStatus, SPOOL_OK) << run.err;
    EXPECT_FALSE(FileExists(avi.c_str()));
    EXPECT_FALSE(FileExists(Path("new.000").c_str()));
    FILEFACTS facts;
    LookAtName(view.c_str(), &facts);
    EXPECT_TRUE(facts.fLink);
    EXPECT_EQ(facts.nKind, FILEKIND_MISSING);
}
#endif

#ifndef _WIN32
// refs tells every spelling of a file and why it would not be acted on.
TEST_F(Hostile, RefsTellsTheSpellingsOfAFileAndWhyItWouldNotBeActedOn)
{
    std::string take = Path("take.000"), fifo = JoinPath(Path("home"), "pipe");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    ASSERT_EQ(symlink("take.000", Path("alias.000").c_str()), 0);
    Recording({take}, 30, {fifo}, nullptr, [&](DWORD i, const std::string &file) {
        return i % 6 == 0 ? file : i % 6 == 2 ? Path("alias.000") : JoinPath(JoinPath(dir, "."), "take.000");
    });
    RUN run = Run({"refs", avi, "--json"});
    EXPECT_EQ(run.nStatus, SPOOL_PROBLEMS) << "the FIFO is no file";
    EXPECT_NE(run.out.find("\"names\":[\"<dir>/take.000\",\"<dir>/alias.000\",\"<dir>/./take.000\"],\"refused\":\"link\""),
              std::string::npos)
        << run.out;
    EXPECT_NE(run.out.find("\"names\":[\"<dir>/home/pipe\"],\"refused\":\"not-a-file\""), std::string::npos) << run.out;
}

// A relocation that runs holds its note: another process's recovery of
// the AVI leaves it alone.
TEST_F(Hostile, ARunningRelocationKeepsRecoveryOfAnotherProcessOut)
{
    std::string take = Path("take.000");
    Recording({take}, 200);
    int aiPipe[2];
    ASSERT_EQ(pipe(aiPipe), 0);
    fflush(NULL);
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        // The relocation, stopped in its rewrite.
        static int s_fd;
        s_fd = aiPipe[1];
        memset(&info, 0, sizeof(info));
        if (!LoadFile(avi)) _exit(1);
        SHIFTREQUEST req;
        InitShiftRequest(&req);
        SHIFTRESULT res;
        InitShiftResult(&res);
        RunDetection(&info, &req, &res);
        DWORD k = 0;
        req.piFiles = &k;
        req.nFiles = 1;
        snprintf(req.szNewBase, sizeof(req.szNewBase), "%s", Path("moved/cap").c_str());
        req.pfnProgress = [](void *, int nStep, ULONGLONG, ULONGLONG) {
            if (nStep != STEP_REWRITE) return;
            char ch = 'y';
            if (write(s_fd, &ch, 1) != 1) _exit(1);
            pause();
        };
        RunRelocation(&info, &req, &res);
        _exit(0);
    }
    char ch = 0;
    ASSERT_EQ(read(aiPipe[0], &ch, 1), 1);
    SNAPSHOT before = Snapshot();
    RUN recover = Run({"recover", avi});
    SNAPSHOT after = Snapshot();
    kill(pid, SIGKILL);
    waitpid(pid, NULL, 0);
    close(aiPipe[0]);
    close(aiPipe[1]);
    EXPECT_EQ(recover.nStatus, SPOOL_PROBLEMS);
    EXPECT_NE(recover.err.find("Another program is relocating this AVI's files!"), std::string::npos) << recover.err;
    EXPECT_TRUE(after == before);
    // Killed, its relocation is finished or rolled back.
    EXPECT_EQ(Run({"recover", avi}).nStatus, SPOOL_OK);
    EXPECT_EQ(Run({"verify", avi}).nStatus, SPOOL_OK);
}
#endif

#ifndef _WIN32
// Two names of one file (hard links) are one file: deleting it deletes
// every name the records use.
TEST_F(Hostile, DeletingAFileDeletesEveryNameTheRecordsUse)
{
    std::string take = Path("take.000"), hard = Path("hard.000");
    Recording({take}, 60, {}, nullptr, [&](DWORD i, const std::string &file) { return i % 2 ? file : hard; });
    ASSERT_EQ(link(take.c_str(), hard.c_str()), 0);
    RUN run = Run({"refs", avi});
    EXPECT_NE(run.out.find(", 1 reference files"), std::string::npos) << run.out;
    run = Run({"delete", avi, take});
    EXPECT_EQ(run.nStatus, SPOOL_OK) << run.err;
    EXPECT_FALSE(FileExists(take.c_str()));
    EXPECT_FALSE(FileExists(hard.c_str()));
}
#endif

// salvage writes its AVI through a working file it made itself: a link
// someone put at the working file's name leads nowhere it writes, and the
// AVI that gives the settings is never written over, by any of its names.
TEST_F(Hostile, SalvageWritesOnlyWhatItMadeAndNeverItsOwnSource)
{
    std::string ref = Path("take.000");
    WriteRefFile(ref, 4, 9);
    AVISPEC spec;
    spec.fccHandler = mmioFOURCC('S', 'M', 'P', 'L');
    spec.format = MakeFormat(8, 8, 24, spec.fccHandler);
    spec.dwTotalFrames = spec.dwLength = 1;
    spec.chunks.push_back(Frame("00dc", std::vector<BYTE>(10, 1)));
    std::vector<BYTE> model = BuildAvi(spec);
    ASSERT_TRUE(WriteBytes(Path("model.avi"), model.data(), model.size()));
    std::vector<std::string> sources = {Path("model.avi"), JoinPath(Path("home"), "../model.avi")};
#ifndef _WIN32
    ASSERT_EQ(symlink("model.avi", Path("linked.avi").c_str()), 0);
    sources.push_back(Path("linked.avi"));
#endif
    for (const std::string &out : sources) {
        RUN run = Run({"salvage", ref, "-o", out, "--from", Path("model.avi")});
        EXPECT_EQ(run.nStatus, SPOOL_ERROR) << out;
        EXPECT_NE(run.err.find("is the AVI the settings are taken from"), std::string::npos) << run.err;
        EXPECT_EQ(ReadBytes(Path("model.avi")), model) << out;
    }
#ifndef _WIN32
    // A link planted at the working file's first name, leading into the
    // user's folder, is passed over: nothing is made there, and the AVI is
    // a file of its own.
    std::string planted = JoinPath(Path("home"), "planted");
    ASSERT_EQ(symlink(planted.c_str(), Path("out.avi.~00").c_str()), 0);
    RUN run = Run({"salvage", ref, "-o", Path("out.avi"), "--from", Path("model.avi")});
    EXPECT_EQ(run.nStatus, SPOOL_OK) << run.err;
    EXPECT_FALSE(FileExists(planted.c_str()));
    FILEFACTS facts;
    LookAtName(Path("out.avi").c_str(), &facts);
    EXPECT_EQ(facts.nKind, FILEKIND_FILE);
    EXPECT_FALSE(facts.fLink);
    LookAtName(Path("out.avi.~00").c_str(), &facts);
    EXPECT_TRUE(facts.fLink) << "the planted link stays as it was";
    // An output that is a link is replaced itself: what it leads to stays.
    ASSERT_TRUE(WriteText(JoinPath(Path("home"), "notes.txt"), "the user's notes"));
    ASSERT_EQ(symlink(JoinPath(Path("home"), "notes.txt").c_str(), Path("second.avi").c_str()), 0);
    run = Run({"salvage", ref, "-o", Path("second.avi"), "--from", Path("model.avi")});
    EXPECT_EQ(run.nStatus, SPOOL_OK) << run.err;
    EXPECT_EQ(ReadText(JoinPath(Path("home"), "notes.txt")), "the user's notes");
    LookAtName(Path("second.avi").c_str(), &facts);
    EXPECT_FALSE(facts.fLink);
#endif
}

// Files of a foreign kind of reference are acted on only when the user says
// so: --force on the command line, yes in the window.
TEST_F(Hostile, ForeignFilesAreActedOnOnlyWhenTheUserSaysSo)
{
    std::string take = Path("take.dat");
    ForeignAvi(40, [&](DWORD) { return take; }, [](DWORD) { return (size_t)240; });
    RUN run = Run({"move", avi, "--base", Path("moved/cap")});
    EXPECT_EQ(run.nStatus, SPOOL_ERROR);
    EXPECT_NE(run.err.find("<dir>/take.dat\n"), std::string::npos) << "the question names the file: " << run.err;
    EXPECT_NE(run.err.find("give --force"), std::string::npos) << run.err;
    EXPECT_TRUE(FileExists(take.c_str()));
    run = Run({"move", avi, "--base", Path("moved/cap"), "--force"});
    EXPECT_EQ(run.nStatus, SPOOL_OK) << run.err;
    EXPECT_FALSE(FileExists(take.c_str()));
    EXPECT_EQ(ReadText(JoinPath(Path("moved"), "cap.000")), "a file of the foreign codec");
    run = Run({"delete", avi, "--all", "--yes"});
    EXPECT_EQ(run.nStatus, SPOOL_ERROR);
    EXPECT_TRUE(FileExists(avi.c_str()));
    run = Run({"delete", avi, "--all", "--yes", "--force"});
    EXPECT_EQ(run.nStatus, SPOOL_OK) << run.err;
    EXPECT_FALSE(FileExists(avi.c_str()));
    EXPECT_EQ(ListFolder(Path("moved")), std::vector<std::string>{});
}

// A name that fills its field exactly could be rewritten away but not back:
// the relocation is refused before its first step.
TEST_F(Hostile, ANameThatFillsItsFieldIsNotRelocated)
{
    std::string take = Path("take.dat");
    ForeignAvi(20, [&](DWORD) { return take; }, [&](DWORD i) { return i == 7 ? take.size() : (size_t)240; });
    SNAPSHOT before = Snapshot();
    RUN run = Run({"move", avi, "--base", Path("c"), "--force"});
    EXPECT_EQ(run.nStatus, SPOOL_ERROR);
    EXPECT_NE(run.err.find("could not be undone"), std::string::npos) << run.err;
    EXPECT_TRUE(Snapshot() == before);
}

// Names are compared as the file system compares them. Natively take.000
// and TAKE.000 are two files; on Windows the code page 932 characters ア
// (83 41) and チ (83 61) differ in a trail byte only and are two files too.
TEST_F(Hostile, NamesThatDifferInCaseOrATrailByteAreFilesOfTheirOwn)
{
#ifdef _WIN32
    std::string a = Path("\x83\x41.000"), b = Path("\x83\x61.000");
#else
    std::string a = Path("take.000"), b = Path("TAKE.000");
#endif
    std::vector<std::vector<FRAMEPLACE>> places = {WriteRefFile(a, 600, 1), WriteRefFile(b, 600, 2)};
    AVISPEC spec;
    spec.fccHandler = mmioFOURCC('S', 'M', 'P', 'L');
    spec.format = MakeFormat(8, 8, 24, spec.fccHandler);
    spec.dwTotalFrames = spec.dwLength = 1000;
    for (DWORD i = 0; i < 1000; i++)
        spec.chunks.push_back(Frame("00dc", RecordBytes(i % 2 ? b : a, places[i % 2][i / 2])));
    std::vector<BYTE> bytes = BuildAvi(spec);
    ASSERT_TRUE(WriteBytes(avi, bytes.data(), bytes.size()));
    RUN run = Run({"refs", avi});
    EXPECT_EQ(run.nStatus, SPOOL_OK) << run.err << run.out;
    EXPECT_NE(run.out.find(", 2 reference files"), std::string::npos) << run.out;
    ASSERT_EQ(Run({"resolve", avi, "-o", Path("before.avi")}).nStatus, SPOOL_OK);
    // Moving the one leaves the other's records as they were.
    run = Run({"move", avi, "--base", Path("moved/cap"), b});
    EXPECT_EQ(run.nStatus, SPOOL_OK) << run.err;
    EXPECT_TRUE(FileExists(a.c_str()));
    ASSERT_EQ(Run({"resolve", avi, "-o", Path("after.avi")}).nStatus, SPOOL_OK);
    EXPECT_TRUE(ReadBytes(Path("before.avi")) == ReadBytes(Path("after.avi"))) << "every frame as it was";
    EXPECT_EQ(Run({"verify", avi}).nStatus, SPOOL_OK);
    // Deleting the one deletes that one only.
    run = Run({"delete", avi, a});
    EXPECT_EQ(run.nStatus, SPOOL_OK) << run.err;
    EXPECT_FALSE(FileExists(a.c_str()));
    EXPECT_TRUE(FileExists(JoinPath(Path("moved"), "cap.000").c_str()));
}

// resolve never writes over a file that the records read from, by whatever
// name it is given.
TEST_F(Hostile, ResolveRefusesAnOutputThatIsAReferenceFile)
{
    RecordAvi({"take.000"}, 50);
    std::vector<BYTE> ref = ReadBytes(Path("take.000"));
    std::vector<std::string> outputs = {Path("take.000"), JoinPath(Path("home"), "../take.000")};
#ifndef _WIN32
    ASSERT_EQ(symlink(dir.c_str(), Path("linked").c_str()), 0);
    outputs.push_back(JoinPath(Path("linked"), "take.000"));
    ASSERT_EQ(link(Path("take.000").c_str(), Path("hard.000").c_str()), 0);
    outputs.push_back(Path("hard.000"));
#endif
    for (const std::string &out : outputs) {
        RUN run = Run({"resolve", avi, "-o", out});
        EXPECT_EQ(run.nStatus, SPOOL_ERROR) << out;
        EXPECT_NE(run.err.find("is one of the AVI's reference files"), std::string::npos) << run.err;
        EXPECT_TRUE(ReadBytes(Path("take.000")) == ref) << out;
    }
    EXPECT_EQ(Run({"verify", avi}).nStatus, SPOOL_OK);
}

#ifndef _WIN32
// While a relocation holds its note, no other program recovers it, and no
// other relocation starts.
TEST_F(Hostile, ALiveNoteIsLeftToItsRelocation)
{
    std::string take = Path("take.000");
    Recording({take}, 200);
    Note(take, Path("new.000"), 0, 0);
    ASSERT_TRUE(MoveFileA(take.c_str(), Path("new.000").c_str()));
    int aiPipe[2];
    ASSERT_EQ(pipe(aiPipe), 0);
    fflush(NULL);
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        // The relocation: its note held, without sharing.
        HANDLE h = CreateFileA((avi + ".relocating").c_str(), GENERIC_READ | GENERIC_WRITE, 0, NULL, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL, NULL);
        char ch = h != INVALID_HANDLE_VALUE ? 'y' : 'n';
        if (write(aiPipe[1], &ch, 1) != 1) _exit(1);
        pause();
        _exit(0);
    }
    char ch = 0;
    ASSERT_EQ(read(aiPipe[0], &ch, 1), 1);
    ASSERT_EQ(ch, 'y');
    SNAPSHOT before = Snapshot();
    RUN verify = Run({"verify", avi});
    RUN move = Run({"move", avi, "--base", Path("moved/cap")});
    SNAPSHOT after = Snapshot();
    kill(pid, SIGKILL);
    waitpid(pid, NULL, 0);
    close(aiPipe[0]);
    close(aiPipe[1]);
    EXPECT_EQ(verify.nStatus, SPOOL_PROBLEMS);
    EXPECT_NE(verify.err.find("spool recover"), std::string::npos) << verify.err;
    EXPECT_EQ(move.nStatus, SPOOL_ERROR);
    EXPECT_NE(move.err.find("Another program is relocating this AVI's files!"), std::string::npos) << move.err;
    EXPECT_TRUE(after == before);
    // Its holder gone, the note is recovered.
    RUN run = Run({"recover", avi});
    EXPECT_EQ(run.nStatus, SPOOL_OK) << run.err;
    EXPECT_FALSE(FileExists((avi + ".relocating").c_str()));
}
#endif

}  // namespace
