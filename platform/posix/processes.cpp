// Processes of the POSIX stand-in: CreateProcessA runs a program with
// posix_spawn, its command line split into arguments as the platform's
// programs split theirs.
#include "platform/posix/internal.h"

#include <errno.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <string>
#include <vector>

extern char **environ;

namespace {

struct PROCESSOBJECT {
    KOBJECT hdr;
    pid_t pid;
    bool fEnded;
    DWORD dwExitCode;
};

// The arguments of a command line by the platform's rules: blanks separate
// them; quotes group; 2n backslashes before a quote are n backslashes and
// the quote groups, 2n+1 are n and a quote; other backslashes stay.
std::vector<std::string> SplitCommandLine(const char *psz)
{
    std::vector<std::string> args;
    while (*psz) {
        while (*psz == ' ' || *psz == '\t') psz++;
        if (!*psz) break;
        std::string arg;
        bool fQuoted = false;
        while (*psz && (fQuoted || (*psz != ' ' && *psz != '\t'))) {
            size_t nBackslashes = 0;
            while (*psz == '\\') nBackslashes++, psz++;
            if (*psz == '"') {
                arg.append(nBackslashes / 2, '\\');
                if (nBackslashes % 2) arg += '"';
                else fQuoted = !fQuoted;
                psz++;
            } else {
                arg.append(nBackslashes, '\\');
                if (*psz && (fQuoted || (*psz != ' ' && *psz != '\t'))) arg += *psz++;
            }
        }
        args.push_back(arg);
    }
    return args;
}

void Reap(PROCESSOBJECT *pProc, bool fWait)
{
    if (pProc->fEnded) return;
    int nStatus = 0;
    pid_t pid;
    do pid = waitpid(pProc->pid, &nStatus, fWait ? 0 : WNOHANG);
    while (pid < 0 && errno == EINTR);
    if (pid != pProc->pid) return;
    pProc->fEnded = true;
    pProc->dwExitCode = WIFEXITED(nStatus) ? (DWORD)WEXITSTATUS(nStatus) : 0xC0000000u | (DWORD)WTERMSIG(nStatus);
}

}  // namespace

extern "C" BOOL WINAPI CreateProcessA(LPCSTR lpApplicationName, LPSTR lpCommandLine, LPSECURITY_ATTRIBUTES,
                                      LPSECURITY_ATTRIBUTES, BOOL, DWORD, LPVOID lpEnvironment, LPCSTR lpCurrentDirectory,
                                      LPSTARTUPINFOA lpStartupInfo, LPPROCESS_INFORMATION lpProcessInformation)
{
    if (!lpCommandLine || !lpProcessInformation || lpEnvironment || lpCurrentDirectory) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    std::vector<std::string> args = SplitCommandLine(lpCommandLine);
    if (args.empty()) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    std::vector<char *> argv;
    for (std::string &arg : args) argv.push_back(&arg[0]);
    argv.push_back(NULL);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (lpStartupInfo && (lpStartupInfo->dwFlags & STARTF_USESTDHANDLES)) {
        HANDLE ah[3] = {lpStartupInfo->hStdInput, lpStartupInfo->hStdOutput, lpStartupInfo->hStdError};
        for (int i = 0; i < 3; i++) {
            int fd = ah[i] ? FileDescriptorOf(ah[i]) : -1;
            // A stream the caller gives none of is none, as on the platform.
            if (fd >= 0) posix_spawn_file_actions_adddup2(&actions, fd, i);
            else posix_spawn_file_actions_addopen(&actions, i, "/dev/null", i ? O_WRONLY : O_RDONLY, 0);
        }
    }
    pid_t pid = 0;
    const char *pszProgram = lpApplicationName ? lpApplicationName : argv[0];
    int nError = posix_spawnp(&pid, pszProgram, &actions, NULL, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (nError != 0) {
        SetLastError(nError == ENOENT ? ERROR_FILE_NOT_FOUND : Win32ErrorFromErrno(nError));
        return FALSE;
    }
    PROCESSOBJECT *pProc = new PROCESSOBJECT;
    pProc->hdr.dwKind = KOBJ_PROCESS;
    pProc->pid = pid;
    pProc->fEnded = false;
    pProc->dwExitCode = STILL_ACTIVE;
    lpProcessInformation->hProcess = reinterpret_cast<HANDLE>(pProc);
    lpProcessInformation->hThread = NULL;
    lpProcessInformation->dwProcessId = (DWORD)pid;
    lpProcessInformation->dwThreadId = 0;
    return TRUE;
}

extern "C" BOOL WINAPI GetExitCodeProcess(HANDLE hProcess, LPDWORD lpExitCode)
{
    PROCESSOBJECT *pProc = reinterpret_cast<PROCESSOBJECT *>(KernelObject(hProcess, KOBJ_PROCESS));
    if (!pProc || !lpExitCode) return FALSE;
    Reap(pProc, false);
    *lpExitCode = pProc->fEnded ? pProc->dwExitCode : STILL_ACTIVE;
    return TRUE;
}

DWORD WaitProcessObject(KOBJECT *pObj, DWORD dwMilliseconds)
{
    PROCESSOBJECT *pProc = reinterpret_cast<PROCESSOBJECT *>(pObj);
    if (dwMilliseconds == INFINITE) {
        Reap(pProc, true);
        return pProc->fEnded ? WAIT_OBJECT_0 : WAIT_FAILED;
    }
    // A finite wait looks every millisecond.
    for (DWORD dwWaited = 0;; dwWaited++) {
        Reap(pProc, false);
        if (pProc->fEnded) return WAIT_OBJECT_0;
        if (dwWaited >= dwMilliseconds) return WAIT_TIMEOUT;
        struct timespec ts = {0, 1000000};
        nanosleep(&ts, NULL);
    }
}

BOOL CloseProcessObject(KOBJECT *pObj)
{
    PROCESSOBJECT *pProc = reinterpret_cast<PROCESSOBJECT *>(pObj);
    // A child that has ended is reaped; one still running goes on alone.
    Reap(pProc, false);
    pProc->hdr.dwKind = 0;
    delete pProc;
    return TRUE;
}

extern "C" BOOL WINAPI SetHandleInformation(HANDLE hObject, DWORD, DWORD)
{
    if (hObject == NULL || hObject == INVALID_HANDLE_VALUE) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    return TRUE;
}
