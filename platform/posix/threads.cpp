// Threads, events and locks of the POSIX stand-in.
//
// Thread priorities are kept per thread and reported back; they do not
// change the scheduling of the POSIX thread (that needs privileges).
#include "internal.h"

#include <errno.h>
#include <pthread.h>
#include <sched.h>
#include <time.h>

#include <new>

namespace {

struct EVENTOBJECT {
    KOBJECT hdr;
    pthread_mutex_t mutex;
    pthread_cond_t cond;
    bool fManualReset;
    bool fSignalled;
};

struct THREADOBJECT {
    KOBJECT hdr;
    pthread_t thread;
    int nPriority;
    void (*pfnStart)(void *);
    void *pArg;
};

// The pseudo handle of GetCurrentThread.
HANDLE const hCurrentThread = (HANDLE)(LONG_PTR)-2;

thread_local THREADOBJECT *t_pSelf = NULL;
thread_local int t_nOwnPriority = THREAD_PRIORITY_NORMAL;

void *ThreadTrampoline(void *pArg)
{
    THREADOBJECT *pThread = static_cast<THREADOBJECT *>(pArg);
    t_pSelf = pThread;
    pThread->pfnStart(pThread->pArg);
    return NULL;
}

void AbsoluteDeadline(struct timespec *pTs, DWORD dwMilliseconds)
{
    clock_gettime(CLOCK_REALTIME, pTs);
    pTs->tv_sec += dwMilliseconds / 1000;
    pTs->tv_nsec += (long)(dwMilliseconds % 1000) * 1000000L;
    if (pTs->tv_nsec >= 1000000000L) {
        pTs->tv_sec++;
        pTs->tv_nsec -= 1000000000L;
    }
}

}  // namespace

// _beginthread's handle belongs to the runtime, which closes it when the
// thread ends; here the thread object is released when its thread ends.
static void ReleaseSelfAtExit(void *pArg)
{
    THREADOBJECT *pThread = static_cast<THREADOBJECT *>(pArg);
    pThread->hdr.dwKind = 0;
    delete pThread;
}

namespace {

void *ThreadMain(void *pArg)
{
    void *pResult = NULL;
    pthread_cleanup_push(ReleaseSelfAtExit, pArg);
    pResult = ThreadTrampoline(pArg);
    pthread_cleanup_pop(1);
    return pResult;
}

}  // namespace

extern "C" uintptr_t _beginthread(void (*start_address)(void *), unsigned stack_size, void *arglist)
{
    THREADOBJECT *pThread = new (std::nothrow) THREADOBJECT;
    if (!pThread) return (uintptr_t)-1;
    pThread->hdr.dwKind = KOBJ_THREAD;
    pThread->nPriority = THREAD_PRIORITY_NORMAL;
    pThread->pfnStart = start_address;
    pThread->pArg = arglist;
    pthread_attr_t attr;
    pthread_attr_init(&attr);
    pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_DETACHED);
    if (stack_size) pthread_attr_setstacksize(&attr, stack_size < 16384 ? 16384 : stack_size);
    int nErr = pthread_create(&pThread->thread, &attr, ThreadMain, pThread);
    pthread_attr_destroy(&attr);
    if (nErr != 0) {
        delete pThread;
        return (uintptr_t)-1;
    }
    return (uintptr_t)pThread;
}

extern "C" void _endthread(void) { pthread_exit(NULL); }

// The runtime closes a thread's handle itself; closing it here does nothing.
BOOL CloseThreadObject(KOBJECT *) { return TRUE; }

extern "C" HANDLE WINAPI GetCurrentThread(void) { return hCurrentThread; }

extern "C" DWORD WINAPI GetCurrentThreadId(void) { return (DWORD)(uintptr_t)pthread_self(); }

extern "C" int WINAPI GetThreadPriority(HANDLE hThread)
{
    if (hThread == hCurrentThread) return t_pSelf ? t_pSelf->nPriority : t_nOwnPriority;
    THREADOBJECT *pThread = reinterpret_cast<THREADOBJECT *>(KernelObject(hThread, KOBJ_THREAD));
    return pThread ? pThread->nPriority : THREAD_PRIORITY_ERROR_RETURN;
}

extern "C" BOOL WINAPI SetThreadPriority(HANDLE hThread, int nPriority)
{
    if (hThread == hCurrentThread) {
        if (t_pSelf) t_pSelf->nPriority = nPriority;
        else t_nOwnPriority = nPriority;
        return TRUE;
    }
    THREADOBJECT *pThread = reinterpret_cast<THREADOBJECT *>(KernelObject(hThread, KOBJ_THREAD));
    if (!pThread) return FALSE;
    pThread->nPriority = nPriority;
    return TRUE;
}

extern "C" void WINAPI Sleep(DWORD dwMilliseconds)
{
    if (dwMilliseconds == 0) {
        sched_yield();
        return;
    }
    struct timespec ts;
    ts.tv_sec = dwMilliseconds / 1000;
    ts.tv_nsec = (long)(dwMilliseconds % 1000) * 1000000L;
    while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {
    }
}

extern "C" DWORD WINAPI GetTickCount(void)
{
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return (DWORD)((uint64_t)ts.tv_sec * 1000 + (uint64_t)ts.tv_nsec / 1000000);
}

// ---------------------------------------------------------------------------
// Events

extern "C" HANDLE WINAPI CreateEventA(LPSECURITY_ATTRIBUTES, BOOL bManualReset, BOOL bInitialState,
                                      LPCSTR lpName)
{
    if (lpName) {
        // Named events are not needed by the programs.
        SetLastError(ERROR_NOT_SUPPORTED);
        return NULL;
    }
    EVENTOBJECT *pEvent = new (std::nothrow) EVENTOBJECT;
    if (!pEvent) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return NULL;
    }
    pEvent->hdr.dwKind = KOBJ_EVENT;
    pthread_mutex_init(&pEvent->mutex, NULL);
    pthread_cond_init(&pEvent->cond, NULL);
    pEvent->fManualReset = bManualReset != FALSE;
    pEvent->fSignalled = bInitialState != FALSE;
    return pEvent;
}

extern "C" BOOL WINAPI SetEvent(HANDLE hEvent)
{
    EVENTOBJECT *pEvent = reinterpret_cast<EVENTOBJECT *>(KernelObject(hEvent, KOBJ_EVENT));
    if (!pEvent) return FALSE;
    pthread_mutex_lock(&pEvent->mutex);
    pEvent->fSignalled = true;
    pthread_cond_broadcast(&pEvent->cond);
    pthread_mutex_unlock(&pEvent->mutex);
    return TRUE;
}

extern "C" BOOL WINAPI ResetEvent(HANDLE hEvent)
{
    EVENTOBJECT *pEvent = reinterpret_cast<EVENTOBJECT *>(KernelObject(hEvent, KOBJ_EVENT));
    if (!pEvent) return FALSE;
    pthread_mutex_lock(&pEvent->mutex);
    pEvent->fSignalled = false;
    pthread_mutex_unlock(&pEvent->mutex);
    return TRUE;
}

DWORD WaitEventObject(KOBJECT *pObj, DWORD dwMilliseconds)
{
    EVENTOBJECT *pEvent = reinterpret_cast<EVENTOBJECT *>(pObj);
    struct timespec deadline;
    if (dwMilliseconds != INFINITE) AbsoluteDeadline(&deadline, dwMilliseconds);
    pthread_mutex_lock(&pEvent->mutex);
    while (!pEvent->fSignalled) {
        if (dwMilliseconds == INFINITE) {
            pthread_cond_wait(&pEvent->cond, &pEvent->mutex);
        } else if (pthread_cond_timedwait(&pEvent->cond, &pEvent->mutex, &deadline) == ETIMEDOUT) {
            if (!pEvent->fSignalled) {
                pthread_mutex_unlock(&pEvent->mutex);
                return WAIT_TIMEOUT;
            }
        }
    }
    if (!pEvent->fManualReset) pEvent->fSignalled = false;
    pthread_mutex_unlock(&pEvent->mutex);
    return WAIT_OBJECT_0;
}

BOOL CloseEventObject(KOBJECT *pObj)
{
    EVENTOBJECT *pEvent = reinterpret_cast<EVENTOBJECT *>(pObj);
    pthread_cond_destroy(&pEvent->cond);
    pthread_mutex_destroy(&pEvent->mutex);
    pEvent->hdr.dwKind = 0;
    delete pEvent;
    return TRUE;
}

extern "C" DWORD WINAPI WaitForSingleObject(HANDLE hHandle, DWORD dwMilliseconds)
{
    if (hHandle == NULL || hHandle == INVALID_HANDLE_VALUE) {
        SetLastError(ERROR_INVALID_HANDLE);
        return WAIT_FAILED;
    }
    KOBJECT *pObj = static_cast<KOBJECT *>(hHandle);
    if (pObj->dwKind == KOBJ_EVENT) return WaitEventObject(pObj, dwMilliseconds);
    SetLastError(ERROR_INVALID_HANDLE);
    return WAIT_FAILED;
}

// ---------------------------------------------------------------------------
// Critical sections: recursive mutexes, as the platform's are.

static_assert(sizeof(pthread_mutex_t) <= sizeof(CRITICAL_SECTION), "critical section too small");

extern "C" void WINAPI InitializeCriticalSection(LPCRITICAL_SECTION lpCriticalSection)
{
    pthread_mutexattr_t attr;
    pthread_mutexattr_init(&attr);
    pthread_mutexattr_settype(&attr, PTHREAD_MUTEX_RECURSIVE);
    pthread_mutex_t *pMutex = new (lpCriticalSection->abOpaque) pthread_mutex_t;
    pthread_mutex_init(pMutex, &attr);
    pthread_mutexattr_destroy(&attr);
}

extern "C" void WINAPI DeleteCriticalSection(LPCRITICAL_SECTION lpCriticalSection)
{
    pthread_mutex_destroy(reinterpret_cast<pthread_mutex_t *>(lpCriticalSection->abOpaque));
}

extern "C" void WINAPI EnterCriticalSection(LPCRITICAL_SECTION lpCriticalSection)
{
    pthread_mutex_lock(reinterpret_cast<pthread_mutex_t *>(lpCriticalSection->abOpaque));
}

extern "C" void WINAPI LeaveCriticalSection(LPCRITICAL_SECTION lpCriticalSection)
{
    pthread_mutex_unlock(reinterpret_cast<pthread_mutex_t *>(lpCriticalSection->abOpaque));
}
