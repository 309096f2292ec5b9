// Relocating reference files: each selected file gets a new name from a new
// base, moved on its drive or copied to another, and every record of the
// AVI that names it is rewritten. The AVI never names a file that is not
// there: a failed rewrite puts the file and the records back, and a note
// beside the AVI lets a relocation cut short by a kill or a power loss be
// finished or rolled back when the AVI is opened again.
//
// The note is made anew (never taken over) and held open without sharing
// for the whole relocation, so that no other program recovers it while it
// is alive. Each step reaches the disk before the step that depends on it:
// the new file and its name before the records, the records before the old
// file goes and before the note is cleared. A note may come from anyone:
// recovery acts only on files that this AVI's records name, and deletes
// only a file whose bytes are kept in the other.
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

// Puts the note's text in the held note and sees it reach the disk; an
// empty text clears it (nothing in hand).
BOOL PutNoteText(HANDLE hNote, const char *pszText, DWORD cch)
{
    DWORD cbDone = 0;
    return SetFilePointer(hNote, 0, NULL, FILE_BEGIN) == 0 &&
           (cch == 0 || (WriteFile(hNote, pszText, cch, &cbDone, NULL) && cbDone == cch)) && SetEndOfFile(hNote) &&
           FlushFileBuffers(hNote);
}

BOOL WriteNote(HANDLE hNote, const RELOCNOTE *pNote)
{
    CHAR szText[RELOCNOTE_MAXTEXT];
    int cch = snprintf(szText, sizeof(szText), NOTE_MAGIC "\nold=%s\nnew=%s\ncopy=%d\ndeleteold=%d\n", pNote->szOld,
                       pNote->szNew, pNote->fCopy ? 1 : 0, pNote->fDeleteOld ? 1 : 0);
    return cch > 0 && cch < (int)sizeof(szText) && PutNoteText(hNote, szText, (DWORD)cch);
}

BOOL ClearNote(HANDLE hNote) { return PutNoteText(hNote, "", 0); }

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

// TRUE when the file pszPart holds the first bytes of pszWhole and no more
// (a copy cut short).
BOOL IsPrefixOf(LPCSTR pszPart, LPCSTR pszWhole)
{
    DWORD cbPart = 0, cbWhole = 0;
    if (!SizeOfFile(pszPart, &cbPart) || !SizeOfFile(pszWhole, &cbWhole) || cbPart > cbWhole) return FALSE;
    HANDLE hA = CreateFileA(pszPart, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_EXISTING, 0, NULL);
    HANDLE hB = CreateFileA(pszWhole, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_EXISTING, 0, NULL);
    BYTE *pb = (BYTE *)malloc(2 * (size_t)COPY_CHUNK);
    BOOL fSame = hA != INVALID_HANDLE_VALUE && hB != INVALID_HANDLE_VALUE && pb;
    for (DWORD cbLeft = cbPart; fSame && cbLeft;) {
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

// TRUE when two files hold the same bytes.
BOOL SameContent(LPCSTR pszA, LPCSTR pszB)
{
    DWORD cbA = 0, cbB = 0;
    return SizeOfFile(pszA, &cbA) && SizeOfFile(pszB, &cbB) && cbA == cbB && IsPrefixOf(pszA, pszB);
}

// Rewrites the name in the frames that name pszFrom (as the file system
// compares names): those of list position k, or with fAll every frame.
// FALSE after the frame I/O reported a failure, or a field too small for
// the new name; *pnDone counts the frames rewritten.
BOOL RewriteNames(AviInfo *pInfo, BOOL fAll, DWORD k, LPCSTR pszFrom, LPCSTR pszTo, DWORD *pnDone, BOOL fProgress)
{
    DWORD cbScratch = g_pbScratch ? (DWORD)(g_pbWork + g_cbWork - g_pbScratch) : 0;
    DWORD nFrames = fAll ? pInfo->nFrames : g_pRefFiles[k].dwFrameCount;
    DWORD nCounter = 0, nRewritten = 0;
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
        CHAR szName[MAX_PATH];
        if (pField) NameInField(pField, cbField, szName);
        if (pField && SameFileName(szName, pszFrom)) {
            // The checks before the first step make this impossible; were
            // it to happen, the frame would keep a name that is to go.
            if (cchTo >= cbField) {
                ShowShiftMessageM(MB_OK | MB_ICONERROR, &MSG_NEW_NAME_TOO_LONG, pszFrom);
                fOk = FALSE;
                break;
            }
            memset(pField, 0, cbField);
            memcpy(pField, pszTo, cchTo);
            if (!AccessFrameData(pInfo, g_pbScratch, cbScratch, i, TRUE, &cb)) {
                fOk = FALSE;
                break;
            }
            nRewritten++;
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
    if (fOk && nRewritten && !FlushAviToDisk(pInfo)) {
        ShowShiftMessageM(MB_OK | MB_ICONQUESTION, &MSG_FRAME_WRITE, pInfo->szAviFile);
        fOk = FALSE;
    }
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
    if (fAborted) ShowShiftMessageM(MB_OK, &MSG_COPY_ABORTED, pszOld, pszNew);
    else ShowShiftMessageM(MB_OK | MB_ICONQUESTION, &MSG_COPY_FAILED, pszOld, pszNew);
    return FALSE;
}

BOOL RewriteRefNames(AviInfo *pInfo, DWORD k, LPCSTR pszOld, LPCSTR pszNew, DWORD *pnDone)
{
    return RewriteNames(pInfo, FALSE, k, pszOld, pszNew, pnDone, TRUE);
}

namespace {

// Moves or copies one file and rewrites its records; FALSE when the command
// is to end. The list item k is taken out and put back with the name that
// the AVI's frames name afterwards. *pfNoteClear is FALSE when the note is
// to stay for the next opening of the AVI.
BOOL RelocateOne(AviInfo *pInfo, int k, LPCSTR pszOld, LPCSTR pszBase, LPCSTR pszNote, HANDLE hNote,
                 BOOL *pfNoteClear)
{
    const REFLISTUI &list = g_ShiftUi.list;
    RELOCNOTE note;
    memset(&note, 0, sizeof(note));
    snprintf(note.szOld, MAX_PATH, "%s", pszOld);
    int nNumber = NextRefNumber(pszBase);
    if (nNumber > REFFILE_MAXNUMBER) {
        ShowShiftMessageM(MB_OK | MB_ICONERROR, &MSG_BASE_PAST_999, pszBase);
        return FALSE;
    }
    snprintf(note.szNew, MAX_PATH, "%s.%03d", pszBase, nNumber);
    const REFFILEENTRY *pEntry = &g_pRefFiles[k];
    if (g_ShiftUi.pfnShowFrame) g_ShiftUi.pfnShowFrame(pEntry->dwFirstFrame);
    ShiftSetText(IDC_SHIFT_CURFILE, pszOld);
    if (list.pfnDelete) list.pfnDelete(k);
    // Spoolcap and the stream library let go of the files they read.
    CloseFrameStream(pInfo);
    OpenFrameCodec(pInfo, FALSE);
    note.fCopy = g_fShiftAlwaysCopy || OnAnotherDrive(pszOld, note.szNew);
    note.fDeleteOld = note.fCopy && g_ShiftUi.pfnIsChecked && g_ShiftUi.pfnIsChecked(IDC_SHIFT_DELETEOLD);
    LPCSTR pszListed = pszOld;
    BOOL fContinue = FALSE;
    if (!WriteNote(hNote, &note)) {
        ShowShiftMessageM(MB_OK | MB_ICONERROR, &MSG_CANNOT_CREATE, pszNote);
        ClearNote(hNote);
    } else if (!note.fCopy && !MoveFileExA(pszOld, note.szNew, MOVEFILE_COPY_ALLOWED | MOVEFILE_WRITE_THROUGH)) {
        ShowShiftMessageM(MB_OK | MB_ICONQUESTION, &MSG_MOVE_FAILED, pszOld, note.szNew);
        ClearNote(hNote);
    } else if (note.fCopy && !CopyRefFile(pszOld, note.szNew)) {
        ClearNote(hNote);
    } else if (note.fCopy && !FlushFolderOf(note.szNew)) {
        // The copy's name might not survive a power loss: it is not used.
        DeleteFileA(note.szNew);
        ShowShiftMessageM(MB_OK | MB_ICONQUESTION, &MSG_COPY_FAILED, pszOld, note.szNew);
        ClearNote(hNote);
    } else {
        DWORD nDone = 0;
        if (RewriteRefNames(pInfo, (DWORD)k, pszOld, note.szNew, &nDone)) {
            pszListed = note.szNew;
            fContinue = TRUE;
            // The old file goes only once the AVI, on the disk, names the copy.
            if (note.fDeleteOld && !(DeleteFileA(pszOld) && FlushFolderOf(pszOld))) {
                ShowShiftMessageM(MB_OK | MB_ICONQUESTION, &MSG_OLD_NOT_DELETED, pszOld);
                fContinue = FALSE;
            }
            ClearNote(hNote);
        } else {
            // The frame error was shown; the frame that failed still names
            // the old file. The records already rewritten go back first,
            // then the file.
            DWORD nBack = 0;
            BOOL fRecords = nDone == 0 || RewriteNames(pInfo, FALSE, (DWORD)k, note.szNew, pszOld, &nBack, FALSE);
            if (fRecords && note.fCopy) {
                // A copy that cannot be deleted is left over, named by none.
                DeleteFileA(note.szNew);
                ClearNote(hNote);
            } else if (fRecords && MoveFileExA(note.szNew, pszOld, MOVEFILE_COPY_ALLOWED | MOVEFILE_WRITE_THROUGH)) {
                ClearNote(hNote);
            } else {
                // Some frames name the new file, or the file cannot go back:
                // the note stays, and the next opening of the AVI finishes
                // the relocation.
                pszListed = note.szNew;
                *pfNoteClear = FALSE;
                ShowShiftMessageM(MB_OK | MB_ICONERROR, &MSG_FRAMES_NAME_NEW, note.szNew);
            }
        }
    }
    OpenFrameCodec(pInfo, TRUE);
    ShiftSetText(IDC_SHIFT_CURFILE, "");
    if (list.pfnInsert) list.pfnInsert(k, pszListed);
    return fContinue;
}

// Whether file k may be relocated under the new base: it is there, and the
// new name and, for an undo, the old one fit every record that names it.
BOOL CheckRelocation(int k, LPCSTR pszOld, LPCSTR pszBase)
{
    if (!FileExists(pszOld)) {
        ShowShiftMessageM(MB_OK | MB_ICONERROR, &MSG_REF_NOT_FOUND, pszOld);
        return FALSE;
    }
    if (strlen(pszBase) + 5 > g_pRefFiles[k].cbNameField) {
        ShowShiftMessageM(MB_OK | MB_ICONERROR, &MSG_NEW_NAME_TOO_LONG, pszOld);
        return FALSE;
    }
    if (strlen(pszOld) + 1 > g_pRefFiles[k].cbNameField) {
        ShowShiftMessageM(MB_OK | MB_ICONERROR, &MSG_NAME_FILLS_FIELD, pszOld);
        return FALSE;
    }
    return TRUE;
}

// The selected items that have entries, in list order: the files that the
// command is to relocate, checked before the first of them is touched.
int SelectedEntries(int *aiEntries, int nCap)
{
    const REFLISTUI &list = g_ShiftUi.list;
    int n = 0;
    for (int i = 0, nItems = list.pfnGetCount ? list.pfnGetCount() : 0; i < nItems && n < nCap; i++)
        if (list.pfnIsSelected(i) && (DWORD)i < g_nRefFileCap) aiEntries[n++] = i;
    return n;
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
    int nItems = list.pfnGetCount ? list.pfnGetCount() : 0;
    // The files that were selected when the command started, checked then:
    // only they are relocated (a file selected later was not checked).
    int *aiEntries = (int *)calloc((size_t)nItems + 1, sizeof(int));
    BOOL *afChecked = (BOOL *)calloc((size_t)nItems + 1, sizeof(BOOL));
    int nEntries = aiEntries ? SelectedEntries(aiEntries, nItems) : 0;
    HANDLE hNote = INVALID_HANDLE_VALUE;
    BOOL fReady = FALSE;
    if (!aiEntries || !afChecked) {
        ShowShiftMessageM(MB_OK | MB_ICONERROR, &MSG_NO_MEMORY);
    } else if (!MakeRecoveryNotePath(pInfo->szAviFile, szNote)) {
        ShowShiftMessageM(MB_OK | MB_ICONERROR, &MSG_CANNOT_CREATE, pInfo->szAviFile);
    } else if (cchBase == 0 || cchBase >= MAX_PATH) {
        ShowShiftMessageM(MB_OK | MB_ICONERROR, &MSG_BASE_INVALID, szField);
    } else if (MayChangeRefFiles(pInfo)) {
        fReady = TRUE;
        for (int j = 0; j < nEntries && fReady; j++) {
            CHAR szOld[MAX_PATH];
            fReady = list.pfnGetText(aiEntries[j], szOld) && CheckRelocation(aiEntries[j], szOld, szBase);
        }
        fReady = fReady && ConfirmOwnRefFiles(aiEntries, nEntries);
    }
    if (fReady && nEntries > 0) {
        // A note of this relocation's own, held until it ends.
        hNote = CreateFileA(szNote, GENERIC_READ | GENERIC_WRITE, 0, NULL, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, NULL);
        DWORD dwError = hNote == INVALID_HANDLE_VALUE ? GetLastError() : NO_ERROR;
        if (hNote == INVALID_HANDLE_VALUE) {
            if (dwError == ERROR_FILE_EXISTS || dwError == ERROR_ALREADY_EXISTS || dwError == ERROR_SHARING_VIOLATION)
                ShowShiftMessageM(MB_OK | MB_ICONERROR, &MSG_ANOTHER_PROGRAM);
            else
                ShowShiftMessageM(MB_OK | MB_ICONERROR, &MSG_CANNOT_CREATE, szNote);
        } else if (!FlushFolderOf(szNote)) {
            ShowShiftMessageM(MB_OK | MB_ICONERROR, &MSG_CANNOT_CREATE, szNote);
        } else {
            for (int j = 0; j < nEntries; j++) afChecked[aiEntries[j]] = TRUE;
        }
    }
    BOOL fNoteClear = TRUE;
    for (;;) {
        int k = -1;
        for (int i = 0, n = list.pfnGetCount ? list.pfnGetCount() : 0; i < n && i < nItems && k < 0; i++)
            if (afChecked[i] && list.pfnIsSelected(i)) k = i;
        if (k < 0) break;
        afChecked[k] = FALSE;
        CHAR szOld[MAX_PATH];
        if (!list.pfnGetText(k, szOld) || (DWORD)k >= g_nRefFileCap) break;
        // The file may have gone since the command started.
        if (!CheckRelocation(k, szOld, szBase)) break;
        if (!RelocateOne(pInfo, k, szOld, szBase, szNote, hNote, &fNoteClear) || g_fShiftAbort) break;
        if (g_ShiftUi.pfnUpdate) g_ShiftUi.pfnUpdate();
    }
    if (hNote != INVALID_HANDLE_VALUE) {
        CloseHandle(hNote);
        // A note that still describes a file in hand stays for recovery.
        if (fNoteClear) DeleteFileA(szNote);
    }
    free(aiEntries);
    free(afChecked);
    OpenFrameCodec(pInfo, TRUE);
    OpenFrameStream(pInfo);
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

int ParseRelocationNote(const char *pText, DWORD cb, RELOCNOTE *pNote)
{
    memset(pNote, 0, sizeof(*pNote));
    if (cb == 0) return RELOCNOTE_EMPTY;
    const DWORD cbMagic = sizeof(NOTE_MAGIC);  // with its line break
    // A note cut short while it was written: the start of ours.
    if (cb < cbMagic) return memcmp(pText, NOTE_MAGIC "\n", cb) == 0 ? RELOCNOTE_TORN : RELOCNOTE_FOREIGN;
    if (memcmp(pText, NOTE_MAGIC "\n", cbMagic) != 0 || cb >= RELOCNOTE_MAXTEXT) return RELOCNOTE_FOREIGN;
    int nFields = 0;
    const char *p = pText + cbMagic, *pEnd = pText + cb;
    while (p < pEnd) {
        const char *pLineEnd = (const char *)memchr(p, '\n', (size_t)(pEnd - p));
        if (!pLineEnd) break;
        size_t cch = (size_t)(pLineEnd - p);
        // A name holds no zero and fits a path.
        if (memchr(p, '\0', cch)) return RELOCNOTE_FOREIGN;
        if (cch > 4 && memcmp(p, "old=", 4) == 0 && cch - 4 < MAX_PATH && !pNote->szOld[0]) {
            memcpy(pNote->szOld, p + 4, cch - 4);
            nFields++;
        } else if (cch > 4 && memcmp(p, "new=", 4) == 0 && cch - 4 < MAX_PATH && !pNote->szNew[0]) {
            memcpy(pNote->szNew, p + 4, cch - 4);
            nFields++;
        } else if (cch == 6 && memcmp(p, "copy=", 5) == 0 && (p[5] == '0' || p[5] == '1')) {
            pNote->fCopy = p[5] == '1';
            nFields++;
        } else if (cch == 11 && memcmp(p, "deleteold=", 10) == 0 && (p[10] == '0' || p[10] == '1')) {
            pNote->fDeleteOld = p[10] == '1';
            nFields++;
        } else {
            return RELOCNOTE_FOREIGN;
        }
        p = pLineEnd + 1;
    }
    // Written in one piece: a note whose lines stop early was cut short; one
    // with more after its last field was not written here.
    if (nFields == 4) return p == pEnd ? RELOCNOTE_WHOLE : RELOCNOTE_FOREIGN;
    return RELOCNOTE_TORN;
}

namespace {

// What the AVI's records say of the two files of a note.
struct NOTESURVEY {
    DWORD nOld, nNew;              // records naming each
    BOOL fOurs;                    // among them records of this system
    BOOL fFitNew, fFitOld;         // every one of them can take the other name
    ULONGLONG ullFramesEnd;        // the end of the last frame they place
    DWORD nUnreadable;             // the frame that could not be read, +1
};

// Reads every frame; FALSE when one cannot be read (a rewrite would then
// leave the frames after it as they are).
BOOL SurveyRecords(AviInfo *pInfo, const RELOCNOTE *pNote, NOTESURVEY *pSurvey)
{
    memset(pSurvey, 0, sizeof(*pSurvey));
    pSurvey->fFitNew = pSurvey->fFitOld = TRUE;
    DWORD cbScratch = g_pbScratch ? (DWORD)(g_pbWork + g_cbWork - g_pbScratch) : 0;
    size_t cchOld = strlen(pNote->szOld), cchNew = strlen(pNote->szNew);
    for (DWORD i = 0; i < pInfo->nFrames; i++) {
        DWORD cb = 0;
        if (!AccessFrameData(pInfo, g_pbScratch, cbScratch, i, FALSE, &cb)) {
            pSurvey->nUnreadable = i + 1;
            return FALSE;
        }
        DWORD cbField = 0;
        BYTE *pField = FindNameField(g_pbScratch, cb, pInfo->fccHandler, &cbField);
        if (!pField) continue;
        CHAR szName[MAX_PATH];
        NameInField(pField, cbField, szName);
        BOOL fOld = SameFileName(szName, pNote->szOld), fNew = SameFileName(szName, pNote->szNew);
        if (!fOld && !fNew) continue;
        if (fOld) pSurvey->nOld++, pSurvey->fFitNew = pSurvey->fFitNew && cchNew < cbField;
        if (fNew) pSurvey->nNew++, pSurvey->fFitOld = pSurvey->fFitOld && cchOld < cbField;
        if (IsRefRecord(g_pbScratch, cb)) {
            ULONGLONG ullEnd = RefRecordFrameEnd(g_pbScratch, cb);
            if (ullEnd > pSurvey->ullFramesEnd) pSurvey->ullFramesEnd = ullEnd;
            pSurvey->fOurs = TRUE;
        }
    }
    return TRUE;
}

// Why a note cannot be acted on, as a message with "%s" for the note's
// path; NULL when it can. fFinish says which way it would go.
const MESSAGE *RefuseNote(AviInfo *pInfo, const RELOCNOTE *pNote, const NOTESURVEY *pSurvey, BOOL fFinish, BOOL fOld,
                  BOOL fNew)
{
    const MESSAGE *pNotOurs = &MSG_NOTE_NOT_OURS;
    if (pSurvey->nOld + pSurvey->nNew == 0) return pNotOurs;
    // Neither file may be the other, nor the AVI itself.
    if ((fOld && fNew && SameFile(pNote->szOld, pNote->szNew)) || (fOld && SameFile(pNote->szOld, pInfo->szAviFile)) ||
        (fNew && SameFile(pNote->szNew, pInfo->szAviFile)))
        return pNotOurs;
    if (fFinish) {
        // The records are to name the new file: it must hold their frames.
        if (pSurvey->fOurs && !IsRefFileHolding(pNote->szNew, pSurvey->ullFramesEnd)) return pNotOurs;
        if (!pSurvey->fFitNew) return &MSG_NOTE_NEW_UNFIT;
        return NULL;
    }
    if (pSurvey->fOurs && !IsRefFileHolding(pNote->szOld, pSurvey->ullFramesEnd)) return pNotOurs;
    if (!pSurvey->fFitOld) return &MSG_NOTE_OLD_UNFIT;
    // A copy is deleted only when the old file holds all of its bytes.
    if (pNote->fCopy && fNew && !IsPrefixOf(pNote->szNew, pNote->szOld)) return pNotOurs;
    return NULL;
}

}  // namespace

BOOL RecoverRelocation(AviInfo *pInfo)
{
    CHAR szNote[MAX_PATH];
    if (!MakeRecoveryNotePath(pInfo->szAviFile, szNote) || !FileExists(szNote)) return TRUE;
    // Held while the relocation runs: only a note that nobody holds is
    // recovered.
    HANDLE hNote = CreateFileA(szNote, GENERIC_READ | GENERIC_WRITE, 0, NULL, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
    if (hNote == INVALID_HANDLE_VALUE) {
        if (GetLastError() == ERROR_SHARING_VIOLATION) ShowShiftMessageM(MB_OK | MB_ICONERROR, &MSG_ANOTHER_PROGRAM);
        else ShowShiftMessageM(MB_OK | MB_ICONERROR, &MSG_CANNOT_OPEN, szNote);
        return FALSE;
    }
    CHAR szText[RELOCNOTE_MAXTEXT];
    DWORD cb = 0;
    BOOL fRead = ReadFile(hNote, szText, sizeof(szText), &cb, NULL);
    RELOCNOTE note;
    int nKind = fRead ? ParseRelocationNote(szText, cb, &note) : RELOCNOTE_FOREIGN;
    if (nKind == RELOCNOTE_EMPTY || nKind == RELOCNOTE_TORN) {
        // Cleared, or cut short while it was written: no file was touched.
        CloseHandle(hNote);
        DeleteFileA(szNote);
        return TRUE;
    }
    BOOL fOk = FALSE;
    NOTESURVEY survey;
    if (nKind != RELOCNOTE_WHOLE) {
        ShowShiftMessageM(MB_OK | MB_ICONERROR, &MSG_NOTE_FOREIGN, szNote);
    } else if (!SurveyRecords(pInfo, &note, &survey)) {
        // Rewriting the frames that can be read would leave the others.
        ShowShiftMessageM(MB_OK | MB_ICONERROR, &MSG_NOTE_FRAME_UNREADABLE, pInfo->szAviFile,
                          (unsigned long)(survey.nUnreadable - 1));
    } else {
        BOOL fOld = FileExists(note.szOld), fNew = FileExists(note.szNew);
        // Finished when the data is whole under the new name: moved, or
        // copied with every byte (the old file may be gone already, only
        // after that).
        BOOL fFinish = note.fCopy ? (fNew && (!fOld || SameContent(note.szOld, note.szNew))) : (fNew && !fOld);
        const MESSAGE *pRefusal = NULL;
        if (!fFinish && !fOld) {
            ShowShiftMessageM(MB_OK | MB_ICONERROR, &MSG_BOTH_NOT_FOUND, note.szOld, note.szNew);
        } else if ((pRefusal = RefuseNote(pInfo, &note, &survey, fFinish, fOld, fNew)) != NULL) {
            ShowShiftMessageM(MB_OK | MB_ICONERROR, pRefusal, szNote);
        } else {
            CloseFrameStream(pInfo);
            OpenFrameCodec(pInfo, FALSE);
            fOk = fFinish ? RewriteNames(pInfo, TRUE, 0, note.szOld, note.szNew, NULL, FALSE)
                          : RewriteNames(pInfo, TRUE, 0, note.szNew, note.szOld, NULL, FALSE);
            // What goes, goes once the records on the disk name the other.
            if (fOk && fFinish && note.fCopy && note.fDeleteOld && fOld)
                fOk = DeleteFileA(note.szOld) && FlushFolderOf(note.szOld);
            if (fOk && !fFinish && note.fCopy && fNew) fOk = DeleteFileA(note.szNew) && FlushFolderOf(note.szNew);
            OpenFrameCodec(pInfo, TRUE);
            OpenFrameStream(pInfo);
            if (fOk)
                ShowShiftMessageM(MB_OK | MB_ICONINFORMATION, fFinish ? &MSG_RELOCATION_FINISHED : &MSG_RELOCATION_ROLLED_BACK,
                                  note.szOld, note.szNew);
        }
    }
    CloseHandle(hNote);
    if (fOk) DeleteFileA(szNote);
    return fOk;
}
