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

std::string RelocationNoteText(const std::string &old, const std::string &newName, int fCopy, int fDeleteOld)
{
    RELOCNOTE note;
    memset(&note, 0, sizeof(note));
    snprintf(note.szOld, sizeof(note.szOld), "%s", old.c_str());
    snprintf(note.szNew, sizeof(note.szNew), "%s", newName.c_str());
    note.fCopy = fCopy != 0;
    note.fDeleteOld = fDeleteOld != 0;
    const DWORD dwShare = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    HANDLE h = CreateFileA(old.c_str(), GENERIC_READ, dwShare, NULL, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
    if (h == INVALID_HANDLE_VALUE) return "";
    DWORD dwHigh = 0;
    DWORD dwLow = GetFileSize(h, &dwHigh);
    note.ullOldSize = ((ULONGLONG)dwHigh << 32) | dwLow;
    BOOL fOk = FileIdOfHandle(h, &note.idOld) && DigestOfFile(h, 0, &note.ullOldDigest);
    CloseHandle(h);
    if (!fOk) return "";
    if (fCopy) {
        h = CreateFileA(newName.c_str(), 0, dwShare, NULL, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
        if (h != INVALID_HANDLE_VALUE) {
            note.fNewMade = FileIdOfHandle(h, &note.idNew);
            CloseHandle(h);
        }
    }
    char szText[RELOCNOTE_MAXTEXT];
    int cch = FormatRelocationNote(&note, szText);
    return cch > 0 ? std::string(szText, (size_t)cch) : "";
}

void WriteRelocationNote(const std::string &avi, const std::string &old, const std::string &newName, int fCopy,
                         int fDeleteOld)
{
    std::string text = RelocationNoteText(old, newName, fCopy, fDeleteOld);
    ASSERT_FALSE(text.empty()) << old;
    ASSERT_TRUE(WriteText(avi + ".relocating", text));
}

int RecoverForTest(AviInfo *pInfo)
{
    SHIFTREQUEST req;
    InitShiftRequest(&req);
    req.pfnOutcome = [](void *, const SHIFTOUTCOME *pOutcome) {
        if (!pOutcome->pMsg) return;
        char szText[4096];
        RenderOutcome(szText, sizeof(szText), pOutcome);
        g_aShown.push_back(SHOWNMESSAGE{szText, SPOOLSHIFT_NAME, (UINT)(MB_OK | pOutcome->uIcon)});
    };
    SHIFTRESULT res;
    InitShiftResult(&res);
    int nResult = RunRecovery(pInfo, &req, &res);
    FreeShiftResult(&res);
    return nResult;
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
