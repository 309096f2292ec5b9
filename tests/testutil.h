// Helpers shared by the tests of both targets: temporary folders, files and
// the modules built beside the test programs.
#pragma once

#include "platform/win.h"

#include <string>
#include <vector>

#ifdef _WIN32
#define TEST_MODULE_SUFFIX ".dll"
#else
#define TEST_MODULE_SUFFIX ".so"
#endif

// A new empty folder under the temporary folder; removed by RemoveTree.
std::string MakeTempDir(const char *pszTag);
// Deletes a folder and everything in it.
void RemoveTree(const std::string &dir);
std::string JoinPath(const std::string &dir, const std::string &name);

bool WriteBytes(const std::string &path, const void *pData, size_t cb);
bool WriteText(const std::string &path, const std::string &text);
std::vector<BYTE> ReadBytes(const std::string &path);
std::string ReadText(const std::string &path);
bool CopyBytes(const std::string &from, const std::string &to);
// Names in a folder matching a pattern, sorted.
std::vector<std::string> ListFolder(const std::string &dir, const char *pszPattern = "*");

// The folder of the running test program, where the modules are built.
std::string TestBinFolder();
// The path of a module built beside the tests ("spoolcap", "samplecodec").
std::string BuiltModule(const char *pszName);
// The test data files, copied beside the test programs by the build.
std::string TestDataFolder();
// The Windows directory, where bare settings file names lie.
std::string WindowsDir();

// A name unique to this run, for settings files in the shared Windows
// directory.
std::string UniqueName(const char *pszStem);

// Lists a library as the video codec of a FOURCC ("vidc.XXXX"): in the
// Drivers32 registry key on Windows, in [drivers32] of system.ini elsewhere.
// The library itself belongs in SystemFolder().
bool RegisterVideoCodec(const char *pszFourcc, const char *pszLibrary);
void UnregisterVideoCodec(const char *pszFourcc);
std::string SystemFolder();

// Installs Spoolcap in front of the sample codec in a folder: the driver
// under the given file name and the sample codec beside it as name + ".org".
bool InstallSpoolcap(const std::string &dir, const std::string &name,
                     const char *pszWrapped = "samplecodec");

#ifndef _WIN32
// The POSIX stand-in's simulated disk over a folder, for as long as this
// object lives: a latency per transfer, a bandwidth, free space. Each value
// takes effect at the next file that is opened.
class SimulatedDisk {
public:
    explicit SimulatedDisk(const std::string &dir);
    ~SimulatedDisk();
    SimulatedDisk(const SimulatedDisk &) = delete;
    SimulatedDisk &operator=(const SimulatedDisk &) = delete;
    void SetLatency(unsigned long usLatency);
    void SetBandwidth(unsigned long long cbPerSecond);
    // A new count of free bytes, even when it is the same number as before.
    void SetFree(unsigned long long cbFree);
    // A stall of msStall at the end of every msEvery, from the next open.
    void SetStalls(unsigned long msStall, unsigned long msEvery);

private:
    int nFreeChanges = 0;
};
#endif
