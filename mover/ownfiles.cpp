// What the commands may move, copy or delete: reference files of the AVI
// only. An AVI and its reference files may come from anyone; a record can
// name any file. A file is taken for a reference file when it begins with
// a frame header that adds up and is long enough for every frame that
// records of this system place in it. The two foreign kinds of reference
// frame name files of a format that cannot be checked: the user decides on
// those, each named. A file named by a relative name, through a link in
// the last part of a name, or that is no regular file, is never acted on.
#include "mover/shift.h"

#include "mover/message.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

void RefFileProof(DWORD k, GATEPROOF *pProof)
{
    memset(pProof, 0, sizeof(*pProof));
    if (k >= g_nRefFiles) return;
    const REFFILEENTRY *pEntry = &g_pRefFiles[k];
    pProof->nProof = (pEntry->dwKinds & REFKIND_RECORD) ? GATE_REFFILE : GATE_CONFIRMED;
    pProof->id = pEntry->facts.id;
    pProof->ullFramesEnd = pEntry->ullFramesEnd;
}

namespace {

// The refusal of a file that the gate would not open, as an outcome.
void RefuseByGate(const SHIFTREQUEST *pReq, SHIFTRESULT *pRes, DWORD k, int nGate)
{
    const MESSAGE *pMsg = nGate == GATE_NOT_PROVED   ? &MSG_NOT_A_REF_FILE
                          : nGate == GATE_NOT_A_FILE ? &MSG_REF_NOT_A_FILE
                          : nGate == GATE_FAILED     ? &MSG_CANNOT_OPEN
                                                     : &MSG_REF_CHANGED;
    AddOutcome(pReq, pRes, OUTCOME_REFUSED, (int)k, pMsg, MB_ICONERROR, RefFilePath(k), NULL);
}

}  // namespace

BOOL MayActOnRefFiles(AviInfo *pInfo, const SHIFTREQUEST *pReq, SHIFTRESULT *pRes)
{
    if (const MESSAGE *pRefusal = UnseenRefusal(pInfo)) {
        AddOutcome(pReq, pRes, OUTCOME_REFUSED, -1, pRefusal, MB_ICONERROR, pInfo->szAviFile, NULL);
        return FALSE;
    }
    if (HasRecoveryNote(pInfo)) {
        // A relocation that is running, or was cut short and not recovered.
        AddOutcome(pReq, pRes, OUTCOME_REFUSED, -1, &MSG_NOTE_STAYS, MB_ICONERROR, pInfo->szAviFile, NULL);
        return FALSE;
    }
    if (!g_fRefListComplete) {
        AddOutcome(pReq, pRes, OUTCOME_REFUSED, -1, &MSG_UNSEEN_DETECTION, MB_ICONERROR, NULL, NULL);
        return FALSE;
    }
    BOOL fOk = TRUE;
    size_t cchForeign = 0;
    LPSTR pszForeign = NULL;
    for (DWORD j = 0; j < pReq->nFiles; j++) {
        DWORD k = pReq->piFiles[j];
        if (k >= g_nRefFiles) continue;
        const REFFILEENTRY *pEntry = &g_pRefFiles[k];
        LPCSTR pszName = RefFilePath(k);
        // What is not there is passed over here; relocation says so itself.
        if (pEntry->facts.nKind == FILEKIND_MISSING && !pEntry->dwRefusal) continue;
        if (pEntry->dwRefusal) {
            const MESSAGE *pMsg = (pEntry->dwRefusal & REFUSE_RELATIVE) ? &MSG_REF_RELATIVE
                                  : (pEntry->dwRefusal & REFUSE_LINK)   ? &MSG_REF_LINK
                                                                        : &MSG_REF_NOT_A_FILE;
            AddOutcome(pReq, pRes, OUTCOME_REFUSED, (int)k, pMsg, MB_ICONERROR, pszName, NULL);
            fOk = FALSE;
            continue;
        }
        // The file is still the one detected, and what it is proved to be.
        GATEPROOF proof;
        RefFileProof(k, &proof);
        HANDLE h = INVALID_HANDLE_VALUE;
        int nGate = GateOpenForReading(pszName, &proof, &h);
        if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
        if (nGate == GATE_GONE) continue;
        if (nGate != GATE_DONE) {
            RefuseByGate(pReq, pRes, k, nGate);
            fOk = FALSE;
            continue;
        }
        if (pEntry->dwKinds & REFKIND_FOREIGN) {
            // One line a file.
            size_t cch = strlen(pszName);
            LPSTR pszGrown = (LPSTR)realloc(pszForeign, cchForeign + cch + 2);
            if (!pszGrown) {
                AddOutcome(pReq, pRes, OUTCOME_FAILED, -1, &MSG_NO_MEMORY, MB_ICONERROR, NULL, NULL);
                fOk = FALSE;
                break;
            }
            pszForeign = pszGrown;
            memcpy(pszForeign + cchForeign, pszName, cch);
            cchForeign += cch;
            pszForeign[cchForeign++] = '\n';
            pszForeign[cchForeign] = '\0';
        }
    }
    if (fOk && pszForeign && !(pReq->pfnConfirmForeign && pReq->pfnConfirmForeign(pReq->pv, pszForeign))) {
        pRes->fForeignDeclined = TRUE;
        fOk = FALSE;
    }
    free(pszForeign);
    return fOk;
}
