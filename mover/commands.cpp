// Spoolshift's commands as its window runs them: the buttons' controls, the
// progress texts, the reference list and the message boxes around the
// engines. The window renders what the engines return; the engines know
// nothing of it.
#include "mover/shift.h"

#include "mover/message.h"
#include "scaffold/paths.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

SHIFTUI g_ShiftUi;
volatile LONG g_fShiftBusy;
volatile LONG g_fShiftAbort;

namespace {

// What the window's side of a request keeps.
struct WINDOWRUN {
    AviInfo *pInfo;
    int nStep;
    int nShown;  // the percentage shown last, -1 for none
};

void Pump(void)
{
    if (g_ShiftUi.pfnPumpMessage) g_ShiftUi.pfnPumpMessage();
}

// The progress texts, rewritten only when the whole percentage changes;
// one pending message is dispatched at each step.
void ShowProgress(void *pv, int nStep, ULONGLONG ullDone, ULONGLONG ullTotal)
{
    WINDOWRUN *pRun = (WINDOWRUN *)pv;
    if (nStep != pRun->nStep) {
        pRun->nStep = nStep;
        pRun->nShown = -1;
    }
    int nPercent = ullTotal ? (int)((100ull * ullDone) / ullTotal) : 100;
    if (nPercent != pRun->nShown) {
        pRun->nShown = nPercent;
        CHAR sz[32];
        if (nStep == STEP_DETECT) snprintf(sz, sizeof(sz), "検出   %3d %%", nPercent);
        else if (nStep == STEP_COPY) snprintf(sz, sizeof(sz), "コピー %3ld %%", (long)nPercent);
        else snprintf(sz, sizeof(sz), "書換   %3d %%", nPercent);
        ShiftSetText(IDC_SHIFT_PROGRESS, sz);
        if (g_ShiftUi.pfnUpdate) g_ShiftUi.pfnUpdate();
    }
    Pump();
}

// One message box for each outcome that has a message.
void ShowOutcome(void *, const SHIFTOUTCOME *pOutcome)
{
    if (!pOutcome->pMsg) return;
    CHAR szText[4096];
    RenderOutcome(szText, sizeof(szText), pOutcome);
    ShowShiftMessage(szText, MB_OK | pOutcome->uIcon);
}

// The user is asked a question about files, each named: yes or no.
BOOL AskAboutFiles(const MESSAGE *pMsg, LPCSTR pszFiles)
{
    size_t cbText = strlen(pMsg->pszJapanese) + strlen(pMsg->pszEnglish) + strlen(pszFiles);
    LPSTR pszText = (LPSTR)malloc(cbText);
    if (!pszText) {
        ShowShiftMessageM(MB_OK | MB_ICONERROR, &MSG_NO_MEMORY);
        return FALSE;
    }
    RenderMessage(pszText, cbText, pMsg, pszFiles);
    BOOL fYes = ShowShiftMessage(pszText, MB_YESNO | MB_ICONWARNING | MB_DEFBUTTON2) == IDYES;
    free(pszText);
    return fYes;
}

// Whether to act on the files whose format cannot be checked.
BOOL AskForeign(void *, LPCSTR pszFiles) { return AskAboutFiles(&MSG_FOREIGN_FILES, pszFiles); }

// Whether to delete too the files that other AVIs name.
BOOL AskShared(void *, LPCSTR pszFiles) { return AskAboutFiles(&MSG_SHARED_FILES, pszFiles); }

void StartRequest(SHIFTREQUEST *pReq, WINDOWRUN *pRun, AviInfo *pInfo)
{
    InitShiftRequest(pReq);
    pRun->pInfo = pInfo;
    pRun->nStep = -1;
    pRun->nShown = -1;
    pReq->pv = pRun;
    pReq->pfnProgress = ShowProgress;
    pReq->pfnOutcome = ShowOutcome;
    pReq->pfnConfirmForeign = AskForeign;
    pReq->pfnConfirmShared = AskShared;
    pReq->pfAbort = &g_fShiftAbort;
}

// The selected items that have entries, in list order (*pn of them).
DWORD *SelectedFiles(DWORD *pn)
{
    const REFLISTUI &list = g_ShiftUi.list;
    int nItems = list.pfnGetCount ? list.pfnGetCount() : 0;
    DWORD *piFiles = (DWORD *)calloc((size_t)nItems + 1, sizeof(DWORD));
    *pn = 0;
    for (int i = 0; piFiles && i < nItems; i++)
        if (list.pfnIsSelected(i) && (DWORD)i < g_nRefFiles) piFiles[(*pn)++] = (DWORD)i;
    return piFiles;
}

void FoundFile(void *, DWORD k)
{
    LPCSTR pszName = RefFileName(k);
    if (g_ShiftUi.list.pfnInsert) g_ShiftUi.list.pfnInsert(-1, pszName);
    if (g_ShiftUi.pfnNoteNameWidth) g_ShiftUi.pfnNoteNameWidth(pszName);
}

// The file in hand: its first frame shown, its name in field 1003, its item
// out of the list until it is done.
void FileStarts(void *, DWORD k)
{
    if (g_ShiftUi.pfnShowFrame) g_ShiftUi.pfnShowFrame(g_pRefFiles[k].dwFirstFrame);
    ShiftSetText(IDC_SHIFT_CURFILE, RefFileName(k));
    if (g_ShiftUi.list.pfnDelete) g_ShiftUi.list.pfnDelete((int)k);
}

void FileEnds(void *, DWORD k, LPCSTR pszListed)
{
    ShiftSetText(IDC_SHIFT_CURFILE, "");
    if (g_ShiftUi.list.pfnInsert) g_ShiftUi.list.pfnInsert((int)k, pszListed);
    if (g_ShiftUi.pfnUpdate) g_ShiftUi.pfnUpdate();
}

BOOL StillSelected(void *, DWORD k)
{
    return g_ShiftUi.list.pfnIsSelected && g_ShiftUi.list.pfnIsSelected((int)k);
}

// In the selected files' mode, a deleted file's item is deselected.
void ShowDeletionOutcome(void *pv, const SHIFTOUTCOME *pOutcome)
{
    if (pOutcome->nOutcome == OUTCOME_DELETED && pOutcome->iFile >= 0 && g_ShiftUi.list.pfnSetSelected)
        g_ShiftUi.list.pfnSetSelected(pOutcome->iFile, FALSE);
    ShowOutcome(pv, pOutcome);
}

}  // namespace

void DetectRefFiles(AviInfo *pInfo)
{
    if (g_fShiftBusy) return;
    g_fShiftAbort = 0;
    g_fShiftBusy = 1;
    const REFLISTUI &list = g_ShiftUi.list;
    if (list.pfnReset) list.pfnReset();
    static const int s_aOff[] = {IDC_SHIFT_CLOSE, IDC_SHIFT_BROWSEAVI, IDC_SHIFT_REFLIST, IDC_SHIFT_DETECT,
                                 IDC_SHIFT_DELETE, IDC_SHIFT_MOVE};
    for (int nId : s_aOff) ShiftEnable(nId, FALSE);
    ShiftEnable(IDC_SHIFT_ABORT, TRUE);
    if (g_ShiftUi.pfnBringToFront) g_ShiftUi.pfnBringToFront();
    if (g_ShiftUi.pfnNoteNameWidth) g_ShiftUi.pfnNoteNameWidth(NULL);
    SHIFTREQUEST req;
    WINDOWRUN run;
    StartRequest(&req, &run, pInfo);
    req.pfnFound = FoundFile;
    SHIFTRESULT res;
    InitShiftResult(&res);
    RunDetection(pInfo, &req, &res);
    ShiftEnable(IDC_SHIFT_ABORT, FALSE);
    ShiftEnable(IDC_SHIFT_DELETE, res.fComplete);
    ShiftEnable(IDC_SHIFT_REFLIST, !res.fAborted && g_nRefFiles > 0);
    ShiftEnable(IDC_SHIFT_DETECT, TRUE);
    ShiftEnable(IDC_SHIFT_BROWSEAVI, TRUE);
    ShiftEnable(IDC_SHIFT_CLOSE, TRUE);
    if (g_ShiftUi.pfnFocus) g_ShiftUi.pfnFocus(IDC_SHIFT_REFLIST);
    FreeShiftResult(&res);
    g_fShiftBusy = 0;
}

void RelocateRefFiles(AviInfo *pInfo)
{
    if (g_fShiftBusy) return;
    g_fShiftBusy = 1;
    g_fShiftAbort = 0;
    ShiftEnable(IDC_SHIFT_FRAMESCROLL, FALSE);
    static const int s_aOff[] = {IDC_SHIFT_CLOSE,  IDC_SHIFT_BROWSEAVI, IDC_SHIFT_DETECT,    IDC_SHIFT_DELETE,
                                 IDC_SHIFT_MOVE,   IDC_SHIFT_NEWBASE,   IDC_SHIFT_BROWSEBASE};
    for (int nId : s_aOff) ShiftEnable(nId, FALSE);
    ShiftEnable(IDC_SHIFT_ABORT, TRUE);
    if (g_ShiftUi.pfnBringToFront) g_ShiftUi.pfnBringToFront();

    SHIFTREQUEST req;
    WINDOWRUN run;
    StartRequest(&req, &run, pInfo);
    if (g_ShiftUi.pfnGetItemText) g_ShiftUi.pfnGetItemText(IDC_SHIFT_NEWBASE, req.szNewBase);
    req.fDeleteOld = g_ShiftUi.pfnIsChecked && g_ShiftUi.pfnIsChecked(IDC_SHIFT_DELETEOLD);
    // The files selected when the command starts, checked then: only they
    // go (a file selected later was not checked), and of them only those
    // still selected when their turn comes.
    DWORD nFiles = 0;
    DWORD *piFiles = SelectedFiles(&nFiles);
    req.piFiles = piFiles;
    req.nFiles = nFiles;
    req.pfnFileStarts = FileStarts;
    req.pfnFileEnds = FileEnds;
    req.pfnStillWanted = StillSelected;
    SHIFTRESULT res;
    InitShiftResult(&res);
    if (!piFiles) ShowShiftMessageM(MB_OK | MB_ICONERROR, &MSG_NO_MEMORY);
    else RunRelocation(pInfo, &req, &res);
    FreeShiftResult(&res);
    free(piFiles);
    ShiftEnable(IDC_SHIFT_FRAMESCROLL, TRUE);
    ShiftEnable(IDC_SHIFT_ABORT, FALSE);
    ShiftEnable(IDC_SHIFT_MOVE, FALSE);
    static const int s_aOn[] = {IDC_SHIFT_BROWSEBASE, IDC_SHIFT_NEWBASE, IDC_SHIFT_DETECT,
                                IDC_SHIFT_DELETE,     IDC_SHIFT_BROWSEAVI, IDC_SHIFT_CLOSE};
    for (int nId : s_aOn) ShiftEnable(nId, TRUE);
    if (g_ShiftUi.pfnFocus) g_ShiftUi.pfnFocus(IDC_SHIFT_CLOSE);
    g_fShiftBusy = 0;
}

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
    static const int s_aOff[] = {IDC_SHIFT_FRAMESCROLL, IDC_SHIFT_CLOSE, IDC_SHIFT_BROWSEAVI, IDC_SHIFT_REFLIST,
                                 IDC_SHIFT_DETECT,      IDC_SHIFT_DELETE, IDC_SHIFT_MOVE,     IDC_SHIFT_BROWSEBASE};
    for (int nId : s_aOff) ShiftEnable(nId, FALSE);
    SHIFTREQUEST req;
    WINDOWRUN run;
    StartRequest(&req, &run, pInfo);
    req.pfnOutcome = ShowDeletionOutcome;
    req.fAll = fAll;
    DWORD nFiles = 0;
    DWORD *piFiles = fAll ? NULL : SelectedFiles(&nFiles);
    req.piFiles = piFiles;
    req.nFiles = nFiles;
    SHIFTRESULT res;
    InitShiftResult(&res);
    BOOL fOk = FALSE;
    if (!fAll && !piFiles) ShowShiftMessageM(MB_OK | MB_ICONERROR, &MSG_NO_MEMORY);
    else fOk = RunDeletion(pInfo, &req, &res);
    free(piFiles);
    // A deletion of everything that was refused before anything went
    // leaves the window as the selected files' mode does.
    BOOL fNothingDone = !res.fAviDeleted && CountOutcomes(&res, OUTCOME_DELETED) == 0 &&
                        CountOutcomes(&res, OUTCOME_FAILED) == 0;
    if (fAll && fOk) {
        if (g_ShiftUi.pfnResetWindow) g_ShiftUi.pfnResetWindow();
    } else if (!fAll || fNothingDone) {
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
    FreeShiftResult(&res);
    g_fShiftBusy = 0;
}

void FormatSelectedSize(unsigned long long ullTotal, LPSTR psz16)
{
    snprintf(psz16, 16, "%03lu,%03lu,%03lu,%03lu", (unsigned long)(ullTotal / 1000000000ull % 1000),
             (unsigned long)(ullTotal % 1000000000ull / 1000000), (unsigned long)(ullTotal % 1000000 / 1000),
             (unsigned long)(ullTotal % 1000));
    for (char *p = psz16; *p && !(*p >= '1' && *p <= '9'); p++) *p = ' ';
}

void ShowSelectedSize(AviInfo *pInfo)
{
    (void)pInfo;
    const REFLISTUI &list = g_ShiftUi.list;
    int n = list.pfnGetCount ? list.pfnGetCount() : 0;
    int nSelected = 0;
    unsigned long long ullTotal = 0;
    for (int i = 0; i < n; i++) {
        CHAR szName[MAX_PATH];
        if (!list.pfnIsSelected(i) || !list.pfnGetText(i, szName)) continue;
        nSelected++;
        WIN32_FIND_DATAA found;
        HANDLE hFind = FindFirstFileA(szName, &found);
        if (hFind != INVALID_HANDLE_VALUE) {
            ullTotal += found.nFileSizeLow;
            FindClose(hFind);
        }
    }
    CHAR sz[16];
    FormatSelectedSize(ullTotal, sz);
    ShiftSetText(IDC_SHIFT_SIZE, sz);
    if (!g_fShiftBusy) ShiftEnable(IDC_SHIFT_MOVE, nSelected > 0 && g_fRefListComplete);
    int iCaret = list.pfnGetCaret ? list.pfnGetCaret() : -1;
    if (iCaret >= 0 && (DWORD)iCaret < g_nRefFiles && iCaret < n && g_ShiftUi.pfnShowFrame)
        g_ShiftUi.pfnShowFrame(g_pRefFiles[iCaret].dwFirstFrame);
}

BOOL OfferRecovery(AviInfo *pInfo)
{
    if (!HasRecoveryNote(pInfo)) return TRUE;
    if (ShowShiftMessageM(MB_YESNO | MB_ICONQUESTION, &MSG_RECOVER_QUESTION, pInfo->szAviFile) != IDYES) return FALSE;
    SHIFTREQUEST req;
    WINDOWRUN run;
    StartRequest(&req, &run, pInfo);
    req.pfnProgress = NULL;
    SHIFTRESULT res;
    InitShiftResult(&res);
    int nRecovered = RunRecovery(pInfo, &req, &res);
    FreeShiftResult(&res);
    return nRecovered != RECOVER_STAYS;
}
