// Claims of units of a shared pool of work (see claims.h).
#include "cli/claims.h"

#include "cli/jobs.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

BOOL OpenClaims(CLAIMS *pClaims, LPCSTR pszPath, const FILEID *pId, DWORD nUnits, int iPart)
{
    memset(pClaims, 0, sizeof(*pClaims));
    pClaims->h = INVALID_HANDLE_VALUE;
    if (nUnits > CLAIM_UNITS_MAX || iPart < 0 || iPart >= CLAIM_PARTS_MAX) return FALSE;
    // Read at places, and written only at the end: no write lands on
    // another's record.
    HANDLE h = OpenJobFile(pszPath, pId, GENERIC_READ | FILE_APPEND_DATA);
    if (h == INVALID_HANDLE_VALUE) return FALSE;
    BYTE *abOwner = (BYTE *)malloc(nUnits ? nUnits : 1);
    if (!abOwner) {
        CloseHandle(h);
        return FALSE;
    }
    memset(abOwner, CLAIM_NONE, nUnits);
    pClaims->h = h;
    pClaims->nUnits = nUnits;
    pClaims->abOwner = abOwner;
    pClaims->iPart = iPart;
    return TRUE;
}

void CloseClaims(CLAIMS *pClaims)
{
    if (pClaims->h != INVALID_HANDLE_VALUE) CloseHandle(pClaims->h);
    free(pClaims->abOwner);
    memset(pClaims, 0, sizeof(*pClaims));
    pClaims->h = INVALID_HANDLE_VALUE;
}

namespace {

// The part and unit of one record; FALSE when it is none.
BOOL TakeRecord(const BYTE *pb, DWORD *piPart, ULONGLONG *piUnit)
{
    if (pb[0] != 'c' || pb[CLAIM_RECORD - 1] != '\n') return FALSE;
    ULONGLONG ull = 0;
    for (int k = 1; k < CLAIM_RECORD - 1; k++) {
        if (pb[k] < '0' || pb[k] > '9') return FALSE;
        ull = ull * 10 + (ULONGLONG)(pb[k] - '0');
        if (k == 2) {
            *piPart = (DWORD)ull;
            ull = 0;
        }
    }
    *piUnit = ull;
    return TRUE;
}

}  // namespace

BOOL ReadClaims(CLAIMS *pClaims)
{
    if (pClaims->fFailed) return FALSE;
    BYTE ab[CLAIM_RECORD * 256];
    for (;;) {
        OVERLAPPED at;
        memset(&at, 0, sizeof(at));
        at.Offset = (DWORD)pClaims->ullRead;
        at.OffsetHigh = (DWORD)(pClaims->ullRead >> 32);
        DWORD cb = 0;
        if (!ReadFile(pClaims->h, ab, sizeof(ab), &cb, &at)) {
            if (GetLastError() == ERROR_HANDLE_EOF) return TRUE;
            pClaims->fFailed = TRUE;
            return FALSE;
        }
        DWORD nRecords = cb / CLAIM_RECORD;
        for (DWORD r = 0; r < nRecords; r++) {
            DWORD iPart = 0;
            ULONGLONG iUnit = 0;
            if (!TakeRecord(ab + r * CLAIM_RECORD, &iPart, &iUnit) || iUnit >= pClaims->nUnits) {
                pClaims->fFailed = TRUE;
                return FALSE;
            }
            // The first claim of a unit holds.
            if (pClaims->abOwner[iUnit] == CLAIM_NONE) pClaims->abOwner[iUnit] = (BYTE)iPart;
        }
        pClaims->ullRead += (ULONGLONG)nRecords * CLAIM_RECORD;
        // The end of what is there: a piece of a record waits for its rest.
        if (cb < sizeof(ab)) return TRUE;
    }
}

BOOL ClaimNextUnit(CLAIMS *pClaims, DWORD *piUnit)
{
    for (;;) {
        if (!ReadClaims(pClaims)) return FALSE;
        while (pClaims->iNext < pClaims->nUnits && pClaims->abOwner[pClaims->iNext] != CLAIM_NONE) pClaims->iNext++;
        if (pClaims->iNext >= pClaims->nUnits) return FALSE;
        DWORD iUnit = pClaims->iNext;
        char sz[CLAIM_RECORD + 1];
        snprintf(sz, sizeof(sz), "c%02d%012lu\n", pClaims->iPart, (unsigned long)iUnit);
        DWORD cbWritten = 0;
        if (!WriteFile(pClaims->h, sz, CLAIM_RECORD, &cbWritten, NULL) || cbWritten != CLAIM_RECORD ||
            !ReadClaims(pClaims)) {
            pClaims->fFailed = TRUE;
            return FALSE;
        }
        // The claim just made is in the file: the unit has an owner now.
        if (pClaims->abOwner[iUnit] == CLAIM_NONE) {
            pClaims->fFailed = TRUE;
            return FALSE;
        }
        if (pClaims->abOwner[iUnit] == pClaims->iPart) {
            *piUnit = iUnit;
            pClaims->iNext++;
            return TRUE;
        }
    }
}
