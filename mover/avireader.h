// Spoolshift's AVI engine: the loaded AVI's frame table, its decoding
// resources, and the work buffer shared by loading, the preview and the
// commands.
#pragma once

#include "avi/riff.h"
#include "platform/win.h"
#include "scaffold/filegate.h"
#include "scaffold/messages.h"

// Bits of FRAMEENTRY.dwChunkLen.
#define FRAME_LENMASK 0x3FFFFFFFu
#define FRAME_NOTKEY 0x40000000u  // the index entry lacks the key-frame flag
#define FRAME_DC 0x80000000u      // the chunk id ends in "dc"

typedef struct {
    ULONGLONG ullChunkPos;  // file offset of the chunk's 8-byte header
    DWORD dwChunkLen;       // data length and the flag bits above
    DWORD dwRef;            // reference list position of the file that the frame names
} FRAMEENTRY;

typedef struct {
    DWORD dwChunkPos;
    DWORD dwChunkLen;
} AUDIOENTRY;

typedef struct {
    CHAR szAviFile[261];
    CHAR szCodecName[131];
    FOURCC fccType;
    FOURCC fccHandler;
    HIC hic;
    HMMIO hmmio;
    HANDLE hFile;  // the file of hmmio, for frames at any place (past 4 GiB too)
    // Reads of frames through hFile, with the bytes that follow read ahead
    // (the commands go through the frames in order); writes go to the file
    // at once and over the bytes read ahead.
    RIFFFILE file;
    PAVISTREAM pStream;
    PGETFRAME pGetFrame;
    LPBITMAPINFOHEADER lpbiFormat;  // the whole format chunk, at least 40 bytes
    DWORD cbFormat;                 // its size
    BITMAPINFOHEADER biOut;         // the 24-bit bottom-up output format
    DWORD nFrames;
    DWORD nAudio;
    FRAMEENTRY *pFrames;
    AUDIOENTRY *pAudio;
    LONG fAllKey;
    LONG fNoAudio;
    // Why the frame table may not hold every frame of the file (UNSEEN_...,
    // 0 when it holds them all): what is moved or deleted on its say could
    // still be named by frames that were never read.
    DWORD dwUnseen;
    // The file that szAviFile reached when it was loaded, by whatever link
    // or spelling: its identity and its full path, links resolved.
    FILEID idFile;
    CHAR szRealFile[MAX_PATH];
} AviInfo;

// Bits of AviInfo.dwUnseen. (An OpenDML AVI whose streams have their
// indexes is read whole, through them.)
#define UNSEEN_INDEX_SHORT 0x1  // the index lists fewer frames than the header
#define UNSEEN_MORE_RIFFS 0x2   // the file goes on in further RIFFs (OpenDML)
#define UNSEEN_ODML_FRAMES 0x4  // the OpenDML header counts more frames than were read
#define UNSEEN_UNLISTED 0x8     // the movi lists hold frames that no index lists
#define UNSEEN_MORE_VIDEO 0x10  // another video stream has frames, which are not read

static_assert(sizeof(FRAMEENTRY) == 16, "FRAMEENTRY is 16 bytes");
static_assert(sizeof(AUDIOENTRY) == 8, "AUDIOENTRY is 8 bytes");

// The work buffer: pbImage (decoded picture), pbRaw (stored bytes) and
// pbScratch (texts and frame data of the commands), one block that only
// grows and is freed when the window closes.
extern BYTE *g_pbWork;
extern DWORD g_cbWork;
extern BYTE *g_pbImage;
extern BYTE *g_pbRaw;
extern BYTE *g_pbScratch;
// Frames of the loaded AVI can be decoded.
extern BOOL g_fCodecReady;

// Largest picture or stored frame the work buffer is made for.
#define WORK_REGION_MAX (256u * 1024 * 1024)

// LoadAvi opens the AVI for reading only (commands that never write it).
extern BOOL g_fAviReadOnly;

// Unloads what is loaded; with fOpen loads info->szAviFile. FALSE after
// showing a message.
BOOL LoadAvi(AviInfo *pInfo, BOOL fOpen);
void ReleaseAvi(AviInfo *pInfo);
BOOL OpenFrameCodec(AviInfo *pInfo, BOOL fOpen);
BOOL CloseFrameStream(AviInfo *pInfo);
// Opens the stream library's frame decoder for an AVI with delta frames
// (after CloseFrameStream let go of it); without it the decompressor alone
// is used.
void OpenFrameStream(AviInfo *pInfo);
// The message (with "%s" for the AVI's path) that refuses to move or delete
// reference files because the frames were not all read; NULL when they were.
const MESSAGE *UnseenRefusal(const AviInfo *pInfo);
// Frees the work buffer (when the window closes).
void FreeWorkBuffer(void);
// TRUE when the stream's frames are stored uncompressed.
BOOL IsUncompressedHandler(FOURCC fccHandler);

// Turns frame n into the picture in pbImage; FALSE, silently, when it
// cannot.
BOOL DecodeFrame(AviInfo *pInfo, DWORD n);
// Converts one uncompressed frame of cbSource bytes in the stream's format
// into the picture layout at pDest.
BOOL ConvertToRgb24(const AviInfo *pInfo, const BYTE *pSource, DWORD cbSource, BYTE *pDest);

// Reads (fWrite FALSE) the stored bytes of frame n into pBuffer, which
// holds cbBuffer bytes, and sets *pcb to their number; or writes *pcb bytes
// from pBuffer over them, which must be exactly as many. FALSE after
// showing a message.
BOOL AccessFrameData(AviInfo *pInfo, BYTE *pBuffer, DWORD cbBuffer, DWORD n, BOOL fWrite, DWORD *pcb);
// The same without a message: NULL when done, else the message of the
// failure (its "%s" the AVI's path).
const MESSAGE *FrameBytes(AviInfo *pInfo, BYTE *pBuffer, DWORD cbBuffer, DWORD n, BOOL fWrite, DWORD *pcb);
// Reads frame n as FrameBytes does, without a copy where the AVI's bytes
// are in memory: *ppb points at them (until the next read or write of the
// AVI) or at pBuffer, which then holds them.
const MESSAGE *FrameView(AviInfo *pInfo, BYTE *pBuffer, DWORD cbBuffer, DWORD n, const BYTE **ppb, DWORD *pcb);

// The AVI's rewritten bytes reach the disk (what depends on them comes
// after): FALSE when they may not have.
BOOL FlushAviToDisk(AviInfo *pInfo);

// Reads (fWrite FALSE) or writes cb bytes at a place of the loaded AVI.
BOOL AviBytesAt(AviInfo *pInfo, ULONGLONG ullAt, void *pData, DWORD cb, BOOL fWrite);
