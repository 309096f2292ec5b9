// spool refs, verify, move, delete and recover: Spoolshift's engines
// without its window. The engines return what they did, file by file; this
// renders it: moved files as "old -> new", refusals and failures as
// messages, progress as the bar.
#include "cli/spool.h"

#include "codec/refformat.h"
#include "mover/shift.h"
#include "scaffold/paths.h"

#include <stdlib.h>
#include <string.h>

namespace {

// --- The AVI --------------------------------------------------------------------

AviInfo s_info;
BOOL s_fOpen;
// What the loading of the AVI reported.
int s_nLoadMessages;

// Loads the AVI: for reading only (refs, verify), or for changing it and its
// files. FALSE after a message.
BOOL OpenAvi(LPCSTR pszAvi, BOOL fForChanges)
{
    memset(&s_info, 0, sizeof(s_info));
    if (strlen(pszAvi) >= sizeof(s_info.szAviFile)) {
        Complain("%s: the path is too long", "%s: パスが長すぎます", pszAvi);
        return FALSE;
    }
    snprintf(s_info.szAviFile, sizeof(s_info.szAviFile), "%s", pszAvi);
    // An AVI that is only read opens also where it cannot be written.
    g_fAviReadOnly = !fForChanges;
    AVIFileInit();
    g_nEngineMessages = 0;
    BOOL fLoaded = LoadAvi(&s_info, TRUE);
    s_nLoadMessages = g_nEngineMessages;
    g_fAviReadOnly = FALSE;
    if (!fLoaded) {
        FreeWorkBuffer();
        AVIFileExit();
    }
    s_fOpen = fLoaded;
    return fLoaded;
}

void CloseAvi(void)
{
    if (!s_fOpen) return;
    s_fOpen = FALSE;
    LoadAvi(&s_info, FALSE);
    FreeWorkBuffer();
    AVIFileExit();
    FreeRefTable();
}

// Says so when the reader could not see every frame of the file; TRUE then.
BOOL ReportUnseen(LPCSTR pszAvi)
{
    if (!s_info.dwUnseen) return FALSE;
    if (s_info.dwUnseen & (UNSEEN_MORE_RIFFS | UNSEEN_ODML_FRAMES))
        Complain("%s: only the first RIFF of this OpenDML AVI was read; the frames beyond it were not seen",
                 "%s: このOpenDMLのAVIファイルは最初のRIFFしか読めていません. その先のフレームは見ていません", pszAvi);
    if (s_info.dwUnseen & UNSEEN_UNLISTED)
        Complain("%s: its movi list holds frames that no index lists; they were not read",
                 "%s: moviにインデックスにないフレームがあり, 読んでいません", pszAvi);
    if (s_info.dwUnseen & UNSEEN_MORE_VIDEO)
        Complain("%s: it has a second video stream, whose frames were not read",
                 "%s: 2つ目のビデオストリームがあり, そのフレームは読んでいません", pszAvi);
    if (s_info.dwUnseen & UNSEEN_INDEX_SHORT)
        Complain("%s: only part of the AVI was read: its index lists fewer frames than its header says",
                 "%s: AVIファイルの一部しか読めていません: インデックスのフレーム数がヘッダより少ない", pszAvi);
    return TRUE;
}

// Says so when a relocation's note stays beside the AVI; TRUE then. refs
// and verify never act on it.
BOOL ReportNote(LPCSTR pszAvi)
{
    if (!HasRecoveryNote(&s_info)) return FALSE;
    Complain("%s: a relocation of its reference files was cut short and its note stays; spool recover finishes "
             "or rolls it back",
             "%s: 参照ファイルの移動が中断され, その記録が残っています. spool recover で完了するか元に戻せます", pszAvi);
    return TRUE;
}

// --- The engines' side ---------------------------------------------------------------

// What a run of an engine needs from the command line.
struct CLIRUN {
    int nStep;        // the step the bar shows, -1 for none
    BOOL fForce;      // act on files whose format cannot be checked
};

void CliProgress(void *pv, int nStep, ULONGLONG ullDone, ULONGLONG ullTotal)
{
    CLIRUN *pRun = (CLIRUN *)pv;
    if (nStep != pRun->nStep) {
        EndProgress();
        pRun->nStep = nStep;
        if (nStep == STEP_DETECT) BeginProgress(g_fJapanese ? "検出" : "detect", ullTotal, PROGRESS_FRAMES);
        else if (nStep == STEP_COPY) BeginProgress(g_fJapanese ? "コピー" : "copy", ullTotal, PROGRESS_BYTES);
        else BeginProgress(g_fJapanese ? "書換" : "rewrite", ullTotal, PROGRESS_FRAMES);
    }
    ShowProgress(ullDone);
}

// Moved files go to the results a line each; what has a message goes to
// the message stream.
void CliOutcome(void *pv, const SHIFTOUTCOME *pOutcome)
{
    CLIRUN *pRun = (CLIRUN *)pv;
    if (pOutcome->nOutcome == OUTCOME_MOVED || pOutcome->nOutcome == OUTCOME_COPIED) {
        EndProgress();
        pRun->nStep = -1;
        fprintf(g_pOut, "%s -> %s\n", pOutcome->szA, pOutcome->szB);
    }
    if (!pOutcome->pMsg) return;
    EndProgress();
    pRun->nStep = -1;
    CHAR szText[4096];
    RenderOutcome(szText, sizeof(szText), pOutcome);
    // One line a message.
    for (char *p = szText; *p; p++)
        if (*p == '\n') *p = ' ';
    fprintf(g_pErr, "spool: %s\n", szText);
}

BOOL CliConfirmForeign(void *pv, LPCSTR pszFiles)
{
    CLIRUN *pRun = (CLIRUN *)pv;
    EndProgress();
    pRun->nStep = -1;
    CHAR szText[8192];
    RenderMessage(szText, sizeof(szText), &MSG_FOREIGN_FILES, pszFiles);
    fprintf(g_pErr, "spool: %s\n", szText);
    return pRun->fForce;
}

// Files that other AVIs name too are deleted with --force, else kept.
BOOL CliConfirmShared(void *pv, LPCSTR pszFiles)
{
    CLIRUN *pRun = (CLIRUN *)pv;
    EndProgress();
    pRun->nStep = -1;
    Complain("these reference files are named by other AVIs too (in brackets)%s:\n%s",
             "次の参照ファイルは他のAVIファイルも参照しています (かっこ内)%s:\n%s",
             pRun->fForce ? "" : (g_fJapanese ? ". 残します (--force で削除)" : "; they are kept (--force deletes them)"),
             pszFiles);
    return pRun->fForce;
}

void StartRequest(SHIFTREQUEST *pReq, CLIRUN *pRun, BOOL fForce)
{
    InitShiftRequest(pReq);
    pRun->nStep = -1;
    pRun->fForce = fForce;
    pReq->pv = pRun;
    pReq->pfnProgress = CliProgress;
    pReq->pfnOutcome = CliOutcome;
    pReq->pfnConfirmForeign = CliConfirmForeign;
    pReq->pfnConfirmShared = CliConfirmShared;
}

// Whether a result holds an outcome that makes the command fail.
BOOL Failed(const SHIFTRESULT *pRes)
{
    return CountOutcomes(pRes, OUTCOME_REFUSED) || CountOutcomes(pRes, OUTCOME_FAILED) ||
           CountOutcomes(pRes, OUTCOME_ABORTED) || pRes->fForeignDeclined;
}

// Detection with the progress bar; FALSE when it was cut short.
BOOL Detect(void)
{
    SHIFTREQUEST req;
    CLIRUN run;
    StartRequest(&req, &run, FALSE);
    SHIFTRESULT res;
    InitShiftResult(&res);
    BOOL fComplete = RunDetection(&s_info, &req, &res);
    EndProgress();
    FreeShiftResult(&res);
    return fComplete;
}

// Finishes or rolls back a relocation cut short; FALSE when its note stays.
BOOL Recover(LPCSTR pszAvi)
{
    SHIFTREQUEST req;
    CLIRUN run;
    StartRequest(&req, &run, FALSE);
    SHIFTRESULT res;
    InitShiftResult(&res);
    int nRecovered = RunRecovery(&s_info, &req, &res);
    FreeShiftResult(&res);
    if (nRecovered != RECOVER_STAYS) return TRUE;
    Complain("%s: an interrupted relocation could not be finished or rolled back; its note is kept and "
             "nothing was changed",
             "%s: 中断された移動を完了も取り消しもできません. 記録は残し, 何も変更していません", pszAvi);
    return FALSE;
}

// The table's entries of the files named on the command line (all of them
// without names), in list order; NULL after a message for a name that the
// AVI does not use.
DWORD *NamedFiles(LPCSTR pszCommand, int argc, char **argv, DWORD *pn)
{
    DWORD *piFiles = (DWORD *)calloc((size_t)g_nRefFiles + (size_t)argc + 1, sizeof(DWORD));
    BOOL *afNamed = (BOOL *)calloc((size_t)g_nRefFiles + 1, sizeof(BOOL));
    *pn = 0;
    BOOL fOk = piFiles && afNamed;
    if (!fOk) Complain("out of memory", "メモリが確保できません");
    for (int i = 0; fOk && i < argc; i++) {
        // By the file the name reaches, whatever its spelling.
        int k = FindRefFile(argv[i]);
        if (k < 0) {
            Complain("%s: the AVI does not use %s", "%s: AVIファイルは%sを参照していません", pszCommand, argv[i]);
            fOk = FALSE;
        } else {
            afNamed[k] = TRUE;
        }
    }
    for (DWORD k = 0; fOk && k < g_nRefFiles; k++)
        if (argc == 0 || afNamed[k]) piFiles[(*pn)++] = k;
    free(afNamed);
    if (!fOk) {
        free(piFiles);
        return NULL;
    }
    return piFiles;
}

// --- Checking one record ------------------------------------------------------------

enum RECORDCHECK { CHECK_GOOD, CHECK_MISSING, CHECK_NOHEADER, CHECK_SIZE, CHECK_CUT, CHECK_SHORT, CHECK_NOTFILE };
static_assert(CHECK_NOTFILE + 1 == VERIFY_CHECKS, "VERIFYCOUNTS counts every check");

LPCSTR CheckName(RECORDCHECK check)
{
    static const LPCSTR s_aEnglish[] = {"good", "missing", "no-header", "size", "cut-short", "short-record", "not-a-file"};
    return s_aEnglish[check];
}

LPCSTR CheckText(RECORDCHECK check)
{
    static const LPCSTR s_aEnglish[] = {"good", "file missing", "no frame header at the offset",
                                        "frame size differs from the record", "frame cut short by the file's end",
                                        "record cut short", "not a regular file"};
    static const LPCSTR s_aJapanese[] = {"正常", "ファイルがありません", "位置にフレームヘッダがありません",
                                         "フレームサイズがレコードと一致しません", "フレームがファイルの終わりで途切れています",
                                         "レコードが短すぎます", "通常のファイルではありません"};
    return g_fJapanese ? s_aJapanese[check] : s_aEnglish[check];
}

// The reference files read last, kept open for the records that follow:
// a recording that alternates between files (two series, files of two
// disks) names several in turn, and opening each anew for every record
// costs more than reading its frame header. A name that is no regular file
// is kept with its answer.
struct CHECKEDFILE {
    CHAR szPath[MAX_PATH];
    HANDLE hFile;
    ULONGLONG ullSize;
    RECORDCHECK missing;  // CHECK_GOOD for an open file
    DWORD dwUsed;         // when it was used last, for replacing the oldest
};
const int CHECKED_FILES = 8;
CHECKEDFILE s_aChecked[CHECKED_FILES];
DWORD s_dwCheckedUse;

void CloseCheckedFile(void)
{
    for (CHECKEDFILE &file : s_aChecked) {
        if (file.szPath[0] && file.hFile != INVALID_HANDLE_VALUE) CloseHandle(file.hFile);
        file.szPath[0] = '\0';
        file.hFile = INVALID_HANDLE_VALUE;
    }
}

// The entry of szPath, opened (or found wanting) when it is not kept.
CHECKEDFILE *CheckedFile(LPCSTR pszPath)
{
    CHECKEDFILE *pOldest = &s_aChecked[0];
    for (CHECKEDFILE &file : s_aChecked) {
        if (file.szPath[0] && strcmp(file.szPath, pszPath) == 0) {
            file.dwUsed = ++s_dwCheckedUse;
            return &file;
        }
        if (!file.szPath[0] || (pOldest->szPath[0] && file.dwUsed < pOldest->dwUsed)) pOldest = &file;
    }
    CHECKEDFILE *pFile = pOldest;
    if (pFile->szPath[0] && pFile->hFile != INVALID_HANDLE_VALUE) CloseHandle(pFile->hFile);
    pFile->hFile = INVALID_HANDLE_VALUE;
    pFile->ullSize = 0;
    pFile->dwUsed = ++s_dwCheckedUse;
    snprintf(pFile->szPath, sizeof(pFile->szPath), "%s", pszPath);
    // A device, a FIFO or a folder is never opened for reading: nothing
    // waits on it.
    FILEFACTS facts;
    LookAtName(pszPath, &facts);
    pFile->missing = facts.nKind == FILEKIND_MISSING ? CHECK_MISSING : facts.nKind != FILEKIND_FILE ? CHECK_NOTFILE : CHECK_GOOD;
    if (pFile->missing != CHECK_GOOD) return pFile;
    // Kept open across records, it stands in no one's way.
    pFile->hFile = CreateFileA(pszPath, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL,
                               OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
    if (pFile->hFile == INVALID_HANDLE_VALUE) {
        pFile->missing = CHECK_MISSING;
        return pFile;
    }
    if (!SizeOfOpenFile(pFile->hFile, &pFile->ullSize)) pFile->ullSize = 0;
    return pFile;
}

RECORDCHECK CheckRecord(const REFRECORD *pRec)
{
    CHAR szPath[MAX_PATH];
    if (!MapRefPath(pRec->szFileName, szPath)) return CHECK_MISSING;
    CHECKEDFILE *pFile = CheckedFile(szPath);
    if (pFile->missing != CHECK_GOOD) return pFile->missing;
    // Offsets in reference files are below 2^31, as playback reads them.
    if (pRec->dwOffset > REFFILE_MAXSIZE) return CHECK_NOHEADER;
    REFFRAMEHEADER header;
    DWORD cb = 0;
    // One call reads at the record's offset.
    OVERLAPPED at;
    memset(&at, 0, sizeof(at));
    at.Offset = pRec->dwOffset;
    if (!ReadFile(pFile->hFile, &header, sizeof(header), &cb, &at) || cb != sizeof(header) || !FrameHeaderAddsUp(&header))
        return CHECK_NOHEADER;
    if (header.dwFrameSize != RefRecordFrameSize(pRec)) return CHECK_SIZE;
    // The frame's data is there whole; a file still being written may have
    // grown since its size was taken.
    unsigned long long ullEnd = (unsigned long long)pRec->dwOffset + header.dwFrameSize;
    if (ullEnd > pFile->ullSize && !SizeOfOpenFile(pFile->hFile, &pFile->ullSize)) pFile->ullSize = 0;
    return ullEnd <= pFile->ullSize ? CHECK_GOOD : CHECK_CUT;
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

int ReadAviNames(LPCSTR pszAvi, PFNAVINAME pfnName, void *pv, BOOL *pfNote)
{
    *pfNote = FALSE;
    if (!OpenAvi(pszAvi, FALSE)) return AVINAMES_FAILED;
    SHIFTREQUEST req;
    InitShiftRequest(&req);
    SHIFTRESULT res;
    InitShiftResult(&res);
    BOOL fComplete = RunDetection(&s_info, &req, &res);
    FreeShiftResult(&res);
    if (!fComplete) {
        CloseAvi();
        return AVINAMES_FAILED;
    }
    int nRead = s_info.dwUnseen ? AVINAMES_PARTIAL : AVINAMES_WHOLE;
    *pfNote = HasRecoveryNote(&s_info);
    for (DWORD k = 0; k < g_nRefFiles; k++) {
        CHAR szPath[MAX_PATH];
        if (!MapRefPath(RefFileName(k), szPath)) snprintf(szPath, sizeof(szPath), "%s", RefFilePath(k));
        pfnName(pv, RefFilePath(k), szPath, &g_pRefFiles[k].facts);
    }
    CloseAvi();
    return nRead;
}

int RefsCommand(int argc, char **argv)
{
    // refs --who FILE DIR...
    for (int i = 0; i < argc; i++)
        if (strcmp(argv[i], "--who") == 0) {
            if (i + 1 >= argc) return UsageError("refs", "--who");
            LPCSTR pszFile = argv[i + 1];
            for (int k = i; k + 2 < argc; k++) argv[k] = argv[k + 2];
            return WhoCommand(pszFile, argc - 2, argv);
        }
    LPCSTR pszAvi = NULL;
    BOOL fJson = FALSE;
    int nStatus = ParseMapsAndAvi("refs", argc, argv, &pszAvi, &fJson, NULL);
    if (nStatus != SPOOL_OK) return nStatus;
    if (!OpenAvi(pszAvi, FALSE)) return SPOOL_ERROR;
    if (!Detect()) {
        CloseAvi();
        return SPOOL_ERROR;
    }
    BOOL fPartial = ReportUnseen(pszAvi);
    if (ReportNote(pszAvi)) fPartial = TRUE;
    int nMissing = 0;
    if (fJson) {
        fputs("{\"avi\":", g_pOut);
        PutJsonString(g_pOut, pszAvi);
        fprintf(g_pOut, ",\"frames\":%lu,\"files\":[", (unsigned long)s_info.nFrames);
    } else {
        Say(g_pOut, "%s: %lu frames, %lu reference files\n%8s %8s %14s  %s\n",
            "%s: %lu フレーム, 参照ファイル %lu 個\n%8s %8s %14s  %s\n", pszAvi, (unsigned long)s_info.nFrames,
            (unsigned long)g_nRefFiles, g_fJapanese ? "フレーム" : "frames", g_fJapanese ? "最初" : "first",
            g_fJapanese ? "サイズ" : "size", g_fJapanese ? "ファイル" : "file");
    }
    for (DWORD k = 0; k < g_nRefFiles; k++) {
        // The name as this system writes names.
        LPCSTR pszName = RefFilePath(k);
        CHAR szPath[MAX_PATH];
        unsigned long long ullSize = 0;
        // A regular file is there (a device or a FIFO of that name is none).
        FILEFACTS facts;
        BOOL fExists = MapRefPath(RefFileName(k), szPath);
        if (fExists) LookAtName(szPath, &facts);
        fExists = fExists && facts.nKind == FILEKIND_FILE;
        if (fExists) ullSize = facts.ullSize;
        nMissing += fExists ? 0 : 1;
        const REFFILEENTRY *pEntry = &g_pRefFiles[k];
        // Why the file would not be moved or deleted.
        LPCSTR pszRefusal = (pEntry->dwRefusal & REFUSE_RELATIVE) ? "relative"
                            : (pEntry->dwRefusal & REFUSE_LINK)   ? "link"
                            : pEntry->dwRefusal                   ? "not-a-file"
                                                                  : NULL;
        if (fJson) {
            fputs(k ? ",{\"name\":" : "{\"name\":", g_pOut);
            PutJsonString(g_pOut, pszName);
            fputs(",\"path\":", g_pOut);
            PutJsonString(g_pOut, szPath);
            fprintf(g_pOut, ",\"frames\":%lu,\"first\":%lu,\"exists\":%s,\"size\":", (unsigned long)pEntry->dwFrameCount,
                    (unsigned long)pEntry->dwFirstFrame, fExists ? "true" : "false");
            if (fExists) fprintf(g_pOut, "%llu", ullSize);
            else fputs("null", g_pOut);
            // Every spelling by which records name the file.
            fputs(",\"names\":[", g_pOut);
            for (DWORD i = FirstRefSpelling(k); i != NO_SPELLING; i = NextRefSpelling(i)) {
                if (i != FirstRefSpelling(k)) fputc(',', g_pOut);
                PutJsonString(g_pOut, RefSpellingPath(i));
            }
            fputs("],\"refused\":", g_pOut);
            if (pszRefusal) fprintf(g_pOut, "\"%s\"}", pszRefusal);
            else fputs("null}", g_pOut);
        } else {
            CHAR szSize[24];
            if (fExists) snprintf(szSize, sizeof(szSize), "%llu", ullSize);
            else snprintf(szSize, sizeof(szSize), "%s", g_fJapanese ? "なし" : "missing");
            fprintf(g_pOut, "%8lu %8lu %14s  %s", (unsigned long)pEntry->dwFrameCount, (unsigned long)pEntry->dwFirstFrame,
                    szSize, pszName);
            if (strcmp(szPath, pszName) != 0) fprintf(g_pOut, " -> %s", szPath);
            fputc('\n', g_pOut);
            for (DWORD i = NextRefSpelling(FirstRefSpelling(k)); i != NO_SPELLING; i = NextRefSpelling(i))
                Say(g_pOut, "%33s also named %s\n", "%33s 別名 %s\n", "", RefSpellingPath(i));
            if (pszRefusal)
                Say(g_pOut, "%33s not moved or deleted: %s\n", "%33s 移動も削除もしません: %s\n", "",
                    (pEntry->dwRefusal & REFUSE_RELATIVE) ? (g_fJapanese ? "相対パス" : "a relative name")
                    : (pEntry->dwRefusal & REFUSE_LINK)   ? (g_fJapanese ? "リンク" : "a link")
                                                          : (g_fJapanese ? "通常のファイルではない" : "not a regular file"));
        }
    }
    if (fJson) fputs("]}\n", g_pOut);
    CloseAvi();
    return nMissing || fPartial ? SPOOL_PROBLEMS : SPOOL_OK;
}

namespace {

// A bad record's report: its frame, its check, its name as shown, its offset.
typedef void (*PFNBADRECORD)(void *pv, DWORD n, RECORDCHECK check, LPCSTR pszShown, DWORD dwOffset);

// Checks every record of the loaded AVI, the bar drawn with fBar; FALSE
// when a frame could not be read.
BOOL CheckLoadedRecords(VERIFYCOUNTS *pCounts, PFNBADRECORD pfnBad, void *pv, BOOL fBar)
{
    DWORD cbScratch = (DWORD)(g_pbWork + g_cbWork - g_pbScratch);
    pCounts->nFrames = s_info.nFrames;
    BOOL fRead = TRUE;
    if (fBar) BeginProgress("verify", s_info.nFrames, PROGRESS_FRAMES);
    for (DWORD n = 0; n < s_info.nFrames; n++) {
        if (fBar) ShowProgress(n);
        DWORD cb = 0;
        if (!AccessFrameData(&s_info, g_pbScratch, cbScratch, n, FALSE, &cb)) {
            fRead = FALSE;
            break;
        }
        if (!IsRefRecord(g_pbScratch, cb)) {
            pCounts->nOther++;
            continue;
        }
        pCounts->nRecords++;
        REFRECORD rec;
        memset(&rec, 0, sizeof(rec));
        memcpy(&rec, g_pbScratch, cb < sizeof(rec) ? cb : sizeof(rec));
        rec.szFileName[MAX_PATH - 1] = '\0';
        RECORDCHECK check = cb < sizeof(rec) ? CHECK_SHORT : CheckRecord(&rec);
        pCounts->anChecks[check]++;
        if (check == CHECK_GOOD) continue;
        pCounts->nBad++;
        CHAR szShown[MAX_PATH];
        ShownRecordName(rec.szFileName, szShown);
        if (pfnBad) pfnBad(pv, n, check, szShown, rec.dwOffset);
    }
    if (fBar) EndProgress();
    CloseCheckedFile();
    return fRead;
}

struct VERIFYOUT {
    BOOL fJson, fVerbose;
    DWORD nShown;
};

void PutBadRecord(void *pv, DWORD n, RECORDCHECK check, LPCSTR pszShown, DWORD dwOffset)
{
    VERIFYOUT *pOut = (VERIFYOUT *)pv;
    if (pOut->fJson) {
        fprintf(g_pOut, "%s{\"frame\":%lu,\"problem\":\"%s\",\"file\":", pOut->nShown ? "," : "", (unsigned long)n,
                CheckName(check));
        PutJsonString(g_pOut, pszShown);
        fprintf(g_pOut, ",\"offset\":%lu}", (unsigned long)dwOffset);
        pOut->nShown++;
    } else if (pOut->fVerbose) {
        EndProgress();
        Say(g_pOut, "frame %lu: %s: %s at %lu\n", "フレーム %lu: %s: %s 位置 %lu\n", (unsigned long)n, CheckText(check),
            pszShown, (unsigned long)dwOffset);
    }
}

}  // namespace

int VerifyAviQuietly(LPCSTR pszAvi, VERIFYCOUNTS *pCounts)
{
    memset(pCounts, 0, sizeof(*pCounts));
    if (!OpenAvi(pszAvi, FALSE)) return SPOOL_ERROR;
    BOOL fRead = CheckLoadedRecords(pCounts, NULL, NULL, FALSE);
    BOOL fProblems = s_nLoadMessages > 0 || s_info.dwUnseen || HasRecoveryNote(&s_info);
    CloseAvi();
    if (!fRead) return SPOOL_ERROR;
    return pCounts->nBad || fProblems ? SPOOL_PROBLEMS : SPOOL_OK;
}

int VerifyCommand(int argc, char **argv)
{
    for (int i = 0; i < argc; i++)
        if (strcmp(argv[i], "-r") == 0 || strcmp(argv[i], "--recursive") == 0) return TreeCommand("verify", argc, argv);
    LPCSTR pszAvi = NULL;
    BOOL fJson = FALSE, fVerbose = FALSE;
    int nStatus = ParseMapsAndAvi("verify", argc, argv, &pszAvi, &fJson, &fVerbose);
    if (nStatus != SPOOL_OK) return nStatus;
    if (!OpenAvi(pszAvi, FALSE)) return SPOOL_ERROR;
    // What loading reported (an index that lists fewer frames than the
    // header says, say) is a problem of the AVI, as are frames the reader
    // did not see and a note that stays.
    BOOL fLoadReported = s_nLoadMessages > 0;
    if (ReportUnseen(pszAvi)) fLoadReported = TRUE;
    if (ReportNote(pszAvi)) fLoadReported = TRUE;
    if (fJson) {
        fputs("{\"avi\":", g_pOut);
        PutJsonString(g_pOut, pszAvi);
        fputs(",\"bad\":[", g_pOut);
    }
    VERIFYCOUNTS counts;
    memset(&counts, 0, sizeof(counts));
    VERIFYOUT out = {fJson, fVerbose, 0};
    BOOL fRead = CheckLoadedRecords(&counts, PutBadRecord, &out, TRUE);
    if (fJson) {
        fprintf(g_pOut, "],\"frames\":%lu,\"records\":%lu,\"other\":%lu,\"good\":%lu}\n", (unsigned long)counts.nFrames,
                (unsigned long)counts.nRecords, (unsigned long)counts.nOther, (unsigned long)counts.anChecks[CHECK_GOOD]);
    } else {
        Say(g_pOut, "%s: %lu frames, %lu records, %lu good, %lu bad, %lu other frames\n",
            "%s: %lu フレーム, 参照レコード %lu, 正常 %lu, 不正 %lu, その他のフレーム %lu\n", pszAvi,
            (unsigned long)counts.nFrames, (unsigned long)counts.nRecords, (unsigned long)counts.anChecks[CHECK_GOOD],
            (unsigned long)counts.nBad, (unsigned long)counts.nOther);
        for (int c = CHECK_MISSING; c <= CHECK_NOTFILE; c++)
            if (counts.anChecks[c])
                Say(g_pOut, "  %s: %lu\n", "  %s: %lu\n", CheckText((RECORDCHECK)c), (unsigned long)counts.anChecks[c]);
    }
    CloseAvi();
    if (!fRead) return SPOOL_ERROR;
    return counts.nBad || fLoadReported ? SPOOL_PROBLEMS : SPOOL_OK;
}


namespace {

// The options of move and delete, and the AVI and files after them.
struct CHANGEARGS {
    LPCSTR pszAvi;
    LPCSTR pszBase;
    BOOL fCopy, fDeleteAfter, fForce, fAll, fYes;
    int nFiles;
    char **apszFiles;
};

// Opens the AVI for changes, recovers a relocation cut short, detects its
// files: the table's entries of the named files then in *ppiFiles.
// SPOOL_OK, or the status to end with.
int PrepareChange(LPCSTR pszCommand, const CHANGEARGS *pArgs, DWORD **ppiFiles, DWORD *pnFiles)
{
    *ppiFiles = NULL;
    if (!OpenAvi(pArgs->pszAvi, TRUE)) return SPOOL_ERROR;
    if (!Recover(pArgs->pszAvi) || !Detect()) return SPOOL_ERROR;
    *ppiFiles = NamedFiles(pszCommand, pArgs->nFiles, pArgs->apszFiles, pnFiles);
    return *ppiFiles ? SPOOL_OK : SPOOL_ERROR;
}

}  // namespace

int MoveCommand(int argc, char **argv)
{
    CHANGEARGS args;
    memset(&args, 0, sizeof(args));
    args.apszFiles = (char **)calloc((size_t)argc + 1, sizeof(char *));
    if (!args.apszFiles) return SPOOL_ERROR;
    for (int i = 0; i < argc; i++) {
        LPCSTR pszValue = NULL;
        if (TakeOption(argc, argv, &i, "--base", NULL, &pszValue)) {
            if (!pszValue) {
                free(args.apszFiles);
                return UsageError("move", argv[i]);
            }
            args.pszBase = pszValue;
        } else if (TakeOption(argc, argv, &i, "--copy", NULL, NULL)) {
            args.fCopy = TRUE;
        } else if (TakeOption(argc, argv, &i, "--delete-after", NULL, NULL)) {
            args.fDeleteAfter = TRUE;
        } else if (TakeOption(argc, argv, &i, "--force", NULL, NULL)) {
            args.fForce = TRUE;
        } else if (argv[i][0] == '-') {
            free(args.apszFiles);
            return UsageError("move", argv[i]);
        } else if (!args.pszAvi) {
            args.pszAvi = argv[i];
        } else {
            args.apszFiles[args.nFiles++] = argv[i];
        }
    }
    if (!args.pszAvi || !args.pszBase) {
        free(args.apszFiles);
        return UsageError("move", args.pszAvi ? "--base NEWBASE" : "AVI");
    }
    DWORD *piFiles = NULL, nFiles = 0;
    int nStatus = PrepareChange("move", &args, &piFiles, &nFiles);
    if (nStatus == SPOOL_OK) {
        SHIFTREQUEST req;
        CLIRUN run;
        StartRequest(&req, &run, args.fForce);
        req.piFiles = piFiles;
        req.nFiles = nFiles;
        snprintf(req.szNewBase, sizeof(req.szNewBase), "%s", args.pszBase);
        req.fCopy = args.fCopy;
        req.fDeleteOld = args.fDeleteAfter;
        SHIFTRESULT res;
        InitShiftResult(&res);
        RunRelocation(&s_info, &req, &res);
        EndProgress();
        if (res.fForeignDeclined)
            Complain("move: nothing was moved; give --force to move files whose format cannot be checked",
                     "move: 何も移動していません. 形式を確かめられないファイルも移動するには --force を指定して下さい");
        nStatus = Failed(&res) ? SPOOL_ERROR : SPOOL_OK;
        FreeShiftResult(&res);
    }
    free(piFiles);
    CloseAvi();
    free(args.apszFiles);
    return nStatus;
}

int DeleteCommand(int argc, char **argv)
{
    CHANGEARGS args;
    memset(&args, 0, sizeof(args));
    args.apszFiles = (char **)calloc((size_t)argc + 1, sizeof(char *));
    if (!args.apszFiles) return SPOOL_ERROR;
    for (int i = 0; i < argc; i++) {
        if (TakeOption(argc, argv, &i, "--all", NULL, NULL)) args.fAll = TRUE;
        else if (TakeOption(argc, argv, &i, "--yes", "-y", NULL)) args.fYes = TRUE;
        else if (TakeOption(argc, argv, &i, "--force", NULL, NULL)) args.fForce = TRUE;
        else if (argv[i][0] == '-') {
            free(args.apszFiles);
            return UsageError("delete", argv[i]);
        } else if (!args.pszAvi) args.pszAvi = argv[i];
        else args.apszFiles[args.nFiles++] = argv[i];
    }
    int nStatus = SPOOL_ERROR;
    DWORD *piFiles = NULL, nFiles = 0;
    if (!args.pszAvi || (args.fAll == (args.nFiles > 0))) {
        nStatus = UsageError("delete", args.pszAvi ? "FILE... | --all" : "AVI");
    } else if (args.fAll && !args.fYes) {
        Complain("--all deletes every reference file and the AVI itself: give --yes as well",
                 "--all はすべての参照ファイルとAVIファイルを削除します: --yes も指定して下さい");
    } else if ((nStatus = PrepareChange("delete", &args, &piFiles, &nFiles)) == SPOOL_OK) {
        SHIFTREQUEST req;
        CLIRUN run;
        StartRequest(&req, &run, args.fForce);
        req.fAll = args.fAll;
        req.piFiles = piFiles;
        req.nFiles = nFiles;
        SHIFTRESULT res;
        InitShiftResult(&res);
        RunDeletion(&s_info, &req, &res);
        EndProgress();
        if (res.fForeignDeclined)
            Complain("delete: nothing was deleted; give --force to delete files whose format cannot be checked",
                     "delete: 何も削除していません. 形式を確かめられないファイルも削除するには --force を指定して下さい");
        nStatus = Failed(&res) ? SPOOL_ERROR : CountOutcomes(&res, OUTCOME_KEPT) ? SPOOL_PROBLEMS : SPOOL_OK;
        int nDeleted = 0;
        for (int i = 0; i < res.nOutcomes; i++)
            nDeleted += res.pOutcomes[i].nOutcome == OUTCOME_DELETED && res.pOutcomes[i].iFile >= 0 ? 1 : 0;
        if (nStatus != SPOOL_ERROR) {
            if (args.fAll)
                Say(g_pOut, "deleted %d reference files and %s\n", "参照ファイル %d 個と %s を削除しました\n", nDeleted,
                    args.pszAvi);
            else
                Say(g_pOut, "deleted %d reference files\n", "参照ファイル %d 個を削除しました\n", nDeleted);
        }
        FreeShiftResult(&res);
    }
    free(piFiles);
    CloseAvi();
    free(args.apszFiles);
    return nStatus;
}

int RecoverCommand(int argc, char **argv)
{
    LPCSTR pszAvi = NULL;
    for (int i = 0; i < argc; i++) {
        if (argv[i][0] == '-' || pszAvi) return UsageError("recover", argv[i]);
        pszAvi = argv[i];
    }
    if (!pszAvi) return UsageError("recover", "AVI");
    if (!OpenAvi(pszAvi, TRUE)) return SPOOL_ERROR;
    if (!HasRecoveryNote(&s_info)) {
        Say(g_pOut, "%s: no relocation was cut short\n", "%s: 中断された移動はありません\n", pszAvi);
        CloseAvi();
        return SPOOL_OK;
    }
    BOOL fRecovered = Recover(pszAvi);
    CloseAvi();
    return fRecovered ? SPOOL_OK : SPOOL_PROBLEMS;
}
