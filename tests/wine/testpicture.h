// The test pictures of the Wine integration tests, the same in every host
// program: a moving gradient with a noisy band whose height varies, so that
// compressed sizes differ from frame to frame.
#pragma once

#include "platform/win.h"
#include "tests/dibheader.h"

#include <string.h>

#include <vector>

const LONG PICTURE_WIDTH = 160;
const LONG PICTURE_HEIGHT = 120;

inline BITMAPINFOHEADER PictureFormat()
{
    BITMAPINFOHEADER bih =
        MakeDibHeader(PICTURE_WIDTH, PICTURE_HEIGHT, 24, BI_RGB, DibStride(PICTURE_WIDTH, 24) * PICTURE_HEIGHT);
    return bih;
}

// Test picture n: a moving gradient with a noisy band whose height varies,
// so that compressed sizes differ from frame to frame.
inline std::vector<BYTE> Picture(int n)
{
    BITMAPINFOHEADER bih = PictureFormat();
    std::vector<BYTE> bits(bih.biSizeImage);
    DWORD cbStride = bih.biSizeImage / PICTURE_HEIGHT;
    unsigned nRandom = 12345u + 977u * (unsigned)n;
    for (LONG y = 0; y < PICTURE_HEIGHT; y++) {
        for (DWORD x = 0; x < cbStride; x++) {
            nRandom = nRandom * 1103515245u + 12345u;
            BYTE b = (BYTE)((x / 3 + (DWORD)n * 4) & 0xF0);
            if (y < (n * 7) % PICTURE_HEIGHT) b = (BYTE)(nRandom >> 16);
            bits[(DWORD)y * cbStride + x] = b;
        }
    }
    return bits;
}


// An 8-bit picture with its palette, for codecs of palette pictures: the
// format with 256 colours behind it.
struct PALETTEFORMAT {
    BITMAPINFOHEADER bih;
    RGBQUAD aColors[256];
};

inline PALETTEFORMAT PaletteFormat()
{
    PALETTEFORMAT format;
    memset(&format, 0, sizeof(format));
    format.bih = MakeDibHeader(PICTURE_WIDTH, PICTURE_HEIGHT, 8, BI_RGB, DibStride(PICTURE_WIDTH, 8) * PICTURE_HEIGHT);
    format.bih.biClrUsed = 256;
    for (int i = 0; i < 256; i++) {
        format.aColors[i].rgbBlue = (BYTE)i;
        format.aColors[i].rgbGreen = (BYTE)(255 - i);
        format.aColors[i].rgbRed = (BYTE)((i * 7) & 0xFF);
    }
    return format;
}

// Palette picture n: bands of colours, runs of one colour and runs of
// changing ones, moving from frame to frame.
inline std::vector<BYTE> PalettePicture(int n)
{
    PALETTEFORMAT format = PaletteFormat();
    std::vector<BYTE> bits(format.bih.biSizeImage);
    DWORD cbStride = format.bih.biSizeImage / PICTURE_HEIGHT;
    for (LONG y = 0; y < PICTURE_HEIGHT; y++)
        for (DWORD x = 0; x < cbStride; x++)
            bits[(DWORD)y * cbStride + x] =
                (BYTE)(y < (n * 5) % PICTURE_HEIGHT ? (x * 3 + (DWORD)y + (DWORD)n) : ((x + (DWORD)n * 2) / 16 + (DWORD)y / 8) * 9);
    return bits;
}
