#include "tests/salvage_fixture.h"

#include "tests/dibheader.h"
#include "tests/samplecodec/samplecodec.h"

#include <algorithm>
#include <stdio.h>
#include <string.h>

UIRECORD g_ui;
FAKECOMBO g_aCombo[4];

namespace {

#define SPOOL_FOURCC "SPLC"

FAKECOMBO *Fake(void *pCtx) { return static_cast<FAKECOMBO *>(pCtx); }

bool SameText(const std::string &a, const char *psz, bool fExact)
{
    size_t cch = strlen(psz);
    if (fExact ? a.size() != cch : a.size() < cch) return false;
    return _strnicmp(a.c_str(), psz, cch) == 0;
}

int FakeCount(void *pCtx) { return (int)Fake(pCtx)->items.size(); }
int FakeGetText(void *pCtx, int i, LPSTR psz, int cb)
{
    FAKECOMBO *p = Fake(pCtx);
    if (i < 0 || i >= (int)p->items.size()) return -1;
    snprintf(psz, (size_t)cb, "%s", p->items[(size_t)i].c_str());
    return (int)p->items[(size_t)i].size();
}
int FakeFind(void *pCtx, int iStart, LPCSTR psz, BOOL fExact)
{
    FAKECOMBO *p = Fake(pCtx);
    int n = (int)p->items.size();
    for (int k = 1; k <= n; k++) {
        int i = (iStart + k) % n;
        if (SameText(p->items[(size_t)i], psz, fExact != FALSE)) return i;
    }
    return CB_ERR;
}
int FakeAdd(void *pCtx, LPCSTR psz)
{
    FAKECOMBO *p = Fake(pCtx);
    size_t at = p->items.size();
    if (p->fSorted) {
        at = 0;
        while (at < p->items.size() && _stricmp(p->items[at].c_str(), psz) <= 0) at++;
    }
    p->items.insert(p->items.begin() + (long)at, psz);
    if (p->iSel >= (int)at) p->iSel++;
    return (int)at;
}
void FakeDelete(void *pCtx, int i)
{
    FAKECOMBO *p = Fake(pCtx);
    if (i < 0 || i >= (int)p->items.size()) return;
    p->items.erase(p->items.begin() + i);
    if (p->iSel == i) p->iSel = -1;
    else if (p->iSel > i) p->iSel--;
}
void FakeReset(void *pCtx)
{
    Fake(pCtx)->items.clear();
    Fake(pCtx)->iSel = -1;
}
void FakeSetSel(void *pCtx, int i)
{
    FAKECOMBO *p = Fake(pCtx);
    p->iSel = (i >= 0 && i < (int)p->items.size()) ? i : -1;
    if (p->iSel >= 0) p->edit = p->items[(size_t)i];
}
int FakeGetSel(void *pCtx) { return Fake(pCtx)->iSel; }
void FakeGetEdit(void *pCtx, LPSTR psz, int cb) { snprintf(psz, (size_t)cb, "%s", Fake(pCtx)->edit.c_str()); }
void FakeSetEdit(void *pCtx, LPCSTR psz)
{
    Fake(pCtx)->edit = psz;
    Fake(pCtx)->iSel = -1;
}
DWORD FakeGetEditSel(void *pCtx) { return Fake(pCtx)->dwEditSel; }
void FakeSetEditSel(void *pCtx, DWORD dwSel) { Fake(pCtx)->dwEditSel = dwSel; }

int RecordShown(LPCSTR pszText, LPCSTR pszCaption, UINT uType)
{
    g_ui.shown.push_back(SHOWN{pszText, pszCaption, uType});
    return IDOK;
}

const COMBOLIST *GetCombo(int nId)
{
    static const int s_aIds[] = {IDC_CODEC, IDC_WIDTH, IDC_HEIGHT, IDC_FRAMERATE};
    for (int i = 0; i < 4; i++)
        if (s_aIds[i] == nId) return &g_aCombo[i].list;
    return NULL;
}

void InstallRecorders()
{
    memset(&g_SalvageUi, 0, sizeof(g_SalvageUi));
    g_SalvageUi.pfnSetTitle = [](LPCSTR psz) { g_ui.title = psz; };
    g_SalvageUi.pfnSetItemText = [](int nId, LPCSTR psz) { g_ui.texts[nId] = psz; };
    g_SalvageUi.pfnEnableItem = [](int nId, BOOL f) { g_ui.enabled[nId] = f != FALSE; };
    g_SalvageUi.pfnShowItem = [](int nId, BOOL f) { g_ui.visible[nId] = f != FALSE; };
    g_SalvageUi.pfnPumpMessage = []() {
        g_ui.nPumps++;
        if (g_ui.onPump) g_ui.onPump(g_ui.nPumps);
    };
    g_SalvageUi.pfnPostNotify = [](int nId, UINT uCode) { g_ui.posted.push_back(std::make_pair(nId, uCode)); };
    g_SalvageUi.pfnSetFrameScroll = [](BOOL fRange, DWORD nMax, DWORD nPos) {
        if (fRange) g_ui.nScrollMax = nMax;
        g_ui.nScrollPos = nPos;
    };
    g_SalvageUi.pfnGetCombo = GetCombo;
    g_SalvageUi.pfnShowPicture = [](const BYTE *pb) {
        if (!pb) {
            g_ui.nFailedPictures++;
            return;
        }
        g_ui.nPictures++;
        DWORD cbRow = ((DWORD)g_bihRgb.biWidth * 3 + 3) & ~3u;
        g_ui.lastPicture.assign(pb, pb + (size_t)cbRow * (DWORD)abs(g_bihRgb.biHeight));
    };
    g_pfnShowMendMessage = RecordShown;
}

}  // namespace

void InitFakeCombo(FAKECOMBO *pCombo, bool fSorted)
{
    *pCombo = FAKECOMBO();
    pCombo->fSorted = fSorted;
    pCombo->list = COMBOLIST{pCombo,   FakeCount,  FakeGetText, FakeFind,    FakeAdd,        FakeDelete,
                             FakeReset, FakeSetSel, FakeGetSel,  FakeGetEdit, FakeSetEdit,    FakeGetEditSel,
                             FakeSetEditSel};
}

std::vector<BYTE> MakeSalvagePicture(LONG lWidth, LONG lHeight, int nSeed)
{
    DWORD cbRow = ((DWORD)lWidth * 3 + 3) & ~3u;
    std::vector<BYTE> bits((size_t)cbRow * (DWORD)lHeight);
    uint32_t nRandom = 0x9E3779B9u * (uint32_t)(nSeed + 1);
    DWORD cbNoisy = (cbRow * (DWORD)(nSeed % 5)) / 5;
    for (DWORD y = 0; y < (DWORD)lHeight; y++) {
        for (DWORD x = 0; x < cbRow; x++) {
            nRandom = nRandom * 1664525u + 1013904223u;
            BYTE b = (BYTE)((y / 4 + (DWORD)nSeed) * 37);
            if (x < cbNoisy) b = (BYTE)(nRandom >> 24);
            bits[y * cbRow + x] = b;
        }
    }
    return bits;
}

void SalvageTest::SetUp()
{
    dir = MakeTempDir("spmend");
    ASSERT_FALSE(dir.empty());
    g_ui = UIRECORD();
    InitFakeCombo(&g_aCombo[0], false);
    for (int i = 1; i < 4; i++) InitFakeCombo(&g_aCombo[i], true);
    InstallRecorders();
    snprintf(g_szSettingsFolder, sizeof(g_szSettingsFolder), "%s", JoinPath(dir, "").c_str());
    g_szRefFile[0] = '\0';
    g_fccHandler = SAMPLE_FOURCC;
    g_fccRefHandler = 0;
    g_fHasConfig = FALSE;
    g_bihRgb.biWidth = 720;
    g_bihRgb.biHeight = 480;
    snprintf(g_szFrameRate, sizeof(g_szFrameRate), "30000/1001");
    ParseFrameRate(g_szFrameRate);
    g_szWidthHistory[0] = g_szHeightHistory[0] = g_szRateHistory[0] = '\0';

    // The sample codec as SMPL, and Spoolcap in front of another copy.
    sampleName = UniqueName("mendsmpl") + ".dll";
    ASSERT_TRUE(CopyBytes(BuiltModule("samplecodec"), JoinPath(SystemFolder(), sampleName)));
    ASSERT_TRUE(RegisterVideoCodec("SMPL", sampleName.c_str()));
    spoolName = UniqueName("mendspl");
    ASSERT_TRUE(InstallSpoolcap(SystemFolder(), spoolName + ".dll"));
    ASSERT_TRUE(RegisterVideoCodec(SPOOL_FOURCC, (spoolName + ".dll").c_str()));
    ScanRefFile(NULL, FALSE);
}

void SalvageTest::TearDown()
{
    ScanRefFile(NULL, FALSE);
    FreeSalvageBuffers();
    UnregisterVideoCodec("SMPL");
    UnregisterVideoCodec(SPOOL_FOURCC);
    DeleteFileA(JoinPath(SystemFolder(), sampleName).c_str());
    DeleteFileA(JoinPath(SystemFolder(), spoolName + ".dll").c_str());
    DeleteFileA(JoinPath(SystemFolder(), spoolName + ".dll.org").c_str());
    DeleteFileA(JoinPath(WindowsDir(), spoolName + ".ini").c_str());
    g_szSettingsFolder[0] = '\0';
    RemoveTree(dir);
}

std::string SalvageTest::Record(const char *pszBase, int nFrames, LONG lRecordWidth, LONG lRecordHeight, bool fRaw)
{
    lWidth = lRecordWidth;
    lHeight = lRecordHeight;
    std::string base = Path(pszBase);
    std::string ini = "[Spoolcap]\r\nBaseFile=" + base + "\r\nEnabled=1\r\nNoCompress=" + (fRaw ? "1" : "0") + "\r\n";
    EXPECT_TRUE(WriteText(JoinPath(WindowsDir(), spoolName + ".ini"), ini));
    pictures.clear();
    HIC hic = ICOpen(ICTYPE_VIDEO, mmioFOURCC('S', 'P', 'L', 'C'), ICMODE_COMPRESS);
    EXPECT_NE(hic, nullptr);
    if (!hic) return "";
    BITMAPINFOHEADER bihIn = MakeDibHeader(lWidth, lHeight, 24, BI_RGB, DibStride(lWidth, 24) * (DWORD)lHeight);
    BITMAPINFOHEADER bihOut;
    EXPECT_EQ(ICCompressGetFormat(hic, &bihIn, &bihOut), ICERR_OK);
    DWORD cbRoom = ICCompressGetSize(hic, &bihIn, &bihOut);
    EXPECT_EQ(ICCompressBegin(hic, &bihIn, &bihOut), ICERR_OK);
    std::vector<BYTE> output(cbRoom);
    for (int n = 0; n < nFrames; n++) {
        pictures.push_back(MakeSalvagePicture(lWidth, lHeight, n));
        DWORD dwCkid = 0, dwFlags = 0;
        bihOut.biSizeImage = cbRoom;
        DWORD dwResult = ICCompress(hic, ICCOMPRESS_KEYFRAME, &bihOut, output.data(), &bihIn, pictures.back().data(),
                                    &dwCkid, &dwFlags, n, 0, 10000, NULL, NULL);
        EXPECT_EQ(dwResult, (DWORD)ICERR_OK);
        EXPECT_EQ(bihOut.biSizeImage, 276u) << "a reference record comes back";
    }
    ICCompressEnd(hic);
    ICClose(hic);
    return base + ".000";
}

BOOL SalvageTest::Open(const std::string &path, bool fWhole)
{
    g_szRefFile[0] = '\0';
    if (g_bihRgb.biWidth != lWidth || g_bihRgb.biHeight != lHeight || !g_pbRgb) ApplyPictureSize(lWidth, lHeight);
    snprintf(g_szRefFile, sizeof(g_szRefFile), "%s", path.c_str());
    BOOL f = ScanRefFile(g_szRefFile, FALSE);
    if (f && fWhole) f = ScanRefFile(g_szRefFile, TRUE);
    return f;
}

std::string SalvageTest::OnlyMessage()
{
    if (g_ui.shown.size() != 1) {
        std::string all = "(" + std::to_string(g_ui.shown.size()) + " messages)";
        for (const SHOWN &shown : g_ui.shown) all += " [" + shown.text + "]";
        return all;
    }
    std::string text = g_ui.shown[0].text;
    std::string ref = g_szRefFile;
    for (size_t at; !ref.empty() && (at = text.find(ref)) != std::string::npos;) text.replace(at, ref.size(), "<ref>");
    std::string folder = JoinPath(dir, "");
    for (size_t at; (at = text.find(folder)) != std::string::npos;) text.replace(at, folder.size(), "<dir>");
    return text;
}
