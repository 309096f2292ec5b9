// Relocating reference files: each file gets a new name from a new base,
// renamed on its file system or copied to another, and every record of the
// AVI that names it, by any spelling, is rewritten. The AVI never names a
// file that is not there: a failed rewrite puts the file and the records
// back, and a note beside the AVI lets a relocation cut short by a kill or
// a power loss be finished or rolled back (recover.cpp).
//
// The note is made anew (never taken over) and held open without sharing
// for the whole relocation, so that no other program recovers it while it
// is alive. Each step reaches the disk before the step that depends on it:
// the note before the file is touched, the new file and its name before
// the records, the records before the old file goes and before the note is
// cleared. Every rename and deletion goes through the gate, on the
// identity that detection saw.
#include "mover/shift.h"

#include "codec/refformat.h"
#include "mover/message.h"
#include "scaffold/paths.h"
#include "scaffold/recordnames.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#ifndef _WIN32
#include <sys/stat.h>

#include <string>
#endif

#define COPY_CHUNK 0x100000u

namespace {

void Progress(const SHIFTREQUEST *pReq, int nStep, ULONGLONG ullDone, ULONGLONG ullTotal)
{
    if (pReq && pReq->pfnProgress) pReq->pfnProgress(pReq->pv, nStep, ullDone, ullTotal);
}

BOOL Aborted(const SHIFTREQUEST *pReq) { return pReq && pReq->pfAbort && *pReq->pfAbort; }

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

// Copies every byte of hOld to hNew in 1 MiB chunks with progress; the copy
// is on the disk when it returns TRUE.
BOOL CopyData(HANDLE hOld, HANDLE hNew, const SHIFTREQUEST *pReq, BOOL *pfAborted)
{
    *pfAborted = FALSE;
    DWORD dwHigh = 0;
    DWORD cbSize = GetFileSize(hOld, &dwHigh);
    DWORD cbScratch = g_pbScratch ? (DWORD)(g_pbWork + g_cbWork - g_pbScratch) : 0;
    BOOL fOk = dwHigh == 0 && cbSize != INVALID_FILE_SIZE && cbScratch >= COPY_CHUNK &&
               SetFilePointer(hOld, 0, NULL, FILE_BEGIN) == 0;
    for (DWORD cbLeft = cbSize; fOk && cbLeft;) {
        DWORD cb = cbLeft < COPY_CHUNK ? cbLeft : COPY_CHUNK, cbRead = 0, cbWritten = 0;
        fOk = ReadFile(hOld, g_pbScratch, cb, &cbRead, NULL) && cbRead == cb &&
              WriteFile(hNew, g_pbScratch, cb, &cbWritten, NULL) && cbWritten == cb;
        cbLeft -= cb;
        Progress(pReq, STEP_COPY, cbSize - cbLeft, cbSize);
        if (fOk && Aborted(pReq)) *pfAborted = TRUE, fOk = FALSE;
    }
    if (fOk && cbSize == 0) Progress(pReq, STEP_COPY, 0, 0);
    // The copy reaches the disk, whole, before anything relies on it.
    if (fOk) fOk = FlushFileBuffers(hNew);
    DWORD dwNewHigh = 0;
    return fOk && GetFileSize(hNew, &dwNewHigh) == cbSize && dwNewHigh == 0;
}

// Rewrites the name in the frames of entry k, from the first up to (not
// including) frame nStopAt, to pszNew: the frames that hold pszFrom, or
// without it one of the entry's spellings. FALSE after a frame that failed
// (its number in *piFailed) or a field too small for the name.
BOOL RewriteFrames(AviInfo *pInfo, DWORD k, LPCSTR pszFrom, LPCSTR pszNew, DWORD nStopAt, const SHIFTREQUEST *pReq,
                   SHIFTRESULT *pRes, DWORD *pnDone, DWORD *piFailed)
{
    DWORD cbScratch = g_pbScratch ? (DWORD)(g_pbWork + g_cbWork - g_pbScratch) : 0;
    DWORD nFrames = k < g_nRefFiles ? g_pRefFiles[k].dwFrameCount : 0;
    DWORD nVisited = 0, nRewritten = 0;
    BOOL fOk = TRUE;
    size_t cchNew = strlen(pszNew);
    *piFailed = pInfo->nFrames;
    for (DWORD i = 0; i < pInfo->nFrames && i < nStopAt && fOk; i++) {
        if (pInfo->pFrames[i].dwRef != k) continue;
        DWORD cb = 0;
        const MESSAGE *pFailure = FrameBytes(pInfo, g_pbScratch, cbScratch, i, FALSE, &cb);
        DWORD cbField = 0;
        BYTE *pField = pFailure ? NULL : FindNameField(g_pbScratch, cb, pInfo->fccHandler, &cbField);
        if (pField) {
            // A frame that names something else now is left alone.
            CHAR szName[MAX_PATH];
            NameInField(pField, cbField, szName);
            if (pszFrom ? strcmp(szName, pszFrom) != 0 : FindRefSpelling(szName) != (int)k) pField = NULL;
        }
        if (!pFailure && pField) {
            // The checks before the first step make this impossible; were
            // it to happen, the frame would keep its name.
            if (cchNew >= cbField) {
                AddOutcome(pReq, pRes, OUTCOME_REFUSED, (int)k, &MSG_NEW_NAME_TOO_LONG, MB_ICONERROR, RefFilePath(k), NULL);
                *piFailed = i;
                fOk = FALSE;
                break;
            }
            memset(pField, 0, cbField);
            memcpy(pField, pszNew, cchNew);
            pFailure = FrameBytes(pInfo, g_pbScratch, cbScratch, i, TRUE, &cb);
            if (!pFailure) nRewritten++;
        }
        if (pFailure) {
            AddOutcome(pReq, pRes, OUTCOME_FAILED, (int)k, pFailure, MB_ICONQUESTION, pInfo->szAviFile, NULL);
            *piFailed = i;
            fOk = FALSE;
            break;
        }
        nVisited++;
        Progress(pReq, STEP_REWRITE, nVisited, nFrames);
    }
    if (pnDone) *pnDone = nRewritten;
    // The records go to the disk before anything depends on them.
    if (pInfo->hmmio) mmioFlush(pInfo->hmmio, MMIO_EMPTYBUF);
    if (fOk && nRewritten && !FlushAviToDisk(pInfo)) {
        AddOutcome(pReq, pRes, OUTCOME_FAILED, (int)k, &MSG_FRAME_WRITE, MB_ICONQUESTION, pInfo->szAviFile, NULL);
        fOk = FALSE;
    }
    return fOk;
}

// Whether file k may be relocated under the new base: it is there and is
// the file detected, and the new name and, for an undo, the old one fit
// every record that names it.
BOOL CheckRelocation(DWORD k, LPCSTR pszBase, const SHIFTREQUEST *pReq, SHIFTRESULT *pRes)
{
    const REFFILEENTRY *pEntry = &g_pRefFiles[k];
    LPCSTR pszOld = RefFilePath(k);
    FILEFACTS now;
    LookAtName(pszOld, &now);
    if (pEntry->facts.nKind == FILEKIND_MISSING || now.nKind == FILEKIND_MISSING) {
        AddOutcome(pReq, pRes, OUTCOME_REFUSED, (int)k, &MSG_REF_NOT_FOUND, MB_ICONERROR, pszOld, NULL);
        return FALSE;
    }
    if (now.nKind != FILEKIND_FILE || !SameFileId(&now.id, &pEntry->facts.id)) {
        AddOutcome(pReq, pRes, OUTCOME_REFUSED, (int)k, &MSG_REF_CHANGED, MB_ICONERROR, pszOld, NULL);
        return FALSE;
    }
    // The lengths that count are those of the names as the records hold
    // them.
    CHAR szBaseRecord[MAX_PATH];
    if (!FileNameToRecordName(pszBase, szBaseRecord)) {
        AddOutcome(pReq, pRes, OUTCOME_REFUSED, -1, &MSG_NAME_NOT_IN_RECORDS, MB_ICONERROR, pszBase, NULL);
        return FALSE;
    }
    if (strlen(szBaseRecord) + 5 > pEntry->cbNameField) {
        AddOutcome(pReq, pRes, OUTCOME_REFUSED, (int)k, &MSG_NEW_NAME_TOO_LONG, MB_ICONERROR, pszOld, NULL);
        return FALSE;
    }
    if (strlen(RefFileName(k)) + 1 > pEntry->cbNameField) {
        AddOutcome(pReq, pRes, OUTCOME_REFUSED, (int)k, &MSG_NAME_FILLS_FIELD, MB_ICONERROR, pszOld, NULL);
        return FALSE;
    }
    return TRUE;
}

// Deletes every name of entry k that still reaches the old file (its
// spellings; more than one when they are hard links of the file).
int DeleteOldNames(DWORD k, const FILEID *pidOld, LPCSTR *ppszFailed)
{
    GATEPROOF proof;
    RefFileProof(k, &proof);
    proof.id = *pidOld;
    int nResult = GATE_DONE;
    for (DWORD i = FirstRefSpelling(k); i != NO_SPELLING && nResult == GATE_DONE; i = NextRefSpelling(i)) {
        int nGate = GateDelete(RefSpellingText(i), &proof);
        if (nGate != GATE_GONE) nResult = nGate;
        if (nGate != GATE_DONE && nGate != GATE_GONE) *ppszFailed = RefSpellingText(i);
    }
    return nResult;
}

// What a note says of the old file now: its size and digest through the
// handle the gate opened.
BOOL DescribeOldFile(HANDLE hOld, DWORD k, RELOCNOTE *pNote)
{
    DWORD dwHigh = 0;
    DWORD dwLow = GetFileSize(hOld, &dwHigh);
    if (dwLow == INVALID_FILE_SIZE && GetLastError() != NO_ERROR) return FALSE;
    pNote->ullOldSize = ((ULONGLONG)dwHigh << 32) | dwLow;
    pNote->idOld = g_pRefFiles[k].facts.id;
    pNote->ullLastFrame = g_pRefFiles[k].ullLastFrame;
    return DigestOfFile(hOld, pNote->ullLastFrame, &pNote->ullOldDigest);
}

// Moves or copies file k and rewrites its records; FALSE when the command
// is to end. *pfNoteClear is FALSE when the note is to stay for the next
// opening of the AVI.
BOOL RelocateOne(AviInfo *pInfo, DWORD k, LPCSTR pszBase, LPCSTR pszNote, HANDLE hNote, const SHIFTREQUEST *pReq,
                 SHIFTRESULT *pRes, BOOL *pfNoteClear)
{
    RELOCNOTE note;
    memset(&note, 0, sizeof(note));
    snprintf(note.szOld, MAX_PATH, "%s", RefFilePath(k));
    LPCSTR pszOld = note.szOld;
    int nNumber = NextRefNumber(pszBase);
    if (nNumber > REFFILE_MAXNUMBER) {
        AddOutcome(pReq, pRes, OUTCOME_REFUSED, (int)k, &MSG_BASE_PAST_999, MB_ICONERROR, pszBase, NULL);
        return FALSE;
    }
    // A name that the number would make too long is refused, never cut.
    if (snprintf(note.szNew, MAX_PATH, "%s.%03d", pszBase, nNumber) >= MAX_PATH) {
        AddOutcome(pReq, pRes, OUTCOME_REFUSED, (int)k, &MSG_BASE_INVALID, MB_ICONERROR, pszBase, NULL);
        return FALSE;
    }
    // The names as the records hold them: the file's first spelling, and
    // the new name in the records' code page.
    CHAR szOldRecord[MAX_PATH], szNewRecord[MAX_PATH];
    snprintf(szOldRecord, sizeof(szOldRecord), "%s", RefFileName(k));
    if (!FileNameToRecordName(note.szNew, szNewRecord)) {
        AddOutcome(pReq, pRes, OUTCOME_REFUSED, (int)k, &MSG_NAME_NOT_IN_RECORDS, MB_ICONERROR, note.szNew, NULL);
        return FALSE;
    }
    // The file itself, still the one detected and still a reference file.
    GATEPROOF proof;
    RefFileProof(k, &proof);
    HANDLE hOld = INVALID_HANDLE_VALUE;
    int nGate = GateOpenForReading(pszOld, &proof, &hOld);
    if (nGate != GATE_DONE) {
        const MESSAGE *pMsg = nGate == GATE_GONE         ? &MSG_REF_NOT_FOUND
                              : nGate == GATE_NOT_PROVED ? &MSG_NOT_A_REF_FILE
                              : nGate == GATE_NOT_A_FILE ? &MSG_REF_NOT_A_FILE
                                                         : &MSG_REF_CHANGED;
        AddOutcome(pReq, pRes, OUTCOME_REFUSED, (int)k, pMsg, MB_ICONERROR, pszOld, NULL);
        return FALSE;
    }
    if (pReq->pfnFileStarts) pReq->pfnFileStarts(pReq->pv, k);
    // Spoolcap and the stream library let go of the files they read.
    CloseFrameStream(pInfo);
    OpenFrameCodec(pInfo, FALSE);
    note.fCopy = pReq->fCopy || OnAnotherDrive(pszOld, note.szNew);
    note.fDeleteOld = note.fCopy && pReq->fDeleteOld;
    LPCSTR pszListed = szOldRecord;
    BOOL fContinue = FALSE;
    HANDLE hNew = INVALID_HANDLE_VALUE;
    FILEID idNew;
    memset(&idNew, 0, sizeof(idNew));
    GATEPROOF made;
    memset(&made, 0, sizeof(made));
    made.nProof = GATE_MADE;
    // A copy's new file is made first, empty, so that the note names it
    // from its first writing: a note is never written over another.
    if (note.fCopy && (hNew = GateCreateNew(note.szNew, GENERIC_READ | GENERIC_WRITE, &idNew)) == INVALID_HANDLE_VALUE) {
        AddOutcome(pReq, pRes, OUTCOME_FAILED, (int)k, &MSG_COPY_FAILED, MB_ICONQUESTION, pszOld, note.szNew);
        goto Done;
    }
    made.id = note.idNew = idNew;
    note.fNewMade = note.fCopy;
    if (!DescribeOldFile(hOld, k, &note) || !PutRelocationNote(hNote, &note)) {
        AddOutcome(pReq, pRes, OUTCOME_FAILED, -1, &MSG_CANNOT_CREATE, MB_ICONERROR, pszNote, NULL);
        if (hNew != INVALID_HANDLE_VALUE) {
            CloseHandle(hNew);
            hNew = INVALID_HANDLE_VALUE;
            GateDelete(note.szNew, &made);
        }
        ClearRelocationNote(hNote);
        goto Done;
    }
    if (!note.fCopy) {
        nGate = GateRename(pszOld, &proof, note.szNew, FALSE);
        if (nGate == GATE_OTHER_DEVICE) {
            // One drive, two file systems: a copy, and the old file goes
            // after it as a move would have taken it.
            hNew = GateCreateNew(note.szNew, GENERIC_READ | GENERIC_WRITE, &idNew);
            made.id = note.idNew = idNew;
            note.fCopy = note.fDeleteOld = note.fNewMade = TRUE;
            if (hNew == INVALID_HANDLE_VALUE) {
                AddOutcome(pReq, pRes, OUTCOME_FAILED, (int)k, &MSG_COPY_FAILED, MB_ICONQUESTION, pszOld, note.szNew);
                ClearRelocationNote(hNote);
                goto Done;
            }
            if (!PutRelocationNote(hNote, &note)) {
                AddOutcome(pReq, pRes, OUTCOME_FAILED, -1, &MSG_CANNOT_CREATE, MB_ICONERROR, pszNote, NULL);
                CloseHandle(hNew);
                hNew = INVALID_HANDLE_VALUE;
                GateDelete(note.szNew, &made);
                ClearRelocationNote(hNote);
                goto Done;
            }
        } else if (nGate != GATE_DONE) {
            BOOL fFailed = nGate == GATE_FAILED || nGate == GATE_EXISTS;
            AddOutcome(pReq, pRes, fFailed ? OUTCOME_FAILED : OUTCOME_REFUSED, (int)k,
                       fFailed ? &MSG_MOVE_FAILED : &MSG_REF_CHANGED, fFailed ? MB_ICONQUESTION : MB_ICONERROR, pszOld,
                       note.szNew);
            ClearRelocationNote(hNote);
            goto Done;
        }
    }
    if (note.fCopy) {
        BOOL fAborted = FALSE;
        BOOL fCopied = CopyData(hOld, hNew, pReq, &fAborted);
        if (!CloseHandle(hNew)) fCopied = FALSE;
        hNew = INVALID_HANDLE_VALUE;
        // The copy's name reaches the disk, or it is not used.
        if (fCopied) fCopied = FlushFolderOf(note.szNew);
        if (!fCopied) {
            // Nothing half copied stays behind.
            GateDelete(note.szNew, &made);
            if (fAborted) {
                pRes->fAborted = TRUE;
                AddOutcome(pReq, pRes, OUTCOME_ABORTED, (int)k, &MSG_COPY_ABORTED, 0, pszOld, note.szNew);
            } else {
                AddOutcome(pReq, pRes, OUTCOME_FAILED, (int)k, &MSG_COPY_FAILED, MB_ICONQUESTION, pszOld, note.szNew);
            }
            ClearRelocationNote(hNote);
            goto Done;
        }
    }
    {
        CloseHandle(hOld);
        hOld = INVALID_HANDLE_VALUE;
        DWORD nDone = 0, iFailed = 0;
        if (RewriteFrames(pInfo, k, NULL, szNewRecord, pInfo->nFrames, pReq, pRes, &nDone, &iFailed)) {
            pszListed = szNewRecord;
            fContinue = TRUE;
            AddOutcome(pReq, pRes, note.fCopy && !note.fDeleteOld ? OUTCOME_COPIED : OUTCOME_MOVED, (int)k, NULL, 0,
                       pszOld, note.szNew);
            // The old file goes only once the AVI, on the disk, names the copy.
            LPCSTR pszFailed = pszOld;
            int nDeleted = note.fCopy && note.fDeleteOld ? DeleteOldNames(k, &note.idOld, &pszFailed) : GATE_DONE;
            if (nDeleted == GATE_FAILED) {
                AddOutcome(pReq, pRes, OUTCOME_FAILED, (int)k, &MSG_OLD_NOT_DELETED, MB_ICONQUESTION, pszFailed, NULL);
                fContinue = FALSE;
            } else if (nDeleted != GATE_DONE) {
                // Another file under the old name now: it stays.
                AddOutcome(pReq, pRes, OUTCOME_REFUSED, (int)k, &MSG_REF_CHANGED, MB_ICONERROR, pszFailed, NULL);
                fContinue = FALSE;
            }
            ClearRelocationNote(hNote);
            RenameRefFile(k, szNewRecord);
        } else {
            // The frame error is told; the frame that failed still names the
            // old file. The records already rewritten go back first, then
            // the file.
            DWORD nBack = 0, iBackFailed = 0;
            BOOL fRecords =
                nDone == 0 || RewriteFrames(pInfo, k, szNewRecord, szOldRecord, iFailed, NULL, pRes, &nBack, &iBackFailed);
            GATEPROOF moved = proof;
            moved.id = note.idOld;
            if (fRecords && note.fCopy) {
                // A copy that cannot be deleted is left over, named by none.
                GateDelete(note.szNew, &made);
                ClearRelocationNote(hNote);
            } else if (fRecords && GateRename(note.szNew, &moved, pszOld, FALSE) == GATE_DONE) {
                ClearRelocationNote(hNote);
            } else {
                // Some frames name the new file, or the file cannot go back:
                // the note stays, and the next opening of the AVI finishes
                // the relocation.
                pszListed = szNewRecord;
                *pfNoteClear = FALSE;
                pRes->fNoteStays = TRUE;
                AddOutcome(pReq, pRes, OUTCOME_FAILED, (int)k, &MSG_FRAMES_NAME_NEW, MB_ICONERROR, note.szNew, NULL);
            }
        }
    }
Done:
    if (hNew != INVALID_HANDLE_VALUE) CloseHandle(hNew);
    if (hOld != INVALID_HANDLE_VALUE) CloseHandle(hOld);
    OpenFrameCodec(pInfo, TRUE);
    if (pReq->pfnFileEnds) pReq->pfnFileEnds(pReq->pv, k, pszListed);
    return fContinue;
}

}  // namespace

int NextRefNumber(LPCSTR pszFullBase) { return NextRefFileNumber(pszFullBase); }

BOOL RewriteRefNames(AviInfo *pInfo, DWORD k, LPCSTR pszNew, const SHIFTREQUEST *pReq, SHIFTRESULT *pRes, DWORD *pnDone)
{
    DWORD iFailed = 0;
    return RewriteFrames(pInfo, k, NULL, pszNew, pInfo->nFrames, pReq, pRes, pnDone, &iFailed);
}

BOOL RunRelocation(AviInfo *pInfo, const SHIFTREQUEST *pReq, SHIFTRESULT *pRes)
{
    CHAR szBase[MAX_PATH], szNote[MAX_PATH];
    DWORD cchBase = pReq->szNewBase[0] ? GetFullPathNameA(pReq->szNewBase, MAX_PATH, szBase, NULL) : 0;
    if (cchBase == 0 || cchBase >= MAX_PATH) {
        AddOutcome(pReq, pRes, OUTCOME_REFUSED, -1, &MSG_BASE_INVALID, MB_ICONERROR, pReq->szNewBase, NULL);
        return FALSE;
    }
    if (!MakeRecoveryNotePath(pInfo, szNote)) {
        AddOutcome(pReq, pRes, OUTCOME_REFUSED, -1, &MSG_CANNOT_CREATE, MB_ICONERROR, pInfo->szAviFile, NULL);
        return FALSE;
    }
    // Every file is checked before the first is touched.
    if (!MayActOnRefFiles(pInfo, pReq, pRes)) return FALSE;
    for (DWORD j = 0; j < pReq->nFiles; j++)
        if (pReq->piFiles[j] >= g_nRefFiles || !CheckRelocation(pReq->piFiles[j], szBase, pReq, pRes)) return FALSE;
    if (pReq->nFiles == 0) return TRUE;
    // A note of this relocation's own, held until it ends.
    FILEID idNote;
    HANDLE hNote = GateCreateNew(szNote, GENERIC_READ | GENERIC_WRITE, &idNote);
    if (hNote == INVALID_HANDLE_VALUE) {
        DWORD dwError = GetLastError();
        if (dwError == ERROR_FILE_EXISTS || dwError == ERROR_ALREADY_EXISTS || dwError == ERROR_SHARING_VIOLATION)
            AddOutcome(pReq, pRes, OUTCOME_REFUSED, -1, &MSG_ANOTHER_PROGRAM, MB_ICONERROR, NULL, NULL);
        else
            AddOutcome(pReq, pRes, OUTCOME_FAILED, -1, &MSG_CANNOT_CREATE, MB_ICONERROR, szNote, NULL);
        return FALSE;
    }
    GATEPROOF noteProof = {GATE_MADE, idNote, 0};
    if (!FlushFolderOf(szNote)) {
        CloseHandle(hNote);
        GateDelete(szNote, &noteProof);
        AddOutcome(pReq, pRes, OUTCOME_FAILED, -1, &MSG_CANNOT_CREATE, MB_ICONERROR, szNote, NULL);
        return FALSE;
    }
    BOOL fOk = TRUE, fNoteClear = TRUE;
    for (DWORD j = 0; j < pReq->nFiles && fOk; j++) {
        DWORD k = pReq->piFiles[j];
        if (pReq->pfnStillWanted && !pReq->pfnStillWanted(pReq->pv, k)) continue;
        // The file may have gone since the command started.
        fOk = CheckRelocation(k, szBase, pReq, pRes) && RelocateOne(pInfo, k, szBase, szNote, hNote, pReq, pRes, &fNoteClear);
        if (fOk && Aborted(pReq)) {
            pRes->fAborted = TRUE;
            break;
        }
    }
    CloseHandle(hNote);
    // A note that still describes a file in hand stays for recovery.
    if (fNoteClear) GateDelete(szNote, &noteProof);
    OpenFrameCodec(pInfo, TRUE);
    OpenFrameStream(pInfo);
    return fOk;
}
