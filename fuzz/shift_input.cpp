#include "fuzz/shift_input.h"

#include "avi/aviread.h"
#include "mover/shift.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

DWORD RunShiftCommands(AviInfo *pInfo)
{
    SHIFTREQUEST req;
    InitShiftRequest(&req);
    SHIFTRESULT res;
    InitShiftResult(&res);
    RunDetection(pInfo, &req, &res);
    DWORD nFiles = g_nRefFiles;
    if (nFiles) {
        std::string old = RefFileName(0);
        const char *pszOther = "X:\\elsewhere\\moved.000";
        RewriteRefNames(pInfo, 0, pszOther, &req, &res, NULL);
        RenameRefFile(0, pszOther);
        RewriteRefNames(pInfo, 0, old.c_str(), &req, &res, NULL);
    }
    FreeShiftResult(&res);
    return nFiles;
}

int ParseNoteInput(const BYTE *pData, size_t cbData)
{
    RELOCNOTE note;
    memset(&note, 0xCC, sizeof(note));
    DWORD cb = cbData < RELOCNOTE_MAXTEXT ? (DWORD)cbData : RELOCNOTE_MAXTEXT;
    int nKind = ParseRelocationNote(reinterpret_cast<const char *>(pData), cb, &note);
    if (nKind < RELOCNOTE_EMPTY || nKind > RELOCNOTE_FOREIGN) abort();
    if (!memchr(note.szOld, 0, sizeof(note.szOld)) || !memchr(note.szNew, 0, sizeof(note.szNew))) abort();
    if (nKind == RELOCNOTE_WHOLE && (!note.szOld[0] || !note.szNew[0])) abort();
    // A whole note says again what it said: its names and fields, whatever
    // bytes they hold, are written back as they were read.
    if (nKind == RELOCNOTE_WHOLE) {
        char szText[RELOCNOTE_MAXTEXT];
        RELOCNOTE again;
        int cch = FormatRelocationNote(&note, szText);
        if (cch <= 0 || ParseRelocationNote(szText, (DWORD)cch, &again) != RELOCNOTE_WHOLE ||
            strcmp(again.szOld, note.szOld) != 0 || strcmp(again.szNew, note.szNew) != 0 ||
            again.fCopy != note.fCopy || again.fNewMade != note.fNewMade || again.ullOldDigest != note.ullOldDigest)
            abort();
    }
    return nKind;
}

int ReadAviInput(const char *pszPath)
{
    HANDLE h = CreateFileA(pszPath, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
    if (h == INVALID_HANDLE_VALUE) return AVIREAD_UNREADABLE;
    AVIREAD *pAvi = (AVIREAD *)malloc(sizeof(AVIREAD));
    if (!pAvi) abort();
    int nResult = ReadAvi(h, pAvi);
    ULONGLONG cbFile = pAvi->file.cbFile;
    if (nResult < AVIREAD_OK || nResult > AVIREAD_UNREADABLE) abort();
    if (nResult == AVIREAD_OK) {
        if (pAvi->nRiffs < 1 || pAvi->nStreams < 0 || pAvi->nStreams > AVI_MAX_STREAMS) abort();
        for (int r = 0; r < pAvi->nRiffs; r++)
            if (pAvi->pRiffs[r].ullEnd > cbFile || pAvi->pRiffs[r].ullMoviEnd > cbFile) abort();
        ULONGLONG nKept = 0;
        for (int s = 0; s < pAvi->nStreams; s++) {
            const AVIREADSTREAM *pStream = &pAvi->aStreams[s];
            nKept += pStream->nChunks;
            if (pStream->nUnlisted > pStream->nWalked || (pStream->nChunks && !pStream->pChunks)) abort();
            for (DWORD i = 0; pStream->nSource == AVIINDEX_WALK && i < pStream->nChunks; i++)
                if (pStream->pChunks[i].ullData + pStream->pChunks[i].cbData > cbFile) abort();
        }
        // OpenDML's entries take 8 bytes of the file, idx1's 16, walked
        // chunks 8.
        if (nKept > cbFile / 8 + cbFile / 16 + cbFile / 8 + 1) abort();
    }
    FreeAvi(pAvi);
    free(pAvi);
    CloseHandle(h);
    return nResult;
}
