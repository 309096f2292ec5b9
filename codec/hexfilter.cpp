#include "codec/spoolcap.h"

#include <string.h>

int FilterHexText(LPSTR pszText, int *pnRemovedAt)
{
    static const char s_szHex[] = "0123456789ABCDEF";
    *pnRemovedAt = -1;
    int nKept = 0;
    for (int i = 0; pszText[i];) {
        unsigned char c = (unsigned char)pszText[i];
        // A double-byte character goes as a whole, so that its second byte
        // is never kept as a digit.
        int cb = (IsDBCSLeadByte(c) && pszText[i + 1]) ? 2 : 1;
        if (cb == 1 && c && strchr(s_szHex, c)) {
            pszText[nKept++] = (char)c;
        } else {
            *pnRemovedAt = nKept;
        }
        i += cb;
    }
    pszText[nKept] = 0;
    return nKept;
}
