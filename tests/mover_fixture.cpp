#include "tests/mover_fixture.h"

#include "codec/refformat.h"

#include <stdio.h>
#include <string.h>

std::vector<SHOWNMESSAGE> g_aShown;

namespace {

int RecordShown(LPCSTR pszText, LPCSTR pszCaption, UINT uType)
{
    g_aShown.push_back(SHOWNMESSAGE{pszText, pszCaption, uType});
    return IDOK;
}

}  // namespace

void AviTest::SetUp()
{
    dir = MakeTempDir("spmover");
    ASSERT_FALSE(dir.empty());
    memset(&info, 0, sizeof(info));
    g_aShown.clear();
    g_pfnShowMessage = RecordShown;
    AVIFileInit();
}

void AviTest::TearDown()
{
    LoadAvi(&info, FALSE);
    AVIFileExit();
    RemoveTree(dir);
}

BOOL AviTest::LoadBytes(const std::vector<BYTE> &bytes, const char *pszName)
{
    std::string path = Path(pszName);
    EXPECT_TRUE(WriteBytes(path, bytes.data(), bytes.size()));
    return LoadFile(path);
}

BOOL AviTest::LoadFile(const std::string &path)
{
    snprintf(info.szAviFile, sizeof(info.szAviFile), "%s", path.c_str());
    return LoadAvi(&info, TRUE);
}

std::string AviTest::OnlyMessage()
{
    if (g_aShown.size() != 1) return "(" + std::to_string(g_aShown.size()) + " messages)";
    std::string text = g_aShown[0].text;
    for (size_t at; info.szAviFile[0] && (at = text.find(info.szAviFile)) != std::string::npos;)
        text.replace(at, strlen(info.szAviFile), "<path>");
    return text;
}

std::string Row(const BYTE *pPicture, LONG lWidth, LONG lRow)
{
    DWORD cbStride = ((DWORD)lWidth * 3 + 3) & ~3u;
    std::string text;
    for (LONG x = 0; x < lWidth; x++) {
        const BYTE *p = pPicture + (size_t)lRow * cbStride + 3 * (size_t)x;
        char sz[16];
        snprintf(sz, sizeof(sz), "%s%d,%d,%d", x ? " " : "", p[0], p[1], p[2]);
        text += sz;
    }
    return text;
}

std::vector<BYTE> Bytes(std::initializer_list<int> values)
{
    std::vector<BYTE> bytes;
    for (int v : values) bytes.push_back((BYTE)v);
    return bytes;
}

std::vector<FRAMEPLACE> WriteRefFile(const std::string &path, DWORD nFrames, BYTE bFill)
{
    std::vector<BYTE> file;
    std::vector<FRAMEPLACE> frames;
    for (DWORD i = 0; i < nFrames; i++) {
        DWORD cbData = 20 + (i * 13) % 70;
        REFFRAMEHEADER header;
        FillFrameHeader(&header, cbData, ComputePadding(cbData, 0), 8, 8);
        frames.push_back(FRAMEPLACE{(DWORD)file.size(), header.dwFrameSize});
        const BYTE *p = reinterpret_cast<const BYTE *>(&header);
        file.insert(file.end(), p, p + sizeof(header));
        file.insert(file.end(), header.dwDataSize + header.dwPadSize, bFill);
    }
    WriteBytes(path, file.data(), file.size());
    return frames;
}

std::vector<BYTE> RecordBytes(const std::string &name, const FRAMEPLACE &frame)
{
    REFRECORD rec;
    BuildRefRecord(&rec, 0, FALSE, frame.dwOffset, frame.dwFrameSize, name.c_str());
    const BYTE *p = reinterpret_cast<const BYTE *>(&rec);
    return std::vector<BYTE>(p, p + sizeof(rec));
}

std::vector<BYTE> BuildRecordAvi(const std::vector<std::string> &files, DWORD nFrames, FOURCC fccHandler)
{
    std::vector<std::vector<FRAMEPLACE>> places;
    for (size_t f = 0; f < files.size(); f++)
        places.push_back(WriteRefFile(files[f], nFrames / (DWORD)files.size() + 1, (BYTE)(f + 1)));
    AVISPEC spec;
    spec.fccHandler = fccHandler;
    spec.format = MakeFormat(8, 8, 24, fccHandler);
    spec.dwTotalFrames = spec.dwLength = nFrames;
    for (DWORD i = 0; i < nFrames; i++) {
        size_t f = i % files.size();
        spec.chunks.push_back(Frame("00dc", RecordBytes(files[f], places[f][i / files.size()])));
    }
    return BuildAvi(spec);
}
