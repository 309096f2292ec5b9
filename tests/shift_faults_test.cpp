// Relocations and deletions that meet a failing disk, and relocations killed
// at random moments: afterwards, and after the AVI is opened again, every
// record names an existing file holding, at its offset, the very frame it
// held before. Natively only: the faults come from the POSIX stand-in, and
// a second file system (/dev/shm) stands for another drive.
#ifndef _WIN32

#include "tests/mover_fixture.h"

#include "codec/refformat.h"
#include "mover/shift.h"

#include <signal.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>
#include <map>

namespace {

// The operations that fail with an error (lost writes are not among them).
const int FAILING_OPERATIONS = SPOOLFAULT_FLUSH + 1;
const char *const g_apszOperations[FAILING_OPERATIONS] = {"move", "create", "read", "write", "close", "delete", "flush"};

// The reference list, selection included.
struct ITEM {
    std::string text;
    bool fSelected;
};
std::vector<ITEM> g_items;
bool g_fDeleteOld;
std::string g_base;
int g_nAnswer = IDNO;

int Answer(LPCSTR pszText, LPCSTR pszCaption, UINT uType)
{
    g_aShown.push_back(SHOWNMESSAGE{pszText, pszCaption, uType});
    return g_nAnswer;
}

void InstallList()
{
    memset(&g_ShiftUi, 0, sizeof(g_ShiftUi));
    g_ShiftUi.list.pfnGetCount = []() { return (int)g_items.size(); };
    g_ShiftUi.list.pfnGetText = [](int i, LPSTR psz) {
        if (i < 0 || i >= (int)g_items.size()) return FALSE;
        snprintf(psz, MAX_PATH, "%s", g_items[(size_t)i].text.c_str());
        return TRUE;
    };
    g_ShiftUi.list.pfnIsSelected = [](int i) { return (BOOL)(i < (int)g_items.size() && g_items[(size_t)i].fSelected); };
    g_ShiftUi.list.pfnSetSelected = [](int i, BOOL f) { g_items[(size_t)i].fSelected = f != FALSE; };
    g_ShiftUi.list.pfnInsert = [](int i, LPCSTR psz) {
        size_t at = i < 0 || i > (int)g_items.size() ? g_items.size() : (size_t)i;
        g_items.insert(g_items.begin() + (long)at, ITEM{psz, false});
    };
    g_ShiftUi.list.pfnDelete = [](int i) { g_items.erase(g_items.begin() + i); };
    g_ShiftUi.list.pfnReset = []() { g_items.clear(); };
    g_ShiftUi.pfnGetItemText = [](int, LPSTR psz) { snprintf(psz, MAX_PATH, "%s", g_base.c_str()); };
    g_ShiftUi.pfnIsChecked = [](int) { return (BOOL)g_fDeleteOld; };
}

class ShiftFaults : public AviTest {
public:
    void SetUp() override
    {
        AviTest::SetUp();
        InstallList();
        g_pfnShowMessage = Answer;
        char szTemplate[] = "/dev/shm/spshiftXXXXXX";
        const char *pszOther = mkdtemp(szTemplate);
        ASSERT_NE(pszOther, nullptr) << "a second file system at /dev/shm";
        other = pszOther;
    }
    void TearDown() override
    {
        for (int i = 0; i < SPOOLFAULT_COUNT; i++) SpoolArmFault(i, 0);
        AviTest::TearDown();
        RemoveTree(other);
    }

    // Three reference files with distinct frames, an AVI of records that
    // name them in turn, detected (loaded by the name pszAvi, rec.avi or a
    // spelling or link of it), the first and last file selected.
    void MakeScene(DWORD nFrames = 30, const char *pszAvi = NULL)
    {
        LoadAvi(&info, FALSE);
        RemoveTree(dir);
        RemoveTree(other);
        CreateDirectoryA(dir.c_str(), NULL);
        CreateDirectoryA(other.c_str(), NULL);
        CreateDirectoryA(Path("moved").c_str(), NULL);
        frames.clear();
        AVISPEC spec;
        spec.fccHandler = mmioFOURCC('S', 'M', 'P', 'L');
        spec.format = MakeFormat(8, 8, 24, spec.fccHandler);
        spec.dwTotalFrames = spec.dwLength = nFrames;
        std::vector<std::vector<BYTE>> files(3);
        for (DWORD i = 0; i < nFrames; i++) {
            std::string name = Path(("take.00" + std::to_string(i % 3)).c_str());
            std::vector<BYTE> &file = files[i % 3];
            DWORD cbData = 40 + (i * 29) % 300;
            REFFRAMEHEADER header;
            FillFrameHeader(&header, cbData, ComputePadding(cbData, 0), 8, 8);
            REFRECORD rec;
            BuildRefRecord(&rec, 0, FALSE, (DWORD)file.size(), header.dwFrameSize, name.c_str());
            const BYTE *p = reinterpret_cast<const BYTE *>(&header);
            file.insert(file.end(), p, p + sizeof(header));
            std::vector<BYTE> frame(header.dwDataSize + header.dwPadSize);
            for (size_t k = 0; k < frame.size(); k++) frame[k] = (BYTE)(i * 7 + k);
            file.insert(file.end(), frame.begin(), frame.end());
            frames.push_back(frame);
            const BYTE *pRec = reinterpret_cast<const BYTE *>(&rec);
            spec.chunks.push_back(Frame("00dc", std::vector<BYTE>(pRec, pRec + sizeof(rec))));
        }
        for (int f = 0; f < 3; f++)
            ASSERT_TRUE(WriteBytes(Path(("take.00" + std::to_string(f)).c_str()), files[(size_t)f].data(),
                                   files[(size_t)f].size()));
        ASSERT_TRUE(LoadBytes(BuildAvi(spec), "rec.avi"));
        ASSERT_EQ(symlink("rec.avi", Path("view.avi").c_str()), 0);
        if (pszAvi) {
            LoadAvi(&info, FALSE);
            ASSERT_TRUE(LoadFile(Path(pszAvi)));
        }
        g_items.clear();
        g_fShiftBusy = 0;
        DetectRefFiles(&info);
        ASSERT_EQ(g_items.size(), 3u);
        g_items[0].fSelected = g_items[2].fSelected = true;
        g_aShown.clear();
    }

    // Every record names an existing file that holds, at the record's
    // offset, a header of the record's size and the frame's own bytes.
    void CheckNothingLost(const std::string &where)
    {
        DWORD cbScratch = (DWORD)(g_pbWork + g_cbWork - g_pbScratch);
        ASSERT_EQ(info.nFrames, (DWORD)frames.size()) << where;
        for (DWORD i = 0; i < info.nFrames; i++) {
            DWORD cb = 0;
            ASSERT_TRUE(AccessFrameData(&info, g_pbScratch, cbScratch, i, FALSE, &cb)) << where;
            REFRECORD rec;
            memcpy(&rec, g_pbScratch, sizeof(rec));
            std::vector<BYTE> file = ReadBytes(rec.szFileName);
            size_t at = rec.dwOffset;
            ASSERT_GE(file.size(), at + 16 + frames[i].size())
                << where << ": frame " << i << " names " << rec.szFileName << ", which does not hold it";
            DWORD dwFrame;
            memcpy(&dwFrame, &file[at], 4);
            EXPECT_EQ(dwFrame, RefRecordFrameSize(&rec)) << where << ": frame " << i;
            EXPECT_EQ(memcmp(&file[at + 16], frames[i].data(), frames[i].size()), 0) << where << ": frame " << i;
        }
    }

    // Opens the AVI again (by its name, or another spelling or link of it)
    // as the window does, letting a note left behind finish or roll back
    // its relocation.
    void Reopen(const char *pszAvi = "rec.avi")
    {
        LoadAvi(&info, FALSE);
        ASSERT_TRUE(LoadFile(Path(pszAvi)));
        RecoverForTest(&info);
    }

    // Runs a command once for each call of each file operation, that call
    // failing, and checks that nothing was lost.
    // Without a fault, the command's end state is checked by done().
    void Matrix(const char *pszCommand, const std::function<void()> &command, const std::function<void()> &done)
    {
        int nCases = 0;
        for (int nOp = 0; nOp < FAILING_OPERATIONS; nOp++) {
            MakeScene();
            SpoolArmFault(nOp, 0);
            command();
            if (nOp == 0) {
                EXPECT_TRUE(g_aShown.empty()) << pszCommand;
                CheckNothingLost(std::string(pszCommand) + " without a fault");
                done();
            }
            unsigned nCalls = SpoolFaultCalls(nOp);
            for (unsigned n = 1; n <= nCalls; n++) {
                MakeScene();
                SpoolArmFault(nOp, n);
                command();
                SpoolArmFault(nOp, 0);
                std::string where = std::string(pszCommand) + ", " + g_apszOperations[nOp] + " call " + std::to_string(n);
                CheckNothingLost(where + ", the AVI still open");
                Reopen();
                CheckNothingLost(where + ", opened again");
                EXPECT_EQ(ListFolder(dir, "*.relocating"), std::vector<std::string>{}) << where;
                nCases++;
            }
        }
        EXPECT_GT(nCases, 50) << pszCommand;
    }

    std::string other;
    std::vector<std::vector<BYTE>> frames;
};

TEST_F(ShiftFaults, MovesOnOneDriveLoseNothing)
{
    g_base = JoinPath(Path("moved"), "cap");
    Matrix("move", [this]() { RelocateRefFiles(&info); },
           [this]() {
               EXPECT_EQ(ListFolder(dir, "take.*"), std::vector<std::string>{"take.001"});
               EXPECT_EQ(ListFolder(Path("moved")), (std::vector<std::string>{"cap.000", "cap.001"}));
           });
}

TEST_F(ShiftFaults, CopiesToAnotherDriveLoseNothing)
{
    g_base = JoinPath(other, "cap");
    g_fDeleteOld = false;
    Matrix("copy", [this]() { RelocateRefFiles(&info); },
           [this]() {
               EXPECT_EQ(ListFolder(dir, "take.*").size(), 3u) << "the old files stay";
               EXPECT_EQ(ListFolder(other), (std::vector<std::string>{"cap.000", "cap.001"}));
           });
    g_fDeleteOld = true;
    Matrix("copy and delete", [this]() { RelocateRefFiles(&info); },
           [this]() {
               EXPECT_EQ(ListFolder(dir, "take.*"), std::vector<std::string>{"take.001"});
               EXPECT_EQ(ListFolder(other), (std::vector<std::string>{"cap.000", "cap.001"}));
           });
}

TEST_F(ShiftFaults, DeletionsStopAtTheFirstFailure)
{
    // Deleting selected files takes them away on purpose: what must hold is
    // that a failure stops the loop, reports it and leaves the rest.
    g_nAnswer = IDNO;
    for (unsigned n = 1; n <= 2; n++) {
        MakeScene();
        SpoolArmFault(SPOOLFAULT_DELETE, n);
        DeleteRefFiles(&info);
        SpoolArmFault(SPOOLFAULT_DELETE, 0);
        EXPECT_EQ(g_aShown.size(), 2u) << "the question and one failure";
        EXPECT_EQ(ListFolder(dir, "take.*").size(), n == 1 ? 3u : 2u) << n;
        EXPECT_EQ(ListFolder(dir, "rec.avi").size(), 1u);
    }
}

// What a power loss could undo comes before what depends on it: a new file
// and its name reach the disk before the records name it, the records
// before the old file goes, the records before the note is cleared.
TEST_F(ShiftFaults, EachStepReachesTheDiskBeforeTheStepsThatDependOnIt)
{
    auto Events = []() {
        std::vector<std::string> events;
        std::string trace = SpoolFileTrace();
        for (size_t at = 0, end; (end = trace.find('\n', at)) != std::string::npos; at = end + 1)
            events.push_back(trace.substr(at, end - at));
        return events;
    };
    // The first event at or after from that is the text; -1 when none is.
    auto Find = [](const std::vector<std::string> &events, const std::string &text, int from) {
        for (int i = from < 0 ? (int)events.size() : from; i < (int)events.size(); i++)
            if (events[(size_t)i] == text) return i;
        return -1;
    };
    std::string avi = Path("rec.avi"), note = avi + ".relocating";
    struct {
        const char *pszWhat;
        bool fOtherDrive, fDeleteOld;
    } cases[] = {{"moved on one drive", false, false}, {"copied to another drive, the old file deleted", true, true}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.pszWhat);
        MakeScene();
        std::string folder = c.fOtherDrive ? other : Path("moved");
        g_base = JoinPath(folder, "cap");
        g_fDeleteOld = c.fDeleteOld;
        SpoolTraceFiles(TRUE);
        RelocateRefFiles(&info);
        std::vector<std::string> events = Events();
        SpoolTraceFiles(FALSE);
        ASSERT_TRUE(g_aShown.empty());
        int iLastAvi = -1;
        for (int f : {0, 2}) {
            std::string old = Path(("take.00" + std::to_string(f)).c_str());
            std::string made = JoinPath(folder, f == 0 ? "cap.000" : "cap.001");
            int iMade = c.fOtherDrive ? Find(events, "create " + made, 0) : Find(events, "move " + old + " " + made, 0);
            int iNewFolder = Find(events, "flushfolder " + folder, iMade);
            int iAvi = Find(events, "flush " + avi, iMade);
            int iNoteCleared = Find(events, "flush " + note, iAvi);
            ASSERT_GE(iMade, 0) << made;
            EXPECT_GE(iNewFolder, 0) << "the new name reaches the disk";
            EXPECT_LT(iNewFolder, iAvi) << "before the records name it";
            EXPECT_GE(iAvi, 0) << "the records reach the disk";
            EXPECT_GT(iNoteCleared, iAvi) << "before the note is cleared";
            if (c.fDeleteOld) {
                int iDelete = Find(events, "delete " + old, 0);
                EXPECT_GT(iDelete, iAvi) << "the old file goes after the records that name the copy";
                EXPECT_LT(iDelete, iNoteCleared);
            }
            iLastAvi = iAvi;
        }
        EXPECT_GT(Find(events, "delete " + note, 0), iLastAvi);
    }

    // A relocation cut short after its copy: recovery finishes it, and the
    // old file goes, and then the note, only after the records on the disk
    // name the copy.
    MakeScene();
    std::string old = Path("take.000"), copy = JoinPath(other, "cap.000");
    std::vector<BYTE> bytes = ReadBytes(old);
    ASSERT_TRUE(WriteBytes(copy, bytes.data(), bytes.size()));
    WriteRelocationNote(avi, old, copy, 1, 1);
    SpoolTraceFiles(TRUE);
    ASSERT_EQ(RecoverForTest(&info), RECOVER_DONE);
    std::vector<std::string> events = Events();
    SpoolTraceFiles(FALSE);
    int iAvi = Find(events, "flush " + avi, 0);
    EXPECT_GE(iAvi, 0);
    EXPECT_GT(Find(events, "delete " + old, 0), iAvi);
    EXPECT_GT(Find(events, "delete " + note, 0), Find(events, "delete " + old, 0));
    CheckNothingLost("recovered");
}

TEST_F(ShiftFaults, RelocationsKilledAtRandomMomentsLoseNothing)
{
    // A child process relocates the files of a larger AVI and is killed
    // after a random delay; the parent opens the AVI again. SPOOL_KILL_RUNS
    // sets the number of kills (tools/killtest.sh runs 500).
    const char *pszRuns = getenv("SPOOL_KILL_RUNS");
    int nRuns = pszRuns ? atoi(pszRuns) : 40;
    unsigned nSeed = 12345;
    int nKilledMidway = 0;
    // The relocation and its recovery go through the AVI's name, a link to
    // it or another spelling of it: the note is the AVI's whatever the name.
    const char *const apszNames[] = {"rec.avi", "view.avi", "./rec.avi"};
    for (int run = 0; run < nRuns; run++) {
        bool fCopy = run % 2 == 1;
        g_base = fCopy ? JoinPath(other, "cap") : JoinPath(Path("moved"), "cap");
        g_fDeleteOld = run % 4 == 3;
        const char *pszRelocatedAs = apszNames[run % 3], *pszReopenedAs = apszNames[(run / 3) % 3];
        MakeScene(600, pszRelocatedAs);
        // Killed somewhere in the first milliseconds of the relocation.
        nSeed = nSeed * 1103515245u + 12345u;
        useconds_t usDelay = (nSeed >> 8) % 7000;
        fflush(NULL);
        pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            g_pfnShowMessage = [](LPCSTR, LPCSTR, UINT) { return IDOK; };
            RelocateRefFiles(&info);
            _exit(0);
        }
        usleep(usDelay);
        kill(pid, SIGKILL);
        int nStatus = 0;
        waitpid(pid, &nStatus, 0);
        if (WIFSIGNALED(nStatus)) nKilledMidway++;
        std::string where = "run " + std::to_string(run) + (fCopy ? ", copy" : ", move") + " as " + pszRelocatedAs +
                            ", killed after " + std::to_string(usDelay) + " us, reopened as " + pszReopenedAs;
        if (run % 2 == 0 && !ListFolder(dir, "*.relocating").empty()) {
            // The recovery, killed too.
            fflush(NULL);
            pid = fork();
            ASSERT_GE(pid, 0);
            if (pid == 0) {
                g_pfnShowMessage = [](LPCSTR, LPCSTR, UINT) { return IDOK; };
                Reopen(pszReopenedAs);
                _exit(0);
            }
            usleep(usDelay / 4);
            kill(pid, SIGKILL);
            waitpid(pid, NULL, 0);
            where += ", its recovery killed after " + std::to_string(usDelay / 4) + " us";
        }
        Reopen(pszReopenedAs);
        CheckNothingLost(where);
        EXPECT_EQ(ListFolder(dir, "*.relocating"), std::vector<std::string>{}) << where;
        if (HasFailure()) break;
    }
    printf("%d of %d relocations killed before they ended\n", nKilledMidway, nRuns);
    EXPECT_GT(nKilledMidway, nRuns / 4) << "many kills land before the relocation ends";
}

TEST_F(ShiftFaults, DeletionsOfEverythingKilledLeaveNoAviNamingWhatIsGone)
{
    // Killed at any moment, deleting every file and the AVI leaves the AVI
    // naming files that are all there, or no AVI.
    const char *pszRuns = getenv("SPOOL_KILL_RUNS");
    int nRuns = pszRuns ? atoi(pszRuns) / 2 : 20;
    unsigned nSeed = 777;
    for (int run = 0; run < nRuns; run++) {
        MakeScene(600);
        nSeed = nSeed * 1103515245u + 12345u;
        useconds_t usDelay = (nSeed >> 8) % 400;
        fflush(NULL);
        pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            g_pfnShowMessage = [](LPCSTR, LPCSTR, UINT) { return IDYES; };
            DeleteRefFiles(&info);
            _exit(0);
        }
        usleep(usDelay);
        kill(pid, SIGKILL);
        waitpid(pid, NULL, 0);
        std::string where = "run " + std::to_string(run) + ", killed after " + std::to_string(usDelay) + " us";
        if (ListFolder(dir, "rec.avi").empty()) continue;
        Reopen();
        CheckNothingLost(where);
        if (HasFailure()) break;
    }
}

}  // namespace

#endif
