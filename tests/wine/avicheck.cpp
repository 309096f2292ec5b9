// Loads an AVI with Spoolshift's engine and decodes every frame through the
// stream's decompressor, comparing each with the test picture it was made
// from.
//
//   avicheck AVI N     exit code 0 when the AVI loads with N frames and
//                      every frame decodes to its picture
//   avicheck --chunks AVI
//                      each stream's chunks as the AVI layer reads them, one
//                      line each, "STREAM PLACE SIZE K|_" (the place of the
//                      data; empty chunks left out), as ffprobe's packets
//                      are compared with them
#include "avi/aviread.h"
#include "mover/avireader.h"
#include "mover/message.h"
#include "tests/wine/testpicture.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

namespace {

int PrintMessage(LPCSTR pszText, LPCSTR pszCaption, UINT)
{
    printf("%s: %s\n", pszCaption, pszText);
    return IDOK;
}

int ListChunks(const char *pszAvi)
{
    HANDLE h = CreateFileA(pszAvi, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
    if (h == INVALID_HANDLE_VALUE) return 1;
    static AVIREAD s_avi;
    int nResult = ReadAvi(h, &s_avi);
    for (int s = 0; nResult == AVIREAD_OK && s < s_avi.nStreams; s++) {
        const AVIREADSTREAM *pStream = &s_avi.aStreams[s];
        for (DWORD i = 0; i < pStream->nChunks; i++)
            if (pStream->pChunks[i].cbData)
                printf("%d %llu %lu %s\n", s, (unsigned long long)pStream->pChunks[i].ullData,
                       (unsigned long)pStream->pChunks[i].cbData, (pStream->pChunks[i].dwFlags & AVICHUNK_KEY) ? "K" : "_");
    }
    FreeAvi(&s_avi);
    CloseHandle(h);
    return nResult == AVIREAD_OK ? 0 : 1;
}

}  // namespace

int main(int argc, char **argv)
{
    if (argc == 3 && strcmp(argv[1], "--chunks") == 0) return ListChunks(argv[2]);
    if (argc < 3) {
        fprintf(stderr, "usage: avicheck AVI N\n");
        return 2;
    }
    g_pfnShowMessage = PrintMessage;
    AVIFileInit();
    static AviInfo info;
    snprintf(info.szAviFile, sizeof(info.szAviFile), "%s", argv[1]);
    if (!LoadAvi(&info, TRUE)) return 1;
    printf("%lu frames, codec handler %.4s, decompressor %s\n", (unsigned long)info.nFrames,
           reinterpret_cast<const char *>(&info.fccHandler), info.hic ? "open" : "not open");
    int nSame = 0;
    for (DWORD n = 0; n < info.nFrames; n++) {
        std::vector<BYTE> picture = Picture((int)n);
        if (DecodeFrame(&info, n) && memcmp(g_pbImage, picture.data(), picture.size()) == 0) nSame++;
        else printf("frame %lu differs\n", (unsigned long)n);
    }
    printf("DecodeFrame: %d of %lu frames identical to the originals\n", nSame, (unsigned long)info.nFrames);
    LoadAvi(&info, FALSE);
    FreeWorkBuffer();
    AVIFileExit();
    return (info.nFrames == (DWORD)atoi(argv[2]) && nSame == atoi(argv[2])) ? 0 : 1;
}
