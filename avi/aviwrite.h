// Writing AVI files. An output buffered in large pieces, whose full pieces a
// thread of its own writes while the next fills; chunks and lists opened by
// a mark and closed by it, the size written at the close; and an OpenDML
// AVI's indexes: idx1 over the first RIFF, a standard index of each stream
// closing each movi list, a super index of each stream in its header list
// listing them, and the whole count of frames, with each RIFF closed before
// it passes a limit.
#pragma once

#include "avi/aviread.h"
#include "scaffold/odml.h"

// The buffer of an output that writes large pieces.
#define AVIOUT_BUFFER (1024u * 1024)

typedef struct {
    HANDLE h;
    BYTE *pb;
    DWORD cbBuffer;    // pb's room (and pbSpare's)
    DWORD cb;          // bytes waiting in pb
    ULONGLONG ullPos;  // the file's length with them
    BOOL fFailed;      // a write failed: nothing more is written
    // The writer thread: one write outstanding at most.
    HANDLE hThread;
    HANDLE hWork;  // manual-reset: a write or the stop handed over
    HANDLE hIdle;  // manual-reset: no write outstanding
    BYTE *pbSpare; // the buffer being written, else free
    DWORD cbPending;
    BOOL fStop;
    BOOL fWriteFailed;
} AVIOUT;

// Writes to h (which stays the caller's) from its current place, counted as
// ullPos, in pieces of cbBuffer bytes; with fThread through a writer thread
// when one can be had. FALSE without memory.
BOOL AviOutOpen(AVIOUT *pOut, HANDLE h, DWORD cbBuffer, BOOL fThread);
// Stops the thread (its write waited for) and frees the buffers; what is
// still in the buffer is not written (AviOutDrain first).
void AviOutClose(AVIOUT *pOut);
void AviOutPut(AVIOUT *pOut, const void *pData, DWORD cb);
void AviOutDword(AVIOUT *pOut, DWORD dw);
void AviOutZeros(AVIOUT *pOut, DWORD cb);
// Writes over bytes written earlier: in the buffer while they are still
// there, else in the file.
void AviOutPatch(AVIOUT *pOut, ULONGLONG ullAt, const void *pData, DWORD cb);
void AviOutPatchDword(AVIOUT *pOut, ULONGLONG ullAt, DWORD dw);
// Every byte so far is in the file; FALSE when a write failed.
BOOL AviOutDrain(AVIOUT *pOut);
// Opens a chunk (fccType 0) or a list ("RIFF" or "LIST" with its type) and
// returns its mark: the place of its header.
ULONGLONG AviOutBegin(AVIOUT *pOut, FOURCC ckid, FOURCC fccType);
// Closes what the mark opened: its size written, a pad byte after data of
// odd size. FALSE (the output failed) when the size would pass 4 GiB.
BOOL AviOutEnd(AVIOUT *pOut, ULONGLONG ullMark);
// A whole chunk, padded.
void AviOutChunk(AVIOUT *pOut, FOURCC ckid, const void *pData, DWORD cb);
// cb bytes of a file from ullFrom on, as they are; FALSE when they cannot
// be read (the output's failure is in fFailed).
BOOL AviOutCopy(AVIOUT *pOut, RIFFFILE *pFrom, ULONGLONG ullFrom, ULONGLONG cb);
// A chunk of that id whose cb bytes of data are a file's from ullFrom on,
// padded; its size is written with its header, so that nothing is patched
// behind a writer thread. FALSE when they cannot be read.
BOOL AviOutCopyAsChunk(AVIOUT *pOut, FOURCC ckid, RIFFFILE *pFrom, ULONGLONG ullFrom, DWORD cb);
// A chunk of another RIFF file as it is, as far as its parent holds it (a
// list with its type and children), padded; FALSE when it cannot be read.
BOOL AviOutCopyChunk(AVIOUT *pOut, RIFFFILE *pFrom, const RIFFCHUNK *pChunk);

// Entries of one standard index; a RIFF is closed when a stream has as many.
#define AVIODML_STDINDEX_CAP 1000000u

// What went wrong in the OpenDML writer (AVIODML.nError).
#define AVIODML_OK 0
#define AVIODML_WRITE 1        // the output cannot be written
#define AVIODML_IDX1 2         // the idx1 kept aside cannot be written or read back
#define AVIODML_NO_MEMORY 3
#define AVIODML_SUPER_FULL 4   // a stream needs more standard indexes than its super index holds
#define AVIODML_MOVI_4G 5      // a movi list would pass 4 GiB
#define AVIODML_RIFF_4G 6
#define AVIODML_LIST_4G 7

typedef struct {
    FOURCC fccType;
    DWORD nBlockAlign;  // an audio stream's bytes a block: its duration counts blocks
    FOURCC dwChunkId;   // the id of its chunks, from the first one
    ULONGLONG ullIndx;  // its super index's chunk
    ODMLSUPERENTRY *pSuper;
    DWORD nSuper, nSuperCap;
    ODMLSTDENTRY *pEntries;  // of the movi list in hand
    DWORD nEntries, nEntryCap;
    ULONGLONG ullDuration;
} AVIODMLSTREAM;

typedef struct {
    AVIOUT *pOut;
    // The first RIFF's idx1 entries, kept in a file of their own until its
    // movi list is done.
    AVIOUT *pIdx1;
    ULONGLONG ullRiffLimit;
    AVIODMLSTREAM aStreams[AVI_MAX_STREAMS];
    int nStreams;
    int iVideo;  // the first video stream, -1 without one
    ULONGLONG ullRiff, ullMovi;  // the RIFF and the movi list in hand
    BOOL fFirstRiff;
    DWORD nIdx1;
    DWORD nFrames, nFramesFirst;  // the video stream's, all and in the first RIFF
    DWORD cbLargest;              // the largest chunk written
    ULONGLONG ullAvih, ullVideoStrh, ullDmlh;
    DWORD cbAvih, cbVideoStrh;
    // Writes what the first RIFF holds after its movi list, before idx1;
    // FALSE stops the writing (the caller says why). Its bytes count
    // against the first RIFF's limit.
    BOOL (*pfnFirstRiffTail)(void *pContext);
    ULONGLONG cbFirstRiffTail;
    void *pContext;
    int nError;  // AVIODML_*
} AVIODML;

// Starts the AVI: its RIFF "AVI ". The idx1 file is written from its start.
void AviOdmlStart(AVIODML *pOdml, AVIOUT *pOut, AVIOUT *pIdx1, ULONGLONG ullRiffLimit);
// The header list's parts, as they are written. The main header and the
// video stream's header are noted where they were written (their data), so
// that the counts and buffer sizes can be filled in at the end.
void AviOdmlNoteAvih(AVIODML *pOdml, ULONGLONG ullData, DWORD cb);
// A stream's list is begun: its type and, for sound, its block's size.
void AviOdmlBeginStream(AVIODML *pOdml, FOURCC fccType, DWORD nBlockAlign);
void AviOdmlNoteVideoStrh(AVIODML *pOdml, ULONGLONG ullData, DWORD cb);
// The stream's super index, with room for nSuperCap standard indexes:
// last in its stream list.
void AviOdmlSuperIndex(AVIODML *pOdml, DWORD nSuperCap);
// The "odml" list with the count of frames: last in the header list.
void AviOdmlHeaderEnd(AVIODML *pOdml);
void AviOdmlStartMovi(AVIODML *pOdml);
// Before cb bytes at the top of a movi list that nChunks chunks will be
// indexed in (1 for a chunk; a list's chunks and the list itself): a new
// RIFF when this one would pass the limit with its indexes, or a standard
// index is full.
void AviOdmlRoom(AVIODML *pOdml, DWORD cb, DWORD nChunks);
// Lists a chunk just written at ullChunk: in idx1 (with its flags) when
// fIdx1 and the first RIFF is in hand, and, for frames and sound, in its
// stream's standard index. Returns the idx1 entry's place in the idx1 file
// (~0 when none was written).
ULONGLONG AviOdmlIndex(AVIODML *pOdml, FOURCC ckid, BOOL fIdx1, DWORD dwFlags, BOOL fKey, ULONGLONG ullChunk, DWORD cb);
// Closes a list that AviOdmlIndex listed (ullEntry) or not (~0): its size
// written in both.
void AviOdmlEndList(AVIODML *pOdml, ULONGLONG ullMark, ULONGLONG ullEntry);
// Closes the last RIFF and fills in the super indexes and the counts.
void AviOdmlFinish(AVIODML *pOdml);
void AviOdmlFree(AVIODML *pOdml);
