// The Video for Windows host side of the POSIX stand-in.
//
// Codecs are listed as "vidc.xxxx=library" in the [drivers32] section of
// system.ini in the Windows directory, loaded with LoadLibraryA and driven
// with the driver manager's message sequence: the first open of a library
// sends DRV_LOAD (which must answer DRV_SUCCESS) and DRV_ENABLE, then opens a
// session instance (DRV_OPEN with no ICOPEN) and the real instance (DRV_OPEN
// with the ICOPEN); each close sends DRV_CLOSE, and the close that leaves
// only the session instance closes it too and sends DRV_DISABLE and DRV_FREE.
// Messages reach a codec with the id that its DRV_OPEN returned. Drivers
// registered with ICInstall(ICINSTALL_FUNCTION) are opened in place of any
// listed codec of the same FOURCC.
#include "internal.h"

#include <ctype.h>
#include <stdlib.h>

#include <mutex>
#include <string>
#include <vector>

namespace {

const DWORD HIC_MAGIC = 0x48494321;  // 'HIC!'

// One open library and its session instance.
struct DRIVERMODULE {
    HMODULE hModule;
    DRIVERPROC pfnProc;
    int nOpen;  // open codec handles of this library
    DWORD_PTR dwSessionId;
    HDRVR hSessionDrv;
};

struct CODECHANDLE {
    DWORD dwMagic;
    DRIVERPROC pfnProc;
    DWORD_PTR dwDriverId;
    DWORD fccType;
    DWORD fccHandler;
    DRIVERMODULE *pModule;  // none for a driver function
};

struct INSTALLEDPROC {
    DWORD fccType;
    DWORD fccHandler;
    DRIVERPROC pfnProc;
};

std::recursive_mutex &VfwLock()
{
    static std::recursive_mutex *pLock = new std::recursive_mutex;
    return *pLock;
}

std::vector<DRIVERMODULE *> &DriverModules()
{
    static std::vector<DRIVERMODULE *> *pList = new std::vector<DRIVERMODULE *>;
    return *pList;
}

std::vector<INSTALLEDPROC> &InstalledProcs()
{
    static std::vector<INSTALLEDPROC> *pList = new std::vector<INSTALLEDPROC>;
    return *pList;
}

std::vector<CODECHANDLE *> &CodecHandles()
{
    static std::vector<CODECHANDLE *> *pList = new std::vector<CODECHANDLE *>;
    return *pList;
}

bool SameFourcc(DWORD a, DWORD b)
{
    for (int i = 0; i < 4; i++) {
        if (tolower((int)((a >> (8 * i)) & 0xFF)) != tolower((int)((b >> (8 * i)) & 0xFF))) return false;
    }
    return true;
}

DWORD FourccFromText(const char *psz)
{
    DWORD fcc = 0;
    for (int i = 0; i < 4 && psz[i]; i++) fcc |= (DWORD)(BYTE)psz[i] << (8 * i);
    return fcc;
}

// The "type.xxxx=library" entries of [drivers32] for one codec type, in file
// order: (FOURCC, library).
std::vector<std::pair<DWORD, std::string>> ListDrivers(DWORD fccType)
{
    std::vector<std::pair<DWORD, std::string>> list;
    std::vector<char> buf(32768);
    DWORD n = GetPrivateProfileSectionA("drivers32", buf.data(), (DWORD)buf.size(), "system.ini");
    for (const char *p = buf.data(); p < buf.data() + n && *p; p += strlen(p) + 1) {
        if (strlen(p) < 10 || p[4] != '.' || p[9] != '=') continue;
        if (!SameFourcc(FourccFromText(p), fccType)) continue;
        std::string library(p + 10);
        size_t blank = library.find(' ');
        if (blank != std::string::npos) library.resize(blank);
        list.emplace_back(FourccFromText(p + 5), library);
    }
    return list;
}

CODECHANDLE *CodecFromHandle(HIC hic)
{
    for (CODECHANDLE *pCodec : CodecHandles())
        if ((HIC)pCodec == hic && pCodec->dwMagic == HIC_MAGIC) return pCodec;
    return NULL;
}

LRESULT Send(CODECHANDLE *pCodec, UINT msg, LPARAM l1, LPARAM l2)
{
    return pCodec->pfnProc(pCodec->dwDriverId, (HDRVR)pCodec, msg, l1, l2);
}

// The codec sees the type in lower case ("vidc"), however the host spelt it.
DWORD LowerFourcc(DWORD fcc)
{
    DWORD dwLower = 0;
    for (int i = 0; i < 4; i++) dwLower |= (DWORD)(BYTE)tolower((int)((fcc >> (8 * i)) & 0xFF)) << (8 * i);
    return dwLower;
}

void FillIcopen(ICOPEN *pOpen, DWORD fccType, DWORD fccHandler, UINT wMode)
{
    memset(pOpen, 0, sizeof(*pOpen));
    pOpen->dwSize = sizeof(ICOPEN);
    pOpen->fccType = LowerFourcc(fccType);
    pOpen->fccHandler = fccHandler;
    pOpen->dwVersion = ICVERSION;
    pOpen->dwFlags = wMode;
}

HIC OpenFunctionDriver(DWORD fccType, DWORD fccHandler, UINT wMode, DRIVERPROC pfnProc)
{
    CODECHANDLE *pCodec = new CODECHANDLE{HIC_MAGIC, pfnProc, 0, fccType, fccHandler, NULL};
    if (Send(pCodec, DRV_LOAD, 0, 0) != DRV_SUCCESS) {
        delete pCodec;
        return NULL;
    }
    Send(pCodec, DRV_ENABLE, 0, 0);
    ICOPEN icopen;
    FillIcopen(&icopen, fccType, fccHandler, wMode);
    pCodec->dwDriverId = (DWORD_PTR)Send(pCodec, DRV_OPEN, 0, (LPARAM)&icopen);
    if (pCodec->dwDriverId == 0) {
        delete pCodec;
        return NULL;
    }
    CodecHandles().push_back(pCodec);
    return (HIC)pCodec;
}

HIC OpenLibraryDriver(DWORD fccType, DWORD fccHandler, UINT wMode, const std::string &library)
{
    HMODULE hModule = LoadLibraryA(library.c_str());
    if (!hModule) return NULL;
    DRIVERPROC pfnProc = ProcAs<DRIVERPROC>(GetProcAddress(hModule, "DriverProc"));
    if (!pfnProc) {
        FreeLibrary(hModule);
        return NULL;
    }
    DRIVERMODULE *pModule = NULL;
    for (DRIVERMODULE *pEach : DriverModules())
        if (pEach->hModule == hModule) pModule = pEach;
    bool fFirst = pModule == NULL;
    if (fFirst) {
        pModule = new DRIVERMODULE{hModule, pfnProc, 0, 0, NULL};
        // The session instance has a driver handle of its own.
        pModule->hSessionDrv = (HDRVR)pModule;
        if (pfnProc(0, pModule->hSessionDrv, DRV_LOAD, 0, 0) != DRV_SUCCESS) {
            delete pModule;
            FreeLibrary(hModule);
            return NULL;
        }
        pfnProc(0, pModule->hSessionDrv, DRV_ENABLE, 0, 0);
        pModule->dwSessionId = (DWORD_PTR)pfnProc(0, pModule->hSessionDrv, DRV_OPEN, 0, 0);
        if (pModule->dwSessionId == 0) {
            pfnProc(0, pModule->hSessionDrv, DRV_DISABLE, 0, 0);
            pfnProc(0, pModule->hSessionDrv, DRV_FREE, 0, 0);
            delete pModule;
            FreeLibrary(hModule);
            return NULL;
        }
        // The session instance holds a reference to the library of its own.
        LoadLibraryA(library.c_str());
        DriverModules().push_back(pModule);
    }
    CODECHANDLE *pCodec = new CODECHANDLE{HIC_MAGIC, pfnProc, 0, fccType, fccHandler, pModule};
    ICOPEN icopen;
    FillIcopen(&icopen, fccType, fccHandler, wMode);
    pCodec->dwDriverId = (DWORD_PTR)Send(pCodec, DRV_OPEN, 0, (LPARAM)&icopen);
    if (pCodec->dwDriverId == 0) {
        delete pCodec;
        if (pModule->nOpen == 0) {
            // Nothing else uses the library: undo its session.
            pfnProc(pModule->dwSessionId, pModule->hSessionDrv, DRV_CLOSE, 0, 0);
            pfnProc(pModule->dwSessionId, pModule->hSessionDrv, DRV_DISABLE, 0, 0);
            pfnProc(pModule->dwSessionId, pModule->hSessionDrv, DRV_FREE, 0, 0);
            for (size_t i = 0; i < DriverModules().size(); i++)
                if (DriverModules()[i] == pModule) DriverModules().erase(DriverModules().begin() + (long)i);
            delete pModule;
            FreeLibrary(hModule);
        }
        FreeLibrary(hModule);
        return NULL;
    }
    pModule->nOpen++;
    CodecHandles().push_back(pCodec);
    return (HIC)pCodec;
}

}  // namespace

extern "C" LRESULT WINAPI DefDriverProc(DWORD_PTR, HDRVR, UINT uMsg, LPARAM, LPARAM)
{
    switch (uMsg) {
    case DRV_LOAD:
    case DRV_FREE:
    case DRV_OPEN:
    case DRV_CLOSE:
    case DRV_ENABLE:
    case DRV_DISABLE: return 1;
    case DRV_INSTALL:
    case DRV_REMOVE: return DRV_OK;
    default: return 0;
    }
}

extern "C" BOOL VFWAPI ICInfo(DWORD fccType, DWORD fccHandler, ICINFO *lpicinfo)
{
    if (!lpicinfo) return FALSE;
    std::vector<std::pair<DWORD, std::string>> list = ListDrivers(fccType);
    for (size_t i = 0; i < list.size(); i++) {
        // fccHandler is either the codec's number in the list or its FOURCC.
        if (fccHandler != (DWORD)i && !SameFourcc(fccHandler, list[i].first)) continue;
        lpicinfo->fccType = fccType;
        lpicinfo->fccHandler = list[i].first;
        lpicinfo->dwFlags = 0;
        lpicinfo->dwVersion = 0;
        lpicinfo->dwVersionICM = ICVERSION;
        lpicinfo->szName[0] = 0;
        lpicinfo->szDescription[0] = 0;
        int n = MultiByteToWideChar(CP_ACP, 0, list[i].second.c_str(), -1, lpicinfo->szDriver, 128);
        if (n == 0) lpicinfo->szDriver[0] = 0;
        lpicinfo->szDriver[127] = 0;
        return TRUE;
    }
    return FALSE;
}

extern "C" BOOL VFWAPI ICInstall(DWORD fccType, DWORD fccHandler, LPARAM lParam, LPSTR, UINT wFlags)
{
    if (wFlags != ICINSTALL_FUNCTION) return FALSE;
    std::lock_guard<std::recursive_mutex> lock(VfwLock());
    for (const INSTALLEDPROC &each : InstalledProcs())
        if (SameFourcc(each.fccType, fccType) && SameFourcc(each.fccHandler, fccHandler)) return FALSE;
    InstalledProcs().push_back(INSTALLEDPROC{fccType, fccHandler, (DRIVERPROC)lParam});
    return TRUE;
}

extern "C" BOOL VFWAPI ICRemove(DWORD fccType, DWORD fccHandler, UINT)
{
    std::lock_guard<std::recursive_mutex> lock(VfwLock());
    std::vector<INSTALLEDPROC> &list = InstalledProcs();
    for (size_t i = 0; i < list.size(); i++) {
        if (SameFourcc(list[i].fccType, fccType) && SameFourcc(list[i].fccHandler, fccHandler)) {
            list.erase(list.begin() + (long)i);
            return TRUE;
        }
    }
    return FALSE;
}

extern "C" HIC VFWAPI ICOpenFunction(DWORD fccType, DWORD fccHandler, UINT wMode, DRIVERPROC lpfnHandler)
{
    std::lock_guard<std::recursive_mutex> lock(VfwLock());
    return OpenFunctionDriver(fccType, fccHandler, wMode, lpfnHandler);
}

extern "C" HIC VFWAPI ICOpen(DWORD fccType, DWORD fccHandler, UINT wMode)
{
    std::lock_guard<std::recursive_mutex> lock(VfwLock());
    for (const INSTALLEDPROC &each : InstalledProcs()) {
        if (SameFourcc(each.fccType, fccType) && SameFourcc(each.fccHandler, fccHandler))
            return OpenFunctionDriver(fccType, fccHandler, wMode, each.pfnProc);
    }
    for (const auto &entry : ListDrivers(fccType)) {
        if (SameFourcc(entry.first, fccHandler))
            return OpenLibraryDriver(fccType, fccHandler, wMode, entry.second);
    }
    return NULL;
}

extern "C" LRESULT VFWAPI ICClose(HIC hic)
{
    std::lock_guard<std::recursive_mutex> lock(VfwLock());
    CODECHANDLE *pCodec = CodecFromHandle(hic);
    if (!pCodec) return ICERR_BADHANDLE;
    std::vector<CODECHANDLE *> &handles = CodecHandles();
    for (size_t i = 0; i < handles.size(); i++)
        if (handles[i] == pCodec) handles.erase(handles.begin() + (long)i);
    Send(pCodec, DRV_CLOSE, 0, 0);
    DRIVERMODULE *pModule = pCodec->pModule;
    if (!pModule) {
        Send(pCodec, DRV_DISABLE, 0, 0);
        Send(pCodec, DRV_FREE, 0, 0);
    } else {
        HMODULE hModule = pModule->hModule;
        if (--pModule->nOpen == 0) {
            DRIVERPROC pfnProc = pModule->pfnProc;
            pfnProc(pModule->dwSessionId, pModule->hSessionDrv, DRV_CLOSE, 0, 0);
            pfnProc(pModule->dwSessionId, pModule->hSessionDrv, DRV_DISABLE, 0, 0);
            pfnProc(pModule->dwSessionId, pModule->hSessionDrv, DRV_FREE, 0, 0);
            for (size_t i = 0; i < DriverModules().size(); i++)
                if (DriverModules()[i] == pModule) DriverModules().erase(DriverModules().begin() + (long)i);
            delete pModule;
            // The session's own reference to the library.
            FreeLibrary(hModule);
        }
        FreeLibrary(hModule);
    }
    pCodec->dwMagic = 0;
    delete pCodec;
    return ICERR_OK;
}

extern "C" LRESULT VFWAPI ICSendMessage(HIC hic, UINT msg, DWORD_PTR dw1, DWORD_PTR dw2)
{
    CODECHANDLE *pCodec;
    {
        std::lock_guard<std::recursive_mutex> lock(VfwLock());
        pCodec = CodecFromHandle(hic);
    }
    if (!pCodec) return ICERR_BADHANDLE;
    return Send(pCodec, msg, (LPARAM)dw1, (LPARAM)dw2);
}

extern "C" LRESULT VFWAPI ICGetInfo(HIC hic, ICINFO *picinfo, DWORD cb)
{
    CODECHANDLE *pCodec;
    {
        std::lock_guard<std::recursive_mutex> lock(VfwLock());
        pCodec = CodecFromHandle(hic);
    }
    if (!pCodec) return ICERR_BADHANDLE;
    if (!picinfo) return ICERR_BADPARAM;
    // A codec need not fill in its driver name; the platform then takes it
    // from the list of installed codecs.
    if (cb >= sizeof(ICINFO)) picinfo->szDriver[0] = 0;
    LRESULT ret = Send(pCodec, ICM_GETINFO, (LPARAM)picinfo, (LPARAM)cb);
    if (cb >= sizeof(ICINFO) && picinfo->szDriver[0] == 0) {
        ICINFO listed;
        memset(&listed, 0, sizeof(listed));
        listed.dwSize = sizeof(listed);
        if (ICInfo(picinfo->fccType, picinfo->fccHandler, &listed))
            memcpy(picinfo->szDriver, listed.szDriver, sizeof(listed.szDriver));
    }
    return ret;
}

extern "C" DWORD VFWAPIV ICCompress(HIC hic, DWORD dwFlags, LPBITMAPINFOHEADER lpbiOutput, LPVOID lpData,
                                    LPBITMAPINFOHEADER lpbiInput, LPVOID lpBits, LPDWORD lpckid,
                                    LPDWORD lpdwFlags, LONG lFrameNum, DWORD dwFrameSize, DWORD dwQuality,
                                    LPBITMAPINFOHEADER lpbiPrev, LPVOID lpPrev)
{
    ICCOMPRESS ic;
    ic.dwFlags = dwFlags;
    ic.lpbiOutput = lpbiOutput;
    ic.lpOutput = lpData;
    ic.lpbiInput = lpbiInput;
    ic.lpInput = lpBits;
    ic.lpckid = lpckid;
    ic.lpdwFlags = lpdwFlags;
    ic.lFrameNum = lFrameNum;
    ic.dwFrameSize = dwFrameSize;
    ic.dwQuality = dwQuality;
    ic.lpbiPrev = lpbiPrev;
    ic.lpPrev = lpPrev;
    return (DWORD)ICSendMessage(hic, ICM_COMPRESS, (DWORD_PTR)&ic, sizeof(ic));
}

extern "C" DWORD VFWAPIV ICDecompress(HIC hic, DWORD dwFlags, LPBITMAPINFOHEADER lpbiFormat, LPVOID lpData,
                                      LPBITMAPINFOHEADER lpbi, LPVOID lpBits)
{
    ICDECOMPRESS id;
    id.dwFlags = dwFlags;
    id.lpbiInput = lpbiFormat;
    id.lpInput = lpData;
    id.lpbiOutput = lpbi;
    id.lpOutput = lpBits;
    id.ckid = 0;
    return (DWORD)ICSendMessage(hic, ICM_DECOMPRESS, (DWORD_PTR)&id, sizeof(id));
}
