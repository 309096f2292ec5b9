// Writes the seed inputs of the decompression fuzz target: reference files
// of well-formed frames and records that point at them, compressed and raw,
// with and without read-ahead and the host's input size.
#include "fuzz/decompress_input.h"

#include "codec/refformat.h"

#include <stdio.h>

#include <string>

namespace {

// A reference file of frames with the given data sizes; their offsets go to
// pOffsets.
std::vector<BYTE> RefFile(const std::vector<DWORD> &sizes, DWORD dwPadding, std::vector<DWORD> *pOffsets)
{
    std::vector<BYTE> file;
    for (DWORD cbData : sizes) {
        pOffsets->push_back((DWORD)file.size());
        REFFRAMEHEADER header;
        DWORD cbPad = dwPadding == (DWORD)-1 ? 0 : ComputePadding(cbData, dwPadding);
        FillFrameHeader(&header, cbData, cbPad, 8, 4);
        const BYTE *p = reinterpret_cast<const BYTE *>(&header);
        file.insert(file.end(), p, p + sizeof(header));
        for (DWORD i = 0; i < cbData + cbPad; i++) file.push_back((BYTE)(i * 7 + cbData));
    }
    return file;
}

void Write(const std::string &dir, const char *pszName, const std::vector<BYTE> &input)
{
    FILE *pFile = fopen((dir + "/" + pszName).c_str(), "wb");
    if (!pFile) return;
    fwrite(input.data(), 1, input.size(), pFile);
    fclose(pFile);
}

}  // namespace

int main(int argc, char **argv)
{
    std::string dir = argc > 1 ? argv[1] : ".";
    // 8 x 4 pixels of 24 bits: 96 bytes a picture.
    const BYTE bWidth = 7, bHeight = 3, bDepth = 2;
    std::vector<DWORD> offsets0, offsets1;
    std::vector<BYTE> compressed = RefFile({40, 100, 33, 96}, 10, &offsets0);
    std::vector<BYTE> raw = RefFile({96, 96, 96}, (DWORD)-1, &offsets1);
    std::vector<DECOMPRESSRECORD> inOrder, jumping, rawRecords, mixed;
    for (size_t i = 0; i < offsets0.size(); i++) {
        DWORD cbFrame = (i + 1 < offsets0.size() ? offsets0[i + 1] : (DWORD)compressed.size()) - offsets0[i];
        inOrder.push_back({offsets0[i], cbFrame, 0, 276});
    }
    jumping = {inOrder[2], inOrder[0], inOrder[3], inOrder[1], inOrder[1]};
    for (size_t i = 0; i < offsets1.size(); i++)
        rawRecords.push_back({offsets1[i], (16 + 96) | REFREC_RAW | REFREC_SECOND, 1, 276});
    mixed = {inOrder[0], rawRecords[0], {0, 56, 2, 276}, inOrder[1], {0, 56, 3, 276}, rawRecords[1],
             {offsets0[1], 116, 0x80, 276}, {offsets0[2], 64, 0x40, 276}, {offsets0[0], 56, 0, 20}};
    for (BYTE bSwitches = 0; bSwitches < 4; bSwitches++) {
        char szName[32];
        snprintf(szName, sizeof(szName), "in-order-%d", bSwitches);
        Write(dir, szName, BuildDecompressInput(bSwitches, bWidth, bHeight, bDepth, compressed, raw, inOrder));
        snprintf(szName, sizeof(szName), "jumping-%d", bSwitches);
        Write(dir, szName, BuildDecompressInput(bSwitches, bWidth, bHeight, bDepth, compressed, raw, jumping));
        snprintf(szName, sizeof(szName), "raw-%d", bSwitches);
        Write(dir, szName, BuildDecompressInput(bSwitches, bWidth, bHeight, bDepth, compressed, raw, rawRecords));
        snprintf(szName, sizeof(szName), "mixed-%d", bSwitches);
        Write(dir, szName, BuildDecompressInput(bSwitches, bWidth, bHeight, bDepth, compressed, raw, mixed));
    }
    return 0;
}
