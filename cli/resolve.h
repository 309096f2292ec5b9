// spool resolve's passes: what the command (resolve.cpp), the measuring pass
// (resolve_measure.cpp) and the writing pass (resolve_write.cpp) share.
//
// The input is read through the AVI layer: its chunks from the movi lists of
// every RIFF, each one's flags from the index that lists it, found by its
// place. The output is an OpenDML AVI written by the layer's writer.
#pragma once

#include "cli/spool.h"

#include "avi/aviread.h"
#include "avi/aviwrite.h"
#include "codec/refformat.h"

// Reads through the input and the reference files go in blocks this large:
// chunks and frames come in file order, most of a few bytes to a few hundred
// kilobytes, and each would cost a seek and a read of its own.
#define RESOLVE_READ_BLOCK (1024u * 1024)
// The output's RIFFs are closed before they pass this (SPOOL_RIFF_LIMIT sets
// another, for tests).
#define RESOLVE_RIFF_LIMIT 0x40000000ull
// Chunks of ids that name no stream are counted at this index.
#define RESOLVE_OTHER AVI_MAX_STREAMS

// What the chunks of movi lists take once resolved, found before anything
// is written: the bytes of each record's frame or of the chunk itself, and
// the chunks of each stream. Each record is checked against its file: a
// frame that the file cannot hold fails here, so that no claim of a record
// makes the output's headers grow. Lists in movi are measured one level
// down.
typedef struct {
    ULONGLONG ullBytes;
    ULONGLONG aullChunks[AVI_MAX_STREAMS + 1];
    ULONGLONG ullChunks;
    CHAR szFile[MAX_PATH];  // the reference file looked at last
    ULONGLONG ullFileSize;
    BOOL fFileThere;
    DWORD nVideo;           // frames of video streams so far
    // By video stream: records of raw frames (the input DIB as it came) and
    // of compressed ones, and the frames that are no records: one stream
    // cannot be both. A stream's first raw frame's header gives its format.
    DWORD anRaw[AVI_MAX_STREAMS], anCoded[AVI_MAX_STREAMS];
    REFFRAMEHEADER aRawHeaders[AVI_MAX_STREAMS];
    ULONGLONG aullPlain[AVI_MAX_STREAMS];
} RESOLVEMEASURE;

typedef struct {
    LPCSTR pszAvi;
    LPCSTR pszOut;
    AVIREAD avi;         // the input, read through avi.file
    AVIPLACES places;    // its listed chunks by place, as the writing pass meets them
    AVIOUT out, idx1;    // the output and its first RIFF's idx1, kept aside
    AVIODML odml;
    DWORD anSuperCap[AVI_MAX_STREAMS];  // each stream's super index's room
    ULONGLONG ullRiffLimit;
    // Where the record in hand's name leads.
    CHAR szLastPath[MAX_PATH];
    // The reference file read last.
    CHAR szRefFile[MAX_PATH];
    HANDLE hRef;
    RIFFFILE ref;
    DWORD nResolved;
    DWORD nVideo;    // video chunks seen
    DWORD dwFrame;   // the one being written, for the messages
    DWORD nUnlisted; // frames that no index lists
    BOOL fFailed;    // said already
    // The whole input's measure, taken before the output is made; then
    // each list's, the reference files' sizes known by then.
    RESOLVEMEASURE measure;
    // The streams of raw frames: their formats, written in place of the
    // codec's (biSize 0 for the other streams).
    BITMAPINFOHEADER abiRaw[AVI_MAX_STREAMS];
} RESOLVE;

// Says the first failure ("frame %lu: ..." with the frame in hand and one
// argument); FALSE.
// Whether a chunk is a frame of a video stream ("NNdc" or "NNdb"): the
// chunks that records stand in for.
BOOL IsVideoFrame(const RESOLVE *pState, FOURCC ckid);
BOOL ResolveFail(RESOLVE *pState, LPCSTR pszEnglish, LPCSTR pszJapanese, LPCSTR pszArg);
// The path at which a record's name is found, as MapRefPath gives it
// (valid until the next call); NULL after a message.
LPCSTR ResolveRecordPath(RESOLVE *pState, const REFRECORD *pRec);
// The index of a chunk id in the measure: its stream, or RESOLVE_OTHER.
int ResolveSlotOf(FOURCC ckid);

// Reads the input through the layer (ReadAvi's result), measuring every
// chunk of its movi lists along the layer's walk: AVIREAD_STOPPED after a
// message.
int ReadAndMeasure(RESOLVE *pState, HANDLE hIn);
// The chunks that a cursor gives (fTop: those of a movi list itself).
BOOL MeasureChunks(RESOLVE *pState, RIFFCURSOR *pCursor, BOOL fTop, RESOLVEMEASURE *pMeasure);
// The raw frames' format from the measure; FALSE after a message.
BOOL TakeRawFormat(RESOLVE *pState);
// Each stream's super index room from the measure.
void SizeSuperIndexes(RESOLVE *pState);

// The writing pass: the whole output through the layer's writer; FALSE
// after a message.
BOOL WriteResolved(RESOLVE *pState);
