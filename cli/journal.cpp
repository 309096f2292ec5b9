// The journal of an install or an uninstall: a small text beside the codec's
// driver, written before the first rename and removed after the last step,
// that names the operation and the identities of the files its renames
// move (Spoolcap's and the codec's own driver's). A run killed between two
// steps leaves it; the next command on the codec (or spool repair) finds
// where those identities are now and brings the files to the state before
// the operation or the state after it, by the operation's own list of
// renames (install.h). The files say how far a run got: a mark written
// after each step could lag the rename that a kill cut it from.
//
// A journal whose renames all happened is finished (only the copy that no
// longer stands in front may remain to delete), an install once the system
// opens the codec through Spoolcap; any other is undone.
#include "cli/install.h"
#include "cli/spool.h"
#include "scaffold/filegate.h"
#include "scaffold/paths.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

BOOL (*g_pfnInstallStep)(int nStep) = NULL;

namespace {

const char s_szJournalHead[] = "Spoolcap journal 2\r\n";

BOOL JournalPath(const CODECFILES *pFiles, LPSTR pszPath) { return FormatPath(pszPath, "%s%s", pFiles->szPath, ".spoolcap-journal"); }

// Whether the name reaches the file of the identity (itself, not a link).
BOOL IdentityAt(LPCSTR pszPath, const FILEID *pId)
{
    FILEFACTS facts;
    LookAtName(pszPath, &facts);
    return facts.nKind == FILEKIND_FILE && !facts.fLink && SameFileId(&facts.id, pId);
}

// Deletes the journal's copy of Spoolcap under its temporary name, by its
// identity; a copy held by a program, or another file there, is said and
// left.
void DeleteCopy(LPCSTR pszCopy, const FILEID *pId)
{
    GATEPROOF proof = {GATE_MADE, *pId, 0};
    int nResult = GateDelete(pszCopy, &proof);
    if (nResult == GATE_DONE || nResult == GATE_GONE) return;
    if (nResult == GATE_FAILED) SayCopyInUse(pszCopy);
    else
        Complain("%s is not the copy of Spoolcap that the journal names; it was left as it is.",
                 "%s はジャーナルにある Spoolcap の複写ではないため, そのままにしました.", pszCopy);
}

}  // namespace

void SayCopyInUse(LPCSTR pszCopy)
{
    // Loaded by a running program: it goes when the program ends, or at the
    // next restart where the system can be told so.
    BOOL fLater = MoveFileExA(pszCopy, NULL, MOVEFILE_DELAY_UNTIL_REBOOT);
    Complain(fLater ? "%s is in use by a running program; it will be deleted at the next restart."
                    : "%s is in use by a running program; delete it when the program has ended.",
             fLater ? "%s は実行中のプログラムが使用中です. 次回の再起動時に削除されます."
                    : "%s は実行中のプログラムが使用中です. プログラムの終了後に削除してください.",
             pszCopy);
}

// The journal of the run in hand, held open with no sharing while the run
// works: another run that meets it knows that it is no run cut short.
static HANDLE s_hJournal = INVALID_HANDLE_VALUE;
// The journal that this run made or read, by its identity: the one that
// RemoveJournal deletes.
static GATEPROOF s_journalProof = {0, {0, 0, 0}, 0};

static void CloseJournal(void)
{
    if (s_hJournal != INVALID_HANDLE_VALUE) CloseHandle(s_hJournal);
    s_hJournal = INVALID_HANDLE_VALUE;
}

BOOL InstallStepReached(int nStep)
{
    // For the tests that kill a real run: SPOOL_PAUSE_AFTER_STEP=N makes the
    // run say that it has done step N and wait there to be killed.
    LPCSTR pszPause = getenv("SPOOL_PAUSE_AFTER_STEP");
    if (pszPause && atoi(pszPause) == nStep) {
        fprintf(g_pOut, "paused after step %d\n", nStep);
        fflush(g_pOut);
        for (;;) Sleep(1000);
    }
    if (!g_pfnInstallStep || g_pfnInstallStep(nStep)) return TRUE;
    // The tests' kill: the system closes what a killed process held.
    CloseJournal();
    return FALSE;
}

BOOL PlanCodecOp(const CODECFILES *pFiles, int nOp, const FILEID *pidSpoolcap, const FILEID *pidDriver,
                 CODECOP *pOp)
{
    memset(pOp, 0, sizeof(*pOp));
    pOp->nOp = nOp;
    pOp->idSpoolcap = *pidSpoolcap;
    pOp->idDriver = *pidDriver;
    BOOL fInstall = nOp == JOURNAL_INSTALL;
    if (!FormatPath(pOp->szCopy, "%s%s", pFiles->szPath, g_apszCopySuffixes[fInstall ? 0 : 1])) return FALSE;
    CODECRENAME *pFirst = &pOp->aRenames[0], *pSecond = &pOp->aRenames[1];
    // Install: the driver steps aside to ".org", Spoolcap's copy takes its
    // name. Uninstall: Spoolcap steps aside, the driver takes its name back.
    snprintf(pFirst->szFrom, MAX_PATH, "%s", pFiles->szPath);
    snprintf(pFirst->szTo, MAX_PATH, "%s", fInstall ? pFiles->szOrgPath : pOp->szCopy);
    pFirst->id = fInstall ? *pidDriver : *pidSpoolcap;
    snprintf(pSecond->szFrom, MAX_PATH, "%s", fInstall ? pOp->szCopy : pFiles->szOrgPath);
    snprintf(pSecond->szTo, MAX_PATH, "%s", pFiles->szPath);
    pSecond->id = fInstall ? *pidSpoolcap : *pidDriver;
    return TRUE;
}

int DoRenames(const CODECOP *pOp, int *pnDone)
{
    *pnDone = 0;
    for (const CODECRENAME &rename : pOp->aRenames) {
        if (!RenameChecked(rename.szFrom, &rename.id, rename.szTo)) return OP_FAILED;
        if (!InstallStepReached(FIRST_RENAME_STEP + (*pnDone)++)) return OP_KILLED;
    }
    return OP_DONE;
}

BOOL UndoRenames(const CODECOP *pOp, int nDone)
{
    for (int i = nDone - 1; i >= 0; i--) {
        const CODECRENAME *pRename = &pOp->aRenames[i];
        if (!RenameChecked(pRename->szTo, &pRename->id, pRename->szFrom)) return FALSE;
    }
    return TRUE;
}

BOOL WriteJournal(const CODECFILES *pFiles, const CODECOP *pOp)
{
    CHAR szJournal[MAX_PATH], szText[256];
    const FILEID *pS = &pOp->idSpoolcap, *pD = &pOp->idDriver;
    int cch = snprintf(szText, sizeof(szText), "%sop=%s\r\nspoolcap=%08lX:%08lX:%08lX\r\ndriver=%08lX:%08lX:%08lX\r\n",
                       s_szJournalHead, pOp->nOp == JOURNAL_INSTALL ? "install" : "uninstall",
                       (unsigned long)pS->dwVolume, (unsigned long)pS->dwIndexHigh, (unsigned long)pS->dwIndexLow,
                       (unsigned long)pD->dwVolume, (unsigned long)pD->dwIndexHigh, (unsigned long)pD->dwIndexLow);
    if (!JournalPath(pFiles, szJournal) || cch <= 0 || cch >= (int)sizeof(szText)) return FALSE;
    CloseJournal();
    s_journalProof.nProof = GATE_MADE;
    s_hJournal = GateCreateNew(szJournal, GENERIC_WRITE, &s_journalProof.id);
    DWORD cbDone = 0;
    BOOL fOk = s_hJournal != INVALID_HANDLE_VALUE && WriteFile(s_hJournal, szText, (DWORD)cch, &cbDone, NULL) &&
               cbDone == (DWORD)cch && FlushFileBuffers(s_hJournal) && FlushFolderOf(szJournal);
    if (!fOk) {
        DWORD dwError = GetLastError();
        if (s_hJournal != INVALID_HANDLE_VALUE) RemoveJournal(pFiles);
        s_journalProof.nProof = 0;
        ComplainNoAccess(pFiles->szPath, dwError);
        return FALSE;
    }
    return TRUE;
}

void RemoveJournal(const CODECFILES *pFiles)
{
    CloseJournal();
    CHAR szJournal[MAX_PATH];
    if (s_journalProof.nProof && JournalPath(pFiles, szJournal)) GateDelete(szJournal, &s_journalProof);
    s_journalProof.nProof = 0;
}

int ReadJournal(const CODECFILES *pFiles, CODECOP *pOp)
{
    CHAR szJournal[MAX_PATH];
    if (!JournalPath(pFiles, szJournal) || !FileExists(szJournal)) return JOURNAL_NONE;
    BYTE *pb = NULL;
    size_t cb = 0;
    GATEPROOF proof = {GATE_CHECKED, {0, 0, 0}, 0};
    if (!ReadWholeFile(szJournal, &pb, &cb, &proof.id))
        return GetLastError() == ERROR_SHARING_VIOLATION ? JOURNAL_BUSY : JOURNAL_BAD;
    s_journalProof = proof;
    CHAR szText[256];
    size_t cch = cb < sizeof(szText) - 1 ? cb : sizeof(szText) - 1;
    memcpy(szText, pb, cch);
    szText[cch] = '\0';
    free(pb);
    unsigned long aul[6] = {0, 0, 0, 0, 0, 0};
    char szOp[16] = "";
    size_t cchHead = sizeof(s_szJournalHead) - 1;
    if (strncmp(szText, s_szJournalHead, cchHead) != 0 ||
        sscanf(szText + cchHead, "op=%15[a-z]\r\nspoolcap=%lx:%lx:%lx\r\ndriver=%lx:%lx:%lx", szOp, &aul[0], &aul[1],
               &aul[2], &aul[3], &aul[4], &aul[5]) != 7)
        return JOURNAL_BAD;
    int nOp = strcmp(szOp, "install") == 0 ? JOURNAL_INSTALL : strcmp(szOp, "uninstall") == 0 ? JOURNAL_UNINSTALL : JOURNAL_BAD;
    FILEID idSpoolcap = {(DWORD)aul[0], (DWORD)aul[1], (DWORD)aul[2]};
    FILEID idDriver = {(DWORD)aul[3], (DWORD)aul[4], (DWORD)aul[5]};
    if (nOp == JOURNAL_BAD || !PlanCodecOp(pFiles, nOp, &idSpoolcap, &idDriver, pOp)) return JOURNAL_BAD;
    return nOp;
}

int SettleJournal(const CODECFILES *pFiles)
{
    CODECOP op;
    int nOp = ReadJournal(pFiles, &op);
    if (nOp == JOURNAL_NONE) return SETTLED_NOTHING;
    CHAR szJournal[MAX_PATH];
    JournalPath(pFiles, szJournal);
    if (nOp == JOURNAL_BUSY) {
        Complain("another run of spool is installing or uninstalling Spoolcap in front of %s now; try again when it has "
                 "ended.",
                 "別の spool が %s の前に Spoolcap をインストールまたはアンインストールしています. 終わってからもう一度実行してください.",
                 pFiles->szFourcc);
        return SETTLED_STUCK;
    }
    if (nOp == JOURNAL_BAD) {
        Complain("%s cannot be read as the journal of an install or uninstall; look at %s and %s, then delete it.",
                 "%s をインストールまたはアンインストールのジャーナルとして読めません. %s と %s を確かめてから削除してください.",
                 szJournal, pFiles->szPath, pFiles->szOrgPath);
        return SETTLED_STUCK;
    }
    BOOL fInstall = nOp == JOURNAL_INSTALL;
    // How far the run got, from where each rename's file is now: under its
    // new name (done) or its old one. Spoolcap's copy alone may be gone:
    // an install deletes it last when it undoes, an uninstall when it ends.
    BOOL afDone[2];
    BOOL fOk = TRUE;
    for (int i = 0; i < 2; i++) {
        const CODECRENAME *pRename = &op.aRenames[i];
        BOOL fTo = IdentityAt(pRename->szTo, &pRename->id), fFrom = IdentityAt(pRename->szFrom, &pRename->id);
        BOOL fCopyGone = !fTo && !fFrom && SameFileId(&pRename->id, &op.idSpoolcap);
        afDone[i] = fTo || (fCopyGone && !fInstall);
        fOk = fOk && (fTo || fFrom || fCopyGone);
    }
    // The renames happen in order: a later one done with an earlier one not
    // is no state of the run.
    fOk = fOk && (afDone[0] || !afDone[1]);
    int nDone = (afDone[0] ? 1 : 0) + (afDone[1] ? 1 : 0);
    // An install whose renames all happened still needs the check that
    // ends it: the system opens the codec through Spoolcap, with the
    // codec's own driver loaded behind it. Else it is undone.
    BOOL fFinished = fOk && nDone == 2;
    CODECANSWER answer;
    if (fFinished && fInstall && (!g_pfnAskCodec(pFiles, &answer) || !answer.fWrapped)) fFinished = FALSE;
    if (fOk && !fFinished) fOk = UndoRenames(&op, nDone);
    if (!fOk) {
        Complain("an interrupted %s of Spoolcap (in front of %s) could not be settled: its files are not where any of its "
                 "steps leaves them. Put the codec's own driver back as %s by hand, then delete %s.",
                 "Spoolcap の%s (%s の前) が中断されたままで, 元に戻せませんでした: ファイルがどの手順の後とも違う状態です. "
                 "コーデック本来のドライバを手で %s に戻し, %s を削除してください.",
                 fInstall ? (g_fJapanese ? "インストール" : "install") : (g_fJapanese ? "アンインストール" : "uninstall"),
                 pFiles->szFourcc, pFiles->szPath, szJournal);
        return SETTLED_STUCK;
    }
    // Spoolcap's copy under its temporary name goes, by its identity: a
    // finished uninstall's, an undone install's.
    if (fInstall != fFinished) DeleteCopy(op.szCopy, &op.idSpoolcap);
    RemoveJournal(pFiles);
    // A finished install has its settings as one that ran through has.
    if (fInstall && fFinished) WriteFirstSettings(pFiles);
    // Where the codec now stands: Spoolcap in front (an install finished, an
    // uninstall undone) or the codec's own driver alone.
    LPCSTR pszOp = fInstall ? (g_fJapanese ? "インストール" : "install") : (g_fJapanese ? "アンインストール" : "uninstall");
    LPCSTR pszDone = fFinished ? (g_fJapanese ? "完了しました" : "finished") : (g_fJapanese ? "元に戻しました" : "undone");
    if (fInstall == fFinished)
        Say(g_pOut, "In front of %s, an interrupted %s was %s: Spoolcap stands in front of the codec.\n",
            "%s の前での中断された%sを%s: Spoolcap がコーデックの前にあります.\n", pFiles->szFourcc, pszOp, pszDone);
    else
        Say(g_pOut, "In front of %s, an interrupted %s was %s: %s is the codec's own driver.\n",
            "%s の前での中断された%sを%s: %s はコーデック本来のドライバです.\n", pFiles->szFourcc, pszOp, pszDone,
            pFiles->szPath);
    return fFinished ? SETTLED_FINISHED : SETTLED_UNDONE;
}
