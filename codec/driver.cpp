// The driver's entry points: process attach and detach, which bind the
// wrapped codec, and DriverProc, which passes every message on to it except
// those that Spoolcap handles or wraps itself.
#include "codec/spoolcap.h"

#include "scaffold/paths.h"

#include <stdio.h>
#include <string.h>

HMODULE g_hModule = NULL;
HMODULE g_hWrapped = NULL;
DRIVERPROC g_pfnWrappedProc = NULL;
CHAR g_szModuleName[MAX_PATH];
CONFIGCONTEXT *g_pConfig = NULL;
extern "C" __attribute__((used)) const char g_szSpoolcapMark[] = SPOOLCAP_MARK;

BOOL AttachProcess(HMODULE hModule)
{
    g_hModule = hModule;
    CHAR szPath[MAX_PATH];
    DWORD cchPath = GetModuleFileNameA(hModule, szPath, sizeof(szPath));
    if (cchPath == 0 || cchPath >= sizeof(szPath)) return FALSE;
    snprintf(g_szModuleName, sizeof(g_szModuleName), "%s", GetFileNamePart(szPath));
    if (!DeriveIniFileName(g_szModuleName, g_szIniFile, sizeof(g_szIniFile))) return FALSE;

    // The wrapped codec is the library of our own file name with ".org"
    // appended, in our own folder: never one that the library search order
    // would find first elsewhere (the host program's folder, say).
    CHAR szWrapped[MAX_PATH];
    int cchWrapped = snprintf(szWrapped, sizeof(szWrapped), "%s.org", szPath);
    if (cchWrapped < 0 || (size_t)cchWrapped >= sizeof(szWrapped)) return FALSE;
    g_hWrapped = LoadLibraryA(szWrapped);
    if (!g_hWrapped) return FALSE;
    g_pfnWrappedProc = ProcAs<DRIVERPROC>(GetProcAddress(g_hWrapped, "DriverProc"));
    if (!g_pfnWrappedProc) {
        FreeLibrary(g_hWrapped);
        g_hWrapped = NULL;
        return FALSE;
    }
    InitInstanceList();
    LoadSettings();
    return TRUE;
}

void DetachProcess(BOOL fProcessEnding)
{
    // At the end of the process the platform unloads every library itself.
    if (g_hWrapped && !fProcessEnding) FreeLibrary(g_hWrapped);
    g_hWrapped = NULL;
    g_pfnWrappedProc = NULL;
    ReleaseAllInstances(fProcessEnding);
    if (!fProcessEnding) DeleteInstanceList();
}

LRESULT CallWrapped(DWORD_PTR dwDriverId, HDRVR hDriver, UINT uMsg, LPARAM lParam1, LPARAM lParam2)
{
    if (!g_pfnWrappedProc) return 0;
    return g_pfnWrappedProc(dwDriverId, hDriver, uMsg, lParam1, lParam2);
}

namespace {

// Both write files of a run go, so that every run starts new reference files
// and ends with every frame on disk.
void EndCompressionRun(CODECINSTANCE *pInst)
{
    pInst->iWriteSeq = 0;
    for (int iSeq = 0; iSeq < 2; iSeq++) {
        CloseWriteFile(pInst, iSeq, TRUE);
        // A background write that failed at the end of a run is not reported
        // in the next one; but the next run writes directly until a frame is
        // written again, so that a disk that stays full loses no frame whose
        // record the host receives.
        IOWORKER *pWriter = &pInst->aWorker[WORKER_WRITE0 + iSeq];
        if (pWriter->nState.load() == WORKER_FAILED) pInst->fWriteDirect[iSeq] = TRUE;
        pWriter->nState.store(WORKER_IDLE);
    }
}

}  // namespace

MODULE_EXPORT BOOL WINAPI DllMain(HINSTANCE hInstance, DWORD dwReason, LPVOID lpReserved)
{
    switch (dwReason) {
    case DLL_PROCESS_ATTACH: return AttachProcess((HMODULE)hInstance);
    case DLL_PROCESS_DETACH: DetachProcess(lpReserved != NULL); return TRUE;
    default: return TRUE;
    }
}

MODULE_EXPORT LRESULT WINAPI DriverProc(DWORD_PTR dwDriverId, HDRVR hDriver, UINT uMsg, LPARAM lParam1,
                                        LPARAM lParam2)
{
    switch (uMsg) {
    case DRV_OPEN: {
        LRESULT lResult = CallWrapped(dwDriverId, hDriver, uMsg, lParam1, lParam2);
        // The wrapped codec's answer is the id that the host passes from now on.
        AddInstance(lResult ? (DWORD_PTR)lResult : dwDriverId);
        return lResult;
    }
    case DRV_CLOSE: {
        LRESULT lResult = CallWrapped(dwDriverId, hDriver, uMsg, lParam1, lParam2);
        ReleaseInstance(dwDriverId);
        return lResult;
    }
    case ICM_COMPRESS_BEGIN:
        if (g_Settings.fEnabled) {
            CODECINSTANCE *pInst = FindInstance(dwDriverId);
            if (!pInst) return ICERR_BADHANDLE;
            EndCompressionRun(pInst);
        }
        return CallWrapped(dwDriverId, hDriver, uMsg, lParam1, lParam2);
    case ICM_COMPRESS_GET_SIZE: return CompressGetSize(dwDriverId, hDriver, lParam1, lParam2);
    case ICM_COMPRESS: return CompressFrame(dwDriverId, hDriver, reinterpret_cast<ICCOMPRESS *>(lParam1), lParam2);
    case ICM_DECOMPRESS:
        return DecompressFrame(dwDriverId, hDriver, reinterpret_cast<ICDECOMPRESS *>(lParam1), lParam2);
    case ICM_COMPRESS_END:
        // Also with reference writing turned off during the run: the frames
        // written before are on the disk when the run ends.
        if (CODECINSTANCE *pInst = FindInstance(dwDriverId)) EndCompressionRun(pInst);
        return CallWrapped(dwDriverId, hDriver, uMsg, lParam1, lParam2);
    case ICM_DECOMPRESS_END: {
        LRESULT lResult = CallWrapped(dwDriverId, hDriver, uMsg, lParam1, lParam2);
        if (CODECINSTANCE *pInst = FindInstance(dwDriverId)) {
            CloseReadFile(pInst, 0, FALSE);
            CloseReadFile(pInst, 1, FALSE);
        }
        return lResult;
    }
    case ICM_CONFIGURE: {
        // Never forwarded: the host asks whether a dialog exists (there is
        // one), or opens it.
        // The query is -1 in lParam1 (of whichever width the host's headers
        // gave it) or the query flag in lParam2.
        if ((DWORD)lParam1 == 0xFFFFFFFFu || (lParam2 & ICMF_CONFIGURE_QUERY)) return ICERR_OK;
        CONFIGCONTEXT context = {dwDriverId, hDriver, uMsg, lParam1, lParam2};
        return ShowConfigDialog(&context);
    }
    default: return CallWrapped(dwDriverId, hDriver, uMsg, lParam1, lParam2);
    }
}
