// Loading an AVI: the RIFF structure walked with the buffered multimedia
// file I/O, the frame table built from the "idx1" index, the decompressor of
// the video stream opened and, for streams with delta frames, the stream
// library's frame decoder.
#include "mover/avireader.h"

#include "mover/message.h"
#include "mover/shift.h"
#include "scaffold/odml.h"

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

// The steps of a load. Each returns NULL when it went well, else the message
// of the failure (its "%s" are the path).
struct LOADSTATE {
    AviInfo *pInfo;
    HMMIO h;
    MMCKINFO ckRiff;
    DWORD dwFirstChunkPos;
    char chDigit;
    ULONGLONG cbFile;
    DWORD nOdmlFrames;  // the OpenDML header's frame count, 0 without one
    // The video stream's super index ("indx"): its data's place and size;
    // 0 without one.
    DWORD dwIndxAt, cbIndx;
    // The first RIFF's movi list: where its chunks start and end.
    ULONGLONG ullMoviStart, ullMoviEnd;
};

DWORD ReadOdmlFrames(LOADSTATE *pState, MMCKINFO *pckHdrl);

const MESSAGE *ReadHeaderList(LOADSTATE *pState)
{
    AviInfo *pInfo = pState->pInfo;
    HMMIO h = pState->h;
    MMCKINFO ckHdrl;
    ckHdrl.fccType = mmioFOURCC('h', 'd', 'r', 'l');
    if (mmioDescend(h, &ckHdrl, &pState->ckRiff, MMIO_FINDLIST) != MMSYSERR_NOERROR)
        return &MSG_AVI_NO_HDRL;
    MMCKINFO ckAvih;
    ckAvih.ckid = mmioFOURCC('a', 'v', 'i', 'h');
    if (mmioDescend(h, &ckAvih, &ckHdrl, MMIO_FINDCHUNK) != MMSYSERR_NOERROR) return &MSG_AVI_NO_AVIH;
    AVIMAINHEADER56 avih;
    if (mmioRead(h, reinterpret_cast<HPSTR>(&avih), sizeof(avih)) != (LONG)sizeof(avih))
        return &MSG_AVIH_UNREADABLE;
    pInfo->nFrames = avih.adw[4];
    if (mmioAscend(h, &ckAvih, 0) != MMSYSERR_NOERROR) return &MSG_ASCEND_STRH;

    bool fVideo = false;
    bool fAudio = false;
    while (!(fVideo && fAudio)) {
        MMCKINFO ckStrl;
        ckStrl.fccType = mmioFOURCC('s', 't', 'r', 'l');
        if (mmioDescend(h, &ckStrl, &ckHdrl, MMIO_FINDLIST) != MMSYSERR_NOERROR) break;
        MMCKINFO ckStrh, ckStrf;
        ckStrh.ckid = mmioFOURCC('s', 't', 'r', 'h');
        bool fThisVideo = false;
        if (mmioDescend(h, &ckStrh, &ckStrl, MMIO_FINDCHUNK) == MMSYSERR_NOERROR) {
            MMCKINFO *pLast = &ckStrh;
            FOURCC afcc[2];
            if (ckStrh.cksize > 8 && mmioRead(h, reinterpret_cast<HPSTR>(afcc), 8) == 8) {
                if (afcc[0] == streamtypeVIDEO) {
                    // The rest of the stream header, in part when it is longer
                    // than the usual; only its frame count is used.
                    BYTE abRest[256];
                    LONG cbRest = ckStrh.cksize - 8 < sizeof(abRest) ? (LONG)(ckStrh.cksize - 8) : (LONG)sizeof(abRest);
                    if (mmioRead(h, reinterpret_cast<HPSTR>(abRest), cbRest) == cbRest && cbRest >= 28)
                        memcpy(&pInfo->nFrames, abRest + 24, 4);
                    if (mmioAscend(h, &ckStrh, 0) != MMSYSERR_NOERROR) return &MSG_ASCEND_STRH;
                    pLast = NULL;
                    ckStrf.ckid = mmioFOURCC('s', 't', 'r', 'f');
                    if (mmioDescend(h, &ckStrf, &ckStrl, MMIO_FINDCHUNK) == MMSYSERR_NOERROR) {
                        pLast = &ckStrf;
                        // A format chunk larger than the file cannot be read.
                        if (ckStrf.cksize >= sizeof(BITMAPINFOHEADER) && ckStrf.cksize <= pState->cbFile) {
                            free(pInfo->lpbiFormat);
                            pInfo->cbFormat = 0;
                            pInfo->lpbiFormat = static_cast<LPBITMAPINFOHEADER>(malloc(ckStrf.cksize));
                            if (!pInfo->lpbiFormat) return &MSG_NO_MEMORY;
                            if (mmioRead(h, reinterpret_cast<HPSTR>(pInfo->lpbiFormat), (LONG)ckStrf.cksize) ==
                                (LONG)ckStrf.cksize) {
                                pInfo->cbFormat = ckStrf.cksize;
                                fVideo = fThisVideo = true;
                                pInfo->fccType = afcc[0];
                                pInfo->fccHandler = afcc[1];
                                if (pInfo->fccHandler == 0 && pInfo->lpbiFormat->biCompression >= 4)
                                    pInfo->fccHandler = pInfo->lpbiFormat->biCompression;
                            }
                        }
                    }
                } else if (afcc[0] == streamtypeAUDIO) {
                    if (mmioAscend(h, &ckStrh, 0) != MMSYSERR_NOERROR) return &MSG_ASCEND_STRH;
                    pLast = NULL;
                    ckStrf.ckid = mmioFOURCC('s', 't', 'r', 'f');
                    if (mmioDescend(h, &ckStrf, &ckStrl, MMIO_FINDCHUNK) == MMSYSERR_NOERROR) {
                        pLast = &ckStrf;
                        fAudio = true;
                    }
                }
            }
            if (pLast && mmioAscend(h, pLast, 0) != MMSYSERR_NOERROR) return &MSG_ASCEND_STRH;
            // An OpenDML stream's super index, after its format.
            MMCKINFO ckIndx;
            ckIndx.ckid = mmioFOURCC('i', 'n', 'd', 'x');
            if (fThisVideo && mmioDescend(h, &ckIndx, &ckStrl, MMIO_FINDCHUNK) == MMSYSERR_NOERROR) {
                pState->dwIndxAt = ckIndx.dwDataOffset;
                pState->cbIndx = ckIndx.cksize;
                if (mmioAscend(h, &ckIndx, 0) != MMSYSERR_NOERROR) return &MSG_ASCEND_LIST;
            }
        }
        if (mmioAscend(h, &ckStrl, 0) != MMSYSERR_NOERROR) return &MSG_ASCEND_LIST;
    }
    // A video format without its whole header cannot be used.
    if (fVideo && pInfo->cbFormat < sizeof(BITMAPINFOHEADER)) fVideo = false;
    pState->nOdmlFrames = ReadOdmlFrames(pState, &ckHdrl);
    if (mmioAscend(h, &ckHdrl, 0) != MMSYSERR_NOERROR) return &MSG_ASCEND_HDRL;
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
    AviInfo *pInfo = pState->pInfo;
    HMMIO h = pState->h;
    MMCKINFO ckMovi;
    ckMovi.fccType = mmioFOURCC('m', 'o', 'v', 'i');
    if (mmioDescend(h, &ckMovi, &pState->ckRiff, MMIO_FINDLIST) != MMSYSERR_NOERROR)
        return &MSG_NO_MOVI;
    // The first video chunk, in movi or in one of its "rec " lists, which
    // capture programs use to keep a frame and its sound together.
    MMCKINFO ck, ckRec;
    MMCKINFO *pckParent = &ckMovi;
    for (;;) {
        if (mmioDescend(h, &ck, pckParent, 0) != MMSYSERR_NOERROR) {
            if (pckParent == &ckMovi) return &MSG_NO_VIDEO_CHUNK;
            // The rest of movi, after the list.
            pckParent = &ckMovi;
            if (mmioAscend(h, &ckRec, 0) != MMSYSERR_NOERROR) return &MSG_ASCEND;
            continue;
        }
        if (IsVideoChunkId(ck.ckid, &pState->chDigit)) break;
        if (pckParent == &ckMovi && ck.ckid == FOURCC_LIST && ck.fccType == mmioFOURCC('r', 'e', 'c', ' ')) {
            ckRec = ck;
            pckParent = &ckRec;
            continue;
        }
        if (mmioAscend(h, &ck, 0) != MMSYSERR_NOERROR) return &MSG_ASCEND;
    }
    pState->dwFirstChunkPos = ck.dwDataOffset - 8;
    pState->ullMoviStart = ckMovi.dwDataOffset + 4;
    pState->ullMoviEnd = (ULONGLONG)ckMovi.dwDataOffset + ckMovi.cksize;
    if (pState->ullMoviEnd > pState->cbFile) pState->ullMoviEnd = pState->cbFile;
    FillOutputFormat(pInfo);
    if (mmioAscend(h, &ck, 0) != MMSYSERR_NOERROR) return &MSG_ASCEND_DIB;
    if (pckParent == &ckRec && mmioAscend(h, &ckRec, 0) != MMSYSERR_NOERROR) return &MSG_ASCEND_LIST;
    if (mmioAscend(h, &ckMovi, 0) != MMSYSERR_NOERROR) return &MSG_ASCEND_LIST;
    return NULL;
}

// The index's video entries are those of the video stream's chunk ids, its
// audio entries those of the other stream's wave data; everything else it
// may list (palette changes, text, further streams) is passed over.
enum INDEXKIND { INDEX_OTHER, INDEX_VIDEO, INDEX_AUDIO };

INDEXKIND ClassifyEntry(const LOADSTATE *pState, FOURCC ckid)
{
    const char *pszId = reinterpret_cast<const char *>(&ckid);
    const char chOther = pState->chDigit == '0' ? '1' : '0';
    if (pszId[0] == '0' && pszId[1] == pState->chDigit && pszId[2] == 'd' && (pszId[3] == 'b' || pszId[3] == 'c'))
        return INDEX_VIDEO;
    if (pszId[0] == '0' && pszId[1] == chOther && pszId[2] == 'w' && pszId[3] == 'b') return INDEX_AUDIO;
    return INDEX_OTHER;
}

const MESSAGE *ReadIndex(LOADSTATE *pState)
{
    AviInfo *pInfo = pState->pInfo;
    HMMIO h = pState->h;
    MMCKINFO ckIdx;
    ckIdx.ckid = mmioFOURCC('i', 'd', 'x', '1');
    if (mmioDescend(h, &ckIdx, &pState->ckRiff, MMIO_FINDCHUNK) != MMSYSERR_NOERROR)
        return &MSG_NO_IDX1;

    if (!PrepareWorkBuffer(pInfo)) return &MSG_NO_MEMORY;

    // The entries that the file holds after the index's header, whatever
    // the chunk's size says; an index cut short by the file's end is read
    // as far as it goes, and then reported.
    DWORD nEntries = ckIdx.cksize / 16;
    LONG lHere = mmioSeek(h, 0, SEEK_CUR);
    ULONGLONG ullHeld = lHere >= 0 && pState->cbFile > (ULONGLONG)lHere ? (pState->cbFile - (ULONGLONG)lHere) / 16 : 0;
    DWORD nHeld = ullHeld > 0xFFFFFFFFull ? 0xFFFFFFFFu : (DWORD)ullHeld;
    DWORD nRead = nEntries < nHeld ? nEntries : nHeld;
    bool fShortRead = nEntries > nHeld;

    // A first pass counts the entries of each kind, so that the tables are
    // made for exactly what is kept.
    DWORD nVideoIds = 0, nAudioIds = 0;
    for (DWORD i = 0; i < nRead; i++) {
        DWORD adwEntry[4];
        if (mmioRead(h, reinterpret_cast<HPSTR>(adwEntry), 16) != 16) {
            nRead = i;
            fShortRead = true;
            break;
        }
        INDEXKIND kind = ClassifyEntry(pState, adwEntry[0]);
        nVideoIds += kind == INDEX_VIDEO ? 1 : 0;
        nAudioIds += kind == INDEX_AUDIO ? 1 : 0;
    }
    if (pInfo->fNoAudio) nAudioIds = 0;
    if (nAudioIds) {
        pInfo->pAudio = static_cast<AUDIOENTRY *>(malloc((size_t)nAudioIds * sizeof(AUDIOENTRY)));
        if (!pInfo->pAudio) return &MSG_NO_MEMORY;
    }
    pInfo->pFrames = static_cast<FRAMEENTRY *>(calloc(nVideoIds ? nVideoIds : 1, sizeof(FRAMEENTRY)));
    if (!pInfo->pFrames) return &MSG_NO_MEMORY;

    pInfo->fAllKey = 1;
    DWORD nVideo = 0, nAudio = 0;
    DWORD dwBase = 0;
    if (mmioSeek(h, lHere, SEEK_SET) != lHere) nRead = 0, fShortRead = true;
    for (DWORD i = 0; i < nRead; i++) {
        DWORD adwEntry[4];
        if (mmioRead(h, reinterpret_cast<HPSTR>(adwEntry), 16) != 16) {
            fShortRead = true;
            break;
        }
        INDEXKIND kind = ClassifyEntry(pState, adwEntry[0]);
        if (kind == INDEX_VIDEO && nVideo < nVideoIds) {
            if (nVideo == 0) dwBase = pState->dwFirstChunkPos - adwEntry[2];
            FRAMEENTRY *pEntry = &pInfo->pFrames[nVideo++];
            pEntry->ullChunkPos = (DWORD)(adwEntry[2] + dwBase);
            DWORD dwLen = adwEntry[3] & FRAME_LENMASK;
            pEntry->dwChunkLen = dwLen | ((adwEntry[0] >> 24) == 'c' ? FRAME_DC : 0);
            if (!(adwEntry[1] & AVIIF_KEYFRAME) && dwLen != 0) {
                pEntry->dwChunkLen |= FRAME_NOTKEY;
                pInfo->fAllKey = 0;
            }
            pEntry->dwRef = 0xFFFFFFFFu;
        } else if (kind == INDEX_AUDIO && nAudio < nAudioIds) {
            pInfo->pAudio[nAudio].dwChunkPos = adwEntry[2];
            pInfo->pAudio[nAudio].dwChunkLen = adwEntry[3];
            nAudio++;
        }
    }
    // The consistency report, for information.
    if (nVideo < pInfo->nFrames) {
        ShowShiftMessageM(MB_OK, &MSG_INDEX_SHORT, pInfo->szAviFile, (long)(pInfo->nFrames - nVideo));
        // The frames that the index leaves out may be records too.
        pInfo->dwUnseen |= UNSEEN_INDEX_SHORT;
    } else if (nVideo > pInfo->nFrames) {
        ShowShiftMessageM(MB_OK, &MSG_INDEX_SURPLUS, pInfo->szAviFile, (long)(nVideo - pInfo->nFrames));
    }
    pInfo->nFrames = nVideo;
    pInfo->nAudio = nAudio;
    if (fShortRead) return &MSG_IDX1_UNREADABLE;
    for (DWORD i = 0; i < pInfo->nAudio; i++) pInfo->pAudio[i].dwChunkPos += dwBase;
    return NULL;
}

// The OpenDML header's count of all the recording's frames, in every RIFF;
// 0 when there is none.
DWORD ReadOdmlFrames(LOADSTATE *pState, MMCKINFO *pckHdrl)
{
    HMMIO h = pState->h;
    MMCKINFO ckOdml, ckDmlh;
    if (mmioSeek(h, (LONG)(pckHdrl->dwDataOffset + 4), SEEK_SET) < 0) return 0;
    ckOdml.fccType = mmioFOURCC('o', 'd', 'm', 'l');
    if (mmioDescend(h, &ckOdml, pckHdrl, MMIO_FINDLIST) != MMSYSERR_NOERROR) return 0;
    ckDmlh.ckid = mmioFOURCC('d', 'm', 'l', 'h');
    DWORD nTotal = 0;
    if (mmioDescend(h, &ckDmlh, &ckOdml, MMIO_FINDCHUNK) != MMSYSERR_NOERROR || ckDmlh.cksize < 4 ||
        mmioRead(h, reinterpret_cast<HPSTR>(&nTotal), 4) != 4)
        return 0;
    return nTotal;
}

// TRUE when another RIFF follows the first one (OpenDML's "AVIX" parts).
bool MoreRiffsFollow(LOADSTATE *pState)
{
    ULONGLONG ullEnd = (ULONGLONG)pState->ckRiff.dwDataOffset + pState->ckRiff.cksize;
    ullEnd += ullEnd & 1;
    DWORD adwHeader[3];
    return pState->cbFile >= ullEnd + 12 && AviBytesAt(pState->pInfo, ullEnd, adwHeader, 12, FALSE) &&
           adwHeader[0] == FOURCC_RIFF;
}

// Reads n entries of a standard index (each wLongs DWORDs) from ullAt into
// the frame table from entry *pn on; FALSE when they cannot be read.
bool ReadStandardEntries(AviInfo *pInfo, ULONGLONG ullAt, DWORD n, WORD wLongs, const ODMLINDEXHEADER *pHeader,
                         DWORD *pn)
{
    const DWORD nPiece = 4096;
    DWORD adwPiece[4096 * 4];
    ULONGLONG ullBase = OdmlBase(pHeader);
    BOOL fDc = (pHeader->dwChunkId >> 24) == 'c';
    for (DWORD i = 0; i < n;) {
        DWORD nRead = n - i < nPiece ? n - i : nPiece;
        if (!AviBytesAt(pInfo, ullAt + 4ull * wLongs * i, adwPiece, 4 * wLongs * nRead, FALSE)) return false;
        for (DWORD k = 0; k < nRead; k++) {
            const DWORD *pEntry = &adwPiece[(size_t)k * wLongs];
            FRAMEENTRY *pFrame = &pInfo->pFrames[(*pn)++];
            // The entry gives the place of the chunk's data.
            pFrame->ullChunkPos = ullBase + pEntry[0] - 8;
            DWORD dwLen = pEntry[1] & ODML_SIZEMASK & FRAME_LENMASK;
            pFrame->dwChunkLen = dwLen | (fDc ? FRAME_DC : 0);
            if ((pEntry[1] & ODML_NOT_KEYFRAME) && dwLen != 0) {
                pFrame->dwChunkLen |= FRAME_NOTKEY;
                pInfo->fAllKey = 0;
            }
            pFrame->dwRef = 0xFFFFFFFFu;
        }
        i += nRead;
    }
    return true;
}

// The frame table from the video stream's super index and the standard
// indexes it lists, which cover every RIFF of an OpenDML AVI; NULL when it
// was made, else the failure's message.
const MESSAGE *ReadOdmlIndexes(LOADSTATE *pState)
{
    AviInfo *pInfo = pState->pInfo;
    ODMLINDEXHEADER super;
    if (pState->cbIndx < sizeof(super) || !AviBytesAt(pInfo, pState->dwIndxAt, &super, sizeof(super), FALSE) ||
        super.bIndexType != ODML_INDEX_OF_INDEXES || super.wLongsPerEntry != 4)
        return &MSG_ODML_INDEX_UNREADABLE;
    DWORD nSuper = (pState->cbIndx - sizeof(super)) / sizeof(ODMLSUPERENTRY);
    if (super.nEntriesInUse < nSuper) nSuper = super.nEntriesInUse;
    ODMLSUPERENTRY *pSuper = static_cast<ODMLSUPERENTRY *>(malloc((size_t)(nSuper ? nSuper : 1) * sizeof(ODMLSUPERENTRY)));
    ODMLINDEXHEADER *pStd = static_cast<ODMLINDEXHEADER *>(malloc((size_t)(nSuper ? nSuper : 1) * sizeof(ODMLINDEXHEADER)));
    if (!pSuper || !pStd) {
        free(pSuper);
        free(pStd);
        return &MSG_NO_MEMORY;
    }
    const MESSAGE *pFailure = NULL;
    if (nSuper && !AviBytesAt(pInfo, pState->dwIndxAt + sizeof(super), pSuper, nSuper * sizeof(ODMLSUPERENTRY), FALSE))
        pFailure = &MSG_ODML_INDEX_UNREADABLE;
    // A first pass over the standard indexes' headers counts their
    // entries, each index no more than its chunk and the file hold.
    ULONGLONG ullTotal = 0;
    for (DWORD k = 0; k < nSuper && !pFailure; k++) {
        ULONGLONG ullAt = OdmlSuperOffset(&pSuper[k]);
        DWORD adwChunk[2];
        ODMLINDEXHEADER *pHeader = &pStd[k];
        if (!AviBytesAt(pInfo, ullAt, adwChunk, 8, FALSE) || !AviBytesAt(pInfo, ullAt + 8, pHeader, sizeof(*pHeader), FALSE) ||
            !OdmlStandardEntries(pHeader, adwChunk[1]) || ullAt + 8 + adwChunk[1] > pState->cbFile) {
            pFailure = &MSG_ODML_INDEX_UNREADABLE;
            break;
        }
        ullTotal += pHeader->nEntriesInUse;
    }
    if (!pFailure && ullTotal > 0xFFFFFFF0ull / sizeof(FRAMEENTRY)) pFailure = &MSG_NO_MEMORY;
    // Each entry of a standard index takes 8 bytes of the file at least: a
    // super index that lists one standard index many times over claims more
    // frames than the file can hold, and would have them read and kept.
    if (!pFailure && ullTotal > pState->cbFile / 8) pFailure = &MSG_ODML_INDEX_UNREADABLE;
    if (!pFailure) {
        pInfo->pFrames = static_cast<FRAMEENTRY *>(calloc(ullTotal ? (size_t)ullTotal : 1, sizeof(FRAMEENTRY)));
        if (!pInfo->pFrames) pFailure = &MSG_NO_MEMORY;
    }
    DWORD nFrames = 0;
    pInfo->fAllKey = 1;
    for (DWORD k = 0; k < nSuper && !pFailure; k++) {
        if (!ReadStandardEntries(pInfo, OdmlSuperOffset(&pSuper[k]) + 8 + sizeof(ODMLINDEXHEADER), pStd[k].nEntriesInUse,
                                 pStd[k].wLongsPerEntry, &pStd[k], &nFrames))
            pFailure = &MSG_ODML_INDEX_UNREADABLE;
    }
    free(pSuper);
    free(pStd);
    if (pFailure) return pFailure;
    if (nFrames < pInfo->nFrames) {
        pInfo->dwUnseen |= UNSEEN_INDEX_SHORT;
        ShowShiftMessageM(MB_OK, &MSG_INDEX_SHORT, pInfo->szAviFile, (long)(pInfo->nFrames - nFrames));
    }
    pInfo->nFrames = nFrames;
    pInfo->nAudio = 0;
    return NULL;
}

// Reads a file's chunk headers in blocks: a walk over many small chunks
// reads each block once.
struct HEADREADER {
    AviInfo *pInfo;
    BYTE ab[65536];
    ULONGLONG ullAt;  // where ab starts
    DWORD cb;         // the bytes it holds
};

// The 12 bytes at ullPos (a chunk's id and size, and a list's type); FALSE
// past what the file holds.
bool HeadAt(HEADREADER *pReader, ULONGLONG ullPos, ULONGLONG cbFile, DWORD *padw)
{
    if (ullPos + 8 > cbFile) return false;
    if (ullPos < pReader->ullAt || ullPos + 12 > pReader->ullAt + pReader->cb) {
        ULONGLONG cbLeft = cbFile - ullPos;
        DWORD cb = cbLeft < sizeof(pReader->ab) ? (DWORD)cbLeft : (DWORD)sizeof(pReader->ab);
        if (!AviBytesAt(pReader->pInfo, ullPos, pReader->ab, cb, FALSE)) return false;
        pReader->ullAt = ullPos;
        pReader->cb = cb;
    }
    DWORD dwOff = (DWORD)(ullPos - pReader->ullAt);
    memset(padw, 0, 12);
    memcpy(padw, pReader->ab + dwOff, pReader->cb - dwOff < 12 ? pReader->cb - dwOff : 12);
    return true;
}

// The video stream's chunks in a movi list from ullPos to ullEnd, those in
// its "rec " lists too: every chunk the list holds, whether or not an index
// lists it. The walk stops at a chunk that runs past its list.
ULONGLONG CountVideoChunks(LOADSTATE *pState, HEADREADER *pReader, ULONGLONG ullPos, ULONGLONG ullEnd)
{
    ULONGLONG nChunks = 0;
    ULONGLONG ullListEnd = 0;  // the end of the "rec " list walked, 0 outside one
    for (;;) {
        ULONGLONG ullLimit = ullListEnd ? ullListEnd : ullEnd;
        DWORD adw[3];
        if (ullPos + 8 > ullLimit || !HeadAt(pReader, ullPos, pState->cbFile, adw)) {
            if (!ullListEnd) break;
            // On after the list.
            ullPos = ullListEnd;
            ullListEnd = 0;
            continue;
        }
        ULONGLONG ullNext = ullPos + 8 + adw[1] + (adw[1] & 1);
        if (ullPos + 8 + adw[1] > ullLimit) break;
        char chDigit;
        if (!ullListEnd && adw[0] == FOURCC_LIST && adw[2] == mmioFOURCC('r', 'e', 'c', ' ') && adw[1] >= 4) {
            ullListEnd = ullPos + 8 + adw[1];
            ullPos += 12;
            continue;
        }
        if (IsVideoChunkId(adw[0], &chDigit) && chDigit == pState->chDigit) nChunks++;
        ullPos = ullNext;
    }
    return nChunks;
}

// Whether the movi lists hold video chunks that no index lists: the first
// RIFF's, and with OpenDML's indexes every AVIX RIFF's too.
bool ChunksUnlisted(LOADSTATE *pState, bool fOdml)
{
    AviInfo *pInfo = pState->pInfo;
    HEADREADER *pReader = static_cast<HEADREADER *>(malloc(sizeof(HEADREADER)));
    if (!pReader) return false;
    pReader->pInfo = pInfo;
    pReader->ullAt = 0;
    pReader->cb = 0;
    ULONGLONG nChunks = CountVideoChunks(pState, pReader, pState->ullMoviStart, pState->ullMoviEnd);
    if (fOdml) {
        ULONGLONG ullRiff = (ULONGLONG)pState->ckRiff.dwDataOffset + pState->ckRiff.cksize;
        for (int nRiffs = 0; nRiffs < 100000; nRiffs++) {
            ullRiff += ullRiff & 1;
            DWORD adw[3];
            if (!HeadAt(pReader, ullRiff, pState->cbFile, adw) || adw[0] != FOURCC_RIFF) break;
            ULONGLONG ullRiffEnd = ullRiff + 8 + adw[1] < pState->cbFile ? ullRiff + 8 + adw[1] : pState->cbFile;
            // Its movi list, among its chunks.
            for (ULONGLONG ullPos = ullRiff + 12; ullPos + 12 <= ullRiffEnd;) {
                DWORD adwChunk[3];
                if (!HeadAt(pReader, ullPos, pState->cbFile, adwChunk)) break;
                if (adwChunk[0] == FOURCC_LIST && adwChunk[2] == mmioFOURCC('m', 'o', 'v', 'i')) {
                    ULONGLONG ullEnd = ullPos + 8 + adwChunk[1] < ullRiffEnd ? ullPos + 8 + adwChunk[1] : ullRiffEnd;
                    nChunks += CountVideoChunks(pState, pReader, ullPos + 12, ullEnd);
                    break;
                }
                ullPos += 8ull + adwChunk[1] + (adwChunk[1] & 1);
            }
            ullRiff += 8ull + adw[1];
        }
    }
    free(pReader);
    return nChunks > pInfo->nFrames;
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
    pInfo->hmmio = state.h = mmioOpenA(pInfo->szAviFile, NULL, dwMode | MMIO_ALLOCBUF);
    // The file's own handle, which the multimedia I/O keeps for a file of
    // the file system, for places past its reach: a second handle with
    // write access would be refused, the AVI being open denying writes.
    MMIOINFO mmioinfo;
    memset(&mmioinfo, 0, sizeof(mmioinfo));
    if (state.h && mmioGetInfo(state.h, &mmioinfo, 0) == MMSYSERR_NOERROR)
        pInfo->hFile = (HANDLE)(DWORD_PTR)mmioinfo.adwInfo[0];
    // The file the name reached: what a deletion of the AVI acts on and
    // where its relocation note lies, whatever link or spelling opened it.
    if (state.h && pInfo->hFile &&
        (!FileIdOfHandle(pInfo->hFile, &pInfo->idFile) || !FinalPathOfHandle(pInfo->hFile, pInfo->szRealFile)))
        pFailure = &MSG_AVI_CANNOT_OPEN;
    if (!state.h || !pInfo->hFile) {
        pFailure = &MSG_AVI_CANNOT_OPEN;
    } else if (!pFailure) {
        DWORD dwHigh = 0;
        DWORD dwLow = GetFileSize(pInfo->hFile, &dwHigh);
        state.cbFile = dwLow == INVALID_FILE_SIZE && GetLastError() != NO_ERROR ? 0 : ((ULONGLONG)dwHigh << 32) | dwLow;
        mmioSeek(state.h, 0, SEEK_SET);
        state.ckRiff.fccType = mmioFOURCC('A', 'V', 'I', ' ');
        if (mmioDescend(state.h, &state.ckRiff, NULL, MMIO_FINDRIFF) != MMSYSERR_NOERROR)
            pFailure = &MSG_AVI_NO_AVI_CHUNK;
    }
    if (!pFailure) pFailure = ReadHeaderList(&state);
    if (!pFailure) pFailure = OpenCodec(pInfo);
    if (!pFailure) pFailure = FindFirstVideoChunk(&state);
    // An OpenDML AVI is read through its video stream's indexes, which
    // cover every RIFF; any other through idx1, which covers the first.
    BOOL fOdml = !pFailure && state.cbIndx > 0;
    if (!pFailure && fOdml) pFailure = PrepareWorkBuffer(pInfo) ? ReadOdmlIndexes(&state) : &MSG_NO_MEMORY;
    if (!pFailure && !fOdml) pFailure = ReadIndex(&state);
    if (!pFailure && mmioAscend(state.h, &state.ckRiff, 0) != MMSYSERR_NOERROR)
        pFailure = &MSG_ASCEND_AVI;
    if (!pFailure) {
        if (state.nOdmlFrames > pInfo->nFrames) pInfo->dwUnseen |= UNSEEN_ODML_FRAMES;
        // Without the indexes of OpenDML, frames beyond the first RIFF are
        // not listed.
        if (!fOdml && MoreRiffsFollow(&state)) pInfo->dwUnseen |= UNSEEN_MORE_RIFFS;
        // Nor are frames that the movi lists hold and no index lists.
        if (ChunksUnlisted(&state, fOdml)) pInfo->dwUnseen |= UNSEEN_UNLISTED;
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
    if (pInfo->dwUnseen & UNSEEN_UNLISTED) return &MSG_UNSEEN_UNLISTED;
    if (pInfo->dwUnseen & (UNSEEN_MORE_RIFFS | UNSEEN_ODML_FRAMES))
        return &MSG_UNSEEN_ODML;
    if (pInfo->dwUnseen & UNSEEN_INDEX_SHORT)
        return &MSG_UNSEEN_INDEX;
    return NULL;
}
