#include "fuzz/salvage_input.h"

#include "salvage/salvage.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

namespace {

int Quiet(LPCSTR, LPCSTR, UINT) { return IDOK; }

// Frames shown per input, so that each run stays short.
const DWORD MAX_SHOWN = 16;

}  // namespace

DWORD RunSalvageInput(const BYTE *pData, size_t cbData, const std::string &dir)
{
    std::string input = dir + "/input.000";
    std::string output = dir + "/output.avi";
    FILE *pFile = fopen(input.c_str(), "wb");
    if (!pFile) return 0;
    if (cbData) fwrite(pData, 1, cbData, pFile);
    fclose(pFile);

    g_pfnShowMendMessage = Quiet;
    memset(&g_SalvageUi, 0, sizeof(g_SalvageUi));
    static bool s_fReady = false;
    if (!s_fReady) {
        // A small picture, shown raw: no codec is needed.
        g_szRefFile[0] = '\0';
        g_fccHandler = 0;
        ApplyPictureSize(16, 8);
        ParseFrameRate("25");
        s_fReady = true;
    }
    g_fccHandler = 0;
    snprintf(g_szRefFile, sizeof(g_szRefFile), "%s", input.c_str());
    ScanRefFile(g_szRefFile, FALSE);
    if (g_nRefFrames) ScanRefFile(g_szRefFile, TRUE);
    DWORD nListed = g_nRefFrames;
    for (DWORD n = 0; n < nListed && n < MAX_SHOWN; n++) ShowRefFrame(n);
    ShowRefFrame(nListed);
    if (nListed) {
        // The writer with a codec's format held, as after a preview.
        g_fccHandler = mmioFOURCC('F', 'U', 'Z', 'Z');
        ResetPreviewCodec();
        g_pbiCompressed = (LPBITMAPINFOHEADER)calloc(1, sizeof(BITMAPINFOHEADER) + 4);
        if (g_pbiCompressed) {
            g_pbiCompressed->biSize = sizeof(BITMAPINFOHEADER);
            g_cbCompressed = sizeof(BITMAPINFOHEADER) + 4;
        }
        WriteSalvageAvi(output.c_str());
        g_fccHandler = 0;
        ResetPreviewCodec();
        remove(output.c_str());
    }
    ScanRefFile(NULL, FALSE);
    g_szRefFile[0] = '\0';
    // The same bytes as the AVI to take settings from.
    TakeAviSettings(input.c_str());
    ResetPreviewCodec();
    return nListed;
}
