// Loads an AVI with Spoolshift's engine and decodes every frame through the
// stream's decompressor, comparing each with the test picture it was made
// from.
//
//   avicheck AVI N     exit code 0 when the AVI loads with N frames and
//                      every frame decodes to its picture
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

}  // namespace

int main(int argc, char **argv)
{
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
