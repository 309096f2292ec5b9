// The preview's frame reading and decoding, and what depends on the picture
// size: the decode buffer and the layout of the preview area.
#include "salvage/internal.h"

#include "codec/refformat.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

// A codec's answer for its output format is believed up to this size.
#define FORMAT_SIZE_MAX (1024u * 1024u)
// Larger decode buffers are not attempted.
#define DECODE_BUFFER_MAX 0x7FFFFFFFull

BITMAPINFOHEADER g_bihRgb = {sizeof(BITMAPINFOHEADER), 720, 480, 1, 24, BI_RGB, 720 * 480 * 3, 0, 0, 0, 0};
HIC g_hicPreview;
LPBITMAPINFOHEADER g_pbiCompressed;
DWORD g_cbCompressed;
BYTE *g_pbRgb;
DWORD g_cbRgb;
DWORD g_nCurFrame;

namespace {

// The picture size that the decode buffer was made for.
LONG s_lRgbWidth, s_lRgbHeight;

}  // namespace

void ResetPreviewCodec(void)
{
    if (g_hicPreview) ICClose(g_hicPreview);
    g_hicPreview = NULL;
    free(g_pbiCompressed);
    g_pbiCompressed = NULL;
    g_cbCompressed = 0;
}

void FreeSalvageBuffers(void)
{
    ResetPreviewCodec();
    free(g_pbRgb);
    g_pbRgb = NULL;
    g_cbRgb = 0;
    free(g_pbReadBuf);
    g_pbReadBuf = NULL;
    g_cbReadBuf = 0;
}

namespace {

void GetCompressedFormat(LPSTR pszMessage)
{
    LRESULT lSize = ICSendMessage(g_hicPreview, ICM_COMPRESS_GET_FORMAT, (DWORD_PTR)&g_bihRgb, 0);
    if (lSize < (LRESULT)sizeof(BITMAPINFOHEADER) || (unsigned long long)lSize > FORMAT_SIZE_MAX) {
        FormatMendMessage(pszMessage, &MSG_PREVIEW_NO_FORMAT);
        return;
    }
    LPBITMAPINFOHEADER pbi = (LPBITMAPINFOHEADER)calloc(1, (size_t)lSize);
    if (!pbi) {
        FormatMendMessage(pszMessage, &MSG_NO_MEMORY_LEFT);
        return;
    }
    if (ICSendMessage(g_hicPreview, ICM_COMPRESS_GET_FORMAT, (DWORD_PTR)&g_bihRgb, (DWORD_PTR)pbi) != ICERR_OK) {
        free(pbi);
        FormatMendMessage(pszMessage, &MSG_PREVIEW_NO_FORMAT);
        return;
    }
    g_pbiCompressed = pbi;
    g_cbCompressed = (DWORD)lSize;
}

}  // namespace

BOOL GetPreviewFormat(LPSTR pszMessage)
{
    if (!g_hicPreview) g_hicPreview = ICOpen(mmioFOURCC('V', 'I', 'D', 'C'), g_fccHandler, ICMODE_FASTDECOMPRESS);
    if (!g_hicPreview) return FALSE;
    if (!g_pbiCompressed) GetCompressedFormat(pszMessage);
    return TRUE;
}

BOOL g_fPreviewFrames = TRUE;

BOOL ShowRefFrame(DWORD n)
{
    if (!g_fPreviewFrames) return FALSE;
    CHAR szMessage[MENDMESSAGE_SIZE] = "";
    BOOL fShown = FALSE;
    const BYTE *pbPicture = NULL;
    if (g_hRefFile == INVALID_HANDLE_VALUE) {
        FormatMendMessage(szMessage, &MSG_NO_REF_OPEN);
    } else if (n >= g_nRefFrames) {
        FormatMendMessage(szMessage, &MSG_PREVIEW_FRAME_NUMBER);
    } else {
        BOOL fCodecFailed = FALSE;
        if (g_fccHandler && !GetPreviewFormat(szMessage)) {
            ShowMendMessageM(MB_OK | MB_ICONQUESTION, &MSG_PREVIEW_CODEC_CANNOT_OPEN);
            fCodecFailed = TRUE;
        }
        const REFFRAMEPOS *pFrame = &g_pRefFrames[n];
        REFFRAMEHEADER *pHeader = (REFFRAMEHEADER *)g_pbReadBuf;
        DWORD cbRead = 0;
        if (fCodecFailed || szMessage[0]) {
            // Reported already, or about to be.
        } else if (!SeekRefFile(pFrame->dwOffset)) {
            FormatMendMessage(szMessage, &MSG_PREVIEW_SEEK);
        } else if (!g_pbReadBuf || pFrame->dwFrameSize > g_cbReadBuf ||
                   !ReadFile(g_hRefFile, g_pbReadBuf, pFrame->dwFrameSize, &cbRead, NULL) ||
                   cbRead != pFrame->dwFrameSize ||
                   !FrameHeaderFits(pHeader, pFrame->dwFrameSize)) {
            // The file may have changed since the scan: only a frame whose
            // header still matches the list is decoded.
            FormatMendMessage(szMessage, &MSG_PREVIEW_READ);
        } else if (g_bihRgb.biWidth != s_lRgbWidth || g_bihRgb.biHeight != s_lRgbHeight || !g_pbRgb) {
            // A size typed but not applied yet: the buffers are not made
            // for it.
            FormatMendMessage(szMessage, &MSG_PREVIEW_DECOMPRESS);
        } else if (g_fccHandler) {
            // The format keeps what the codec reported: it is the stream's
            // format in the salvaged AVI.
            DWORD cbImage = g_pbiCompressed->biSizeImage;
            g_pbiCompressed->biSizeImage = pHeader->dwDataSize;
            DWORD dwResult = ICDecompress(g_hicPreview, 0, g_pbiCompressed, g_pbReadBuf + sizeof(REFFRAMEHEADER),
                                          &g_bihRgb, g_pbRgb);
            g_pbiCompressed->biSizeImage = cbImage;
            if (dwResult != ICERR_OK) FormatMendMessage(szMessage, &MSG_PREVIEW_DECOMPRESS);
            else pbPicture = g_pbRgb;
        } else {
            // A raw frame is the picture itself; the read buffer holds a
            // header and at least a whole picture, so drawing never reads
            // past it.
            pbPicture = g_pbReadBuf + sizeof(REFFRAMEHEADER);
        }
        fShown = pbPicture != NULL;
    }
    g_nCurFrame = n;
    CHAR sz[16];
    snprintf(sz, sizeof(sz), "%lu", (unsigned long)n);
    UiSetItemText(IDC_CURFRAME, sz);
    UiSetFrameScroll(FALSE, 0, n);
    if (szMessage[0]) ShowMendMessage(szMessage, MB_OK | MB_ICONQUESTION);
    if (g_SalvageUi.pfnShowPicture) g_SalvageUi.pfnShowPicture(pbPicture);
    return fShown;
}

BOOL ApplyPictureSize(LONG lWidth, LONG lHeight)
{
    ScanRefFile(NULL, FALSE);
    g_bihRgb.biWidth = lWidth;
    g_bihRgb.biHeight = lHeight;
    unsigned long long cbPicture = (unsigned long long)(DWORD)lWidth * (DWORD)lHeight * 3;
    g_bihRgb.biSizeImage = cbPicture > 0xFFFFFFFFull ? 0xFFFFFFFFu : (DWORD)cbPicture;
    free(g_pbRgb);
    g_pbRgb = NULL;
    g_cbRgb = 0;
    s_lRgbWidth = s_lRgbHeight = 0;
    // Each dimension rounded up to a multiple of 16, and 16 more, for
    // codecs that write whole blocks.
    unsigned long long cbBuffer =
        ((unsigned long long)(DWORD)lWidth / 16 + 1) * 16 * ((unsigned long long)(DWORD)lHeight / 16 + 1) * 16 * 3;
    if (lWidth > 0 && lHeight > 0 && cbBuffer <= DECODE_BUFFER_MAX && cbBuffer <= (size_t)-1)
        g_pbRgb = (BYTE *)malloc((size_t)cbBuffer);
    if (!g_pbRgb) {
        CHAR szMessage[MENDMESSAGE_SIZE];
        FormatMendMessage(szMessage, &MSG_NO_MEMORY_FOR,
                          (unsigned)(cbBuffer > 0xFFFFFFFFull ? 0xFFFFFFFFull : cbBuffer));
        ShowMendMessage(szMessage, MB_OK | MB_ICONQUESTION);
        return FALSE;
    }
    g_cbRgb = (DWORD)cbBuffer;
    s_lRgbWidth = lWidth;
    s_lRgbHeight = lHeight;
    memset(g_pbRgb, 0x55, (size_t)cbPicture);
    if (g_SalvageUi.pfnPictureSizeChanged) g_SalvageUi.pfnPictureSizeChanged(lWidth, lHeight);
    if (g_szRefFile[0]) ScanRefFile(g_szRefFile, FALSE);
    return TRUE;
}

