// An AVI file's streams and, for each, its chunks in order (place, size,
// key flag, chunk id), from whichever indexes the file has: OpenDML's
// super indexes and the standard indexes they list, wherever these stand;
// the first RIFF's idx1, in any stream order, counted from movi or from the
// file's start, over "rec " lists; or, for a stream that no index covers,
// the chunks of the movi lists themselves. The movi lists of every RIFF are
// walked too, and the chunks that no index lists are counted: a file is
// read whole only when there are none. What is kept is proportional to the
// file's size: each chunk listed takes 8 bytes of the file at least.
#pragma once

#include "avi/riff.h"

#define AVI_MAX_STREAMS 100

#define AVICHUNK_KEY 0x1  // a key frame (or a chunk of a stream without delta frames)

typedef struct {
    ULONGLONG ullData;  // the chunk's data
    DWORD cbData;
    FOURCC ckid;        // as the index names it ("00dc" ...)
    DWORD dwFlags;      // AVICHUNK_*
    DWORD dwIdx1Flags;  // its idx1 entry's flags as they stand (AVIIF_*); 0 from other indexes
} AVICHUNKREF;

// Where a stream's chunk list came from.
#define AVIINDEX_NONE 0  // no chunks
#define AVIINDEX_IDX1 1
#define AVIINDEX_ODML 2
#define AVIINDEX_WALK 3  // no index lists the stream: its chunks as movi holds them

typedef struct {
    FOURCC fccType;
    FOURCC fccHandler;
    DWORD adwStrh[16];  // the stream header, as far as it goes (zeros after)
    DWORD cbStrh;
    BYTE *pbStrf;       // the format chunk, whole
    DWORD cbStrf;
    BOOL fStrhCut, fStrfCut;  // the header or the format claims more than the file holds (what
                              // their list holds of them is kept)
    ULONGLONG ullIndx;  // its super index's data, 0 without one
    DWORD cbIndx;
    int nSource;        // AVIINDEX_*
    AVICHUNKREF *pChunks;
    DWORD nChunks;
    ULONGLONG nWalked;    // its chunks in the movi lists
    ULONGLONG nUnlisted;  // of those, the ones that its index does not list
} AVIREADSTREAM;

// A RIFF of the file ("AVI " the first, "AVIX" the others) and its movi list.
typedef struct {
    ULONGLONG ullPos, ullEnd;           // the RIFF's header and its data's end
    ULONGLONG ullMovi;                  // its movi list's header, 0 without one
    ULONGLONG ullMoviData, ullMoviEnd;  // the list's chunks
    BOOL fCut;                          // it claims more than the file holds
} AVIRIFF;

// Troubles that still let the file be read (bits of AVIREAD.dwProblems).
#define AVIPROBLEM_IDX1_CUT 0x1         // idx1 runs past the file's end
#define AVIPROBLEM_ODML_UNREADABLE 0x2  // a super index or a standard index it lists cannot be read
#define AVIPROBLEM_ODML_TOO_MANY 0x4    // the standard indexes list more chunks than the file can hold

// ReadAvi's results.
#define AVIREAD_OK 0
#define AVIREAD_NOT_AVI 1    // no RIFF "AVI " at the file's start
#define AVIREAD_NO_HDRL 2    // no header list, or (ullHdrl set) no main header
#define AVIREAD_NO_MOVI 3
#define AVIREAD_NO_MEMORY 4
#define AVIREAD_UNREADABLE 5  // the file cannot be read or measured
#define AVIREAD_STOPPED 6     // the caller's look at a chunk ended the read

// A reader's look at each chunk that ReadAvi's walk of the movi lists meets,
// in file order: those of a movi list itself (fTop), and after a "rec "
// list, that list's chunks. pCursor is the walk's cursor over the chunk's
// parent, to enter a list by. FALSE ends the read with AVIREAD_STOPPED.
// Whoever reads every chunk of the file once anyway reads it along the
// walk, instead of going over the file a second time.
typedef BOOL (*AVIVISITPROC)(void *pContext, const RIFFCURSOR *pCursor, const RIFFCHUNK *pChunk, BOOL fTop);

typedef struct {
    RIFFFILE file;
    DWORD adwAvih[14];  // the main header, as far as it goes
    DWORD cbAvih;
    BOOL fDmlh;
    DWORD nDmlhFrames;  // the OpenDML header's count of all frames
    ULONGLONG ullHdrl;  // the header list's header
    int nStreams;
    AVIREADSTREAM aStreams[AVI_MAX_STREAMS];
    AVIRIFF *pRiffs;    // the first RIFF first
    int nRiffs;
    ULONGLONG ullIdx1;  // idx1's header, 0 without one
    DWORD nIdx1;        // its entries that the file holds
    BOOL fIdx1FromStart;  // its offsets count from the file's start
    ULONGLONG ullIdx1Base;  // what they count from: the file's start, movi, or as the first entry says
    DWORD nIdx1Lists;     // its entries that name a "rec " list
    ULONGLONG nUnlisted;  // chunks of the movi lists that no index lists
    ULONGLONG nUnplaced;  // index entries whose chunk the movi lists do not hold where they say
    DWORD dwProblems;     // AVIPROBLEM_*
    AVIVISITPROC pfnVisit;  // ReadAviVisiting's look at each chunk walked
    void *pVisitContext;
} AVIREAD;

// Whether a file's first bytes are those of an AVI: a RIFF of form "AVI ".
BOOL BeginsAsAvi(const BYTE *pb, DWORD cb);

// Reads the AVI open as h (which stays open and the caller's). On any
// result FreeAvi releases what was kept. An AVI of 16 MB or less is read
// whole into pAvi->file's block, which a reader of its chunks after the
// load may take (RiffTakeBlock).
int ReadAvi(HANDLE h, AVIREAD *pAvi);
// The same, with pfnVisit called for each chunk of the walk of movi.
int ReadAviVisiting(HANDLE h, AVIREAD *pAvi, AVIVISITPROC pfnVisit, void *pContext);
// Reads only the first RIFF's header list and places, for a reader that
// wants the streams' headers and formats and no chunks (a file without
// movi too).
int ReadAviHeaders(HANDLE h, AVIREAD *pAvi);
void FreeAvi(AVIREAD *pAvi);

// Finds each stream's listed chunks by their places, for a reader that
// meets the file's chunks in order: a list that its index gives out of
// order is followed through a copy sorted by place, and every list by a
// cursor that only moves on.
typedef struct {
    const AVIREAD *pAvi;
    const AVICHUNKREF **appSorted[AVI_MAX_STREAMS];  // NULL: the list is in order already
    DWORD anCursor[AVI_MAX_STREAMS];
} AVIPLACES;

// FALSE without memory.
BOOL AviStartPlaces(const AVIREAD *pAvi, AVIPLACES *pPlaces);
void AviFreePlaces(AVIPLACES *pPlaces);
// The chunk of the stream's list whose data stands at ullData, NULL when
// the list has none there. Each stream's places must be asked in order.
const AVICHUNKREF *AviChunkAt(AVIPLACES *pPlaces, int iStream, ULONGLONG ullData);

// The stream number of a chunk id ("NNxx"), -1 for ids of no stream.
int AviStreamOfId(FOURCC ckid);
