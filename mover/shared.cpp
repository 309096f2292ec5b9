// Other AVIs that name the loaded AVI's reference files. Before an AVI is
// deleted with all its files, the folders of those files and the AVI's own
// folder are searched (not below them) for other AVIs, told by their
// contents, whose records name one of the files by its identity: a salvaged
// AVI names the same files as the one it was made from, and deleting one
// with its files would strand the other.
#include "mover/shift.h"

#include "avi/aviread.h"
#include "codec/refformat.h"
#include "scaffold/paths.h"
#include "scaffold/recordnames.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

namespace {

// The entry whose file the record's name reaches, or -1; the last name
// looked up is kept, as records name one file in runs.
typedef struct {
    CHAR szLastName[MAX_PATH];
    int iLastEntry;
} NAMELOOKUP;

int EntryOfRecordName(NAMELOOKUP *pLookup, LPCSTR pszName)
{
    if (strcmp(pszName, pLookup->szLastName) == 0) return pLookup->iLastEntry;
    snprintf(pLookup->szLastName, sizeof(pLookup->szLastName), "%s", pszName);
    pLookup->iLastEntry = -1;
    CHAR szFile[MAX_PATH];
    RecordNameToFileName(pszName, szFile);
    FILEFACTS facts;
    LookAtName(szFile, &facts);
    if (facts.nKind != FILEKIND_FILE) return -1;
    for (DWORD k = 0; k < g_nRefFiles && pLookup->iLastEntry < 0; k++)
        if (g_pRefFiles[k].facts.nKind == FILEKIND_FILE && SameFileId(&g_pRefFiles[k].facts.id, &facts.id))
            pLookup->iLastEntry = (int)k;
    return pLookup->iLastEntry;
}

// Marks every file that is there: what an AVI or a folder that cannot be
// read names is unknown, so any of them may be named.
void MarkAll(LPCSTR pszWhy, BOOL *afShared, PFNSHAREDWITH pfnFound, void *pv, DWORD *pnShared)
{
    for (DWORD k = 0; k < g_nRefFiles; k++) {
        if (g_pRefFiles[k].facts.nKind != FILEKIND_FILE) continue;
        if (!afShared[k]) (*pnShared)++;
        afShared[k] = TRUE;
        if (pfnFound) pfnFound(pv, k, pszWhy);
    }
}

// Reads another AVI's records and marks the entries they name; an AVI that
// cannot be read whole may name any of them.
void MarkNamedBy(LPCSTR pszAvi, BOOL *afShared, BOOL *afHere, PFNSHAREDWITH pfnFound, void *pv, DWORD *pnShared)
{
    HANDLE h = CreateFileA(pszAvi, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL,
                           OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, NULL);
    if (h == INVALID_HANDLE_VALUE) {
        MarkAll(pszAvi, afShared, pfnFound, pv, pnShared);
        return;
    }
    AVIREAD *pAvi = (AVIREAD *)calloc(1, sizeof(AVIREAD));
    BOOL fWhole = pAvi && ReadAvi(h, pAvi) == AVIREAD_OK && !pAvi->nUnplaced && !pAvi->nUnlisted;
    if (!fWhole) MarkAll(pszAvi, afShared, pfnFound, pv, pnShared);
    if (fWhole) {
        memset(afHere, 0, sizeof(BOOL) * (g_nRefFiles + 1));
        NAMELOOKUP lookup;
        memset(&lookup, 0, sizeof(lookup));
        lookup.iLastEntry = -1;
        for (int s = 0; s < pAvi->nStreams; s++) {
            const AVIREADSTREAM *pStream = &pAvi->aStreams[s];
            for (DWORD c = 0; c < pStream->nChunks; c++) {
                if (pStream->pChunks[c].cbData < sizeof(REFRECORD)) continue;
                REFRECORD rec;
                if (!RiffRead(&pAvi->file, pStream->pChunks[c].ullData, &rec, sizeof(rec)) ||
                    !IsRefRecord(&rec, sizeof(rec)))
                    continue;
                rec.szFileName[MAX_PATH - 1] = '\0';
                int k = EntryOfRecordName(&lookup, rec.szFileName);
                if (k < 0 || afHere[k]) continue;
                afHere[k] = TRUE;
                if (!afShared[k]) (*pnShared)++;
                afShared[k] = TRUE;
                if (pfnFound) pfnFound(pv, (DWORD)k, pszAvi);
            }
        }
    }
    if (pAvi) FreeAvi(pAvi);
    free(pAvi);
    CloseHandle(h);
}

// Whether the file begins as an AVI does, or cannot be opened to tell.
BOOL MayBeAvi(LPCSTR pszPath)
{
    HANDLE h = CreateFileA(pszPath, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL,
                           OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, NULL);
    if (h == INVALID_HANDLE_VALUE) return TRUE;
    BYTE ab[12];
    DWORD cb = 0;
    BOOL fAvi = ReadFile(h, ab, sizeof(ab), &cb, NULL) && BeginsAsAvi(ab, cb);
    CloseHandle(h);
    return fAvi;
}

// The folder of a path, with its separator (pszFolder: MAX_PATH bytes).
void FolderOf(LPCSTR pszPath, LPSTR pszFolder)
{
    size_t cch = strnlen(pszPath, MAX_PATH - 1);
    memcpy(pszFolder, pszPath, cch);
    pszFolder[cch] = '\0';
    LPSTR pszName = GetFileNamePart(pszFolder);
    *pszName = '\0';
}

}  // namespace

DWORD FindSharedRefFiles(const AviInfo *pInfo, BOOL *afShared, PFNSHAREDWITH pfnFound, void *pv)
{
    memset(afShared, 0, sizeof(BOOL) * (g_nRefFiles + 1));
    // The folders: the AVI's, then each file's, each once (by identity).
    DWORD nFolders = 0;
    LPSTR pszFolders = (LPSTR)calloc((size_t)g_nRefFiles + 1, MAX_PATH);
    FILEID *pFolderIds = (FILEID *)calloc((size_t)g_nRefFiles + 1, sizeof(FILEID));
    BOOL *afHere = (BOOL *)calloc((size_t)g_nRefFiles + 1, sizeof(BOOL));
    DWORD nShared = 0;
    if (!pszFolders || !pFolderIds || !afHere) {
        free(pszFolders);
        free(pFolderIds);
        free(afHere);
        return FINDSHARED_FAILED;
    }
    for (DWORD k = 0; pszFolders && pFolderIds && afHere && k <= g_nRefFiles; k++) {
        CHAR szFolder[MAX_PATH];
        if (k == 0) {
            FolderOf(pInfo->szRealFile[0] ? pInfo->szRealFile : pInfo->szAviFile, szFolder);
        } else {
            if (g_pRefFiles[k - 1].facts.nKind != FILEKIND_FILE) continue;
            CHAR szFile[MAX_PATH];
            RecordNameToFileName(RefFileName(k - 1), szFile);
            FolderOf(szFile, szFolder);
        }
        FILEFACTS facts;
        LookAtName(szFolder[0] ? szFolder : ".", &facts);
        if (facts.nKind != FILEKIND_FOLDER) continue;
        BOOL fSeen = FALSE;
        for (DWORD i = 0; i < nFolders && !fSeen; i++) fSeen = SameFileId(&pFolderIds[i], &facts.id);
        if (fSeen) continue;
        pFolderIds[nFolders] = facts.id;
        snprintf(pszFolders + (size_t)nFolders * MAX_PATH, MAX_PATH, "%s", szFolder);
        nFolders++;
    }
    for (DWORD i = 0; afHere && i < nFolders; i++) {
        LPCSTR pszFolder = pszFolders + (size_t)i * MAX_PATH;
        CHAR szPattern[MAX_PATH];
        if (snprintf(szPattern, sizeof(szPattern), "%s*", pszFolder[0] ? pszFolder : "") >= (int)sizeof(szPattern)) {
            MarkAll(pszFolder, afShared, pfnFound, pv, &nShared);
            continue;
        }
        WIN32_FIND_DATAA data;
        HANDLE hFind = FindFirstFileA(szPattern, &data);
        if (hFind == INVALID_HANDLE_VALUE) {
            MarkAll(pszFolder, afShared, pfnFound, pv, &nShared);
            continue;
        }
        do {
            if (data.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) continue;
            CHAR szPath[MAX_PATH];
            if (snprintf(szPath, sizeof(szPath), "%s%s", pszFolder, data.cFileName) >= (int)sizeof(szPath)) {
                MarkAll(pszFolder, afShared, pfnFound, pv, &nShared);
                continue;
            }
            FILEFACTS facts;
            LookAtName(szPath, &facts);
            // A name that cannot be looked at may be an AVI's.
            if (facts.nKind == FILEKIND_MISSING || facts.nKind == FILEKIND_UNKNOWN) {
                MarkAll(szPath, afShared, pfnFound, pv, &nShared);
                continue;
            }
            // The AVI itself is no other AVI.
            if (facts.nKind != FILEKIND_FILE || facts.fLink || SameFileId(&facts.id, &pInfo->idFile)) continue;
            if (MayBeAvi(szPath)) MarkNamedBy(szPath, afShared, afHere, pfnFound, pv, &nShared);
        } while (FindNextFileA(hFind, &data));
        FindClose(hFind);
    }
    free(pszFolders);
    free(pFolderIds);
    free(afHere);
    return nShared;
}
