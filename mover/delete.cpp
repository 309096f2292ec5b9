// Deleting reference files of the loaded AVI: the selected ones, or every
// listed one together with the AVI. Only reference files go (see
// ConfirmOwnRefFiles), and only on the say of a detection that read every
// frame of a file read whole. With every file, the AVI goes first: a
// deletion cut short then leaves no AVI naming files that are gone.
#include "mover/shift.h"

#include "mover/message.h"
#include "scaffold/paths.h"

#include <stdio.h>
#include <stdlib.h>

void DeleteRefFiles(AviInfo *pInfo)
{
    if (g_fShiftBusy) return;
    g_fShiftBusy = 1;
    const REFLISTUI &list = g_ShiftUi.list;
    int n = list.pfnGetCount ? list.pfnGetCount() : 0;
    int nSelected = 0;
    for (int i = 0; i < n; i++) nSelected += list.pfnIsSelected(i) ? 1 : 0;
    BOOL fAll;
    if (nSelected > 0) {
        int nAnswer = ShowShiftMessageM(MB_YESNOCANCEL | MB_ICONQUESTION, &MSG_DELETE_ALL_OR_SELECTED, pInfo->szAviFile);
        if (nAnswer != IDYES && nAnswer != IDNO) {
            g_fShiftBusy = 0;
            return;
        }
        fAll = nAnswer == IDYES;
    } else {
        if (ShowShiftMessageM(MB_OKCANCEL | MB_ICONQUESTION, n > 0 ? &MSG_DELETE_ALL_AND_AVI : &MSG_DELETE_AVI,
                              pInfo->szAviFile) != IDOK) {
            g_fShiftBusy = 0;
            return;
        }
        fAll = TRUE;
    }
    // The files that are to go, each checked before any goes.
    int *aiEntries = (int *)calloc((size_t)n + 1, sizeof(int));
    int nEntries = 0;
    for (int i = 0; aiEntries && i < n; i++)
        if (fAll || list.pfnIsSelected(i)) aiEntries[nEntries++] = i;
    BOOL fAllowed = aiEntries && MayChangeRefFiles(pInfo) && ConfirmOwnRefFiles(aiEntries, nEntries);
    if (!aiEntries) ShowShiftMessageM(MB_OK | MB_ICONERROR, &MSG_NO_MEMORY);
    free(aiEntries);
    if (!fAllowed) {
        g_fShiftBusy = 0;
        return;
    }
    static const int s_aOff[] = {IDC_SHIFT_FRAMESCROLL, IDC_SHIFT_CLOSE, IDC_SHIFT_BROWSEAVI, IDC_SHIFT_REFLIST,
                                 IDC_SHIFT_DETECT,      IDC_SHIFT_DELETE, IDC_SHIFT_MOVE,     IDC_SHIFT_BROWSEBASE};
    for (int nId : s_aOff) ShiftEnable(nId, FALSE);
    // Spoolcap lets go of the files it reads.
    CloseFrameStream(pInfo);
    OpenFrameCodec(pInfo, FALSE);
    BOOL fOk = TRUE;
    if (fAll) {
        CHAR szAvi[sizeof(pInfo->szAviFile)];
        snprintf(szAvi, sizeof(szAvi), "%s", pInfo->szAviFile);
        LoadAvi(pInfo, FALSE);
        if (!DeleteFileA(szAvi) || !FlushFolderOf(szAvi)) {
            ShowShiftMessageM(MB_OK | MB_ICONERROR, &MSG_AVI_NOT_DELETED, szAvi);
            fOk = FALSE;
        }
    }
    for (int i = 0; i < n && fOk; i++) {
        CHAR szName[MAX_PATH];
        if (!list.pfnGetText(i, szName) || !FileExists(szName)) continue;
        if (!fAll && !list.pfnIsSelected(i)) continue;
        if (!DeleteFileA(szName)) {
            ShowShiftMessageM(MB_OK | MB_ICONERROR, &MSG_REF_NOT_DELETED, szName);
            fOk = FALSE;
        } else if (!fAll) {
            list.pfnSetSelected(i, FALSE);
        }
    }
    if (fAll && fOk) {
        if (g_ShiftUi.pfnResetWindow) g_ShiftUi.pfnResetWindow();
    } else if (!fAll) {
        OpenFrameCodec(pInfo, TRUE);
        static const int s_aOn[] = {IDC_SHIFT_FRAMESCROLL, IDC_SHIFT_REFLIST, IDC_SHIFT_MOVE,
                                    IDC_SHIFT_BROWSEBASE,  IDC_SHIFT_DETECT,  IDC_SHIFT_DELETE, IDC_SHIFT_BROWSEAVI};
        for (int nId : s_aOn) ShiftEnable(nId, TRUE);
        ShowSelectedSize(pInfo);
        ShiftEnable(IDC_SHIFT_CLOSE, TRUE);
        if (g_ShiftUi.pfnFocus) g_ShiftUi.pfnFocus(IDC_SHIFT_CLOSE);
    } else {
        ShiftEnable(IDC_SHIFT_CLOSE, TRUE);
        if (g_ShiftUi.pfnFocus) g_ShiftUi.pfnFocus(IDC_SHIFT_CLOSE);
    }
    g_fShiftBusy = 0;
}
