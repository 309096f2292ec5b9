// spool scan and spool salvage: Spoolmend's scanner and writer without its
// window.
#include "cli/spool.h"

#include "scaffold/filegate.h"
#include "scaffold/messages.h"

#include "codec/refformat.h"
#include "salvage/salvage.h"

#include <stdlib.h>
#include <string.h>

namespace {

// Opens a reference file by its full path and lists its first frame; FALSE
// after a message.
BOOL OpenFirstFrame(LPCSTR pszFile)
{
    CHAR szFull[MAX_PATH];
    LPSTR pszPart;
    DWORD cch = GetFullPathNameA(pszFile, sizeof(szFull), szFull, &pszPart);
    if (cch == 0 || cch >= sizeof(szFull)) {
        Complain("%s: the path is too long", "%s: パスが長すぎます", pszFile);
        return FALSE;
    }
    snprintf(g_szRefFile, sizeof(g_szRefFile), "%s", szFull);
    return ScanRefFile(g_szRefFile, FALSE) && g_nRefFrames > 0;
}

// The same, and the rest of the file; TRUE when a frame was listed (a
// damaged header further on has been reported).
BOOL ScanWhole(LPCSTR pszFile)
{
    if (!OpenFirstFrame(pszFile)) return FALSE;
    ScanRefFile(g_szRefFile, TRUE);
    return g_nRefFrames > 0;
}

// The header of a listed frame, read again for the listing.
BOOL ReadHeader(DWORD dwOffset, REFFRAMEHEADER *pHeader)
{
    if (SetFilePointer(g_hRefFile, (LONG)dwOffset, NULL, FILE_BEGIN) == INVALID_SET_FILE_POINTER) return FALSE;
    DWORD cb = 0;
    return ReadFile(g_hRefFile, pHeader, sizeof(*pHeader), &cb, NULL) && cb == sizeof(*pHeader);
}

BOOL ParseSize(LPCSTR psz, LONG *plWidth, LONG *plHeight)
{
    char *pEnd;
    long w = strtol(psz, &pEnd, 10);
    if (pEnd == psz || (*pEnd != 'x' && *pEnd != 'X')) return FALSE;
    LPCSTR pszHeight = pEnd + 1;
    long h = strtol(pszHeight, &pEnd, 10);
    if (pEnd == pszHeight || *pEnd || w <= 0 || h <= 0 || w > 32767 || h > 32767) return FALSE;
    *plWidth = w;
    *plHeight = h;
    return TRUE;
}

void ShowWritten(void *, DWORD nWritten, DWORD) { ShowProgress(nWritten); }

}  // namespace

int ScanCommand(int argc, char **argv)
{
    LPCSTR pszFile = NULL;
    BOOL fJson = FALSE;
    for (int i = 0; i < argc; i++) {
        if (TakeOption(argc, argv, &i, "--json", NULL, NULL)) fJson = TRUE;
        else if (argv[i][0] == '-' || pszFile) return UsageError("scan", argv[i]);
        else pszFile = argv[i];
    }
    if (!pszFile) return UsageError("scan", "REFFILE");
    if (!ScanWhole(pszFile)) {
        ScanRefFile(NULL, FALSE);
        return SPOOL_ERROR;
    }
    // Where the listed frames end: a file that goes on after them has a
    // damaged header or a frame cut short there.
    unsigned long long ullSize = 0;
    GetPathSize(g_szRefFile, &ullSize);
    const REFFRAMEPOS *pLast = &g_pRefFrames[g_nRefFrames - 1];
    unsigned long long ullEnd = (unsigned long long)pLast->dwOffset + pLast->dwFrameSize;
    BOOL fDamaged = ullEnd < ullSize;
    if (fJson) {
        fputs("{\"file\":", g_pOut);
        PutJsonString(g_pOut, g_szRefFile);
        fprintf(g_pOut, ",\"size\":%llu,\"frames\":[", ullSize);
    } else {
        Say(g_pOut, "%s: %lu frames, %llu bytes\n", "%s: %lu フレーム, %llu バイト\n", g_szRefFile, (unsigned long)g_nRefFrames,
            ullSize);
        // The column names of the language (in code page 932 a Japanese
        // character takes two bytes and two columns).
        fprintf(g_pOut, "%10s %10s %10s %10s %11s\n", g_fJapanese ? "フレーム" : "frame", g_fJapanese ? "オフセット" : "offset",
                g_fJapanese ? "データ" : "data", g_fJapanese ? "パディング" : "padding", g_fJapanese ? "画像" : "picture");
    }
    for (DWORD i = 0; i < g_nRefFrames; i++) {
        REFFRAMEHEADER header;
        memset(&header, 0, sizeof(header));
        ReadHeader(g_pRefFrames[i].dwOffset, &header);
        if (fJson) {
            fprintf(g_pOut, "%s{\"offset\":%lu,\"frame\":%lu,\"data\":%lu,\"padding\":%lu,\"width\":%d,\"height\":%d}",
                    i ? "," : "", (unsigned long)g_pRefFrames[i].dwOffset, (unsigned long)header.dwFrameSize,
                    (unsigned long)header.dwDataSize, (unsigned long)header.dwPadSize, header.wWidth, header.wHeight);
        } else {
            CHAR szPicture[24];
            snprintf(szPicture, sizeof(szPicture), "%dx%d", header.wWidth, header.wHeight);
            fprintf(g_pOut, "%10lu %10lu %10lu %10lu %11s\n", (unsigned long)i, (unsigned long)g_pRefFrames[i].dwOffset,
                    (unsigned long)header.dwDataSize, (unsigned long)header.dwPadSize, szPicture);
        }
    }
    if (fJson) {
        fputs("],\"damaged_at\":", g_pOut);
        if (fDamaged) fprintf(g_pOut, "%llu}\n", ullEnd);
        else fputs("null}\n", g_pOut);
    } else if (fDamaged) {
        Say(g_pOut, "damaged header or frame cut short at byte %llu\n", "バイト位置%lluのヘッダが破損しているか, フレームが途切れています\n",
            ullEnd);
    }
    ScanRefFile(NULL, FALSE);
    return fDamaged ? SPOOL_PROBLEMS : SPOOL_OK;
}

int SalvageCommand(int argc, char **argv)
{
    LPCSTR pszFile = NULL, pszOut = NULL, pszCodec = NULL, pszRaw = NULL, pszSize = NULL, pszRate = NULL,
           pszFrom = NULL;
    for (int i = 0; i < argc; i++) {
        LPCSTR pszValue = NULL;
        LPCSTR *ppszTarget = NULL;
        if (TakeOption(argc, argv, &i, "--output", "-o", &pszValue)) ppszTarget = &pszOut;
        else if (TakeOption(argc, argv, &i, "--codec", NULL, &pszValue)) ppszTarget = &pszCodec;
        else if (TakeOption(argc, argv, &i, "--raw", NULL, &pszValue)) ppszTarget = &pszRaw;
        else if (TakeOption(argc, argv, &i, "--size", NULL, &pszValue)) ppszTarget = &pszSize;
        else if (TakeOption(argc, argv, &i, "--rate", NULL, &pszValue)) ppszTarget = &pszRate;
        else if (TakeOption(argc, argv, &i, "--from", NULL, &pszValue)) ppszTarget = &pszFrom;
        else if (argv[i][0] == '-' || pszFile) return UsageError("salvage", argv[i]);
        else pszFile = argv[i];
        if (ppszTarget) {
            if (!pszValue) return UsageError("salvage", argv[i]);
            *ppszTarget = pszValue;
        }
    }
    if (!pszFile || !pszOut) return UsageError("salvage", pszFile ? "-o OUT.avi" : "REFFILE");
    if ((pszCodec != NULL) + (pszRaw != NULL) + (pszFrom != NULL) > 1) return UsageError("salvage", "--codec/--raw/--from");

    DWORD fccCodec = 0;
    LONG lWidth = 0, lHeight = 0;
    if ((pszCodec && !ParseFourcc(pszCodec, &fccCodec)) || (pszRaw && !ParseFourcc(pszRaw, &fccCodec)))
        return UsageError("salvage", pszCodec ? pszCodec : pszRaw);
    if (pszSize && !ParseSize(pszSize, &lWidth, &lHeight)) return UsageError("salvage", pszSize);

    // The AVI the settings come from is never written over, by whatever
    // name or link the output reaches it.
    if (pszFrom) {
        FILEFACTS from, out;
        LookAtName(pszFrom, &from);
        LookAtName(pszOut, &out);
        if (from.nKind == FILEKIND_FILE && out.nKind == FILEKIND_FILE && SameFileId(&from.id, &out.id)) {
            CHAR szText[1024];
            RenderMessage(szText, sizeof(szText), &MSG_OUTPUT_IS_SOURCE, pszOut);
            for (char *p = szText; *p; p++)
                if (*p == '\n') *p = ' ';
            Complain("%s", "%s", szText);
            return SPOOL_ERROR;
        }
    }
    // The other AVI's stream: its codec, rate and format chunk as they are.
    LPBITMAPINFOHEADER pbiFrom = NULL;
    DWORD cbFrom = 0;
    CHAR szFromRate[64] = "";
    if (pszFrom && !ReadAviVideoStream(pszFrom, &fccCodec, szFromRate, &pbiFrom, &cbFrom)) return SPOOL_ERROR;

    int nStatus = SPOOL_ERROR;
    g_nEngineMessages = 0;
    if (!OpenFirstFrame(pszFile)) {
        Complain("%s: no frame to salvage", "%s: 回復できるフレームがありません", pszFile);
    } else {
        // The picture size: asked for, the other AVI's, or the first frame's.
        REFFRAMEHEADER header;
        memset(&header, 0, sizeof(header));
        ReadHeader(g_pRefFrames[0].dwOffset, &header);
        if (!lWidth && pbiFrom) {
            lWidth = pbiFrom->biWidth;
            lHeight = pbiFrom->biHeight < 0 ? -pbiFrom->biHeight : pbiFrom->biHeight;
        }
        if (!lWidth) {
            lWidth = header.wWidth;
            lHeight = header.wHeight;
        }
        g_fccHandler = pszRaw ? 0 : fccCodec;
        g_fccRefHandler = pszRaw ? fccCodec : 0;
        LPCSTR pszRateText = pszRate ? pszRate : (szFromRate[0] ? szFromRate : "30000/1001");
        if (lWidth <= 0 || lHeight <= 0) {
            Complain("the picture size is not known: give --size WxH", "画像サイズが不明です: --size WxH を指定して下さい");
        } else if (!g_fccHandler && !g_fccRefHandler) {
            Complain("give --codec, --raw or --from", "--codec, --raw または --from を指定して下さい");
        } else if (!(ParseFrameRate(pszRateText) > 0.0)) {
            Complain("the frame rate %s gives no AVI", "フレームレート %s ではAVIを出力できません", pszRateText);
        } else if (ApplyPictureSize(lWidth, lHeight) && (ScanRefFile(g_szRefFile, TRUE) || g_nRefFrames > 0)) {
            // Applying a picture size opens the file again at its first
            // frame; the rest is listed again after it. A damaged header
            // further on was reported: the frames before it are written.
            BOOL fWhole = g_nEngineMessages == 0;
            if (pbiFrom && (pbiFrom->biWidth != lWidth || (pbiFrom->biHeight < 0 ? -pbiFrom->biHeight : pbiFrom->biHeight) != lHeight)) {
                // The format chunk tells the pictures' size as the main
                // header does: the copy takes the size asked for, and the
                // bytes of a picture of that size at its depth.
                BOOL fTopDown = pbiFrom->biHeight < 0;
                pbiFrom->biWidth = lWidth;
                pbiFrom->biHeight = fTopDown ? -lHeight : lHeight;
                ULONGLONG cbStride = (((ULONGLONG)(DWORD)lWidth * pbiFrom->biBitCount + 31) / 32) * 4;
                ULONGLONG cbImage = cbStride * (ULONGLONG)lHeight;
                pbiFrom->biSizeImage = cbImage > 0xFFFFFFFFull ? 0xFFFFFFFFu : (DWORD)cbImage;
            }
            if (pbiFrom) {
                // The writer stores this format chunk.
                ResetPreviewCodec();
                g_pbiCompressed = pbiFrom;
                g_cbCompressed = cbFrom;
                pbiFrom = NULL;
            }
            BeginProgress("salvage", g_nRefFrames, PROGRESS_FRAMES);
            SALVAGEWRITE req;
            memset(&req, 0, sizeof(req));
            req.pszAviFile = pszOut;
            req.pfnProgress = ShowWritten;
            SALVAGEWRITTEN res;
            BOOL fWritten = WriteAviOfRecords(&req, &res);
            EndProgress();
            if (fWritten) {
                Say(g_pOut, "%s: %lu frames of %s\n", "%s: %lu フレーム (%s)\n", pszOut, (unsigned long)res.nWritten,
                    g_szRefFile);
                nStatus = fWhole ? SPOOL_OK : SPOOL_PROBLEMS;
            } else {
                for (char *p = res.szMessage; *p; p++)
                    if (*p == '\n') *p = ' ';
                Complain("%s", "%s", res.szMessage);
            }
        }
    }
    free(pbiFrom);
    ScanRefFile(NULL, FALSE);
    FreeSalvageBuffers();
    return nStatus;
}
