// Chunks of a RIFF file, read through a file handle at 64-bit places. Each
// chunk's size is held to its parent's end by subtraction, so that no size a
// file claims leads a reader past its parent or the file; lists nest at most
// RIFF_MAX_DEPTH deep. Every walk moves on by 8 bytes at least a chunk, so
// the chunks a walk sees are never more than the file's size over 8.
#pragma once

#include "platform/win.h"

#define RIFF_MAX_DEPTH 8
// Bytes read ahead at once for walks over chunk headers.
#define RIFF_BLOCK 65536u

typedef struct {
    HANDLE h;
    ULONGLONG cbFile;
    BYTE *pbBlock;       // the file's bytes from ullBlock on, for walks
    ULONGLONG ullBlock;
    DWORD cbBlock;
    DWORD cbBlockCap;    // the block's room
    BOOL fReadFailed;    // a read of bytes that the file holds failed
} RIFFFILE;

typedef struct {
    FOURCC ckid;
    FOURCC fccType;      // a "RIFF" or "LIST" chunk's type; 0 for any other
    ULONGLONG ullPos;    // its 8-byte header
    DWORD cbSize;        // its size as its header gives it
    ULONGLONG ullData;   // its data; a list's children, after its type
    ULONGLONG ullEnd;    // its data's end, held to its parent's end
    BOOL fCut;           // it claims more than its parent holds
} RIFFCHUNK;

typedef struct {
    RIFFFILE *pFile;
    ULONGLONG ullNext;   // the next child's header
    ULONGLONG ullEnd;    // the parent's data's end
    int nDepth;
    BOOL fFailed;        // a read failed: the walk ended short of the end
} RIFFCURSOR;

// Reads through h (which stays the caller's); FALSE when its size cannot be
// had or there is no memory.
BOOL RiffOpenFile(RIFFFILE *pFile, HANDLE h);
void RiffCloseFile(RIFFFILE *pFile);
// Exactly cb bytes at ullAt; FALSE past the file's end or on a failed read
// (which also sets fReadFailed: a reader tells it from the file's end).
// Pieces up to a quarter of the block come through the block, larger ones
// straight from the file; any file read in order can be read this way.
BOOL RiffRead(RIFFFILE *pFile, ULONGLONG ullAt, void *pData, DWORD cb);
// The same bytes without a copy where the block holds them: a pointer into
// the block, or pData (cb bytes of the caller's) with the bytes read into
// it; NULL where RiffRead fails. A pointer into the block holds until the
// next RiffRead, RiffPeek, RiffSetBlock, RiffTakeBlock or RiffCloseFile of
// the file; a RiffWrite over those bytes changes them.
const BYTE *RiffPeek(RIFFFILE *pFile, ULONGLONG ullAt, DWORD cb, void *pData);
// A larger block for a reader that goes through the whole file in order;
// FALSE (the block as it was) without memory. A block that can hold the
// whole file is read from the file's start: the reads after it come from
// memory until it is forgotten.
BOOL RiffSetBlock(RIFFFILE *pFile, DWORD cbBlock);
// Forgets what was read ahead (after the file was written).
void RiffForget(RIFFFILE *pFile);
// Gives pTo the bytes read ahead by pFrom, a reader of the same file, which
// then has none.
void RiffTakeBlock(RIFFFILE *pTo, RIFFFILE *pFrom);
// Writes cb bytes at ullAt straight to the file, and over the bytes read
// ahead that they replace, so that reads after it see them; FALSE when not
// all were written (the block is then forgotten).
BOOL RiffWrite(RIFFFILE *pFile, ULONGLONG ullAt, const void *pData, DWORD cb);

// The file's own chunks (its RIFF forms).
void RiffTopCursor(RIFFFILE *pFile, RIFFCURSOR *pCursor);
// A cursor over the children of a chunk from ullData to ullEnd (for a
// part of a list, or a chunk that some index names).
void RiffRangeCursor(RIFFFILE *pFile, ULONGLONG ullData, ULONGLONG ullEnd, int nDepth, RIFFCURSOR *pCursor);
// The next chunk; FALSE when no whole header fits before the parent's end,
// or (fFailed set) when the file cannot be read there.
BOOL RiffNext(RIFFCURSOR *pCursor, RIFFCHUNK *pChunk);
// A cursor over a list's children; FALSE when the chunk is no list or the
// lists nest too deep.
BOOL RiffEnter(const RIFFCURSOR *pParent, const RIFFCHUNK *pList, RIFFCURSOR *pChild);
// The next chunk of that id (and, for lists, that type: 0 for any); FALSE
// when there is none.
BOOL RiffFind(RIFFCURSOR *pCursor, FOURCC ckid, FOURCC fccType, RIFFCHUNK *pChunk);
// Whether a chunk id is four printable characters, as every real chunk's
// is: zeros (a file's preallocated tail) or other bytes are no chunk, and a
// walk that meets them stops there.
inline BOOL RiffIsChunkId(FOURCC ckid)
{
    for (int i = 0; i < 4; i++) {
        BYTE b = (BYTE)(ckid >> (8 * i));
        if (b < 0x20 || b > 0x7E) return FALSE;
    }
    return TRUE;
}
// The bytes of a chunk's data that its parent holds.
inline DWORD RiffHeld(const RIFFCHUNK *pChunk) { return (DWORD)(pChunk->ullEnd - pChunk->ullData); }
// The bytes that the chunk, as far as its parent holds it, takes in a copy:
// its header, its data (a list's type too) and the pad byte after data of
// odd size.
inline ULONGLONG RiffCopySize(const RIFFCHUNK *pChunk)
{
    ULONGLONG cb = pChunk->ullEnd - pChunk->ullPos - 8;
    return 8 + cb + (cb & 1);
}
