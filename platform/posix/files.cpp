// Files and directories of the POSIX stand-in.
//
// File handles keep the platform's sharing rules within the process: an open
// is refused with ERROR_SHARING_VIOLATION when its access conflicts with the
// sharing of an open that is already there, or the other way round, as
// CreateFile does. Deleting or renaming an open file needs FILE_SHARE_DELETE
// from every open of it. Between processes an open for writing that shares
// nothing holds a lock on the file (an open file description lock), and an
// open of a file so held is refused as the platform refuses it.
//
// A simulated disk can stand in for the real one, for benchmarks and tests
// of slow and full disks. It is set through environment variables, read when
// a file is opened:
//   SPOOL_DISK_PATH         files under this folder are on the simulated disk
//                           (every file when unset);
//   SPOOL_DISK_BANDWIDTH    bytes per second of its reads and writes;
//   SPOOL_DISK_LATENCY_US   microseconds of each read and write;
//   SPOOL_DISK_FREE         bytes that writes may add to its files; a write
//                           beyond them stops there with ERROR_DISK_FULL, and
//                           deleting a file gives its bytes back;
//   SPOOL_DISK_STALL_MS     milliseconds of a stall, in which the disk starts
//   SPOOL_DISK_STALL_EVERY_MS  no transfer, at the end of every interval of
//                           this many milliseconds, counted from the open
//                           that first read these two settings.
// The disk does one transfer at a time: a transfer waits for the one before
// it, then takes the latency and its bytes at the bandwidth. The waits sleep.
// A read's bytes arrive at the end of its transfer; a write's bytes are in
// the file once the latency is over (in the system's cache), and the call
// returns when the disk has taken them, as a write-through write does.
#include "internal.h"

#include <atomic>
#include <ctype.h>
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <stddef.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <mutex>
#include <string>
#include <vector>

namespace {

struct FILEOBJECT {
    KOBJECT hdr;
    int fd;
    bool fSimulated;  // on the simulated disk
    // Written from beginning to end (FILE_FLAG_SEQUENTIAL_SCAN, not
    // written through): each write's bytes start on their way to the disk
    // at once, as the write-behind of Windows' cache does for such files,
    // instead of all waiting for the flush at the end.
    bool fWriteBehind;
    // Where the file's pointer is after a read at a place, until something
    // that goes by the pointer puts it there (-1: where the descriptor is).
    int64_t posPending;
    DWORD dwAccess;
    DWORD dwShare;
    dev_t dev;
    ino_t ino;
    mode_t modeType;   // S_IFMT of its mode: what an open descriptor is never changes
    std::string path;  // as opened, for the trace
    bool fLink;        // a symbolic link opened itself
    bool fAppendOnly;  // opened to append (FILE_APPEND_DATA): no write but at the end
    // With DELETE access: the folder of the name, opened with the file,
    // and the last part of the name, through which the file is acted on.
    int dirfd;
    std::string leaf;
};

struct FINDOBJECT {
    KOBJECT hdr;
    std::vector<WIN32_FIND_DATAA> aFound;
    size_t iNext;
};

thread_local DWORD t_dwLastError = 0;

// Open files, for the sharing rules. Never destroyed, so that handles closed
// from static destructors of other modules still find it.
std::mutex &OpenFilesLock()
{
    static std::mutex *pLock = new std::mutex;
    return *pLock;
}

std::vector<FILEOBJECT *> &OpenFiles()
{
    static std::vector<FILEOBJECT *> *pList = new std::vector<FILEOBJECT *>;
    return *pList;
}

// Opens that ask for no data and no deletion (queries of what a file is)
// take no part in sharing, as on the platform.
const DWORD SHARED_ACCESS = GENERIC_READ | GENERIC_WRITE | DELETE;

bool SharingAllows(const FILEOBJECT *pOpen, DWORD dwAccess, DWORD dwShare)
{
    if (!(dwAccess & SHARED_ACCESS) || !(pOpen->dwAccess & SHARED_ACCESS)) return true;
    if ((dwAccess & DELETE) && !(pOpen->dwShare & FILE_SHARE_DELETE)) return false;
    if ((pOpen->dwAccess & DELETE) && !(dwShare & FILE_SHARE_DELETE)) return false;
    if ((dwAccess & GENERIC_READ) && !(pOpen->dwShare & FILE_SHARE_READ)) return false;
    if ((dwAccess & GENERIC_WRITE) && !(pOpen->dwShare & FILE_SHARE_WRITE)) return false;
    if ((pOpen->dwAccess & GENERIC_READ) && !(dwShare & FILE_SHARE_READ)) return false;
    if ((pOpen->dwAccess & GENERIC_WRITE) && !(dwShare & FILE_SHARE_WRITE)) return false;
    return true;
}

// With the lock held: true when every open of (dev, ino) allows the access.
bool CheckSharing(dev_t dev, ino_t ino, DWORD dwAccess, DWORD dwShare)
{
    for (const FILEOBJECT *pOpen : OpenFiles()) {
        if (pOpen->dev == dev && pOpen->ino == ino && !SharingAllows(pOpen, dwAccess, dwShare))
            return false;
    }
    return true;
}

// True when no open of the file but pSelf refuses its deletion.
bool DeleteAllowedOf(dev_t dev, ino_t ino, const FILEOBJECT *pSelf)
{
    for (const FILEOBJECT *pOpen : OpenFiles()) {
        if (pOpen != pSelf && pOpen->dev == dev && pOpen->ino == ino && (pOpen->dwAccess & SHARED_ACCESS) &&
            !(pOpen->dwShare & FILE_SHARE_DELETE))
            return false;
    }
    return true;
}

// True when no open of the file at the path refuses deletion.
bool DeleteAllowed(const char *pszPath)
{
    struct stat st;
    if (stat(pszPath, &st) != 0) return true;
    return DeleteAllowedOf(st.st_dev, st.st_ino, NULL);
}

// The folder of a name, opened once (following links on the way), and the
// name's last part; false with errno set.
bool OpenEntryPlace(const char *pszPath, int *pDirfd, std::string *pLeaf)
{
    std::string path(pszPath);
    size_t slash = path.find_last_of('/');
    std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
    *pLeaf = slash == std::string::npos ? path : path.substr(slash + 1);
    // A name that ends with '/' names the folder itself.
    if (pLeaf->empty()) *pLeaf = ".";
    *pDirfd = open(folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    return *pDirfd >= 0;
}

// The trace of SpoolTraceFiles.
std::mutex &TraceLock()
{
    static std::mutex *pLock = new std::mutex;
    return *pLock;
}
bool g_fTracing;
std::string &TraceText()
{
    static std::string *pText = new std::string;
    return *pText;
}
void Trace(const char *pszWhat, const std::string &a, const std::string &b = std::string())
{
    if (!g_fTracing) return;
    std::lock_guard<std::mutex> lock(TraceLock());
    TraceText() += std::string(pszWhat) + " " + a + (b.empty() ? "" : " " + b) + "\n";
}

// The lock that an open for writing without sharing holds on its file for
// other processes; false when another process holds it.
bool TakeExclusiveLock(int fd)
{
    struct flock fl;
    memset(&fl, 0, sizeof(fl));
    fl.l_type = F_WRLCK;
    fl.l_whence = SEEK_SET;
    if (fcntl(fd, F_OFD_SETLK, &fl) == 0) return true;
    // A file system without locks cannot be held.
    return errno != EAGAIN && errno != EACCES;
}

// False when another process holds the file's exclusive lock.
bool FreeOfExclusiveLock(int fd)
{
    struct flock fl;
    memset(&fl, 0, sizeof(fl));
    fl.l_type = F_RDLCK;
    fl.l_whence = SEEK_SET;
    if (fcntl(fd, F_OFD_GETLK, &fl) != 0) return true;
    return fl.l_type == F_UNLCK;
}

// Makes a folder's entries reach the disk.
bool FlushFolderOfPath(const std::string &path, bool fIsFolder)
{
    std::string folder = path;
    if (!fIsFolder) {
        size_t slash = path.find_last_of('/');
        folder = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
    }
    int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return false;
    bool fOk = fsync(fd) == 0 || errno == EINVAL;
    close(fd);
    Trace("flushfolder", folder);
    return fOk;
}

FILEOBJECT *FileObject(HANDLE h)
{
    return reinterpret_cast<FILEOBJECT *>(KernelObject(h, KOBJ_FILE));
}


// ---------------------------------------------------------------------------
// The simulated disk

struct SIMDISK {
    std::mutex lock;
    std::string path;          // folder of its files, with a trailing '/'; "" for every file
    bool fTimed = false;       // bandwidth or latency set
    uint64_t cbPerSecond = 0;  // 0: no bandwidth limit
    uint64_t usLatency = 0;
    bool fLimited = false;     // SPOOL_DISK_FREE set
    uint64_t cbFree = 0;
    std::string freeSetting;   // the SPOOL_DISK_FREE that cbFree was taken from
    uint64_t nsStall = 0, nsStallEvery = 0;  // 0: no stalls
    std::string stallSetting;  // the two stall settings that the epoch belongs to
    struct timespec stallEpoch = {0, 0};
    struct timespec busyUntil = {0, 0};
};

SIMDISK &SimDisk()
{
    static SIMDISK *pDisk = new SIMDISK;
    return *pDisk;
}

uint64_t EnvNumber(const char *pszName, bool *pfSet)
{
    const char *psz = getenv(pszName);
    *pfSet = psz != NULL && psz[0] != 0;
    return *pfSet ? strtoull(psz, NULL, 10) : 0;
}

// Reads the settings at an open; true when the file lies on the disk.
bool SimDiskCovers(const char *pszPath)
{
    bool fBandwidth, fLatency, fFree;
    uint64_t cbPerSecond = EnvNumber("SPOOL_DISK_BANDWIDTH", &fBandwidth);
    uint64_t usLatency = EnvNumber("SPOOL_DISK_LATENCY_US", &fLatency);
    uint64_t cbFree = EnvNumber("SPOOL_DISK_FREE", &fFree);
    bool fStall, fStallEvery;
    uint64_t msStall = EnvNumber("SPOOL_DISK_STALL_MS", &fStall);
    uint64_t msStallEvery = EnvNumber("SPOOL_DISK_STALL_EVERY_MS", &fStallEvery);
    if (msStallEvery == 0 || msStall == 0) fStall = false;
    SIMDISK &disk = SimDisk();
    std::lock_guard<std::mutex> lock(disk.lock);
    // The settings' own text: setting them again otherwise spelled starts
    // the stalls over from this open.
    std::string stallSetting = fStall ? std::string(getenv("SPOOL_DISK_STALL_MS")) + "/" + getenv("SPOOL_DISK_STALL_EVERY_MS") : "";
    if (stallSetting != disk.stallSetting) {
        disk.stallSetting = stallSetting;
        clock_gettime(CLOCK_MONOTONIC, &disk.stallEpoch);
    }
    disk.nsStall = fStall ? (msStall < msStallEvery ? msStall : msStallEvery) * 1000000ull : 0;
    disk.nsStallEvery = fStall ? msStallEvery * 1000000ull : 0;
    if (fStall) fLatency = true;
    if (!fBandwidth && !fLatency && !fFree) {
        disk.fTimed = disk.fLimited = false;
        disk.freeSetting.clear();
        return false;
    }
    const char *pszFolder = getenv("SPOOL_DISK_PATH");
    disk.path = pszFolder && pszFolder[0] ? std::string(pszFolder) : std::string();
    if (!disk.path.empty() && disk.path.back() != '/') disk.path += '/';
    disk.fTimed = fBandwidth || fLatency;
    disk.cbPerSecond = cbPerSecond;
    disk.usLatency = usLatency;
    disk.fLimited = fFree;
    std::string freeSetting = fFree ? getenv("SPOOL_DISK_FREE") : "";
    if (freeSetting != disk.freeSetting) {
        disk.freeSetting = freeSetting;
        disk.cbFree = cbFree;
    }
    char szFull[4096];
    if (!realpath(pszPath, szFull)) {
        // A file still to be made: its folder decides.
        std::string dir(pszPath);
        size_t cut = dir.rfind('/');
        dir = cut == std::string::npos ? "." : dir.substr(0, cut == 0 ? 1 : cut);
        if (!realpath(dir.c_str(), szFull)) return false;
        strncat(szFull, "/", sizeof(szFull) - strlen(szFull) - 1);
    }
    if (disk.path.empty()) return true;
    char szDisk[4096];
    std::string diskPath = realpath(disk.path.c_str(), szDisk) ? std::string(szDisk) + "/" : disk.path;
    return strncmp(szFull, diskPath.c_str(), diskPath.size()) == 0;
}

struct timespec AddNanoseconds(struct timespec t, uint64_t ns)
{
    uint64_t total = (uint64_t)t.tv_nsec + ns;
    t.tv_sec += (time_t)(total / 1000000000ull);
    t.tv_nsec = (long)(total % 1000000000ull);
    return t;
}

void SleepUntilTime(const struct timespec &when)
{
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &when, NULL) == EINTR) {
    }
}

// Takes the disk for one transfer of cb bytes: *pReady is when the disk has
// its latency behind it and starts on the bytes, *pDone when it has taken
// them all. False when the disk takes no time.
bool SimDiskSchedule(DWORD cb, struct timespec *pReady, struct timespec *pDone)
{
    SIMDISK &disk = SimDisk();
    std::lock_guard<std::mutex> lock(disk.lock);
    if (!disk.fTimed) return false;
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    struct timespec start = now;
    if (disk.busyUntil.tv_sec > now.tv_sec ||
        (disk.busyUntil.tv_sec == now.tv_sec && disk.busyUntil.tv_nsec > now.tv_nsec))
        start = disk.busyUntil;
    if (disk.nsStallEvery) {
        // A transfer due in a stall starts when the stall is over.
        int64_t nsSince = (int64_t)(start.tv_sec - disk.stallEpoch.tv_sec) * 1000000000ll +
                          (start.tv_nsec - disk.stallEpoch.tv_nsec);
        uint64_t nsPhase = nsSince > 0 ? (uint64_t)nsSince % disk.nsStallEvery : 0;
        if (nsSince > 0 && nsPhase >= disk.nsStallEvery - disk.nsStall)
            start = AddNanoseconds(start, disk.nsStallEvery - nsPhase);
    }
    *pReady = AddNanoseconds(start, disk.usLatency * 1000);
    *pDone = AddNanoseconds(*pReady, disk.cbPerSecond ? (uint64_t)cb * 1000000000ull / disk.cbPerSecond : 0);
    disk.busyUntil = *pDone;
    return true;
}

// How many of cb bytes written at the file's position fit the free space;
// the growth of the file they make is taken from it (*pcbTaken).
DWORD SimDiskReserve(int fd, DWORD cb, uint64_t *pcbTaken)
{
    *pcbTaken = 0;
    SIMDISK &disk = SimDisk();
    std::lock_guard<std::mutex> lock(disk.lock);
    if (!disk.fLimited) return cb;
    struct stat st;
    off_t pos = lseek(fd, 0, SEEK_CUR);
    if (pos < 0 || fstat(fd, &st) != 0) return cb;
    // A handle that appends writes at the end, wherever its pointer is.
    int nFlags = fcntl(fd, F_GETFL);
    if (nFlags >= 0 && (nFlags & O_APPEND)) pos = st.st_size;
    // Writing within the file takes no room; beyond its end it takes what
    // there is.
    uint64_t size = (uint64_t)st.st_size;
    uint64_t end = (uint64_t)pos + cb;
    uint64_t allowedEnd = size + disk.cbFree;
    if (end > allowedEnd) end = allowedEnd > (uint64_t)pos ? allowedEnd : (uint64_t)pos;
    *pcbTaken = end > size ? end - size : 0;
    disk.cbFree -= *pcbTaken;
    return (DWORD)(end - (uint64_t)pos);
}

void SimDiskGiveBack(uint64_t cb)
{
    SIMDISK &disk = SimDisk();
    std::lock_guard<std::mutex> lock(disk.lock);
    if (disk.fLimited) disk.cbFree += cb;
}

// The error for a missing file: ERROR_PATH_NOT_FOUND when its folder is
// missing too, as the platform reports it.
DWORD MissingFileError(const char *pszPath)
{
    std::string dir(pszPath);
    size_t cut = dir.rfind('/');
    if (cut == std::string::npos) return ERROR_FILE_NOT_FOUND;
    dir.resize(cut == 0 ? 1 : cut);
    struct stat st;
    if (stat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return ERROR_PATH_NOT_FOUND;
    return ERROR_FILE_NOT_FOUND;
}

void FillFindData(WIN32_FIND_DATAA *pData, const char *pszName, const struct stat &st)
{
    memset(pData, 0, sizeof(*pData));
    pData->dwFileAttributes = S_ISDIR(st.st_mode) ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_ARCHIVE;
    if (!(st.st_mode & S_IWUSR)) pData->dwFileAttributes |= FILE_ATTRIBUTE_READONLY;
    uint64_t size = S_ISDIR(st.st_mode) ? 0 : (uint64_t)st.st_size;
    pData->nFileSizeHigh = (DWORD)(size >> 32);
    pData->nFileSizeLow = (DWORD)size;
    // FILETIME counts 100 ns units from 1601.
    uint64_t t = ((uint64_t)st.st_mtime + 11644473600ULL) * 10000000ULL;
    pData->ftLastWriteTime.dwLowDateTime = (DWORD)t;
    pData->ftLastWriteTime.dwHighDateTime = (DWORD)(t >> 32);
    pData->ftCreationTime = pData->ftLastWriteTime;
    pData->ftLastAccessTime = pData->ftLastWriteTime;
    strncpy(pData->cFileName, pszName, MAX_PATH - 1);
}

}  // namespace

// ---------------------------------------------------------------------------
// Errors

extern "C" DWORD WINAPI GetLastError(void) { return t_dwLastError; }
extern "C" void WINAPI SetLastError(DWORD dwErrCode) { t_dwLastError = dwErrCode; }

DWORD Win32ErrorFromErrno(int nErrno)
{
    switch (nErrno) {
    case 0: return ERROR_SUCCESS;
    case ENOENT: return ERROR_FILE_NOT_FOUND;
    case ENOTDIR: return ERROR_PATH_NOT_FOUND;
    case EACCES:
    case EPERM:
    case EISDIR:
    case EROFS: return ERROR_ACCESS_DENIED;
    case EEXIST: return ERROR_ALREADY_EXISTS;
    case ENOSPC:
    case EFBIG:
    case EDQUOT: return ERROR_DISK_FULL;
    case ENAMETOOLONG: return ERROR_FILENAME_EXCED_RANGE;
    case EMFILE:
    case ENFILE: return ERROR_TOO_MANY_OPEN_FILES;
    case ENOMEM: return ERROR_NOT_ENOUGH_MEMORY;
    case EBADF: return ERROR_INVALID_HANDLE;
    case ENOTEMPTY: return ERROR_DIR_NOT_EMPTY;
    case EINVAL: return ERROR_INVALID_PARAMETER;
    default: return ERROR_WRITE_FAULT;
    }
}

KOBJECT *KernelObject(HANDLE h, DWORD dwKind)
{
    if (h == NULL || h == INVALID_HANDLE_VALUE) {
        SetLastError(ERROR_INVALID_HANDLE);
        return NULL;
    }
    KOBJECT *pObj = static_cast<KOBJECT *>(h);
    if (pObj->dwKind != dwKind) {
        SetLastError(ERROR_INVALID_HANDLE);
        return NULL;
    }
    return pObj;
}

bool IsRegularFile(const std::string &path)
{
    struct stat st;
    return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// ---------------------------------------------------------------------------
// Faults injected for the tests

namespace {

struct FAULTS {
    std::atomic<unsigned> anCalls[SPOOLFAULT_COUNT];
    std::atomic<unsigned> anFailAt[SPOOLFAULT_COUNT];
};

FAULTS &Faults()
{
    static FAULTS s_faults;
    return s_faults;
}

// Counts a call of the operation; TRUE when this one is to fail.
bool FaultHere(int nOperation)
{
    FAULTS &faults = Faults();
    unsigned nCall = ++faults.anCalls[nOperation];
    if (nCall != faults.anFailAt[nOperation].load()) return false;
    SetLastError(ERROR_WRITE_FAULT);
    return true;
}

// Counts a write; TRUE from the call armed for lost writes on.
bool WritesLost()
{
    FAULTS &faults = Faults();
    unsigned nCall = ++faults.anCalls[SPOOLFAULT_WRITE_LOST];
    unsigned nFrom = faults.anFailAt[SPOOLFAULT_WRITE_LOST].load();
    return nFrom != 0 && nCall >= nFrom;
}

}  // namespace

bool ProfileCutHere() { return FaultHere(SPOOLFAULT_PROFILE_CUT); }

extern "C" void SpoolArmFault(int nOperation, unsigned nCall)
{
    if (nOperation < 0 || nOperation >= SPOOLFAULT_COUNT) return;
    Faults().anCalls[nOperation] = 0;
    Faults().anFailAt[nOperation] = nCall;
}

extern "C" unsigned SpoolFaultCalls(int nOperation)
{
    return nOperation >= 0 && nOperation < SPOOLFAULT_COUNT ? Faults().anCalls[nOperation].load() : 0;
}

// ---------------------------------------------------------------------------
// Files

extern "C" HANDLE WINAPI CreateFileA(LPCSTR lpFileName, DWORD dwDesiredAccess, DWORD dwShareMode,
                                     LPSECURITY_ATTRIBUTES, DWORD dwCreationDisposition,
                                     DWORD dwFlagsAndAttributes, HANDLE)
{
    if (lpFileName == NULL || lpFileName[0] == 0) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    if ((dwCreationDisposition == CREATE_NEW || dwCreationDisposition == CREATE_ALWAYS) && FaultHere(SPOOLFAULT_CREATE))
        return INVALID_HANDLE_VALUE;
    // FILE_FLAG_OPEN_REPARSE_POINT opens a link in the name's last part
    // itself, never what it points at.
    const bool fNoFollow = (dwFlagsAndAttributes & FILE_FLAG_OPEN_REPARSE_POINT) != 0;
    // Appending is writing, every write at the file's end at the time:
    // shared and refused as writing is.
    const bool fAppend = (dwDesiredAccess & FILE_APPEND_DATA) && !(dwDesiredAccess & GENERIC_WRITE);
    if (fAppend) dwDesiredAccess = (dwDesiredAccess & ~FILE_APPEND_DATA) | GENERIC_WRITE;
    const bool fData = (dwDesiredAccess & (GENERIC_READ | GENERIC_WRITE)) != 0;
    // Nothing waits in the open: a FIFO or a device opens at once (and then
    // gives no data), as a file does.
    int oflags = O_CLOEXEC | O_NONBLOCK;
    if ((dwDesiredAccess & GENERIC_READ) && (dwDesiredAccess & GENERIC_WRITE))
        oflags |= O_RDWR;
    else if (dwDesiredAccess & GENERIC_WRITE)
        oflags |= O_WRONLY;
    else
        oflags |= O_RDONLY;
    if (dwFlagsAndAttributes & FILE_FLAG_WRITE_THROUGH) oflags |= O_DSYNC;
    if (fAppend) oflags |= O_APPEND;

    std::lock_guard<std::mutex> lock(OpenFilesLock());

    // The folder is opened once: the file is opened in it, and with DELETE
    // access it is later acted on through it.
    int dirfd = -1;
    std::string leaf;
    if (!OpenEntryPlace(lpFileName, &dirfd, &leaf)) {
        SetLastError(errno == ENOENT || errno == ENOTDIR ? ERROR_PATH_NOT_FOUND : Win32ErrorFromErrno(errno));
        return INVALID_HANDLE_VALUE;
    }
    struct stat st;
    bool fExists = fstatat(dirfd, leaf.c_str(), &st, fNoFollow ? AT_SYMLINK_NOFOLLOW : 0) == 0;
    bool fLink = fExists && S_ISLNK(st.st_mode);
    auto Fail = [&](DWORD dwError) {
        close(dirfd);
        SetLastError(dwError);
        return INVALID_HANDLE_VALUE;
    };
    if (fExists && S_ISDIR(st.st_mode) && !(dwFlagsAndAttributes & FILE_FLAG_BACKUP_SEMANTICS))
        return Fail(ERROR_ACCESS_DENIED);
    switch (dwCreationDisposition) {
    case CREATE_NEW:
        if (fExists) return Fail(ERROR_FILE_EXISTS);
        // Never through a link: O_EXCL refuses a name that is one, dangling
        // or not.
        oflags |= O_CREAT | O_EXCL;
        break;
    case CREATE_ALWAYS: oflags |= O_CREAT | (fExists ? O_TRUNC : 0); break;
    case OPEN_EXISTING:
        if (!fExists) return Fail(MissingFileError(lpFileName));
        break;
    case OPEN_ALWAYS: oflags |= O_CREAT; break;
    case TRUNCATE_EXISTING:
        if (!fExists) return Fail(MissingFileError(lpFileName));
        oflags |= O_TRUNC;
        break;
    default: return Fail(ERROR_INVALID_PARAMETER);
    }
    // The sharing check comes before any truncation of an existing file.
    if (fExists && !CheckSharing(st.st_dev, st.st_ino, dwDesiredAccess, dwShareMode)) return Fail(ERROR_SHARING_VIOLATION);
    // A simulated file emptied by its opening gives its bytes back.
    bool fTruncates = fExists && (oflags & O_TRUNC) && st.st_size > 0;
    uint64_t cbTruncated = fTruncates ? (uint64_t)st.st_size : 0;
    // An existing file is emptied only once no other process's lock stands
    // in the way.
    bool fTruncateLater = fExists && (oflags & O_TRUNC);
    if (fTruncateLater) oflags &= ~O_TRUNC;
    // A link opened itself, and a query of what a file is, read no data.
    bool fPathOnly = fLink || (!fData && fExists);
    if (fPathOnly) oflags = O_PATH | O_CLOEXEC | (fNoFollow ? O_NOFOLLOW : 0);
    else if (fExists && S_ISDIR(st.st_mode)) oflags = O_RDONLY | O_DIRECTORY | O_CLOEXEC;
    else if (fNoFollow) oflags |= O_NOFOLLOW;
    int fd = openat(dirfd, leaf.c_str(), oflags, 0666);
    if (fd < 0) {
        DWORD dwErr = Win32ErrorFromErrno(errno);
        if (errno == ENOENT) dwErr = MissingFileError(lpFileName);
        // A file made by someone else since the look above, or a link.
        if (errno == EEXIST && dwCreationDisposition == CREATE_NEW) dwErr = ERROR_FILE_EXISTS;
        if (errno == ELOOP) dwErr = ERROR_CANT_RESOLVE_FILENAME;
        // A FIFO without a reader refuses a writer at once.
        if (errno == ENXIO) dwErr = ERROR_ACCESS_DENIED;
        return Fail(dwErr);
    }
    if (fstat(fd, &st) != 0) {
        close(fd);
        return Fail(ERROR_ACCESS_DENIED);
    }
    // A file's reads and writes wait for the disk as usual.
    if (!fPathOnly && S_ISREG(st.st_mode)) fcntl(fd, F_SETFL, oflags & ~O_NONBLOCK);
    if (!fPathOnly && (dwFlagsAndAttributes & FILE_FLAG_SEQUENTIAL_SCAN)) posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
    // Another process's open that shares nothing; or this one's, which
    // another process must not get past.
    bool fExclusive = dwShareMode == 0 && (dwDesiredAccess & GENERIC_WRITE);
    if (!fPathOnly && !(fExclusive ? TakeExclusiveLock(fd) : FreeOfExclusiveLock(fd))) {
        close(fd);
        if (!fExists) unlinkat(dirfd, leaf.c_str(), 0);
        return Fail(ERROR_SHARING_VIOLATION);
    }
    if (fTruncateLater && ftruncate(fd, 0) != 0) {
        DWORD dwErr = Win32ErrorFromErrno(errno);
        close(fd);
        return Fail(dwErr);
    }
    if (!fExists) Trace("create", lpFileName);
    FILEOBJECT *pFile = new FILEOBJECT;
    pFile->hdr.dwKind = KOBJ_FILE;
    pFile->fd = fd;
    pFile->fSimulated = !fPathOnly && SimDiskCovers(lpFileName);
    if (pFile->fSimulated && cbTruncated) SimDiskGiveBack(cbTruncated);
    pFile->posPending = -1;
    pFile->fWriteBehind = !fPathOnly && S_ISREG(st.st_mode) && (dwDesiredAccess & GENERIC_WRITE) &&
                          (dwFlagsAndAttributes & FILE_FLAG_SEQUENTIAL_SCAN) &&
                          !(dwFlagsAndAttributes & FILE_FLAG_WRITE_THROUGH);
    pFile->dwAccess = dwDesiredAccess;
    pFile->dwShare = dwShareMode;
    pFile->dev = st.st_dev;
    pFile->ino = st.st_ino;
    pFile->modeType = st.st_mode & S_IFMT;
    pFile->path = lpFileName;
    pFile->fLink = fLink;
    pFile->fAppendOnly = fAppend;
    if (dwDesiredAccess & DELETE) {
        pFile->dirfd = dirfd;
        pFile->leaf = leaf;
    } else {
        close(dirfd);
        pFile->dirfd = -1;
    }
    OpenFiles().push_back(pFile);
    bool fReportExisting = fExists && (dwCreationDisposition == CREATE_ALWAYS ||
                                       dwCreationDisposition == OPEN_ALWAYS);
    SetLastError(fReportExisting ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
    return pFile;
}

namespace {

// The descriptor's offset where the file's pointer is; FALSE when it
// cannot be put there.
bool SettlePointer(FILEOBJECT *pFile)
{
    if (pFile->posPending < 0) return true;
    off_t pos = (off_t)pFile->posPending;
    if (lseek(pFile->fd, pos, SEEK_SET) != pos) {
        SetLastError(Win32ErrorFromErrno(errno));
        return false;
    }
    pFile->posPending = -1;
    return true;
}

// The place an OVERLAPPED names; FALSE (ERROR_INVALID_PARAMETER) for one
// past what a file's offset can be.
bool PlaceOf(const OVERLAPPED *pOverlapped, int64_t *pPos)
{
    uint64_t pos = ((uint64_t)pOverlapped->OffsetHigh << 32) | pOverlapped->Offset;
    if (pos > (uint64_t)INT64_MAX) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    *pPos = (int64_t)pos;
    return true;
}

}  // namespace

extern "C" BOOL WINAPI ReadFile(HANDLE hFile, LPVOID lpBuffer, DWORD nNumberOfBytesToRead,
                                LPDWORD lpNumberOfBytesRead, LPOVERLAPPED lpOverlapped)
{
    if (lpNumberOfBytesRead) *lpNumberOfBytesRead = 0;
    FILEOBJECT *pFile = FileObject(hFile);
    if (!pFile) return FALSE;
    if (!(pFile->dwAccess & GENERIC_READ)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    if (FaultHere(SPOOLFAULT_READ)) return FALSE;
    // A read at a place leaves the pointer after its bytes; the descriptor
    // is put there only when something goes by it.
    int64_t pos = -1;
    if (lpOverlapped && !PlaceOf(lpOverlapped, &pos)) return FALSE;
    if (pos < 0 && !SettlePointer(pFile)) return FALSE;
    // A read's bytes arrive when the disk is done with them.
    struct timespec ready, done;
    if (pFile->fSimulated && SimDiskSchedule(nNumberOfBytesToRead, &ready, &done)) SleepUntilTime(done);
    DWORD dwDone = 0;
    while (dwDone < nNumberOfBytesToRead) {
        ssize_t n = pos >= 0 ? pread(pFile->fd, static_cast<char *>(lpBuffer) + dwDone, nNumberOfBytesToRead - dwDone,
                                     (off_t)(pos + dwDone))
                             : read(pFile->fd, static_cast<char *>(lpBuffer) + dwDone, nNumberOfBytesToRead - dwDone);
        if (n < 0) {
            if (errno == EINTR) continue;
            if (lpNumberOfBytesRead) *lpNumberOfBytesRead = dwDone;
            SetLastError(Win32ErrorFromErrno(errno));
            return FALSE;
        }
        if (n == 0) break;  // end of file: success with fewer bytes
        dwDone += (DWORD)n;
    }
    if (lpNumberOfBytesRead) *lpNumberOfBytesRead = dwDone;
    if (pos < 0) return TRUE;
    pFile->posPending = pos + dwDone;
    // A read at a place that finds the file's end there says so.
    if (!dwDone && nNumberOfBytesToRead) {
        SetLastError(ERROR_HANDLE_EOF);
        return FALSE;
    }
    return TRUE;
}

extern "C" BOOL WINAPI WriteFile(HANDLE hFile, LPCVOID lpBuffer, DWORD nNumberOfBytesToWrite,
                                 LPDWORD lpNumberOfBytesWritten, LPOVERLAPPED lpOverlapped)
{
    if (lpNumberOfBytesWritten) *lpNumberOfBytesWritten = 0;
    FILEOBJECT *pFile = FileObject(hFile);
    if (!pFile) return FALSE;
    int64_t pos = -1;
    if (lpOverlapped && !PlaceOf(lpOverlapped, &pos)) return FALSE;
    if (!(pFile->dwAccess & GENERIC_WRITE)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    if (FaultHere(SPOOLFAULT_WRITE)) return FALSE;
    // A write at a place: from there, the pointer after its bytes.
    if (pos >= 0) pFile->posPending = pos;
    if (!SettlePointer(pFile)) return FALSE;
    if (WritesLost()) {
        if (lpNumberOfBytesWritten) *lpNumberOfBytesWritten = nNumberOfBytesToWrite;
        return TRUE;
    }
    DWORD cbToWrite = nNumberOfBytesToWrite;
    uint64_t cbTaken = 0;
    // A write waits for the disk's latency; its bytes are then in the file
    // (the system's cache) while the call waits for the disk to take them.
    struct timespec ready, done;
    bool fTimed = pFile->fSimulated && SimDiskSchedule(nNumberOfBytesToWrite, &ready, &done);
    if (fTimed) SleepUntilTime(ready);
    if (pFile->fSimulated) cbToWrite = SimDiskReserve(pFile->fd, nNumberOfBytesToWrite, &cbTaken);
    DWORD dwDone = 0;
    off_t offStart = pFile->fWriteBehind ? lseek(pFile->fd, 0, SEEK_CUR) : -1;
    while (dwDone < cbToWrite) {
        ssize_t n = write(pFile->fd, static_cast<const char *>(lpBuffer) + dwDone, cbToWrite - dwDone);
        if (n < 0) {
            if (errno == EINTR) continue;
            int nErrno = errno;
            // The room taken for bytes that were not written comes back.
            if (cbTaken) SimDiskGiveBack(cbTaken < (uint64_t)(cbToWrite - dwDone) ? cbTaken : cbToWrite - dwDone);
            if (lpNumberOfBytesWritten) *lpNumberOfBytesWritten = dwDone;
            SetLastError(Win32ErrorFromErrno(nErrno));
            return FALSE;
        }
        dwDone += (DWORD)n;
    }
    if (fTimed) SleepUntilTime(done);
#ifdef SYNC_FILE_RANGE_WRITE
    if (offStart >= 0 && dwDone) sync_file_range(pFile->fd, offStart, dwDone, SYNC_FILE_RANGE_WRITE);
#endif
    if (lpNumberOfBytesWritten) *lpNumberOfBytesWritten = dwDone;
    if (dwDone < nNumberOfBytesToWrite) {
        SetLastError(ERROR_DISK_FULL);
        return FALSE;
    }
    return TRUE;
}

extern "C" DWORD WINAPI SetFilePointer(HANDLE hFile, LONG lDistanceToMove, PLONG lpDistanceToMoveHigh,
                                       DWORD dwMoveMethod)
{
    FILEOBJECT *pFile = FileObject(hFile);
    if (!pFile) return INVALID_SET_FILE_POINTER;
    int64_t distance = lpDistanceToMoveHigh
                           ? (int64_t)(((uint64_t)(uint32_t)*lpDistanceToMoveHigh << 32) |
                                       (uint32_t)lDistanceToMove)
                           : (int64_t)lDistanceToMove;
    int64_t base;
    if (dwMoveMethod == FILE_BEGIN) {
        base = 0;
    } else if (dwMoveMethod == FILE_CURRENT) {
        base = pFile->posPending >= 0 ? pFile->posPending : lseek(pFile->fd, 0, SEEK_CUR);
    } else if (dwMoveMethod == FILE_END) {
        struct stat st;
        base = fstat(pFile->fd, &st) == 0 ? st.st_size : -1;
    } else {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_SET_FILE_POINTER;
    }
    if (base < 0) {
        SetLastError(Win32ErrorFromErrno(errno));
        return INVALID_SET_FILE_POINTER;
    }
    int64_t target = base + distance;
    if (target < 0) {
        SetLastError(ERROR_NEGATIVE_SEEK);
        return INVALID_SET_FILE_POINTER;
    }
    // Without a high part the new position must fit 32 bits.
    if (!lpDistanceToMoveHigh && target > (int64_t)0xFFFFFFFE) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_SET_FILE_POINTER;
    }
    pFile->posPending = -1;
    if (lseek(pFile->fd, target, SEEK_SET) < 0) {
        SetLastError(Win32ErrorFromErrno(errno));
        return INVALID_SET_FILE_POINTER;
    }
    if (lpDistanceToMoveHigh) *lpDistanceToMoveHigh = (LONG)(target >> 32);
    SetLastError(ERROR_SUCCESS);
    return (DWORD)target;
}

extern "C" DWORD WINAPI GetFileSize(HANDLE hFile, LPDWORD lpFileSizeHigh)
{
    FILEOBJECT *pFile = FileObject(hFile);
    if (!pFile) return INVALID_FILE_SIZE;
    struct stat st;
    if (fstat(pFile->fd, &st) != 0) {
        SetLastError(Win32ErrorFromErrno(errno));
        return INVALID_FILE_SIZE;
    }
    if (lpFileSizeHigh) *lpFileSizeHigh = (DWORD)((uint64_t)st.st_size >> 32);
    SetLastError(ERROR_SUCCESS);
    return (DWORD)st.st_size;
}

extern "C" BOOL WINAPI SetEndOfFile(HANDLE hFile)
{
    FILEOBJECT *pFile = FileObject(hFile);
    if (!pFile || !SettlePointer(pFile)) return FALSE;
    // Appending gives no right to cut the file.
    if (pFile->fAppendOnly) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    off_t pos = lseek(pFile->fd, 0, SEEK_CUR);
    struct stat st;
    bool fShrinks = pFile->fSimulated && fstat(pFile->fd, &st) == 0 && st.st_size > pos;
    if (pos < 0 || ftruncate(pFile->fd, pos) != 0) {
        SetLastError(Win32ErrorFromErrno(errno));
        return FALSE;
    }
    if (fShrinks) SimDiskGiveBack((uint64_t)(st.st_size - pos));
    return TRUE;
}

extern "C" BOOL WINAPI FlushFileBuffers(HANDLE hFile)
{
    FILEOBJECT *pFile = FileObject(hFile);
    if (!pFile) return FALSE;
    if (FaultHere(SPOOLFAULT_FLUSH)) return FALSE;
    if (fsync(pFile->fd) != 0) {
        SetLastError(Win32ErrorFromErrno(errno));
        return FALSE;
    }
    Trace("flush", pFile->path);
    return TRUE;
}

extern "C" BOOL WINAPI GetFileInformationByHandle(HANDLE hFile, LPBY_HANDLE_FILE_INFORMATION lpInfo)
{
    FILEOBJECT *pFile = FileObject(hFile);
    struct stat st;
    if (!pFile || !lpInfo) return FALSE;
    if (fstat(pFile->fd, &st) != 0) {
        SetLastError(Win32ErrorFromErrno(errno));
        return FALSE;
    }
    memset(lpInfo, 0, sizeof(*lpInfo));
    lpInfo->dwFileAttributes = S_ISDIR(st.st_mode) ? FILE_ATTRIBUTE_DIRECTORY
                               : S_ISLNK(st.st_mode) ? FILE_ATTRIBUTE_REPARSE_POINT
                                                     : FILE_ATTRIBUTE_NORMAL;
    uint64_t dev = (uint64_t)st.st_dev;
    lpInfo->dwVolumeSerialNumber = (DWORD)(dev ^ (dev >> 32));
    lpInfo->nFileSizeHigh = (DWORD)((uint64_t)st.st_size >> 32);
    lpInfo->nFileSizeLow = (DWORD)st.st_size;
    lpInfo->nNumberOfLinks = (DWORD)st.st_nlink;
    lpInfo->nFileIndexHigh = (DWORD)((uint64_t)st.st_ino >> 32);
    lpInfo->nFileIndexLow = (DWORD)st.st_ino;
    return TRUE;
}

extern "C" DWORD WINAPI GetFileType(HANDLE hFile)
{
    FILEOBJECT *pFile = FileObject(hFile);
    if (!pFile) return FILE_TYPE_UNKNOWN;
    mode_t mode = pFile->modeType;
    SetLastError(NO_ERROR);
    if (S_ISREG(mode) || S_ISDIR(mode) || S_ISLNK(mode)) return FILE_TYPE_DISK;
    if (S_ISCHR(mode)) return FILE_TYPE_CHAR;
    if (S_ISFIFO(mode) || S_ISSOCK(mode)) return FILE_TYPE_PIPE;
    return FILE_TYPE_UNKNOWN;
}

extern "C" DWORD WINAPI GetFinalPathNameByHandleA(HANDLE hFile, LPSTR lpszFilePath, DWORD cchFilePath, DWORD)
{
    FILEOBJECT *pFile = FileObject(hFile);
    if (!pFile) return 0;
    char szLink[64], szPath[4096];
    snprintf(szLink, sizeof(szLink), "/proc/self/fd/%d", pFile->fd);
    ssize_t cch = readlink(szLink, szPath, sizeof(szPath) - 1);
    if (cch <= 0) {
        SetLastError(cch < 0 ? Win32ErrorFromErrno(errno) : ERROR_INVALID_HANDLE);
        return 0;
    }
    szPath[cch] = '\0';
    if ((DWORD)cch + 1 > cchFilePath) return (DWORD)cch + 1;
    memcpy(lpszFilePath, szPath, (size_t)cch + 1);
    return (DWORD)cch;
}

namespace {

// The entry through which a handle opened with DELETE access acts: still
// the handle's file? ERROR_SUCCESS, or why not.
DWORD EntryStillOfHandle(const FILEOBJECT *pFile, struct stat *pst)
{
    if (!(pFile->dwAccess & DELETE) || pFile->dirfd < 0) return ERROR_ACCESS_DENIED;
    struct stat stFile;
    if (fstat(pFile->fd, &stFile) != 0) return Win32ErrorFromErrno(errno);
    if (fstatat(pFile->dirfd, pFile->leaf.c_str(), pst, AT_SYMLINK_NOFOLLOW) != 0) return ERROR_FILE_NOT_FOUND;
    if (pst->st_dev != stFile.st_dev || pst->st_ino != stFile.st_ino) return ERROR_FILE_NOT_FOUND;
    return ERROR_SUCCESS;
}

std::string Utf8OfWide(const WCHAR *pwsz, size_t cwch)
{
    std::string out;
    int cb = WideCharToMultiByte(CP_UTF8, 0, pwsz, (int)cwch, NULL, 0, NULL, NULL);
    if (cb <= 0) return out;
    out.resize((size_t)cb);
    WideCharToMultiByte(CP_UTF8, 0, pwsz, (int)cwch, &out[0], cb, NULL, NULL);
    return out;
}

}  // namespace

extern "C" BOOL WINAPI SetFileInformationByHandle(HANDLE hFile, FILE_INFO_BY_HANDLE_CLASS FileInformationClass,
                                                  LPVOID lpFileInformation, DWORD dwBufferSize)
{
    FILEOBJECT *pFile = FileObject(hFile);
    if (!pFile) return FALSE;
    if (!lpFileInformation) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    std::lock_guard<std::mutex> lock(OpenFilesLock());
    struct stat st;
    if (FileInformationClass == FileDispositionInfo) {
        if (dwBufferSize < sizeof(FILE_DISPOSITION_INFO)) {
            SetLastError(ERROR_BAD_LENGTH);
            return FALSE;
        }
        if (!static_cast<const FILE_DISPOSITION_INFO *>(lpFileInformation)->DeleteFile) return TRUE;
        if (FaultHere(SPOOLFAULT_DELETE)) return FALSE;
        DWORD dwError = EntryStillOfHandle(pFile, &st);
        if (dwError == ERROR_SUCCESS && !DeleteAllowedOf(st.st_dev, st.st_ino, pFile)) dwError = ERROR_SHARING_VIOLATION;
        if (dwError == ERROR_SUCCESS && unlinkat(pFile->dirfd, pFile->leaf.c_str(), S_ISDIR(st.st_mode) ? AT_REMOVEDIR : 0) != 0)
            dwError = Win32ErrorFromErrno(errno);
        if (dwError != ERROR_SUCCESS) {
            SetLastError(dwError);
            return FALSE;
        }
        Trace("delete", pFile->path);
        if (pFile->fSimulated || (S_ISREG(st.st_mode) && SimDiskCovers(pFile->path.c_str())))
            SimDiskGiveBack((uint64_t)st.st_size);
        return TRUE;
    }
    if (FileInformationClass != FileRenameInfo) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    const FILE_RENAME_INFO *pRename = static_cast<const FILE_RENAME_INFO *>(lpFileInformation);
    if (dwBufferSize < sizeof(FILE_RENAME_INFO) ||
        pRename->FileNameLength > dwBufferSize - offsetof(FILE_RENAME_INFO, FileName) || pRename->RootDirectory) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (FaultHere(SPOOLFAULT_MOVE)) return FALSE;
    size_t cwch = pRename->FileNameLength / sizeof(WCHAR);
    const WCHAR *pwsz = pRename->FileName;
    // The native form of a full path.
    static const WCHAR s_awNative[] = {'\\', '?', '?', '\\'};
    if (cwch >= 4 && memcmp(pwsz, s_awNative, sizeof(s_awNative)) == 0) pwsz += 4, cwch -= 4;
    std::string to = Utf8OfWide(pwsz, cwch);
    DWORD dwError = to.empty() ? ERROR_INVALID_PARAMETER : EntryStillOfHandle(pFile, &st);
    if (dwError == ERROR_SUCCESS && !DeleteAllowedOf(st.st_dev, st.st_ino, pFile)) dwError = ERROR_SHARING_VIOLATION;
    struct stat stTo;
    if (dwError == ERROR_SUCCESS && lstat(to.c_str(), &stTo) == 0) {
        if (!pRename->ReplaceIfExists) dwError = ERROR_ALREADY_EXISTS;
        else if (S_ISDIR(stTo.st_mode) || !DeleteAllowedOf(stTo.st_dev, stTo.st_ino, pFile)) dwError = ERROR_ACCESS_DENIED;
    }
    if (dwError == ERROR_SUCCESS &&
        renameat2(pFile->dirfd, pFile->leaf.c_str(), AT_FDCWD, to.c_str(), pRename->ReplaceIfExists ? 0 : RENAME_NOREPLACE) != 0) {
        dwError = errno == EXDEV    ? ERROR_NOT_SAME_DEVICE
                  : errno == EEXIST ? ERROR_ALREADY_EXISTS
                  : errno == ENOENT ? MissingFileError(to.c_str())
                                    : Win32ErrorFromErrno(errno);
    }
    if (dwError != ERROR_SUCCESS) {
        SetLastError(dwError);
        return FALSE;
    }
    Trace("move", pFile->path, to);
    // The handle's name is the new one.
    int dirfd = -1;
    std::string leaf;
    if (OpenEntryPlace(to.c_str(), &dirfd, &leaf)) {
        close(pFile->dirfd);
        pFile->dirfd = dirfd;
        pFile->leaf = leaf;
    }
    pFile->path = to;
    return TRUE;
}

extern "C" BOOL SpoolFlushFolder(LPCSTR pszPath)
{
    struct stat st;
    if (!pszPath || !*pszPath) return FALSE;
    bool fIsFolder = stat(pszPath, &st) == 0 && S_ISDIR(st.st_mode);
    return FlushFolderOfPath(pszPath, fIsFolder) ? TRUE : FALSE;
}

extern "C" void SpoolTraceFiles(BOOL fOn)
{
    std::lock_guard<std::mutex> lock(TraceLock());
    g_fTracing = fOn != FALSE;
    TraceText().clear();
}

extern "C" const char *SpoolFileTrace(void) { return TraceText().c_str(); }

extern "C" BOOL WINAPI CloseHandle(HANDLE hObject)
{
    if (hObject == NULL || hObject == INVALID_HANDLE_VALUE) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    KOBJECT *pObj = static_cast<KOBJECT *>(hObject);
    switch (pObj->dwKind) {
    case KOBJ_FILE: {
        FILEOBJECT *pFile = reinterpret_cast<FILEOBJECT *>(pObj);
        {
            std::lock_guard<std::mutex> lock(OpenFilesLock());
            std::vector<FILEOBJECT *> &list = OpenFiles();
            list.erase(std::remove(list.begin(), list.end(), pFile), list.end());
        }
        close(pFile->fd);
        if (pFile->dirfd >= 0) close(pFile->dirfd);
        pFile->hdr.dwKind = 0;
        delete pFile;
        return FaultHere(SPOOLFAULT_CLOSE) ? FALSE : TRUE;
    }
    case KOBJ_EVENT: return CloseEventObject(pObj);
    case KOBJ_THREAD: return CloseThreadObject(pObj);
    case KOBJ_PROCESS: return CloseProcessObject(pObj);
    default: SetLastError(ERROR_INVALID_HANDLE); return FALSE;
    }
}

// ---------------------------------------------------------------------------
// Directory search

bool MatchFilePattern(const char *pszPattern, const char *pszName)
{
    // A pattern ending in ".*" also matches a name without that dot, as
    // directory listings of the platform do ("take.*" lists "take").
    size_t nPat = strlen(pszPattern);
    if (nPat >= 2 && strcmp(pszPattern + nPat - 2, ".*") == 0) {
        std::string stem(pszPattern, nPat - 2);
        if (MatchFilePattern(stem.c_str(), pszName)) return true;
    }
    const char *p = pszPattern;
    const char *s = pszName;
    const char *pStar = NULL;
    const char *sStar = NULL;
    while (*s) {
        if (*p == '*') {
            pStar = p++;
            sStar = s;
        } else if (*p == '?' || (*p && tolower((unsigned char)*p) == tolower((unsigned char)*s))) {
            p++;
            s++;
        } else if (pStar) {
            p = pStar + 1;
            s = ++sStar;
        } else {
            return false;
        }
    }
    while (*p == '*') p++;
    return *p == 0;
}

extern "C" HANDLE WINAPI FindFirstFileA(LPCSTR lpFileName, LPWIN32_FIND_DATAA lpFindFileData)
{
    if (lpFileName == NULL || lpFileName[0] == 0) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    std::string path(lpFileName);
    size_t cut = path.rfind('/');
    std::string dir = cut == std::string::npos ? "." : path.substr(0, cut == 0 ? 1 : cut);
    std::string pattern = cut == std::string::npos ? path : path.substr(cut + 1);
    if (pattern.empty()) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    DIR *pDir = opendir(dir.c_str());
    if (!pDir) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    FINDOBJECT *pFind = new FINDOBJECT;
    pFind->hdr.dwKind = KOBJ_FIND;
    pFind->iNext = 0;
    while (struct dirent *pEnt = readdir(pDir)) {
        if (strlen(pEnt->d_name) >= MAX_PATH) continue;
        if (!MatchFilePattern(pattern.c_str(), pEnt->d_name)) continue;
        // A link is listed as itself, a reparse point (a folder when it
        // leads to one), whether or not what it leads to is there.
        struct stat st, stTarget;
        std::string full = dir + "/" + pEnt->d_name;
        if (lstat(full.c_str(), &st) != 0) continue;
        bool fLink = S_ISLNK(st.st_mode);
        WIN32_FIND_DATAA data;
        if (fLink) {
            bool fToFolder = stat(full.c_str(), &stTarget) == 0 && S_ISDIR(stTarget.st_mode);
            FillFindData(&data, pEnt->d_name, st);
            data.nFileSizeHigh = data.nFileSizeLow = 0;
            data.dwFileAttributes = FILE_ATTRIBUTE_REPARSE_POINT | (fToFolder ? FILE_ATTRIBUTE_DIRECTORY : 0);
        } else {
            FillFindData(&data, pEnt->d_name, st);
        }
        pFind->aFound.push_back(data);
    }
    closedir(pDir);
    if (pFind->aFound.empty()) {
        delete pFind;
        SetLastError(ERROR_FILE_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    *lpFindFileData = pFind->aFound[pFind->iNext++];
    SetLastError(ERROR_SUCCESS);
    return pFind;
}

extern "C" BOOL WINAPI FindNextFileA(HANDLE hFindFile, LPWIN32_FIND_DATAA lpFindFileData)
{
    FINDOBJECT *pFind = reinterpret_cast<FINDOBJECT *>(KernelObject(hFindFile, KOBJ_FIND));
    if (!pFind) return FALSE;
    if (pFind->iNext >= pFind->aFound.size()) {
        SetLastError(ERROR_NO_MORE_FILES);
        return FALSE;
    }
    *lpFindFileData = pFind->aFound[pFind->iNext++];
    return TRUE;
}

extern "C" BOOL WINAPI FindClose(HANDLE hFindFile)
{
    FINDOBJECT *pFind = reinterpret_cast<FINDOBJECT *>(KernelObject(hFindFile, KOBJ_FIND));
    if (!pFind) return FALSE;
    pFind->hdr.dwKind = 0;
    delete pFind;
    return TRUE;
}

// ---------------------------------------------------------------------------
// Paths

extern "C" DWORD WINAPI GetFullPathNameA(LPCSTR lpFileName, DWORD nBufferLength, LPSTR lpBuffer,
                                         LPSTR *lpFilePart)
{
    if (lpFileName == NULL || lpFileName[0] == 0) {
        SetLastError(ERROR_INVALID_NAME);
        return 0;
    }
    std::string in(lpFileName);
    if (in[0] != '/') {
        char szCwd[4096];
        if (!getcwd(szCwd, sizeof(szCwd))) {
            SetLastError(Win32ErrorFromErrno(errno));
            return 0;
        }
        in = std::string(szCwd) + "/" + in;
    }
    // Resolve "." and ".." and repeated separators without touching the
    // file system; the file need not exist.
    bool fTrailing = in.size() > 1 && in.back() == '/';
    std::vector<std::string> parts;
    size_t pos = 0;
    while (pos <= in.size()) {
        size_t next = in.find('/', pos);
        if (next == std::string::npos) next = in.size();
        std::string part = in.substr(pos, next - pos);
        if (part == "..") {
            if (!parts.empty()) parts.pop_back();
        } else if (!part.empty() && part != ".") {
            parts.push_back(part);
        }
        pos = next + 1;
    }
    std::string out;
    for (const std::string &part : parts) out += "/" + part;
    if (out.empty()) out = "/";
    else if (fTrailing) out += "/";

    if (out.size() + 1 > nBufferLength) return (DWORD)out.size() + 1;
    memcpy(lpBuffer, out.c_str(), out.size() + 1);
    if (lpFilePart) {
        char *pSlash = strrchr(lpBuffer, '/');
        *lpFilePart = (pSlash && pSlash[1]) ? pSlash + 1 : NULL;
    }
    return (DWORD)out.size();
}

extern "C" DWORD WINAPI GetFileAttributesA(LPCSTR lpFileName)
{
    struct stat st;
    if (lpFileName == NULL || stat(lpFileName, &st) != 0) {
        SetLastError(lpFileName ? MissingFileError(lpFileName) : ERROR_INVALID_PARAMETER);
        return INVALID_FILE_ATTRIBUTES;
    }
    DWORD dwAttr = S_ISDIR(st.st_mode) ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_ARCHIVE;
    if (!(st.st_mode & S_IWUSR)) dwAttr |= FILE_ATTRIBUTE_READONLY;
    return dwAttr;
}

// ---------------------------------------------------------------------------
// Moving, copying, deleting

namespace {

// Copies a regular file's bytes; the destination must not exist when
// fFailIfExists. With fSync the copy is on the disk when it returns.
BOOL CopyFileBytes(const char *pszFrom, const char *pszTo, bool fFailIfExists, bool fSync = false)
{
    int in = open(pszFrom, O_RDONLY | O_CLOEXEC);
    if (in < 0) {
        SetLastError(errno == ENOENT ? MissingFileError(pszFrom) : Win32ErrorFromErrno(errno));
        return FALSE;
    }
    struct stat st;
    if (fstat(in, &st) != 0 || S_ISDIR(st.st_mode)) {
        close(in);
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    int out = open(pszTo, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | (fFailIfExists ? O_EXCL : 0),
                   st.st_mode & 0777);
    if (out < 0) {
        DWORD dwErr = errno == EEXIST ? ERROR_FILE_EXISTS : Win32ErrorFromErrno(errno);
        close(in);
        SetLastError(dwErr);
        return FALSE;
    }
    static const size_t cbChunk = 1 << 20;
    std::vector<char> buf(cbChunk);
    for (;;) {
        ssize_t n = read(in, buf.data(), cbChunk);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            if (n < 0) {
                SetLastError(Win32ErrorFromErrno(errno));
                close(in);
                close(out);
                unlink(pszTo);
                return FALSE;
            }
            break;
        }
        ssize_t done = 0;
        while (done < n) {
            ssize_t w = write(out, buf.data() + done, n - done);
            if (w < 0 && errno == EINTR) continue;
            if (w < 0) {
                SetLastError(Win32ErrorFromErrno(errno));
                close(in);
                close(out);
                unlink(pszTo);
                return FALSE;
            }
            done += w;
        }
    }
    close(in);
    if (fSync && fsync(out) != 0) {
        SetLastError(Win32ErrorFromErrno(errno));
        close(out);
        unlink(pszTo);
        return FALSE;
    }
    if (close(out) != 0) {
        SetLastError(Win32ErrorFromErrno(errno));
        unlink(pszTo);
        return FALSE;
    }
    return TRUE;
}

}  // namespace

extern "C" BOOL WINAPI MoveFileExA(LPCSTR lpExistingFileName, LPCSTR lpNewFileName, DWORD dwFlags)
{
    // No system restart here to do anything at.
    if (dwFlags & MOVEFILE_DELAY_UNTIL_REBOOT) {
        SetLastError(ERROR_NOT_SUPPORTED);
        return FALSE;
    }
    if (FaultHere(SPOOLFAULT_MOVE)) return FALSE;
    std::lock_guard<std::mutex> lock(OpenFilesLock());
    struct stat stFrom;
    if (stat(lpExistingFileName, &stFrom) != 0) {
        SetLastError(MissingFileError(lpExistingFileName));
        return FALSE;
    }
    if (!DeleteAllowed(lpExistingFileName)) {
        SetLastError(ERROR_SHARING_VIOLATION);
        return FALSE;
    }
    struct stat stTo;
    bool fTargetExists = stat(lpNewFileName, &stTo) == 0;
    if (fTargetExists && !(dwFlags & MOVEFILE_REPLACE_EXISTING)) {
        SetLastError(ERROR_ALREADY_EXISTS);
        return FALSE;
    }
    if (fTargetExists && !DeleteAllowed(lpNewFileName)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    bool fThrough = (dwFlags & MOVEFILE_WRITE_THROUGH) != 0;
    if (rename(lpExistingFileName, lpNewFileName) == 0) {
        Trace("move", lpExistingFileName, lpNewFileName);
        if (fThrough && !(FlushFolderOfPath(lpNewFileName, false) && FlushFolderOfPath(lpExistingFileName, false))) {
            SetLastError(Win32ErrorFromErrno(errno));
            return FALSE;
        }
        return TRUE;
    }
    if (errno != EXDEV) {
        SetLastError(errno == ENOENT ? MissingFileError(lpNewFileName) : Win32ErrorFromErrno(errno));
        return FALSE;
    }
    // Across file systems a file is copied and the original deleted, as the
    // platform does; folders cannot move that way.
    if (S_ISDIR(stFrom.st_mode) || !(dwFlags & MOVEFILE_COPY_ALLOWED)) {
        SetLastError(ERROR_NOT_SUPPORTED);
        return FALSE;
    }
    // The copy is on the disk, and its name in its folder, before the
    // original goes: else a power loss could leave neither.
    if (!CopyFileBytes(lpExistingFileName, lpNewFileName, false, true)) return FALSE;
    if (!FlushFolderOfPath(lpNewFileName, false)) {
        SetLastError(Win32ErrorFromErrno(errno));
        return FALSE;
    }
    if (unlink(lpExistingFileName) != 0) {
        SetLastError(Win32ErrorFromErrno(errno));
        return FALSE;
    }
    Trace("move", lpExistingFileName, lpNewFileName);
    if (fThrough && !FlushFolderOfPath(lpExistingFileName, false)) {
        SetLastError(Win32ErrorFromErrno(errno));
        return FALSE;
    }
    return TRUE;
}

extern "C" BOOL WINAPI MoveFileA(LPCSTR lpExistingFileName, LPCSTR lpNewFileName)
{
    return MoveFileExA(lpExistingFileName, lpNewFileName, MOVEFILE_COPY_ALLOWED);
}

extern "C" BOOL WINAPI CopyFileA(LPCSTR lpExistingFileName, LPCSTR lpNewFileName, BOOL bFailIfExists)
{
    std::lock_guard<std::mutex> lock(OpenFilesLock());
    struct stat st;
    if (stat(lpExistingFileName, &st) == 0 && !CheckSharing(st.st_dev, st.st_ino, GENERIC_READ,
                                                            FILE_SHARE_READ | FILE_SHARE_WRITE)) {
        SetLastError(ERROR_SHARING_VIOLATION);
        return FALSE;
    }
    if (stat(lpNewFileName, &st) == 0 && !CheckSharing(st.st_dev, st.st_ino, GENERIC_WRITE, 0)) {
        SetLastError(ERROR_SHARING_VIOLATION);
        return FALSE;
    }
    return CopyFileBytes(lpExistingFileName, lpNewFileName, bFailIfExists != FALSE);
}

extern "C" BOOL WINAPI DeleteFileA(LPCSTR lpFileName)
{
    if (FaultHere(SPOOLFAULT_DELETE)) return FALSE;
    std::lock_guard<std::mutex> lock(OpenFilesLock());
    struct stat st;
    // A link is deleted itself, never what it leads to.
    if (lpFileName && lstat(lpFileName, &st) == 0 && S_ISLNK(st.st_mode)) {
        if (unlink(lpFileName) != 0) {
            SetLastError(Win32ErrorFromErrno(errno));
            return FALSE;
        }
        Trace("delete", lpFileName);
        return TRUE;
    }
    if (lpFileName == NULL || stat(lpFileName, &st) != 0) {
        SetLastError(lpFileName ? MissingFileError(lpFileName) : ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (S_ISDIR(st.st_mode)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    if (!DeleteAllowed(lpFileName)) {
        SetLastError(ERROR_SHARING_VIOLATION);
        return FALSE;
    }
    bool fSimulated = SimDiskCovers(lpFileName);
    if (unlink(lpFileName) != 0) {
        SetLastError(Win32ErrorFromErrno(errno));
        return FALSE;
    }
    Trace("delete", lpFileName);
    if (fSimulated) SimDiskGiveBack((uint64_t)st.st_size);
    return TRUE;
}

extern "C" BOOL WINAPI CreateDirectoryA(LPCSTR lpPathName, LPSECURITY_ATTRIBUTES)
{
    if (mkdir(lpPathName, 0777) != 0) {
        SetLastError(errno == ENOENT ? ERROR_PATH_NOT_FOUND : Win32ErrorFromErrno(errno));
        return FALSE;
    }
    return TRUE;
}

extern "C" BOOL WINAPI RemoveDirectoryA(LPCSTR lpPathName)
{
    if (rmdir(lpPathName) != 0) {
        SetLastError(Win32ErrorFromErrno(errno));
        return FALSE;
    }
    return TRUE;
}

extern "C" DWORD WINAPI GetCurrentDirectoryA(DWORD nBufferLength, LPSTR lpBuffer)
{
    char szCwd[4096];
    if (!getcwd(szCwd, sizeof(szCwd))) {
        SetLastError(Win32ErrorFromErrno(errno));
        return 0;
    }
    size_t n = strlen(szCwd);
    if (n + 1 > nBufferLength) return (DWORD)n + 1;
    memcpy(lpBuffer, szCwd, n + 1);
    return (DWORD)n;
}

extern "C" BOOL WINAPI SetCurrentDirectoryA(LPCSTR lpPathName)
{
    if (chdir(lpPathName) != 0) {
        SetLastError(errno == ENOENT ? ERROR_FILE_NOT_FOUND : Win32ErrorFromErrno(errno));
        return FALSE;
    }
    return TRUE;
}

namespace {

// Copies a text into a caller's buffer the way the directory queries do:
// the length without the terminator when it fits, else the size needed.
DWORD ReturnPath(const std::string &path, LPSTR lpBuffer, DWORD nSize)
{
    if (path.size() + 1 > nSize) return (DWORD)path.size() + 1;
    memcpy(lpBuffer, path.c_str(), path.size() + 1);
    return (DWORD)path.size();
}

// The Windows directory: $WINDIR, or the current directory when it is not set.
std::string WindowsFolder()
{
    const char *pszEnv = getenv("WINDIR");
    std::string dir;
    if (pszEnv && pszEnv[0]) {
        dir = pszEnv;
    } else {
        char szCwd[4096];
        dir = getcwd(szCwd, sizeof(szCwd)) ? szCwd : ".";
    }
    while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
    return dir;
}

}  // namespace

extern "C" DWORD WINAPI GetTempPathA(DWORD nBufferLength, LPSTR lpBuffer)
{
    const char *pszEnv = getenv("TMPDIR");
    std::string dir = (pszEnv && pszEnv[0]) ? pszEnv : "/tmp";
    if (dir.back() != '/') dir += '/';
    return ReturnPath(dir, lpBuffer, nBufferLength);
}

extern "C" UINT WINAPI GetWindowsDirectoryA(LPSTR lpBuffer, UINT uSize)
{
    return ReturnPath(WindowsFolder(), lpBuffer, uSize);
}

extern "C" UINT WINAPI GetSystemDirectoryA(LPSTR lpBuffer, UINT uSize)
{
    return ReturnPath(WindowsFolder() + "/system32", lpBuffer, uSize);
}

extern "C" LONG WINAPI RegOpenKeyExA(HKEY, LPCSTR, DWORD, REGSAM, PHKEY phkResult)
{
    if (phkResult) *phkResult = NULL;
    return ERROR_FILE_NOT_FOUND;
}

extern "C" LONG WINAPI RegQueryValueExA(HKEY, LPCSTR, LPDWORD, LPDWORD, LPBYTE, LPDWORD)
{
    return ERROR_INVALID_HANDLE;
}

extern "C" LONG WINAPI RegCloseKey(HKEY) { return ERROR_INVALID_HANDLE; }

int FileDescriptorOf(HANDLE h)
{
    // Whoever takes the descriptor goes by its offset.
    FILEOBJECT *pFile = FileObject(h);
    return pFile && SettlePointer(pFile) ? pFile->fd : -1;
}
