// Deleting reference files of the loaded AVI: the request's files, or every
// file of the table together with the AVI. Only reference files go (see
// MayActOnRefFiles), each by the identity detection saw, through the gate,
// and only on the say of a detection that read every frame of a file read
// whole. With every file, the AVI goes first, the file its name reached
// when it was loaded: a deletion cut short then leaves no AVI naming files
// that are gone, and an AVI opened through a link goes itself, not the link.
#include "mover/shift.h"

#include "mover/message.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

namespace {

// The lines of the files that other AVIs name: "FILE (OTHER.avi)".
typedef struct {
    LPSTR psz;
    size_t cch, cb;
    BOOL fFailed;
} SHAREDTEXT;

void AddSharedLine(void *pv, DWORD k, LPCSTR pszOtherAvi)
{
    SHAREDTEXT *pText = (SHAREDTEXT *)pv;
    size_t cchLine = strlen(RefFilePath(k)) + strlen(pszOtherAvi) + 8;
    if (pText->fFailed) return;
    if (pText->cch + cchLine + 1 > pText->cb) {
        size_t cb = (pText->cb ? pText->cb * 2 : 1024) + cchLine;
        LPSTR psz = (LPSTR)realloc(pText->psz, cb);
        if (!psz) {
            pText->fFailed = TRUE;
            return;
        }
        pText->psz = psz;
        pText->cb = cb;
    }
    pText->cch += (size_t)snprintf(pText->psz + pText->cch, pText->cb - pText->cch, "%s (%s)\n", RefFilePath(k), pszOtherAvi);
}

}  // namespace

BOOL RunDeletion(AviInfo *pInfo, const SHIFTREQUEST *pReq, SHIFTRESULT *pRes)
{
    // Every file of the table with fAll, in list order.
    SHIFTREQUEST req = *pReq;
    DWORD *piAll = NULL;
    if (pReq->fAll) {
        piAll = (DWORD *)calloc((size_t)g_nRefFiles + 1, sizeof(DWORD));
        if (!piAll) {
            AddOutcome(pReq, pRes, OUTCOME_FAILED, -1, &MSG_NO_MEMORY, MB_ICONERROR, NULL, NULL);
            return FALSE;
        }
        for (DWORD k = 0; k < g_nRefFiles; k++) piAll[k] = k;
        req.piFiles = piAll;
        req.nFiles = g_nRefFiles;
    }
    BOOL fOk = MayActOnRefFiles(pInfo, &req, pRes);
    // Files that other AVIs name too stay, unless the user says otherwise.
    BOOL *afShared = fOk && pReq->fAll ? (BOOL *)calloc((size_t)g_nRefFiles + 1, sizeof(BOOL)) : NULL;
    if (fOk && pReq->fAll && !afShared) {
        AddOutcome(pReq, pRes, OUTCOME_FAILED, -1, &MSG_NO_MEMORY, MB_ICONERROR, NULL, NULL);
        fOk = FALSE;
    }
    SHAREDTEXT text = {NULL, 0, 0, FALSE};
    DWORD nShared = afShared ? FindSharedRefFiles(pInfo, afShared, AddSharedLine, &text) : 0;
    if (nShared == FINDSHARED_FAILED) {
        AddOutcome(pReq, pRes, OUTCOME_FAILED, -1, &MSG_NO_MEMORY, MB_ICONERROR, NULL, NULL);
        fOk = FALSE;
    } else if (nShared) {
        BOOL fDeleteShared = !text.fFailed && pReq->pfnConfirmShared && pReq->pfnConfirmShared(pReq->pv, text.psz);
        DWORD n = 0;
        for (DWORD k = 0; k < g_nRefFiles; k++) {
            if (!afShared[k] || fDeleteShared) piAll[n++] = k;
            else AddOutcome(pReq, pRes, OUTCOME_KEPT, (int)k, NULL, 0, RefFilePath(k), NULL);
        }
        req.nFiles = n;
    }
    free(text.psz);
    free(afShared);
    if (fOk) {
        // Spoolcap and the stream library let go of the files they read.
        CloseFrameStream(pInfo);
        OpenFrameCodec(pInfo, FALSE);
    }
    if (fOk && req.fAll) {
        GATEPROOF avi;
        memset(&avi, 0, sizeof(avi));
        avi.nProof = GATE_THE_AVI;
        avi.id = pInfo->idFile;
        CHAR szShown[sizeof(pInfo->szAviFile)], szReal[MAX_PATH];
        snprintf(szShown, sizeof(szShown), "%s", pInfo->szAviFile);
        snprintf(szReal, sizeof(szReal), "%s", pInfo->szRealFile);
        LoadAvi(pInfo, FALSE);
        int nGate = szReal[0] ? GateDelete(szReal, &avi) : GATE_FAILED;
        if (nGate == GATE_DONE) {
            pRes->fAviDeleted = TRUE;
            AddOutcome(pReq, pRes, OUTCOME_DELETED, -1, NULL, 0, szShown, NULL);
        } else {
            BOOL fChanged = nGate == GATE_OTHER_FILE || nGate == GATE_NOT_A_FILE || nGate == GATE_GONE;
            AddOutcome(pReq, pRes, fChanged ? OUTCOME_REFUSED : OUTCOME_FAILED, -1,
                       fChanged ? &MSG_AVI_CHANGED : &MSG_AVI_NOT_DELETED, MB_ICONERROR, szShown, NULL);
            fOk = FALSE;
        }
    }
    for (DWORD j = 0; fOk && j < req.nFiles; j++) {
        DWORD k = req.piFiles[j];
        if (k >= g_nRefFiles) continue;
        // A listed file that is not there is passed over.
        if (g_pRefFiles[k].facts.nKind == FILEKIND_MISSING) continue;
        GATEPROOF proof;
        RefFileProof(k, &proof);
        // Every name of the file that still reaches it (hard links of one
        // file are names of their own).
        BOOL fDeleted = FALSE;
        for (DWORD i = FirstRefSpelling(k); i != NO_SPELLING && fOk; i = NextRefSpelling(i)) {
            int nGate = GateDelete(RefSpellingPath(i), &proof);
            if (nGate == GATE_DONE) fDeleted = TRUE;
            else if (nGate != GATE_GONE) {
                BOOL fChanged = nGate == GATE_OTHER_FILE || nGate == GATE_NOT_A_FILE || nGate == GATE_NOT_PROVED;
                AddOutcome(pReq, pRes, fChanged ? OUTCOME_REFUSED : OUTCOME_FAILED, (int)k,
                           fChanged ? &MSG_REF_CHANGED : &MSG_REF_NOT_DELETED, MB_ICONERROR, RefSpellingPath(i), NULL);
                fOk = FALSE;
            }
        }
        if (fDeleted) {
            g_pRefFiles[k].facts.nKind = FILEKIND_MISSING;
            AddOutcome(pReq, pRes, OUTCOME_DELETED, (int)k, NULL, 0, RefFilePath(k), NULL);
        }
    }
    if (!pRes->fAviDeleted && pInfo->hmmio) OpenFrameCodec(pInfo, TRUE);
    free(piAll);
    return fOk;
}
