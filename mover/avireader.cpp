// Loading an AVI: its structure read by the AVI layer (the header list, the
// first video chunk, the frame table from its indexes), the decompressor of
// the video stream opened and, for streams with delta frames, the stream
// library's frame decoder. The file stays open in the buffered multimedia
// file I/O, through which its frames are read and rewritten.
#include "mover/avireader.h"

#include "avi/aviread.h"
#include "mover/message.h"
#include "mover/shift.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

BYTE *g_pbWork = NULL;
DWORD g_cbWork = 0;
BYTE *g_pbImage = NULL;
BYTE *g_pbRaw = NULL;
BYTE *g_pbScratch = NULL;
BOOL g_fCodecReady = FALSE;

namespace {

struct AVIMAINHEADER56 {
    DWORD adw[14];  // dwTotalFrames is the fifth word
};

bool IsVideoChunkId(FOURCC ckid, char *pchDigit)
{
    const char *psz = reinterpret_cast<const char *>(&ckid);
    if (psz[0] != '0' || (psz[1] != '0' && psz[1] != '1') || psz[2] != 'd' || (psz[3] != 'b' && psz[3] != 'c'))
        return false;
    *pchDigit = psz[1];
    return true;
}

// Builds the output format: 24 bits, bottom-up, rows padded to 4 bytes.
// Returns the picture's size, or more than WORK_REGION_MAX when it has no
// usable size.
ULONGLONG FillOutputFormat(AviInfo *pInfo)
{
    const BITMAPINFOHEADER *pbi = pInfo->lpbiFormat;
    BITMAPINFOHEADER *pOut = &pInfo->biOut;
    memset(pOut, 0, sizeof(*pOut));
    pOut->biSize = sizeof(BITMAPINFOHEADER);
    pOut->biWidth = pbi->biWidth;
    // Top-down formats are shown the right way up, bottom-up like the rest.
    LONGLONG llHeight = pbi->biHeight < 0 ? -(LONGLONG)pbi->biHeight : pbi->biHeight;
    pOut->biHeight = llHeight > 0x7FFFFFFF ? 0x7FFFFFFF : (LONG)llHeight;
    pOut->biPlanes = pbi->biPlanes;
    pOut->biBitCount = 24;
    pOut->biCompression = BI_RGB;
    if (pbi->biWidth <= 0) return 0;
    ULONGLONG ullStride = ((ULONGLONG)pbi->biWidth * 3 + 3) & ~3ull;
    ULONGLONG ullSize = ullStride * (ULONGLONG)llHeight;
    pOut->biSizeImage = ullSize > 0xFFFFFFFFull ? 0xFFFFFFFFu : (DWORD)ullSize;
    return ullSize;
}

// Grows the work buffer for the AVI's pictures: the larger of the stored
// and the decoded picture, twice, and the scratch space.
bool PrepareWorkBuffer(AviInfo *pInfo)
{
    ULONGLONG ullOut = FillOutputFormat(pInfo);
    ULONGLONG ullRegion = pInfo->lpbiFormat->biSizeImage > ullOut ? pInfo->lpbiFormat->biSizeImage : ullOut;
    if (ullRegion > WORK_REGION_MAX) return false;
    DWORD c = (DWORD)ullRegion;
    DWORD cbScratch = c > 0x100000 ? c : 0x100000;
    ULONGLONG ullNeeded = (ULONGLONG)cbScratch + 2ull * c;
    if (g_cbWork >= ullNeeded) return true;
    free(g_pbWork);
    g_pbWork = static_cast<BYTE *>(malloc((size_t)ullNeeded));
    if (!g_pbWork) {
        g_cbWork = 0;
        g_pbImage = g_pbRaw = g_pbScratch = NULL;
        return false;
    }
    g_cbWork = (DWORD)ullNeeded;
    g_pbImage = g_pbWork;
    g_pbRaw = g_pbWork + c;
    g_pbScratch = g_pbWork + 2 * (size_t)c;
    return true;
}

// The codec's description, each character below 256 one byte, at most 127.
void CodecDescription(const WCHAR *pwsz, LPSTR pszOut)
{
    size_t n = 0;
    while (n < 127 && pwsz[n] && pwsz[n] < 256) {
        pszOut[n] = (char)pwsz[n];
        n++;
    }
    pszOut[n] = 0;
}

}  // namespace

BOOL IsUncompressedHandler(FOURCC fccHandler)
{
    return fccHandler == 0 || fccHandler == mmioFOURCC('D', 'I', 'B', ' ') || fccHandler == mmioFOURCC('D', 'I', 'B', 0);
}

void ReleaseAvi(AviInfo *pInfo)
{
    if (pInfo->hic) ICClose(pInfo->hic);
    pInfo->hic = NULL;
    if (pInfo->hmmio) mmioClose(pInfo->hmmio, 0);
    pInfo->hmmio = NULL;
    pInfo->hFile = NULL;
    RiffCloseFile(&pInfo->file);
    free(pInfo->lpbiFormat);
    pInfo->lpbiFormat = NULL;
    pInfo->cbFormat = 0;
    free(pInfo->pFrames);
    pInfo->pFrames = NULL;
    free(pInfo->pAudio);
    pInfo->pAudio = NULL;
}

BOOL OpenFrameCodec(AviInfo *pInfo, BOOL fOpen)
{
    if (pInfo->hic) ICClose(pInfo->hic);
    pInfo->hic = NULL;
    if (!fOpen) return TRUE;
    pInfo->hic = ICOpen(mmioFOURCC('V', 'I', 'D', 'C'), pInfo->fccHandler, ICMODE_FASTDECOMPRESS);
    return pInfo->hic != NULL;
}

BOOL CloseFrameStream(AviInfo *pInfo)
{
    BOOL fOk = TRUE;
    if (pInfo->pGetFrame) {
        if (AVIStreamGetFrameClose(pInfo->pGetFrame) != 0) fOk = FALSE;
        pInfo->pGetFrame = NULL;
    }
    if (pInfo->pStream) {
        AVIStreamRelease(pInfo->pStream);
        pInfo->pStream = NULL;
    }
    return fOk;
}

void FreeWorkBuffer(void)
{
    free(g_pbWork);
    g_pbWork = g_pbImage = g_pbRaw = g_pbScratch = NULL;
    g_cbWork = 0;
}

namespace {

// The steps of a load, over the AVI layer's reading of the file. Each
// returns NULL when it went well, else the message of the failure (its "%s"
// are the path).
struct LOADSTATE {
    AviInfo *pInfo;
    AVIREAD *pAvi;
    int nRead;  // what ReadAvi said
    char chDigit;
};

// The main header's frame count, and the first video stream with a whole
// format (and whether a sound stream with a format is there), from the
// streams in the order of the header list.
const MESSAGE *ReadHeaderList(LOADSTATE *pState)
{
    AviInfo *pInfo = pState->pInfo;
    const AVIREAD *pAvi = pState->pAvi;
    if (pState->nRead == AVIREAD_NOT_AVI) return &MSG_AVI_NO_AVI_CHUNK;
    if (pState->nRead == AVIREAD_NO_HDRL) return pAvi->ullHdrl ? &MSG_AVI_NO_AVIH : &MSG_AVI_NO_HDRL;
    if (pState->nRead == AVIREAD_UNREADABLE && !pAvi->cbAvih) return &MSG_AVI_CANNOT_OPEN;
    if (pAvi->cbAvih < sizeof(AVIMAINHEADER56)) return &MSG_AVIH_UNREADABLE;
    pInfo->nFrames = pAvi->adwAvih[4];

    bool fVideo = false;
    bool fAudio = false;
    for (int i = 0; i < pAvi->nStreams && !(fVideo && fAudio); i++) {
        const AVIREADSTREAM *pStream = &pAvi->aStreams[i];
        if (pStream->cbStrh <= 8) continue;
        if (pStream->fccType == streamtypeVIDEO) {
            // Only the stream header's frame count is used.
            if (pStream->cbStrh >= 36) pInfo->nFrames = pStream->adwStrh[8];
            // A format that the file cuts short cannot be read.
            if (pStream->pbStrf && pStream->cbStrf >= sizeof(BITMAPINFOHEADER) && !pStream->fStrfCut) {
                free(pInfo->lpbiFormat);
                pInfo->cbFormat = 0;
                pInfo->lpbiFormat = static_cast<LPBITMAPINFOHEADER>(malloc(pStream->cbStrf));
                if (!pInfo->lpbiFormat) return &MSG_NO_MEMORY;
                memcpy(pInfo->lpbiFormat, pStream->pbStrf, pStream->cbStrf);
                pInfo->cbFormat = pStream->cbStrf;
                fVideo = true;
                pInfo->fccType = pStream->fccType;
                pInfo->fccHandler = pStream->fccHandler;
                if (pInfo->fccHandler == 0 && pInfo->lpbiFormat->biCompression >= 4)
                    pInfo->fccHandler = pInfo->lpbiFormat->biCompression;
            }
        } else if (pStream->fccType == streamtypeAUDIO && pStream->pbStrf) {
            fAudio = true;
        }
    }
    // Both lines when both streams are missing.
    if (!fVideo) return fAudio ? &MSG_NO_VIDEO_FORMAT : &MSG_NO_VIDEO_OR_WAVE_FORMAT;
    pInfo->fNoAudio = fAudio ? 0 : 1;
    return NULL;
}

const MESSAGE *OpenCodec(AviInfo *pInfo)
{
    g_fCodecReady = TRUE;
    const BITMAPINFOHEADER *pbi = pInfo->lpbiFormat;
    if (IsUncompressedHandler(pInfo->fccHandler)) {
        const char *pszKind = pbi->biCompression == BI_RLE8 ? "-RLE8"
                              : pbi->biCompression == BI_RLE4 ? "-RLE4"
                              : pbi->biCompression == BI_BITFIELDS ? "-BitField"
                                                                     : "";
        snprintf(pInfo->szCodecName, sizeof(pInfo->szCodecName), "無圧縮%dbit%s", (int)pbi->biBitCount, pszKind);
        return NULL;
    }
    if (!OpenFrameCodec(pInfo, TRUE)) {
        CHAR szFourcc[5];
        for (int i = 0; i < 4; i++) {
            char c = (char)((pInfo->fccHandler >> (8 * i)) & 0xFF);
            szFourcc[i] = c ? c : ' ';
        }
        szFourcc[4] = 0;
        snprintf(pInfo->szCodecName, sizeof(pInfo->szCodecName), "%s(開けません)", szFourcc);
        g_fCodecReady = FALSE;
        return NULL;
    }
    ICINFO info;
    memset(&info, 0, sizeof(info));
    if (ICGetInfo(pInfo->hic, &info, sizeof(info)) == 0) return &MSG_NO_DRIVER_INFO;
    CodecDescription(info.szDescription, pInfo->szCodecName);
    return NULL;
}

const MESSAGE *FindFirstVideoChunk(LOADSTATE *pState)
{
    const AVIREAD *pAvi = pState->pAvi;
    if (pState->nRead == AVIREAD_NO_MOVI || !pAvi->nRiffs || !pAvi->pRiffs[0].ullMovi) return &MSG_NO_MOVI;
    // The first video chunk, in movi or in one of its "rec " lists, which
    // capture programs use to keep a frame and its sound together.
    RIFFCURSOR movi, rec;
    RIFFCHUNK chunk;
    RiffRangeCursor(const_cast<RIFFFILE *>(&pAvi->file), pAvi->pRiffs[0].ullMoviData, pAvi->pRiffs[0].ullMoviEnd, 2, &movi);
    RIFFCURSOR *pCursor = &movi;
    for (;;) {
        if (!RiffNext(pCursor, &chunk)) {
            if (pCursor->fFailed) return &MSG_AVI_CANNOT_OPEN;
            if (pCursor == &movi) return &MSG_NO_VIDEO_CHUNK;
            // The rest of movi, after the list.
            pCursor = &movi;
            continue;
        }
        // What is no chunk (a preallocated tail of zeros) ends the search.
        if (!RiffIsChunkId(chunk.ckid)) return &MSG_NO_VIDEO_CHUNK;
        if (IsVideoChunkId(chunk.ckid, &pState->chDigit)) break;
        if (pCursor == &movi && chunk.ckid == FOURCC_LIST && chunk.fccType == mmioFOURCC('r', 'e', 'c', ' ') &&
            RiffEnter(&movi, &chunk, &rec))
            pCursor = &rec;
    }
    FillOutputFormat(pState->pInfo);
    return NULL;
}

// The chunk ids of the loaded stream's frames ("0Ndb", "0Ndc") and of the
// other stream's sound ("0Mwb"); everything else an index lists (palette
// changes, text, further streams) is passed over.
bool IsSuffix(FOURCC ckid, char c2, char c3a, char c3b)
{
    char ch2 = (char)((ckid >> 16) & 0xFF), ch3 = (char)(ckid >> 24);
    return ch2 == c2 && (ch3 == c3a || ch3 == c3b);
}

// The frame table (and, from idx1, the sound's table) from the AVI layer's
// reading: the video stream's OpenDML indexes when it has a super index,
// which cover every RIFF, else idx1, which covers the first. Also tells what
// the tables may leave out. NULL when the tables were made, else the
// failure's message.
const MESSAGE *ReadFrameTable(LOADSTATE *pState)
{
    AviInfo *pInfo = pState->pInfo;
    if (!PrepareWorkBuffer(pInfo)) return &MSG_NO_MEMORY;
    const AVIREAD *pAvi = pState->pAvi;
    int nResult = pState->nRead;
    const MESSAGE *pFailure = NULL;
    int iVideo = pState->chDigit - '0', iAudio = pState->chDigit == '0' ? 1 : 0;
    const AVIREADSTREAM *pVideo = &pAvi->aStreams[iVideo];
    BOOL fOdml = nResult == AVIREAD_OK && pVideo->ullIndx != 0;
    if (nResult == AVIREAD_NO_MEMORY) pFailure = &MSG_NO_MEMORY;
    else if (fOdml && (nResult != AVIREAD_OK || pVideo->nSource != AVIINDEX_ODML)) pFailure = &MSG_ODML_INDEX_UNREADABLE;
    else if (!fOdml && nResult == AVIREAD_OK && !pAvi->ullIdx1) pFailure = &MSG_NO_IDX1;
    else if (nResult != AVIREAD_OK) pFailure = &MSG_IDX1_UNREADABLE;
    // The video stream's frames, and from idx1 the other stream's sound.
    DWORD nVideo = 0, nAudio = 0;
    const AVIREADSTREAM *pAudio = !fOdml && !pInfo->fNoAudio && iAudio < pAvi->nStreams ? &pAvi->aStreams[iAudio] : NULL;
    for (DWORD i = 0; !pFailure && i < pVideo->nChunks; i++) nVideo += IsSuffix(pVideo->pChunks[i].ckid, 'd', 'b', 'c');
    for (DWORD i = 0; !pFailure && pAudio && i < pAudio->nChunks; i++) nAudio += IsSuffix(pAudio->pChunks[i].ckid, 'w', 'b', 'b');
    if (!pFailure) {
        pInfo->pFrames = static_cast<FRAMEENTRY *>(calloc(nVideo ? nVideo : 1, sizeof(FRAMEENTRY)));
        pInfo->pAudio = nAudio ? static_cast<AUDIOENTRY *>(malloc((size_t)nAudio * sizeof(AUDIOENTRY))) : NULL;
        if (!pInfo->pFrames || (nAudio && !pInfo->pAudio)) pFailure = &MSG_NO_MEMORY;
    }
    pInfo->fAllKey = 1;
    DWORD nFrames = 0;
    for (DWORD i = 0; !pFailure && i < pVideo->nChunks; i++) {
        const AVICHUNKREF *pChunk = &pVideo->pChunks[i];
        if (!IsSuffix(pChunk->ckid, 'd', 'b', 'c')) continue;
        FRAMEENTRY *pEntry = &pInfo->pFrames[nFrames++];
        pEntry->ullChunkPos = pChunk->ullData - 8;
        DWORD dwLen = pChunk->cbData & FRAME_LENMASK;
        pEntry->dwChunkLen = dwLen | ((pChunk->ckid >> 24) == 'c' ? FRAME_DC : 0);
        if (!(pChunk->dwFlags & AVICHUNK_KEY) && dwLen != 0) {
            pEntry->dwChunkLen |= FRAME_NOTKEY;
            pInfo->fAllKey = 0;
        }
        pEntry->dwRef = 0xFFFFFFFFu;
    }
    DWORD nSound = 0;
    for (DWORD i = 0; !pFailure && pAudio && i < pAudio->nChunks; i++) {
        if (!IsSuffix(pAudio->pChunks[i].ckid, 'w', 'b', 'b')) continue;
        pInfo->pAudio[nSound].dwChunkPos = (DWORD)(pAudio->pChunks[i].ullData - 8);
        pInfo->pAudio[nSound++].dwChunkLen = pAudio->pChunks[i].cbData;
    }
    if (!pFailure) {
        // The consistency report, for information.
        if (nFrames < pInfo->nFrames) {
            ShowShiftMessageM(MB_OK, &MSG_INDEX_SHORT, pInfo->szAviFile, (long)(pInfo->nFrames - nFrames));
            // The frames that the index leaves out may be records too.
            pInfo->dwUnseen |= UNSEEN_INDEX_SHORT;
        } else if (nFrames > pInfo->nFrames && !fOdml) {
            ShowShiftMessageM(MB_OK, &MSG_INDEX_SURPLUS, pInfo->szAviFile, (long)(nFrames - pInfo->nFrames));
        }
        pInfo->nFrames = nFrames;
        pInfo->nAudio = nSound;
        if (!fOdml && (pAvi->dwProblems & AVIPROBLEM_IDX1_CUT)) pFailure = &MSG_IDX1_UNREADABLE;
    }
    if (!pFailure) {
        if (pAvi->fDmlh && pAvi->nDmlhFrames > pInfo->nFrames) pInfo->dwUnseen |= UNSEEN_ODML_FRAMES;
        // Without the indexes of OpenDML, frames beyond the first RIFF are
        // not listed; nor are chunks of the video stream that the movi
        // lists hold and its index does not list.
        if (!fOdml && pAvi->nRiffs > 1) pInfo->dwUnseen |= UNSEEN_MORE_RIFFS;
        else if (pVideo->nUnlisted) pInfo->dwUnseen |= UNSEEN_UNLISTED;
        // Only the stream of the first video chunk is read: another video
        // stream's frames may be records too.
        for (int s = 0; s < pAvi->nStreams; s++)
            if (s != iVideo && pAvi->aStreams[s].fccType == streamtypeVIDEO && (pAvi->aStreams[s].nChunks || pAvi->aStreams[s].nWalked))
                pInfo->dwUnseen |= UNSEEN_MORE_VIDEO;
    }
    return pFailure;
}

}  // namespace

BOOL g_fAviReadOnly;

BOOL LoadAvi(AviInfo *pInfo, BOOL fOpen)
{
    CloseFrameStream(pInfo);
    ReleaseAvi(pInfo);
    // The reference list described the AVI that goes.
    g_fRefListComplete = FALSE;
    if (!fOpen) return TRUE;
    pInfo->dwUnseen = 0;
    memset(&pInfo->idFile, 0, sizeof(pInfo->idFile));
    pInfo->szRealFile[0] = '\0';

    LOADSTATE state;
    memset(&state, 0, sizeof(state));
    state.pInfo = pInfo;
    const MESSAGE *pFailure = NULL;
    DWORD dwMode = g_fAviReadOnly ? MMIO_READ | MMIO_DENYNONE : MMIO_READWRITE | MMIO_DENYWRITE;
    // The multimedia I/O keeps the AVI open for its frames' reads and
    // rewrites; its structure is read by the AVI layer through the file's
    // own handle, which the multimedia I/O keeps for a file of the file
    // system (a second handle with write access would be refused, the AVI
    // being open denying writes).
    pInfo->hmmio = mmioOpenA(pInfo->szAviFile, NULL, dwMode | MMIO_ALLOCBUF);
    MMIOINFO mmioinfo;
    memset(&mmioinfo, 0, sizeof(mmioinfo));
    if (pInfo->hmmio && mmioGetInfo(pInfo->hmmio, &mmioinfo, 0) == MMSYSERR_NOERROR)
        pInfo->hFile = (HANDLE)(DWORD_PTR)mmioinfo.adwInfo[0];
    // The file the name reached: what a deletion of the AVI acts on and
    // where its relocation note lies, whatever link or spelling opened it.
    if (!pInfo->hmmio || !pInfo->hFile || !FileIdOfHandle(pInfo->hFile, &pInfo->idFile) ||
        !FinalPathOfHandle(pInfo->hFile, pInfo->szRealFile))
        pFailure = &MSG_AVI_CANNOT_OPEN;
    if (!pFailure) {
        state.pAvi = static_cast<AVIREAD *>(malloc(sizeof(AVIREAD)));
        if (!state.pAvi) pFailure = &MSG_NO_MEMORY;
    }
    if (!pFailure) {
        state.nRead = ReadAvi(pInfo->hFile, state.pAvi);
        pFailure = ReadHeaderList(&state);
    }
    if (!pFailure) pFailure = OpenCodec(pInfo);
    if (!pFailure) pFailure = FindFirstVideoChunk(&state);
    if (!pFailure) pFailure = ReadFrameTable(&state);
    if (!pFailure && !RiffOpenFile(&pInfo->file, pInfo->hFile)) pFailure = &MSG_NO_MEMORY;
    // What the load read last (a small AVI whole) serves the frames' reads.
    if (!pFailure && pInfo->file.cbFile == state.pAvi->file.cbFile && state.pAvi->file.pbBlock)
        RiffTakeBlock(&pInfo->file, &state.pAvi->file);
    if (state.pAvi) {
        FreeAvi(state.pAvi);
        free(state.pAvi);
    }
    if (pFailure) {
        ShowShiftMessageM(MB_OK | MB_ICONQUESTION, pFailure, pInfo->szAviFile, pInfo->szAviFile);
        ReleaseAvi(pInfo);
        return FALSE;
    }
    // From here on the file is read and written a frame at a time, in any
    // order: without a buffer, every read and write goes to the file at
    // once. (The platform's buffered I/O can refill its buffer without
    // writing out changed bytes, and after writing them out reads on from
    // the wrong place: rewrites would be lost.)
    mmioSetBuffer(pInfo->hmmio, NULL, 0, 0);
    OpenFrameStream(pInfo);
    return TRUE;
}

void OpenFrameStream(AviInfo *pInfo)
{
    if (pInfo->fAllKey || pInfo->pStream || !pInfo->hmmio) return;
    // Delta frames are decoded by the stream library; without it the
    // decompressor alone is used.
    if (AVIStreamOpenFromFileA(&pInfo->pStream, pInfo->szAviFile, streamtypeVIDEO, 0, OF_SHARE_DENY_NONE, NULL) == 0 &&
        pInfo->pStream)
        pInfo->pGetFrame = AVIStreamGetFrameOpen(pInfo->pStream, &pInfo->biOut);
    else
        pInfo->pStream = NULL;
}

const MESSAGE *UnseenRefusal(const AviInfo *pInfo)
{
    if (pInfo->dwUnseen & UNSEEN_MORE_VIDEO) return &MSG_UNSEEN_VIDEO;
    if (pInfo->dwUnseen & UNSEEN_UNLISTED) return &MSG_UNSEEN_UNLISTED;
    if (pInfo->dwUnseen & (UNSEEN_MORE_RIFFS | UNSEEN_ODML_FRAMES))
        return &MSG_UNSEEN_ODML;
    if (pInfo->dwUnseen & UNSEEN_INDEX_SHORT)
        return &MSG_UNSEEN_INDEX;
    return NULL;
}
