// Writes the seed inputs of the AVI fuzz target: small AVIs of every layout
// the reader and the converter know, built byte by byte.
#include "mover/shift.h"
#include "tests/avibuilder.h"

#include <stdio.h>
#include <string.h>

#include <string>

namespace {

std::vector<BYTE> Palette(int n)
{
    std::vector<BYTE> table;
    for (int i = 0; i < n; i++) table.insert(table.end(), {(BYTE)i, (BYTE)(2 * i), (BYTE)(3 * i), 0});
    return table;
}

void WriteBytesTo(const std::string &dir, const char *pszName, const std::vector<BYTE> &bytes)
{
    std::string path = dir + "/" + pszName;
    FILE *pFile = fopen(path.c_str(), "wb");
    if (!pFile) return;
    fwrite(bytes.data(), 1, bytes.size(), pFile);
    fclose(pFile);
}

void Write(const std::string &dir, const char *pszName, const AVISPEC &spec) { WriteBytesTo(dir, pszName, BuildAvi(spec)); }

AVISPEC Clip(std::vector<BYTE> format, std::vector<std::vector<BYTE>> frames, FOURCC fccHandler = 0)
{
    AVISPEC spec;
    spec.dwTotalFrames = spec.dwLength = (DWORD)frames.size();
    spec.format = format;
    spec.fccHandler = fccHandler;
    for (const auto &frame : frames) spec.chunks.push_back(Frame("00dc", frame));
    return spec;
}

}  // namespace

int main(int argc, char **argv)
{
    std::string dir = argc > 1 ? argv[1] : ".";
    Write(dir, "rgb24.avi", Clip(MakeFormat(4, 3, 24, BI_RGB), {std::vector<BYTE>(36, 7), std::vector<BYTE>(36, 9)}));
    Write(dir, "topdown24.avi", Clip(MakeFormat(3, -2, 24, BI_RGB), {std::vector<BYTE>(24, 1)}));
    Write(dir, "pal8.avi", Clip(MakeFormat(5, 2, 8, BI_RGB, Palette(16)), {std::vector<BYTE>(16, 3)}));
    Write(dir, "pal4.avi", Clip(MakeFormat(5, 2, 4, BI_RGB, Palette(16)), {std::vector<BYTE>(8, 0x12)}));
    Write(dir, "pal1.avi", Clip(MakeFormat(9, 2, 1, BI_RGB, Palette(2)), {std::vector<BYTE>(8, 0xA5)}));
    Write(dir, "rle8.avi",
          Clip(MakeFormat(6, 4, 8, BI_RLE8, Palette(8)), {{3, 1, 0, 0, 0, 4, 1, 2, 3, 4, 0, 2, 1, 1, 2, 5, 0, 1}}));
    Write(dir, "rle4.avi", Clip(MakeFormat(6, 3, 4, BI_RLE4, Palette(16)), {{5, 0x12, 0, 0, 0, 3, 0x34, 0x50, 0, 1}}));
    Write(dir, "rgb555.avi", Clip(MakeFormat(3, 2, 16, BI_RGB), {std::vector<BYTE>(16, 0x5A)}));
    std::vector<BYTE> masks = {0, 0xF8, 0, 0, 0xE0, 7, 0, 0, 0x1F, 0, 0, 0};
    Write(dir, "fields16.avi", Clip(MakeFormat(2, 2, 16, BI_BITFIELDS, masks), {std::vector<BYTE>(8, 0xF0)}));
    std::vector<BYTE> masks32 = {0, 0, 0xFF, 0, 0, 0xFF, 0, 0, 0xFF, 0, 0, 0};
    Write(dir, "fields32.avi", Clip(MakeFormat(2, 2, 32, BI_BITFIELDS, masks32), {std::vector<BYTE>(16, 0x33)}));
    Write(dir, "argb32.avi", Clip(MakeFormat(2, 1, 32, BI_RGB), {std::vector<BYTE>(8, 0x44)}));
    AVISPEC audio = Clip(MakeFormat(2, 2, 24, BI_RGB), {std::vector<BYTE>(16, 1), std::vector<BYTE>(16, 2)});
    audio.fAudioStream = true;
    audio.chunks.insert(audio.chunks.begin(), Frame("01wb", std::vector<BYTE>(6, 0), 0));
    audio.fAbsoluteIndex = true;
    Write(dir, "audio.avi", audio);
    AVISPEC delta = Clip(MakeFormat(2, 2, 24, BI_RGB), {std::vector<BYTE>(16, 1), std::vector<BYTE>(16, 2)},
                         mmioFOURCC('S', 'M', 'P', 'L'));
    delta.chunks[1].dwIndexFlags = 0;
    Write(dir, "delta.avi", delta);
    AVISPEC rec = Clip(MakeFormat(2, 2, 24, BI_RGB), {std::vector<BYTE>(16, 1)});
    rec.chunks[0].fInRecList = true;
    Write(dir, "rec.avi", rec);
    // OpenDML of three RIFFs, with its super and standard indexes.
    AVISPEC odml = Clip(MakeFormat(2, 2, 24, BI_RGB), {std::vector<BYTE>(16, 1), std::vector<BYTE>(16, 2),
                                                      std::vector<BYTE>(16, 3), std::vector<BYTE>(16, 4)});
    odml.chunks[2].dwIndexFlags = 0;
    odml.cbRiffLimit = 30;
    Write(dir, "odml.avi", odml);
    odml.fStdIndexAfterMovi = true;
    Write(dir, "odml-after.avi", odml);
    // A super index that lists one standard index over and over: more
    // chunks claimed than the file holds.
    odml.fStdIndexAfterMovi = false;
    std::vector<BYTE> bomb = BuildAvi(odml);
    if (!AppendIndexBomb(&bomb, 2000)) return 1;
    WriteBytesTo(dir, "odml-bomb.avi", bomb);
    // Recovery notes: whole (a move, and a copy whose names hold every byte
    // value but zero), cut short, one of the earlier form and one that no
    // relocation wrote.
    RELOCNOTE move;
    memset(&move, 0, sizeof(move));
    snprintf(move.szOld, sizeof(move.szOld), "C:\\rec\\take.000");
    snprintf(move.szNew, sizeof(move.szNew), "D:\\cap.000");
    move.idOld = {0x1234, 0, 77};
    move.ullOldSize = 123456;
    move.ullOldDigest = 0x0123456789ABCDEFull;
    RELOCNOTE copy = move;
    for (int b = 1; b < 256; b++) {
        copy.szOld[b - 1] = (char)b;
        copy.szNew[b - 1] = (char)(256 - b);
    }
    copy.szOld[255] = copy.szNew[255] = '\0';
    copy.fCopy = copy.fDeleteOld = copy.fNewMade = TRUE;
    copy.idNew = {0x1234, 1, 2};
    char szWhole[RELOCNOTE_MAXTEXT], szCopy[RELOCNOTE_MAXTEXT];
    int cchWhole = FormatRelocationNote(&move, szWhole), cchCopy = FormatRelocationNote(&copy, szCopy);
    if (cchWhole <= 0 || cchCopy <= 0) return 1;
    const std::string aNotes[][2] = {
        {"note-whole", std::string(szWhole, (size_t)cchWhole)},
        {"note-every-byte", std::string(szCopy, (size_t)cchCopy)},
        {"note-torn", std::string(szWhole, (size_t)cchWhole / 2)},
        {"note-earlier", "Spoolshift relocation 1\nold=C:\\rec\\take.000\nnew=D:\\cap.000\ncopy=1\ndeleteold=1\n"},
        {"note-foreign", std::string(szWhole, (size_t)cchWhole - 4) + "copy=2\nend\n"},
    };
    for (const auto &note : aNotes) {
        FILE *pFile = fopen((dir + "/" + note[0]).c_str(), "wb");
        if (!pFile) return 1;
        fwrite(note[1].data(), 1, note[1].size(), pFile);
        fclose(pFile);
    }
    return 0;
}
