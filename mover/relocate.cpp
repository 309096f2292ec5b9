// Relocating reference files: each selected file gets a new name from a new
// base, moved on its drive or copied to another, and every record of the
// AVI that names it is rewritten. The AVI never names a file that is not
// there: a failed rewrite puts the file and the records back, and a note
// beside the AVI lets a relocation cut short by a kill or a power loss be
// finished or rolled back when the AVI is opened again.
#include "mover/shift.h"

#include "codec/refformat.h"
#include "mover/message.h"
#include "scaffold/paths.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#ifndef _WIN32
#include <sys/stat.h>

#include <string>
#endif

#define COPY_CHUNK 0x100000u
#define NOTE_SUFFIX ".relocating"
#define NOTE_MAGIC "Spoolshift relocation 1"

BOOL g_fShiftAlwaysCopy;

namespace {

void Pump(void)
{
    if (g_ShiftUi.pfnPumpMessage) g_ShiftUi.pfnPumpMessage();
}

void ShowProgress(LPCSTR pszFormat, int nPercent, int *pnShown)
{
    if (nPercent == *pnShown) return;
    *pnShown = nPercent;
    CHAR sz[32];
    snprintf(sz, sizeof(sz), pszFormat, nPercent);
    ShiftSetText(IDC_SHIFT_PROGRESS, sz);
    if (g_ShiftUi.pfnUpdate) g_ShiftUi.pfnUpdate();
}

int ShowTwo(LPCSTR pszFormat, LPCSTR psz1, LPCSTR psz2, UINT uType)
{
    CHAR szText[3 * MAX_PATH + 128];
    snprintf(szText, sizeof(szText), pszFormat, psz1, psz2);
    return ShowShiftMessage(szText, uType);
}

// Whether the new name lies on another drive than the old file: by drive
// letter on Windows; elsewhere by the file systems of the old file and of
// the new name's folder, which a rename cannot cross.
BOOL OnAnotherDrive(LPCSTR pszOld, LPCSTR pszNew)
{
#ifdef _WIN32
    return GetDriveNumber(pszNew) != GetDriveNumber(pszOld);
#else
    std::string folder(pszNew, (size_t)(GetFileNamePart(pszNew) - pszNew));
    struct stat stOld, stFolder;
    if (stat(pszOld, &stOld) != 0 || stat(folder.empty() ? "." : folder.c_str(), &stFolder) != 0) return FALSE;
    return stOld.st_dev != stFolder.st_dev;
#endif
}

// Writes a small file and sees it reach the disk.
BOOL WriteWholeFile(LPCSTR pszPath, const void *pData, DWORD cb)
{
    HANDLE h = CreateFileA(pszPath, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    if (h == INVALID_HANDLE_VALUE) return FALSE;
    DWORD cbDone = 0;
    BOOL fOk = WriteFile(h, pData, cb, &cbDone, NULL) && cbDone == cb && FlushFileBuffers(h);
    return CloseHandle(h) && fOk;
}

struct NOTE {
    CHAR szOld[MAX_PATH];
    CHAR szNew[MAX_PATH];
    BOOL fCopy;
    BOOL fDeleteOld;
};

BOOL WriteNote(LPCSTR pszNote, const NOTE *pNote)
{
    CHAR szText[3 * MAX_PATH];
    int cch = snprintf(szText, sizeof(szText), NOTE_MAGIC "\nold=%s\nnew=%s\ncopy=%d\ndeleteold=%d\n", pNote->szOld,
                       pNote->szNew, pNote->fCopy ? 1 : 0, pNote->fDeleteOld ? 1 : 0);
    return cch > 0 && cch < (int)sizeof(szText) && WriteWholeFile(pszNote, szText, (DWORD)cch);
}

BOOL ReadNote(LPCSTR pszNote, NOTE *pNote)
{
    memset(pNote, 0, sizeof(*pNote));
    HANDLE h = CreateFileA(pszNote, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
    if (h == INVALID_HANDLE_VALUE) return FALSE;
    CHAR szText[3 * MAX_PATH];
    DWORD cb = 0;
    BOOL fRead = ReadFile(h, szText, sizeof(szText) - 1, &cb, NULL);
    CloseHandle(h);
    if (!fRead) return FALSE;
    szText[cb] = '\0';
    if (strncmp(szText, NOTE_MAGIC "\n", sizeof(NOTE_MAGIC)) != 0) return FALSE;
    int nFields = 0;
    for (char *pLine = szText + sizeof(NOTE_MAGIC); *pLine;) {
        char *pEnd = strchr(pLine, '\n');
        if (!pEnd) break;
        *pEnd = '\0';
        if (strncmp(pLine, "old=", 4) == 0 && snprintf(pNote->szOld, MAX_PATH, "%s", pLine + 4) < MAX_PATH) nFields++;
        else if (strncmp(pLine, "new=", 4) == 0 && snprintf(pNote->szNew, MAX_PATH, "%s", pLine + 4) < MAX_PATH) nFields++;
        else if (strncmp(pLine, "copy=", 5) == 0) pNote->fCopy = atoi(pLine + 5) != 0, nFields++;
        else if (strncmp(pLine, "deleteold=", 10) == 0) pNote->fDeleteOld = atoi(pLine + 10) != 0, nFields++;
        pLine = pEnd + 1;
    }
    return nFields == 4 && pNote->szOld[0] && pNote->szNew[0];
}

// The size of a file, or FALSE.
BOOL SizeOfFile(LPCSTR pszPath, DWORD *pcb)
{
    HANDLE h = CreateFileA(pszPath, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, NULL);
    if (h == INVALID_HANDLE_VALUE) return FALSE;
    DWORD dwHigh = 0;
    *pcb = GetFileSize(h, &dwHigh);
    CloseHandle(h);
    return dwHigh == 0 && *pcb != INVALID_FILE_SIZE;
}

// TRUE when two files hold the same bytes.
BOOL SameContent(LPCSTR pszA, LPCSTR pszB)
{
    DWORD cbA = 0, cbB = 0;
    if (!SizeOfFile(pszA, &cbA) || !SizeOfFile(pszB, &cbB) || cbA != cbB) return FALSE;
    HANDLE hA = CreateFileA(pszA, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_EXISTING, 0, NULL);
    HANDLE hB = CreateFileA(pszB, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_EXISTING, 0, NULL);
    BYTE *pb = (BYTE *)malloc(2 * (size_t)COPY_CHUNK);
    BOOL fSame = hA != INVALID_HANDLE_VALUE && hB != INVALID_HANDLE_VALUE && pb;
    for (DWORD cbLeft = cbA; fSame && cbLeft;) {
        DWORD cb = cbLeft < COPY_CHUNK ? cbLeft : COPY_CHUNK, cbReadA = 0, cbReadB = 0;
        fSame = ReadFile(hA, pb, cb, &cbReadA, NULL) && ReadFile(hB, pb + COPY_CHUNK, cb, &cbReadB, NULL) &&
                cbReadA == cb && cbReadB == cb && memcmp(pb, pb + COPY_CHUNK, cb) == 0;
        cbLeft -= cb;
    }
    free(pb);
    if (hA != INVALID_HANDLE_VALUE) CloseHandle(hA);
    if (hB != INVALID_HANDLE_VALUE) CloseHandle(hB);
    return fSame;
}

// Rewrites the name in the frames that name pszFrom: those of list position
// k, or with fAll every frame. FALSE after Part of the frame I/O reported a
// failure; *pnDone counts the frames rewritten.
BOOL RewriteNames(AviInfo *pInfo, BOOL fAll, DWORD k, LPCSTR pszFrom, LPCSTR pszTo, DWORD *pnDone, BOOL fProgress)
{
    DWORD cbScratch = g_pbScratch ? (DWORD)(g_pbWork + g_cbWork - g_pbScratch) : 0;
    DWORD nFrames = fAll ? pInfo->nFrames : g_pRefFiles[k].dwFrameCount;
    DWORD nCounter = 0;
    int nShown = -1;
    BOOL fOk = TRUE;
    size_t cchTo = strlen(pszTo);
    for (DWORD i = 0; i < pInfo->nFrames && fOk; i++) {
        if (!fAll && pInfo->pFrames[i].dwRef != k) continue;
        DWORD cb = 0;
        if (!AccessFrameData(pInfo, g_pbScratch, cbScratch, i, FALSE, &cb)) {
            fOk = FALSE;
            break;
        }
        DWORD cbField = 0;
        BYTE *pField = FindNameField(g_pbScratch, cb, pInfo->fccHandler, &cbField);
        if (pField && cchTo < cbField && _strnicmp((const char *)pField, pszFrom, cbField) == 0) {
            memset(pField, 0, cbField);
            memcpy(pField, pszTo, cchTo);
            if (!AccessFrameData(pInfo, g_pbScratch, cbScratch, i, TRUE, &cb)) {
                fOk = FALSE;
                break;
            }
            if (pnDone) (*pnDone)++;
        }
        if (fProgress) {
            nCounter += 100;
            ShowProgress("書換   %3d %%", nFrames ? (int)(nCounter / nFrames) : 100, &nShown);
            Pump();
        }
    }
    // The records go to the disk before anything depends on them.
    if (pInfo->hmmio) mmioFlush(pInfo->hmmio, MMIO_EMPTYBUF);
    return fOk;
}

}  // namespace

BOOL MakeRecoveryNotePath(LPCSTR pszAviFile, LPSTR pszNote)
{
    return pszAviFile[0] && snprintf(pszNote, MAX_PATH, "%s" NOTE_SUFFIX, pszAviFile) < MAX_PATH;
}

int NextRefNumber(LPCSTR pszFullBase) { return NextRefFileNumber(pszFullBase); }

BOOL CopyRefFile(LPCSTR pszOld, LPCSTR pszNew)
{
    HANDLE hOld = CreateFileA(pszOld, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_EXISTING,
                              FILE_FLAG_SEQUENTIAL_SCAN, NULL);
    HANDLE hNew = hOld == INVALID_HANDLE_VALUE
                      ? INVALID_HANDLE_VALUE
                      : CreateFileA(pszNew, GENERIC_WRITE, 0, NULL, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, NULL);
    BOOL fCreated = hNew != INVALID_HANDLE_VALUE;
    DWORD dwHigh = 0;
    DWORD cbSize = fCreated ? GetFileSize(hOld, &dwHigh) : 0;
    DWORD cbScratch = g_pbScratch ? (DWORD)(g_pbWork + g_cbWork - g_pbScratch) : 0;
    BOOL fOk = fCreated && dwHigh == 0 && cbSize != INVALID_FILE_SIZE && cbScratch >= COPY_CHUNK;
    BOOL fAborted = FALSE;
    int nShown = -1;
    for (DWORD cbLeft = cbSize; fOk && cbLeft;) {
        DWORD cb = cbLeft < COPY_CHUNK ? cbLeft : COPY_CHUNK, cbRead = 0, cbWritten = 0;
        fOk = ReadFile(hOld, g_pbScratch, cb, &cbRead, NULL) && cbRead == cb &&
              WriteFile(hNew, g_pbScratch, cb, &cbWritten, NULL) && cbWritten == cb;
        cbLeft -= cb;
        ShowProgress("コピー %3ld %%", (int)(((unsigned long long)(cbSize - cbLeft) * 100) / cbSize), &nShown);
        Pump();
        if (fOk && g_fShiftAbort) fAborted = TRUE, fOk = FALSE;
    }
    if (fOk && cbSize == 0) ShowProgress("コピー %3ld %%", 100, &nShown);
    // The copy reaches the disk, whole, before anything relies on it.
    if (fOk) fOk = FlushFileBuffers(hNew);
    if (fCreated && !CloseHandle(hNew)) fOk = FALSE;
    if (hOld != INVALID_HANDLE_VALUE) CloseHandle(hOld);
    DWORD cbCopied = 0;
    if (fOk && (!SizeOfFile(pszNew, &cbCopied) || cbCopied != cbSize)) fOk = FALSE;
    if (fOk) return TRUE;
    // Nothing half copied stays behind.
    if (fCreated) DeleteFileA(pszNew);
    if (fAborted) ShowTwo("参照ファイル%sの%sへのコピーは中止されました!", pszOld, pszNew, MB_OK);
    else ShowTwo("参照ファイル%sの%sへのコピーでエラーが発生しました!", pszOld, pszNew, MB_OK | MB_ICONQUESTION);
    return FALSE;
}

BOOL RewriteRefNames(AviInfo *pInfo, DWORD k, LPCSTR pszOld, LPCSTR pszNew, DWORD *pnDone)
{
    return RewriteNames(pInfo, FALSE, k, pszOld, pszNew, pnDone, TRUE);
}

namespace {

// Moves or copies one file and rewrites its records; FALSE when the command
// is to end. The list item k is taken out and put back with the name that
// the AVI's frames name afterwards.
BOOL RelocateOne(AviInfo *pInfo, int k, LPCSTR pszOld, LPCSTR pszBase, LPCSTR pszNote)
{
    const REFLISTUI &list = g_ShiftUi.list;
    NOTE note;
    memset(&note, 0, sizeof(note));
    snprintf(note.szOld, MAX_PATH, "%s", pszOld);
    int nNumber = NextRefNumber(pszBase);
    if (nNumber > REFFILE_MAXNUMBER) {
        CHAR szText[MAX_PATH + 128];
        snprintf(szText, sizeof(szText), "新しい参照ファイルベース名%sの番号が999を超えます!", pszBase);
        ShowShiftMessage(szText, MB_OK | MB_ICONERROR);
        return FALSE;
    }
    snprintf(note.szNew, MAX_PATH, "%s.%03d", pszBase, nNumber);
    const REFFILEENTRY *pEntry = &g_pRefFiles[k];
    if (g_ShiftUi.pfnShowFrame) g_ShiftUi.pfnShowFrame(pEntry->dwFirstFrame);
    ShiftSetText(IDC_SHIFT_CURFILE, pszOld);
    if (list.pfnDelete) list.pfnDelete(k);
    // Spoolcap lets go of the files it reads.
    OpenFrameCodec(pInfo, FALSE);
    note.fCopy = g_fShiftAlwaysCopy || OnAnotherDrive(pszOld, note.szNew);
    note.fDeleteOld = note.fCopy && g_ShiftUi.pfnIsChecked && g_ShiftUi.pfnIsChecked(IDC_SHIFT_DELETEOLD);
    LPCSTR pszListed = pszOld;
    BOOL fContinue = FALSE;
    if (!WriteNote(pszNote, &note)) {
        ShowShiftMessagePath("%sが作成できません!", pszNote, MB_OK | MB_ICONERROR);
    } else if (!note.fCopy && !MoveFileA(pszOld, note.szNew)) {
        ShowTwo("参照ファイル%sの%sへの移動でエラーが発生しました!", pszOld, note.szNew, MB_OK | MB_ICONQUESTION);
        DeleteFileA(pszNote);
    } else if (note.fCopy && !CopyRefFile(pszOld, note.szNew)) {
        DeleteFileA(pszNote);
    } else {
        DWORD nDone = 0;
        if (RewriteRefNames(pInfo, (DWORD)k, pszOld, note.szNew, &nDone)) {
            pszListed = note.szNew;
            fContinue = TRUE;
            // The old file goes only once the AVI names the copy.
            if (note.fDeleteOld && !DeleteFileA(pszOld)) {
                ShowShiftMessagePath("古い参照ファイル%sの削除でエラーが発生しました!", pszOld, MB_OK | MB_ICONQUESTION);
                fContinue = FALSE;
            }
            DeleteFileA(pszNote);
        } else {
            // The frame error was shown; the frame that failed still names
            // the old file. The records already rewritten go back first,
            // then the file.
            DWORD nBack = 0;
            BOOL fRecords = nDone == 0 || RewriteNames(pInfo, FALSE, (DWORD)k, note.szNew, pszOld, &nBack, FALSE);
            if (fRecords && note.fCopy) {
                // A copy that cannot be deleted is left over, named by none.
                DeleteFileA(note.szNew);
                DeleteFileA(pszNote);
            } else if (fRecords && MoveFileA(note.szNew, pszOld)) {
                DeleteFileA(pszNote);
            } else {
                // Some frames name the new file, or the file cannot go back:
                // the note stays, and the next opening of the AVI finishes
                // the relocation.
                pszListed = note.szNew;
                ShowShiftMessagePath("AVIファイルのフレームは参照ファイル%sを参照しています!", note.szNew,
                                     MB_OK | MB_ICONERROR);
            }
        }
    }
    OpenFrameCodec(pInfo, TRUE);
    ShiftSetText(IDC_SHIFT_CURFILE, "");
    if (list.pfnInsert) list.pfnInsert(k, pszListed);
    return fContinue;
}

}  // namespace

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

    CHAR szField[MAX_PATH] = "", szBase[MAX_PATH] = "", szNote[MAX_PATH];
    if (g_ShiftUi.pfnGetItemText) g_ShiftUi.pfnGetItemText(IDC_SHIFT_NEWBASE, szField);
    DWORD cchBase = GetFullPathNameA(szField, MAX_PATH, szBase, NULL);
    const REFLISTUI &list = g_ShiftUi.list;
    if (!MakeRecoveryNotePath(pInfo->szAviFile, szNote)) {
        ShowShiftMessagePath("%sが作成できません!", pInfo->szAviFile, MB_OK | MB_ICONERROR);
    } else if (cchBase == 0 || cchBase >= MAX_PATH) {
        ShowShiftMessagePath("新しい参照ファイルベース名%sが不正です!", szField, MB_OK | MB_ICONERROR);
    } else {
        for (;;) {
            int k = -1;
            for (int i = 0, n = list.pfnGetCount ? list.pfnGetCount() : 0; i < n && k < 0; i++)
                if (list.pfnIsSelected(i)) k = i;
            if (k < 0) break;
            CHAR szOld[MAX_PATH];
            if (!list.pfnGetText(k, szOld) || (DWORD)k >= g_nRefFileCap) break;
            if (!FileExists(szOld)) {
                ShowShiftMessagePath("参照ファイル%sが見つかりません!", szOld, MB_OK | MB_ICONERROR);
                break;
            }
            if (strlen(szBase) + 5 > g_pRefFiles[k].cbNameField) {
                ShowShiftMessagePath("参照ファイル%sの新しい名前が長すぎます!", szOld, MB_OK | MB_ICONERROR);
                break;
            }
            if (!RelocateOne(pInfo, k, szOld, szBase, szNote) || g_fShiftAbort) break;
            if (g_ShiftUi.pfnUpdate) g_ShiftUi.pfnUpdate();
        }
    }
    OpenFrameCodec(pInfo, TRUE);
    ShiftEnable(IDC_SHIFT_FRAMESCROLL, TRUE);
    ShiftEnable(IDC_SHIFT_ABORT, FALSE);
    ShiftEnable(IDC_SHIFT_MOVE, FALSE);
    static const int s_aOn[] = {IDC_SHIFT_BROWSEBASE, IDC_SHIFT_NEWBASE, IDC_SHIFT_DETECT,
                                IDC_SHIFT_DELETE,     IDC_SHIFT_BROWSEAVI, IDC_SHIFT_CLOSE};
    for (int nId : s_aOn) ShiftEnable(nId, TRUE);
    if (g_ShiftUi.pfnFocus) g_ShiftUi.pfnFocus(IDC_SHIFT_CLOSE);
    g_fShiftBusy = 0;
}

BOOL HasRecoveryNote(LPCSTR pszAviFile)
{
    CHAR szNote[MAX_PATH];
    return MakeRecoveryNotePath(pszAviFile, szNote) && FileExists(szNote);
}

BOOL RecoverRelocation(AviInfo *pInfo)
{
    CHAR szNote[MAX_PATH];
    NOTE note;
    if (!MakeRecoveryNotePath(pInfo->szAviFile, szNote) || !FileExists(szNote)) return TRUE;
    if (!ReadNote(szNote, &note)) {
        // A note cut short was written before any file was touched.
        DeleteFileA(szNote);
        return TRUE;
    }
    BOOL fOld = FileExists(note.szOld), fNew = FileExists(note.szNew);
    // Finished when the data is whole under the new name: moved, or copied
    // with every byte (the old file may be gone already, only after that).
    BOOL fFinish = note.fCopy ? (fNew && (!fOld || SameContent(note.szOld, note.szNew))) : (fNew && !fOld);
    if (!fFinish && !fOld) {
        ShowTwo("参照ファイル%sと%sが見つかりません!", note.szOld, note.szNew, MB_OK | MB_ICONERROR);
        return FALSE;
    }
    OpenFrameCodec(pInfo, FALSE);
    BOOL fOk = fFinish ? RewriteNames(pInfo, TRUE, 0, note.szOld, note.szNew, NULL, FALSE)
                       : RewriteNames(pInfo, TRUE, 0, note.szNew, note.szOld, NULL, FALSE);
    if (fOk && fFinish && note.fCopy && note.fDeleteOld && fOld) DeleteFileA(note.szOld);
    if (fOk && !fFinish && note.fCopy && fNew) DeleteFileA(note.szNew);
    OpenFrameCodec(pInfo, TRUE);
    if (!fOk) return FALSE;
    DeleteFileA(szNote);
    ShowTwo(fFinish ? "中断された参照ファイル%sの%sへの移動を完了しました." : "中断された参照ファイル%sの%sへの移動を元に戻しました.",
            note.szOld, note.szNew, MB_OK | MB_ICONINFORMATION);
    return TRUE;
}
