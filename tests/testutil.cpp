#include "tests/testutil.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <atomic>

#ifndef _WIN32
#include <unistd.h>
#endif

std::string JoinPath(const std::string &dir, const std::string &name)
{
    if (!dir.empty() && dir.back() == PATH_SEP) return dir + name;
    return dir + PATH_SEP_STR + name;
}

std::string UniqueName(const char *pszStem)
{
    static std::atomic<int> s_nCounter{0};
    char szName[128];
#ifdef _WIN32
    unsigned long ulPid = GetCurrentProcessId();
#else
    unsigned long ulPid = (unsigned long)getpid();
#endif
    snprintf(szName, sizeof(szName), "%s%lu_%d", pszStem, ulPid, s_nCounter++);
    return szName;
}

std::string MakeTempDir(const char *pszTag)
{
    char szTemp[MAX_PATH];
    DWORD n = GetTempPathA(sizeof(szTemp), szTemp);
    if (n == 0 || n >= sizeof(szTemp)) return std::string();
    for (int i = 0; i < 1000; i++) {
        std::string dir = JoinPath(szTemp, UniqueName(pszTag));
        if (CreateDirectoryA(dir.c_str(), NULL)) return dir;
    }
    return std::string();
}

void RemoveTree(const std::string &dir)
{
    if (dir.empty()) return;
    WIN32_FIND_DATAA found;
    HANDLE hFind = FindFirstFileA(JoinPath(dir, "*").c_str(), &found);
    if (hFind != INVALID_HANDLE_VALUE) {
        do {
            if (strcmp(found.cFileName, ".") == 0 || strcmp(found.cFileName, "..") == 0) continue;
            std::string path = JoinPath(dir, found.cFileName);
            // A link goes itself: what it leads to is never entered.
            if (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
                if (!DeleteFileA(path.c_str())) RemoveDirectoryA(path.c_str());
            } else if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                RemoveTree(path);
            } else {
                DeleteFileA(path.c_str());
            }
        } while (FindNextFileA(hFind, &found));
        FindClose(hFind);
    }
    RemoveDirectoryA(dir.c_str());
}

bool WriteBytes(const std::string &path, const void *pData, size_t cb)
{
    FILE *pFile = fopen(path.c_str(), "wb");
    if (!pFile) return false;
    bool fOk = cb == 0 || fwrite(pData, 1, cb, pFile) == cb;
    return fclose(pFile) == 0 && fOk;
}

bool WriteText(const std::string &path, const std::string &text) { return WriteBytes(path, text.data(), text.size()); }

std::vector<BYTE> ReadBytes(const std::string &path)
{
    std::vector<BYTE> data;
    FILE *pFile = fopen(path.c_str(), "rb");
    if (!pFile) return data;
    BYTE buf[65536];
    size_t n;
    while ((n = fread(buf, 1, sizeof(buf), pFile)) > 0) data.insert(data.end(), buf, buf + n);
    fclose(pFile);
    return data;
}

std::string ReadText(const std::string &path)
{
    std::vector<BYTE> data = ReadBytes(path);
    return std::string(data.begin(), data.end());
}

bool CopyBytes(const std::string &from, const std::string &to)
{
    std::vector<BYTE> data = ReadBytes(from);
    return !data.empty() && WriteBytes(to, data.data(), data.size());
}

std::vector<std::string> ListFolder(const std::string &dir, const char *pszPattern)
{
    std::vector<std::string> names;
    WIN32_FIND_DATAA found;
    HANDLE hFind = FindFirstFileA(JoinPath(dir, pszPattern).c_str(), &found);
    if (hFind != INVALID_HANDLE_VALUE) {
        do {
            if (strcmp(found.cFileName, ".") != 0 && strcmp(found.cFileName, "..") != 0)
                names.push_back(found.cFileName);
        } while (FindNextFileA(hFind, &found));
        FindClose(hFind);
    }
    std::sort(names.begin(), names.end());
    return names;
}

std::string TestBinFolder()
{
    char szPath[MAX_PATH];
    DWORD n = GetModuleFileNameA(NULL, szPath, sizeof(szPath));
    if (n == 0 || n >= sizeof(szPath)) return std::string();
    std::string path(szPath, n);
    return path.substr(0, path.rfind(PATH_SEP));
}

std::string BuiltModule(const char *pszName) { return JoinPath(TestBinFolder(), std::string(pszName) + TEST_MODULE_SUFFIX); }

std::string TestDataFolder() { return JoinPath(TestBinFolder(), "data"); }

std::string WindowsDir()
{
    char szDir[MAX_PATH];
    UINT n = GetWindowsDirectoryA(szDir, sizeof(szDir));
    return n && n < sizeof(szDir) ? std::string(szDir) : std::string();
}

std::string SystemFolder()
{
    char szDir[MAX_PATH];
    UINT n = GetSystemDirectoryA(szDir, sizeof(szDir));
    return n && n < sizeof(szDir) ? std::string(szDir) : std::string();
}

#ifdef _WIN32
static const char s_szDrivers32[] = "Software\\Microsoft\\Windows NT\\CurrentVersion\\Drivers32";
#endif

bool RegisterVideoCodec(const char *pszFourcc, const char *pszLibrary)
{
    std::string key = std::string("vidc.") + pszFourcc;
#ifdef _WIN32
    HKEY hKey;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, s_szDrivers32, 0, NULL, 0, KEY_SET_VALUE, NULL, &hKey, NULL) != ERROR_SUCCESS)
        return false;
    LONG lResult = RegSetValueExA(hKey, key.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE *>(pszLibrary),
                                  (DWORD)strlen(pszLibrary) + 1);
    RegCloseKey(hKey);
    return lResult == ERROR_SUCCESS;
#else
    return WritePrivateProfileStringA("drivers32", key.c_str(), pszLibrary, "system.ini") != FALSE;
#endif
}

void UnregisterVideoCodec(const char *pszFourcc)
{
    std::string key = std::string("vidc.") + pszFourcc;
#ifdef _WIN32
    HKEY hKey;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, s_szDrivers32, 0, KEY_SET_VALUE, &hKey) == ERROR_SUCCESS) {
        RegDeleteValueA(hKey, key.c_str());
        RegCloseKey(hKey);
    }
#else
    WritePrivateProfileStringA("drivers32", key.c_str(), NULL, "system.ini");
#endif
}

bool InstallSpoolcap(const std::string &dir, const std::string &name, const char *pszWrapped)
{
    return CopyBytes(BuiltModule("spoolcap"), JoinPath(dir, name)) &&
           CopyBytes(BuiltModule(pszWrapped), JoinPath(dir, name + ".org"));
}

#ifndef _WIN32
namespace {

// Natively, the Windows directory of the tests is a temporary folder of
// their own (with its system32), so that settings files and the codec list
// never touch anything else.
struct TestWindowsDir {
    std::string dir;
    TestWindowsDir()
    {
        const char *pszSet = getenv("WINDIR");
        if (pszSet && pszSet[0]) return;
        dir = MakeTempDir("spoolwin");
        if (dir.empty()) return;
        CreateDirectoryA(JoinPath(dir, "system32").c_str(), NULL);
        setenv("WINDIR", dir.c_str(), 1);
    }
    ~TestWindowsDir() { RemoveTree(dir); }
} g_TestWindowsDir;

}  // namespace
#endif

#ifndef _WIN32
SimulatedDisk::SimulatedDisk(const std::string &dir) { setenv("SPOOL_DISK_PATH", dir.c_str(), 1); }

SimulatedDisk::~SimulatedDisk()
{
    unsetenv("SPOOL_DISK_FREE");
    unsetenv("SPOOL_DISK_STALL_MS");
    unsetenv("SPOOL_DISK_STALL_EVERY_MS");
    unsetenv("SPOOL_DISK_LATENCY_US");
    unsetenv("SPOOL_DISK_BANDWIDTH");
    unsetenv("SPOOL_DISK_PATH");
}

void SimulatedDisk::SetLatency(unsigned long usLatency)
{
    setenv("SPOOL_DISK_LATENCY_US", std::to_string(usLatency).c_str(), 1);
}

void SimulatedDisk::SetBandwidth(unsigned long long cbPerSecond)
{
    setenv("SPOOL_DISK_BANDWIDTH", std::to_string(cbPerSecond).c_str(), 1);
}

void SimulatedDisk::SetStalls(unsigned long msStall, unsigned long msEvery)
{
    setenv("SPOOL_DISK_STALL_MS", std::to_string(msStall).c_str(), 1);
    setenv("SPOOL_DISK_STALL_EVERY_MS", std::to_string(msEvery).c_str(), 1);
}

void SimulatedDisk::SetFree(unsigned long long cbFree)
{
    // The disk starts a new count when the setting's text changes.
    std::string value = std::to_string(cbFree) + (nFreeChanges++ % 2 ? " " : "");
    setenv("SPOOL_DISK_FREE", value.c_str(), 1);
}
#endif
