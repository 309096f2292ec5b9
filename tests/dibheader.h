// The picture format that the tests, the Wine host programs and the
// benchmarks build their frames and AVIs from.
#pragma once

#include "platform/win.h"

#include <string.h>

// Bytes of one row of an uncompressed picture, padded to 4 bytes.
inline DWORD DibStride(LONG lWidth, WORD wBits) { return (((DWORD)lWidth * wBits + 31) / 32) * 4; }

// A BITMAPINFOHEADER with the given image size.
inline BITMAPINFOHEADER MakeDibHeader(LONG lWidth, LONG lHeight, WORD wBits, DWORD dwCompression = BI_RGB,
                                      DWORD cbImage = 0)
{
    BITMAPINFOHEADER bih;
    memset(&bih, 0, sizeof(bih));
    bih.biSize = sizeof(bih);
    bih.biWidth = lWidth;
    bih.biHeight = lHeight;
    bih.biPlanes = 1;
    bih.biBitCount = wBits;
    bih.biCompression = dwCompression;
    bih.biSizeImage = cbImage;
    return bih;
}
