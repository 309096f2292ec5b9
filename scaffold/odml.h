// OpenDML's indexes, as the reader of AVIs and the writer of resolved AVIs
// both use them: a stream's super index ("indx", in its header list) lists
// standard indexes ("ixNN", one closing each movi list), which list the
// stream's chunks by the place of their data from a base. An AVI past 1 GiB
// goes on in "AVIX" RIFFs, which only these indexes cover; "dmlh" in the
// "odml" list counts the frames of them all. Integers are little-endian.
#pragma once

#include "platform/win.h"

#include <stddef.h>

#define ODML_INDEX_OF_INDEXES 0x00  // bIndexType of a super index
#define ODML_INDEX_OF_CHUNKS 0x01   // bIndexType of a standard index
#define ODML_NOT_KEYFRAME 0x80000000u
#define ODML_SIZEMASK 0x7FFFFFFFu
#define ODML_DMLH_SIZE 248

// The header of either kind of index, after the chunk's id and size.
typedef struct {
    WORD wLongsPerEntry;  // 4 for a super index, 2 for a standard index
    BYTE bIndexSubType;
    BYTE bIndexType;
    DWORD nEntriesInUse;
    DWORD dwChunkId;      // the chunks it indexes ("00dc" ...)
    DWORD dwBaseLow;      // a standard index: the base of its offsets
    DWORD dwBaseHigh;
    DWORD dwReserved;
} ODMLINDEXHEADER;

// An entry of a super index: a standard index chunk and what it covers.
typedef struct {
    DWORD dwOffsetLow;    // the standard index chunk's place in the file
    DWORD dwOffsetHigh;
    DWORD dwSize;         // its bytes, header included
    DWORD dwDuration;     // the frames (or audio blocks) it lists
} ODMLSUPERENTRY;

// An entry of a standard index: a chunk's data, from the index's base.
typedef struct {
    DWORD dwOffset;
    DWORD dwSize;         // with ODML_NOT_KEYFRAME
} ODMLSTDENTRY;

static_assert(sizeof(ODMLINDEXHEADER) == 24, "ODMLINDEXHEADER is 24 bytes");
static_assert(sizeof(ODMLSUPERENTRY) == 16, "ODMLSUPERENTRY is 16 bytes");
static_assert(sizeof(ODMLSTDENTRY) == 8, "ODMLSTDENTRY is 8 bytes");
static_assert(offsetof(ODMLINDEXHEADER, dwChunkId) == 8, "ODMLINDEXHEADER.dwChunkId at 8");

inline ULONGLONG OdmlBase(const ODMLINDEXHEADER *pHeader)
{
    return ((ULONGLONG)pHeader->dwBaseHigh << 32) | pHeader->dwBaseLow;
}
inline ULONGLONG OdmlSuperOffset(const ODMLSUPERENTRY *pEntry)
{
    return ((ULONGLONG)pEntry->dwOffsetHigh << 32) | pEntry->dwOffsetLow;
}

// TRUE when the header, of a chunk of cbChunk bytes, is a standard index's;
// its count of entries in use is then cut to what the chunk holds.
inline BOOL OdmlStandardEntries(ODMLINDEXHEADER *pHeader, DWORD cbChunk)
{
    if (pHeader->bIndexType != ODML_INDEX_OF_CHUNKS || pHeader->wLongsPerEntry < 2 || pHeader->wLongsPerEntry > 4 ||
        cbChunk < sizeof(*pHeader))
        return FALSE;
    DWORD nHeld = (cbChunk - (DWORD)sizeof(*pHeader)) / (4u * pHeader->wLongsPerEntry);
    if (pHeader->nEntriesInUse > nHeld) pHeader->nEntriesInUse = nHeld;
    return TRUE;
}
