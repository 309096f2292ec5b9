// Virtual memory of the POSIX stand-in: page protections read from the
// process's memory map, and page allocations for the tests that need a page
// edge.
#include "internal.h"

#include <stdio.h>
#include <sys/mman.h>
#include <unistd.h>

#include <map>
#include <mutex>

namespace {

DWORD ProtectionOf(const char *pszPerms)
{
    bool fRead = pszPerms[0] == 'r';
    bool fWrite = pszPerms[1] == 'w';
    bool fExec = pszPerms[2] == 'x';
    if (!fRead && !fWrite && !fExec) return PAGE_NOACCESS;
    if (fExec) return fWrite ? PAGE_EXECUTE_READWRITE : fRead ? PAGE_EXECUTE_READ : PAGE_EXECUTE;
    return fWrite ? PAGE_READWRITE : PAGE_READONLY;
}

int PosixProtection(DWORD flProtect)
{
    switch (flProtect & 0xFF) {
    case PAGE_READONLY: return PROT_READ;
    case PAGE_READWRITE:
    case PAGE_WRITECOPY: return PROT_READ | PROT_WRITE;
    case PAGE_EXECUTE: return PROT_EXEC;
    case PAGE_EXECUTE_READ: return PROT_READ | PROT_EXEC;
    case PAGE_EXECUTE_READWRITE:
    case PAGE_EXECUTE_WRITECOPY: return PROT_READ | PROT_WRITE | PROT_EXEC;
    default: return PROT_NONE;
    }
}

// Sizes of the allocations of VirtualAlloc, for VirtualFree.
std::mutex &AllocationLock()
{
    static std::mutex *pLock = new std::mutex;
    return *pLock;
}

std::map<uintptr_t, size_t> &Allocations()
{
    static std::map<uintptr_t, size_t> *pMap = new std::map<uintptr_t, size_t>;
    return *pMap;
}

}  // namespace

extern "C" size_t WINAPI VirtualQuery(LPCVOID lpAddress, PMEMORY_BASIC_INFORMATION lpBuffer, size_t dwLength)
{
    if (lpBuffer == NULL || dwLength < sizeof(*lpBuffer)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    uintptr_t uPage = (uintptr_t)sysconf(_SC_PAGESIZE);
    uintptr_t uAddress = (uintptr_t)lpAddress & ~(uPage - 1);
    FILE *pMaps = fopen("/proc/self/maps", "re");
    if (!pMaps) {
        SetLastError(ERROR_ACCESS_DENIED);
        return 0;
    }
    // The map lists mapped ranges in address order; a gap is free memory.
    bool fFound = false;
    char szLine[512];
    while (fgets(szLine, sizeof(szLine), pMaps)) {
        unsigned long long ullStart, ullEnd;
        char szPerms[8];
        if (sscanf(szLine, "%llx-%llx %7s", &ullStart, &ullEnd, szPerms) != 3) continue;
        uintptr_t uStart = (uintptr_t)ullStart;
        uintptr_t uEnd = (uintptr_t)ullEnd;
        if (uAddress < uStart) {
            lpBuffer->AllocationBase = NULL;
            lpBuffer->AllocationProtect = 0;
            lpBuffer->RegionSize = uStart - uAddress;
            lpBuffer->BaseAddress = (LPVOID)uAddress;
            lpBuffer->State = MEM_FREE;
            lpBuffer->Protect = PAGE_NOACCESS;
            lpBuffer->Type = 0;
            fFound = true;
            break;
        }
        if (uAddress < uEnd) {
            lpBuffer->BaseAddress = (LPVOID)uAddress;
            lpBuffer->AllocationBase = (LPVOID)uStart;
            lpBuffer->AllocationProtect = ProtectionOf(szPerms);
            lpBuffer->RegionSize = uEnd - uAddress;
            lpBuffer->State = MEM_COMMIT;
            lpBuffer->Protect = ProtectionOf(szPerms);
            lpBuffer->Type = 0;
            fFound = true;
            break;
        }
    }
    fclose(pMaps);
    if (!fFound) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    return sizeof(*lpBuffer);
}

extern "C" LPVOID WINAPI VirtualAlloc(LPVOID lpAddress, size_t dwSize, DWORD, DWORD flProtect)
{
    if (lpAddress != NULL || dwSize == 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return NULL;
    }
    void *p = mmap(NULL, dwSize, PosixProtection(flProtect), MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (p == MAP_FAILED) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return NULL;
    }
    std::lock_guard<std::mutex> lock(AllocationLock());
    Allocations()[(uintptr_t)p] = dwSize;
    return p;
}

extern "C" BOOL WINAPI VirtualProtect(LPVOID lpAddress, size_t dwSize, DWORD flNewProtect, PDWORD lpflOldProtect)
{
    MEMORY_BASIC_INFORMATION mbi;
    if (lpflOldProtect) *lpflOldProtect = VirtualQuery(lpAddress, &mbi, sizeof(mbi)) ? mbi.Protect : 0;
    if (mprotect(lpAddress, dwSize, PosixProtection(flNewProtect)) != 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    return TRUE;
}

extern "C" BOOL WINAPI VirtualFree(LPVOID lpAddress, size_t dwSize, DWORD dwFreeType)
{
    // A release gives back a whole allocation, with a size of 0.
    size_t cbAllocation = 0;
    if (dwFreeType == MEM_RELEASE && dwSize == 0) {
        std::lock_guard<std::mutex> lock(AllocationLock());
        auto found = Allocations().find((uintptr_t)lpAddress);
        if (found != Allocations().end()) {
            cbAllocation = found->second;
            Allocations().erase(found);
        }
    }
    if (cbAllocation == 0 || munmap(lpAddress, cbAllocation) != 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    return TRUE;
}
