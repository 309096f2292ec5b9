// Salvages a reference file without a window, for the integration tests
// under Wine: scans it with Spoolmend's engine, applies the picture size of
// its first frame and writes the salvaged AVI through the real msvfw32.
//
//   mendhost REFFILE AVI FOURCC RATE [raw]
//
// With "raw" the frames are taken as uncompressed and FOURCC is the codec
// the stream names (as chosen in the save dialog). Messages go to the
// output. Exit code 0 when the AVI was written, 1 when not, 2 on bad usage.
#include "salvage/salvage.h"

#include <stdio.h>
#include <string.h>

namespace {

int PrintMessage(LPCSTR pszText, LPCSTR pszCaption, UINT)
{
    printf("%s: %s\n", pszCaption, pszText);
    return IDOK;
}

DWORD Fourcc(const char *psz)
{
    char ach[4] = {' ', ' ', ' ', ' '};
    for (int i = 0; i < 4 && psz[i]; i++) ach[i] = psz[i];
    return mmioFOURCC(ach[0], ach[1], ach[2], ach[3]);
}

}  // namespace

int main(int argc, char **argv)
{
    if (argc < 5) {
        fprintf(stderr, "usage: mendhost REFFILE AVI FOURCC RATE [raw]\n");
        return 2;
    }
    g_pfnShowMendMessage = PrintMessage;
    BOOL fRaw = argc >= 6 && strcmp(argv[5], "raw") == 0;
    g_fccHandler = fRaw ? 0 : Fourcc(argv[3]);
    g_fccRefHandler = Fourcc(argv[3]);
    snprintf(g_szFrameRate, sizeof(g_szFrameRate), "%s", argv[4]);
    ParseFrameRate(g_szFrameRate);
    snprintf(g_szRefFile, sizeof(g_szRefFile), "%s", argv[1]);
    if (!ScanRefFile(g_szRefFile, FALSE) || g_nRefFrames == 0) return 1;
    // The picture size of the first frame, as the window's fields apply it.
    if (g_lPendingWidth && !ApplyPictureSize(g_lPendingWidth, g_lPendingHeight)) return 1;
    if (!ScanRefFile(g_szRefFile, TRUE)) return 1;
    printf("%lu frames of %ldx%ld listed\n", (unsigned long)g_nRefFrames, (long)g_bihRgb.biWidth,
           (long)g_bihRgb.biHeight);
    BOOL fWritten = WriteSalvageAvi(argv[2]);
    ScanRefFile(NULL, FALSE);
    FreeSalvageBuffers();
    return fWritten ? 0 : 1;
}
