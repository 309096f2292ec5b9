#include "scaffold/preview.h"

void ComputePreviewLayout(LONG lWidth, LONG lHeight, LONG cw, LONG ch, RECT *prcDest)
{
    LONG aw = cw - 4, ah = ch - 4;
    LONG x = 0, y = 0, dw = 0, dh = 0;
    if (lWidth > 0 && lHeight > 0 && aw > 0 && ah > 0) {
        if ((double)lWidth / lHeight > (double)aw / ah) {
            double dblScale = (double)aw / lWidth;
            dw = aw;
            dh = (LONG)(dblScale * lHeight);
            y = (ah - dh) / 2;
        } else {
            double dblScale = (double)ah / lHeight;
            dw = (LONG)(dblScale * lWidth);
            dh = ah;
            x = (aw - dw) / 2;
        }
    }
    prcDest->left = x + 2;
    prcDest->top = y + 2;
    prcDest->right = prcDest->left + dw;
    prcDest->bottom = prcDest->top + dh;
}

BOOL PickScrollFrame(UINT uRequest, DWORD c, DWORD n, BOOL fShiftPage, int nTrackPos, DWORD *pnFrame)
{
    if (n == 0) return FALSE;
    DWORD nStep = fShiftPage ? 60 : 30;
    switch (uRequest) {
    case SB_LINELEFT:
        if (c == 0) return FALSE;
        *pnFrame = c - 1;
        return TRUE;
    case SB_LINERIGHT:
        if (c + 1 >= n) return FALSE;
        *pnFrame = c + 1;
        return TRUE;
    case SB_PAGELEFT:
        if (c == 0) return FALSE;
        *pnFrame = c > nStep ? c - nStep : 0;
        return TRUE;
    case SB_PAGERIGHT:
        if (c + 1 >= n) return FALSE;
        *pnFrame = c + nStep < n - 1 ? c + nStep : n - 1;
        return TRUE;
    case SB_THUMBPOSITION:
    case SB_THUMBTRACK:
        *pnFrame = nTrackPos < 0 ? 0 : (DWORD)nTrackPos;
        if (*pnFrame > n - 1) *pnFrame = n - 1;
        return TRUE;
    }
    return FALSE;
}
