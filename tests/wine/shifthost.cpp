// Relocates the reference files of an AVI without a window, for the
// integration tests under Wine and the demo: loads the AVI (finishing a
// relocation cut short), detects its reference files and gives every one a
// new name from a new base, with Spoolshift's engine.
//
//   shifthost AVI NEWBASE [delete-old] [abort-after=N]
//
// "delete-old" deletes each old file after a copy to another drive;
// "abort-after=N" presses abort at the Nth message pump of the relocation. The files found and
// their new names are printed. Exit code 0 when every file was relocated,
// 1 when not, 2 on bad usage.
#include "mover/message.h"
#include "mover/shift.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

namespace {

std::vector<std::string> g_names;
std::vector<bool> g_selected;
bool g_fDeleteOld;
std::string g_base;
int g_nAbortAt, g_nPumps;
bool g_fRelocating;  // pumps are counted only while files are relocated

int PrintMessage(LPCSTR pszText, LPCSTR pszCaption, UINT)
{
    printf("%s: %s\n", pszCaption, pszText);
    return IDOK;
}

void InstallList()
{
    g_ShiftUi.list.pfnGetCount = []() { return (int)g_names.size(); };
    g_ShiftUi.list.pfnGetText = [](int i, LPSTR psz) {
        if (i < 0 || i >= (int)g_names.size()) return FALSE;
        snprintf(psz, MAX_PATH, "%s", g_names[(size_t)i].c_str());
        return TRUE;
    };
    g_ShiftUi.list.pfnIsSelected = [](int i) { return (BOOL)(i >= 0 && i < (int)g_selected.size() && g_selected[(size_t)i]); };
    g_ShiftUi.list.pfnSetSelected = [](int i, BOOL f) { g_selected[(size_t)i] = f != FALSE; };
    g_ShiftUi.list.pfnInsert = [](int i, LPCSTR psz) {
        size_t at = i < 0 || i > (int)g_names.size() ? g_names.size() : (size_t)i;
        g_names.insert(g_names.begin() + (long)at, psz);
        g_selected.insert(g_selected.begin() + (long)at, false);
    };
    g_ShiftUi.list.pfnDelete = [](int i) {
        g_names.erase(g_names.begin() + i);
        g_selected.erase(g_selected.begin() + i);
    };
    g_ShiftUi.list.pfnReset = []() {
        g_names.clear();
        g_selected.clear();
    };
    g_ShiftUi.pfnGetItemText = [](int, LPSTR psz) { snprintf(psz, MAX_PATH, "%s", g_base.c_str()); };
    g_ShiftUi.pfnIsChecked = [](int) { return (BOOL)g_fDeleteOld; };
    g_ShiftUi.pfnPumpMessage = []() {
        if (g_fRelocating && g_nAbortAt && ++g_nPumps == g_nAbortAt) g_fShiftAbort = 1;
    };
}

}  // namespace

int main(int argc, char **argv)
{
    if (argc < 3) {
        fprintf(stderr, "usage: shifthost AVI NEWBASE [delete-old] [abort-after=N] [hold-frame]\n");
        return 2;
    }
    g_base = argv[2];
    bool fHoldFrame = false;
    for (int i = 3; i < argc; i++) {
        if (strcmp(argv[i], "delete-old") == 0) g_fDeleteOld = true;
        else if (strncmp(argv[i], "abort-after=", 12) == 0) g_nAbortAt = atoi(argv[i] + 12);
        else if (strcmp(argv[i], "hold-frame") == 0) fHoldFrame = true;
    }
    g_pfnShowMessage = PrintMessage;
    InstallList();
    AVIFileInit();
    static AviInfo info;
    snprintf(info.szAviFile, sizeof(info.szAviFile), "%s", argv[1]);
    if (!LoadAvi(&info, TRUE)) return 1;
    if (fHoldFrame) {
        // The stream library's frame decoder, as for an AVI with delta
        // frames, has a frame decoded: its own decompressor (Spoolcap)
        // holds the reference file open.
        info.fAllKey = 0;
        OpenFrameStream(&info);
        printf("frame 0 %s through the stream library\n",
               info.pGetFrame && DecodeFrame(&info, 0) ? "decoded" : "not decoded");
    }
    // A relocation cut short is finished or rolled back, as the window does
    // when the user says yes.
    {
        SHIFTREQUEST req;
        InitShiftRequest(&req);
        req.pfnOutcome = [](void *, const SHIFTOUTCOME *pOutcome) {
            char szText[4096];
            RenderOutcome(szText, sizeof(szText), pOutcome);
            if (pOutcome->pMsg) printf("Spoolshift: %s\n", szText);
        };
        SHIFTRESULT res;
        InitShiftResult(&res);
        RunRecovery(&info, &req, &res);
        FreeShiftResult(&res);
    }
    DetectRefFiles(&info);
    std::vector<std::string> before = g_names;
    for (size_t i = 0; i < g_selected.size(); i++) g_selected[i] = true;
    g_fRelocating = true;
    RelocateRefFiles(&info);
    bool fAll = !before.empty();
    for (size_t i = 0; i < g_names.size(); i++) {
        printf("%s -> %s\n", before[i].c_str(), g_names[i].c_str());
        if (g_names[i] == before[i]) fAll = false;
    }
    LoadAvi(&info, FALSE);
    FreeWorkBuffer();
    AVIFileExit();
    return fAll ? 0 : 1;
}
