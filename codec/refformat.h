// Reference files and reference records.
//
// A reference file holds compressed frames one after another, each a 16-byte
// REFFRAMEHEADER, the frame's data and its padding. A reference record is the
// 276-byte chunk that stands in an AVI in place of a compressed frame and
// names the reference file and the frame's place in it. All integers are
// little-endian.
#pragma once

#include "platform/win.h"

#include <stddef.h>

#define REFREC_MAGIC "Spoolcap"
#define REFREC_MAGIC_LEN 8

// Bits of REFRECORD.dwSizeFlags.
#define REFREC_SIZEMASK 0x3FFFFFFFu
#define REFREC_SECOND 0x40000000u  // written to the second sequence (BaseFile2)
#define REFREC_RAW 0x80000000u     // the frame's data is the uncompressed input DIB

// A reference file never grows beyond this many bytes.
#define REFFILE_MAXSIZE 0x7FFFFFFFu
// A frame, header and padding included, stays below 2^30 bytes.
#define REFFRAME_LIMIT 0x40000000u
// Longest full path of a base name: "%s.%03d" must fit 259 characters.
#define REFBASE_MAXPATH 255
// Reference files are numbered .000 to .999.
#define REFFILE_MAXNUMBER 999

typedef struct {
    CHAR achMagic[REFREC_MAGIC_LEN];  // "Spoolcap", no terminator
    DWORD dwOffset;                   // offset of the frame's header in the file
    DWORD dwSizeFlags;                // frame size in bits 0-29, REFREC_SECOND, REFREC_RAW
    CHAR szFileName[MAX_PATH];        // full path of the file, NUL-filled
} REFRECORD;

typedef struct {
    DWORD dwFrameSize;  // 16 + dwDataSize + dwPadSize
    DWORD dwDataSize;   // bytes of frame data
    DWORD dwPadSize;    // bytes of padding after the data
    SHORT wWidth;       // low 16 bits of the input's biWidth
    SHORT wHeight;      // low 16 bits of the input's biHeight
} REFFRAMEHEADER;

static_assert(sizeof(REFRECORD) == 276, "REFRECORD is 276 bytes");
static_assert(offsetof(REFRECORD, achMagic) == 0, "REFRECORD.achMagic at 0");
static_assert(offsetof(REFRECORD, dwOffset) == 8, "REFRECORD.dwOffset at 8");
static_assert(offsetof(REFRECORD, dwSizeFlags) == 12, "REFRECORD.dwSizeFlags at 12");
static_assert(offsetof(REFRECORD, szFileName) == 16, "REFRECORD.szFileName at 16");
static_assert(sizeof(REFFRAMEHEADER) == 16, "REFFRAMEHEADER is 16 bytes");
static_assert(offsetof(REFFRAMEHEADER, dwFrameSize) == 0, "REFFRAMEHEADER.dwFrameSize at 0");
static_assert(offsetof(REFFRAMEHEADER, dwDataSize) == 4, "REFFRAMEHEADER.dwDataSize at 4");
static_assert(offsetof(REFFRAMEHEADER, dwPadSize) == 8, "REFFRAMEHEADER.dwPadSize at 8");
static_assert(offsetof(REFFRAMEHEADER, wWidth) == 12, "REFFRAMEHEADER.wWidth at 12");
static_assert(offsetof(REFFRAMEHEADER, wHeight) == 14, "REFFRAMEHEADER.wHeight at 14");

// Fills a record: magic, offset, frame size with the sequence and raw bits,
// and the path with NUL fill (cut to 259 characters).
void BuildRefRecord(REFRECORD *pRec, int iSeq, BOOL fRaw, DWORD dwOffset, DWORD dwFrameSize,
                    LPCSTR pszFileName);

// TRUE when the data holds at least the magic and begins with it.
BOOL IsRefRecord(const void *pData, DWORD cbData);
// Where the frame that a record places ends in its file (its offset and
// frame size, as far as the data holds them); 0 when the data is no record.
// With pdwOffset, also the offset where the frame begins.
ULONGLONG RefRecordFrameEnd(const void *pData, DWORD cbData, DWORD *pdwOffset = NULL);

inline DWORD RefRecordFrameSize(const REFRECORD *pRec) { return pRec->dwSizeFlags & REFREC_SIZEMASK; }
inline int RefRecordSequence(const REFRECORD *pRec) { return (pRec->dwSizeFlags & REFREC_SECOND) ? 1 : 0; }
// TRUE when a frame header adds up: header, data and padding make its frame
// size without wrapping round, and the frame stays below REFFRAME_LIMIT (a
// record holds a frame's size in 30 bits). Only then is the next frame
// where the size says. Every reader of reference files checks by this.
inline BOOL FrameHeaderAddsUp(const REFFRAMEHEADER *pHeader)
{
    return pHeader->dwFrameSize < REFFRAME_LIMIT &&
           (ULONGLONG)sizeof(REFFRAMEHEADER) + pHeader->dwDataSize + pHeader->dwPadSize == pHeader->dwFrameSize;
}
// TRUE when a header read at a record's offset is the record's frame: it
// adds up, to the frame size that the record gives.
inline BOOL FrameHeaderFits(const REFFRAMEHEADER *pHeader, DWORD cbRecordFrame)
{
    return FrameHeaderAddsUp(pHeader) && pHeader->dwFrameSize == cbRecordFrame;
}

inline BOOL RefRecordIsRaw(const REFRECORD *pRec) { return (pRec->dwSizeFlags & REFREC_RAW) ? TRUE : FALSE; }

// Padding of a compressed frame of dwDataSize bytes for a Padding of
// dwPercent: data and padding together are a multiple of 16.
DWORD ComputePadding(DWORD dwDataSize, DWORD dwPercent);

// Fills a frame header; FALSE when the frame would reach REFFRAME_LIMIT.
BOOL FillFrameHeader(REFFRAMEHEADER *pHeader, DWORD dwDataSize, DWORD dwPadSize, LONG lWidth, LONG lHeight);

// The number of the next reference file of a base name given as a full
// path: one more than the highest existing three-digit number, 0 when there
// is none. May return REFFILE_MAXNUMBER + 1.
int NextRefFileNumber(LPCSTR pszFullBase);

// Creates the next reference file of a base name: full path, number, name
// "%s.%03d" (into pszFileName, MAX_PATH bytes) and the file, open for
// writing and shared for reading. Returns INVALID_HANDLE_VALUE when the base
// name is empty or too long, the series is full or the file cannot be made.
// An existing file is never replaced.
HANDLE CreateNextRefFile(LPCSTR pszBase, LPSTR pszFileName);
// Creates the first file of the series that does not exist yet, from number
// nFirst on, up to .999.
HANDLE CreateRefFileFrom(LPCSTR pszFullBase, int nFirst, LPSTR pszFileName);

// Bytes of a picture of the format: its biSizeImage, or for an uncompressed
// format that leaves it 0, the rows (each padded to 4 bytes) times the
// height. 0 when unknown.
DWORD DibImageSize(const BITMAPINFOHEADER *pbi);
