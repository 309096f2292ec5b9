// Writes the seed inputs of Spoolmend's fuzz target: reference files of
// well-formed frames, one with a damaged header, one cut short, and AVIs of
// one video stream as the writer makes them.
#include "codec/refformat.h"
#include "tests/avibuilder.h"

#include <stdio.h>

#include <string>
#include <vector>

namespace {

std::vector<BYTE> RefFile(const std::vector<DWORD> &sizes)
{
    std::vector<BYTE> file;
    for (DWORD cbData : sizes) {
        REFFRAMEHEADER header;
        DWORD cbPad = ComputePadding(cbData, 10);
        FillFrameHeader(&header, cbData, cbPad, 16, 8);
        const BYTE *p = reinterpret_cast<const BYTE *>(&header);
        file.insert(file.end(), p, p + sizeof(header));
        for (DWORD i = 0; i < cbData + cbPad; i++) file.push_back((BYTE)(i * 5 + cbData));
    }
    return file;
}

void Save(const std::string &dir, const char *pszName, const std::vector<BYTE> &bytes)
{
    FILE *pFile = fopen((dir + "/" + pszName).c_str(), "wb");
    if (!pFile) return;
    if (!bytes.empty()) fwrite(bytes.data(), 1, bytes.size(), pFile);
    fclose(pFile);
}

}  // namespace

int main(int argc, char **argv)
{
    if (argc < 2) return 2;
    std::string dir = argv[1];
    Save(dir, "one.000", RefFile({384}));
    Save(dir, "five.000", RefFile({384, 100, 7, 0, 250}));
    std::vector<BYTE> damaged = RefFile({64, 64, 64});
    damaged[damaged.size() / 2] ^= 0x40;
    Save(dir, "damaged.000", damaged);
    std::vector<BYTE> cut = RefFile({64, 64});
    cut.resize(cut.size() - 3);
    Save(dir, "cut.000", cut);
    AVISPEC spec;
    spec.fccHandler = mmioFOURCC('S', 'M', 'P', 'L');
    spec.format = MakeFormat(16, 8, 24, mmioFOURCC('S', 'M', 'P', 'L'), std::vector<BYTE>(4, 1));
    spec.dwTotalFrames = spec.dwLength = 1;
    spec.chunks.push_back(Frame("00db", std::vector<BYTE>(276, 0)));
    Save(dir, "settings.avi", BuildAvi(spec));
    spec.fAudioStream = true;
    spec.fAudioFirst = true;
    Save(dir, "audiofirst.avi", BuildAvi(spec));
    return 0;
}
