// Shared pieces of the POSIX stand-in's implementation.
#pragma once

#include "platform/win.h"

#include <string>

// Every handle that the stand-in gives out points at one of these headers,
// followed by the object of its kind.
enum {
    KOBJ_FILE = 0x46494c45,   // 'FILE'
    KOBJ_FIND = 0x46494e44,   // 'FIND'
    KOBJ_EVENT = 0x4556454e,  // 'EVEN'
    KOBJ_THREAD = 0x54485244, // 'THRD'
    KOBJ_PROCESS = 0x50524f43, // 'PROC'
};

struct KOBJECT {
    DWORD dwKind;
};

// Returns the object behind a handle when it is of the given kind, else null
// (and sets ERROR_INVALID_HANDLE).
KOBJECT *KernelObject(HANDLE h, DWORD dwKind);

// Closing of the kinds that live in other source files.
BOOL CloseEventObject(KOBJECT *pObj);
BOOL CloseThreadObject(KOBJECT *pObj);
DWORD WaitEventObject(KOBJECT *pObj, DWORD dwMilliseconds);
BOOL CloseProcessObject(KOBJECT *pObj);
DWORD WaitProcessObject(KOBJECT *pObj, DWORD dwMilliseconds);
// The descriptor of a file's handle, -1 for another handle.
int FileDescriptorOf(HANDLE h);

// Maps an errno value to the platform's error code.
DWORD Win32ErrorFromErrno(int nErrno);

// The folder of the running executable, with no trailing '/'.
std::string ExecutableFolder();

// True when the path names an existing regular file.
bool IsRegularFile(const std::string &path);

// Case-insensitive wildcard match with '*' and '?', as directory listings do.
bool MatchFilePattern(const char *pszPattern, const char *pszName);

// Counts a write of a profile; TRUE when this one is to leave the file cut
// (SPOOLFAULT_PROFILE_CUT).
bool ProfileCutHere();
