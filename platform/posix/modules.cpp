// Modules of the POSIX stand-in: shared objects loaded with the platform's
// search order and entry-point protocol.
//
// LoadLibraryA looks for a bare name in the executable's folder, the current
// folder, the system folder ($WINDIR/system32), the Windows folder ($WINDIR)
// and the folders of LD_LIBRARY_PATH, in that order; a module of that name
// already loaded is used as it is. A name whose file part has no extension
// gets ".so" appended, unless it ends with a '.', which is then dropped.
// The first load of a module calls its exported DllMain with
// DLL_PROCESS_ATTACH and fails, unloading it, when that returns FALSE; the
// last FreeLibrary calls it with DLL_PROCESS_DETACH, and so does a refused
// attach. Modules still loaded
// when the process exits are detached then, as the platform does.
#include "internal.h"

#include <dlfcn.h>
#include <link.h>
#include <stdlib.h>
#include <unistd.h>

#include <mutex>
#include <string>
#include <vector>

namespace {

typedef BOOL(WINAPI *DLLMAINPROC)(HINSTANCE, DWORD, LPVOID);

struct MODULEENTRY {
    void *pHandle;
    int nRef;
    std::string path;
};

std::recursive_mutex &ModuleLock()
{
    static std::recursive_mutex *pLock = new std::recursive_mutex;
    return *pLock;
}

std::vector<MODULEENTRY> &Modules()
{
    static std::vector<MODULEENTRY> *pList = new std::vector<MODULEENTRY>;
    return *pList;
}

MODULEENTRY *FindModule(void *pHandle)
{
    for (MODULEENTRY &entry : Modules())
        if (entry.pHandle == pHandle) return &entry;
    return NULL;
}

std::string BaseName(const std::string &path)
{
    size_t cut = path.rfind('/');
    return cut == std::string::npos ? path : path.substr(cut + 1);
}

// Applies the extension rule to a module name.
std::string ModuleFileName(const char *pszName)
{
    std::string name(pszName);
    std::string base = BaseName(name);
    if (!base.empty() && base.back() == '.') {
        name.pop_back();
    } else if (base.find('.') == std::string::npos) {
        name += ".so";
    }
    return name;
}

MODULEENTRY *FindLoadedByName(const std::string &base)
{
    for (MODULEENTRY &entry : Modules())
        if (strcasecmp(BaseName(entry.path).c_str(), base.c_str()) == 0) return &entry;
    return NULL;
}

std::string SearchModule(const std::string &name)
{
    std::vector<std::string> folders;
    folders.push_back(ExecutableFolder());
    char szBuf[4096];
    if (getcwd(szBuf, sizeof(szBuf))) folders.push_back(szBuf);
    if (GetSystemDirectoryA(szBuf, sizeof(szBuf)) < sizeof(szBuf)) folders.push_back(szBuf);
    if (GetWindowsDirectoryA(szBuf, sizeof(szBuf)) < sizeof(szBuf)) folders.push_back(szBuf);
    if (const char *pszPath = getenv("LD_LIBRARY_PATH")) {
        std::string list(pszPath);
        size_t pos = 0;
        while (pos <= list.size()) {
            size_t next = list.find(':', pos);
            if (next == std::string::npos) next = list.size();
            if (next > pos) folders.push_back(list.substr(pos, next - pos));
            pos = next + 1;
        }
    }
    for (const std::string &folder : folders) {
        std::string candidate = folder + "/" + name;
        if (IsRegularFile(candidate)) return candidate;
    }
    return std::string();
}

void DetachRemainingModules()
{
    std::lock_guard<std::recursive_mutex> lock(ModuleLock());
    while (!Modules().empty()) {
        MODULEENTRY entry = Modules().back();
        Modules().pop_back();
        if (DLLMAINPROC pfnMain = (DLLMAINPROC)dlsym(entry.pHandle, "DllMain"))
            pfnMain((HINSTANCE)entry.pHandle, DLL_PROCESS_DETACH, (LPVOID)1);
    }
}

}  // namespace

std::string ExecutableFolder()
{
    char szPath[4096];
    ssize_t n = readlink("/proc/self/exe", szPath, sizeof(szPath) - 1);
    if (n <= 0) return ".";
    szPath[n] = 0;
    std::string path(szPath);
    size_t cut = path.rfind('/');
    return cut == std::string::npos || cut == 0 ? "/" : path.substr(0, cut);
}

extern "C" HMODULE WINAPI LoadLibraryA(LPCSTR lpLibFileName)
{
    if (lpLibFileName == NULL || lpLibFileName[0] == 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return NULL;
    }
    std::string name = ModuleFileName(lpLibFileName);
    std::lock_guard<std::recursive_mutex> lock(ModuleLock());
    std::string path;
    if (name.find('/') != std::string::npos) {
        char szFull[4096];
        if (GetFullPathNameA(name.c_str(), sizeof(szFull), szFull, NULL) >= sizeof(szFull)) {
            SetLastError(ERROR_FILENAME_EXCED_RANGE);
            return NULL;
        }
        path = szFull;
    } else if (MODULEENTRY *pLoaded = FindLoadedByName(name)) {
        pLoaded->nRef++;
        return (HMODULE)pLoaded->pHandle;
    } else {
        path = SearchModule(name);
    }
    if (path.empty() || !IsRegularFile(path)) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return NULL;
    }
    void *pHandle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!pHandle) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return NULL;
    }
    if (MODULEENTRY *pEntry = FindModule(pHandle)) {
        // The same file under another name: one more reference, no attach.
        dlclose(pHandle);
        pEntry->nRef++;
        return (HMODULE)pHandle;
    }
    static bool s_fHooked = false;
    if (!s_fHooked) {
        atexit(DetachRemainingModules);
        s_fHooked = true;
    }
    Modules().push_back(MODULEENTRY{pHandle, 1, path});
    if (DLLMAINPROC pfnMain = (DLLMAINPROC)dlsym(pHandle, "DllMain")) {
        if (!pfnMain((HINSTANCE)pHandle, DLL_PROCESS_ATTACH, NULL)) {
            // A refused attach is followed by a detach before the unload.
            pfnMain((HINSTANCE)pHandle, DLL_PROCESS_DETACH, NULL);
            for (size_t i = 0; i < Modules().size(); i++) {
                if (Modules()[i].pHandle == pHandle) {
                    Modules().erase(Modules().begin() + (long)i);
                    break;
                }
            }
            dlclose(pHandle);
            SetLastError(ERROR_DLL_INIT_FAILED);
            return NULL;
        }
    }
    return (HMODULE)pHandle;
}

extern "C" BOOL WINAPI FreeLibrary(HMODULE hLibModule)
{
    std::lock_guard<std::recursive_mutex> lock(ModuleLock());
    MODULEENTRY *pEntry = FindModule(hLibModule);
    if (!pEntry) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return FALSE;
    }
    if (--pEntry->nRef > 0) return TRUE;
    void *pHandle = pEntry->pHandle;
    if (DLLMAINPROC pfnMain = (DLLMAINPROC)dlsym(pHandle, "DllMain"))
        pfnMain((HINSTANCE)pHandle, DLL_PROCESS_DETACH, NULL);
    for (size_t i = 0; i < Modules().size(); i++) {
        if (Modules()[i].pHandle == pHandle) {
            Modules().erase(Modules().begin() + (long)i);
            break;
        }
    }
    dlclose(pHandle);
    return TRUE;
}

extern "C" FARPROC WINAPI GetProcAddress(HMODULE hModule, LPCSTR lpProcName)
{
    void *pHandle = hModule ? (void *)hModule : dlopen(NULL, RTLD_NOW);
    void *pSym = dlsym(pHandle, lpProcName);
    if (!pSym) {
        SetLastError(ERROR_PROC_NOT_FOUND);
        return NULL;
    }
    return (FARPROC)pSym;
}

extern "C" DWORD WINAPI GetModuleFileNameA(HMODULE hModule, LPSTR lpFilename, DWORD nSize)
{
    std::string path;
    {
        std::lock_guard<std::recursive_mutex> lock(ModuleLock());
        if (MODULEENTRY *pEntry = hModule ? FindModule(hModule) : NULL) path = pEntry->path;
    }
    if (path.empty()) {
        struct link_map *pMap = NULL;
        if (hModule && dlinfo((void *)hModule, RTLD_DI_LINKMAP, &pMap) == 0 && pMap &&
            pMap->l_name && pMap->l_name[0]) {
            path = pMap->l_name;
        } else {
            char szPath[4096];
            ssize_t n = readlink("/proc/self/exe", szPath, sizeof(szPath) - 1);
            if (n <= 0) {
                SetLastError(ERROR_MOD_NOT_FOUND);
                return 0;
            }
            path.assign(szPath, (size_t)n);
        }
    }
    if (nSize == 0) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    // A name that does not fit is cut and terminated, and the whole size is
    // returned with ERROR_INSUFFICIENT_BUFFER.
    if (path.size() + 1 > nSize) {
        memcpy(lpFilename, path.c_str(), nSize - 1);
        lpFilename[nSize - 1] = 0;
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return nSize;
    }
    memcpy(lpFilename, path.c_str(), path.size() + 1);
    SetLastError(ERROR_SUCCESS);
    return (DWORD)path.size();
}

extern "C" HMODULE WINAPI GetModuleHandleA(LPCSTR lpModuleName)
{
    if (lpModuleName == NULL) return (HMODULE)dlopen(NULL, RTLD_NOW);
    std::lock_guard<std::recursive_mutex> lock(ModuleLock());
    MODULEENTRY *pEntry = FindLoadedByName(BaseName(ModuleFileName(lpModuleName)));
    if (!pEntry) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return NULL;
    }
    return (HMODULE)pEntry->pHandle;
}

extern "C" BOOL WINAPI GetModuleHandleExA(DWORD dwFlags, LPCSTR lpModuleName, HMODULE *phModule)
{
    if (phModule == NULL) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    *phModule = NULL;
    std::lock_guard<std::recursive_mutex> lock(ModuleLock());
    MODULEENTRY *pEntry = NULL;
    if (dwFlags & GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS) {
        // The loaded module that holds the address; the program itself when
        // no module loaded through LoadLibraryA does.
        Dl_info info;
        if (!dladdr(lpModuleName, &info) || info.dli_fname == NULL) {
            SetLastError(ERROR_MOD_NOT_FOUND);
            return FALSE;
        }
        if (void *pHandle = dlopen(info.dli_fname, RTLD_NOW | RTLD_NOLOAD)) {
            pEntry = FindModule(pHandle);
            dlclose(pHandle);
        }
        if (!pEntry) {
            *phModule = (HMODULE)dlopen(NULL, RTLD_NOW);
            return TRUE;
        }
    } else if (lpModuleName == NULL) {
        *phModule = (HMODULE)dlopen(NULL, RTLD_NOW);
        return TRUE;
    } else {
        pEntry = FindLoadedByName(BaseName(ModuleFileName(lpModuleName)));
        if (!pEntry) {
            SetLastError(ERROR_MOD_NOT_FOUND);
            return FALSE;
        }
    }
    // A pinned module stays until the process ends.
    if (dwFlags & GET_MODULE_HANDLE_EX_FLAG_PIN) pEntry->nRef += 1 << 24;
    else if (!(dwFlags & GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT)) pEntry->nRef++;
    *phModule = (HMODULE)pEntry->pHandle;
    return TRUE;
}
