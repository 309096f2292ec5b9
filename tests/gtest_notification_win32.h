// GoogleTest's thread start-up signal for the Windows build, which uses the
// compiler's win32 thread model: that runtime has no std::mutex, on which
// GoogleTest's own version of this class is built. Included ahead of every
// source of the tests on Windows.
#pragma once

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#define GTEST_HAS_NOTIFICATION_ 1

namespace testing {
namespace internal {

class Notification {
public:
    Notification() : hEvent(CreateEventA(NULL, TRUE, FALSE, NULL)) {}
    ~Notification() { CloseHandle(hEvent); }
    Notification(const Notification &) = delete;
    Notification &operator=(const Notification &) = delete;
    void Notify() { SetEvent(hEvent); }
    void WaitForNotification() { WaitForSingleObject(hEvent, INFINITE); }

private:
    HANDLE hEvent;
};

}  // namespace internal
}  // namespace testing
