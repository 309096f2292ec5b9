#include "mover/message.h"

#include <stdarg.h>
#include <stdio.h>

namespace {

int DefaultShowMessage(LPCSTR pszText, LPCSTR pszCaption, UINT uType)
{
#ifdef _WIN32
    return MessageBoxA(g_hwndShiftOwner, pszText, pszCaption, uType);
#else
    (void)uType;
    fprintf(stderr, "%s: %s\n", pszCaption, pszText);
    return IDOK;
#endif
}

}  // namespace

#ifdef _WIN32
HWND g_hwndShiftOwner = NULL;
#endif
SHOWMESSAGEPROC g_pfnShowMessage = DefaultShowMessage;

int ShowShiftMessage(LPCSTR pszText, UINT uType)
{
    return g_pfnShowMessage(pszText, SPOOLSHIFT_NAME, uType);
}

int ShowShiftMessageM(UINT uType, const MESSAGE *pMsg, ...)
{
    CHAR szText[4096];
    va_list args;
    va_start(args, pMsg);
    RenderMessageV(szText, sizeof(szText), pMsg, args);
    va_end(args);
    return ShowShiftMessage(szText, uType);
}
