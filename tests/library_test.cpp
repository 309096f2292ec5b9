// spool library, refs --who and clean over trees of AVIs and reference files.
#include "tests/spool_fixture.h"

#include "cli/claims.h"

#include "tests/avibuilder.h"
#include "tests/testutil.h"

#include <gtest/gtest.h>

#include <string.h>

#include <algorithm>

#ifdef _WIN32
#define NULL_DEVICE "NUL"
#else
#define NULL_DEVICE "/dev/null"
#endif
#ifndef _WIN32
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <string>
#include <vector>

namespace {

class Library : public Spool {
public:
    // A library of recordings, each file known by its contents only:
    //   rec/a.avi      names rec/a.000 and rec/a.001
    //   rec/a-copy.bin the same records (a salvaged copy): shares both
    //   rec/b.avi      names rec/b.000, and rec/b.001 which is gone
    //   old/x.000      a reference file that no AVI names
    //   old/notes.txt  a reference file too, by its contents
    //   old/user.dat   a user's file whose first bytes add up as a frame header
    //   old/bad.avi    an AVI that cannot be read
    void MakeLibrary()
    {
        for (const char *pszFolder : {"rec", "old"}) CreateDirectoryA(Path(pszFolder).c_str(), NULL);
        std::vector<BYTE> a = BuildRecordAvi({Path("rec/a.000"), Path("rec/a.001")}, 6, mmioFOURCC('S', 'M', 'P', 'L'));
        ASSERT_TRUE(WriteBytes(Path("rec/a.avi"), a.data(), a.size()));
        ASSERT_TRUE(WriteBytes(Path("rec/a-copy.bin"), a.data(), a.size()));
        std::vector<BYTE> b = BuildRecordAvi({Path("rec/b.000"), Path("rec/b.001")}, 4, mmioFOURCC('S', 'M', 'P', 'L'));
        ASSERT_TRUE(WriteBytes(Path("rec/b.avi"), b.data(), b.size()));
        ASSERT_TRUE(DeleteFileA(Path("rec/b.001").c_str()));
        WriteRefFile(Path("old/x.000"), 3, 7);
        WriteRefFile(Path("old/notes.txt"), 2, 8);
        WriteRefFile(Path("old/user.dat"), 2, 9);
        std::vector<BYTE> junk(100, 0xEE);
        std::vector<BYTE> user = ReadBytes(Path("old/user.dat"));
        user.insert(user.end(), junk.begin(), junk.end());
        ASSERT_TRUE(WriteBytes(Path("old/user.dat"), user.data(), user.size()));
        std::vector<BYTE> bad = {'R', 'I', 'F', 'F', 100, 0, 0, 0, 'A', 'V', 'I', ' ', 'j', 'u', 'n', 'k'};
        ASSERT_TRUE(WriteBytes(Path("old/bad.avi"), bad.data(), bad.size()));
    }
    bool Exists(const char *pszName) { return GetFileAttributesA(Path(pszName).c_str()) != INVALID_FILE_ATTRIBUTES; }
};

// Every AVI with its files and whether each is there, by contents, not by
// extension; the files that no AVI names; the files that two AVIs share;
// the AVI that cannot be read.
TEST_F(Library, ListsAvisTheirFilesTheUnusedAndTheShared)
{
    MakeLibrary();
    RUN run = Run({"library", Path("rec"), Path("old")});
    EXPECT_EQ(run.nStatus, SPOOL_PROBLEMS) << run.err;
    struct {
        const char *pszText;
        bool fThere;
    } aLines[] = {
        {"<dir>/rec/a-copy.bin: 2 reference files\n  there    <dir>/rec/a.000\n  there    <dir>/rec/a.001\n"
         "<dir>/rec/a.avi: 2 reference files\n", true},
        {"<dir>/rec/b.avi: 2 reference files\n  there    <dir>/rec/b.000\n  missing  <dir>/rec/b.001\n", true},
        {"<dir>/old/bad.avi: cannot be read\n", true},
        {"newest first: 3 files", false},  // only the three reference files of old/ are unused
        {"<dir>/old/x.000\n", true},
        {"<dir>/old/notes.txt\n", true},
        {"<dir>/old/user.dat\n", true},
        {"Reference files that more than one AVI names:\n  <dir>/rec/a.000\n", true},
        {"<dir>/rec/b.000\n    ", false},  // named by one AVI
    };
    for (const auto &line : aLines)
        EXPECT_EQ(run.out.find(line.pszText) != std::string::npos, line.fThere) << line.pszText << "\n" << run.out;
    EXPECT_NE(run.out.find("names, newest first: 3, "), std::string::npos) << run.out;

    // --verify checks every record as verify does.
    run = Run({"library", Path("rec"), "--verify"});
    EXPECT_NE(run.out.find("<dir>/rec/b.avi: 2 reference files, 4 records: 2 good, 2 bad\n"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("<dir>/rec/a.avi: 2 reference files, 6 records: 6 good, 0 bad\n"), std::string::npos) << run.out;

    run = Run({"library", Path("rec"), Path("old"), "--json", "--verify"});
    EXPECT_NE(run.out.find("\"verify\":{\"status\":1,\"records\":4,\"good\":2,\"bad\":2}"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("{\"path\":\"<dir>/old/bad.avi\",\"read\":\"failed\""), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("\"shared\":[\n {\"path\":\"<dir>/rec/a.00"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("\"exists\":false"), std::string::npos) << run.out;
}

// refs --who: the AVIs that name the file itself, whatever the spelling.
TEST_F(Library, WhoNamesAFileFindsEveryAviThatNamesIt)
{
    MakeLibrary();
    RUN run = Run({"refs", "--who", Path("rec/../rec/a.001"), Path("")});
    EXPECT_EQ(std::count(run.out.begin(), run.out.end(), '\n'), 2) << run.out;
    EXPECT_NE(run.out.find("<dir>/rec/a.avi\n"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("<dir>/rec/a-copy.bin\n"), std::string::npos) << run.out;
    EXPECT_EQ(run.out.find("b.avi"), std::string::npos) << run.out;
    // The AVI that cannot be read may name it too: said, and status 1.
    EXPECT_EQ(run.nStatus, SPOOL_PROBLEMS);
    EXPECT_NE(run.err.find("bad.avi cannot be read"), std::string::npos) << run.err;
    EXPECT_EQ(Run({"refs", "--who", Path("old/x.000"), Path("rec")}).out, "");
}

// clean --unused lists without --yes; with it, deletes only what is a
// reference file from its start to its end and named by no AVI, and
// nothing at all while an AVI of the trees cannot be read.
TEST_F(Library, CleanDeletesOnlyWholeReferenceFilesThatNoAviNames)
{
    MakeLibrary();
    RUN run = Run({"clean", Path(""), "--unused"});
    EXPECT_EQ(run.nStatus, SPOOL_OK) << run.err;
    EXPECT_NE(run.out.find("3 unused reference files"), std::string::npos) << run.out;
    EXPECT_TRUE(Exists("old/x.000") && Exists("old/notes.txt") && Exists("old/user.dat"));

    run = Run({"clean", Path(""), "--unused", "--yes"});
    EXPECT_EQ(run.nStatus, SPOOL_PROBLEMS);
    EXPECT_NE(run.err.find("nothing was deleted"), std::string::npos) << run.err;
    EXPECT_TRUE(Exists("old/x.000") && Exists("old/notes.txt") && Exists("old/user.dat"));

    ASSERT_TRUE(DeleteFileA(Path("old/bad.avi").c_str()));
    run = Run({"clean", Path(""), "--unused", "--yes", "--older", "1"});
    EXPECT_NE(run.out.find("0 unused reference files deleted"), std::string::npos) << run.out << run.err;
    EXPECT_TRUE(Exists("old/x.000"));
    run = Run({"clean", Path(""), "--unused", "--yes"});
    EXPECT_EQ(run.nStatus, SPOOL_PROBLEMS);
    EXPECT_NE(run.out.find("deleted: <dir>/old/x.000"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("deleted: <dir>/old/notes.txt"), std::string::npos) << run.out;
    EXPECT_NE(run.err.find("<dir>/old/user.dat was left: its frames do not run whole"), std::string::npos) << run.err;
    EXPECT_FALSE(Exists("old/x.000") || Exists("old/notes.txt"));
    // Every file that an AVI names stays, shared or not; the user's file too.
    for (const char *pszName : {"rec/a.000", "rec/a.001", "rec/b.000", "rec/a.avi", "rec/a-copy.bin", "rec/b.avi", "old/user.dat"})
        EXPECT_TRUE(Exists(pszName)) << pszName;
}

// clean --yes deletes nothing on the say of an AVI it could not read whole,
// and keeps a file whose name an AVI gives where no file is (the trees
// moved, a --map left out).
TEST_F(Library, CleanKeepsWhatAnAviMayNameAfterAll)
{
    struct {
        const char *pszWhat;
        bool fPartial;  // else: an AVI names old/x.000's name elsewhere
    } aCases[] = {{"an AVI read in part", true}, {"a name whose file is elsewhere", false}};
    for (const auto &c : aCases) {
        SCOPED_TRACE(c.pszWhat);
        MakeLibrary();
        ASSERT_TRUE(DeleteFileA(Path("old/bad.avi").c_str()));
        if (c.fPartial) {
            // Its header counts more frames than its index lists.
            AVISPEC spec;
            spec.fccHandler = mmioFOURCC('S', 'M', 'P', 'L');
            spec.format = MakeFormat(8, 8, 24, spec.fccHandler);
            std::vector<FRAMEPLACE> places = WriteRefFile(Path("rec/p.000"), 2, 5);
            for (const FRAMEPLACE &place : places) spec.chunks.push_back(Frame("00dc", RecordBytes(Path("rec/p.000"), place)));
            spec.dwTotalFrames = spec.dwLength = 40;
            std::vector<BYTE> bytes = BuildAvi(spec);
            ASSERT_TRUE(WriteBytes(Path("rec/p.avi"), bytes.data(), bytes.size()));
        } else {
            std::vector<BYTE> bytes = BuildRecordAvi({Path("gone/x.000")}, 2, mmioFOURCC('S', 'M', 'P', 'L'));
            ASSERT_TRUE(WriteBytes(Path("rec/elsewhere.avi"), bytes.data(), bytes.size()));
        }
        RUN run = Run({"clean", Path(""), "--unused", "--yes"});
        EXPECT_EQ(run.nStatus, SPOOL_PROBLEMS) << run.out;
        EXPECT_TRUE(Exists("old/x.000")) << run.out << run.err;
        if (!c.fPartial) {
            EXPECT_NE(run.err.find("<dir>/old/x.000 was left: an AVI names a file of this name"), std::string::npos) << run.err;
            EXPECT_FALSE(Exists("old/notes.txt"));
        }
        RemoveTree(dir);
        CreateDirectoryA(dir.c_str(), NULL);
    }
}

// delete --all keeps the files that another AVI beside them names too,
// says which and by which AVI, and deletes them only with --force.
TEST_F(Library, DeleteAllKeepsTheFilesThatAnotherAviNames)
{
    MakeLibrary();
    RUN run = Run({"delete", Path("rec/a.avi"), "--all", "--yes"});
    EXPECT_EQ(run.nStatus, SPOOL_PROBLEMS) << run.err;
    EXPECT_NE(run.err.find("<dir>/rec/a.000 (<dir>/rec/a-copy.bin)\n"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("they are kept (--force deletes them)"), std::string::npos) << run.err;
    EXPECT_FALSE(Exists("rec/a.avi"));
    EXPECT_TRUE(Exists("rec/a.000") && Exists("rec/a.001"));
    // Nothing else names b.000: it goes with its AVI.
    run = Run({"delete", Path("rec/b.avi"), "--all", "--yes"});
    EXPECT_EQ(run.nStatus, SPOOL_OK) << run.err;
    EXPECT_FALSE(Exists("rec/b.avi") || Exists("rec/b.000"));
    // An AVI beside them that cannot be read may name them: kept.
    std::vector<BYTE> bad = {'R', 'I', 'F', 'F', 100, 0, 0, 0, 'A', 'V', 'I', ' ', 'j', 'u', 'n', 'k'};
    ASSERT_TRUE(WriteBytes(Path("rec/broken.avi"), bad.data(), bad.size()));
    std::vector<BYTE> c = BuildRecordAvi({Path("rec/c.000")}, 2, mmioFOURCC('S', 'M', 'P', 'L'));
    ASSERT_TRUE(WriteBytes(Path("rec/c.avi"), c.data(), c.size()));
    run = Run({"delete", Path("rec/c.avi"), "--all", "--yes"});
    EXPECT_EQ(run.nStatus, SPOOL_PROBLEMS) << run.err;
    EXPECT_NE(run.err.find("<dir>/rec/c.000 (<dir>/rec/broken.avi)"), std::string::npos) << run.err;
    EXPECT_TRUE(Exists("rec/c.000"));
    ASSERT_TRUE(DeleteFileA(Path("rec/broken.avi").c_str()));
    // The copy is deleted with --force, and then nothing names the files.
    std::vector<BYTE> copy = ReadBytes(Path("rec/a-copy.bin"));
    ASSERT_TRUE(WriteBytes(Path("rec/a.avi"), copy.data(), copy.size()));
    run = Run({"delete", Path("rec/a.avi"), "--all", "--yes", "--force"});
    EXPECT_EQ(run.nStatus, SPOOL_OK) << run.err;
    EXPECT_FALSE(Exists("rec/a.000") || Exists("rec/a.001"));
    EXPECT_TRUE(Exists("rec/a-copy.bin"));
}

// verify -r and resolve -r: every AVI of the trees, by its contents, in
// turn; a summary; the exit status of the worst. resolve keeps the tree's
// shape under the output folder.
TEST_F(Library, VerifyAndResolveATreeReportTheWorst)
{
    MakeLibrary();
    RUN run = Run({"verify", "-r", Path("rec"), Path("old")});
    EXPECT_EQ(run.nStatus, SPOOL_ERROR) << run.out << run.err;
    EXPECT_NE(run.out.find("<dir>/rec/a-copy.bin: 6 frames, 6 records, 6 good, 0 bad"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("<dir>/rec/b.avi: 4 frames, 4 records, 2 good, 2 bad"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("4 AVIs: 2 good, 1 with problems, 1 failed\n"), std::string::npos) << run.out;
    ASSERT_TRUE(DeleteFileA(Path("old/bad.avi").c_str()));
    EXPECT_EQ(Run({"verify", "-r", Path("rec")}).nStatus, SPOOL_PROBLEMS);
    EXPECT_EQ(Run({"verify", "--recursive", Path("old")}).out, "0 AVIs: 0 good, 0 with problems, 0 failed\n");

    CreateDirectoryA(Path("rec/sub").c_str(), NULL);
    ASSERT_TRUE(MoveFileA(Path("rec/a.avi").c_str(), Path("rec/sub/a.avi").c_str()));
    run = Run({"resolve", "-r", Path("rec"), "-o", Path("out")});
    EXPECT_EQ(run.nStatus, SPOOL_ERROR) << run.out << run.err;  // b.avi names a file that is gone
    EXPECT_NE(run.out.find("3 AVIs: 2 good, 0 with problems, 1 failed\n"), std::string::npos) << run.out;
    EXPECT_TRUE(Exists("out/sub/a.avi") && Exists("out/a-copy.bin"));
    // The resolved AVIs hold their frames: no record is left in them.
    run = Run({"verify", Path("out/sub/a.avi")});
    EXPECT_NE(run.out.find("6 frames, 0 records"), std::string::npos) << run.out;
}

// --jobs N runs each AVI's command in a process of its own, N at a time:
// the same lines in the same order and the same status as one at a time,
// names with blanks passed whole.
TEST_F(Library, JobsGiveWhatOneAtATimeGives)
{
    MakeLibrary();
    CreateDirectoryA(Path("my recs").c_str(), NULL);
    std::vector<BYTE> a = ReadBytes(Path("rec/a.avi"));
    ASSERT_TRUE(WriteBytes(Path("my recs/a copy.avi"), a.data(), a.size()));
    RUN one = Run({"verify", "-r", Path("rec"), Path("old"), Path("my recs"), "--jobs", "1"});
    EXPECT_EQ(one.nStatus, SPOOL_ERROR);
    for (const char *pszJobs : {"2", "4"}) {
        RUN run = Run({"verify", "-r", Path("rec"), Path("old"), Path("my recs"), "--jobs", pszJobs});
        EXPECT_EQ(run.nStatus, one.nStatus) << pszJobs;
        EXPECT_EQ(run.out, one.out) << pszJobs;
    }
    ASSERT_TRUE(DeleteFileA(Path("rec/b.avi").c_str()));
    RUN run = Run({"resolve", "-r", Path("rec"), Path("my recs"), "-o", Path("out"), "--jobs", "2"});
    EXPECT_EQ(run.nStatus, SPOOL_OK) << run.out << run.err;
    EXPECT_NE(run.out.find("3 AVIs: 3 good, 0 with problems, 0 failed"), std::string::npos) << run.out;
    EXPECT_TRUE(Exists("out/rec/a.avi") && Exists("out/my recs/a copy.avi"));
    EXPECT_EQ(ReadBytes(Path("out/rec/a.avi")), ReadBytes(Path("out/my recs/a copy.avi")));
    // A program that cannot be started: each AVI fails, said so.
    SetEnvironment("SPOOL_PROGRAM", Path("nothing").c_str());
    run = Run({"verify", "-r", Path("rec"), "--jobs", "2"});
    EXPECT_EQ(run.nStatus, SPOOL_ERROR);
    EXPECT_NE(run.err.find("cannot be started"), std::string::npos) << run.err;
}

// The lines of a text, sorted: messages of several processes come in the
// order they end.
std::vector<std::string> SortedLines(const std::string &text)
{
    std::vector<std::string> lines;
    size_t at = 0;
    for (size_t end; (end = text.find('\n', at)) != std::string::npos; at = end + 1) lines.push_back(text.substr(at, end - at));
    if (at < text.size()) lines.push_back(text.substr(at));
    std::sort(lines.begin(), lines.end());
    return lines;
}

// With --jobs N the files are shared among this process and N-1 children,
// each telling its files' kinds and reading its AVIs: the listing, its
// JSON, verify's counts, the unused files and the AVIs that name a file
// are those of one process, names with blanks passed whole.
TEST_F(Library, PartsGiveWhatOneProcessGives)
{
    MakeLibrary();
    CreateDirectoryA(Path("my recs").c_str(), NULL);
    std::vector<BYTE> a = ReadBytes(Path("rec/a.avi"));
    ASSERT_TRUE(WriteBytes(Path("my recs/a copy.avi"), a.data(), a.size()));
    std::vector<BYTE> c = BuildRecordAvi({Path("my recs/c 1.000")}, 5, mmioFOURCC('S', 'M', 'P', 'L'));
    ASSERT_TRUE(WriteBytes(Path("my recs/c.avi"), c.data(), c.size()));
    // Two AVIs (one for each of two parts) naming a file in code page 932
    // ("録画.000"): each part reads the names in the code page of the run.
    CreateDirectoryA(Path("jp").c_str(), NULL);
    std::vector<BYTE> jp = BuildRecordAvi({Path("jp/\x98\x5e\x89\xe6.000")}, 3, mmioFOURCC('S', 'M', 'P', 'L'));
    ASSERT_TRUE(WriteBytes(Path("jp/one.avi"), jp.data(), jp.size()));
    ASSERT_TRUE(WriteBytes(Path("jp/two.avi"), jp.data(), jp.size()));
    const std::vector<std::vector<std::string>> aCommands = {
        {"library", Path("jp"), "--names", "1252"},
        {"library", Path("jp"), "--json"},
        {"library", Path("rec"), "--map", Path("rec") + "=" + Path("old")},  // the files named are not there
        {"library", Path("rec"), Path("old"), Path("my recs")},
        {"library", Path("rec"), Path("old"), Path("my recs"), "--json", "--verify"},
        {"library", Path("rec"), Path("my recs"), "--verify"},
        {"library", Path("rec"), Path("rec"), Path("")},  // each file reached twice
        {"clean", Path("old"), Path("rec"), "--unused"},
        {"refs", "--who", Path("rec/a.000"), Path("")},
    };
    for (const auto &command : aCommands) {
        std::vector<std::string> args = command;
        args.insert(args.end(), {"--jobs", "1"});
        RUN one = Run(args);
        EXPECT_NE(one.out, "");
        for (const char *pszJobs : {"2", "3"}) {
            args.back() = pszJobs;
            // Each child's lines are taken.
            DWORD nTaken = g_nLibraryPartsTaken;
            RUN run = Run(args);
            EXPECT_EQ(g_nLibraryPartsTaken - nTaken, (DWORD)atoi(pszJobs) - 1) << command[0] << " " << command.back();
            EXPECT_EQ(run.nStatus, one.nStatus) << command[0] << " " << command.back() << " --jobs " << pszJobs;
            EXPECT_EQ(run.out, one.out) << command[0] << " " << command.back() << " --jobs " << pszJobs;
            EXPECT_EQ(SortedLines(run.err), SortedLines(one.err)) << run.err << "\n---\n" << one.err;
        }
    }
}

// A child that cannot start, fails, or says what does not hold leaves its
// files to this process: the listing is the same and nothing is said of
// it. A child whose every line holds is taken at its word (its files said
// to be no AVIs): its output is what the listing is made of.
TEST_F(Library, PartsThatFailAreReadHere)
{
    MakeLibrary();
    const std::vector<std::string> args = {"library", Path("rec"), Path("old"), "--jobs", "2"};
    RUN one = Run({"library", Path("rec"), Path("old"), "--jobs", "1"});
    SetEnvironment("SPOOL_PROGRAM", Path("nothing").c_str());
    RUN run = Run(args);
    EXPECT_EQ(run.nStatus, one.nStatus);
    EXPECT_EQ(run.out, one.out);
    EXPECT_EQ(run.err, one.err);
#ifndef _WIN32
    // Children that are shell scripts: each reads its own files from its
    // list ("FILE HEXPATH" lines up to the pool's line) and writes lines
    // of its own for each FILE, claiming none of the pool, each row one
    // fault away from the first ($3: the format that --part asks for).
    std::string zeros;
    for (int k = 0; k < 4 + VERIFY_CHECKS; k++) zeros += " 0";  // FRAMES RECORDS OTHER BAD CHECKS...
    // The line of a file that is no AVI, and the end of a list whose every
    // file was said.
    const std::string said = "echo \"file $f 0 0 0 0" + zeros + " 0\"", end = "echo \"end $n $3\"";
    struct {
        const char *pszWhat;
        std::string body;  // run for each FILE of the list
        std::string end;
        bool fTaken;
    } aChildren[] = {
        {"every line holds", said, end, true},
        {"no end", said, "", false},
        {"a wrong count at the end", said, "echo \"end 99 $3\"", false},
        {"one file left out, the end counting what was said",
         "if [ $first = 1 ]; then first=0; else " + said + "; fi", "echo \"end $((n-1)) $3\"",
         false},
        {"another format", said, "echo \"end $n format-0\"", false},
        {"names after the last file", said,
         "echo \"name x41 x41 1 1 1 2 3 4\"; " + end, false},
        {"its second file said in place of its first",
         "if [ $first = 1 ]; then first=0; f=$(echo $own | cut -d' ' -f2); fi; " + said, end, false},
        {"each file twice", said + "; " + said,
         end, false},
        {"another part's file in place of its first",
         "if [ $first = 1 ]; then first=0; f=$other; fi; " + said, end,
         false},
        {"a kind that is none", "echo \"file $f 9 0 0 0" + zeros + " 0\"", end, false},
        {"a number past its field's", "echo \"name x41 x41 5 1 1 2 3 4\"; echo \"file $f 1 0 0 0" + zeros + " 1\"",
         end, false},
        {"names no AVI can have", "echo \"name x41 x41 1 1 1 2 3 4\"; echo \"file $f 0 0 0 0" + zeros + " 1\"",
         end, false},
        {"a name holding a NUL", "echo \"name x4100 x41 1 1 1 2 3 4\"; echo \"file $f 1 0 0 0" + zeros + " 1\"",
         end, false},
        {"a line after the end", said, end + "; echo more", false},
        {"an unended line after the end", said, end + "; printf more", false},
        {"a failure", said, end + "; exit 2", false},
    };
    for (const auto &child : aChildren) {
        // $other: the first file of the trees that is not in its list.
        std::string script = "#!/bin/sh\nown=\nn=0\nwhile read f p; do [ $f = pool ] && break; own=\"$own $f\"; n=$((n+1)); done\n"
                             "other=0\nwhile case \" $own \" in *\" $other \"*) true;; *) false;; esac; do other=$((other+1)); done\n"
                             "first=1\nfor f in $own; do " +
                             child.body + "; done\n" + child.end + "\n";
        std::string path = Path("child.sh");
        ASSERT_TRUE(WriteBytes(path, (const BYTE *)script.data(), script.size()));
        ASSERT_EQ(chmod(path.c_str(), 0755), 0);
        SetEnvironment("SPOOL_PROGRAM", path.c_str());
        DWORD nTaken = g_nLibraryPartsTaken;
        run = Run(args);
        EXPECT_EQ(g_nLibraryPartsTaken - nTaken, child.fTaken ? 1u : 0u) << child.pszWhat;
        EXPECT_EQ(run.out == one.out, !child.fTaken) << child.pszWhat << "\n" << run.out;
        if (child.fTaken) {
            // Some AVIs are missing from the listing: the child said so.
            EXPECT_LT(std::count(run.out.begin(), run.out.end(), '\n'), std::count(one.out.begin(), one.out.end(), '\n'));
        } else {
            EXPECT_EQ(run.nStatus, one.nStatus) << child.pszWhat;
            EXPECT_EQ(run.err, one.err) << child.pszWhat;
        }
    }
#endif
}

// Processes that share a pool claim its units through one file: the first
// claim of a unit makes it its part's, whatever comes after; a file that
// holds what is no claim of a unit of the pool stops the claiming.
TEST_F(Library, TheFirstClaimOfAUnitHolds)
{
    const std::string path = Path("claims");
    struct {
        const char *pszWhat;
        std::string before;                // in the file before the parts claim
        std::vector<DWORD> aFirst, aSecond;  // the units each of two parts gets, claiming in turn
        bool fFailed;
    } aRows[] = {
        {"an empty file", "", {0, 2, 4}, {1, 3, 5}, false},
        {"units 1 and 2 claimed by a third part, and 2 again by the first",
         "c02000000000001\nc02000000000002\nc00000000000002\n", {0, 4}, {3, 5}, false},
        {"a piece of a claim at the end", "c02000000000001\nc02", {}, {}, true},
        {"a claim of a unit past the pool's", "c02000000000006\n", {}, {}, true},
        {"a claim that is none", "x02000000000001\n", {}, {}, true},
        {"a part that is no number", "c0x000000000001\n", {}, {}, true},
    };
    for (const auto &row : aRows) {
        ASSERT_TRUE(WriteBytes(path, (const BYTE *)row.before.data(), row.before.size()));
        FILEFACTS facts;
        LookAtName(path.c_str(), &facts);
        CLAIMS a, b;
        ASSERT_TRUE(OpenClaims(&a, path.c_str(), &facts.id, 6, 0)) << row.pszWhat;
        ASSERT_TRUE(OpenClaims(&b, path.c_str(), &facts.id, 6, 1)) << row.pszWhat;
        std::vector<DWORD> aGot[2];
        for (bool fMore = true; fMore;) {
            fMore = false;
            CLAIMS *apClaims[2] = {&a, &b};
            for (int k = 0; k < 2; k++) {
                DWORD iUnit = 0;
                if (ClaimNextUnit(apClaims[k], &iUnit)) {
                    aGot[k].push_back(iUnit);
                    fMore = true;
                }
            }
        }
        EXPECT_EQ(aGot[0], row.aFirst) << row.pszWhat;
        EXPECT_EQ(aGot[1], row.aSecond) << row.pszWhat;
        EXPECT_EQ(a.fFailed != 0, row.fFailed) << row.pszWhat;
        EXPECT_EQ(b.fFailed != 0, row.fFailed) << row.pszWhat;
        // Each part knows every unit's part in the end.
        for (DWORD u = 0; u < 6 && !row.fFailed; u++) {
            BYTE bOwner = std::count(aGot[0].begin(), aGot[0].end(), u) ? 0 : std::count(aGot[1].begin(), aGot[1].end(), u) ? 1 : 2;
            EXPECT_EQ(a.abOwner[u], bOwner) << row.pszWhat << " unit " << u;
            EXPECT_EQ(b.abOwner[u], bOwner) << row.pszWhat << " unit " << u;
        }
        CloseClaims(&a);
        CloseClaims(&b);
    }
    // A claims file is opened only when it is the file of that identity.
    FILEFACTS facts;
    LookAtName(path.c_str(), &facts);
    facts.id.dwIndexLow ^= 1;
    CLAIMS c;
    EXPECT_FALSE(OpenClaims(&c, path.c_str(), &facts.id, 6, 0));
    // An unfinished claim at the end is waited for, and taken once whole.
    ASSERT_TRUE(WriteBytes(path, (const BYTE *)"c01000000000003\nc01", 19));
    LookAtName(path.c_str(), &facts);
    ASSERT_TRUE(OpenClaims(&c, path.c_str(), &facts.id, 6, 0));
    EXPECT_TRUE(ReadClaims(&c));
    EXPECT_EQ(c.abOwner[3], 1);
    EXPECT_EQ(c.ullRead, 16u);
    FILE *pFile = fopen(path.c_str(), "ab");
    ASSERT_TRUE(pFile);
    fputs("000000000004\n", pFile);
    fclose(pFile);
    EXPECT_TRUE(ReadClaims(&c));
    EXPECT_EQ(c.abOwner[4], 1);
    EXPECT_EQ(c.ullRead, 32u);
    CloseClaims(&c);
}

// A child reads its own files, then claims the units of the pool that no
// part has claimed, one by one, and reads theirs: its lines say exactly
// those files, in that order, and its claims are in the file.
TEST_F(Library, AChildReadsItsOwnFilesThenTheUnitsItClaims)
{
    MakeLibrary();
    const std::string claims = Path("claims");
    const std::string before = "c00000000000000\nc00000000000002\n";  // units 0 and 2: another part's
    ASSERT_TRUE(WriteBytes(claims, (const BYTE *)before.data(), before.size()));
    auto Hex = [](const std::string &text) {
        std::string hex = "x";
        char sz[3];
        for (unsigned char c : text) {
            snprintf(sz, sizeof(sz), "%02x", c);
            hex += sz;
        }
        return hex;
    };
    // The pool's units 0 to 4, in a list of their own.
    std::string pool;
    const struct {
        int iFile, iUnit;
        const char *pszName;
    } aPool[] = {{200, 0, "old/x.000"}, {201, 1, "rec/b.avi"}, {202, 2, "old/notes.txt"},
                 {203, 3, "rec/a.000"}, {204, 3, "old/user.dat"}, {205, 4, "old/bad.avi"}};
    for (const auto &file : aPool)
        pool += std::to_string(file.iFile) + " " + std::to_string(file.iUnit) + " " + Hex(Path(file.pszName)) + "\n";
    ASSERT_TRUE(WriteBytes(Path("pool"), (const BYTE *)pool.data(), pool.size()));
    auto Place = [&](const char *pszName) {
        FILEFACTS facts;
        LookAtName(Path(pszName).c_str(), &facts);
        return " " + std::to_string(facts.id.dwVolume) + " " + std::to_string(facts.id.dwIndexHigh) + " " +
               std::to_string(facts.id.dwIndexLow) + " " + Hex(Path(pszName));
    };
    // Its own file 100, then the pool.
    std::string list = "100 " + Hex(Path("rec/a.avi")) + "\npool 1 5" + Place("pool") + Place("claims") + "\n";
    ASSERT_TRUE(WriteBytes(Path("list"), (const BYTE *)list.data(), list.size()));
    ASSERT_TRUE(freopen(Path("list").c_str(), "rb", stdin));
    RUN run = Run({"library", "--part", LIBRARY_PART_FORMAT});
    ASSERT_TRUE(freopen(NULL_DEVICE, "rb", stdin));
    EXPECT_EQ(run.nStatus, SPOOL_OK) << run.err;
    std::vector<std::string> aFiles;
    for (size_t at = 0; (at = run.out.find("file ", at)) != std::string::npos; at++)
        if (at == 0 || run.out[at - 1] == '\n') aFiles.push_back(run.out.substr(at + 5, 3));
    EXPECT_EQ(aFiles, (std::vector<std::string>{"100", "201", "203", "204", "205"})) << run.out;
    EXPECT_NE(run.out.find("\nend 5 " LIBRARY_PART_FORMAT "\n"), std::string::npos) << run.out;
    std::vector<BYTE> after = ReadBytes(claims);
    EXPECT_EQ(std::string(after.begin(), after.end()), before + "c01000000000001\nc01000000000003\nc01000000000004\n");
    // A pool whose units are out of order is no list this program wrote.
    pool += "206 0 " + Hex(Path("old/x.000")) + "\n";
    ASSERT_TRUE(WriteBytes(Path("pool"), (const BYTE *)pool.data(), pool.size()));
    list = "100 " + Hex(Path("rec/a.avi")) + "\npool 1 5" + Place("pool") + Place("claims") + "\n";
    ASSERT_TRUE(WriteBytes(Path("list"), (const BYTE *)list.data(), list.size()));
    ASSERT_TRUE(freopen(Path("list").c_str(), "rb", stdin));
    run = Run({"library", "--part", LIBRARY_PART_FORMAT});
    ASSERT_TRUE(freopen(NULL_DEVICE, "rb", stdin));
    EXPECT_EQ(run.nStatus, SPOOL_ERROR);
    EXPECT_NE(run.err.find("does not hold"), std::string::npos) << run.err;
}

#ifndef _WIN32
// A child that claims units of the pool first reads them: its lines for
// them are taken, and this process reads none of them. A child that
// claims units and does not say their files is not taken at its word.
TEST_F(Library, AChildThatClaimsThePoolReadsIt)
{
    MakeLibrary();
    const std::vector<std::string> args = {"library", Path("rec"), Path("old"), "--jobs", "2"};
    RUN one = Run({"library", Path("rec"), Path("old"), "--jobs", "1"});
    // The script claims every unit as soon as it starts, while this
    // process waits on its own files' reads.
    SimulatedDisk disk(Path(""));
    disk.SetLatency(100000);
    std::string zeros;
    for (int k = 0; k < 4 + VERIFY_CHECKS; k++) zeros += " 0";
    const std::string start =
        "#!/bin/sh\nformat=$3\nown=\nn=0\n"
        "while read f p q; do if [ $f = pool ]; then part=$p; set -- $q; units=$1; list=$5; claims=$9; break; fi; "
        "own=\"$own $f\"; n=$((n+1)); done\n"
        "path() { hex=${1#x}; esc=; while [ -n \"$hex\" ]; do rest=${hex#??}; "
        "esc=\"$esc\\\\0$(printf %o $((0x${hex%\"$rest\"})))\"; hex=$rest; done; printf %b \"$esc\"; }\n"
        "list=$(path $list)\nclaims=$(path $claims)\n"
        "u=0\nwhile [ $u -lt $units ]; do printf 'c%02d%012d\\n' $part $u >> \"$claims\"; u=$((u+1)); done\n"
        "pool=\nwhile read f u p; do pool=\"$pool $f\"; done < \"$list\"\n";
    struct {
        const char *pszWhat;
        const char *pszSaid;  // the files it says
        bool fTaken;
    } aChildren[] = {
        {"says its own files and the pool's", "$own $pool", true},
        {"says only its own files", "$own", false},
    };
    for (const auto &child : aChildren) {
        std::string script = start + "n=0\nfor f in " + child.pszSaid + "; do echo \"file $f 0 0 0 0" + zeros +
                             " 0\"; n=$((n+1)); done\necho \"end $n $format\"\n";
        std::string path = Path("child.sh");
        ASSERT_TRUE(WriteBytes(path, (const BYTE *)script.data(), script.size()));
        ASSERT_EQ(chmod(path.c_str(), 0755), 0);
        SetEnvironment("SPOOL_PROGRAM", path.c_str());
        DWORD nTaken = g_nLibraryPartsTaken, nPoolTaken = g_nLibraryPoolFilesTaken;
        RUN run = Run(args);
        EXPECT_EQ(g_nLibraryPartsTaken - nTaken, child.fTaken ? 1u : 0u) << child.pszWhat;
        EXPECT_EQ(g_nLibraryPoolFilesTaken > nPoolTaken, child.fTaken) << child.pszWhat;
        if (child.fTaken) {
            // Every AVI but those of this process's own part is said to be
            // no AVI.
            EXPECT_LT(std::count(run.out.begin(), run.out.end(), '\n'), std::count(one.out.begin(), one.out.end(), '\n'));
        } else {
            EXPECT_EQ(run.out, one.out) << child.pszWhat;
            EXPECT_EQ(run.nStatus, one.nStatus) << child.pszWhat;
        }
    }
}

// A write of this process that fails while the parts share the files (of
// the pool's list, a child's list, a claim) leaves the listing as one
// process gives it, and nothing in the temporary folder.
TEST_F(Library, AFailedWriteInThePartsLeavesTheListingAsItIs)
{
    MakeLibrary();
    CreateDirectoryA(Path("tmp").c_str(), NULL);
    SetEnvironment("TMPDIR", Path("tmp").c_str());
    const std::vector<std::string> args = {"library", Path("rec"), Path("old"), "--jobs", "2"};
    RUN one = Run({"library", Path("rec"), Path("old"), "--jobs", "1"});
    struct {
        const char *pszWhat;
        unsigned nWrite;  // of this process's writes, the one that fails
        bool fTaken, fPoolTaken;
    } aFaults[] = {
        {"the pool's list: the pool is shared out at the start", 1, true, false},
        {"the child's list: its part is read here", 2, false, false},
        {"this process's first claim: the claims are read again once the child has ended", 3, true, true},
    };
    for (const auto &fault : aFaults) {
        DWORD nTaken = g_nLibraryPartsTaken, nPoolTaken = g_nLibraryPoolFilesTaken;
        SpoolArmFault(SPOOLFAULT_WRITE, fault.nWrite);
        RUN run = Run(args);
        SpoolArmFault(SPOOLFAULT_WRITE, 0);
        EXPECT_EQ(run.out, one.out) << fault.pszWhat;
        EXPECT_EQ(run.nStatus, one.nStatus) << fault.pszWhat;
        EXPECT_EQ(g_nLibraryPartsTaken - nTaken, fault.fTaken ? 1u : 0u) << fault.pszWhat;
        EXPECT_EQ(g_nLibraryPoolFilesTaken > nPoolTaken, fault.fPoolTaken) << fault.pszWhat;
        DIR *pDir = opendir(Path("tmp").c_str());
        ASSERT_TRUE(pDir);
        std::vector<std::string> left;
        while (struct dirent *pEntry = readdir(pDir))
            if (strcmp(pEntry->d_name, ".") != 0 && strcmp(pEntry->d_name, "..") != 0) left.push_back(pEntry->d_name);
        closedir(pDir);
        EXPECT_EQ(left, std::vector<std::string>()) << fault.pszWhat;
    }
    SetEnvironment("TMPDIR", NULL);
}

// A link is never followed: neither a linked folder nor a linked file is
// listed, and what lies behind them is never deleted.
TEST_F(Library, LinksAreNeverFollowed)
{
    for (const char *pszFolder : {"tree", "elsewhere"}) CreateDirectoryA(Path(pszFolder).c_str(), NULL);
    WriteRefFile(Path("elsewhere/far.000"), 2, 3);
    ASSERT_EQ(symlink(Path("elsewhere").c_str(), Path("tree/linked").c_str()), 0);
    ASSERT_EQ(symlink(Path("elsewhere/far.000").c_str(), Path("tree/near.000").c_str()), 0);
    // A file that an AVI names through a link is named all the same.
    WriteRefFile(Path("tree/real.000"), 2, 4);
    ASSERT_EQ(symlink(Path("tree/real.000").c_str(), Path("tree/alias.000").c_str()), 0);
    std::vector<BYTE> avi = BuildRecordAvi({Path("tree/alias.000")}, 2, mmioFOURCC('S', 'M', 'P', 'L'));
    ASSERT_TRUE(WriteBytes(Path("tree/rec.avi"), avi.data(), avi.size()));
    RUN run = Run({"clean", Path("tree"), "--unused", "--yes"});
    EXPECT_EQ(run.nStatus, SPOOL_OK) << run.err;
    EXPECT_NE(run.out.find("0 unused reference files deleted"), std::string::npos) << run.out;
    EXPECT_TRUE(Exists("elsewhere/far.000") && Exists("tree/real.000"));
}
#endif

}  // namespace
