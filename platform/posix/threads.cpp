// Threads, events and locks of the POSIX stand-in.
//
// Thread priorities are kept per thread and reported back; they do not
// change the scheduling of the POSIX thread (that needs privileges).
#include "internal.h"

#include <errno.h>
#include <pthread.h>
#include <sched.h>
#include <setjmp.h>
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

// A thread object lives as long as its thread runs and, for a thread of
// _beginthreadex, until its handle is closed as well.
struct THREADOBJECT {
    KOBJECT hdr;
    pthread_t thread;
    int nPriority;
    void (*pfnStart)(void *);
    unsigned(WINAPI *pfnStartEx)(void *);
    void *pArg;
    pthread_mutex_t mutex;
    pthread_cond_t cond;
    bool fEnded;
    int nRefs;
    bool fOwnedHandle;  // _beginthreadex: the caller closes the handle
    jmp_buf jbExit;     // where FreeLibraryAndExitThread ends the thread
};

// The pseudo handle of GetCurrentThread.
HANDLE const hCurrentThread = (HANDLE)(LONG_PTR)-2;

thread_local THREADOBJECT *t_pSelf = NULL;
thread_local int t_nOwnPriority = THREAD_PRIORITY_NORMAL;

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

void ReleaseThreadObject(THREADOBJECT *pThread)
{
    pthread_mutex_lock(&pThread->mutex);
    bool fLast = --pThread->nRefs == 0;
    pthread_mutex_unlock(&pThread->mutex);
    if (!fLast) return;
    pthread_cond_destroy(&pThread->cond);
    pthread_mutex_destroy(&pThread->mutex);
    pThread->hdr.dwKind = 0;
    delete pThread;
}

// The thread has ended: waiters wake, and its own reference goes.
void ThreadEnded(void *pArg)
{
    THREADOBJECT *pThread = static_cast<THREADOBJECT *>(pArg);
    pthread_mutex_lock(&pThread->mutex);
    pThread->fEnded = true;
    pthread_cond_broadcast(&pThread->cond);
    pthread_mutex_unlock(&pThread->mutex);
    ReleaseThreadObject(pThread);
}

void *ThreadMain(void *pArg)
{
    THREADOBJECT *pThread = static_cast<THREADOBJECT *>(pArg);
    t_pSelf = pThread;
    pthread_cleanup_push(ThreadEnded, pArg);
    // FreeLibraryAndExitThread comes back here, past the frames of a module
    // that may be gone.
    if (setjmp(pThread->jbExit) == 0) {
        if (pThread->pfnStartEx) pThread->pfnStartEx(pThread->pArg);
        else pThread->pfnStart(pThread->pArg);
    }
    pthread_cleanup_pop(1);
    return NULL;
}

THREADOBJECT *StartThread(void (*pfnStart)(void *), unsigned(WINAPI *pfnStartEx)(void *), unsigned cbStack,
                          void *pArg, bool fOwnedHandle)
{
    THREADOBJECT *pThread = new (std::nothrow) THREADOBJECT;
    if (!pThread) return NULL;
    pThread->hdr.dwKind = KOBJ_THREAD;
    pThread->nPriority = THREAD_PRIORITY_NORMAL;
    pThread->pfnStart = pfnStart;
    pThread->pfnStartEx = pfnStartEx;
    pThread->pArg = pArg;
    pthread_mutex_init(&pThread->mutex, NULL);
    pthread_cond_init(&pThread->cond, NULL);
    pThread->fEnded = false;
    pThread->nRefs = fOwnedHandle ? 2 : 1;
    pThread->fOwnedHandle = fOwnedHandle;
    pthread_attr_t attr;
    pthread_attr_init(&attr);
    pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_DETACHED);
    if (cbStack) pthread_attr_setstacksize(&attr, cbStack < 16384 ? 16384 : cbStack);
    int nErr = pthread_create(&pThread->thread, &attr, ThreadMain, pThread);
    pthread_attr_destroy(&attr);
    if (nErr != 0) {
        pthread_cond_destroy(&pThread->cond);
        pthread_mutex_destroy(&pThread->mutex);
        delete pThread;
        return NULL;
    }
    return pThread;
}

DWORD WaitThreadObject(THREADOBJECT *pThread, DWORD dwMilliseconds)
{
    struct timespec deadline;
    if (dwMilliseconds != INFINITE) AbsoluteDeadline(&deadline, dwMilliseconds);
    DWORD dwResult = WAIT_OBJECT_0;
    pthread_mutex_lock(&pThread->mutex);
    while (!pThread->fEnded) {
        if (dwMilliseconds == INFINITE) {
            pthread_cond_wait(&pThread->cond, &pThread->mutex);
        } else if (pthread_cond_timedwait(&pThread->cond, &pThread->mutex, &deadline) == ETIMEDOUT &&
                   !pThread->fEnded) {
            dwResult = WAIT_TIMEOUT;
            break;
        }
    }
    pthread_mutex_unlock(&pThread->mutex);
    return dwResult;
}

}  // namespace

// _beginthread's handle belongs to the runtime, which closes it when the
// thread ends; _beginthreadex's belongs to the caller.
extern "C" uintptr_t _beginthread(void (*start_address)(void *), unsigned stack_size, void *arglist)
{
    THREADOBJECT *pThread = StartThread(start_address, NULL, stack_size, arglist, false);
    return pThread ? (uintptr_t)pThread : (uintptr_t)-1;
}

extern "C" uintptr_t _beginthreadex(void *, unsigned stack_size, unsigned(WINAPI *start_address)(void *),
                                    void *arglist, unsigned, unsigned *thrdaddr)
{
    THREADOBJECT *pThread = StartThread(NULL, start_address, stack_size, arglist, true);
    if (!pThread) return 0;
    if (thrdaddr) *thrdaddr = (unsigned)(uintptr_t)pThread->thread;
    return (uintptr_t)pThread;
}

extern "C" void _endthread(void) { pthread_exit(NULL); }

extern "C" void WINAPI FreeLibraryAndExitThread(HMODULE hLibModule, DWORD)
{
    FreeLibrary(hLibModule);
    if (t_pSelf) longjmp(t_pSelf->jbExit, 1);
    pthread_exit(NULL);
}

BOOL CloseThreadObject(KOBJECT *pObj)
{
    THREADOBJECT *pThread = reinterpret_cast<THREADOBJECT *>(pObj);
    if (pThread->fOwnedHandle) {
        pThread->fOwnedHandle = false;
        ReleaseThreadObject(pThread);
    }
    return TRUE;
}

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
    if (pObj->dwKind == KOBJ_THREAD) return WaitThreadObject(reinterpret_cast<THREADOBJECT *>(pObj), dwMilliseconds);
    if (pObj->dwKind == KOBJ_PROCESS) return WaitProcessObject(pObj, dwMilliseconds);
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

// ---------------------------------------------------------------------------
// Condition variables, over the critical sections above.

static_assert(sizeof(pthread_cond_t) <= sizeof(CONDITION_VARIABLE), "condition variable too small");

namespace {

// A zero-filled pthread condition variable is the static initializer's: the
// variable needs no making and no freeing.
pthread_cond_t *ConditionOf(PCONDITION_VARIABLE pCondition)
{
    return reinterpret_cast<pthread_cond_t *>(pCondition->abOpaque);
}

}  // namespace

extern "C" void WINAPI InitializeConditionVariable(PCONDITION_VARIABLE ConditionVariable)
{
    pthread_cond_t initial = PTHREAD_COND_INITIALIZER;
    memcpy(ConditionVariable->abOpaque, &initial, sizeof(initial));
}

extern "C" BOOL WINAPI SleepConditionVariableCS(PCONDITION_VARIABLE ConditionVariable,
                                                LPCRITICAL_SECTION CriticalSection, DWORD dwMilliseconds)
{
    pthread_cond_t *pCond = ConditionOf(ConditionVariable);
    pthread_mutex_t *pMutex = reinterpret_cast<pthread_mutex_t *>(CriticalSection->abOpaque);
    if (dwMilliseconds == INFINITE) {
        pthread_cond_wait(pCond, pMutex);
        return TRUE;
    }
    struct timespec deadline;
    AbsoluteDeadline(&deadline, dwMilliseconds);
    if (pthread_cond_timedwait(pCond, pMutex, &deadline) == ETIMEDOUT) {
        SetLastError(ERROR_TIMEOUT);
        return FALSE;
    }
    return TRUE;
}

extern "C" void WINAPI WakeAllConditionVariable(PCONDITION_VARIABLE ConditionVariable)
{
    pthread_cond_broadcast(ConditionOf(ConditionVariable));
}
