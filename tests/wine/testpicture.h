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

