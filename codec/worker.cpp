// Background workers: each instance has a read-ahead worker and a writer
// per sequence. A worker carries one job at a time; the caller and the
// worker's thread hand it over through the atomic state word and two
// manual-reset events, one that wakes the thread and one that is signalled
// while no job is in hand, on which the caller blocks. While the state is
// WORKER_BUSY the buffer and the sequence's file belong to the worker's
// thread, otherwise to the caller.
//
// Each thread holds a reference to this module from its start to its very
// end, so that the module cannot be unloaded under a thread that is still
// running its code; the caller that stops a worker waits until the thread
// itself has ended.
#include "codec/spoolcap.h"

#include <stdlib.h>
#include <string.h>

namespace {

BOOL ReadAll(HANDLE hFile, void *pData, DWORD cb)
{
    DWORD cbDone = 0;
    return ReadFile(hFile, pData, cb, &cbDone, NULL) && cbDone == cb;
}

// A read-ahead job: the frame at the file's position, header and data, into
// the buffer laid out as the read buffer is (the header is also kept as the
// sequence's read-ahead header), when the frame takes at most cbTransfer
// bytes and lies within the whole part of the file.
BOOL ReadAhead(CODECINSTANCE *pInst, int iSeq, IOWORKER *pWorker)
{
    HANDLE hFile = pInst->hReadFile[iSeq];
    REFFRAMEHEADER *pHeader = pInst->pAheadHeader[iSeq];
    if (!ReadAll(hFile, pWorker->pBuffer, sizeof(REFFRAMEHEADER))) return FALSE;
    memcpy(pHeader, pWorker->pBuffer, sizeof(REFFRAMEHEADER));
    ULONGLONG cbFrame = (ULONGLONG)sizeof(REFFRAMEHEADER) + pHeader->dwDataSize;
    if (cbFrame > pWorker->cbTransfer || cbFrame > pWorker->cbReadable) return FALSE;
    return ReadAll(hFile, pWorker->pBuffer + sizeof(REFFRAMEHEADER), pHeader->dwDataSize);
}

// Drops the frames queued behind a failed write, keeping their buffers.
void DropQueue(WRITEQUEUE *pQueue)
{
    while (QUEUEDFRAME *pFrame = pQueue->pFirst) {
        pQueue->pFirst = pFrame->pNext;
        pFrame->pNext = pQueue->pFree;
        pQueue->pFree = pFrame;
        pQueue->nDropped++;
    }
    pQueue->pLast = NULL;
    pQueue->nQueued = 0;
}

// A queue job: writes the queue's frames in order until it is empty. The
// frame being written stays first in the queue (its bytes held) until its
// write is over; a failed write drops the frames behind it.
BOOL WriteQueue(HANDLE hFile, IOWORKER *pWorker)
{
    WRITEQUEUE *pQueue = &pWorker->queue;
    for (;;) {
        EnterCriticalSection(&pWorker->csQueue);
        QUEUEDFRAME *pFrame = pQueue->pFirst;
        if (!pFrame) pQueue->fDraining = FALSE;
        LeaveCriticalSection(&pWorker->csQueue);
        if (!pFrame) return TRUE;
        DWORD cbDone = 0;
        BOOL fOk = WriteFile(hFile, QueuedBytes(pFrame), pFrame->cb, &cbDone, NULL) && cbDone == pFrame->cb;
        EnterCriticalSection(&pWorker->csQueue);
        pQueue->pFirst = pFrame->pNext;
        if (!pQueue->pFirst) pQueue->pLast = NULL;
        pQueue->nQueued--;
        pFrame->pNext = pQueue->pFree;
        pQueue->pFree = pFrame;
        if (!fOk) {
            pQueue->nDropped = 0;
            DropQueue(pQueue);
            pQueue->fFailed = TRUE;
            pQueue->fDraining = FALSE;
        }
        LeaveCriticalSection(&pWorker->csQueue);
        WakeAllConditionVariable(&pWorker->cvQueue);
        if (!fOk) return FALSE;
        // Readers of the file may have the frame from here on.
        AdvanceRefWrite(pWorker, cbDone);
    }
}

void WorkerLoop(CODECINSTANCE *pInst, int iWorker)
{
    IOWORKER *pWorker = &pInst->aWorker[iWorker];
    BOOL fReader = iWorker == WORKER_READ0 || iWorker == WORKER_READ1;
    // The idle event is signalled before the state changes: a caller that
    // sees the new state may hand over the next job at once, and resets the
    // event for it, which a later signal must not undo.
    SetEvent(pWorker->hIdle);
    pWorker->nState.store(WORKER_STARTED);
    for (;;) {
        WaitForSingleObject(pWorker->hEvent, INFINITE);
        ResetEvent(pWorker->hEvent);
        LONG nState = pWorker->nState.load();
        if (nState == WORKER_QUIT) return;
        if (nState != WORKER_BUSY) continue;
        BOOL fDone;
        if (fReader) {
            fDone = ReadAhead(pInst, iWorker - WORKER_READ0, pWorker);
        } else if (pWorker->fQueueJob) {
            fDone = WriteQueue(pInst->hWriteFile[iWorker - WORKER_WRITE0], pWorker);
            EndRefWrite(pWorker);
        } else {
            DWORD cbDone = 0;
            BOOL fOk = WriteFile(pInst->hWriteFile[iWorker - WORKER_WRITE0], pWorker->pBuffer, pWorker->cbTransfer,
                                 &cbDone, NULL);
            EndRefWrite(pWorker);
            fDone = fOk && cbDone == pWorker->cbTransfer;
        }
        SetEvent(pWorker->hIdle);
        pWorker->nState.store(fDone ? WORKER_DONE : WORKER_FAILED);
    }
}

// The thread ends by giving back its reference to the module, from outside
// the module's code.
unsigned RunWorker(void *pArg, int iWorker)
{
    CODECINSTANCE *pInst = static_cast<CODECINSTANCE *>(pArg);
    HMODULE hModule = pInst->aWorker[iWorker].hModule;
    WorkerLoop(pInst, iWorker);
    if (hModule) FreeLibraryAndExitThread(hModule, 0);
    return 0;
}

unsigned WINAPI ReadAheadThread0(void *pArg) { return RunWorker(pArg, WORKER_READ0); }
unsigned WINAPI ReadAheadThread1(void *pArg) { return RunWorker(pArg, WORKER_READ1); }
unsigned WINAPI WriterThread0(void *pArg) { return RunWorker(pArg, WORKER_WRITE0); }
unsigned WINAPI WriterThread1(void *pArg) { return RunWorker(pArg, WORKER_WRITE1); }

// Starts the worker's thread and waits until it runs; FALSE when it cannot.
BOOL StartWorkerThread(CODECINSTANCE *pInst, IOWORKER *pWorker)
{
    // The thread's own reference to this module.
    HMODULE hModule = NULL;
    if (!GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, reinterpret_cast<LPCSTR>(&WorkerLoop), &hModule))
        return FALSE;
    pWorker->hModule = hModule;
    ResetEvent(pWorker->hIdle);
    HANDLE hThread = (HANDLE)_beginthreadex(NULL, 0, pWorker->pfnThread, pInst, 0, NULL);
    if (hThread == NULL) {
        FreeLibrary(hModule);
        pWorker->hModule = NULL;
        SetEvent(pWorker->hIdle);
        return FALSE;
    }
    pWorker->hThread = hThread;
    while (pWorker->nState.load() != WORKER_STARTED) WaitForSingleObject(pWorker->hIdle, INFINITE);
    pWorker->nState.store(WORKER_IDLE);
    return TRUE;
}

}  // namespace

void InitWorker(IOWORKER *pWorker, int iWorker)
{
    static unsigned(WINAPI *const s_apfnThread[WORKER_COUNT])(void *) = {ReadAheadThread0, ReadAheadThread1,
                                                                        WriterThread0, WriterThread1};
    pWorker->nState.store(WORKER_IDLE);
    pWorker->pfnThread = s_apfnThread[iWorker];
    pWorker->hThread = NULL;
    pWorker->hEvent = NULL;
    pWorker->hIdle = NULL;
    pWorker->hModule = NULL;
    pWorker->pBuffer = NULL;
    pWorker->cbBuffer = 0;
    pWorker->cbTransfer = 0;
    pWorker->cbReadable = 0;
    pWorker->pszWriteFile = NULL;
    pWorker->pNextWrite = NULL;
    pWorker->pPrevWrite = NULL;
    InitializeCriticalSection(&pWorker->csQueue);
    InitializeConditionVariable(&pWorker->cvQueue);
    memset(&pWorker->queue, 0, sizeof(pWorker->queue));
    pWorker->fQueueJob = FALSE;
}

void DeleteWorker(IOWORKER *pWorker) { DeleteCriticalSection(&pWorker->csQueue); }

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
    if (pWorker->hIdle == NULL) {
        pWorker->hIdle = CreateEventA(NULL, TRUE, TRUE, NULL);
        if (pWorker->hIdle == NULL) return FALSE;
    }
    if (pWorker->hThread == NULL && !StartWorkerThread(pInst, pWorker)) return FALSE;
    pWorker->cbTransfer = cbSize;
    return TRUE;
}

void HandOverWorker(IOWORKER *pWorker)
{
    // The idle event goes down before the state says busy, so that a caller
    // who sees the job in hand finds the event to wait on.
    ResetEvent(pWorker->hIdle);
    pWorker->nState.store(WORKER_BUSY);
    SetThreadPriority(pWorker->hThread, GetThreadPriority(GetCurrentThread()));
    SetEvent(pWorker->hEvent);
}

void WaitWorkerIdle(IOWORKER *pWorker)
{
    while (pWorker->nState.load() == WORKER_BUSY) WaitForSingleObject(pWorker->hIdle, INFINITE);
}

void StopWorker(IOWORKER *pWorker)
{
    if (pWorker->hThread == NULL) {
        pWorker->nState.store(WORKER_IDLE);
        return;
    }
    // The job in hand runs to its end, and its outcome is kept.
    WaitWorkerIdle(pWorker);
    LONG nOutcome = pWorker->nState.load();
    pWorker->nState.store(WORKER_QUIT);
    SetEvent(pWorker->hEvent);
    WaitForSingleObject(pWorker->hThread, INFINITE);
    CloseHandle(pWorker->hThread);
    pWorker->hThread = NULL;
    pWorker->hModule = NULL;
    pWorker->nState.store(nOutcome);
}

namespace {
void FreeQueueBuffers(WRITEQUEUE *pQueue);
}

void FreeWorker(IOWORKER *pWorker)
{
    if (pWorker->hEvent) CloseHandle(pWorker->hEvent);
    pWorker->hEvent = NULL;
    if (pWorker->hIdle) CloseHandle(pWorker->hIdle);
    pWorker->hIdle = NULL;
    free(pWorker->pBuffer);
    pWorker->pBuffer = NULL;
    pWorker->cbBuffer = 0;
    // The queue is empty once the worker has stopped: its buffers go.
    WRITEQUEUE *pQueue = &pWorker->queue;
    DropQueue(pQueue);
    FreeQueueBuffers(pQueue);
    pQueue->fFailed = pQueue->fDraining = FALSE;
    pQueue->cbPeak = pQueue->nDropped = 0;
    pWorker->fQueueJob = FALSE;
}

BYTE *QueuedBytes(QUEUEDFRAME *pFrame) { return reinterpret_cast<BYTE *>(pFrame + 1); }

namespace {

// Gives back the buffers of written frames.
void FreeQueueBuffers(WRITEQUEUE *pQueue)
{
    while (QUEUEDFRAME *pFree = pQueue->pFree) {
        pQueue->pFree = pFree->pNext;
        pQueue->cbHeld -= pFree->cbCap;
        free(pFree);
    }
}

}  // namespace

int QueueFrameBuffer(CODECINSTANCE *pInst, IOWORKER *pWriter, DWORD cb, ULONGLONG cbLimit, QUEUEDFRAME **ppFrame)
{
    *ppFrame = NULL;
    if (QueueFailed(pWriter)) return QUEUE_FAILED;
    // The thread that writes the queue; when no job is in hand, none can
    // start but through this caller.
    if (pWriter->nState.load() != WORKER_BUSY && !PrepareWorker(pInst, pWriter, 0)) return QUEUE_NONE;
    WRITEQUEUE *pQueue = &pWriter->queue;
    EnterCriticalSection(&pWriter->csQueue);
    int nResult = QUEUE_OK;
    for (;;) {
        if (pQueue->fFailed) {
            nResult = QUEUE_FAILED;
            break;
        }
        // The written frame's buffer that fits best. One more than twice as
        // large (a key frame's among smaller ones, or one larger than the
        // whole queue) goes, so that large buffers do not take the room of
        // many small frames.
        QUEUEDFRAME **ppBest = NULL;
        for (QUEUEDFRAME **pp = &pQueue->pFree; *pp; pp = &(*pp)->pNext)
            if ((*pp)->cbCap >= cb && (!ppBest || (*pp)->cbCap < (*ppBest)->cbCap)) ppBest = pp;
        if (ppBest) {
            QUEUEDFRAME *pBest = *ppBest;
            *ppBest = pBest->pNext;
            if (pBest->cbCap / 2 <= cb || pBest->cbCap <= 65536) {
                *ppFrame = pBest;
                break;
            }
            pQueue->cbHeld -= pBest->cbCap;
            free(pBest);
        }
        // A new buffer: the free ones give their room to it when it would
        // not fit beside them.
        if (pQueue->cbHeld + cb > cbLimit) FreeQueueBuffers(pQueue);
        if (pQueue->cbHeld + cb <= cbLimit || !pQueue->pFirst) {
            QUEUEDFRAME *pNew = (QUEUEDFRAME *)malloc(sizeof(QUEUEDFRAME) + (size_t)cb);
            if (pNew) {
                pNew->cbCap = cb;
                pQueue->cbHeld += cb;
                if (pQueue->cbHeld > pQueue->cbPeak) pQueue->cbPeak = pQueue->cbHeld;
                *ppFrame = pNew;
                break;
            }
            // Without memory for it, the frame waits for queued frames to be
            // written, their buffers given back; with none queued, it cannot
            // be queued.
            FreeQueueBuffers(pQueue);
            if (!pQueue->pFirst) {
                nResult = QUEUE_NONE;
                break;
            }
        }
        // Full: the writer is writing the queue, and wakes this caller as
        // each frame leaves it.
        SleepConditionVariableCS(&pWriter->cvQueue, &pWriter->csQueue, INFINITE);
    }
    LeaveCriticalSection(&pWriter->csQueue);
    return nResult;
}

int QueueFrame(IOWORKER *pWriter, QUEUEDFRAME *pFrame, LPCSTR pszFile, DWORD dwOffset)
{
    WRITEQUEUE *pQueue = &pWriter->queue;
    EnterCriticalSection(&pWriter->csQueue);
    // A write that failed since the buffer was given dropped the queue: the
    // frame joins no queue behind a broken frame.
    if (pQueue->fFailed) {
        pFrame->pNext = pQueue->pFree;
        pQueue->pFree = pFrame;
        LeaveCriticalSection(&pWriter->csQueue);
        return QUEUE_FAILED;
    }
    pFrame->pNext = NULL;
    if (pQueue->pLast) pQueue->pLast->pNext = pFrame;
    else pQueue->pFirst = pFrame;
    pQueue->pLast = pFrame;
    pQueue->nQueued++;
    BOOL fStart = !pQueue->fDraining;
    pQueue->fDraining = TRUE;
    LeaveCriticalSection(&pWriter->csQueue);
    if (fStart) {
        // The last job has ended (a queue job that found the queue empty,
        // or one frame, whose outcome the caller has looked at).
        WaitWorkerIdle(pWriter);
        // The queue is empty but for this frame: the file is whole up to it.
        BeginRefWrite(pWriter, pszFile, dwOffset);
        pWriter->fQueueJob = TRUE;
        HandOverWorker(pWriter);
    }
    return QUEUE_OK;
}

BOOL QueueFailed(IOWORKER *pWriter)
{
    EnterCriticalSection(&pWriter->csQueue);
    BOOL fFailed = pWriter->queue.fFailed;
    LeaveCriticalSection(&pWriter->csQueue);
    return fFailed;
}

void ClearWriterFailure(IOWORKER *pWriter)
{
    EnterCriticalSection(&pWriter->csQueue);
    pWriter->queue.fFailed = FALSE;
    LeaveCriticalSection(&pWriter->csQueue);
    pWriter->nState.store(WORKER_IDLE);
}
