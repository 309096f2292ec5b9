// Behaviour of the platform calls that the programs rely on. The same tests
// run natively against the stand-in and under Wine against the real API,
// which keeps the stand-in honest.
#include "platform/win.h"

#include "tests/testutil.h"

#include <gtest/gtest.h>

#include <string>

namespace {

class PlatformFiles : public ::testing::Test {
protected:
    void SetUp() override { dir = MakeTempDir("plat"); ASSERT_FALSE(dir.empty()); }
    void TearDown() override { RemoveTree(dir); }
    std::string Path(const char *pszName) { return JoinPath(dir, pszName); }
    std::string dir;
};

TEST_F(PlatformFiles, CreateDispositionsAndErrors)
{
    std::string path = Path("f.bin");
    HANDLE h = CreateFileA(path.c_str(), GENERIC_READ, 0, NULL, OPEN_EXISTING, 0, NULL);
    EXPECT_EQ(h, INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_FILE_NOT_FOUND);
    h = CreateFileA(JoinPath(Path("nodir"), "f").c_str(), GENERIC_READ, 0, NULL, OPEN_EXISTING, 0, NULL);
    EXPECT_EQ(h, INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_PATH_NOT_FOUND);

    h = CreateFileA(path.c_str(), GENERIC_WRITE, 0, NULL, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, NULL);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    DWORD cb = 0;
    EXPECT_TRUE(WriteFile(h, "hello", 5, &cb, NULL));
    EXPECT_EQ(cb, 5u);
    CloseHandle(h);

    h = CreateFileA(path.c_str(), GENERIC_WRITE, 0, NULL, CREATE_NEW, 0, NULL);
    EXPECT_EQ(h, INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_FILE_EXISTS);

    // CREATE_ALWAYS replaces and says that the file was there.
    h = CreateFileA(path.c_str(), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_ALREADY_EXISTS);
    EXPECT_EQ(GetFileSize(h, NULL), 0u);
    CloseHandle(h);

    // A folder cannot be opened as a file.
    h = CreateFileA(dir.c_str(), GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
    EXPECT_EQ(h, INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_ACCESS_DENIED);
}

TEST_F(PlatformFiles, ReadSeekAndSize)
{
    std::string path = Path("r.bin");
    ASSERT_TRUE(WriteText(path, "0123456789"));
    HANDLE h = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    DWORD dwHigh = 77;
    EXPECT_EQ(GetFileSize(h, &dwHigh), 10u);
    EXPECT_EQ(dwHigh, 0u);
    EXPECT_EQ(SetFilePointer(h, 7, NULL, FILE_BEGIN), 7u);
    char buf[16] = {0};
    DWORD cb = 0;
    EXPECT_TRUE(ReadFile(h, buf, sizeof(buf), &cb, NULL));
    EXPECT_EQ(cb, 3u);
    EXPECT_STREQ(buf, "789");
    // At the end: success with nothing read.
    EXPECT_TRUE(ReadFile(h, buf, 4, &cb, NULL));
    EXPECT_EQ(cb, 0u);
    EXPECT_EQ(SetFilePointer(h, -4, NULL, FILE_END), 6u);
    EXPECT_EQ(SetFilePointer(h, 2, NULL, FILE_CURRENT), 8u);
    // Beyond the end is allowed; before the start is not.
    EXPECT_EQ(SetFilePointer(h, 100, NULL, FILE_BEGIN), 100u);
    EXPECT_EQ(SetFilePointer(h, -1, NULL, FILE_BEGIN), INVALID_SET_FILE_POINTER);
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_NEGATIVE_SEEK);
    // Writing to a handle opened for reading fails.
    EXPECT_FALSE(WriteFile(h, "x", 1, &cb, NULL));
    CloseHandle(h);
}

// A read or write at a place (an OVERLAPPED offset on a handle opened
// without FILE_FLAG_OVERLAPPED) leaves the file's pointer after its bytes.
TEST_F(PlatformFiles, ReadAndWriteAtAPlace)
{
    std::string path = Path("p.bin");
    ASSERT_TRUE(WriteText(path, "0123456789"));
    HANDLE h = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, NULL, OPEN_EXISTING, 0, NULL);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    OVERLAPPED at;
    memset(&at, 0, sizeof(at));
    at.Offset = 3;
    char buf[16] = {0};
    DWORD cb = 0;
    EXPECT_TRUE(ReadFile(h, buf, 4, &cb, &at));
    EXPECT_EQ(std::string(buf, cb), "3456");
    EXPECT_EQ(SetFilePointer(h, 0, NULL, FILE_CURRENT), 7u);
    EXPECT_TRUE(ReadFile(h, buf, 2, &cb, NULL));
    EXPECT_EQ(std::string(buf, cb), "78");
    // Fewer bytes before the end; none at the end is an error.
    at.Offset = 8;
    EXPECT_TRUE(ReadFile(h, buf, 4, &cb, &at));
    EXPECT_EQ(std::string(buf, cb), "89");
    at.Offset = 10;
    EXPECT_FALSE(ReadFile(h, buf, 4, &cb, &at));
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_HANDLE_EOF);
    EXPECT_EQ(cb, 0u);
    // A write goes where the last read at a place left the pointer, or at
    // its own place.
    at.Offset = 1;
    EXPECT_TRUE(ReadFile(h, buf, 2, &cb, &at));
    EXPECT_TRUE(WriteFile(h, "ab", 2, &cb, NULL));
    at.Offset = 7;
    EXPECT_TRUE(WriteFile(h, "XY", 2, &cb, &at));
    EXPECT_TRUE(WriteFile(h, "z", 1, &cb, NULL));
    EXPECT_EQ(SetFilePointer(h, 0, NULL, FILE_CURRENT), 10u);
    EXPECT_TRUE(SetEndOfFile(h));
    CloseHandle(h);
    EXPECT_EQ(ReadText(path), "012ab56XYz");
}

TEST_F(PlatformFiles, SharingRules)
{
    std::string path = Path("s.bin");
    HANDLE hWriter = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, NULL, CREATE_ALWAYS, 0, NULL);
    ASSERT_NE(hWriter, INVALID_HANDLE_VALUE);
    // A reader that shares writing may open it; one that does not may not.
    HANDLE hReader = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                                 OPEN_EXISTING, 0, NULL);
    EXPECT_NE(hReader, INVALID_HANDLE_VALUE);
    HANDLE hStrict = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
    EXPECT_EQ(hStrict, INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_SHARING_VIOLATION);
    // A second writer is refused before it can truncate anything.
    DWORD cb;
    WriteFile(hWriter, "data", 4, &cb, NULL);
    HANDLE hSecond = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, NULL, CREATE_ALWAYS, 0, NULL);
    EXPECT_EQ(hSecond, INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_SHARING_VIOLATION);
    // An open file that does not share deletion can be neither deleted nor moved.
    EXPECT_FALSE(DeleteFileA(path.c_str()));
    EXPECT_FALSE(MoveFileA(path.c_str(), Path("moved.bin").c_str()));
    CloseHandle(hReader);
    CloseHandle(hWriter);
    EXPECT_EQ(ReadText(path), "data");
    EXPECT_TRUE(MoveFileA(path.c_str(), Path("moved.bin").c_str()));
    EXPECT_TRUE(DeleteFileA(Path("moved.bin").c_str()));
    EXPECT_FALSE(DeleteFileA(Path("moved.bin").c_str()));
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_FILE_NOT_FOUND);
}

TEST_F(PlatformFiles, MoveNeverReplaces)
{
    ASSERT_TRUE(WriteText(Path("a"), "A"));
    ASSERT_TRUE(WriteText(Path("b"), "B"));
    EXPECT_FALSE(MoveFileA(Path("a").c_str(), Path("b").c_str()));
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_ALREADY_EXISTS);
    EXPECT_EQ(ReadText(Path("b")), "B");
    EXPECT_FALSE(CopyFileA(Path("a").c_str(), Path("b").c_str(), TRUE));
    EXPECT_TRUE(CopyFileA(Path("a").c_str(), Path("c").c_str(), TRUE));
    EXPECT_EQ(ReadText(Path("c")), "A");
}

TEST_F(PlatformFiles, DirectorySearchPatterns)
{
    for (const char *psz : {"take", "take.000", "take.001", "Take.002", "take.0001", "takes.000", "x.000"})
        ASSERT_TRUE(WriteText(Path(psz), "x"));
    EXPECT_EQ(ListFolder(dir, "take.???"), std::vector<std::string>({"Take.002", "take.000", "take.001"}));
    std::vector<std::string> star = ListFolder(dir, "take.*");
    // The platform's ".*" also matches the bare name.
    EXPECT_EQ(star, std::vector<std::string>({"Take.002", "take", "take.000", "take.0001", "take.001"}));
    WIN32_FIND_DATAA found;
    EXPECT_EQ(FindFirstFileA(Path("none.*").c_str(), &found), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_FILE_NOT_FOUND);
    HANDLE hFind = FindFirstFileA(Path("x.000").c_str(), &found);
    ASSERT_NE(hFind, INVALID_HANDLE_VALUE);
    EXPECT_STREQ(found.cFileName, "x.000");
    EXPECT_EQ(found.nFileSizeLow, 1u);
    EXPECT_FALSE(FindNextFileA(hFind, &found));
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_NO_MORE_FILES);
    FindClose(hFind);
}

TEST_F(PlatformFiles, FullPathNames)
{
    CHAR szOld[MAX_PATH];
    GetCurrentDirectoryA(sizeof(szOld), szOld);
    ASSERT_TRUE(SetCurrentDirectoryA(dir.c_str()));
    CHAR szCwd[MAX_PATH];
    GetCurrentDirectoryA(sizeof(szCwd), szCwd);
    CHAR szFull[MAX_PATH];
    LPSTR pszPart = NULL;
    std::string rel = std::string("sub") + PATH_SEP_STR + ".." + PATH_SEP_STR + "name.avi";
    DWORD n = GetFullPathNameA(rel.c_str(), sizeof(szFull), szFull, &pszPart);
    SetCurrentDirectoryA(szOld);
    std::string expected = JoinPath(szCwd, "name.avi");
    EXPECT_EQ(std::string(szFull), expected);
    EXPECT_EQ(n, expected.size());
    ASSERT_NE(pszPart, nullptr);
    EXPECT_STREQ(pszPart, "name.avi");
    // Too small a buffer: the size needed, terminator included.
    CHAR szSmall[4];
    EXPECT_EQ(GetFullPathNameA(expected.c_str(), sizeof(szSmall), szSmall, NULL), expected.size() + 1);
}

TEST_F(PlatformFiles, RiffChunksWrittenAndFound)
{
    std::string path = Path("t.riff");
    HMMIO h = mmioOpenA(&path[0], NULL, MMIO_CREATE | MMIO_READWRITE | MMIO_ALLOCBUF);
    ASSERT_NE(h, nullptr);
    MMCKINFO ckRiff, ckOdd, ckList, ckInner;
    ckRiff.fccType = mmioFOURCC('T', 'E', 'S', 'T');
    ckRiff.cksize = 0;
    ASSERT_EQ(mmioCreateChunk(h, &ckRiff, MMIO_CREATERIFF), (MMRESULT)MMSYSERR_NOERROR);
    ckOdd.ckid = mmioFOURCC('a', 'b', 'c', 'd');
    ckOdd.cksize = 0;
    ASSERT_EQ(mmioCreateChunk(h, &ckOdd, 0), (MMRESULT)MMSYSERR_NOERROR);
    EXPECT_EQ(mmioWrite(h, "xyz", 3), 3);
    ASSERT_EQ(mmioAscend(h, &ckOdd, 0), (MMRESULT)MMSYSERR_NOERROR);  // size 3, pad byte
    ckList.fccType = mmioFOURCC('l', 's', 't', ' ');
    ckList.cksize = 0;
    ASSERT_EQ(mmioCreateChunk(h, &ckList, MMIO_CREATELIST), (MMRESULT)MMSYSERR_NOERROR);
    ckInner.ckid = mmioFOURCC('x', 'y', ' ', ' ');
    ckInner.cksize = 0;
    ASSERT_EQ(mmioCreateChunk(h, &ckInner, 0), (MMRESULT)MMSYSERR_NOERROR);
    EXPECT_EQ(mmioWrite(h, "1234", 4), 4);
    ASSERT_EQ(mmioAscend(h, &ckInner, 0), (MMRESULT)MMSYSERR_NOERROR);
    ASSERT_EQ(mmioAscend(h, &ckList, 0), (MMRESULT)MMSYSERR_NOERROR);
    ASSERT_EQ(mmioAscend(h, &ckRiff, 0), (MMRESULT)MMSYSERR_NOERROR);
    ASSERT_EQ(mmioClose(h, 0), (MMRESULT)MMSYSERR_NOERROR);

    // The sizes were fixed up on the way out.
    const char abExpected[] = "RIFF\x28\0\0\0TESTabcd\x03\0\0\0xyz\0LIST\x10\0\0\0lst xy  \x04\0\0\0" "1234";
    std::vector<BYTE> file = ReadBytes(path);
    ASSERT_EQ(file.size(), sizeof(abExpected) - 1);
    EXPECT_EQ(0, memcmp(file.data(), abExpected, file.size()));

    h = mmioOpenA(&path[0], NULL, MMIO_READ | MMIO_ALLOCBUF);
    ASSERT_NE(h, nullptr);
    MMCKINFO ck, ckParent;
    ckParent.fccType = mmioFOURCC('T', 'E', 'S', 'T');
    ASSERT_EQ(mmioDescend(h, &ckParent, NULL, MMIO_FINDRIFF), (MMRESULT)MMSYSERR_NOERROR);
    EXPECT_EQ(ckParent.dwDataOffset, 8u);
    EXPECT_EQ(ckParent.cksize, 40u);
    // The LIST is found behind the odd-sized chunk and its pad byte.
    MMCKINFO ckFound;
    ckFound.fccType = mmioFOURCC('l', 's', 't', ' ');
    ASSERT_EQ(mmioDescend(h, &ckFound, &ckParent, MMIO_FINDLIST), (MMRESULT)MMSYSERR_NOERROR);
    EXPECT_EQ(ckFound.dwDataOffset, 32u);
    ck.ckid = mmioFOURCC('x', 'y', ' ', ' ');
    ASSERT_EQ(mmioDescend(h, &ck, &ckFound, MMIO_FINDCHUNK), (MMRESULT)MMSYSERR_NOERROR);
    char sz[8] = {0};
    EXPECT_EQ(mmioRead(h, sz, 4), 4);
    EXPECT_STREQ(sz, "1234");
    ASSERT_EQ(mmioAscend(h, &ck, 0), (MMRESULT)MMSYSERR_NOERROR);
    // Nothing more to enter at the end of the parent.
    EXPECT_EQ(mmioDescend(h, &ck, &ckFound, 0), (MMRESULT)MMIOERR_CHUNKNOTFOUND);
    EXPECT_EQ(mmioSeek(h, 0, SEEK_CUR), 48);
    // Entering whatever comes next, from the start of the form.
    mmioSeek(h, 12, SEEK_SET);
    ASSERT_EQ(mmioDescend(h, &ck, &ckParent, 0), (MMRESULT)MMSYSERR_NOERROR);
    EXPECT_EQ(ck.ckid, mmioFOURCC('a', 'b', 'c', 'd'));
    EXPECT_EQ(ck.cksize, 3u);
    mmioClose(h, 0);
}

TEST(PlatformProfile, FormatAndLookUp)
{
    std::string name = UniqueName("prof") + ".ini";
    std::string path = JoinPath(WindowsDir(), name);
    LPCSTR f = name.c_str();
    ASSERT_TRUE(WritePrivateProfileStringA("One", "a", "1", f));
    ASSERT_TRUE(WritePrivateProfileStringA("One", "b", "two words", f));
    ASSERT_TRUE(WritePrivateProfileStringA("Two", "c", "", f));
    ASSERT_TRUE(WritePrivateProfileStringA("ONE", "A", "3", f));  // same key, other case
    std::string text = ReadText(path);
    EXPECT_NE(text.find("[One]\r\na=3\r\nb=two words\r\n"), std::string::npos) << text;
    EXPECT_NE(text.find("[Two]\r\nc=\r\n"), std::string::npos) << text;

    CHAR sz[64];
    EXPECT_EQ(GetPrivateProfileStringA("one", "B", "def", sz, sizeof(sz), f), 9u);
    EXPECT_STREQ(sz, "two words");
    EXPECT_EQ(GetPrivateProfileStringA("One", "missing", "def  ", sz, sizeof(sz), f), 3u);
    EXPECT_STREQ(sz, "def");
    EXPECT_EQ(GetPrivateProfileStringA("One", "b", "", sz, 4, f), 3u);  // cut to fit
    EXPECT_STREQ(sz, "two");
    EXPECT_EQ(GetPrivateProfileIntA("One", "a", 9, f), 3u);
    EXPECT_EQ(GetPrivateProfileIntA("One", "missing", 9, f), 9u);
    EXPECT_EQ(GetPrivateProfileIntA("Two", "c", 9, f), 9u);  // empty value
    EXPECT_EQ(GetPrivateProfileIntA("One", "b", 9, f), 0u);  // not a number

    // A NULL value removes the key, a NULL key the section.
    ASSERT_TRUE(WritePrivateProfileStringA("One", "a", NULL, f));
    EXPECT_EQ(GetPrivateProfileIntA("One", "a", 9, f), 9u);
    ASSERT_TRUE(WritePrivateProfileStringA("Two", NULL, NULL, f));
    EXPECT_EQ(GetPrivateProfileStringA("Two", "c", "gone", sz, sizeof(sz), f), 4u);
    EXPECT_EQ(ReadText(path).find("[Two]"), std::string::npos);

    // Quotes around a value are dropped when it is read.
    ASSERT_TRUE(WriteText(path, "[Q]\r\nk = \"quoted value\" \r\nn=  -12  \r\n"));
    EXPECT_EQ(GetPrivateProfileStringA("Q", "k", "", sz, sizeof(sz), f), 12u);
    EXPECT_STREQ(sz, "quoted value");
    EXPECT_EQ((int)GetPrivateProfileIntA("Q", "n", 0, f), -12);
    DeleteFileA(path.c_str());
}

TEST(PlatformModules, MissingLibrary)
{
    EXPECT_EQ(LoadLibraryA("surely_not_here_4711.dll"), nullptr);
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_MOD_NOT_FOUND);
}

TEST(PlatformModules, LoadedTwiceIsOneModule)
{
    std::string path = BuiltModule("nodriver");
    HMODULE h1 = LoadLibraryA(path.c_str());
    ASSERT_NE(h1, nullptr);
    HMODULE h2 = LoadLibraryA(path.c_str());
    EXPECT_EQ(h1, h2);
    EXPECT_NE(GetProcAddress(h1, "NotADriver"), nullptr);
    EXPECT_EQ(GetProcAddress(h1, "DriverProc"), nullptr);
    EXPECT_EQ(GetModuleHandleA(("nodriver" TEST_MODULE_SUFFIX)), h1);
    CHAR szName[MAX_PATH];
    DWORD n = GetModuleFileNameA(h1, szName, sizeof(szName));
    ASSERT_GT(n, 0u);
    EXPECT_EQ(std::string(szName).substr(std::string(szName).rfind(PATH_SEP) + 1), "nodriver" TEST_MODULE_SUFFIX);
    EXPECT_TRUE(FreeLibrary(h2));
    EXPECT_EQ(GetModuleHandleA(("nodriver" TEST_MODULE_SUFFIX)), h1);
    EXPECT_TRUE(FreeLibrary(h1));
    EXPECT_EQ(GetModuleHandleA(("nodriver" TEST_MODULE_SUFFIX)), nullptr);
}

TEST(PlatformEvents, ManualResetStaysSignalled)
{
    HANDLE h = CreateEventA(NULL, TRUE, FALSE, NULL);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(WaitForSingleObject(h, 10), (DWORD)WAIT_TIMEOUT);
    SetEvent(h);
    EXPECT_EQ(WaitForSingleObject(h, 0), (DWORD)WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(h, 0), (DWORD)WAIT_OBJECT_0);
    ResetEvent(h);
    EXPECT_EQ(WaitForSingleObject(h, 0), (DWORD)WAIT_TIMEOUT);
    CloseHandle(h);
}

TEST(PlatformText, WideRoundTrip)
{
    WCHAR wsz[16];
    EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, "vidc", -1, wsz, 16), 5);
    EXPECT_EQ(wsz[0], (WCHAR)'v');
    EXPECT_EQ(wsz[4], (WCHAR)0);
    CHAR sz[16];
    EXPECT_EQ(WideCharToMultiByte(CP_ACP, 0, wsz, -1, sz, sizeof(sz), NULL, NULL), 5);
    EXPECT_STREQ(sz, "vidc");
}

}  // namespace

// Texts of other code pages convert as the platform converts them: code
// page 932's double-byte characters and its '\' and '~', a byte that is no
// character, and a character the code page has not.
TEST(PlatformText, CodePage932)
{
    // "D:\録画\a~" in code page 932.
    const char szName[] = "D:\\\x98\x5e\x89\xe6\\a~";
    WCHAR awsz[32];
    int cwch = MultiByteToWideChar(932, MB_ERR_INVALID_CHARS, szName, -1, awsz, 32);
    ASSERT_EQ(cwch, 9);
    const WCHAR awszWanted[] = {'D', ':', '\\', 0x9332, 0x753B, '\\', 'a', '~', 0};
    for (int i = 0; i < 9; i++) EXPECT_EQ(awsz[i], awszWanted[i]) << i;
    char szBack[32];
    BOOL fDefault = FALSE;
    ASSERT_EQ(WideCharToMultiByte(932, WC_NO_BEST_FIT_CHARS, awsz, -1, szBack, sizeof(szBack), NULL, &fDefault), 11);
    EXPECT_STREQ(szBack, szName);
    EXPECT_FALSE(fDefault);
    // A lead byte without its second byte is no character.
    EXPECT_EQ(MultiByteToWideChar(932, MB_ERR_INVALID_CHARS, "a\x98", 2, awsz, 32), 0);
    // An e with an acute accent is not in code page 932.
    const WCHAR awszAccent[] = {'c', 'a', 'f', 0xE9, 0};
    ASSERT_GT(WideCharToMultiByte(932, WC_NO_BEST_FIT_CHARS, awszAccent, -1, szBack, sizeof(szBack), NULL, &fDefault), 0);
    EXPECT_TRUE(fDefault);
}
