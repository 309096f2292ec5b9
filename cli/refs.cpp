// spool refs, verify, move and delete: Spoolshift's engine without its
// window. The reference list lives in memory; selections come from the
// command line.
#include "cli/spool.h"

#include "codec/refformat.h"
#include "mover/shift.h"
#include "scaffold/paths.h"

#include <stdlib.h>
#include <string.h>

namespace {

// --- The reference list, in memory ------------------------------------------

LPSTR CopyText(LPCSTR psz)
{
    LPSTR pszCopy = (LPSTR)malloc(strlen(psz) + 1);
    if (pszCopy) strcpy(pszCopy, psz);
    return pszCopy;
}

struct LISTITEM {
    LPSTR pszName;
    BOOL fSelected;
};
LISTITEM *s_pItems;
int s_nItems, s_nItemCap;

void ListReset(void)
{
    for (int i = 0; i < s_nItems; i++) free(s_pItems[i].pszName);
    s_nItems = 0;
}
int ListCount(void) { return s_nItems; }
BOOL ListGetText(int i, LPSTR psz)
{
    if (i < 0 || i >= s_nItems) return FALSE;
    snprintf(psz, MAX_PATH, "%s", s_pItems[i].pszName);
    return TRUE;
}
BOOL ListIsSelected(int i) { return i >= 0 && i < s_nItems && s_pItems[i].fSelected; }
void ListSetSelected(int i, BOOL f)
{
    if (i >= 0 && i < s_nItems) s_pItems[i].fSelected = f;
}
void ListInsert(int i, LPCSTR psz)
{
    if (s_nItems == s_nItemCap) {
        int nCap = s_nItemCap ? 2 * s_nItemCap : 16;
        void *pGrown = realloc(s_pItems, (size_t)nCap * sizeof(LISTITEM));
        if (!pGrown) return;
        s_pItems = (LISTITEM *)pGrown;
        s_nItemCap = nCap;
    }
    LPSTR pszName = CopyText(psz);
    if (!pszName) return;
    if (i < 0 || i > s_nItems) i = s_nItems;
    memmove(&s_pItems[i + 1], &s_pItems[i], (size_t)(s_nItems - i) * sizeof(LISTITEM));
    s_pItems[i].pszName = pszName;
    s_pItems[i].fSelected = FALSE;
    s_nItems++;
}
void ListDelete(int i)
{
    if (i < 0 || i >= s_nItems) return;
    free(s_pItems[i].pszName);
    memmove(&s_pItems[i], &s_pItems[i + 1], (size_t)(s_nItems - i - 1) * sizeof(LISTITEM));
    s_nItems--;
}

// What the commands do to their window: the new base and the delete-after
// choice come from the command line, progress texts move the bar.
CHAR s_szNewBase[MAX_PATH];
BOOL s_fDeleteAfter;
CHAR s_szStep[32];

void GetItemText(int, LPSTR psz) { snprintf(psz, MAX_PATH, "%s", s_szNewBase); }
BOOL IsChecked(int) { return s_fDeleteAfter; }
void SetItemText(int nId, LPCSTR psz)
{
    if (nId != IDC_SHIFT_PROGRESS || !*psz) return;
    // "検出   42 %": a step's name and its percentage.
    CHAR szStep[32];
    size_t cch = strcspn(psz, " ");
    snprintf(szStep, sizeof(szStep), "%.*s", (int)cch, psz);
    if (strcmp(szStep, s_szStep) != 0) {
        EndProgress();
        snprintf(s_szStep, sizeof(s_szStep), "%s", szStep);
        static const struct {
            LPCSTR pszJapanese;
            LPCSTR pszEnglish;
        } s_aSteps[] = {{"検出", "detect"}, {"書換", "rewrite"}, {"コピー", "copy"}};
        LPCSTR pszShown = s_szStep;
        for (const auto &step : s_aSteps)
            if (!g_fJapanese && strcmp(step.pszJapanese, s_szStep) == 0) pszShown = step.pszEnglish;
        BeginProgress(pszShown, 100, PROGRESS_PERCENT);
    }
    ShowProgress((unsigned long long)atoi(psz + cch));
}

void InstallList(void)
{
    memset(&g_ShiftUi, 0, sizeof(g_ShiftUi));
    g_ShiftUi.list.pfnGetCount = ListCount;
    g_ShiftUi.list.pfnGetText = ListGetText;
    g_ShiftUi.list.pfnIsSelected = ListIsSelected;
    g_ShiftUi.list.pfnSetSelected = ListSetSelected;
    g_ShiftUi.list.pfnInsert = ListInsert;
    g_ShiftUi.list.pfnDelete = ListDelete;
    g_ShiftUi.list.pfnReset = ListReset;
    g_ShiftUi.pfnGetItemText = GetItemText;
    g_ShiftUi.pfnIsChecked = IsChecked;
    g_ShiftUi.pfnSetItemText = SetItemText;
    s_szStep[0] = '\0';
}

// --- The AVI --------------------------------------------------------------------

AviInfo s_info;
// What the loading of the AVI reported.
int s_nLoadMessages;

// How an AVI is opened: only read; read unless a relocation is to be
// recovered first; or for changing it, after recovering one.
#define READ_ONLY 0
#define RECOVER_FIRST 1
#define FOR_CHANGES 2

// What OpenAvi did.
#define OPEN_FAILED 0
#define OPEN_DONE 1
#define OPEN_LOOK_ONLY 2  // a relocation's note stays that could not be recovered

// Loads the AVI; unless READ_ONLY a relocation cut short is finished or
// rolled back first. OPEN_FAILED after a message.
int OpenAvi(LPCSTR pszAvi, int nMode)
{
    InstallList();
    memset(&s_info, 0, sizeof(s_info));
    if (strlen(pszAvi) >= MAX_PATH) {
        Complain("%s: the path is too long", "%s: パスが長すぎます", pszAvi);
        return OPEN_FAILED;
    }
    snprintf(s_info.szAviFile, sizeof(s_info.szAviFile), "%s", pszAvi);
    // An AVI that is only read opens also where it cannot be written; one
    // with a relocation to recover is written.
    g_fAviReadOnly = nMode == READ_ONLY || (nMode == RECOVER_FIRST && !HasRecoveryNote(pszAvi));
    AVIFileInit();
    g_nEngineMessages = 0;
    BOOL fLoaded = LoadAvi(&s_info, TRUE);
    s_nLoadMessages = g_nEngineMessages;
    g_fAviReadOnly = FALSE;
    if (!fLoaded) {
        AVIFileExit();
        return OPEN_FAILED;
    }
    if (nMode != READ_ONLY && !RecoverRelocation(&s_info)) {
        Complain("%s: an interrupted relocation could not be finished or rolled back; its note is kept and "
                 "nothing was changed",
                 "%s: 中断された移動を完了も取り消しもできません. 記録は残し, 何も変更していません", pszAvi);
        return OPEN_LOOK_ONLY;
    }
    return OPEN_DONE;
}

// Says so when the reader could not see every frame of the file; TRUE then.
BOOL ReportUnseen(LPCSTR pszAvi)
{
    if (!s_info.dwUnseen) return FALSE;
    if (s_info.dwUnseen & (UNSEEN_MORE_RIFFS | UNSEEN_ODML_FRAMES))
        Complain("%s: only the first RIFF of this OpenDML AVI was read; the frames beyond it were not seen",
                 "%s: このOpenDMLのAVIファイルは最初のRIFFしか読めていません. その先のフレームは見ていません", pszAvi);
    if (s_info.dwUnseen & UNSEEN_INDEX_SHORT)
        Complain("%s: only part of the AVI was read: its index lists fewer frames than its header says",
                 "%s: AVIファイルの一部しか読めていません: インデックスのフレーム数がヘッダより少ない", pszAvi);
    return TRUE;
}

void CloseAvi(void)
{
    LoadAvi(&s_info, FALSE);
    FreeWorkBuffer();
    AVIFileExit();
    ListReset();
    free(g_pRefFiles);
    g_pRefFiles = NULL;
    g_nRefFileCap = 0;
}

// Detection with the progress bar; FALSE when it was cut short.
BOOL Detect(void)
{
    BeginProgress("detect", 100, PROGRESS_PERCENT);
    g_nEngineFailures = 0;
    DetectRefFiles(&s_info);
    EndProgress();
    return g_nEngineFailures == 0;
}

// Selects the list's items named on the command line; FALSE (after a
// message) for a name that the AVI does not use.
BOOL SelectNamed(LPCSTR pszCommand, int argc, char **argv)
{
    for (int i = 0; i < argc; i++) {
        int k = FindRefListItem(argv[i]);
        if (k < 0) {
            CHAR szFull[MAX_PATH];
            LPSTR pszPart;
            DWORD cch = GetFullPathNameA(argv[i], sizeof(szFull), szFull, &pszPart);
            if (cch > 0 && cch < sizeof(szFull)) k = FindRefListItem(szFull);
        }
        if (k < 0) {
            Complain("%s: the AVI does not use %s", "%s: AVIファイルは%sを参照していません", pszCommand, argv[i]);
            return FALSE;
        }
        ListSetSelected(k, TRUE);
    }
    return TRUE;
}

// --- Checking one record ------------------------------------------------------------

enum RECORDCHECK { CHECK_GOOD, CHECK_MISSING, CHECK_NOHEADER, CHECK_SIZE, CHECK_CUT, CHECK_SHORT };

LPCSTR CheckName(RECORDCHECK check)
{
    static const LPCSTR s_aEnglish[] = {"good", "missing", "no-header", "size", "cut-short", "short-record"};
    return s_aEnglish[check];
}

LPCSTR CheckText(RECORDCHECK check)
{
    static const LPCSTR s_aEnglish[] = {"good", "file missing", "no frame header at the offset",
                                        "frame size differs from the record", "frame cut short by the file's end",
                                        "record cut short"};
    static const LPCSTR s_aJapanese[] = {"正常", "ファイルがありません", "位置にフレームヘッダがありません",
                                         "フレームサイズがレコードと一致しません", "フレームがファイルの終わりで途切れています",
                                         "レコードが短すぎます"};
    return g_fJapanese ? s_aJapanese[check] : s_aEnglish[check];
}

// The reference file read last, kept open for the next record.
CHAR s_szOpenFile[MAX_PATH];
HANDLE s_hOpenFile = INVALID_HANDLE_VALUE;

void CloseCheckedFile(void)
{
    if (s_hOpenFile != INVALID_HANDLE_VALUE) CloseHandle(s_hOpenFile);
    s_hOpenFile = INVALID_HANDLE_VALUE;
    s_szOpenFile[0] = '\0';
}

unsigned long long s_ullOpenFileSize;

RECORDCHECK CheckRecord(const REFRECORD *pRec)
{
    CHAR szPath[MAX_PATH];
    if (!MapRefPath(pRec->szFileName, szPath)) return CHECK_MISSING;
    if (strcmp(szPath, s_szOpenFile) != 0) {
        CloseCheckedFile();
        s_hOpenFile = CreateFileA(szPath, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, NULL);
        if (s_hOpenFile == INVALID_HANDLE_VALUE) return CHECK_MISSING;
        snprintf(s_szOpenFile, sizeof(s_szOpenFile), "%s", szPath);
        DWORD dwHigh = 0;
        DWORD dwLow = GetFileSize(s_hOpenFile, &dwHigh);
        s_ullOpenFileSize = dwLow == INVALID_FILE_SIZE ? 0 : ((unsigned long long)dwHigh << 32) | dwLow;
    }
    REFFRAMEHEADER header;
    DWORD cb = 0;
    if (SetFilePointer(s_hOpenFile, (LONG)pRec->dwOffset, NULL, FILE_BEGIN) == INVALID_SET_FILE_POINTER ||
        !ReadFile(s_hOpenFile, &header, sizeof(header), &cb, NULL) || cb != sizeof(header) ||
        (unsigned long long)header.dwDataSize + header.dwPadSize + sizeof(header) != header.dwFrameSize)
        return CHECK_NOHEADER;
    if (header.dwFrameSize != RefRecordFrameSize(pRec)) return CHECK_SIZE;
    // The frame's data is there whole.
    return (unsigned long long)pRec->dwOffset + header.dwFrameSize <= s_ullOpenFileSize ? CHECK_GOOD : CHECK_CUT;
}

int ParseMapsAndAvi(LPCSTR pszCommand, int argc, char **argv, LPCSTR *ppszAvi, BOOL *pfJson, BOOL *pfVerbose)
{
    for (int i = 0; i < argc; i++) {
        LPCSTR pszValue = NULL;
        if (TakeOption(argc, argv, &i, "--map", NULL, &pszValue)) {
            if (!pszValue || !AddPathMap(pszValue)) return UsageError(pszCommand, pszValue ? pszValue : argv[i]);
        } else if (pfJson && TakeOption(argc, argv, &i, "--json", NULL, NULL)) {
            *pfJson = TRUE;
        } else if (pfVerbose && TakeOption(argc, argv, &i, "--verbose", "-v", NULL)) {
            *pfVerbose = TRUE;
        } else if (argv[i][0] == '-' || *ppszAvi) {
            return UsageError(pszCommand, argv[i]);
        } else {
            *ppszAvi = argv[i];
        }
    }
    return *ppszAvi ? SPOOL_OK : UsageError(pszCommand, "AVI");
}

}  // namespace

int RefsCommand(int argc, char **argv)
{
    LPCSTR pszAvi = NULL;
    BOOL fJson = FALSE;
    int nStatus = ParseMapsAndAvi("refs", argc, argv, &pszAvi, &fJson, NULL);
    if (nStatus != SPOOL_OK) return nStatus;
    if (OpenAvi(pszAvi, READ_ONLY) == OPEN_FAILED) return SPOOL_ERROR;
    BeginProgress("refs", 100, PROGRESS_PERCENT);
    if (!Detect()) {
        CloseAvi();
        return SPOOL_ERROR;
    }
    BOOL fPartial = ReportUnseen(pszAvi);
    int nMissing = 0;
    if (fJson) {
        fputs("{\"avi\":", g_pOut);
        PutJsonString(g_pOut, pszAvi);
        fprintf(g_pOut, ",\"frames\":%lu,\"files\":[", (unsigned long)s_info.nFrames);
    } else {
        Say(g_pOut, "%s: %lu frames, %d reference files\n%8s %8s %14s  %s\n",
            "%s: %lu フレーム, 参照ファイル %d 個\n%8s %8s %14s  %s\n", pszAvi, (unsigned long)s_info.nFrames, s_nItems,
            g_fJapanese ? "フレーム" : "frames", g_fJapanese ? "最初" : "first", g_fJapanese ? "サイズ" : "size",
            g_fJapanese ? "ファイル" : "file");
    }
    for (int i = 0; i < s_nItems; i++) {
        CHAR szPath[MAX_PATH];
        unsigned long long ullSize = 0;
        BOOL fExists = MapRefPath(s_pItems[i].pszName, szPath) && GetPathSize(szPath, &ullSize);
        nMissing += fExists ? 0 : 1;
        const REFFILEENTRY *pEntry = &g_pRefFiles[i];
        if (fJson) {
            fputs(i ? ",{\"name\":" : "{\"name\":", g_pOut);
            PutJsonString(g_pOut, s_pItems[i].pszName);
            fputs(",\"path\":", g_pOut);
            PutJsonString(g_pOut, szPath);
            fprintf(g_pOut, ",\"frames\":%lu,\"first\":%lu,\"exists\":%s,\"size\":", (unsigned long)pEntry->dwFrameCount,
                    (unsigned long)pEntry->dwFirstFrame, fExists ? "true" : "false");
            if (fExists) fprintf(g_pOut, "%llu}", ullSize);
            else fputs("null}", g_pOut);
        } else {
            CHAR szSize[24];
            if (fExists) snprintf(szSize, sizeof(szSize), "%llu", ullSize);
            else snprintf(szSize, sizeof(szSize), "%s", g_fJapanese ? "なし" : "missing");
            fprintf(g_pOut, "%8lu %8lu %14s  %s", (unsigned long)pEntry->dwFrameCount, (unsigned long)pEntry->dwFirstFrame,
                    szSize, s_pItems[i].pszName);
            if (strcmp(szPath, s_pItems[i].pszName) != 0) fprintf(g_pOut, " -> %s", szPath);
            fputc('\n', g_pOut);
        }
    }
    if (fJson) fputs("]}\n", g_pOut);
    CloseAvi();
    return nMissing || fPartial ? SPOOL_PROBLEMS : SPOOL_OK;
}

int VerifyCommand(int argc, char **argv)
{
    LPCSTR pszAvi = NULL;
    BOOL fJson = FALSE, fVerbose = FALSE;
    int nStatus = ParseMapsAndAvi("verify", argc, argv, &pszAvi, &fJson, &fVerbose);
    if (nStatus != SPOOL_OK) return nStatus;
    int nOpened = OpenAvi(pszAvi, RECOVER_FIRST);
    if (nOpened == OPEN_FAILED) return SPOOL_ERROR;
    // What loading reported (an index that lists fewer frames than the
    // header says, say) is a problem of the AVI, as are frames the reader
    // did not see and a note that stays.
    BOOL fLoadReported = s_nLoadMessages > 0 || nOpened == OPEN_LOOK_ONLY;
    if (ReportUnseen(pszAvi)) fLoadReported = TRUE;
    DWORD cbScratch = (DWORD)(g_pbWork + g_cbWork - g_pbScratch);
    DWORD nRecords = 0, nOther = 0, nBad = 0;
    DWORD anChecks[CHECK_SHORT + 1] = {0};
    BOOL fReadFailed = FALSE;
    if (fJson) {
        fputs("{\"avi\":", g_pOut);
        PutJsonString(g_pOut, pszAvi);
        fputs(",\"bad\":[", g_pOut);
    }
    BeginProgress("verify", s_info.nFrames, PROGRESS_FRAMES);
    for (DWORD n = 0; n < s_info.nFrames; n++) {
        ShowProgress(n);
        DWORD cb = 0;
        if (!AccessFrameData(&s_info, g_pbScratch, cbScratch, n, FALSE, &cb)) {
            fReadFailed = TRUE;
            break;
        }
        if (!IsRefRecord(g_pbScratch, cb)) {
            nOther++;
            continue;
        }
        nRecords++;
        REFRECORD rec;
        memset(&rec, 0, sizeof(rec));
        memcpy(&rec, g_pbScratch, cb < sizeof(rec) ? cb : sizeof(rec));
        rec.szFileName[MAX_PATH - 1] = '\0';
        RECORDCHECK check = cb < sizeof(rec) ? CHECK_SHORT : CheckRecord(&rec);
        anChecks[check]++;
        if (check == CHECK_GOOD) continue;
        nBad++;
        if (fJson) {
            fprintf(g_pOut, "%s{\"frame\":%lu,\"problem\":\"%s\",\"file\":", nBad > 1 ? "," : "", (unsigned long)n,
                    CheckName(check));
            PutJsonString(g_pOut, rec.szFileName);
            fprintf(g_pOut, ",\"offset\":%lu}", (unsigned long)rec.dwOffset);
        } else if (fVerbose) {
            EndProgress();
            Say(g_pOut, "frame %lu: %s: %s at %lu\n", "フレーム %lu: %s: %s 位置 %lu\n", (unsigned long)n, CheckText(check),
                rec.szFileName, (unsigned long)rec.dwOffset);
        }
    }
    EndProgress();
    CloseCheckedFile();
    if (fJson) {
        fprintf(g_pOut, "],\"frames\":%lu,\"records\":%lu,\"other\":%lu,\"good\":%lu}\n", (unsigned long)s_info.nFrames,
                (unsigned long)nRecords, (unsigned long)nOther, (unsigned long)anChecks[CHECK_GOOD]);
    } else {
        Say(g_pOut, "%s: %lu frames, %lu records, %lu good, %lu bad, %lu other frames\n",
            "%s: %lu フレーム, 参照レコード %lu, 正常 %lu, 不正 %lu, その他のフレーム %lu\n", pszAvi,
            (unsigned long)s_info.nFrames, (unsigned long)nRecords, (unsigned long)anChecks[CHECK_GOOD],
            (unsigned long)nBad, (unsigned long)nOther);
        for (int c = CHECK_MISSING; c <= CHECK_SHORT; c++)
            if (anChecks[c]) Say(g_pOut, "  %s: %lu\n", "  %s: %lu\n", CheckText((RECORDCHECK)c), (unsigned long)anChecks[c]);
    }
    CloseAvi();
    if (fReadFailed) return SPOOL_ERROR;
    return nBad || fLoadReported ? SPOOL_PROBLEMS : SPOOL_OK;
}

int MoveCommand(int argc, char **argv)
{
    LPCSTR pszAvi = NULL, pszBase = NULL;
    BOOL fCopy = FALSE, fDeleteAfter = FALSE, fForce = FALSE;
    int nFiles = 0;
    char **apszFiles = (char **)calloc((size_t)argc + 1, sizeof(char *));
    if (!apszFiles) return SPOOL_ERROR;
    for (int i = 0; i < argc; i++) {
        LPCSTR pszValue = NULL;
        if (TakeOption(argc, argv, &i, "--base", NULL, &pszValue)) {
            if (!pszValue) {
                free(apszFiles);
                return UsageError("move", argv[i]);
            }
            pszBase = pszValue;
        } else if (TakeOption(argc, argv, &i, "--copy", NULL, NULL)) {
            fCopy = TRUE;
        } else if (TakeOption(argc, argv, &i, "--delete-after", NULL, NULL)) {
            fDeleteAfter = TRUE;
        } else if (TakeOption(argc, argv, &i, "--force", NULL, NULL)) {
            fForce = TRUE;
        } else if (argv[i][0] == '-') {
            free(apszFiles);
            return UsageError("move", argv[i]);
        } else if (!pszAvi) {
            pszAvi = argv[i];
        } else {
            apszFiles[nFiles++] = argv[i];
        }
    }
    if (!pszAvi || !pszBase) {
        free(apszFiles);
        return UsageError("move", pszAvi ? "--base NEWBASE" : "AVI");
    }
    int nStatus = SPOOL_ERROR;
    int nOpened = OpenAvi(pszAvi, FOR_CHANGES);
    if (nOpened != OPEN_FAILED) {
        if (nOpened == OPEN_DONE && Detect() && SelectNamed("move", nFiles, apszFiles)) {
            if (nFiles == 0)
                for (int i = 0; i < s_nItems; i++) s_pItems[i].fSelected = TRUE;
            snprintf(s_szNewBase, sizeof(s_szNewBase), "%s", pszBase);
            s_fDeleteAfter = fDeleteAfter;
            g_fShiftAlwaysCopy = fCopy;
            // The list's names before, to tell what became of each.
            int nBefore = s_nItems;
            LPSTR *apszBefore = (LPSTR *)calloc((size_t)nBefore + 1, sizeof(LPSTR));
            BOOL *afSelected = (BOOL *)calloc((size_t)nBefore + 1, sizeof(BOOL));
            for (int i = 0; apszBefore && afSelected && i < nBefore; i++) {
                apszBefore[i] = CopyText(s_pItems[i].pszName);
                afSelected[i] = s_pItems[i].fSelected;
            }
            g_nEngineFailures = 0;
            g_nConfirmations = 0;
            g_nConfirmAnswer = fForce ? IDYES : IDNO;
            RelocateRefFiles(&s_info);
            EndProgress();
            g_fShiftAlwaysCopy = FALSE;
            g_nConfirmAnswer = IDNO;
            if (g_nConfirmations && !fForce) {
                Complain("move: nothing was moved; give --force to move files whose format cannot be checked",
                         "move: 何も移動していません. 形式を確かめられないファイルも移動するには --force を指定して下さい");
                g_nEngineFailures++;
            }
            for (int i = 0; apszBefore && afSelected && i < nBefore && i < s_nItems; i++) {
                if (!afSelected[i]) continue;
                BOOL fMoved = apszBefore[i] && strcmp(apszBefore[i], s_pItems[i].pszName) != 0;
                if (fMoved) fprintf(g_pOut, "%s -> %s\n", apszBefore[i], s_pItems[i].pszName);
            }
            for (int i = 0; apszBefore && i < nBefore; i++) free(apszBefore[i]);
            free(apszBefore);
            free(afSelected);
            nStatus = g_nEngineFailures ? SPOOL_ERROR : SPOOL_OK;
        }
        CloseAvi();
    }
    free(apszFiles);
    return nStatus;
}

int DeleteCommand(int argc, char **argv)
{
    LPCSTR pszAvi = NULL;
    BOOL fAll = FALSE, fYes = FALSE, fForce = FALSE;
    int nFiles = 0;
    char **apszFiles = (char **)calloc((size_t)argc + 1, sizeof(char *));
    if (!apszFiles) return SPOOL_ERROR;
    for (int i = 0; i < argc; i++) {
        if (TakeOption(argc, argv, &i, "--all", NULL, NULL)) fAll = TRUE;
        else if (TakeOption(argc, argv, &i, "--yes", "-y", NULL)) fYes = TRUE;
        else if (TakeOption(argc, argv, &i, "--force", NULL, NULL)) fForce = TRUE;
        else if (argv[i][0] == '-') {
            free(apszFiles);
            return UsageError("delete", argv[i]);
        } else if (!pszAvi) pszAvi = argv[i];
        else apszFiles[nFiles++] = argv[i];
    }
    int nStatus = SPOOL_ERROR;
    if (!pszAvi || (fAll == (nFiles > 0))) {
        nStatus = UsageError("delete", pszAvi ? "FILE... | --all" : "AVI");
    } else if (fAll && !fYes) {
        Complain("--all deletes every reference file and the AVI itself: give --yes as well",
                 "--all はすべての参照ファイルとAVIファイルを削除します: --yes も指定して下さい");
    } else if (int nOpened = OpenAvi(pszAvi, FOR_CHANGES)) {
        if (nOpened == OPEN_DONE && Detect() && SelectNamed("delete", nFiles, apszFiles)) {
            // The engine asks whether everything goes (nothing selected) or
            // only the selection.
            g_nQuestionAnswer = fAll ? IDOK : IDNO;
            g_nEngineFailures = 0;
            // The files that are there now, to count those that go.
            int nThere = 0;
            BOOL *afThere = (BOOL *)calloc((size_t)s_nItems + 1, sizeof(BOOL));
            for (int i = 0; afThere && i < s_nItems; i++)
                nThere += (afThere[i] = (fAll || s_pItems[i].fSelected) && FileExists(s_pItems[i].pszName)) ? 1 : 0;
            int nListed = s_nItems;
            LPSTR *apszNames = (LPSTR *)calloc((size_t)nListed + 1, sizeof(LPSTR));
            for (int i = 0; apszNames && i < nListed; i++) apszNames[i] = CopyText(s_pItems[i].pszName);
            g_nConfirmations = 0;
            g_nConfirmAnswer = fForce ? IDYES : IDNO;
            DeleteRefFiles(&s_info);
            g_nQuestionAnswer = IDCANCEL;
            g_nConfirmAnswer = IDNO;
            if (g_nConfirmations && !fForce) {
                Complain("delete: nothing was deleted; give --force to delete files whose format cannot be checked",
                         "delete: 何も削除していません. 形式を確かめられないファイルも削除するには --force を指定して下さい");
                g_nEngineFailures++;
            }
            int nDeleted = 0;
            for (int i = 0; afThere && apszNames && i < nListed; i++)
                nDeleted += afThere[i] && apszNames[i] && !FileExists(apszNames[i]) ? 1 : 0;
            for (int i = 0; apszNames && i < nListed; i++) free(apszNames[i]);
            free(apszNames);
            free(afThere);
            if (!g_nEngineFailures) {
                if (fAll) Say(g_pOut, "deleted %d reference files and %s\n", "参照ファイル %d 個と %s を削除しました\n", nDeleted, pszAvi);
                else Say(g_pOut, "deleted %d reference files\n", "参照ファイル %d 個を削除しました\n", nDeleted);
                if (nDeleted < nThere) nStatus = SPOOL_ERROR;
                else nStatus = SPOOL_OK;
            }
        }
        CloseAvi();
    }
    free(apszFiles);
    return nStatus;
}
