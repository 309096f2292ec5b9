// The reference files of the loaded AVI by identity: every spelling that a
// record holds is looked at once and belongs to the entry of the file it
// reaches (or, where nothing is there, of the name as the system would
// create it); detection fills the table frame by frame. Spellings and
// entries are found through hash tables, so that an AVI naming tens of
// thousands of files is detected in one pass.
#include "mover/shift.h"

#include "codec/refformat.h"
#include "mover/message.h"
#include "scaffold/recordnames.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

REFFILEENTRY *g_pRefFiles;
DWORD g_nRefFileCap;
DWORD g_nRefFiles;
BOOL g_fRefListComplete;

namespace {

// The texts of spellings and keys, one after another with their zeros.
CHAR *s_pchPool;
size_t s_cbPool, s_cbPoolCap;

struct SPELLING {
    size_t ibText;  // as the records hold it
    size_t ibFile;  // as this system names the file
    DWORD iEntry;
    DWORD iNext;  // the next spelling of the same entry
};
SPELLING *s_pSpellings;
DWORD s_nSpellings, s_nSpellingCap;

// Per entry, parallel to g_pRefFiles: the key's text and the last spelling.
struct ENTRYLINKS {
    size_t ibKey;
    DWORD iLastSpelling;
};
ENTRYLINKS *s_pLinks;

// Open addressing: slot = index + 1, 0 for an empty slot, TOMBSTONE for an
// item taken out.
const DWORD TOMBSTONE = 0xFFFFFFFFu;
struct HASHINDEX {
    DWORD *piSlots;
    DWORD nCap;  // a power of two, at least twice the entries
    DWORD nUsed;
};
HASHINDEX s_spellingIndex, s_entryIndex;

DWORD HashText(LPCSTR psz)
{
    DWORD h = 2166136261u;
    for (const BYTE *p = (const BYTE *)psz; *p; p++) h = (h ^ *p) * 16777619u;
    return h;
}

// The text of a spelling or a key.
LPCSTR PoolText(size_t ib) { return s_pchPool + ib; }

// Keeps a text in the pool; FALSE when memory runs out.
BOOL PoolAdd(LPCSTR psz, size_t *pib)
{
    size_t cb = strlen(psz) + 1;
    if (s_cbPool + cb > s_cbPoolCap) {
        size_t cbCap = s_cbPoolCap ? 2 * s_cbPoolCap : 16384;
        while (cbCap < s_cbPool + cb) cbCap *= 2;
        CHAR *pchGrown = (CHAR *)realloc(s_pchPool, cbCap);
        if (!pchGrown) return FALSE;
        s_pchPool = pchGrown;
        s_cbPoolCap = cbCap;
    }
    memcpy(s_pchPool + s_cbPool, psz, cb);
    *pib = s_cbPool;
    s_cbPool += cb;
    return TRUE;
}

// The text of slot content i in an index.
typedef LPCSTR (*TEXTOFPROC)(DWORD i);
LPCSTR SpellingTextOf(DWORD i) { return PoolText(s_pSpellings[i].ibText); }
LPCSTR EntryKeyOf(DWORD i) { return PoolText(s_pLinks[i].ibKey); }

// The item of that text, or -1.
int IndexFind(const HASHINDEX *pIndex, TEXTOFPROC pfnText, LPCSTR psz)
{
    if (!pIndex->nCap) return -1;
    DWORD nMask = pIndex->nCap - 1;
    for (DWORD h = HashText(psz) & nMask;; h = (h + 1) & nMask) {
        DWORD iSlot = pIndex->piSlots[h];
        if (!iSlot) return -1;
        if (iSlot != TOMBSTONE && strcmp(pfnText(iSlot - 1), psz) == 0) return (int)(iSlot - 1);
    }
}

// Takes item i out (its text as it was put in).
void IndexRemove(HASHINDEX *pIndex, TEXTOFPROC pfnText, DWORD i)
{
    if (!pIndex->nCap) return;
    DWORD nMask = pIndex->nCap - 1;
    for (DWORD h = HashText(pfnText(i)) & nMask; pIndex->piSlots[h]; h = (h + 1) & nMask) {
        if (pIndex->piSlots[h] == i + 1) {
            pIndex->piSlots[h] = TOMBSTONE;
            return;
        }
    }
}

void IndexPut(HASHINDEX *pIndex, TEXTOFPROC pfnText, DWORD i)
{
    DWORD nMask = pIndex->nCap - 1;
    DWORD h = HashText(pfnText(i)) & nMask;
    while (pIndex->piSlots[h]) h = (h + 1) & nMask;
    pIndex->piSlots[h] = i + 1;
    pIndex->nUsed++;
}

// Adds item i; FALSE when memory runs out.
BOOL IndexAdd(HASHINDEX *pIndex, TEXTOFPROC pfnText, DWORD i)
{
    if (2 * (pIndex->nUsed + 1) > pIndex->nCap) {
        DWORD nCap = pIndex->nCap ? 2 * pIndex->nCap : 1024;
        DWORD *piSlots = (DWORD *)calloc(nCap, sizeof(DWORD));
        if (!piSlots) return FALSE;
        DWORD *piOld = pIndex->piSlots;
        DWORD nOldCap = pIndex->nCap;
        pIndex->piSlots = piSlots;
        pIndex->nCap = nCap;
        pIndex->nUsed = 0;
        for (DWORD s = 0; s < nOldCap; s++)
            if (piOld[s] && piOld[s] != TOMBSTONE) IndexPut(pIndex, pfnText, piOld[s] - 1);
        free(piOld);
    }
    IndexPut(pIndex, pfnText, i);
    return TRUE;
}

void IndexClear(HASHINDEX *pIndex)
{
    if (pIndex->piSlots) memset(pIndex->piSlots, 0, pIndex->nCap * sizeof(DWORD));
    pIndex->nUsed = 0;
}

void IndexFree(HASHINDEX *pIndex)
{
    free(pIndex->piSlots);
    memset(pIndex, 0, sizeof(*pIndex));
}

// The key of the file a name reaches: its identity, or where there is none
// the name as the system would create it (pszKey: 2 * MAX_PATH + 32 bytes).
void KeyOfName(LPCSTR pszName, const FILEFACTS *pFacts, LPSTR pszKey)
{
    if (pFacts->nKind == FILEKIND_FILE || pFacts->nKind == FILEKIND_FOLDER) {
        snprintf(pszKey, 2 * MAX_PATH + 32, "#%08lX%08lX%08lX", (unsigned long)pFacts->id.dwVolume,
                 (unsigned long)pFacts->id.dwIndexHigh, (unsigned long)pFacts->id.dwIndexLow);
        return;
    }
    pszKey[0] = '=';
    if (!CreationKey(pszName, pszKey + 1)) snprintf(pszKey + 1, 2 * MAX_PATH, "%s", pszName);
}

// Why a file that a name reaches is not to be acted on.
DWORD RefusalOf(const FILEFACTS *pFacts)
{
    DWORD dwRefusal = 0;
    if (pFacts->fRelative) dwRefusal |= REFUSE_RELATIVE;
    if (pFacts->fLink) dwRefusal |= REFUSE_LINK;
    if (pFacts->nKind != FILEKIND_FILE && pFacts->nKind != FILEKIND_MISSING) dwRefusal |= REFUSE_NOT_A_FILE;
    return dwRefusal;
}

// Room for one more entry: ten at a time, more once the table is large.
BOOL GrowEntries(void)
{
    if (g_nRefFiles < g_nRefFileCap) return TRUE;
    DWORD nStep = g_nRefFileCap / 2 / 10 * 10;
    if (nStep < 10) nStep = 10;
    DWORD nCap = g_nRefFileCap + nStep;
    void *pGrown = realloc(g_pRefFiles, (size_t)nCap * sizeof(REFFILEENTRY));
    if (!pGrown) return FALSE;
    g_pRefFiles = (REFFILEENTRY *)pGrown;
    void *pLinks = realloc(s_pLinks, (size_t)nCap * sizeof(ENTRYLINKS));
    if (!pLinks) return FALSE;
    s_pLinks = (ENTRYLINKS *)pLinks;
    g_nRefFileCap = nCap;
    return TRUE;
}

BOOL GrowSpellings(void)
{
    if (s_nSpellings < s_nSpellingCap) return TRUE;
    DWORD nCap = s_nSpellingCap ? 2 * s_nSpellingCap : 64;
    void *pGrown = realloc(s_pSpellings, (size_t)nCap * sizeof(SPELLING));
    if (!pGrown) return FALSE;
    s_pSpellings = (SPELLING *)pGrown;
    s_nSpellingCap = nCap;
    return TRUE;
}

// The entry of a spelling, adding both as needed; -1 when memory runs out.
// *pfNew says that the entry is new.
int EntryOfSpelling(LPCSTR pszName, BOOL *pfNew)
{
    *pfNew = FALSE;
    int iSpelling = IndexFind(&s_spellingIndex, SpellingTextOf, pszName);
    if (iSpelling >= 0) return (int)s_pSpellings[iSpelling].iEntry;
    // The file is looked up by the name this system gives it.
    CHAR szFile[MAX_PATH];
    RecordNameToFileName(pszName, szFile);
    FILEFACTS facts;
    LookAtName(szFile, &facts);
    CHAR szKey[2 * MAX_PATH + 32];
    KeyOfName(szFile, &facts, szKey);
    int k = IndexFind(&s_entryIndex, EntryKeyOf, szKey);
    if (!GrowSpellings()) return -1;
    if (k < 0) {
        size_t ibKey;
        if (!GrowEntries() || !PoolAdd(szKey, &ibKey)) return -1;
        k = (int)g_nRefFiles;
        REFFILEENTRY *pEntry = &g_pRefFiles[k];
        memset(pEntry, 0, sizeof(*pEntry));
        pEntry->facts = facts;
        pEntry->iSpelling = s_nSpellings;
        s_pLinks[k].ibKey = ibKey;
        s_pLinks[k].iLastSpelling = NO_SPELLING;
        if (!IndexAdd(&s_entryIndex, EntryKeyOf, (DWORD)k)) return -1;
        g_nRefFiles++;
        *pfNew = TRUE;
    }
    size_t ibText, ibFile;
    if (!PoolAdd(pszName, &ibText) || !PoolAdd(szFile, &ibFile)) return -1;
    DWORD iNew = s_nSpellings;
    s_pSpellings[iNew].ibText = ibText;
    s_pSpellings[iNew].ibFile = ibFile;
    s_pSpellings[iNew].iEntry = (DWORD)k;
    s_pSpellings[iNew].iNext = NO_SPELLING;
    if (!IndexAdd(&s_spellingIndex, SpellingTextOf, iNew)) return -1;
    s_nSpellings++;
    if (s_pLinks[k].iLastSpelling != NO_SPELLING) s_pSpellings[s_pLinks[k].iLastSpelling].iNext = iNew;
    s_pLinks[k].iLastSpelling = iNew;
    REFFILEENTRY *pEntry = &g_pRefFiles[k];
    pEntry->nSpellings++;
    pEntry->dwRefusal |= RefusalOf(&facts);
    return k;
}

bool SameFourccIgnoringCase(FOURCC a, const char *psz)
{
    for (int i = 0; i < 4; i++) {
        char c = (char)((a >> (8 * i)) & 0xFF);
        if (c >= 'A' && c <= 'Z') c = (char)(c - 'A' + 'a');
        if (c != psz[i]) return false;
    }
    return true;
}

}  // namespace

LPCSTR RefFileName(DWORD k)
{
    if (k >= g_nRefFiles) return "";
    return PoolText(s_pSpellings[g_pRefFiles[k].iSpelling].ibText);
}

LPCSTR RefFilePath(DWORD k)
{
    if (k >= g_nRefFiles) return "";
    return PoolText(s_pSpellings[g_pRefFiles[k].iSpelling].ibFile);
}

LPCSTR RefSpellingPath(DWORD iSpelling) { return iSpelling < s_nSpellings ? PoolText(s_pSpellings[iSpelling].ibFile) : ""; }

DWORD FirstRefSpelling(DWORD k) { return k < g_nRefFiles ? g_pRefFiles[k].iSpelling : NO_SPELLING; }
DWORD NextRefSpelling(DWORD iSpelling) { return iSpelling < s_nSpellings ? s_pSpellings[iSpelling].iNext : NO_SPELLING; }
LPCSTR RefSpellingText(DWORD iSpelling) { return iSpelling < s_nSpellings ? SpellingTextOf(iSpelling) : ""; }

int FindRefSpelling(LPCSTR pszName)
{
    int iSpelling = IndexFind(&s_spellingIndex, SpellingTextOf, pszName);
    return iSpelling >= 0 ? (int)s_pSpellings[iSpelling].iEntry : -1;
}

int FindRefFile(LPCSTR pszName)
{
    CHAR szRecord[MAX_PATH];
    int iSpelling = FileNameToRecordName(pszName, szRecord) ? IndexFind(&s_spellingIndex, SpellingTextOf, szRecord) : -1;
    if (iSpelling >= 0) return (int)s_pSpellings[iSpelling].iEntry;
    FILEFACTS facts;
    LookAtName(pszName, &facts);
    CHAR szKey[2 * MAX_PATH + 32];
    KeyOfName(pszName, &facts, szKey);
    return IndexFind(&s_entryIndex, EntryKeyOf, szKey);
}

BOOL RenameRefFile(DWORD k, LPCSTR pszNew)
{
    if (k >= g_nRefFiles) return FALSE;
    REFFILEENTRY *pEntry = &g_pRefFiles[k];
    for (DWORD i = pEntry->iSpelling; i != NO_SPELLING; i = s_pSpellings[i].iNext)
        IndexRemove(&s_spellingIndex, SpellingTextOf, i);
    IndexRemove(&s_entryIndex, EntryKeyOf, k);
    CHAR szFile[MAX_PATH];
    RecordNameToFileName(pszNew, szFile);
    FILEFACTS facts;
    LookAtName(szFile, &facts);
    CHAR szKey[2 * MAX_PATH + 32];
    KeyOfName(szFile, &facts, szKey);
    size_t ibKey, ibText, ibFile;
    if (!GrowSpellings() || !PoolAdd(szKey, &ibKey) || !PoolAdd(pszNew, &ibText) || !PoolAdd(szFile, &ibFile)) {
        // The table no longer tells the files: a new detection is needed.
        g_fRefListComplete = FALSE;
        return FALSE;
    }
    DWORD iNew = s_nSpellings++;
    s_pSpellings[iNew].ibText = ibText;
    s_pSpellings[iNew].ibFile = ibFile;
    s_pSpellings[iNew].iEntry = k;
    s_pSpellings[iNew].iNext = NO_SPELLING;
    s_pLinks[k].ibKey = ibKey;
    s_pLinks[k].iLastSpelling = iNew;
    pEntry->iSpelling = iNew;
    pEntry->nSpellings = 1;
    pEntry->facts = facts;
    pEntry->dwRefusal = RefusalOf(&facts);
    if (!IndexAdd(&s_spellingIndex, SpellingTextOf, iNew) || !IndexAdd(&s_entryIndex, EntryKeyOf, k)) {
        g_fRefListComplete = FALSE;
        return FALSE;
    }
    return TRUE;
}

void ResetRefTable(void)
{
    g_nRefFiles = 0;
    s_nSpellings = 0;
    s_cbPool = 0;
    IndexClear(&s_spellingIndex);
    IndexClear(&s_entryIndex);
    g_fRefListComplete = FALSE;
}

void FreeRefTable(void)
{
    ResetRefTable();
    free(g_pRefFiles);
    g_pRefFiles = NULL;
    g_nRefFileCap = 0;
    free(s_pLinks);
    s_pLinks = NULL;
    free(s_pSpellings);
    s_pSpellings = NULL;
    s_nSpellingCap = 0;
    free(s_pchPool);
    s_pchPool = NULL;
    s_cbPoolCap = 0;
    IndexFree(&s_spellingIndex);
    IndexFree(&s_entryIndex);
}

const BYTE *FindNameField(const BYTE *pData, DWORD cbData, FOURCC fccHandler, DWORD *pcbField)
{
    // A record of this system: the name at 16, a field of 260 bytes, as far
    // as the frame holds it.
    if (cbData >= REFREC_MAGIC_LEN && memcmp(pData, REFREC_MAGIC, REFREC_MAGIC_LEN) == 0) {
        DWORD cbField = cbData > 16 ? cbData - 16 : 0;
        if (cbField > MAX_PATH) cbField = MAX_PATH;
        *pcbField = cbField;
        return cbField ? pData + 16 : NULL;
    }
    // The two foreign kinds: the name from 16 behind a "REF " tag, or from
    // 12 in any frame of their stream; a frame too short for it holds none.
    DWORD dwAt = 0;
    if (cbData >= 4 && memcmp(pData, "REF ", 4) == 0 && SameFourccIgnoringCase(fccHandler, "cdvc")) dwAt = 16;
    else if (SameFourccIgnoringCase(fccHandler, "dvrs")) dwAt = 12;
    if (!dwAt || cbData <= dwAt) return NULL;
    *pcbField = cbData - dwAt;
    return pData + dwAt;
}

void NameInField(const BYTE *pField, DWORD cbField, LPSTR pszName)
{
    DWORD cchMax = cbField < MAX_PATH - 1 ? cbField : MAX_PATH - 1;
    const BYTE *pZero = (const BYTE *)memchr(pField, 0, cchMax);
    DWORD cch = pZero ? (DWORD)(pZero - pField) : cchMax;
    memcpy(pszName, pField, cch);
    pszName[cch] = '\0';
}

// --- Requests and results ---------------------------------------------------------

void InitShiftRequest(SHIFTREQUEST *pReq) { memset(pReq, 0, sizeof(*pReq)); }
void InitShiftResult(SHIFTRESULT *pRes) { memset(pRes, 0, sizeof(*pRes)); }

void FreeShiftResult(SHIFTRESULT *pRes)
{
    free(pRes->pOutcomes);
    memset(pRes, 0, sizeof(*pRes));
}

namespace {

void FillOutcome(SHIFTOUTCOME *pOutcome, int nOutcome, int iFile, const MESSAGE *pMsg, UINT uIcon, LPCSTR pszA,
                 LPCSTR pszB)
{
    pOutcome->nOutcome = nOutcome;
    pOutcome->iFile = iFile;
    pOutcome->pMsg = pMsg;
    pOutcome->uIcon = uIcon;
    snprintf(pOutcome->szA, sizeof(pOutcome->szA), "%s", pszA ? pszA : "");
    snprintf(pOutcome->szB, sizeof(pOutcome->szB), "%s", pszB ? pszB : "");
}

}  // namespace

SHIFTOUTCOME *AddOutcome(const SHIFTREQUEST *pReq, SHIFTRESULT *pRes, int nOutcome, int iFile, const MESSAGE *pMsg,
                         UINT uIcon, LPCSTR pszA, LPCSTR pszB)
{
    if (pRes->nOutcomes == pRes->nCap) {
        int nCap = pRes->nCap ? 2 * pRes->nCap : 8;
        void *pGrown = realloc(pRes->pOutcomes, (size_t)nCap * sizeof(SHIFTOUTCOME));
        if (pGrown) {
            pRes->pOutcomes = (SHIFTOUTCOME *)pGrown;
            pRes->nCap = nCap;
        }
    }
    if (pRes->nOutcomes == pRes->nCap) {
        // An outcome that cannot be kept is still told.
        SHIFTOUTCOME local;
        FillOutcome(&local, nOutcome, iFile, pMsg, uIcon, pszA, pszB);
        if (pReq && pReq->pfnOutcome) pReq->pfnOutcome(pReq->pv, &local);
        return NULL;
    }
    SHIFTOUTCOME *pOutcome = &pRes->pOutcomes[pRes->nOutcomes++];
    FillOutcome(pOutcome, nOutcome, iFile, pMsg, uIcon, pszA, pszB);
    if (pReq && pReq->pfnOutcome) pReq->pfnOutcome(pReq->pv, pOutcome);
    return pOutcome;
}

void RenderOutcome(LPSTR psz, size_t cb, const SHIFTOUTCOME *pOutcome)
{
    if (!pOutcome->pMsg) {
        snprintf(psz, cb, "%s", pOutcome->szA);
        return;
    }
    RenderMessage(psz, cb, pOutcome->pMsg, pOutcome->szA, pOutcome->szB);
}

int CountOutcomes(const SHIFTRESULT *pRes, int nOutcome)
{
    int n = 0;
    for (int i = 0; i < pRes->nOutcomes; i++) n += pRes->pOutcomes[i].nOutcome == nOutcome ? 1 : 0;
    return n;
}

// --- Detection ----------------------------------------------------------------------

BOOL RunDetection(AviInfo *pInfo, const SHIFTREQUEST *pReq, SHIFTRESULT *pRes)
{
    ResetRefTable();
    BOOL fAborted = FALSE;
    DWORD i = 0;
    // The scratch region holds the largest frame: a frame whose bytes are
    // not in memory is read into it.
    DWORD cbScratch = g_pbScratch ? (DWORD)(g_pbWork + g_cbWork - g_pbScratch) : 0;
    // The last few names met, each with its entry: records name one file in
    // runs, or two in turn (two series).
    const int RECENT = 4;
    CHAR aszRecent[RECENT][MAX_PATH];
    DWORD acchRecent[RECENT];
    int akRecent[RECENT];
    int nRecent = 0, iNextRecent = 0, rLast = 0;
    for (; i < pInfo->nFrames && cbScratch > 0; i++) {
        // The frame where the AVI's bytes are held, else copied to scratch;
        // nothing below reads past its cb bytes.
        DWORD cb = 0;
        const BYTE *pbFrame = NULL;
        if (const MESSAGE *pFailure = FrameView(pInfo, g_pbScratch, cbScratch, i, &pbFrame, &cb)) {
            AddOutcome(pReq, pRes, OUTCOME_FAILED, -1, pFailure, MB_ICONQUESTION, pInfo->szAviFile, NULL);
            break;
        }
        DWORD cbField = 0;
        const BYTE *pField = FindNameField(pbFrame, cb, pInfo->fccHandler, &cbField);
        if (pField) {
            BOOL fNew = FALSE;
            // A field that holds a recent name and its zero needs no
            // look-up. Else the name ends at its zero or at the end of its
            // field.
            // The name last met is looked at first: in a run it is the
            // only one compared.
            int k = -1;
            for (int n = 0, r = rLast; n < nRecent && k < 0; n++, r = r + 1 < nRecent ? r + 1 : 0) {
                if (cbField > acchRecent[r] && memcmp(pField, aszRecent[r], acchRecent[r] + 1) == 0) {
                    k = akRecent[r];
                    rLast = r;
                }
            }
            if (k < 0) {
                int r = rLast = iNextRecent;
                iNextRecent = (iNextRecent + 1) % RECENT;
                if (nRecent < RECENT) nRecent++;
                NameInField(pField, cbField, aszRecent[r]);
                acchRecent[r] = (DWORD)strlen(aszRecent[r]);
                k = akRecent[r] = EntryOfSpelling(aszRecent[r], &fNew);
            }
            if (k < 0) {
                AddOutcome(pReq, pRes, OUTCOME_FAILED, -1, &MSG_NO_MEMORY, MB_ICONERROR, NULL, NULL);
                break;
            }
            REFFILEENTRY *pEntry = &g_pRefFiles[k];
            // A record of this system says where its frame lies.
            DWORD dwOffset = 0;
            ULONGLONG ullEnd = RefRecordFrameEnd(pbFrame, cb, &dwOffset);
            if (fNew) {
                pEntry->dwFirstFrame = i;
                pEntry->cbNameField = cbField;
            }
            pEntry->dwFrameCount++;
            if (cbField < pEntry->cbNameField) pEntry->cbNameField = cbField;
            pEntry->dwKinds |= IsRefRecord(pbFrame, cb) ? REFKIND_RECORD : REFKIND_FOREIGN;
            if (ullEnd > pEntry->ullFramesEnd) {
                pEntry->ullFramesEnd = ullEnd;
                pEntry->ullLastFrame = dwOffset;
            }
            pInfo->pFrames[i].dwRef = (DWORD)k;
            if (fNew && pReq && pReq->pfnFound) pReq->pfnFound(pReq->pv, (DWORD)k);
        }
        if (pReq && pReq->pfnProgress) pReq->pfnProgress(pReq->pv, STEP_DETECT, (ULONGLONG)i + 1, pInfo->nFrames);
        if (pReq && pReq->pfAbort && *pReq->pfAbort) {
            fAborted = TRUE;
            break;
        }
    }
    // Files are moved or deleted only on the say of a detection that read
    // every frame: one cut short by an unreadable frame (or by memory) leaves
    // the table to look at only, as an abort does.
    pRes->fAborted = fAborted;
    pRes->nFramesRead = i;
    pRes->fComplete = g_fRefListComplete = !fAborted && i >= pInfo->nFrames;
    return pRes->fComplete;
}
