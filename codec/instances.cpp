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

// How long the teardown at the end of the process waits for a worker whose
// thread may already be gone.
const DWORD PROCESS_END_WAIT_MS = 1000;

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
// When a stop runs out of time (at the end of the process the workers'
// threads may be gone) the instance is left as it is, since a thread still
// alive could be using its buffers and files.
void DestroyInstance(CODECINSTANCE *pInst, DWORD dwMaxWait)
{
    for (int i = 0; i < WORKER_COUNT; i++)
        if (!StopWorker(&pInst->aWorker[i], dwMaxWait)) return;
    for (int iSeq = 0; iSeq < 2; iSeq++) {
        CloseWriteFile(pInst, iSeq, TRUE);
        CloseReadFile(pInst, iSeq, TRUE);
    }
    delete pInst;
}

}  // namespace

void InitInstanceList(void)
{
    if (!g_fListReady) {
        InitializeCriticalSection(&g_csInstances);
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
    CODECINSTANCE *pInst = new (std::nothrow) CODECINSTANCE();
    if (!pInst) return FALSE;
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
    DestroyInstance(pInst, INFINITE);
    return TRUE;
}

void ReleaseAllInstances(BOOL fProcessEnding)
{
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
        DestroyInstance(pInst, fProcessEnding ? PROCESS_END_WAIT_MS : INFINITE);
    }
}

void CloseWriteFile(CODECINSTANCE *pInst, int iSeq, BOOL fFully)
{
    IOWORKER *pWriter = &pInst->aWorker[WORKER_WRITE0 + iSeq];
    if (fFully) {
        StopWorker(pWriter, INFINITE);
        FreeWorker(pWriter);
    } else {
        // A write still in hand finishes before its file goes.
        WaitWorkerIdle(pWriter);
    }
    pInst->dwWriteOffset[iSeq] = 0;
    if (pInst->hWriteFile[iSeq] != INVALID_HANDLE_VALUE) CloseHandle(pInst->hWriteFile[iSeq]);
    pInst->hWriteFile[iSeq] = INVALID_HANDLE_VALUE;
}

void CloseReadFile(CODECINSTANCE *pInst, int iSeq, BOOL fFully)
{
    IOWORKER *pReader = &pInst->aWorker[WORKER_READ0 + iSeq];
    if (fFully) {
        StopWorker(pReader, INFINITE);
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
