// The registry of driver instances: one record per driver instance id, in a
// doubly linked list, shared by every open that the wrapped codec answers
// with the same id.
#include "codec/spoolcap.h"

#include <new>
#include <stdlib.h>

CODECINSTANCE *g_pFirstInstance = NULL;

namespace {

// Hosts open and close codecs on several threads; the list itself is
// guarded, while each instance's files and buffers belong to the thread that
// uses the instance.
CRITICAL_SECTION g_csInstances;
BOOL g_fListReady = FALSE;

// Writes of reference files in progress, guarded by the same lock; readers
// of a file wait on the condition until no write of it is left.
IOWORKER *g_pFirstWrite = NULL;
CONDITION_VARIABLE g_cvWrites;

// With the lock held: TRUE when writes of the file are in progress, with
// how much of it is whole (the least of its writers' whole parts).
BOOL WritingLocked(LPCSTR pszFile, DWORD *pcbWhole)
{
    BOOL fWriting = FALSE;
    for (IOWORKER *pWriter = g_pFirstWrite; pWriter; pWriter = pWriter->pNextWrite)
        if (_mbsicmp(reinterpret_cast<const unsigned char *>(pWriter->pszWriteFile),
                     reinterpret_cast<const unsigned char *>(pszFile)) == 0) {
            if (!fWriting || pWriter->cbWhole < *pcbWhole) *pcbWhole = pWriter->cbWhole;
            fWriting = TRUE;
        }
    return fWriting;
}

struct ListLock {
    ListLock()
    {
        if (g_fListReady) EnterCriticalSection(&g_csInstances);
    }
    ~ListLock()
    {
        if (g_fListReady) LeaveCriticalSection(&g_csInstances);
    }
};

CODECINSTANCE *FindLocked(DWORD_PTR dwKey)
{
    for (CODECINSTANCE *pInst = g_pFirstInstance; pInst; pInst = pInst->pNext)
        if (pInst->dwKey == dwKey) return pInst;
    return NULL;
}

void Unlink(CODECINSTANCE *pInst)
{
    if (pInst->pPrev) pInst->pPrev->pNext = pInst->pNext;
    else g_pFirstInstance = pInst->pNext;
    if (pInst->pNext) pInst->pNext->pPrev = pInst->pPrev;
    pInst->pNext = pInst->pPrev = NULL;
}

// Stops the workers of an unlinked instance, closes its files and frees it.
void DestroyInstance(CODECINSTANCE *pInst)
{
    for (int iSeq = 0; iSeq < 2; iSeq++) {
        CloseWriteFile(pInst, iSeq, TRUE);
        CloseReadFile(pInst, iSeq, TRUE);
    }
    for (int i = 0; i < WORKER_COUNT; i++) DeleteWorker(&pInst->aWorker[i]);
    pInst->~CODECINSTANCE();
    free(pInst);
}

}  // namespace

void InitInstanceList(void)
{
    if (!g_fListReady) {
        InitializeCriticalSection(&g_csInstances);
        InitializeConditionVariable(&g_cvWrites);
        g_fListReady = TRUE;
    }
}

void DeleteInstanceList(void)
{
    if (g_fListReady) {
        g_fListReady = FALSE;
        DeleteCriticalSection(&g_csInstances);
    }
}

CODECINSTANCE *FindInstance(DWORD_PTR dwKey)
{
    ListLock lock;
    return FindLocked(dwKey);
}

BOOL AddInstance(DWORD_PTR dwKey)
{
    ListLock lock;
    if (CODECINSTANCE *pInst = FindLocked(dwKey)) {
        pInst->nOpen++;
        return TRUE;
    }
    // Plain allocation: the driver pulls in no part of the language runtime
    // that keeps process-wide objects after it is unloaded.
    void *pMemory = calloc(1, sizeof(CODECINSTANCE));
    if (!pMemory) return FALSE;
    CODECINSTANCE *pInst = new (pMemory) CODECINSTANCE();
    pInst->dwKey = dwKey;
    pInst->nOpen = 1;
    for (int iSeq = 0; iSeq < 2; iSeq++) {
        pInst->hReadFile[iSeq] = INVALID_HANDLE_VALUE;
        pInst->hWriteFile[iSeq] = INVALID_HANDLE_VALUE;
        pInst->pAheadHeader[iSeq] = &pInst->aAheadHeader[iSeq];
    }
    for (int i = 0; i < WORKER_COUNT; i++) InitWorker(&pInst->aWorker[i], i);
    // Append at the end of the list.
    CODECINSTANCE *pLast = g_pFirstInstance;
    while (pLast && pLast->pNext) pLast = pLast->pNext;
    pInst->pPrev = pLast;
    if (pLast) pLast->pNext = pInst;
    else g_pFirstInstance = pInst;
    return TRUE;
}

BOOL ReleaseInstance(DWORD_PTR dwKey)
{
    CODECINSTANCE *pInst;
    {
        ListLock lock;
        pInst = FindLocked(dwKey);
        if (!pInst) return FALSE;
        if (--pInst->nOpen > 0) return TRUE;
        Unlink(pInst);
    }
    DestroyInstance(pInst);
    return TRUE;
}

void ReleaseAllInstances(BOOL fProcessEnding)
{
    // At the end of the process the platform has ended the other threads,
    // wherever they were (one may have died holding the list's lock), and
    // takes back the memory and handles itself: nothing is waited for,
    // locked or touched.
    if (fProcessEnding) {
        g_pFirstInstance = NULL;
        return;
    }
    CODECINSTANCE *pList;
    {
        ListLock lock;
        pList = g_pFirstInstance;
        g_pFirstInstance = NULL;
    }
    while (pList) {
        CODECINSTANCE *pInst = pList;
        pList = pList->pNext;
        pInst->pNext = pInst->pPrev = NULL;
        DestroyInstance(pInst);
    }
}

void CloseWriteFile(CODECINSTANCE *pInst, int iSeq, BOOL fFully)
{
    // A light close comes after the caller has waited for the write in hand
    // (and looked at its outcome); a full one waits for it here.
    if (fFully) {
        IOWORKER *pWriter = &pInst->aWorker[WORKER_WRITE0 + iSeq];
        StopWorker(pWriter);
        FreeWorker(pWriter);
    }
    if (pInst->hWriteFile[iSeq] != INVALID_HANDLE_VALUE) {
        CloseHandle(pInst->hWriteFile[iSeq]);
        // A file that received no frame goes: no record names it, and its
        // number is free again. It goes by the identity it was made with,
        // so that a file that has taken its name since stays.
        GATEPROOF proof = {GATE_MADE, pInst->idWriteFile[iSeq], 0};
        if (pInst->dwWriteOffset[iSeq] == 0) GateDelete(pInst->szWriteName[iSeq], &proof);
    }
    pInst->hWriteFile[iSeq] = INVALID_HANDLE_VALUE;
    pInst->dwWriteOffset[iSeq] = 0;
}

void CloseReadFile(CODECINSTANCE *pInst, int iSeq, BOOL fFully)
{
    IOWORKER *pReader = &pInst->aWorker[WORKER_READ0 + iSeq];
    if (fFully) {
        StopWorker(pReader);
        FreeWorker(pReader);
        free(pInst->pReadBuf[iSeq]);
        pInst->pReadBuf[iSeq] = NULL;
        pInst->cbReadBuf[iSeq] = 0;
    } else {
        WaitWorkerIdle(pReader);
    }
    if (pInst->hReadFile[iSeq] != INVALID_HANDLE_VALUE) CloseHandle(pInst->hReadFile[iSeq]);
    pInst->hReadFile[iSeq] = INVALID_HANDLE_VALUE;
}

void BeginRefWrite(IOWORKER *pWriter, LPCSTR pszFile, DWORD cbWhole)
{
    ListLock lock;
    if (!g_fListReady) return;
    pWriter->pszWriteFile = pszFile;
    pWriter->cbWhole = cbWhole;
    pWriter->pPrevWrite = NULL;
    pWriter->pNextWrite = g_pFirstWrite;
    if (g_pFirstWrite) g_pFirstWrite->pPrevWrite = pWriter;
    g_pFirstWrite = pWriter;
}

void EndRefWrite(IOWORKER *pWriter)
{
    {
        ListLock lock;
        if (!g_fListReady || pWriter->pszWriteFile == NULL) return;
        if (pWriter->pPrevWrite) pWriter->pPrevWrite->pNextWrite = pWriter->pNextWrite;
        else g_pFirstWrite = pWriter->pNextWrite;
        if (pWriter->pNextWrite) pWriter->pNextWrite->pPrevWrite = pWriter->pPrevWrite;
        pWriter->pNextWrite = pWriter->pPrevWrite = NULL;
        pWriter->pszWriteFile = NULL;
    }
    WakeAllConditionVariable(&g_cvWrites);
}

void AdvanceRefWrite(IOWORKER *pWriter, DWORD cbWritten)
{
    {
        ListLock lock;
        if (!g_fListReady || pWriter->pszWriteFile == NULL) return;
        pWriter->cbWhole += cbWritten;
    }
    WakeAllConditionVariable(&g_cvWrites);
}

void WaitForRefWrites(LPCSTR pszFile, ULONGLONG ullEnd)
{
    ListLock lock;
    if (!g_fListReady) return;
    DWORD cbWhole = 0;
    while (WritingLocked(pszFile, &cbWhole) && cbWhole < ullEnd)
        SleepConditionVariableCS(&g_cvWrites, &g_csInstances, INFINITE);
}

BOOL SettledRefFileSize(LPCSTR pszFile, HANDLE hFile, DWORD *pcbFile)
{
    // Writers announce their writes under the same lock, so that no write
    // can begin between the look and the size.
    ListLock lock;
    DWORD cbWhole = 0;
    BOOL fWriting = g_fListReady && WritingLocked(pszFile, &cbWhole);
    *pcbFile = GetFileSize(hFile, NULL);
    if (*pcbFile == INVALID_FILE_SIZE) return FALSE;
    if (fWriting && cbWhole < *pcbFile) *pcbFile = cbWhole;
    return TRUE;
}
