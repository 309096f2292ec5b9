#include "codec/refformat.h"

#include "scaffold/paths.h"

#include <stddef.h>
#include <stdio.h>
#include <string.h>

void BuildRefRecord(REFRECORD *pRec, int iSeq, BOOL fRaw, DWORD dwOffset, DWORD dwFrameSize,
                    LPCSTR pszFileName)
{
    memcpy(pRec->achMagic, REFREC_MAGIC, REFREC_MAGIC_LEN);
    pRec->dwOffset = dwOffset;
    pRec->dwSizeFlags = (dwFrameSize & REFREC_SIZEMASK) | (iSeq ? REFREC_SECOND : 0) | (fRaw ? REFREC_RAW : 0);
    memset(pRec->szFileName, 0, sizeof(pRec->szFileName));
    strncpy(pRec->szFileName, pszFileName, sizeof(pRec->szFileName) - 1);
}

ULONGLONG RefRecordFrameEnd(const void *pData, DWORD cbData, DWORD *pdwOffset)
{
    if (!IsRefRecord(pData, cbData)) return 0;
    // Only the head: the magic, the offset and the size with its flags, the
    // bytes that the data holds of it and zeros after them.
    REFRECORD rec;
    const DWORD cbHead = (DWORD)offsetof(REFRECORD, szFileName);
    if (cbData >= cbHead) {
        memcpy(&rec, pData, cbHead);
    } else {
        memset(&rec, 0, cbHead);
        memcpy(&rec, pData, cbData);
    }
    if (pdwOffset) *pdwOffset = rec.dwOffset;
    return (ULONGLONG)rec.dwOffset + RefRecordFrameSize(&rec);
}

BOOL IsRefRecord(const void *pData, DWORD cbData)
{
    return pData != NULL && cbData >= REFREC_MAGIC_LEN && memcmp(pData, REFREC_MAGIC, REFREC_MAGIC_LEN) == 0;
}

DWORD ComputePadding(DWORD dwDataSize, DWORD dwPercent)
{
    // Unsigned 32-bit arithmetic throughout: the product wraps.
    DWORD dwPad = (DWORD)(dwDataSize * dwPercent) / 100;
    dwPad &= ~(DWORD)15;
    if (dwDataSize % 16) dwPad = dwPad - dwDataSize % 16 + 16;
    return dwPad;
}

BOOL FillFrameHeader(REFFRAMEHEADER *pHeader, DWORD dwDataSize, DWORD dwPadSize, LONG lWidth, LONG lHeight)
{
    ULONGLONG cbFrame = (ULONGLONG)sizeof(REFFRAMEHEADER) + dwDataSize + dwPadSize;
    if (cbFrame >= REFFRAME_LIMIT) return FALSE;
    pHeader->dwFrameSize = (DWORD)cbFrame;
    pHeader->dwDataSize = dwDataSize;
    pHeader->dwPadSize = dwPadSize;
    pHeader->wWidth = (SHORT)(lWidth & 0xFFFF);
    pHeader->wHeight = (SHORT)(lHeight & 0xFFFF);
    return TRUE;
}

int NextRefFileNumber(LPCSTR pszFullBase)
{
    CHAR szPattern[MAX_PATH + 2];
    if (strlen(pszFullBase) + 2 >= sizeof(szPattern)) return 0;
    snprintf(szPattern, sizeof(szPattern), "%s.*", pszFullBase);
    LPCSTR pszBaseName = GetFileNamePart(pszFullBase);
    size_t cchBase = strlen(pszBaseName);

    int nHighest = -1;
    WIN32_FIND_DATAA found;
    HANDLE hFind = FindFirstFileA(szPattern, &found);
    if (hFind == INVALID_HANDLE_VALUE) return 0;
    do {
        // Only "<base>.ddd" counts: exactly three decimal digits after the dot.
        LPCSTR pszName = found.cFileName;
        if (strlen(pszName) != cchBase + 4 || pszName[cchBase] != '.') continue;
        if (_strnicmp(pszName, pszBaseName, cchBase) != 0) continue;
        LPCSTR pszDigits = pszName + cchBase + 1;
        int nNumber = 0;
        bool fDigits = true;
        for (int i = 0; i < 3; i++) {
            if (pszDigits[i] < '0' || pszDigits[i] > '9') fDigits = false;
            nNumber = nNumber * 10 + (pszDigits[i] - '0');
        }
        if (fDigits && nNumber > nHighest) nHighest = nNumber;
    } while (FindNextFileA(hFind, &found));
    FindClose(hFind);
    return nHighest + 1;
}

HANDLE CreateRefFileFrom(LPCSTR pszFullBase, int nFirst, LPSTR pszFileName)
{
    pszFileName[0] = 0;
    // Another instance, of this process or another, may take a number between
    // the listing and the creation: a file is made only where none is, and a
    // clash moves on to the next number. A full series refuses further frames
    // rather than replace a file.
    for (int nNumber = nFirst; nNumber <= REFFILE_MAXNUMBER; nNumber++) {
        int cchName = snprintf(pszFileName, MAX_PATH, "%s.%03d", pszFullBase, nNumber);
        if (cchName < 0 || cchName >= MAX_PATH) break;
        HANDLE hFile = CreateFileA(pszFileName, GENERIC_WRITE, FILE_SHARE_READ, NULL, CREATE_NEW,
                                   FILE_FLAG_WRITE_THROUGH | FILE_FLAG_SEQUENTIAL_SCAN, NULL);
        if (hFile != INVALID_HANDLE_VALUE) return hFile;
        // A name that is taken (or whose file is being deleted, which the
        // platform refuses as access denied) moves on to the next number.
        DWORD dwError = GetLastError();
        if (dwError == ERROR_ACCESS_DENIED) {
            GetFileAttributesA(pszFileName);
            if (GetLastError() != ERROR_ACCESS_DENIED) break;
        } else if (dwError != ERROR_FILE_EXISTS && dwError != ERROR_ALREADY_EXISTS) {
            break;
        }
    }
    pszFileName[0] = 0;
    return INVALID_HANDLE_VALUE;
}

HANDLE CreateNextRefFile(LPCSTR pszBase, LPSTR pszFileName)
{
    pszFileName[0] = 0;
    if (pszBase == NULL || pszBase[0] == 0) return INVALID_HANDLE_VALUE;
    CHAR szFull[MAX_PATH];
    DWORD cchFull = GetFullPathNameA(pszBase, sizeof(szFull), szFull, NULL);
    if (cchFull == 0 || cchFull > REFBASE_MAXPATH) return INVALID_HANDLE_VALUE;
    return CreateRefFileFrom(szFull, NextRefFileNumber(szFull), pszFileName);
}

DWORD DibImageSize(const BITMAPINFOHEADER *pbi)
{
    if (pbi == NULL) return 0;
    if (pbi->biSizeImage) return pbi->biSizeImage;
    if (pbi->biCompression != BI_RGB && pbi->biCompression != BI_BITFIELDS) return 0;
    ULONGLONG cbStride = (((ULONGLONG)(DWORD)pbi->biWidth * pbi->biBitCount + 31) / 32) * 4;
    ULONGLONG cRows = pbi->biHeight < 0 ? (ULONGLONG) - (LONGLONG)pbi->biHeight : (ULONGLONG)pbi->biHeight;
    ULONGLONG cb = cbStride * cRows;
    return cb > 0xFFFFFFFFull ? 0xFFFFFFFFu : (DWORD)cb;
}
