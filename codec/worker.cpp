// Background workers: each instance has a read-ahead worker and a writer
// per sequence. A worker carries one job at a time; the caller and the
// worker's thread hand it over through the atomic state word and a
// manual-reset event, without locks. While the state is WORKER_BUSY the
// buffer and the sequence's file belong to the worker's thread, otherwise to
// the caller.
#include "codec/spoolcap.h"

#include <stdlib.h>

namespace {

void WorkerLoop(CODECINSTANCE *pInst, int iWorker)
{
    IOWORKER *pWorker = &pInst->aWorker[iWorker];
    pWorker->nState.store(WORKER_STARTED);
    for (;;) {
        WaitForSingleObject(pWorker->hEvent, INFINITE);
        ResetEvent(pWorker->hEvent);
        LONG nState = pWorker->nState.load();
        if (nState == WORKER_QUIT) {
            // The last touch of the instance: after this the caller may free it.
            pWorker->hThread.store(WORKER_NO_THREAD);
            return;
        }
        if (nState != WORKER_BUSY) continue;
        DWORD cbDone = 0;
        BOOL fOk;
        if (iWorker == WORKER_READ0 || iWorker == WORKER_READ1) {
            fOk = ReadFile(pInst->hReadFile[iWorker - WORKER_READ0], pWorker->pBuffer, pWorker->cbTransfer,
                           &cbDone, NULL);
        } else {
            fOk = WriteFile(pInst->hWriteFile[iWorker - WORKER_WRITE0], pWorker->pBuffer, pWorker->cbTransfer,
                            &cbDone, NULL);
        }
        pWorker->nState.store(fOk && cbDone == pWorker->cbTransfer ? WORKER_DONE : WORKER_FAILED);
    }
}

void ReadAheadThread0(void *pArg) { WorkerLoop(static_cast<CODECINSTANCE *>(pArg), WORKER_READ0); }
void ReadAheadThread1(void *pArg) { WorkerLoop(static_cast<CODECINSTANCE *>(pArg), WORKER_READ1); }
void WriterThread0(void *pArg) { WorkerLoop(static_cast<CODECINSTANCE *>(pArg), WORKER_WRITE0); }
void WriterThread1(void *pArg) { WorkerLoop(static_cast<CODECINSTANCE *>(pArg), WORKER_WRITE1); }

}  // namespace

void InitWorker(IOWORKER *pWorker, int iWorker)
{
    static void (*const s_apfnThread[WORKER_COUNT])(void *) = {ReadAheadThread0, ReadAheadThread1,
                                                               WriterThread0, WriterThread1};
    pWorker->nState.store(WORKER_IDLE);
    pWorker->pfnThread = s_apfnThread[iWorker];
    pWorker->hThread.store(WORKER_NO_THREAD);
    pWorker->hEvent = NULL;
    pWorker->pBuffer = NULL;
    pWorker->cbBuffer = 0;
    pWorker->cbTransfer = 0;
}

BOOL PrepareWorker(CODECINSTANCE *pInst, IOWORKER *pWorker, DWORD cbSize)
{
    pWorker->nState.store(WORKER_IDLE);
    if (pWorker->pBuffer == NULL || pWorker->cbBuffer < cbSize) {
        BYTE *pNew = static_cast<BYTE *>(realloc(pWorker->pBuffer, cbSize ? cbSize : 1));
        if (!pNew) return FALSE;
        pWorker->pBuffer = pNew;
        pWorker->cbBuffer = cbSize;
    }
    if (pWorker->hEvent == NULL) {
        pWorker->hEvent = CreateEventA(NULL, TRUE, FALSE, NULL);
        if (pWorker->hEvent == NULL) return FALSE;
    }
    if (pWorker->hThread.load() == WORKER_NO_THREAD) {
        uintptr_t hThread = _beginthread(pWorker->pfnThread, 0, pInst);
        if (hThread == WORKER_NO_THREAD || hThread == 0) return FALSE;
        pWorker->hThread.store(hThread);
        while (pWorker->nState.load() != WORKER_STARTED) Sleep(0);
        pWorker->nState.store(WORKER_IDLE);
    }
    pWorker->cbTransfer = cbSize;
    return TRUE;
}

void HandOverWorker(IOWORKER *pWorker)
{
    pWorker->nState.store(WORKER_BUSY);
    SetThreadPriority((HANDLE)pWorker->hThread.load(), GetThreadPriority(GetCurrentThread()));
    SetEvent(pWorker->hEvent);
}

void WaitWorkerIdle(IOWORKER *pWorker)
{
    while (pWorker->nState.load() == WORKER_BUSY) Sleep(0);
}

BOOL StopWorker(IOWORKER *pWorker, DWORD dwMaxWait)
{
    if (pWorker->hThread.load() == WORKER_NO_THREAD) {
        pWorker->nState.store(WORKER_IDLE);
        return TRUE;
    }
    DWORD dwStart = GetTickCount();
    auto fOutOfTime = [&]() { return dwMaxWait != INFINITE && GetTickCount() - dwStart > dwMaxWait; };
    // The job in hand runs to its end.
    while (pWorker->nState.load() == WORKER_BUSY) {
        if (fOutOfTime()) return FALSE;
        SetEvent(pWorker->hEvent);
        Sleep(0);
    }
    LONG nOutcome = pWorker->nState.load();
    while (pWorker->hThread.load() != WORKER_NO_THREAD) {
        if (fOutOfTime()) return FALSE;
        pWorker->nState.store(WORKER_QUIT);
        SetEvent(pWorker->hEvent);
        Sleep(0);
    }
    pWorker->nState.store(nOutcome);
    return TRUE;
}

void FreeWorker(IOWORKER *pWorker)
{
    if (pWorker->hEvent) CloseHandle(pWorker->hEvent);
    pWorker->hEvent = NULL;
    free(pWorker->pBuffer);
    pWorker->pBuffer = NULL;
    pWorker->cbBuffer = 0;
}
