// The journal of an install or an uninstall: a small text beside the codec's
// driver, written before the first rename and removed after the last step,
// that names the operation and the identity of the copy of Spoolcap that
// its steps move. A run killed between two steps leaves it; the next
// command on the codec (or spool repair) reads what the files are now and
// brings them to the state before the operation or the state after it.
//
// The steps, each the undo of the one before it read backwards:
//   install    1. Spoolcap written as NAME.spoolcap-new (its identity kept)
//              2. NAME renamed NAME.org
//              3. NAME.spoolcap-new renamed NAME
//   uninstall  1. NAME (Spoolcap) renamed NAME.spoolcap-old
//              2. NAME.org renamed NAME
//              3. NAME.spoolcap-old deleted
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

const char s_szJournalHead[] = "Spoolcap journal 1\r\n";

BOOL JournalPath(const CODECFILES *pFiles, LPSTR pszPath) { return FormatPath(pszPath, "%s%s", pFiles->szPath, ".spoolcap-journal"); }

// What a name holds now: nothing, Spoolcap, or another file.
#define HOLDS_NOTHING 0
#define HOLDS_SPOOLCAP 1
#define HOLDS_OTHER 2

// pId: the identity of the file read.
int WhatIsAt(LPCSTR pszPath, FILEID *pId)
{
    FILEFACTS facts;
    LookAtName(pszPath, &facts);
    if (facts.nKind == FILEKIND_MISSING && !facts.fLink) return HOLDS_NOTHING;
    DWORD dwMachine = 0;
    BOOL fSpoolcap = FALSE;
    return ReadModuleKind(pszPath, &dwMachine, &fSpoolcap, pId) && fSpoolcap ? HOLDS_SPOOLCAP : HOLDS_OTHER;
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

LPCSTR HoldsText(int nHolds)
{
    if (nHolds == HOLDS_NOTHING) return g_fJapanese ? "ありません" : "missing";
    return nHolds == HOLDS_SPOOLCAP ? "Spoolcap" : (g_fJapanese ? "別のドライバ" : "a driver");
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

BOOL WriteJournal(const CODECFILES *pFiles, int nOp, const FILEID *pId)
{
    CHAR szJournal[MAX_PATH], szText[256];
    int cch = snprintf(szText, sizeof(szText), "%sop=%s\r\ncopy=%08lX:%08lX:%08lX\r\n", s_szJournalHead,
                       nOp == JOURNAL_INSTALL ? "install" : "uninstall", (unsigned long)pId->dwVolume,
                       (unsigned long)pId->dwIndexHigh, (unsigned long)pId->dwIndexLow);
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

int ReadJournal(const CODECFILES *pFiles, FILEID *pId)
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
    unsigned long ulVolume = 0, ulHigh = 0, ulLow = 0;
    char szOp[16] = "";
    size_t cchHead = sizeof(s_szJournalHead) - 1;
    if (strncmp(szText, s_szJournalHead, cchHead) != 0 ||
        sscanf(szText + cchHead, "op=%15[a-z]\r\ncopy=%lx:%lx:%lx", szOp, &ulVolume, &ulHigh, &ulLow) != 4)
        return JOURNAL_BAD;
    pId->dwVolume = (DWORD)ulVolume;
    pId->dwIndexHigh = (DWORD)ulHigh;
    pId->dwIndexLow = (DWORD)ulLow;
    if (strcmp(szOp, "install") == 0) return JOURNAL_INSTALL;
    if (strcmp(szOp, "uninstall") == 0) return JOURNAL_UNINSTALL;
    return JOURNAL_BAD;
}

int SettleJournal(const CODECFILES *pFiles)
{
    FILEID id;
    int nOp = ReadJournal(pFiles, &id);
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
    CHAR szCopy[MAX_PATH];
    FormatPath(szCopy, "%s%s", pFiles->szPath, fInstall ? ".spoolcap-new" : ".spoolcap-old");
    FILEID idName = {0, 0, 0}, idOrg = {0, 0, 0};
    int nName = WhatIsAt(pFiles->szPath, &idName), nOrg = WhatIsAt(pFiles->szOrgPath, &idOrg);
    // Every rename happened: Spoolcap in front after an install, the
    // codec's driver back after an uninstall.
    BOOL fRenamed = fInstall ? nName == HOLDS_SPOOLCAP && nOrg == HOLDS_OTHER : nName == HOLDS_OTHER && nOrg == HOLDS_NOTHING;
    GATEPROOF proof = {GATE_MADE, id, 0};
    BOOL fOk = TRUE;
    // An install whose renames all happened still needs the check that
    // ends it: the system opens the codec through Spoolcap, with the
    // codec's own driver loaded behind it. Else it is undone.
    CODECANSWER answer;
    if (fRenamed && fInstall && (!g_pfnAskCodec(pFiles, &answer) || !answer.fWrapped)) {
        fRenamed = FALSE;
        fOk = GateRename(pFiles->szPath, &proof, szCopy, FALSE) == GATE_DONE;
        nName = fOk ? HOLDS_NOTHING : nName;
    }
    if (!fOk) {
        // As it was: said below.
    } else if (fRenamed) {
        if (!fInstall) DeleteCopy(szCopy, &id);
    } else if (fInstall) {
        // Back to the codec alone: its driver's name back, the new copy gone.
        if (nName == HOLDS_NOTHING && nOrg == HOLDS_OTHER) fOk = RenameChecked(pFiles->szOrgPath, &idOrg, pFiles->szPath);
        else fOk = nName == HOLDS_OTHER && nOrg == HOLDS_NOTHING;
        if (fOk) DeleteCopy(szCopy, &id);
    } else {
        // Back to Spoolcap in front: its copy, by its identity, takes the
        // name again.
        if (nName == HOLDS_NOTHING && nOrg == HOLDS_OTHER) fOk = GateRename(szCopy, &proof, pFiles->szPath, FALSE) == GATE_DONE;
        else fOk = nName == HOLDS_SPOOLCAP && nOrg == HOLDS_OTHER;
    }
    if (!fOk) {
        Complain("an interrupted %s of Spoolcap (in front of %s) could not be settled: %s: %s, %s: %s. Put the codec's "
                 "own driver back as %s by hand, then delete %s.",
                 "Spoolcap の%s (%s の前) が中断されたままで, 元に戻せませんでした: %s: %s, %s: %s. "
                 "コーデック本来のドライバを手で %s に戻し, %s を削除してください.",
                 fInstall ? (g_fJapanese ? "インストール" : "install") : (g_fJapanese ? "アンインストール" : "uninstall"),
                 pFiles->szFourcc, pFiles->szPath, HoldsText(nName), pFiles->szOrgPath, HoldsText(nOrg), pFiles->szPath,
                 szJournal);
        return SETTLED_STUCK;
    }
    RemoveJournal(pFiles);
    BOOL fFinished = fRenamed;
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
