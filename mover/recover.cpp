// The note that a relocation keeps beside the AVI while it has a file in
// hand, and the recovery of a relocation that a kill or a power loss cut
// short.
//
// The note lies beside the file that the AVI's name reaches (links
// resolved), so that every link and spelling of the AVI finds it, and it is
// held without sharing while its relocation runs. It says, for the file in
// hand, both names (escaped, so that no byte of a name can forge a field)
// and what the old file was: its identity, size and a digest of its first
// and last frame headers; once a copy has made the new file, its identity
// too. A note may come from anyone: recovery finishes or rolls back only
// when the files are those identities now, rewrites only the records that
// name them, and deletes only a file that this AVI's records name, that is
// a reference file holding their frames, and whose every byte the other
// file holds. A partial copy, or an old file that no record names any more,
// is left where it is, and the user is told.
#include "mover/shift.h"

#include "codec/refformat.h"
#include "mover/message.h"
#include "scaffold/paths.h"
#include "scaffold/recordnames.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#define NOTE_SUFFIX ".relocating"
#define NOTE_MAGIC "Spoolshift relocation 2"

namespace {

// --- The note's text ---------------------------------------------------------------

// Bytes below 0x20, 0x7F and '%' become "%XX".
BOOL NeedsEscape(BYTE b) { return b < 0x20 || b == 0x7F || b == '%'; }

int PutEscaped(LPSTR psz, size_t cb, LPCSTR pszName)
{
    size_t n = 0;
    for (const BYTE *p = (const BYTE *)pszName; *p && n + 4 < cb; p++) {
        if (NeedsEscape(*p)) n += (size_t)snprintf(psz + n, cb - n, "%%%02X", *p);
        else psz[n++] = (char)*p;
    }
    psz[n] = '\0';
    return (int)n;
}

int HexDigit(char c)
{
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// An escaped name of cch characters into psz (MAX_PATH bytes); FALSE for a
// name that no note writes (a bad escape, a zero, too long, empty).
BOOL TakeEscaped(const char *p, size_t cch, LPSTR psz)
{
    size_t n = 0;
    for (size_t i = 0; i < cch; i++) {
        BYTE b = (BYTE)p[i];
        if (b == '%') {
            if (i + 2 >= cch) return FALSE;
            int hi = HexDigit(p[i + 1]), lo = HexDigit(p[i + 2]);
            if (hi < 0 || lo < 0) return FALSE;
            b = (BYTE)(hi * 16 + lo);
            if (!NeedsEscape(b) || b == 0) return FALSE;
            i += 2;
        } else if (NeedsEscape(b)) {
            return FALSE;
        }
        if (n + 1 >= MAX_PATH) return FALSE;
        psz[n++] = (char)b;
    }
    psz[n] = '\0';
    return n > 0;
}

// A number of decimal digits; FALSE for anything else.
BOOL TakeDecimal(const char *p, size_t cch, ULONGLONG *pull)
{
    if (cch == 0 || cch > 20) return FALSE;
    ULONGLONG ull = 0;
    for (size_t i = 0; i < cch; i++) {
        if (p[i] < '0' || p[i] > '9') return FALSE;
        ULONGLONG ullNext = ull * 10 + (ULONGLONG)(p[i] - '0');
        if (ullNext / 10 != ull) return FALSE;
        ull = ullNext;
    }
    *pull = ull;
    return TRUE;
}

BOOL TakeHex(const char *p, size_t cch, size_t cchWanted, ULONGLONG *pull)
{
    if (cch != cchWanted) return FALSE;
    ULONGLONG ull = 0;
    for (size_t i = 0; i < cch; i++) {
        int d = HexDigit(p[i]);
        if (d < 0) return FALSE;
        ull = ull * 16 + (ULONGLONG)d;
    }
    *pull = ull;
    return TRUE;
}

// "VVVVVVVV:HHHHHHHH:LLLLLLLL"
BOOL TakeFileId(const char *p, size_t cch, FILEID *pId)
{
    ULONGLONG a, b, c;
    if (cch != 26 || p[8] != ':' || p[17] != ':' || !TakeHex(p, 8, 8, &a) || !TakeHex(p + 9, 8, 8, &b) ||
        !TakeHex(p + 18, 8, 8, &c))
        return FALSE;
    pId->dwVolume = (DWORD)a;
    pId->dwIndexHigh = (DWORD)b;
    pId->dwIndexLow = (DWORD)c;
    return TRUE;
}

BOOL TakeFlag(const char *p, size_t cch, BOOL *pf)
{
    if (cch != 1 || (p[0] != '0' && p[0] != '1')) return FALSE;
    *pf = p[0] == '1';
    return TRUE;
}

// The note's fields, in the order written.
enum NOTEFIELD { F_OLD, F_OLDID, F_OLDSIZE, F_OLDDIGEST, F_OLDLAST, F_NEW, F_NEWID, F_COPY, F_DELETEOLD, F_END };
const char *const s_apszFields[] = {"old", "oldid", "oldsize", "olddigest", "oldlast", "new", "newid", "copy", "deleteold", "end"};

// One line of a note; the field it was (fields go in order, newid may be
// left out); -1 for a line that no note holds there.
int TakeLine(const char *p, size_t cch, int nNext, RELOCNOTE *pNote)
{
    const char *pEq = (const char *)memchr(p, '=', cch);
    if (nNext == F_NEWID && !(pEq && (size_t)(pEq - p) == 5 && memcmp(p, "newid", 5) == 0)) nNext = F_COPY;
    if (nNext == F_END) return cch == 3 && memcmp(p, "end", 3) == 0 ? F_END : -1;
    size_t cchKey = strlen(s_apszFields[nNext]);
    if (!pEq || (size_t)(pEq - p) != cchKey || memcmp(p, s_apszFields[nNext], cchKey) != 0) return -1;
    const char *pValue = pEq + 1;
    size_t cchValue = cch - cchKey - 1;
    BOOL fOk = FALSE;
    switch (nNext) {
    case F_OLD: fOk = TakeEscaped(pValue, cchValue, pNote->szOld); break;
    case F_OLDID: fOk = TakeFileId(pValue, cchValue, &pNote->idOld); break;
    case F_OLDSIZE: fOk = TakeDecimal(pValue, cchValue, &pNote->ullOldSize); break;
    case F_OLDDIGEST: fOk = TakeHex(pValue, cchValue, 16, &pNote->ullOldDigest); break;
    case F_OLDLAST: fOk = TakeDecimal(pValue, cchValue, &pNote->ullLastFrame); break;
    case F_NEW: fOk = TakeEscaped(pValue, cchValue, pNote->szNew); break;
    case F_NEWID: fOk = pNote->fNewMade = TakeFileId(pValue, cchValue, &pNote->idNew); break;
    case F_COPY: fOk = TakeFlag(pValue, cchValue, &pNote->fCopy); break;
    case F_DELETEOLD: fOk = TakeFlag(pValue, cchValue, &pNote->fDeleteOld); break;
    }
    return fOk ? nNext : -1;
}

// Puts a text in the held note and sees it reach the disk. The note is
// emptied first: cut short anywhere, it is empty or the start of the new
// text, never the new text over the old.
BOOL PutNoteText(HANDLE hNote, const char *pszText, DWORD cch)
{
    DWORD cbDone = 0;
    return SetFilePointer(hNote, 0, NULL, FILE_BEGIN) == 0 && SetEndOfFile(hNote) &&
           (cch == 0 || (WriteFile(hNote, pszText, cch, &cbDone, NULL) && cbDone == cch)) && FlushFileBuffers(hNote);
}

// --- Recovery -------------------------------------------------------------------------

// Whether two open files hold the same bytes.
BOOL SameBytes(HANDLE hA, HANDLE hB)
{
    DWORD dwHighA = 0, dwHighB = 0;
    DWORD cbA = GetFileSize(hA, &dwHighA), cbB = GetFileSize(hB, &dwHighB);
    if (cbA != cbB || dwHighA != dwHighB || dwHighA != 0 || cbA == INVALID_FILE_SIZE) return FALSE;
    const DWORD cbPiece = 0x10000;
    BYTE *pb = (BYTE *)malloc(2 * (size_t)cbPiece);
    BOOL fSame = pb && SetFilePointer(hA, 0, NULL, FILE_BEGIN) == 0 && SetFilePointer(hB, 0, NULL, FILE_BEGIN) == 0;
    for (DWORD cbLeft = cbA; fSame && cbLeft;) {
        DWORD cb = cbLeft < cbPiece ? cbLeft : cbPiece, cbReadA = 0, cbReadB = 0;
        fSame = ReadFile(hA, pb, cb, &cbReadA, NULL) && ReadFile(hB, pb + cbPiece, cb, &cbReadB, NULL) &&
                cbReadA == cb && cbReadB == cb && memcmp(pb, pb + cbPiece, cb) == 0;
        cbLeft -= cb;
    }
    free(pb);
    return fSame;
}

// The size and digest of an open file match what the note says of the old one.
BOOL MatchesOld(HANDLE h, const RELOCNOTE *pNote)
{
    DWORD dwHigh = 0;
    DWORD dwLow = GetFileSize(h, &dwHigh);
    ULONGLONG ullDigest = 0;
    return ((((ULONGLONG)dwHigh << 32) | dwLow) == pNote->ullOldSize) && DigestOfFile(h, pNote->ullLastFrame, &ullDigest) &&
           ullDigest == pNote->ullOldDigest;
}

struct RECOVERY {
    AviInfo *pInfo;
    const SHIFTREQUEST *pReq;
    SHIFTRESULT *pRes;
    CHAR szNote[MAX_PATH];
    RELOCNOTE note;
    // The note's names as the records hold them.
    CHAR szOldRecord[MAX_PATH], szNewRecord[MAX_PATH];
    int kOld, kNew;          // entries of the records naming each file, -1 for none
    FILEFACTS oldNow, newNow;
    BOOL fOurs;              // records of this system name them
    ULONGLONG ullFramesEnd;  // the end of the last frame those records place
};

// Refuses with a message whose "%s" is the note: the note stays.
int Stay(RECOVERY *pRec, const MESSAGE *pMsg, LPCSTR pszA = NULL, LPCSTR pszB = NULL)
{
    AddOutcome(pRec->pReq, pRec->pRes, OUTCOME_REFUSED, -1, pMsg, MB_ICONERROR, pszA ? pszA : pRec->szNote, pszB);
    pRec->pRes->fNoteStays = TRUE;
    return RECOVER_STAYS;
}

// Whether file pszName, of identity id, may be what the records name after
// the recovery: it holds every frame that records of this system place.
BOOL HoldsTheFrames(RECOVERY *pRec, LPCSTR pszName, const FILEID *pId)
{
    if (!pRec->fOurs) return TRUE;
    GATEPROOF proof = {GATE_REFFILE, *pId, pRec->ullFramesEnd};
    HANDLE h = INVALID_HANDLE_VALUE;
    int nGate = GateOpenForReading(pszName, &proof, &h);
    if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
    return nGate == GATE_DONE;
}

// Whether every record that names the entry can take the name.
BOOL NameFits(int k, LPCSTR pszName) { return k < 0 || strlen(pszName) < g_pRefFiles[k].cbNameField; }

// Rewrites the records of entry k (if any) to pszTo, the codec and the
// stream library letting go of the files first.
BOOL RewriteEntry(RECOVERY *pRec, int k, LPCSTR pszTo)
{
    if (k < 0) return TRUE;
    CloseFrameStream(pRec->pInfo);
    OpenFrameCodec(pRec->pInfo, FALSE);
    BOOL fOk = RewriteRefNames(pRec->pInfo, (DWORD)k, pszTo, NULL, pRec->pRes, NULL);
    OpenFrameCodec(pRec->pInfo, TRUE);
    OpenFrameStream(pRec->pInfo);
    return fOk;
}

// The old file of a finished copy goes when the records named it before
// the recovery, it is a reference file holding their frames, and the copy
// holds every one of its bytes; else it is kept and the user told.
void FinishDeletingOld(RECOVERY *pRec, BOOL fNamedBefore)
{
    const RELOCNOTE *pNote = &pRec->note;
    GATEPROOF oldProof = {GATE_REFFILE, pNote->idOld, pRec->ullFramesEnd};
    GATEPROOF newProof = {GATE_MADE, pNote->idNew, 0};
    HANDLE hOld = INVALID_HANDLE_VALUE, hNew = INVALID_HANDLE_VALUE;
    BOOL fGoes = fNamedBefore && pRec->fOurs && GateOpenForReading(pNote->szOld, &oldProof, &hOld) == GATE_DONE &&
                 GateOpenForReading(pNote->szNew, &newProof, &hNew) == GATE_DONE && SameBytes(hOld, hNew);
    if (hOld != INVALID_HANDLE_VALUE) CloseHandle(hOld);
    if (hNew != INVALID_HANDLE_VALUE) CloseHandle(hNew);
    if (fGoes && GateDelete(pNote->szOld, &oldProof) == GATE_DONE) return;
    AddOutcome(pRec->pReq, pRec->pRes, OUTCOME_KEPT, -1, &MSG_NOTE_KEPT_OLD, MB_ICONINFORMATION, pNote->szOld,
               pNote->szNew);
}

int RecoverMove(RECOVERY *pRec)
{
    const RELOCNOTE *pNote = &pRec->note;
    // A rename keeps the file's identity: it is under one of the names.
    BOOL fAtOld = pRec->oldNow.nKind == FILEKIND_FILE && !pRec->oldNow.fLink && SameFileId(&pRec->oldNow.id, &pNote->idOld);
    BOOL fAtNew = pRec->newNow.nKind == FILEKIND_FILE && !pRec->newNow.fLink && SameFileId(&pRec->newNow.id, &pNote->idOld);
    if (fAtNew && !fAtOld) {
        if (!HoldsTheFrames(pRec, pNote->szNew, &pNote->idOld)) return Stay(pRec, &MSG_NOTE_NOT_PROVED);
        if (!NameFits(pRec->kOld, pRec->szNewRecord)) return Stay(pRec, &MSG_NOTE_NEW_UNFIT);
        if (!RewriteEntry(pRec, pRec->kOld, pRec->szNewRecord)) return Stay(pRec, &MSG_NOTE_NOT_PROVED);
        AddOutcome(pRec->pReq, pRec->pRes, OUTCOME_FINISHED, -1, &MSG_RELOCATION_FINISHED, MB_ICONINFORMATION,
                   pNote->szOld, pNote->szNew);
        return RECOVER_DONE;
    }
    if (fAtOld && !fAtNew) {
        if (!HoldsTheFrames(pRec, pNote->szOld, &pNote->idOld)) return Stay(pRec, &MSG_NOTE_NOT_PROVED);
        if (!NameFits(pRec->kNew, pRec->szOldRecord)) return Stay(pRec, &MSG_NOTE_OLD_UNFIT);
        if (!RewriteEntry(pRec, pRec->kNew, pRec->szOldRecord)) return Stay(pRec, &MSG_NOTE_NOT_PROVED);
        AddOutcome(pRec->pReq, pRec->pRes, OUTCOME_ROLLED_BACK, -1, &MSG_RELOCATION_ROLLED_BACK, MB_ICONINFORMATION,
                   pNote->szOld, pNote->szNew);
        return RECOVER_DONE;
    }
    if (pRec->oldNow.nKind == FILEKIND_MISSING && pRec->newNow.nKind == FILEKIND_MISSING)
        return Stay(pRec, &MSG_BOTH_NOT_FOUND, pNote->szOld, pNote->szNew);
    return Stay(pRec, &MSG_NOTE_NOT_PROVED);
}

int RecoverCopy(RECOVERY *pRec)
{
    const RELOCNOTE *pNote = &pRec->note;
    BOOL fOldThere = pRec->oldNow.nKind == FILEKIND_FILE && !pRec->oldNow.fLink &&
                     SameFileId(&pRec->oldNow.id, &pNote->idOld);
    BOOL fNewThere = pNote->fNewMade && pRec->newNow.nKind == FILEKIND_FILE && !pRec->newNow.fLink &&
                     SameFileId(&pRec->newNow.id, &pNote->idNew);
    // The copy is whole: the old file's size and digest, and its bytes where
    // the old file is still there.
    BOOL fWhole = FALSE, fOldIntact = FALSE;
    {
        GATEPROOF newProof = {GATE_MADE, pNote->idNew, 0};
        GATEPROOF oldProof = {GATE_MADE, pNote->idOld, 0};
        HANDLE hNew = INVALID_HANDLE_VALUE, hOld = INVALID_HANDLE_VALUE;
        if (fNewThere && GateOpenForReading(pNote->szNew, &newProof, &hNew) != GATE_DONE) fNewThere = FALSE;
        if (fOldThere && GateOpenForReading(pNote->szOld, &oldProof, &hOld) != GATE_DONE) fOldThere = FALSE;
        fOldIntact = fOldThere && MatchesOld(hOld, pNote);
        fWhole = fNewThere && MatchesOld(hNew, pNote) && (!fOldThere || SameBytes(hOld, hNew));
        if (hNew != INVALID_HANDLE_VALUE) CloseHandle(hNew);
        if (hOld != INVALID_HANDLE_VALUE) CloseHandle(hOld);
    }
    if (fWhole && (fOldThere || pRec->oldNow.nKind == FILEKIND_MISSING)) {
        if (!HoldsTheFrames(pRec, pNote->szNew, &pNote->idNew)) return Stay(pRec, &MSG_NOTE_NOT_PROVED);
        if (!NameFits(pRec->kOld, pRec->szNewRecord)) return Stay(pRec, &MSG_NOTE_NEW_UNFIT);
        BOOL fNamedBefore = pRec->kOld >= 0;
        if (!RewriteEntry(pRec, pRec->kOld, pRec->szNewRecord)) return Stay(pRec, &MSG_NOTE_NOT_PROVED);
        if (pNote->fDeleteOld && fOldThere) FinishDeletingOld(pRec, fNamedBefore);
        AddOutcome(pRec->pReq, pRec->pRes, OUTCOME_FINISHED, -1, &MSG_RELOCATION_FINISHED, MB_ICONINFORMATION,
                   pNote->szOld, pNote->szNew);
        return RECOVER_DONE;
    }
    if (fOldIntact) {
        if (!HoldsTheFrames(pRec, pNote->szOld, &pNote->idOld)) return Stay(pRec, &MSG_NOTE_NOT_PROVED);
        if (!NameFits(pRec->kNew, pRec->szOldRecord)) return Stay(pRec, &MSG_NOTE_OLD_UNFIT);
        if (!RewriteEntry(pRec, pRec->kNew, pRec->szOldRecord)) return Stay(pRec, &MSG_NOTE_NOT_PROVED);
        // A copy cut short is no file of the recording's: it is left to the
        // user, never deleted on a note's say.
        if (fNewThere)
            AddOutcome(pRec->pReq, pRec->pRes, OUTCOME_KEPT, -1, &MSG_NOTE_KEPT_COPY, MB_ICONINFORMATION, pNote->szNew,
                       NULL);
        AddOutcome(pRec->pReq, pRec->pRes, OUTCOME_ROLLED_BACK, -1, &MSG_RELOCATION_ROLLED_BACK, MB_ICONINFORMATION,
                   pNote->szOld, pNote->szNew);
        return RECOVER_DONE;
    }
    if (pRec->oldNow.nKind == FILEKIND_MISSING && pRec->newNow.nKind == FILEKIND_MISSING)
        return Stay(pRec, &MSG_BOTH_NOT_FOUND, pNote->szOld, pNote->szNew);
    return Stay(pRec, &MSG_NOTE_NOT_PROVED);
}

}  // namespace

int FormatRelocationNote(const RELOCNOTE *pNote, LPSTR psz)
{
    CHAR szOld[3 * MAX_PATH], szNew[3 * MAX_PATH], szNewId[64] = "";
    PutEscaped(szOld, sizeof(szOld), pNote->szOld);
    PutEscaped(szNew, sizeof(szNew), pNote->szNew);
    if (pNote->fNewMade)
        snprintf(szNewId, sizeof(szNewId), "newid=%08lX:%08lX:%08lX\n", (unsigned long)pNote->idNew.dwVolume,
                 (unsigned long)pNote->idNew.dwIndexHigh, (unsigned long)pNote->idNew.dwIndexLow);
    int cch = snprintf(psz, RELOCNOTE_MAXTEXT,
                       NOTE_MAGIC "\nold=%s\noldid=%08lX:%08lX:%08lX\noldsize=%llu\nolddigest=%016llX\noldlast=%llu\n"
                                  "new=%s\n%scopy=%d\ndeleteold=%d\nend\n",
                       szOld, (unsigned long)pNote->idOld.dwVolume, (unsigned long)pNote->idOld.dwIndexHigh,
                       (unsigned long)pNote->idOld.dwIndexLow, (unsigned long long)pNote->ullOldSize,
                       (unsigned long long)pNote->ullOldDigest, (unsigned long long)pNote->ullLastFrame, szNew, szNewId,
                       pNote->fCopy ? 1 : 0, pNote->fDeleteOld ? 1 : 0);
    return cch > 0 && cch < RELOCNOTE_MAXTEXT ? cch : -1;
}

int ParseRelocationNote(const char *pText, DWORD cb, RELOCNOTE *pNote)
{
    memset(pNote, 0, sizeof(*pNote));
    if (cb == 0) return RELOCNOTE_EMPTY;
    const DWORD cbMagic = sizeof(NOTE_MAGIC);  // with its line break
    // A note cut short while it was written: the start of ours.
    if (cb < cbMagic) return memcmp(pText, NOTE_MAGIC "\n", cb) == 0 ? RELOCNOTE_TORN : RELOCNOTE_FOREIGN;
    if (memcmp(pText, NOTE_MAGIC "\n", cbMagic) != 0 || cb >= RELOCNOTE_MAXTEXT) return RELOCNOTE_FOREIGN;
    int nNext = F_OLD;
    const char *p = pText + cbMagic, *pEnd = pText + cb;
    while (p < pEnd) {
        const char *pLineEnd = (const char *)memchr(p, '\n', (size_t)(pEnd - p));
        // The last line without its break: cut short.
        if (!pLineEnd) break;
        int nField = TakeLine(p, (size_t)(pLineEnd - p), nNext, pNote);
        if (nField < 0) {
            memset(pNote, 0, sizeof(*pNote));
            return RELOCNOTE_FOREIGN;
        }
        p = pLineEnd + 1;
        if (nField == F_END) {
            // Written in one piece: nothing after its end.
            if (p == pEnd) return RELOCNOTE_WHOLE;
            memset(pNote, 0, sizeof(*pNote));
            return RELOCNOTE_FOREIGN;
        }
        nNext = nField + 1;
    }
    memset(pNote, 0, sizeof(*pNote));
    return RELOCNOTE_TORN;
}

BOOL PutRelocationNote(HANDLE hNote, const RELOCNOTE *pNote)
{
    CHAR szText[RELOCNOTE_MAXTEXT];
    int cch = FormatRelocationNote(pNote, szText);
    return cch > 0 && PutNoteText(hNote, szText, (DWORD)cch);
}

BOOL ClearRelocationNote(HANDLE hNote) { return PutNoteText(hNote, "", 0); }

BOOL DigestOfFile(HANDLE h, ULONGLONG ullLastFrame, ULONGLONG *pullDigest)
{
    DWORD dwHigh = 0;
    DWORD dwLow = GetFileSize(h, &dwHigh);
    if (dwLow == INVALID_FILE_SIZE && GetLastError() != NO_ERROR) return FALSE;
    ULONGLONG ullSize = ((ULONGLONG)dwHigh << 32) | dwLow;
    // The first frame header, and the last one (the file's last 16 bytes
    // when the records place no frame).
    ULONGLONG aullAt[2] = {0, ullLastFrame};
    if (!ullLastFrame || ullLastFrame + 16 > ullSize) aullAt[1] = ullSize > 16 ? ullSize - 16 : 0;
    ULONGLONG ullDigest = 14695981039346656037ull;
    for (ULONGLONG ullAt : aullAt) {
        BYTE ab[16];
        DWORD cbWanted = ullSize - ullAt < 16 ? (DWORD)(ullSize - ullAt) : 16, cb = 0;
        LONG lHigh = (LONG)(ullAt >> 32);
        if (SetFilePointer(h, (LONG)(DWORD)ullAt, &lHigh, FILE_BEGIN) == INVALID_SET_FILE_POINTER &&
            GetLastError() != NO_ERROR)
            return FALSE;
        if (cbWanted && (!ReadFile(h, ab, cbWanted, &cb, NULL) || cb != cbWanted)) return FALSE;
        for (DWORD i = 0; i < cbWanted; i++) ullDigest = (ullDigest ^ ab[i]) * 1099511628211ull;
        ullDigest = (ullDigest ^ cbWanted) * 1099511628211ull;
    }
    SetFilePointer(h, 0, NULL, FILE_BEGIN);
    *pullDigest = ullDigest;
    return TRUE;
}

BOOL MakeRecoveryNotePath(const AviInfo *pInfo, LPSTR pszNote)
{
    LPCSTR pszAvi = pInfo->szRealFile[0] ? pInfo->szRealFile : pInfo->szAviFile;
    return pszAvi[0] && snprintf(pszNote, MAX_PATH, "%s" NOTE_SUFFIX, pszAvi) < MAX_PATH;
}

BOOL HasRecoveryNote(const AviInfo *pInfo)
{
    CHAR szNote[MAX_PATH];
    if (!MakeRecoveryNotePath(pInfo, szNote)) return FALSE;
    FILEFACTS facts;
    LookAtName(szNote, &facts);
    // Whatever stands there (a dangling link too) keeps a relocation from
    // making its note.
    return facts.nKind != FILEKIND_MISSING || facts.fLink;
}

int RunRecovery(AviInfo *pInfo, const SHIFTREQUEST *pReq, SHIFTRESULT *pRes)
{
    RECOVERY rec;
    memset(&rec, 0, sizeof(rec));
    rec.pInfo = pInfo;
    rec.pReq = pReq;
    rec.pRes = pRes;
    if (!MakeRecoveryNotePath(pInfo, rec.szNote) || !HasRecoveryNote(pInfo)) return RECOVER_NOTHING;
    // The note itself, never through a link, held without sharing while it
    // is recovered: a note that its relocation holds is left to it.
    HANDLE hNote = CreateFileA(rec.szNote, GENERIC_READ | GENERIC_WRITE, 0, NULL, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, NULL);
    if (hNote == INVALID_HANDLE_VALUE) {
        DWORD dwError = GetLastError();
        if (dwError == ERROR_SHARING_VIOLATION) return Stay(&rec, &MSG_ANOTHER_PROGRAM);
        if (dwError == ERROR_CANT_RESOLVE_FILENAME) return Stay(&rec, &MSG_NOTE_FOREIGN);
        return Stay(&rec, &MSG_CANNOT_OPEN);
    }
    FILEID idNote;
    BY_HANDLE_FILE_INFORMATION info;
    CHAR szText[RELOCNOTE_MAXTEXT];
    DWORD cb = 0;
    BOOL fFile = GetFileType(hNote) == FILE_TYPE_DISK && GetFileInformationByHandle(hNote, &info) &&
                 !(info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) &&
                 FileIdOfHandle(hNote, &idNote);
    int nKind = fFile && ReadFile(hNote, szText, sizeof(szText), &cb, NULL) ? ParseRelocationNote(szText, cb, &rec.note)
                                                                            : RELOCNOTE_FOREIGN;
    GATEPROOF noteProof = {GATE_MADE, idNote, 0};
    if (nKind == RELOCNOTE_EMPTY || nKind == RELOCNOTE_TORN) {
        // Cleared, or cut short while it was written: no record was touched
        // since it was last whole.
        CloseHandle(hNote);
        GateDelete(rec.szNote, &noteProof);
        return RECOVER_DONE;
    }
    if (nKind != RELOCNOTE_WHOLE) {
        CloseHandle(hNote);
        return Stay(&rec, &MSG_NOTE_FOREIGN);
    }
    // The records, by the files they reach now.
    SHIFTREQUEST detect;
    InitShiftRequest(&detect);
    SHIFTRESULT detected;
    InitShiftResult(&detected);
    BOOL fRead = RunDetection(pInfo, &detect, &detected);
    int nResult = RECOVER_STAYS;
    const RELOCNOTE *pNote = &rec.note;
    if (!fRead) {
        CHAR szFrame[16];
        snprintf(szFrame, sizeof(szFrame), "%lu", (unsigned long)detected.nFramesRead);
        nResult = Stay(&rec, &MSG_NOTE_FRAME_UNREADABLE, pInfo->szAviFile, szFrame);
    } else {
        rec.kOld = FindRefFile(pNote->szOld);
        rec.kNew = FindRefFile(pNote->szNew);
        LookAtName(pNote->szOld, &rec.oldNow);
        LookAtName(pNote->szNew, &rec.newNow);
        const int akEntries[] = {rec.kOld, rec.kNew};
        for (int k : akEntries) {
            if (k < 0) continue;
            if (g_pRefFiles[k].dwKinds & REFKIND_RECORD) rec.fOurs = TRUE;
            if (g_pRefFiles[k].ullFramesEnd > rec.ullFramesEnd) rec.ullFramesEnd = g_pRefFiles[k].ullFramesEnd;
        }
        // The records name one of the files; neither file is the other nor
        // the AVI; both are named as files may be acted on.
        BOOL fAvi = (rec.oldNow.nKind == FILEKIND_FILE && SameFileId(&rec.oldNow.id, &pInfo->idFile)) ||
                    (rec.newNow.nKind == FILEKIND_FILE && SameFileId(&rec.newNow.id, &pInfo->idFile));
        BOOL fRefused = (rec.kOld >= 0 && g_pRefFiles[rec.kOld].dwRefusal) ||
                        (rec.kNew >= 0 && g_pRefFiles[rec.kNew].dwRefusal) || IsRelativeName(pNote->szOld) ||
                        IsRelativeName(pNote->szNew);
        if ((rec.kOld < 0 && rec.kNew < 0) || rec.kOld == rec.kNew || fAvi || fRefused)
            nResult = Stay(&rec, &MSG_NOTE_NOT_OURS);
        else if (!FileNameToRecordName(pNote->szOld, rec.szOldRecord) || !FileNameToRecordName(pNote->szNew, rec.szNewRecord))
            nResult = Stay(&rec, &MSG_NAME_NOT_IN_RECORDS, pNote->szNew);
        else
            nResult = pNote->fCopy ? RecoverCopy(&rec) : RecoverMove(&rec);
    }
    FreeShiftResult(&detected);
    // The table was the recovery's own.
    ResetRefTable();
    CloseHandle(hNote);
    if (nResult == RECOVER_DONE) GateDelete(rec.szNote, &noteProof);
    return nResult;
}
