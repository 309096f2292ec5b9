// A small Video for Windows host for the integration tests under Wine: it
// reaches the codecs through the real msvfw32, the way capture and playback
// programs do.
//
//   vfwhost list                      every installed video codec, opened
//   vfwhost info FOURCC ORGLIBRARY    ICM_GETINFO through msvfw32 equals the
//                                     wrapped library's own answer
//   vfwhost begin LIBRARY             loads LIBRARY as a driver and prints its
//                                     answer to ICM_COMPRESS_BEGIN for an
//                                     unknown instance id
//
// Exit code 0 when the check holds, 1 when it does not, 2 on bad usage.
#include "platform/win.h"

#include <stdio.h>
#include <string.h>

#include <string>

namespace {

typedef LRESULT(WINAPI *DRIVERPROCFN)(DWORD_PTR, HDRVR, UINT, LPARAM, LPARAM);

DWORD FourccFromText(const char *psz)
{
    char sz[4] = {' ', ' ', ' ', ' '};
    for (int i = 0; i < 4 && psz[i]; i++) sz[i] = psz[i];
    return mmioFOURCC(sz[0], sz[1], sz[2], sz[3]);
}

std::string FourccText(DWORD fcc)
{
    std::string text;
    for (int i = 0; i < 4; i++) {
        char c = (char)((fcc >> (8 * i)) & 0xFF);
        text += c ? c : ' ';
    }
    return text;
}

std::string Narrow(const WCHAR *pwsz)
{
    char sz[512];
    if (!WideCharToMultiByte(CP_ACP, 0, pwsz, -1, sz, sizeof(sz), NULL, NULL)) return std::string();
    return sz;
}

int List()
{
    ICINFO listed;
    for (DWORD i = 0; ICInfo(ICTYPE_VIDEO, i, &listed); i++) {
        HIC hic = ICOpen(ICTYPE_VIDEO, listed.fccHandler, ICMODE_QUERY);
        ICINFO info;
        memset(&info, 0, sizeof(info));
        std::string description = "can't open";
        std::string driver = Narrow(listed.szDriver);
        if (hic) {
            if (ICGetInfo(hic, &info, sizeof(info))) {
                description = Narrow(info.szDescription);
                driver = Narrow(info.szDriver);
            } else {
                description = "?";
            }
            ICClose(hic);
        }
        printf("%-4s  %-24s  %s\n", FourccText(listed.fccHandler).c_str(), driver.c_str(), description.c_str());
    }
    return 0;
}

int Info(const char *pszFourcc, const char *pszOrgLibrary)
{
    HIC hic = ICOpen(ICTYPE_VIDEO, FourccFromText(pszFourcc), ICMODE_QUERY);
    if (!hic) {
        printf("ICOpen of %s failed\n", pszFourcc);
        return 1;
    }
    ICINFO viaHost, direct;
    memset(&viaHost, 0xEE, sizeof(viaHost));
    memset(&direct, 0xEE, sizeof(direct));
    LRESULT lHost = ICSendMessage(hic, ICM_GETINFO, (DWORD_PTR)&viaHost, sizeof(viaHost));
    ICINFO full;
    memset(&full, 0, sizeof(full));
    LRESULT lGetInfo = ICGetInfo(hic, &full, sizeof(full));
    ICClose(hic);

    HMODULE hOrg = LoadLibraryA(pszOrgLibrary);
    if (!hOrg) {
        printf("LoadLibrary of %s failed\n", pszOrgLibrary);
        return 1;
    }
    DRIVERPROCFN pfnOrg = ProcAs<DRIVERPROCFN>(GetProcAddress(hOrg, "DriverProc"));
    LRESULT lDirect = pfnOrg ? pfnOrg(1, NULL, ICM_GETINFO, (LPARAM)&direct, sizeof(direct)) : 0;
    bool fSame = lHost == lDirect && memcmp(&viaHost, &direct, sizeof(ICINFO)) == 0;
    printf("ICM_GETINFO through msvfw32: %ld, wrapped codec: %ld, answers %s\n", (long)lHost, (long)lDirect,
           fSame ? "identical" : "DIFFERENT");
    printf("ICGetInfo: %ld, %s \"%s\" driver \"%s\"\n", (long)lGetInfo, FourccText(full.fccHandler).c_str(),
           Narrow(full.szDescription).c_str(), Narrow(full.szDriver).c_str());
    return fSame && lGetInfo == lDirect ? 0 : 1;
}

int Begin(const char *pszLibrary)
{
    HMODULE h = LoadLibraryA(pszLibrary);
    if (!h) {
        printf("LoadLibrary of %s failed (%lu)\n", pszLibrary, (unsigned long)GetLastError());
        return 1;
    }
    DRIVERPROCFN pfn = ProcAs<DRIVERPROCFN>(GetProcAddress(h, "DriverProc"));
    if (!pfn) return 1;
    LRESULT lResult = pfn(0x7777, NULL, ICM_COMPRESS_BEGIN, 0, 0);
    printf("%ld\n", (long)lResult);
    FreeLibrary(h);
    return 0;
}

}  // namespace

int main(int argc, char **argv)
{
    if (argc >= 2 && strcmp(argv[1], "list") == 0) return List();
    if (argc >= 4 && strcmp(argv[1], "info") == 0) return Info(argv[2], argv[3]);
    if (argc >= 3 && strcmp(argv[1], "begin") == 0) return Begin(argv[2]);
    fprintf(stderr, "usage: vfwhost list | info FOURCC ORGLIBRARY | begin LIBRARY\n");
    return 2;
}
