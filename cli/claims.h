// Claims: how processes that share a pool of units of work (the parts of a
// library's reading) each take the next unit no other has taken. Every
// process appends a record "c PART UNIT" to one file for the unit it wants,
// and reads the file back: the first record for a unit makes its part the
// unit's owner, whatever came after. A process that is faster than the
// others so takes more units, and all end at about the same time.
//
// A record is 16 bytes: 'c', the part in 2 digits, the unit in 12 digits,
// and '\n'. Appends of so few bytes land whole, one after another.
#pragma once

#include "cli/spool.h"
#include "scaffold/filegate.h"

#define CLAIM_RECORD 16
#define CLAIM_NONE 0xFF       // no part has claimed the unit yet
#define CLAIM_PARTS_MAX 100   // parts are numbered 0 to 99
#define CLAIM_UNITS_MAX 65536 // the most units a pool holds

typedef struct {
    HANDLE h;           // the file, opened to read and to append
    ULONGLONG ullRead;  // the bytes of it taken into abOwner
    DWORD nUnits;
    BYTE *abOwner;      // each unit's part, CLAIM_NONE while unclaimed
    int iPart;          // the part of this process
    DWORD iNext;        // no unit before it is unclaimed
    BOOL fFailed;       // it could not be read or written, or held what is no record
} CLAIMS;

// Opens the claims file at pszPath for part iPart of a pool of nUnits
// units: FALSE (nothing held) when it cannot be opened or is not the file
// of identity *pId.
BOOL OpenClaims(CLAIMS *pClaims, LPCSTR pszPath, const FILEID *pId, DWORD nUnits, int iPart);
void CloseClaims(CLAIMS *pClaims);
// Takes what was appended since the last look into abOwner; FALSE (and
// fFailed) when the file cannot be read or holds what is no record of a
// unit of the pool. An unfinished record at the end waits for its rest.
BOOL ReadClaims(CLAIMS *pClaims);
// Claims the first unit no part has claimed yet: TRUE with *piUnit when
// this part's claim came first; FALSE when every unit is claimed, or on a
// failure (fFailed), after which this part claims nothing more.
BOOL ClaimNextUnit(CLAIMS *pClaims, DWORD *piUnit);
