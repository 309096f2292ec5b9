// A library that is not a codec: it has no DriverProc.
#include "platform/win.h"

MODULE_EXPORT int WINAPI NotADriver(void) { return 1; }
