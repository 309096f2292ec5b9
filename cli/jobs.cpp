// Jobs: commands run in processes of their own (verify and resolve of a
// tree's AVIs, the parts of a library's reading), each child's standard
// output and error in files of this run, shown or read when it ends.
#include "cli/jobs.h"

#include "scaffold/filegate.h"
#include "scaffold/paths.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

namespace {

void AppendChars(JOBLINE *pLine, char c, size_t n)
{
    for (size_t i = 0; i < n; i++) {
        if (pLine->cch + 1 >= sizeof(pLine->sz)) {
            pLine->fTooLong = TRUE;
            return;
        }
        pLine->sz[pLine->cch++] = c;
        pLine->sz[pLine->cch] = '\0';
    }
}

}  // namespace

void AppendArgument(JOBLINE *pLine, LPCSTR psz)
{
    if (pLine->cch) AppendChars(pLine, ' ', 1);
    BOOL fQuote = !*psz || strpbrk(psz, " \t\"") != NULL;
    if (fQuote) AppendChars(pLine, '"', 1);
    size_t nBackslashes = 0;
    for (LPCSTR p = psz;; p++) {
        if (*p == '\\') {
            nBackslashes++;
            continue;
        }
        // Backslashes before a quote double, and the quote is escaped;
        // before the closing quote they double.
        if (*p == '"') AppendChars(pLine, '\\', nBackslashes * 2 + 1);
        else if (!*p && fQuote) AppendChars(pLine, '\\', nBackslashes * 2);
        else AppendChars(pLine, '\\', nBackslashes);
        nBackslashes = 0;
        if (!*p) break;
        AppendChars(pLine, *p, 1);
    }
    if (fQuote) AppendChars(pLine, '"', 1);
}

HANDLE MakeJobFile(LPSTR pszPath, GATEPROOF *pProof)
{
    CHAR szTemp[MAX_PATH];
    DWORD cch = GetTempPathA(sizeof(szTemp), szTemp);
    if (!cch || cch >= sizeof(szTemp)) snprintf(szTemp, sizeof(szTemp), "%s", "");
    static unsigned s_nMade;
    pProof->nProof = GATE_MADE;
    for (int nTry = 0; nTry < 100; nTry++) {
        if (snprintf(pszPath, MAX_PATH, "%sspool-job-%lu-%u.txt", szTemp, (unsigned long)time(NULL), s_nMade++) >= MAX_PATH)
            break;
        HANDLE h = GateCreateNew(pszPath, GENERIC_READ | GENERIC_WRITE, &pProof->id);
        if (h != INVALID_HANDLE_VALUE) return h;
    }
    return INVALID_HANDLE_VALUE;
}

HANDLE OpenJobFile(LPCSTR pszPath, const FILEID *pId, DWORD dwAccess)
{
    HANDLE h = CreateFileA(pszPath, dwAccess, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL, OPEN_EXISTING,
                           FILE_FLAG_OPEN_REPARSE_POINT, NULL);
    if (h == INVALID_HANDLE_VALUE) return h;
    FILEID id;
    if (GetFileType(h) != FILE_TYPE_DISK || !FileIdOfHandle(h, &id) || !SameFileId(&id, pId)) {
        CloseHandle(h);
        return INVALID_HANDLE_VALUE;
    }
    return h;
}

void EndJobFiles(JOB *pJob)
{
    for (int i = 0; i < 2; i++) {
        if (pJob->ahOutput[i] == INVALID_HANDLE_VALUE) continue;
        CloseHandle(pJob->ahOutput[i]);
        GateDelete(pJob->aszOutput[i], &pJob->aProof[i]);
        pJob->ahOutput[i] = INVALID_HANDLE_VALUE;
    }
}

BOOL StartJob(LPCSTR pszProgram, JOBLINE *pLine, JOB *pJob, HANDLE hInput, BOOL fQuiet)
{
    pJob->hProcess = NULL;
    pJob->ahOutput[0] = pJob->ahOutput[1] = INVALID_HANDLE_VALUE;
    for (int i = 0; i < 2; i++) {
        pJob->ahOutput[i] = MakeJobFile(pJob->aszOutput[i], &pJob->aProof[i]);
        if (pJob->ahOutput[i] == INVALID_HANDLE_VALUE) {
            if (!fQuiet)
                Complain("no file for a job's output can be made in the temporary folder", "一時フォルダーにジョブの出力ファイルを作れません");
            EndJobFiles(pJob);
            return FALSE;
        }
    }
    STARTUPINFOA si;
    memset(&si, 0, sizeof(si));
    si.cb = sizeof(si);
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdInput = hInput;
    si.hStdOutput = pJob->ahOutput[0];
    si.hStdError = pJob->ahOutput[1];
    PROCESS_INFORMATION pi;
    memset(&pi, 0, sizeof(pi));
    // The child inherits its own files, and no other job's: they are
    // inheritable only while it starts.
    HANDLE ahInherited[3] = {pJob->ahOutput[0], pJob->ahOutput[1], hInput};
    for (HANDLE h : ahInherited)
        if (h) SetHandleInformation(h, HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT);
    BOOL fStarted = CreateProcessA(pszProgram, pLine->sz, NULL, NULL, TRUE, 0, NULL, NULL, &si, &pi);
    DWORD dwError = GetLastError();
    for (HANDLE h : ahInherited)
        if (h) SetHandleInformation(h, HANDLE_FLAG_INHERIT, 0);
    if (!fStarted) {
        SetLastError(dwError);
        if (!fQuiet)
            Complain("%s cannot be started (error %lu)", "%s を起動できません (エラー %lu)", pszProgram, (unsigned long)GetLastError());
        EndJobFiles(pJob);
        return FALSE;
    }
    if (pi.hThread) CloseHandle(pi.hThread);
    pJob->hProcess = pi.hProcess;
    return TRUE;
}

DWORD WaitForJob(JOB *pJob)
{
    DWORD dwCode = SPOOL_ERROR;
    if (!pJob->hProcess) return dwCode;
    if (WaitForSingleObject(pJob->hProcess, INFINITE) != WAIT_OBJECT_0 || !GetExitCodeProcess(pJob->hProcess, &dwCode))
        dwCode = SPOOL_ERROR;
    CloseHandle(pJob->hProcess);
    pJob->hProcess = NULL;
    return dwCode;
}

char *ReadJobOutput(JOB *pJob, int iOutput, DWORD cbMax, DWORD *pcb)
{
    *pcb = 0;
    HANDLE h = pJob->ahOutput[iOutput];
    ULONGLONG ullSize = 0;
    if (h == INVALID_HANDLE_VALUE || !SizeOfOpenFile(h, &ullSize) || ullSize > cbMax) return NULL;
    char *pb = (char *)malloc((size_t)ullSize + 1);
    if (!pb) return NULL;
    DWORD cbRead = 0, cb = 0;
    SetFilePointer(h, 0, NULL, FILE_BEGIN);
    while (cbRead < ullSize && ReadFile(h, pb + cbRead, (DWORD)ullSize - cbRead, &cb, NULL) && cb) cbRead += cb;
    if (cbRead != ullSize) {
        free(pb);
        return NULL;
    }
    pb[cbRead] = '\0';
    *pcb = cbRead;
    return pb;
}

void CopyJobOutput(JOB *pJob, int iOutput, FILE *pTo)
{
    HANDLE h = pJob->ahOutput[iOutput];
    if (h == INVALID_HANDLE_VALUE) return;
    SetFilePointer(h, 0, NULL, FILE_BEGIN);
    char ab[4096];
    DWORD cb = 0;
    while (ReadFile(h, ab, sizeof(ab), &cb, NULL) && cb) fwrite(ab, 1, cb, pTo);
}

int EndJob(JOB *pJob)
{
    DWORD dwCode = WaitForJob(pJob);
    CopyJobOutput(pJob, 0, g_pOut);
    CopyJobOutput(pJob, 1, g_pErr);
    EndJobFiles(pJob);
    return dwCode <= SPOOL_ERROR ? (int)dwCode : SPOOL_ERROR;
}

BOOL JobProgram(LPSTR pszProgram)
{
    LPCSTR pszGiven = getenv("SPOOL_PROGRAM");
    if (pszGiven && *pszGiven) return snprintf(pszProgram, MAX_PATH, "%s", pszGiven) < MAX_PATH;
    DWORD cch = GetModuleFileNameA(NULL, pszProgram, MAX_PATH);
    if (!cch || cch >= MAX_PATH) return FALSE;
    LPCSTR pszName = GetFileNamePart(pszProgram);
    return _stricmp(pszName, "spool") == 0 || _stricmp(pszName, "spool.exe") == 0;
}
