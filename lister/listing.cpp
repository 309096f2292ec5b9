#include "lister/listing.h"

#include <stdio.h>
#include <string.h>

UINT OpenModeFromBoxes(BOOL fQuery, BOOL fCompress, BOOL fDecompress)
{
    return (fQuery ? ICMODE_QUERY : 0) + (fCompress ? ICMODE_COMPRESS : 0) + (fDecompress ? ICMODE_DECOMPRESS : 0);
}

void FormatFourcc(DWORD fcc, LPSTR pszOut)
{
    for (int i = 0; i < 4; i++) {
        char c = (char)((fcc >> (8 * i)) & 0xFF);
        pszOut[i] = c ? c : ' ';
    }
    pszOut[4] = 0;
}

void WideToCodecText(const WCHAR *pwszText, size_t cchText, LPSTR pszOut)
{
    // Converted in the system's code page, so that a codec's Japanese name
    // reads as it should; character by character, so that a text that does
    // not fit is cut between characters.
    size_t cbOut = 0;
    for (size_t i = 0; i < cchText && pwszText[i]; i++) {
        CHAR sz[8];
        int cchWide = 1;
        // A surrogate pair is one character.
        if (pwszText[i] >= 0xD800 && pwszText[i] < 0xDC00 && i + 1 < cchText && pwszText[i + 1] >= 0xDC00 &&
            pwszText[i + 1] < 0xE000)
            cchWide = 2;
        int cb = WideCharToMultiByte(CP_ACP, 0, pwszText + i, cchWide, sz, sizeof(sz), NULL, NULL);
        if (cb <= 0) {
            sz[0] = '?';
            cb = 1;
        }
        if (cbOut + (size_t)cb > CODEC_TEXT_MAX) break;
        memcpy(pszOut + cbOut, sz, (size_t)cb);
        cbOut += (size_t)cb;
        i += (size_t)cchWide - 1;
    }
    pszOut[cbOut] = 0;
}

BOOL DescribeCodec(DWORD iCodec, UINT wMode, CODECENTRY *pEntry)
{
    ICINFO listed;
    memset(&listed, 0, sizeof(listed));
    listed.dwSize = sizeof(listed);
    if (!ICInfo(ICTYPE_VIDEO, iCodec, &listed)) return FALSE;
    FormatFourcc(listed.fccHandler, pEntry->szFourcc);
    strcpy(pEntry->szDriver, "can't open");
    strcpy(pEntry->szDescription, "can't open");
    HIC hic = ICOpen(ICTYPE_VIDEO, listed.fccHandler, wMode);
    if (!hic) return TRUE;
    // What the list says, marked as unconfirmed, unless the codec answers.
    WideToCodecText(listed.szDriver, 128, pEntry->szDriver);
    strcat(pEntry->szDriver, "?");
    WideToCodecText(listed.szDescription, 128, pEntry->szDescription);
    strcat(pEntry->szDescription, "?");
    ICINFO info;
    memset(&info, 0, sizeof(info));
    info.dwSize = sizeof(info);
    LRESULT lResult = ICGetInfo(hic, &info, sizeof(info));
    ICClose(hic);
    if (lResult) {
        WideToCodecText(info.szDriver, 128, pEntry->szDriver);
        WideToCodecText(info.szDescription, 128, pEntry->szDescription);
    }
    return TRUE;
}

void FormatListingHeader(LPSTR pszOut, size_t cbOut)
{
    snprintf(pszOut, cbOut, "%32s | %4s | %s\r\n", "driver", " id ", "codec");
}

void FormatListingRule(LPSTR pszOut, size_t cbOut)
{
    if (cbOut < 71) {
        if (cbOut) pszOut[0] = 0;
        return;
    }
    memset(pszOut, '-', 68);
    memcpy(pszOut + 68, "\r\n", 3);
}

void FormatCodecLine(const CODECENTRY *pEntry, LPSTR pszOut, size_t cbOut)
{
    snprintf(pszOut, cbOut, "%32s | %4s | %s\r\n", pEntry->szDriver, pEntry->szFourcc, pEntry->szDescription);
}
