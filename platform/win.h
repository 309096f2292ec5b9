// The one platform header of the code base.
//
// On Windows it pulls in the real system headers. Elsewhere it pulls in the
// POSIX stand-in, which provides the same names, types and constants for the
// subset of the platform that the programs use.
#pragma once

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#include <commctrl.h>
#include <commdlg.h>
#include <mmsystem.h>
#include <vfw.h>
#include <mbstring.h>
#include <process.h>

// Path separator of the platform's file names.
#define PATH_SEP '\\'
#define PATH_SEP_STR "\\"
// Windows also ends a drive prefix ("C:") with a separator of its own.
#define PATH_HAS_DRIVES 1

#else
#include "posix/winapi.h"

#define PATH_SEP '/'
#define PATH_SEP_STR "/"
#define PATH_HAS_DRIVES 0
#endif

// Exported entry points of modules: undecorated on both platforms (the .def
// file aliases the stdcall name on Windows; visibility does it elsewhere).
#ifdef _WIN32
#define MODULE_EXPORT extern "C"
#else
#define MODULE_EXPORT extern "C" __attribute__((visibility("default")))
#endif

// Turns the result of GetProcAddress into the function type it has.
template <typename T> inline T ProcAs(FARPROC pfn)
{
    return reinterpret_cast<T>(reinterpret_cast<void (*)(void)>(pfn));
}
