// Detection of the reference files that a loaded AVI's frames name, and the
// size of the selected ones.
#include "mover/shift.h"

#include "codec/refformat.h"
#include "mover/message.h"
#include "scaffold/paths.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

// The entry table grows by this many entries at a time.
#define REFFILE_STEP 10u

SHIFTUI g_ShiftUi;
REFFILEENTRY *g_pRefFiles;
DWORD g_nRefFileCap;
BOOL g_fRefListComplete;
volatile LONG g_fShiftBusy;
volatile LONG g_fShiftAbort;

namespace {

bool SameFourccIgnoringCase(FOURCC a, const char *psz)
{
    for (int i = 0; i < 4; i++) {
        char c = (char)((a >> (8 * i)) & 0xFF);
        if (c >= 'A' && c <= 'Z') c = (char)(c - 'A' + 'a');
        if (c != psz[i]) return false;
    }
    return true;
}

}  // namespace

BYTE *FindNameField(BYTE *pData, DWORD cbData, FOURCC fccHandler, DWORD *pcbField)
{
    // A record of this system: the name at 16, a field of 260 bytes, as far
    // as the frame holds it.
    if (cbData >= REFREC_MAGIC_LEN && memcmp(pData, REFREC_MAGIC, REFREC_MAGIC_LEN) == 0) {
        DWORD cbField = cbData > 16 ? cbData - 16 : 0;
        if (cbField > MAX_PATH) cbField = MAX_PATH;
        *pcbField = cbField;
        return cbField ? pData + 16 : NULL;
    }
    // The two foreign kinds: the name from 16 behind a "REF " tag, or from
    // 12 in any frame of their stream; a frame too short for it holds none.
    DWORD dwAt = 0;
    if (cbData >= 4 && memcmp(pData, "REF ", 4) == 0 && SameFourccIgnoringCase(fccHandler, "cdvc")) dwAt = 16;
    else if (SameFourccIgnoringCase(fccHandler, "dvrs")) dwAt = 12;
    if (!dwAt || cbData <= dwAt) return NULL;
    *pcbField = cbData - dwAt;
    return pData + dwAt;
}

int FindRefListItem(LPCSTR pszName)
{
    const REFLISTUI &list = g_ShiftUi.list;
    // Frames name one file many times over: the item found last is tried
    // first. (No two items name one file: detection adds a name only when
    // no item names its file, and a relocation gives an item a new file.)
    static int s_iLast = -1;
    int n = list.pfnGetCount ? list.pfnGetCount() : 0;
    CHAR szItem[MAX_PATH];
    if (s_iLast >= 0 && s_iLast < n && list.pfnGetText(s_iLast, szItem) && SameFileName(szItem, pszName)) return s_iLast;
    for (int i = 0; i < n; i++) {
        if (list.pfnGetText(i, szItem) && SameFileName(szItem, pszName)) return s_iLast = i;
    }
    return -1;
}

void NameInField(const BYTE *pField, DWORD cbField, LPSTR pszName)
{
    DWORD cch = 0;
    while (cch < cbField && cch < MAX_PATH - 1 && pField[cch]) cch++;
    memcpy(pszName, pField, cch);
    pszName[cch] = '\0';
}

void DetectRefFiles(AviInfo *pInfo)
{
    if (g_fShiftBusy) return;
    g_fShiftAbort = 0;
    g_fShiftBusy = 1;
    g_fRefListComplete = FALSE;
    const REFLISTUI &list = g_ShiftUi.list;
    if (list.pfnReset) list.pfnReset();
    static const int s_aOff[] = {IDC_SHIFT_CLOSE, IDC_SHIFT_BROWSEAVI, IDC_SHIFT_REFLIST, IDC_SHIFT_DETECT,
                                 IDC_SHIFT_DELETE, IDC_SHIFT_MOVE};
    for (int nId : s_aOff) ShiftEnable(nId, FALSE);
    ShiftEnable(IDC_SHIFT_ABORT, TRUE);
    if (g_ShiftUi.pfnBringToFront) g_ShiftUi.pfnBringToFront();
    if (g_ShiftUi.pfnNoteNameWidth) g_ShiftUi.pfnNoteNameWidth(NULL);

    DWORD nFound = 0;
    int nShown = -1;
    BOOL fAborted = FALSE;
    DWORD i = 0;
    // The scratch region holds the largest frame and one byte more, for the
    // zero put behind the data.
    DWORD cbScratch = g_pbScratch ? (DWORD)(g_pbWork + g_cbWork - g_pbScratch) : 0;
    for (; i < pInfo->nFrames && cbScratch > 1; i++) {
        DWORD cb = 0;
        if (!AccessFrameData(pInfo, g_pbScratch, cbScratch - 1, i, FALSE, &cb)) break;
        g_pbScratch[cb] = 0;
        DWORD cbField = 0;
        BYTE *pField = FindNameField(g_pbScratch, cb, pInfo->fccHandler, &cbField);
        if (pField) {
            // The name ends at its zero or at the end of its field.
            CHAR szName[MAX_PATH];
            NameInField(pField, cbField, szName);
            // A record of this system says where its frame lies.
            ULONGLONG ullEnd = RefRecordFrameEnd(g_pbScratch, cb);
            DWORD dwKind = IsRefRecord(g_pbScratch, cb) ? REFKIND_RECORD : REFKIND_FOREIGN;
            int p = FindRefListItem(szName);
            if (p < 0) {
                if (nFound == g_nRefFileCap) {
                    void *pGrown = realloc(g_pRefFiles, ((size_t)g_nRefFileCap + REFFILE_STEP) * sizeof(REFFILEENTRY));
                    if (!pGrown) {
                        ShowShiftMessageM(MB_OK | MB_ICONERROR, &MSG_NO_MEMORY);
                        break;
                    }
                    g_pRefFiles = (REFFILEENTRY *)pGrown;
                    g_nRefFileCap += REFFILE_STEP;
                }
                // The name goes into the list only with its entry, so that
                // every item has one.
                if (list.pfnInsert) list.pfnInsert(-1, szName);
                if (g_ShiftUi.pfnNoteNameWidth) g_ShiftUi.pfnNoteNameWidth(szName);
                g_pRefFiles[nFound].dwFirstFrame = i;
                g_pRefFiles[nFound].dwFrameCount = 1;
                g_pRefFiles[nFound].cbNameField = cbField;
                g_pRefFiles[nFound].dwKinds = dwKind;
                g_pRefFiles[nFound].ullFramesEnd = ullEnd;
                pInfo->pFrames[i].dwRef = nFound++;
            } else {
                REFFILEENTRY *pEntry = &g_pRefFiles[p];
                pEntry->dwFrameCount++;
                if (cbField < pEntry->cbNameField) pEntry->cbNameField = cbField;
                pEntry->dwKinds |= dwKind;
                if (ullEnd > pEntry->ullFramesEnd) pEntry->ullFramesEnd = ullEnd;
                pInfo->pFrames[i].dwRef = (DWORD)p;
            }
        }
        int nPercent = (int)((100ull * (i + 1)) / pInfo->nFrames);
        if (nPercent != nShown) {
            nShown = nPercent;
            CHAR sz[32];
            snprintf(sz, sizeof(sz), "検出   %3d %%", nPercent);
            ShiftSetText(IDC_SHIFT_PROGRESS, sz);
            if (g_ShiftUi.pfnUpdate) g_ShiftUi.pfnUpdate();
        }
        if (g_ShiftUi.pfnPumpMessage) g_ShiftUi.pfnPumpMessage();
        if (g_fShiftAbort) {
            fAborted = TRUE;
            break;
        }
    }
    // Files are moved or deleted only on the say of a detection that read
    // every frame: one cut short by an unreadable frame (or by a failure to
    // grow the table) leaves the list to look at only, as an abort does.
    g_fRefListComplete = !fAborted && i >= pInfo->nFrames;
    ShiftEnable(IDC_SHIFT_ABORT, FALSE);
    ShiftEnable(IDC_SHIFT_DELETE, g_fRefListComplete);
    ShiftEnable(IDC_SHIFT_REFLIST, !fAborted && nFound > 0);
    ShiftEnable(IDC_SHIFT_DETECT, TRUE);
    ShiftEnable(IDC_SHIFT_BROWSEAVI, TRUE);
    ShiftEnable(IDC_SHIFT_CLOSE, TRUE);
    if (g_ShiftUi.pfnFocus) g_ShiftUi.pfnFocus(IDC_SHIFT_REFLIST);
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
    if (iCaret >= 0 && (DWORD)iCaret < g_nRefFileCap && iCaret < n && g_ShiftUi.pfnShowFrame)
        g_ShiftUi.pfnShowFrame(g_pRefFiles[iCaret].dwFirstFrame);
}
