// The version shown in every window's caption. Windows only.
#pragma once

#include "platform/win.h"

#include <stdio.h>
#include <string.h>

#include "scaffold/version.h"

// Appends " " and the version to a window's caption (read with room for 64
// characters).
inline void AppendVersionToCaption(HWND hwnd)
{
    CHAR szCaption[64 + 16];
    GetWindowTextA(hwnd, szCaption, 64);
    size_t cch = strlen(szCaption);
    snprintf(szCaption + cch, sizeof(szCaption) - cch, " %s", PRODUCT_VERSION);
    SetWindowTextA(hwnd, szCaption);
}
