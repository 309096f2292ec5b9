// Frame reading and decoding: any frame of the loaded AVI becomes a 24-bit
// bottom-up picture in pbImage, through the stream's decompressor, the
// stream library's frame decoder, or the converter of uncompressed formats.
#include "mover/avireader.h"

#include <string.h>

namespace {

const BYTE GREY = 0x80;

struct PICTUREOUT {
    BYTE *pDest;
    DWORD cbStride;
    LONG w;
    LONG h;
    bool fTopDown;  // source rows run from the top
    BYTE *Pixel(LONG x, LONG r) const
    {
        LONG row = fTopDown ? h - 1 - r : r;
        return pDest + (size_t)row * cbStride + (size_t)x * 3;
    }
};

// The colour table of a palette format, as far as the format chunk holds it.
struct PALETTE {
    const BYTE *pEntries;
    DWORD nEntries;
    void Put(BYTE *pPixel, DWORD dwIndex) const
    {
        if (dwIndex < nEntries) {
            const BYTE *pEntry = pEntries + 4 * dwIndex;
            pPixel[0] = pEntry[0];
            pPixel[1] = pEntry[1];
            pPixel[2] = pEntry[2];
        } else {
            // An index beyond the table shows black.
            pPixel[0] = pPixel[1] = pPixel[2] = 0;
        }
    }
};

PALETTE PaletteOf(const AviInfo *pInfo)
{
    const BITMAPINFOHEADER *pbi = pInfo->lpbiFormat;
    PALETTE pal;
    pal.pEntries = reinterpret_cast<const BYTE *>(pbi) + sizeof(BITMAPINFOHEADER);
    DWORD nHeld = (pInfo->cbFormat - (DWORD)sizeof(BITMAPINFOHEADER)) / 4;
    DWORD nWanted = pbi->biClrUsed ? pbi->biClrUsed : (pbi->biBitCount <= 8 ? 1u << pbi->biBitCount : 0);
    pal.nEntries = nWanted < nHeld ? nWanted : nHeld;
    return pal;
}

struct CHANNEL {
    DWORD dwMask;
    DWORD dwShift;
    DWORD dwFactor;
    BYTE Value(DWORD dwPixel) const { return (BYTE)((((dwPixel & dwMask) >> dwShift) * dwFactor) >> 12); }
};

CHANNEL MakeChannel(DWORD dwMask)
{
    CHANNEL ch = {dwMask, 0, 0};
    // A mask of 0 gives a channel of 0.
    if (dwMask == 0) return ch;
    while (!((dwMask >> ch.dwShift) & 1)) ch.dwShift++;
    ch.dwFactor = 0xFF000u / (dwMask >> ch.dwShift);
    return ch;
}

// Emits pixels in order, row after row, up to the end of the picture.
struct EMITTER {
    const PICTUREOUT *pOut;
    LONG x;
    LONG r;
    bool Done() const { return r >= pOut->h; }
    void Put(const BYTE *pbBgr)
    {
        if (Done()) return;
        BYTE *p = pOut->Pixel(x, r);
        p[0] = pbBgr[0];
        p[1] = pbBgr[1];
        p[2] = pbBgr[2];
        if (++x == pOut->w) {
            x = 0;
            r++;
        }
    }
    void Grey(ULONGLONG n)
    {
        static const BYTE abGrey[3] = {GREY, GREY, GREY};
        for (ULONGLONG i = 0; i < n && !Done(); i++) Put(abGrey);
    }
    void Index(const PALETTE &pal, DWORD dwIndex)
    {
        BYTE ab[3];
        pal.Put(ab, dwIndex);
        Put(ab);
    }
};

// RLE8 and RLE4; decoding stops at the end of the picture or of the stored
// bytes, whichever comes first, and what the data leaves out is grey.
void DecodeRle(const BYTE *pSrc, DWORD cbSrc, const PICTUREOUT &out, const PALETTE &pal, bool fRle4)
{
    EMITTER em = {&out, 0, 0};
    DWORD i = 0;
    while (!em.Done() && i < cbSrc) {
        BYTE b = pSrc[i++];
        if (b > 0) {
            if (i >= cbSrc) break;
            BYTE bIndex = pSrc[i++];
            for (DWORD k = 0; k < b && !em.Done(); k++)
                em.Index(pal, fRle4 ? ((k & 1) ? (bIndex & 0x0F) : (bIndex >> 4)) : bIndex);
            continue;
        }
        if (i >= cbSrc) break;
        BYTE e = pSrc[i++];
        if (e == 0) {
            if (em.x > 0) em.Grey((ULONGLONG)(out.w - em.x));
        } else if (e == 1) {
            em.Grey((ULONGLONG)(out.h - em.r) * (ULONGLONG)out.w - (ULONGLONG)em.x);
        } else if (e == 2) {
            if (i + 2 > cbSrc) break;
            BYTE dx = pSrc[i++];
            BYTE dy = pSrc[i++];
            em.Grey((ULONGLONG)dy * (ULONGLONG)out.w + dx);
        } else if (fRle4) {
            DWORD cbRun = ((DWORD)e + 1) / 2;
            for (DWORD k = 0; k < e && !em.Done(); k++) {
                if (i + k / 2 >= cbSrc) break;
                BYTE bPair = pSrc[i + k / 2];
                em.Index(pal, (k & 1) ? (bPair & 0x0F) : (bPair >> 4));
            }
            i += cbRun;
            if (i & 1) i++;
        } else {
            for (DWORD k = 0; k < e && !em.Done(); k++) {
                if (i >= cbSrc) break;
                em.Index(pal, pSrc[i++]);
            }
            if (i & 1) i++;
        }
    }
    em.Grey((ULONGLONG)(out.h - em.r) * (ULONGLONG)out.w);
}

}  // namespace

BOOL ConvertToRgb24(const AviInfo *pInfo, const BYTE *pSource, DWORD cbSource, BYTE *pDest)
{
    const BITMAPINFOHEADER *pbi = pInfo->lpbiFormat;
    if (!pbi || pbi->biPlanes != 1 || pbi->biWidth <= 0 || pbi->biHeight == 0) return FALSE;
    PICTUREOUT out;
    out.pDest = pDest;
    out.w = pbi->biWidth;
    out.h = pInfo->biOut.biHeight;
    out.cbStride = ((DWORD)out.w * 3 + 3) & ~3u;
    out.fTopDown = pbi->biHeight < 0;
    WORD wBits = pbi->biBitCount;
    DWORD dwCompression = pbi->biCompression;

    if ((wBits == 8 && dwCompression == BI_RLE8) || (wBits == 4 && dwCompression == BI_RLE4)) {
        DecodeRle(pSource, cbSource, out, PaletteOf(pInfo), wBits == 4);
        return TRUE;
    }

    // Uncompressed rows start at multiples of 4 bytes; the source must hold
    // them all.
    ULONGLONG ullRowBits = (ULONGLONG)out.w * wBits;
    ULONGLONG ullSrcStride = ((ullRowBits + 31) / 32) * 4;
    if (wBits != 1 && wBits != 4 && wBits != 8 && wBits != 16 && wBits != 32) return FALSE;
    if (ullSrcStride * (ULONGLONG)out.h > cbSource) return FALSE;
    DWORD cbSrcStride = (DWORD)ullSrcStride;

    if (wBits == 16 || (wBits == 32 && dwCompression == BI_BITFIELDS)) {
        DWORD adwMask[3];
        if (dwCompression == BI_BITFIELDS) {
            // Masks that the format chunk does not hold are 0.
            for (int c = 0; c < 3; c++) {
                DWORD dwAt = (DWORD)sizeof(BITMAPINFOHEADER) + 4 * (DWORD)c;
                adwMask[c] = 0;
                if (dwAt + 4 <= pInfo->cbFormat) memcpy(&adwMask[c], reinterpret_cast<const BYTE *>(pbi) + dwAt, 4);
            }
        } else {
            adwMask[0] = 0x7C00;
            adwMask[1] = 0x03E0;
            adwMask[2] = 0x001F;
        }
        CHANNEL red = MakeChannel(adwMask[0]), green = MakeChannel(adwMask[1]), blue = MakeChannel(adwMask[2]);
        for (LONG r = 0; r < out.h; r++) {
            const BYTE *pRow = pSource + (size_t)r * cbSrcStride;
            for (LONG x = 0; x < out.w; x++) {
                DWORD dwPixel;
                if (wBits == 16) dwPixel = (DWORD)pRow[2 * x] | ((DWORD)pRow[2 * x + 1] << 8);
                else memcpy(&dwPixel, pRow + 4 * x, 4);
                BYTE *p = out.Pixel(x, r);
                p[0] = blue.Value(dwPixel);
                p[1] = green.Value(dwPixel);
                p[2] = red.Value(dwPixel);
            }
        }
        return TRUE;
    }

    PALETTE pal = PaletteOf(pInfo);
    for (LONG r = 0; r < out.h; r++) {
        const BYTE *pRow = pSource + (size_t)r * cbSrcStride;
        for (LONG x = 0; x < out.w; x++) {
            BYTE *p = out.Pixel(x, r);
            switch (wBits) {
            case 32:
                p[0] = pRow[4 * x];
                p[1] = pRow[4 * x + 1];
                p[2] = pRow[4 * x + 2];
                break;
            case 8: pal.Put(p, pRow[x]); break;
            case 4: pal.Put(p, (x & 1) ? (pRow[x / 2] & 0x0F) : (pRow[x / 2] >> 4)); break;
            default: pal.Put(p, (pRow[x / 8] >> (7 - (x & 7))) & 1); break;
            }
        }
    }
    return TRUE;
}

BOOL DecodeFrame(AviInfo *pInfo, DWORD n)
{
    if (!pInfo->hmmio || n >= pInfo->nFrames || !g_fCodecReady || !g_pbWork) return FALSE;
    // A compressed stream cannot be shown while its decompressor is closed.
    if (!pInfo->hic && !IsUncompressedHandler(pInfo->fccHandler)) return FALSE;
    const BITMAPINFOHEADER *pbi = pInfo->lpbiFormat;
    bool fDirect = !pInfo->hic && pbi->biBitCount == 24 && pbi->biHeight > 0;
    BYTE *pDest = fDirect ? g_pbImage : g_pbRaw;
    DWORD dwLen = pInfo->pFrames[n].dwChunkLen & FRAME_LENMASK;
    DWORD cbPicture = pInfo->biOut.biSizeImage;
    if (dwLen == 0) {
        // A dropped frame: black.
        memset(g_pbImage, 0, cbPicture);
        return TRUE;
    }
    if (dwLen > (DWORD)(g_pbWork + g_cbWork - pDest)) return FALSE;
    if (!AviBytesAt(pInfo, pInfo->pFrames[n].ullChunkPos + 8, pDest, dwLen, FALSE)) return FALSE;

    if (pInfo->hic) {
        if (pInfo->pGetFrame) {
            const BYTE *pPacked = static_cast<const BYTE *>(AVIStreamGetFrame(pInfo->pGetFrame, (LONG)n));
            const BITMAPINFOHEADER *pbiGot = reinterpret_cast<const BITMAPINFOHEADER *>(pPacked);
            // Taken only when it is the picture asked for.
            if (pbiGot && pbiGot->biBitCount == 24 && pbiGot->biWidth == pInfo->biOut.biWidth &&
                (pbiGot->biHeight == pInfo->biOut.biHeight || -pbiGot->biHeight == pInfo->biOut.biHeight)) {
                memcpy(g_pbImage, pPacked + pbiGot->biSize, cbPicture);
                return TRUE;
            }
        }
        // The codec is told the frame's true size for the length of the call.
        DWORD cbStoredSize = pInfo->lpbiFormat->biSizeImage;
        pInfo->lpbiFormat->biSizeImage = dwLen;
        DWORD dwFlags = (pInfo->pFrames[n].dwChunkLen & FRAME_NOTKEY) ? ICDECOMPRESS_NOTKEYFRAME : 0;
        DWORD dwResult = ICDecompress(pInfo->hic, dwFlags, pInfo->lpbiFormat, g_pbRaw, &pInfo->biOut, g_pbImage);
        pInfo->lpbiFormat->biSizeImage = cbStoredSize;
        return dwResult == ICERR_OK;
    }
    if (pbi->biBitCount == 24) {
        DWORD cbStride = pInfo->biOut.biSizeImage / (pInfo->biOut.biHeight ? pInfo->biOut.biHeight : 1);
        if (fDirect) {
            // The stored bytes are the picture; what a short frame lacks is black.
            if (dwLen < cbPicture) memset(g_pbImage + dwLen, 0, cbPicture - dwLen);
            return TRUE;
        }
        // Top-down: the rows go the other way.
        if (dwLen < cbPicture) return FALSE;
        LONG h = pInfo->biOut.biHeight;
        for (LONG r = 0; r < h; r++)
            memcpy(g_pbImage + (size_t)(h - 1 - r) * cbStride, g_pbRaw + (size_t)r * cbStride, cbStride);
        return TRUE;
    }
    return ConvertToRgb24(pInfo, g_pbRaw, dwLen, g_pbImage);
}
