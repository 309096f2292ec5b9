// AVI files built byte by byte for the reader's tests, benchmarks and fuzz
// seeds: every part of the structure can be left out, moved or bent.
#pragma once

#include "platform/win.h"

#include <string>
#include <vector>

struct AVIFRAME {
    std::string id;          // "00dc", "01wb", "JUNK" ...
    std::vector<BYTE> data;
    DWORD dwIndexFlags;      // AVIIF_KEYFRAME and so on
    bool fIndexed;           // listed in idx1
    bool fInRecList;         // stored inside a LIST "rec "
    bool fRecListStart = false;  // begins a "rec " list of its own
};

struct AVISPEC {
    DWORD dwTotalFrames = 0;        // avih
    DWORD dwLength = 0;             // strh of the video stream
    FOURCC fccHandler = 0;
    std::vector<BYTE> format;       // strf of the video stream
    bool fVideoStream = true;
    bool fAudioStream = false;
    bool fAudioFirst = false;       // audio stream header before the video one
    DWORD cbStrhExtra = 0;          // bytes appended to the video stream header
    bool fHdrl = true, fAvih = true, fMovi = true, fIdx1 = true;
    bool fAbsoluteIndex = false;    // idx1 offsets from the file start
    bool fIndexByStream = false;    // idx1 lists one stream after another, as Wine's avifil32 does
    bool fIndexRecLists = false;    // idx1 lists each "rec " list too, before its chunks
    std::vector<AVIFRAME> chunks;   // the contents of movi, in order
    std::vector<BYTE> afterIdx1;    // bytes after the index chunk
    // OpenDML: movi data that a RIFF holds before the next ("AVIX") begins;
    // the video stream gets a super index over a standard index closing
    // each movi list, "odml" counts every frame, idx1 the first RIFF's.
    DWORD cbRiffLimit = 0;
    bool fStdIndexAfterMovi = false;  // each AVIX RIFF's standard index after its movi list
    std::vector<std::vector<BYTE>> extraIndex;  // raw 16-byte entries appended to idx1
};

// A BITMAPINFOHEADER with the given fields, followed by extra bytes.
std::vector<BYTE> MakeFormat(LONG lWidth, LONG lHeight, WORD wBits, DWORD dwCompression,
                             const std::vector<BYTE> &extra = std::vector<BYTE>(), DWORD cbImage = 0);

// A frame chunk entry.
AVIFRAME Frame(const std::string &id, const std::vector<BYTE> &data, DWORD dwFlags = AVIIF_KEYFRAME);

// The file's bytes; pChunkPositions receives the file offset of each chunk's
// header in movi, in order.
std::vector<BYTE> BuildAvi(const AVISPEC &spec, std::vector<DWORD> *pChunkPositions = NULL);

// Writes an OpenDML AVI's bytes to path with nFillers "JUNK" chunks of
// cbFiller bytes each before its second RIFF, left unwritten (a sparse
// file), the offsets of the super index and of the standard indexes past
// them moved by as much: an AVI past 4 GiB from a few kilobytes. FALSE when
// the bytes have no second RIFF or the file cannot be written.
bool WriteAviWithFiller(const std::string &path, std::vector<BYTE> bytes, unsigned long long cbFiller, int nFillers);

// Bends an OpenDML AVI's bytes into an index bomb: one standard index of
// nEntries entries appended at the end, which every entry of the video
// stream's super index lists. The indexes then claim nEntries times the
// super index's entries, far more chunks than the file holds. Returns the
// super index's entries, 0 when the bytes have no super index.
DWORD AppendIndexBomb(std::vector<BYTE> *pBytes, DWORD nEntries);
