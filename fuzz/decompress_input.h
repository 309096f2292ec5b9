// The decompression fuzz input: two reference files and a run of records
// handed to Spoolcap's ICM_DECOMPRESS, with or without the host's input
// size, each record's chunk ending at an unreadable page. Shared by the fuzz
// target, its seed builder and the test that replays the corpus.
//
// Layout, little-endian:
//   u8  switches: bit 0 OverlapRead, bit 1 the host gives the input size
//   u8  width - 1 (mod 64), u8 height - 1 (mod 48), u8 depth (8, 16, 24, 32 by bits 0-1)
//   u16 n0, n0 bytes: reference file 0;  u16 n1, n1 bytes: reference file 1
//   then records of 12 bytes each:
//     u32 dwOffset, u32 dwSizeFlags,
//     u8  file: bits 0-1 which (0, 1, 2 a missing file, 3 a name without
//         terminator); bit 6 the magic word spoiled; bit 7 ICM_DECOMPRESS_END first
//     u8  unused, u16 the chunk's length (at most 1024)
#pragma once

#include "platform/win.h"

#include <stddef.h>
#include <stdint.h>

#include <string>
#include <vector>

// Up to this many records of an input are played.
#define DECOMPRESS_FUZZ_MAX_RECORDS 48

// Plays one input through DriverProc with an in-process wrapped codec that
// reads every byte it is given; reference files go to pszDir. Returns the
// count of records that decompressed.
int RunDecompressInput(const uint8_t *pData, size_t cbData, const std::string &dir);

// Builds an input (for seeds and tests).
struct DECOMPRESSRECORD {
    DWORD dwOffset;
    DWORD dwSizeFlags;
    BYTE bFile;
    WORD cbChunk;
};
std::vector<BYTE> BuildDecompressInput(BYTE bSwitches, BYTE bWidth, BYTE bHeight, BYTE bDepth,
                                       const std::vector<BYTE> &file0, const std::vector<BYTE> &file1,
                                       const std::vector<DECOMPRESSRECORD> &records);
