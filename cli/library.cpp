// spool library, refs --who and clean: the AVIs and reference files of whole
// trees, each told by its contents (never by its extension), and which AVI
// names which reference file, by the file's identity.
#include "cli/claims.h"
#include "cli/jobs.h"
#include "cli/spool.h"

#include "avi/aviread.h"

#include "codec/refformat.h"
#include "scaffold/filegate.h"
#include "scaffold/paths.h"
#include "scaffold/recordnames.h"
#include "scaffold/version.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

DWORD g_nLibraryPartsTaken;
DWORD g_nLibraryPoolFilesTaken;

namespace {

#ifdef _WIN32
const char s_chSeparator = '\\';
#else
const char s_chSeparator = '/';
#endif

// What a file of the trees is, by its first bytes.
#define LIB_OTHER 0
#define LIB_AVI 1  // "RIFF" ... "AVI "
#define LIB_REF 2  // begins with a frame header that adds up
#define LIB_UNREADABLE 3  // cannot be opened or read: it may be an AVI

// One file of the trees.
typedef struct {
    LPSTR pszPath;
    FILEID id;
    ULONGLONG ullSize;
    time_t tWritten;
    int nKind;
    // AVIs: how their records were read, whether a relocation's note stays
    // beside them, and the reference files they name (s_aNames).
    int nRead;
    BOOL fNote;
    DWORD iFirstName, nNames;
    // Reference files: the AVIs of the trees that name them.
    DWORD nNamedBy;
    // The file was reached already through another tree.
    BOOL fAgain;
    // The tree it was found in (its path begins with the tree's).
    int iTree;
    // AVIs with --verify: verify's status (-1: not checked) and counts.
    int nVerify;
    VERIFYCOUNTS verify;
    // AVIs read in parts: the part that reads it (0: this process;
    // PART_POOL: the part that claims its unit of the pool), and whether
    // the part's child said it already.
    int iPart;
    BOOL fPooled;  // in the pool, in unit iUnit
    DWORD iUnit;
    BOOL fSaid;
} LIBFILE;

// One reference file that an AVI names.
typedef struct {
    DWORD iAvi;     // its AVI in s_aFiles
    LPSTR pszName;  // as the records name it
    LPSTR pszPath;  // where this system finds it
    BOOL fExists;   // a regular file is there, by the name itself
    BOOL fIndexed;  // a regular file is there, maybe through a link: known by its identity
    FILEID id;
    ULONGLONG ullSize;
} LIBNAME;

LIBFILE *s_aFiles;
DWORD s_nFiles, s_nFileCap;
LIBNAME *s_aNames;
DWORD s_nNames, s_nNameCap;
// The names sorted by identity (those of files that are there).
DWORD *s_aiById;
DWORD s_nById;
// A name could not be kept (memory ran out): the names are not all known.
BOOL s_fNamesLost;

// Makes room for one more item in a growing array; FALSE after a message.
BOOL GrowFor(void **ppItems, DWORD *pnCap, DWORD nCount, size_t cbItem)
{
    if (nCount < *pnCap) return TRUE;
    DWORD nCap = *pnCap ? *pnCap * 2 : 256;
    void *pGrown = nCap > *pnCap ? realloc(*ppItems, (size_t)nCap * cbItem) : NULL;
    if (!pGrown) {
        Complain("out of memory", "メモリが確保できません");
        return FALSE;
    }
    *ppItems = pGrown;
    *pnCap = nCap;
    return TRUE;
}

LPSTR CopyText(LPCSTR psz)
{
    size_t cb = strlen(psz) + 1;
    LPSTR pszCopy = (LPSTR)malloc(cb);
    if (pszCopy) memcpy(pszCopy, psz, cb);
    return pszCopy;
}

void FreeLibraryTables(void)
{
    for (DWORD i = 0; i < s_nFiles; i++) free(s_aFiles[i].pszPath);
    for (DWORD i = 0; i < s_nNames; i++) {
        free(s_aNames[i].pszName);
        free(s_aNames[i].pszPath);
    }
    free(s_aFiles);
    free(s_aNames);
    free(s_aiById);
    s_aFiles = NULL;
    s_aNames = NULL;
    s_aiById = NULL;
    s_nFiles = s_nFileCap = s_nNames = s_nNameCap = s_nById = 0;
    s_fNamesLost = FALSE;
}

time_t TimeOfFileTime(const FILETIME *pft)
{
    ULONGLONG ull = ((ULONGLONG)pft->dwHighDateTime << 32) | pft->dwLowDateTime;
    // FILETIME counts 100 ns units from 1601.
    return ull < 116444736000000000ULL ? 0 : (time_t)((ull - 116444736000000000ULL) / 10000000ULL);
}

// --- The walk ---------------------------------------------------------------------

typedef struct {
    BOOL fCross;      // into other file systems
    DWORD dwVolume;   // the tree's own
    int iTree;
    int nUnlisted;    // folders that could not be listed
    BOOL fFailed;     // out of memory
} WALK;

#define WALK_DEPTH_LIMIT 128

// Adds the regular files under a folder, never through a link, never into
// another file system unless asked.
void WalkFolder(LPCSTR pszFolder, WALK *pWalk, int nDepth)
{
    CHAR szPattern[MAX_PATH];
    size_t cchFolder = strlen(pszFolder);
    BOOL fEndsInSeparator = cchFolder && (pszFolder[cchFolder - 1] == s_chSeparator || pszFolder[cchFolder - 1] == '/');
    if (nDepth > WALK_DEPTH_LIMIT ||
        snprintf(szPattern, sizeof(szPattern), "%s%s*", pszFolder, fEndsInSeparator ? "" : (s_chSeparator == '/' ? "/" : "\\")) >=
            (int)sizeof(szPattern)) {
        Complain("%s: too deep or too long a path; not listed", "%s: 階層が深すぎるかパスが長すぎるため, 一覧していません", pszFolder);
        pWalk->nUnlisted++;
        return;
    }
    WIN32_FIND_DATAA data;
    HANDLE hFind = FindFirstFileA(szPattern, &data);
    if (hFind == INVALID_HANDLE_VALUE) {
        Complain("%s: cannot be listed", "%s: 一覧できません", pszFolder);
        pWalk->nUnlisted++;
        return;
    }
    do {
        if (strcmp(data.cFileName, ".") == 0 || strcmp(data.cFileName, "..") == 0) continue;
        // A link (or another reparse point) is never followed.
        if (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) continue;
        CHAR szPath[MAX_PATH];
        if (snprintf(szPath, sizeof(szPath), "%.*s%s", (int)(strlen(szPattern) - 1), szPattern, data.cFileName) >=
            (int)sizeof(szPath)) {
            Complain("%s%s: the path is too long; not listed", "%s%s: パスが長すぎるため, 一覧していません", pszFolder,
                     data.cFileName);
            pWalk->nUnlisted++;
            continue;
        }
        FILEFACTS facts;
        LookAtName(szPath, &facts);
        if (facts.fLink) continue;
        // A name that reaches nothing now, or nothing that can be told (a
        // name the code page cannot hold, say): what it holds is unknown.
        if (facts.nKind == FILEKIND_MISSING || facts.nKind == FILEKIND_UNKNOWN) {
            Complain("%s: cannot be looked at; not listed", "%s: 調べられないため, 一覧していません", szPath);
            pWalk->nUnlisted++;
            continue;
        }
        if (facts.nKind == FILEKIND_FOLDER) {
            if (pWalk->fCross || facts.id.dwVolume == pWalk->dwVolume) WalkFolder(szPath, pWalk, nDepth + 1);
            continue;
        }
        if (facts.nKind != FILEKIND_FILE) continue;
        if (!GrowFor((void **)&s_aFiles, &s_nFileCap, s_nFiles, sizeof(LIBFILE))) {
            pWalk->fFailed = TRUE;
            break;
        }
        LIBFILE *pFile = &s_aFiles[s_nFiles];
        memset(pFile, 0, sizeof(*pFile));
        pFile->pszPath = CopyText(szPath);
        if (!pFile->pszPath) {
            Complain("out of memory", "メモリが確保できません");
            pWalk->fFailed = TRUE;
            break;
        }
        pFile->id = facts.id;
        pFile->ullSize = facts.ullSize;
        pFile->tWritten = TimeOfFileTime(&data.ftLastWriteTime);
        pFile->iTree = pWalk->iTree;
        s_nFiles++;
    } while (!pWalk->fFailed && FindNextFileA(hFind, &data));
    FindClose(hFind);
}

// Tells an AVI from a reference file from anything else by the first bytes.
int KindOfFile(LPCSTR pszPath)
{
    HANDLE h = CreateFileA(pszPath, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL,
                           OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, NULL);
    if (h == INVALID_HANDLE_VALUE) return LIB_UNREADABLE;
    // The first bytes tell both kinds: "RIFF" ... "AVI ", or a frame header.
    BYTE ab[sizeof(REFFRAMEHEADER) > 12 ? sizeof(REFFRAMEHEADER) : 12];
    DWORD cb = 0;
    ULONGLONG ullSize = 0;
    int nKind = LIB_OTHER;
    if (!ReadFile(h, ab, sizeof(ab), &cb, NULL))
        nKind = LIB_UNREADABLE;
    else if (BeginsAsAvi(ab, cb))
        nKind = LIB_AVI;
    else if (SizeOfOpenFile(h, &ullSize) && BytesBeginRefFrames(ab, cb, ullSize, 0))
        nKind = LIB_REF;
    CloseHandle(h);
    return nKind;
}

// Appends a name that AVI iAvi names, linked to its AVI by the caller;
// NULL when memory ran out (s_fNamesLost).
LIBNAME *AppendName(DWORD iAvi, LPCSTR pszName, LPCSTR pszPath)
{
    if (!GrowFor((void **)&s_aNames, &s_nNameCap, s_nNames, sizeof(LIBNAME))) {
        s_fNamesLost = TRUE;
        return NULL;
    }
    LIBNAME *pName = &s_aNames[s_nNames];
    memset(pName, 0, sizeof(*pName));
    pName->iAvi = iAvi;
    pName->pszName = CopyText(pszName);
    pName->pszPath = CopyText(pszPath);
    if (!pName->pszName || !pName->pszPath) {
        free(pName->pszName);
        free(pName->pszPath);
        Complain("out of memory", "メモリが確保できません");
        s_fNamesLost = TRUE;
        return NULL;
    }
    s_nNames++;
    return pName;
}

void AddName(void *pv, LPCSTR pszName, LPCSTR pszPath, const FILEFACTS *pFacts)
{
    DWORD iAvi = *(DWORD *)pv;
    LIBNAME *pName = AppendName(iAvi, pszName, pszPath);
    if (!pName) return;
    pName->fExists = pFacts->nKind == FILEKIND_FILE && !pFacts->fLink;
    pName->fIndexed = pFacts->nKind == FILEKIND_FILE;
    pName->id = pFacts->id;
    pName->ullSize = pFacts->ullSize;
    if (!s_aFiles[iAvi].nNames) s_aFiles[iAvi].iFirstName = s_nNames - 1;
    s_aFiles[iAvi].nNames++;
}

int CompareIds(const FILEID *pA, const FILEID *pB)
{
    if (pA->dwVolume != pB->dwVolume) return pA->dwVolume < pB->dwVolume ? -1 : 1;
    if (pA->dwIndexHigh != pB->dwIndexHigh) return pA->dwIndexHigh < pB->dwIndexHigh ? -1 : 1;
    if (pA->dwIndexLow != pB->dwIndexLow) return pA->dwIndexLow < pB->dwIndexLow ? -1 : 1;
    return 0;
}

int CompareFilesByPath(const void *pA, const void *pB)
{
    return strcmp(((const LIBFILE *)pA)->pszPath, ((const LIBFILE *)pB)->pszPath);
}

int CompareFilesById(const void *pA, const void *pB)
{
    int n = CompareIds(&s_aFiles[*(const DWORD *)pA].id, &s_aFiles[*(const DWORD *)pB].id);
    if (n) return n;
    return *(const DWORD *)pA < *(const DWORD *)pB ? -1 : 1;
}

// Marks the files reached a second time (a tree inside another); FALSE
// after a message.
BOOL MarkFilesReachedAgain(void)
{
    DWORD *ai = (DWORD *)malloc(((size_t)s_nFiles + 1) * sizeof(DWORD));
    if (!ai) {
        Complain("out of memory", "メモリが確保できません");
        return FALSE;
    }
    for (DWORD i = 0; i < s_nFiles; i++) ai[i] = i;
    qsort(ai, s_nFiles, sizeof(DWORD), CompareFilesById);
    for (DWORD k = 1; k < s_nFiles; k++)
        if (SameFileId(&s_aFiles[ai[k]].id, &s_aFiles[ai[k - 1]].id)) s_aFiles[ai[k]].fAgain = TRUE;
    free(ai);
    return TRUE;
}

int CompareNamesById(const void *pA, const void *pB)
{
    DWORD iA = *(const DWORD *)pA, iB = *(const DWORD *)pB;
    int n = CompareIds(&s_aNames[iA].id, &s_aNames[iB].id);
    if (n) return n;
    // Then by AVI, and an AVI's own names in its order (the same whichever
    // process read them).
    if (s_aNames[iA].iAvi != s_aNames[iB].iAvi) return s_aNames[iA].iAvi < s_aNames[iB].iAvi ? -1 : 1;
    return iA < iB ? -1 : iA > iB ? 1 : 0;
}

// The first of the sorted names of the identity, and how many there are.
DWORD NamesOfId(const FILEID *pId, DWORD *piFirst)
{
    DWORD lo = 0, hi = s_nById;
    while (lo < hi) {
        DWORD mid = lo + (hi - lo) / 2;
        if (CompareIds(&s_aNames[s_aiById[mid]].id, pId) < 0) lo = mid + 1;
        else hi = mid;
    }
    *piFirst = lo;
    DWORD n = 0;
    while (lo + n < s_nById && CompareIds(&s_aNames[s_aiById[lo + n]].id, pId) == 0) n++;
    return n;
}

// Walks the trees, tells each file's kind, and reads each AVI's records:
// FALSE after a message when nothing could be listed. *pnUnlisted: folders
// that could not be listed.
#define READ_KINDS 0  // only tell each file's kind
#define READ_NAMES 1  // and read each AVI's names
#define READ_VERIFY 2 // and check each AVI's records as verify does
// Reading ahead: while the loop below works on one file, a thread reads
// the next few (an AVI whole, up to a limit; 4 KiB of any other file), so
// that the disk is busy while the processor is, instead of each waiting for
// the other. What it reads only fills the system's cache; the loop reads
// every file itself.
const DWORD AHEAD_FILES = 4;
const DWORD AHEAD_BYTES_MAX = 256u << 20;  // of one AVI
struct READAHEAD {
    CRITICAL_SECTION cs;  // over iLoop and fStop
    DWORD iLoop;          // the file the loop is at
    BOOL fStop;
    HANDLE hAdvanced;     // set when the loop moves on, or to stop
    HANDLE hThread;
};
READAHEAD s_ahead;

// Whether the thread may read file i: FALSE once it is to stop; waits
// while i is too far ahead of the loop. *pfPassed: the loop is past it.
BOOL MayReadAhead(DWORD i, BOOL *pfPassed)
{
    for (;;) {
        EnterCriticalSection(&s_ahead.cs);
        BOOL fStop = s_ahead.fStop;
        DWORD iLoop = s_ahead.iLoop;
        LeaveCriticalSection(&s_ahead.cs);
        if (fStop) return FALSE;
        // The file the loop is on is the loop's to read.
        *pfPassed = i <= iLoop;
        if (i <= iLoop + AHEAD_FILES) return TRUE;
        WaitForSingleObject(s_ahead.hAdvanced, 100);
    }
}

unsigned WINAPI ReadAheadThread(void *)
{
    const DWORD cbBuffer = 1u << 20;
    BYTE *pbBuffer = (BYTE *)malloc(cbBuffer);
    BOOL fPassed = FALSE;
    for (DWORD i = 0; pbBuffer && i < s_nFiles && MayReadAhead(i, &fPassed); i++) {
        if (fPassed || s_aFiles[i].fAgain) continue;
        // Opened as the loop opens it: no link followed, nothing waited on;
        // read only while it is the file the walk found there.
        HANDLE h = CreateFileA(s_aFiles[i].pszPath, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                               NULL, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, NULL);
        if (h == INVALID_HANDLE_VALUE) continue;
        FILEID id;
        DWORD cb = 0;
        if (GetFileType(h) == FILE_TYPE_DISK && FileIdOfHandle(h, &id) && CompareIds(&id, &s_aFiles[i].id) == 0 &&
            ReadFile(h, pbBuffer, 4096, &cb, NULL) && BeginsAsAvi(pbBuffer, cb)) {
            // In pieces, each after a look whether the loop has passed the
            // file or the thread is to stop.
            for (DWORD cbRead = cb; cbRead < AHEAD_BYTES_MAX && MayReadAhead(i, &fPassed) && !fPassed; cbRead += cb)
                if (!ReadFile(h, pbBuffer, cbBuffer, &cb, NULL) || !cb) break;
        }
        CloseHandle(h);
    }
    free(pbBuffer);
    return 0;
}

void StartReadingAhead(void)
{
    InitializeCriticalSection(&s_ahead.cs);
    s_ahead.iLoop = 0;
    s_ahead.fStop = FALSE;
    s_ahead.hAdvanced = CreateEventA(NULL, FALSE, FALSE, NULL);
    s_ahead.hThread = s_ahead.hAdvanced ? (HANDLE)_beginthreadex(NULL, 0, ReadAheadThread, NULL, 0, NULL) : NULL;
}

void ReadAheadFrom(DWORD i)
{
    if (!s_ahead.hThread) return;
    EnterCriticalSection(&s_ahead.cs);
    s_ahead.iLoop = i;
    LeaveCriticalSection(&s_ahead.cs);
    SetEvent(s_ahead.hAdvanced);
}

void StopReadingAhead(void)
{
    if (s_ahead.hThread) {
        EnterCriticalSection(&s_ahead.cs);
        s_ahead.fStop = TRUE;
        LeaveCriticalSection(&s_ahead.cs);
        SetEvent(s_ahead.hAdvanced);
        WaitForSingleObject(s_ahead.hThread, INFINITE);
        CloseHandle(s_ahead.hThread);
    }
    if (s_ahead.hAdvanced) CloseHandle(s_ahead.hAdvanced);
    s_ahead.hThread = s_ahead.hAdvanced = NULL;
    DeleteCriticalSection(&s_ahead.cs);
}

// Options common to the tree commands.
typedef struct {
    BOOL fJson, fCross, fYes, fUnused, fVerify;
    long lOlderDays;
    LPCSTR pszWho;
    int nTrees;
    char **apszTrees;
    // How many processes read the AVIs at once, and whether that was asked.
    long lJobs;
    BOOL fJobsGiven;
    // The --map rules, for the children.
    int nMaps;
    char **apszMaps;
} TREEARGS;

// Reads AVI i of the trees in this process: its names, and with READ_VERIFY
// its records.
void ReadAviHere(DWORD i, int nRead)
{
    LIBFILE *pFile = &s_aFiles[i];
    DWORD iAvi = i;
    pFile->nRead = ReadAviNames(pFile->pszPath, AddName, &iAvi, &pFile->fNote);
    if (nRead == READ_VERIFY && pFile->nRead != AVINAMES_FAILED)
        pFile->nVerify = VerifyAviQuietly(pFile->pszPath, &pFile->verify);
}

// Reads the files of the trees in this process, one after another, the next
// ones read ahead in a thread.
void ReadFilesHere(int nRead)
{
    BeginProgress(g_fJapanese ? "読込" : "read", s_nFiles, PROGRESS_FRAMES);
    if (nRead != READ_KINDS) StartReadingAhead();
    for (DWORD i = 0; i < s_nFiles; i++) {
        ShowProgress(i);
        ReadAheadFrom(i);
        LIBFILE *pFile = &s_aFiles[i];
        if (pFile->fAgain) continue;
        pFile->nKind = KindOfFile(pFile->pszPath);
        pFile->nVerify = -1;
        if (pFile->nKind == LIB_AVI && nRead != READ_KINDS) ReadAviHere(i, nRead);
    }
    if (nRead != READ_KINDS) StopReadingAhead();
    EndProgress();
}

// --- Reading in parts
//
// With more than one job, the files are shared among this process and
// children (spool library --part, given its list on its standard input).
// The heaviest files, half the weight in all, are shared out first, each
// to the least loaded part. The lighter rest is a pool in units of about
// equal weight, which the parts claim one at a time as they get through
// their work (claims.h): a part whose processor is slower, or whose files
// cost more than their weight said, takes fewer, and all end at about the
// same time. Each part tells the kinds of its files and reads its AVIs. A
// child writes what it found as lines of text, taken when it has ended
// well and every line holds; else its files are read here. Its list holds
// a line "FILE HEXPATH" for each file of its own (FILE: the file's place
// in this process's table), then, when there is a pool, a line
//   pool PART UNITS VOLUME INDEXHIGH INDEXLOW HEXPATH VOLUME INDEXHIGH INDEXLOW HEXPATH
// (its part, the pool's list and the claims file, each with its identity);
// the pool's list holds a line "FILE UNIT HEXPATH" for each of its files,
// unit by unit. Its lines:
// for each AVI, one line for each reference file it names
//   name HEXNAME HEXPATH EXISTS INDEXED VOLUME INDEXHIGH INDEXLOW SIZE
// then for each file its own line
//   file FILE KIND READ NOTE VERIFY FRAMES RECORDS OTHER BAD CHECKS... NAMES
// (VERIFY: verify's status plus one, 0 when not checked; NAMES: how many
// name lines before it are its own), and at the end "end FILES FORMAT"
// (PART_FORMAT, which the parent passes on as --part's value). A text is
// an 'x' and its bytes in hexadecimal: a name may hold any byte but NUL.
const ULONGLONG PART_BYTES_MIN = 64ull << 20;  // AVIs of less in all are read in one process
const ULONGLONG PART_AVI_WEIGHT = 64u << 10;   // opening an AVI weighs as much as reading this
const ULONGLONG PART_FILE_WEIGHT = 32u << 10;  // telling another file's kind
const DWORD PART_UNITS = 256;                  // the pool's units, about
#define PART_POOL (-1)
const DWORD PART_TEXT_MAX = 1u << 30;          // the longest list or output taken
const DWORD PART_NAME_MAX = 4 * MAX_PATH;      // the longest name in them
#define PART_FILE_TOKENS (11 + VERIFY_CHECKS)   // on a file's line
// What a child's last line ends in: the lines above as this program writes
// them (a child of another version is not taken at its word).
#define PART_FORMAT LIBRARY_PART_FORMAT

typedef struct {
    char *pb;
    size_t cb, cbCap;
    BOOL fFailed;
} TEXTBUF;

void AppendText(TEXTBUF *pBuf, LPCSTR p, size_t cb)
{
    if (pBuf->fFailed) return;
    // No text of a part is longer: the doubling below stays in range.
    if (cb > PART_TEXT_MAX || pBuf->cb + cb > PART_TEXT_MAX) {
        pBuf->fFailed = TRUE;
        return;
    }
    if (pBuf->cb + cb + 1 > pBuf->cbCap) {
        size_t cbCap = pBuf->cbCap ? pBuf->cbCap : 4096;
        while (cbCap < pBuf->cb + cb + 1) cbCap *= 2;
        char *pbGrown = (char *)realloc(pBuf->pb, cbCap);
        if (!pbGrown) {
            pBuf->fFailed = TRUE;
            return;
        }
        pBuf->pb = pbGrown;
        pBuf->cbCap = cbCap;
    }
    memcpy(pBuf->pb + pBuf->cb, p, cb);
    pBuf->cb += cb;
    pBuf->pb[pBuf->cb] = '\0';
}

void AppendHexText(TEXTBUF *pBuf, LPCSTR psz)
{
    static const char s_achDigits[] = "0123456789abcdef";
    AppendText(pBuf, "x", 1);
    for (const BYTE *p = (const BYTE *)psz; *p; p++) {
        char ach[2] = {s_achDigits[*p >> 4], s_achDigits[*p & 15]};
        AppendText(pBuf, ach, 2);
    }
}

// The tokens of one line, split in place at single spaces; FALSE when the
// line has more than nMax.
BOOL SplitLine(LPSTR pszLine, LPSTR *apszTokens, int nMax, int *pnTokens)
{
    *pnTokens = 0;
    for (LPSTR p = pszLine;;) {
        if (*pnTokens == nMax) return FALSE;
        apszTokens[(*pnTokens)++] = p;
        p = strchr(p, ' ');
        if (!p) return TRUE;
        *p++ = '\0';
    }
}

// A decimal number of at most ullMax, digits only.
BOOL TakeDecimal(LPCSTR psz, ULONGLONG ullMax, ULONGLONG *pull)
{
    *pull = 0;
    if (!*psz) return FALSE;
    for (; *psz; psz++) {
        if (*psz < '0' || *psz > '9') return FALSE;
        ULONGLONG ullDigit = (ULONGLONG)(*psz - '0');
        if (ullDigit > ullMax || *pull > (ullMax - ullDigit) / 10) return FALSE;
        *pull = *pull * 10 + ullDigit;
    }
    return TRUE;
}

// A text written by AppendHexText, into pszText (cbText bytes); FALSE when
// it is not one, holds a NUL or does not fit.
BOOL TakeHexText(LPCSTR psz, LPSTR pszText, size_t cbText)
{
    if (*psz++ != 'x') return FALSE;
    size_t cch = 0;
    for (; psz[0] && psz[1]; psz += 2) {
        int n = 0;
        for (int k = 0; k < 2; k++) {
            char c = psz[k];
            int nDigit = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
            if (nDigit < 0) return FALSE;
            n = n * 16 + nDigit;
        }
        if (!n || cch + 1 >= cbText) return FALSE;
        pszText[cch++] = (char)n;
    }
    pszText[cch] = '\0';
    return !*psz;
}

// The next line of a text, its end ('\n', and a '\r' before it) cut off;
// NULL at the text's end or when the last line has no end.
LPSTR NextLine(LPSTR *pp, LPSTR pEnd)
{
    LPSTR pszLine = *pp;
    if (pszLine >= pEnd) return NULL;
    LPSTR pNewline = (LPSTR)memchr(pszLine, '\n', (size_t)(pEnd - pszLine));
    if (!pNewline) return NULL;
    *pNewline = '\0';
    if (pNewline > pszLine && pNewline[-1] == '\r') pNewline[-1] = '\0';
    *pp = pNewline + 1;
    return pszLine;
}

// One line of a child's output for a name (the PFNAVINAME of a part).
void PutPartName(void *pv, LPCSTR pszName, LPCSTR pszPath, const FILEFACTS *pFacts)
{
    TEXTBUF buf = {NULL, 0, 0, FALSE};
    AppendText(&buf, "name ", 5);
    AppendHexText(&buf, pszName);
    AppendText(&buf, " ", 1);
    AppendHexText(&buf, pszPath);
    if (buf.fFailed) {
        // Said as no line at all: the count on the AVI's line then does
        // not hold, and the parent reads the part itself.
        free(buf.pb);
        return;
    }
    fprintf(g_pOut, "%s %d %d %lu %lu %lu %llu\n", buf.pb, pFacts->nKind == FILEKIND_FILE && !pFacts->fLink,
            pFacts->nKind == FILEKIND_FILE, (unsigned long)pFacts->id.dwVolume, (unsigned long)pFacts->id.dwIndexHigh,
            (unsigned long)pFacts->id.dwIndexLow, (unsigned long long)pFacts->ullSize);
    free(buf.pb);
    (*(DWORD *)pv)++;
}

// Takes one child's output for part iPart: TRUE when every line holds and
// every file of the part is said once, the AVIs' names then added to the
// tables; FALSE with the tables as they were.
BOOL TakePartOutput(int iPart, LPSTR pb, DWORD cb, DWORD nPartFiles)
{
    DWORD nMark = s_nNames, iFirstName = s_nNames, nSaid = 0;
    BOOL fGood = TRUE, fEnded = FALSE;
    LPSTR p = pb, pEnd = pb + cb;
    CHAR szName[PART_NAME_MAX], szPath[PART_NAME_MAX];
    LPSTR pszLine;
    while (fGood && (pszLine = NextLine(&p, pEnd)) != NULL) {
        LPSTR apsz[PART_FILE_TOKENS];
        int n = 0;
        ULONGLONG aull[PART_FILE_TOKENS];
        fGood = !fEnded && SplitLine(pszLine, apsz, PART_FILE_TOKENS, &n);
        if (!fGood) break;
        if (strcmp(apsz[0], "name") == 0) {
            fGood = n == 9 && TakeHexText(apsz[1], szName, sizeof(szName)) && TakeHexText(apsz[2], szPath, sizeof(szPath)) &&
                    TakeDecimal(apsz[3], 1, &aull[0]) && TakeDecimal(apsz[4], 1, &aull[1]) &&
                    TakeDecimal(apsz[5], 0xffffffff, &aull[2]) && TakeDecimal(apsz[6], 0xffffffff, &aull[3]) &&
                    TakeDecimal(apsz[7], 0xffffffff, &aull[4]) && TakeDecimal(apsz[8], ~0ull, &aull[5]);
            LIBNAME *pName = fGood ? AppendName(0, szName, szPath) : NULL;
            if (!pName) {
                fGood = FALSE;
                break;
            }
            pName->fExists = aull[0] != 0;
            pName->fIndexed = aull[1] != 0;
            pName->id.dwVolume = (DWORD)aull[2];
            pName->id.dwIndexHigh = (DWORD)aull[3];
            pName->id.dwIndexLow = (DWORD)aull[4];
            pName->ullSize = aull[5];
        } else if (strcmp(apsz[0], "file") == 0 && n == PART_FILE_TOKENS) {
            for (int k = 1; fGood && k < n; k++) fGood = TakeDecimal(apsz[k], 0xffffffff, &aull[k - 1]);
            // The file: one of this part's, said once; an AVI's names the
            // lines since the last file's, any other file's none.
            DWORD i = (DWORD)aull[0];
            ULONGLONG ullNames = aull[9 + VERIFY_CHECKS];
            fGood = fGood && i < s_nFiles && s_aFiles[i].iPart == iPart && !s_aFiles[i].fAgain && !s_aFiles[i].fSaid &&
                    aull[1] <= LIB_UNREADABLE && aull[2] <= AVINAMES_FAILED && aull[3] <= 1 && aull[4] <= SPOOL_ERROR + 1 &&
                    ullNames == s_nNames - iFirstName && (aull[1] == LIB_AVI || !ullNames);
            if (!fGood) break;
            LIBFILE *pFile = &s_aFiles[i];
            pFile->fSaid = TRUE;
            pFile->nKind = (int)aull[1];
            pFile->nRead = (int)aull[2];
            pFile->fNote = aull[3] != 0;
            pFile->nVerify = (int)aull[4] - 1;
            pFile->verify.nFrames = (DWORD)aull[5];
            pFile->verify.nRecords = (DWORD)aull[6];
            pFile->verify.nOther = (DWORD)aull[7];
            pFile->verify.nBad = (DWORD)aull[8];
            for (int k = 0; k < VERIFY_CHECKS; k++) pFile->verify.anChecks[k] = (DWORD)aull[9 + k];
            pFile->iFirstName = iFirstName;
            pFile->nNames = s_nNames - iFirstName;
            for (DWORD k = iFirstName; k < s_nNames; k++) s_aNames[k].iAvi = i;
            iFirstName = s_nNames;
            nSaid++;
        } else if (strcmp(apsz[0], "end") == 0 && n == 3) {
            fGood = TakeDecimal(apsz[1], 0xffffffff, &aull[0]) && aull[0] == nSaid && nSaid == nPartFiles &&
                    iFirstName == s_nNames && strcmp(apsz[2], PART_FORMAT) == 0;
            fEnded = TRUE;
        } else {
            fGood = FALSE;
        }
    }
    fGood = fGood && fEnded && p == pEnd;
    for (DWORD i = 0; i < s_nFiles; i++) {
        if (s_aFiles[i].iPart != iPart || !s_aFiles[i].fSaid) continue;
        s_aFiles[i].fSaid = FALSE;
        if (fGood) continue;
        s_aFiles[i].nKind = LIB_OTHER;
        s_aFiles[i].nRead = AVINAMES_WHOLE;
        s_aFiles[i].fNote = FALSE;
        s_aFiles[i].nVerify = -1;
        memset(&s_aFiles[i].verify, 0, sizeof(s_aFiles[i].verify));
        s_aFiles[i].iFirstName = s_aFiles[i].nNames = 0;
    }
    if (!fGood) {
        for (DWORD k = nMark; k < s_nNames; k++) {
            free(s_aNames[k].pszName);
            free(s_aNames[k].pszPath);
        }
        s_nNames = nMark;
    }
    return fGood;
}

typedef struct {
    JOB job;
    HANDLE hList;  // the child's list: its standard input
    CHAR szList[MAX_PATH];
    GATEPROOF listProof;
    DWORD nFiles;
    BOOL fStarted;
    BOOL fEnded;  // waited for: its exit code is dwCode
    DWORD dwCode;
} PART;

// Waits for the child of a part (once) and gives its exit code.
DWORD WaitForPart(PART *pPart)
{
    if (!pPart->fEnded) {
        pPart->dwCode = WaitForJob(&pPart->job);
        pPart->fEnded = TRUE;
    }
    return pPart->dwCode;
}

void EndPartFiles(PART *pPart)
{
    EndJobFiles(&pPart->job);
    if (pPart->hList != INVALID_HANDLE_VALUE) {
        CloseHandle(pPart->hList);
        GateDelete(pPart->szList, &pPart->listProof);
        pPart->hList = INVALID_HANDLE_VALUE;
    }
}

// The line of file i in a child's list ("FILE HEXPATH"), or in the
// pool's ("FILE UNIT HEXPATH").
void AppendListLine(TEXTBUF *pBuf, DWORD i, BOOL fUnit)
{
    CHAR sz[32];
    AppendText(pBuf, sz, (size_t)snprintf(sz, sizeof(sz), "%lu ", (unsigned long)i));
    if (fUnit) AppendText(pBuf, sz, (size_t)snprintf(sz, sizeof(sz), "%lu ", (unsigned long)s_aFiles[i].iUnit));
    AppendHexText(pBuf, s_aFiles[i].pszPath);
    AppendText(pBuf, "\n", 1);
}

// The pool of the parts: its files unit by unit, its list for the
// children, and the claims file.
typedef struct {
    DWORD *ai;           // places in s_aFiles, unit by unit
    DWORD n;
    DWORD *aiUnitStart;  // where each unit begins in ai, and ai's end
    DWORD nUnits;
    CHAR szList[MAX_PATH], szClaims[MAX_PATH];
    GATEPROOF listProof, claimsProof;
    BOOL fClaims;        // the two files were made: the pool is shared
} POOL;

// Makes the pool's list and claims files, and opens the claims for this
// process (part 0); FALSE, neither kept, when they cannot be.
BOOL MakePoolFiles(POOL *pPool, CLAIMS *pClaims)
{
    HANDLE hClaims = MakeJobFile(pPool->szClaims, &pPool->claimsProof);
    if (hClaims == INVALID_HANDLE_VALUE) return FALSE;
    // Opened again below as the children open it.
    CloseHandle(hClaims);
    HANDLE hList = MakeJobFile(pPool->szList, &pPool->listProof);
    TEXTBUF buf = {NULL, 0, 0, FALSE};
    for (DWORD k = 0; k < pPool->n; k++) AppendListLine(&buf, pPool->ai[k], TRUE);
    DWORD cbWritten = 0;
    BOOL fListed = hList != INVALID_HANDLE_VALUE && !buf.fFailed && buf.cb <= PART_TEXT_MAX &&
                   WriteFile(hList, buf.pb, (DWORD)buf.cb, &cbWritten, NULL) && cbWritten == buf.cb;
    free(buf.pb);
    if (hList != INVALID_HANDLE_VALUE) CloseHandle(hList);
    if (fListed && OpenClaims(pClaims, pPool->szClaims, &pPool->claimsProof.id, pPool->nUnits, 0)) return TRUE;
    if (hList != INVALID_HANDLE_VALUE) GateDelete(pPool->szList, &pPool->listProof);
    GateDelete(pPool->szClaims, &pPool->claimsProof);
    return FALSE;
}

void EndPoolFiles(POOL *pPool, CLAIMS *pClaims)
{
    if (!pPool->fClaims) return;
    CloseClaims(pClaims);
    GateDelete(pPool->szList, &pPool->listProof);
    GateDelete(pPool->szClaims, &pPool->claimsProof);
    pPool->fClaims = FALSE;
}

// Starts the child of part iPart; FALSE when it cannot be (its AVIs are
// then read here).
BOOL StartPart(LPCSTR pszProgram, int iPart, int nRead, const TREEARGS *pArgs, const POOL *pPool, PART *pPart)
{
    pPart->fStarted = FALSE;
    pPart->job.hProcess = NULL;
    pPart->job.ahOutput[0] = pPart->job.ahOutput[1] = INVALID_HANDLE_VALUE;
    pPart->hList = MakeJobFile(pPart->szList, &pPart->listProof);
    if (pPart->hList == INVALID_HANDLE_VALUE) return FALSE;
    TEXTBUF buf = {NULL, 0, 0, FALSE};
    for (DWORD i = 0; i < s_nFiles; i++)
        if (s_aFiles[i].iPart == iPart) AppendListLine(&buf, i, FALSE);
    if (pPool->fClaims) {
        CHAR sz[64];
        AppendText(&buf, sz, (size_t)snprintf(sz, sizeof(sz), "pool %d %lu", iPart, (unsigned long)pPool->nUnits));
        const GATEPROOF *apProof[2] = {&pPool->listProof, &pPool->claimsProof};
        LPCSTR apszPath[2] = {pPool->szList, pPool->szClaims};
        for (int f = 0; f < 2; f++) {
            const FILEID *pId = &apProof[f]->id;
            AppendText(&buf, sz,
                       (size_t)snprintf(sz, sizeof(sz), " %lu %lu %lu ", (unsigned long)pId->dwVolume,
                                        (unsigned long)pId->dwIndexHigh, (unsigned long)pId->dwIndexLow));
            AppendHexText(&buf, apszPath[f]);
        }
        AppendText(&buf, "\n", 1);
    }
    DWORD cbWritten = 0;
    BOOL fListed = !buf.fFailed && buf.cb <= PART_TEXT_MAX &&
                   WriteFile(pPart->hList, buf.pb, (DWORD)buf.cb, &cbWritten, NULL) && cbWritten == buf.cb &&
                   SetFilePointer(pPart->hList, 0, NULL, FILE_BEGIN) == 0;
    free(buf.pb);
    JOBLINE line;
    memset(&line, 0, sizeof(line));
    CHAR szPage[16];
    snprintf(szPage, sizeof(szPage), "%u", g_uRecordNamePage == CP_ACP ? GetACP() : g_uRecordNamePage);
    LPCSTR apszArgs[] = {pszProgram, "library", "--part", PART_FORMAT, "--names", szPage};
    for (LPCSTR pszArg : apszArgs) AppendArgument(&line, pszArg);
    if (nRead == READ_VERIFY) AppendArgument(&line, "--verify");
    for (int m = 0; m < pArgs->nMaps; m++) {
        AppendArgument(&line, "--map");
        AppendArgument(&line, pArgs->apszMaps[m]);
    }
    if (!fListed || line.fTooLong || !StartJob(pszProgram, &line, &pPart->job, pPart->hList, TRUE)) {
        EndPartFiles(pPart);
        return FALSE;
    }
    pPart->fStarted = TRUE;
    return TRUE;
}

// Waits for the child of part iPart and takes what it read; FALSE when it
// did not end well or its output does not hold (its AVIs are then read
// here). What it said on its error stream is shown when its output is
// taken.
BOOL EndPart(int iPart, PART *pPart)
{
    DWORD dwCode = WaitForPart(pPart);
    DWORD cb = 0;
    char *pb = dwCode == SPOOL_OK ? ReadJobOutput(&pPart->job, 0, PART_TEXT_MAX, &cb) : NULL;
    BOOL fTaken = pb && TakePartOutput(iPart, pb, cb, pPart->nFiles);
    free(pb);
    if (fTaken) {
        g_nLibraryPartsTaken++;
        for (DWORD i = 0; i < s_nFiles; i++) g_nLibraryPoolFilesTaken += s_aFiles[i].iPart == iPart && s_aFiles[i].fPooled;
        CopyJobOutput(&pPart->job, 1, g_pErr);
    }
    EndPartFiles(pPart);
    return fTaken;
}

// How much a file is likely to cost to read, for sharing the files among
// the parts (never to tell what a file is): an AVI is read whole, any other
// file only for its kind. The name's extension is the only hint there is
// before a file is opened; a renamed AVI only makes the parts less even.
BOOL HasAviName(const LIBFILE *pFile)
{
    size_t cch = strlen(pFile->pszPath);
    return cch >= 4 && _stricmp(pFile->pszPath + cch - 4, ".avi") == 0;
}

ULONGLONG PartWeight(const LIBFILE *pFile)
{
    return HasAviName(pFile) ? pFile->ullSize + PART_AVI_WEIGHT : PART_FILE_WEIGHT;
}

int CompareHeaviestFirst(const void *pA, const void *pB)
{
    ULONGLONG a = PartWeight(&s_aFiles[*(const DWORD *)pA]), b = PartWeight(&s_aFiles[*(const DWORD *)pB]);
    if (a != b) return a > b ? -1 : 1;
    return *(const DWORD *)pA < *(const DWORD *)pB ? -1 : 1;
}

// Tells file i's kind and, for an AVI, reads it here.
void ReadFileHere(DWORD i, int nRead)
{
    LIBFILE *pFile = &s_aFiles[i];
    pFile->nKind = KindOfFile(pFile->pszPath);
    pFile->nVerify = -1;
    if (pFile->nKind == LIB_AVI) ReadAviHere(i, nRead);
}

// Shares the files among parts (as many as the jobs at most, one when the
// AVIs are small unless the jobs were asked for), each part telling its
// files' kinds and reading its AVIs, and takes what they read.
void ReadFilesInParts(LPCSTR pszProgram, int nRead, const TREEARGS *pArgs)
{
    DWORD nWeighed = 0;
    ULONGLONG ullTotal = 0, ullAviNames = 0;
    for (DWORD i = 0; i < s_nFiles; i++) {
        if (s_aFiles[i].fAgain) continue;
        nWeighed++;
        ullTotal += PartWeight(&s_aFiles[i]);
        if (HasAviName(&s_aFiles[i])) ullAviNames += s_aFiles[i].ullSize;
    }
    int nParts = (DWORD)pArgs->lJobs < nWeighed ? (int)pArgs->lJobs : (int)nWeighed;
    if (!pArgs->fJobsGiven && ullAviNames < PART_BYTES_MIN) nParts = 1;
    POOL pool;
    memset(&pool, 0, sizeof(pool));
    pool.ai = nParts > 1 ? (DWORD *)malloc((size_t)nWeighed * sizeof(DWORD)) : NULL;
    pool.aiUnitStart = nParts > 1 ? (DWORD *)malloc((size_t)(nWeighed + 1) * sizeof(DWORD)) : NULL;
    PART *aParts = nParts > 1 ? (PART *)calloc((size_t)nParts, sizeof(PART)) : NULL;
    if (!pool.ai || !pool.aiUnitStart || !aParts) {
        free(pool.ai);
        free(pool.aiUnitStart);
        free(aParts);
        ReadFilesHere(nRead);
        return;
    }
    // The heaviest first, each to the part least loaded yet, until each
    // holds its share of half the weight; the rest, in the same order, is
    // the pool.
    DWORD n = 0;
    for (DWORD i = 0; i < s_nFiles; i++)
        if (!s_aFiles[i].fAgain) pool.ai[n++] = i;
    qsort(pool.ai, n, sizeof(DWORD), CompareHeaviestFirst);
    const ULONGLONG ullShare = ullTotal / 2 / (ULONGLONG)nParts;
    ULONGLONG aullLoad[JOBS_MAX];
    memset(aullLoad, 0, sizeof(aullLoad));
    ULONGLONG ullPool = 0;
    // Gives a file to the part least loaded yet when that part holds less
    // than ullLimit; FALSE when it does not.
    auto GiveToLeastLoaded = [&](LIBFILE *pFile, ULONGLONG ullLimit) {
        int iLeast = 0;
        for (int p = 1; p < nParts; p++)
            if (aullLoad[p] < aullLoad[iLeast]) iLeast = p;
        if (aullLoad[iLeast] >= ullLimit) return FALSE;
        pFile->iPart = iLeast;
        aullLoad[iLeast] += PartWeight(pFile);
        aParts[iLeast].nFiles++;
        return TRUE;
    };
    for (DWORD k = 0; k < n; k++) {
        LIBFILE *pFile = &s_aFiles[pool.ai[k]];
        if (!GiveToLeastLoaded(pFile, ullShare)) {
            pFile->iPart = PART_POOL;
            pFile->fPooled = TRUE;
            pool.ai[pool.n++] = pool.ai[k];
            ullPool += PartWeight(pFile);
        }
    }
    // Units of about equal weight: the heavier files one or a few to a
    // unit, the lightest many.
    const ULONGLONG ullUnit = ullPool / PART_UNITS + 1;
    ULONGLONG ullInUnit = 0;
    for (DWORD k = 0; k < pool.n; k++) {
        if (k == 0 || ullInUnit >= ullUnit) {
            pool.aiUnitStart[pool.nUnits++] = k;
            ullInUnit = 0;
        }
        s_aFiles[pool.ai[k]].iUnit = pool.nUnits - 1;
        ullInUnit += PartWeight(&s_aFiles[pool.ai[k]]);
    }
    pool.aiUnitStart[pool.nUnits] = pool.n;
    // Without its files, the pool is shared out as the heavier files were.
    CLAIMS claims;
    memset(&claims, 0, sizeof(claims));
    pool.fClaims = pool.nUnits && pool.nUnits <= CLAIM_UNITS_MAX && MakePoolFiles(&pool, &claims);
    for (DWORD k = 0; k < pool.n && !pool.fClaims; k++) {
        s_aFiles[pool.ai[k]].fPooled = FALSE;
        GiveToLeastLoaded(&s_aFiles[pool.ai[k]], ~0ull);
    }
    if (!pool.fClaims) pool.n = pool.nUnits = ullPool = 0;
    // A part whose child cannot start is read here with this process's own.
    for (int p = 1; p < nParts; p++) {
        aParts[p].hList = INVALID_HANDLE_VALUE;
        if (StartPart(pszProgram, p, nRead, pArgs, &pool, &aParts[p])) continue;
        for (DWORD i = 0; i < s_nFiles; i++)
            if (s_aFiles[i].iPart == p) s_aFiles[i].iPart = 0;
    }
    // This process's part, then the units of the pool it claims; the
    // progress bar in per cent of its share (the others go about as fast).
    ULONGLONG ullOwn = ullPool / (ULONGLONG)nParts, ullDone = 0;
    for (DWORD i = 0; i < s_nFiles; i++)
        if (!s_aFiles[i].fAgain && s_aFiles[i].iPart == 0) ullOwn += PartWeight(&s_aFiles[i]);
    BeginProgress(g_fJapanese ? "読込" : "read", 100, PROGRESS_PERCENT);
    auto ReadOwn = [&](DWORD i) {
        ShowProgress(ullOwn && ullDone < ullOwn ? ullDone * 100 / ullOwn : 99);
        s_aFiles[i].iPart = 0;
        ReadFileHere(i, nRead);
        ullDone += PartWeight(&s_aFiles[i]);
    };
    for (DWORD i = 0; i < s_nFiles; i++)
        if (!s_aFiles[i].fAgain && s_aFiles[i].iPart == 0) ReadOwn(i);
    DWORD iUnit = 0;
    while (pool.fClaims && ClaimNextUnit(&claims, &iUnit))
        for (DWORD k = pool.aiUnitStart[iUnit]; k < pool.aiUnitStart[iUnit + 1]; k++) ReadOwn(pool.ai[k]);
    // Every unit has its part now: the first to claim it. Claims that could
    // not be followed to the end are read again once the children have
    // ended. A unit claimed by no part that runs, or every unit when the
    // claims still cannot be read, is read here (a child that read one too
    // is then not taken at its word).
    if (pool.fClaims && claims.fFailed) {
        for (int p = 1; p < nParts; p++)
            if (aParts[p].fStarted) WaitForPart(&aParts[p]);
        CloseClaims(&claims);
        if (!OpenClaims(&claims, pool.szClaims, &pool.claimsProof.id, pool.nUnits, 0)) claims.fFailed = TRUE;
        else ReadClaims(&claims);
    }
    for (DWORD k = 0; k < pool.n; k++) {
        LIBFILE *pFile = &s_aFiles[pool.ai[k]];
        if (pFile->iPart != PART_POOL) continue;
        int iOwner = pool.fClaims && !claims.fFailed ? claims.abOwner[pFile->iUnit] : 0;
        if (iOwner >= 1 && iOwner < nParts && aParts[iOwner].fStarted) {
            pFile->iPart = iOwner;
            aParts[iOwner].nFiles++;
            continue;
        }
        pFile->iPart = 0;
        ShowProgress(99);
        ReadFileHere(pool.ai[k], nRead);
    }
    // The bar ends before what the children said is shown.
    EndProgress();
    // The others' parts, each as its child read it, or here.
    for (int p = 1; p < nParts; p++) {
        if (aParts[p].fStarted && EndPart(p, &aParts[p])) continue;
        for (DWORD i = 0; i < s_nFiles; i++)
            if (s_aFiles[i].iPart == p && !s_aFiles[i].fAgain) ReadFileHere(i, nRead);
    }
    EndPoolFiles(&pool, &claims);
    free(pool.ai);
    free(pool.aiUnitStart);
    free(aParts);
}

// Tells the kind of a file of a child's list, reads it when it is an AVI,
// and writes its lines.
void ReadListedFile(ULONGLONG ullFile, LPCSTR pszFile, BOOL fVerify)
{
    int nKind = KindOfFile(pszFile);
    DWORD nNames = 0;
    BOOL fNote = FALSE;
    int nRead = nKind == LIB_AVI ? ReadAviNames(pszFile, PutPartName, &nNames, &fNote) : AVINAMES_WHOLE;
    VERIFYCOUNTS verify;
    memset(&verify, 0, sizeof(verify));
    int nVerify = nKind == LIB_AVI && fVerify && nRead != AVINAMES_FAILED ? VerifyAviQuietly(pszFile, &verify) : -1;
    fprintf(g_pOut, "file %lu %d %d %d %d %lu %lu %lu %lu", (unsigned long)ullFile, nKind, nRead, fNote ? 1 : 0,
            nVerify + 1, (unsigned long)verify.nFrames, (unsigned long)verify.nRecords, (unsigned long)verify.nOther,
            (unsigned long)verify.nBad);
    for (int k = 0; k < VERIFY_CHECKS; k++) fprintf(g_pOut, " %lu", (unsigned long)verify.anChecks[k]);
    fprintf(g_pOut, " %lu\n", (unsigned long)nNames);
}

// A child's pool: the lines of its files, unit by unit.
typedef struct {
    LPSTR *apszLines;    // "FILE UNIT HEXPATH", unit by unit
    DWORD n;
    DWORD *aiUnitStart;  // where each unit begins in apszLines, and the end
    DWORD nUnits;
} CHILDPOOL;

// Takes the lines of the pool's list (UNITS units); FALSE when one does
// not hold or they are not unit by unit.
BOOL TakeChildPool(LPSTR *pp, LPSTR pEnd, DWORD nUnits, CHILDPOOL *pPool)
{
    memset(pPool, 0, sizeof(*pPool));
    DWORD nLines = 0;
    for (LPSTR q = *pp; q < pEnd; q++) nLines += *q == '\n';
    pPool->apszLines = (LPSTR *)malloc(((size_t)nLines + 1) * sizeof(LPSTR));
    pPool->aiUnitStart = (DWORD *)malloc(((size_t)nUnits + 1) * sizeof(DWORD));
    if (!pPool->apszLines || !pPool->aiUnitStart) return FALSE;
    pPool->nUnits = nUnits;
    DWORD iUnitNext = 0;
    LPSTR pszLine;
    while ((pszLine = NextLine(pp, pEnd)) != NULL) {
        LPCSTR pszUnit = strchr(pszLine, ' ');
        ULONGLONG ullUnit = 0;
        CHAR szUnit[16];
        size_t cchUnit = pszUnit ? strcspn(pszUnit + 1, " ") : 0;
        if (!pszUnit || !cchUnit || cchUnit >= sizeof(szUnit)) return FALSE;
        memcpy(szUnit, pszUnit + 1, cchUnit);
        szUnit[cchUnit] = '\0';
        if (!nUnits || !TakeDecimal(szUnit, nUnits - 1, &ullUnit) || ullUnit + 1 < iUnitNext) return FALSE;
        // Units begin in order; one without files begins where the next does.
        while (iUnitNext <= ullUnit) pPool->aiUnitStart[iUnitNext++] = pPool->n;
        pPool->apszLines[pPool->n++] = pszLine;
    }
    while (iUnitNext <= nUnits) pPool->aiUnitStart[iUnitNext++] = pPool->n;
    return *pp == pEnd;
}

// spool library --part FORMAT [--verify] [--map FROM=TO]...: the child of a
// part.
// Tells the kinds of the files listed on its standard input, reads the
// AVIs among them, and writes what it found in the lines above: its own
// files, then the units of the pool that it claims first.
int ReadPartCommand(int argc, char **argv)
{
    BOOL fVerify = FALSE;
    for (int i = 0; i < argc; i++) {
        LPCSTR pszValue = NULL;
        if (TakeOption(argc, argv, &i, "--part", NULL, &pszValue)) {
            // The lines asked for: this program writes only its own.
            if (!pszValue || strcmp(pszValue, PART_FORMAT) != 0) return UsageError("library", pszValue ? pszValue : argv[i]);
        } else if (TakeOption(argc, argv, &i, "--verify", NULL, NULL)) {
            fVerify = TRUE;
        } else if (TakeOption(argc, argv, &i, "--map", NULL, &pszValue)) {
            if (!pszValue || !AddPathMap(pszValue)) return UsageError("library", pszValue ? pszValue : argv[i]);
        } else {
            return UsageError("library", argv[i]);
        }
    }
    TEXTBUF list = {NULL, 0, 0, FALSE};
    char ab[65536];
    size_t cb;
    while (!list.fFailed && list.cb <= PART_TEXT_MAX && (cb = fread(ab, 1, sizeof(ab), stdin)) > 0) AppendText(&list, ab, cb);
    if (list.fFailed || list.cb > PART_TEXT_MAX || ferror(stdin)) {
        free(list.pb);
        Complain("the list of AVIs cannot be read", "AVI の一覧を読めません");
        return SPOOL_ERROR;
    }
    LPSTR p = list.pb, pEnd = list.pb + list.cb, pszLine;
    DWORD nFiles = 0;
    BOOL fGood = TRUE;
    CHILDPOOL pool;
    memset(&pool, 0, sizeof(pool));
    TEXTBUF poolText = {NULL, 0, 0, FALSE};
    CLAIMS claims;
    memset(&claims, 0, sizeof(claims));
    BOOL fClaims = FALSE;
    CHAR szFile[PART_NAME_MAX];
    while (fGood && (pszLine = NextLine(&p, pEnd)) != NULL) {
        LPSTR apsz[11];
        int n = 0;
        ULONGLONG ullFile = 0;
        fGood = SplitLine(pszLine, apsz, 11, &n);
        if (fGood && n == 11 && strcmp(apsz[0], "pool") == 0) {
            // The pool, the list's last line: its units, claimed one by
            // one after the own files. Files that cannot be opened leave
            // the pool to the others.
            ULONGLONG aull[8];
            FILEID aid[2];
            CHAR szClaims[PART_NAME_MAX];
            fGood = p == pEnd && TakeDecimal(apsz[1], CLAIM_PARTS_MAX - 1, &aull[0]) && aull[0] >= 1 &&
                    TakeDecimal(apsz[2], CLAIM_UNITS_MAX, &aull[1]);
            for (int f = 0; fGood && f < 2; f++) {
                fGood = TakeDecimal(apsz[3 + 4 * f], 0xffffffff, &aull[2 + 3 * f]) &&
                        TakeDecimal(apsz[4 + 4 * f], 0xffffffff, &aull[3 + 3 * f]) &&
                        TakeDecimal(apsz[5 + 4 * f], 0xffffffff, &aull[4 + 3 * f]) &&
                        TakeHexText(apsz[6 + 4 * f], f ? szClaims : szFile, sizeof(szFile));
                aid[f].dwVolume = (DWORD)aull[2 + 3 * f];
                aid[f].dwIndexHigh = (DWORD)aull[3 + 3 * f];
                aid[f].dwIndexLow = (DWORD)aull[4 + 3 * f];
            }
            if (!fGood) break;
            HANDLE hList = OpenJobFile(szFile, &aid[0], GENERIC_READ);
            DWORD cbRead = 0;
            while (hList != INVALID_HANDLE_VALUE && !poolText.fFailed && poolText.cb <= PART_TEXT_MAX &&
                   ReadFile(hList, ab, sizeof(ab), &cbRead, NULL) && cbRead)
                AppendText(&poolText, ab, cbRead);
            if (hList == INVALID_HANDLE_VALUE || poolText.fFailed || poolText.cb > PART_TEXT_MAX) {
                if (hList != INVALID_HANDLE_VALUE) CloseHandle(hList);
                break;
            }
            CloseHandle(hList);
            LPSTR q = poolText.pb;
            fGood = TakeChildPool(&q, poolText.pb + poolText.cb, (DWORD)aull[1], &pool);
            if (fGood) fClaims = OpenClaims(&claims, szClaims, &aid[1], pool.nUnits, (int)aull[0]);
            break;
        }
        fGood = fGood && n == 2 && TakeDecimal(apsz[0], 0xffffffff, &ullFile) && TakeHexText(apsz[1], szFile, sizeof(szFile));
        if (!fGood) break;
        ReadListedFile(ullFile, szFile, fVerify);
        nFiles++;
    }
    fGood = fGood && p == pEnd;
    DWORD iUnit = 0;
    while (fGood && fClaims && ClaimNextUnit(&claims, &iUnit)) {
        for (DWORD k = pool.aiUnitStart[iUnit]; fGood && k < pool.aiUnitStart[iUnit + 1]; k++) {
            LPSTR apsz[3];
            int n = 0;
            ULONGLONG ullFile = 0;
            fGood = SplitLine(pool.apszLines[k], apsz, 3, &n) && n == 3 && TakeDecimal(apsz[0], 0xffffffff, &ullFile) &&
                    TakeHexText(apsz[2], szFile, sizeof(szFile));
            if (!fGood) break;
            ReadListedFile(ullFile, szFile, fVerify);
            nFiles++;
        }
    }
    if (fClaims) CloseClaims(&claims);
    free(poolText.pb);
    free(pool.apszLines);
    free(pool.aiUnitStart);
    free(list.pb);
    if (!fGood) {
        Complain("the list of AVIs does not hold", "AVI の一覧が正しくありません");
        return SPOOL_ERROR;
    }
    fprintf(g_pOut, "end %lu %s\n", (unsigned long)nFiles, PART_FORMAT);
    return fflush(g_pOut) == 0 && !ferror(g_pOut) ? SPOOL_OK : SPOOL_ERROR;
}

BOOL ReadLibrary(int nTrees, char **apszTrees, BOOL fCross, int *pnUnlisted, int nRead, const TREEARGS *pArgs)
{
    FreeLibraryTables();
    *pnUnlisted = 0;
    for (int t = 0; t < nTrees; t++) {
        FILEFACTS facts;
        LookAtName(apszTrees[t], &facts);
        if (facts.nKind != FILEKIND_FOLDER) {
            Complain("%s: not a folder", "%s: フォルダーではありません", apszTrees[t]);
            return FALSE;
        }
        WALK walk = {fCross, facts.id.dwVolume, t, 0, FALSE};
        WalkFolder(apszTrees[t], &walk, 0);
        *pnUnlisted += walk.nUnlisted;
        if (walk.fFailed) return FALSE;
    }
    // In the order of their paths, whatever order the system lists them in.
    if (s_nFiles) qsort(s_aFiles, s_nFiles, sizeof(LIBFILE), CompareFilesByPath);
    // A file reached from two trees (one inside the other) is one file.
    if (nTrees > 1 && !MarkFilesReachedAgain()) return FALSE;
    CHAR szProgram[MAX_PATH];
    if (nRead != READ_KINDS && pArgs && pArgs->lJobs > 1 && JobProgram(szProgram)) ReadFilesInParts(szProgram, nRead, pArgs);
    else ReadFilesHere(nRead);
    if (s_fNamesLost) return FALSE;
    s_aiById = (DWORD *)malloc(((size_t)s_nNames + 1) * sizeof(DWORD));
    if (!s_aiById) {
        Complain("out of memory", "メモリが確保できません");
        return FALSE;
    }
    for (DWORD i = 0; i < s_nNames; i++)
        if (s_aNames[i].fIndexed) s_aiById[s_nById++] = i;
    qsort(s_aiById, s_nById, sizeof(DWORD), CompareNamesById);
    for (DWORD i = 0; i < s_nFiles; i++) {
        if (s_aFiles[i].nKind != LIB_REF) continue;
        DWORD iFirst = 0;
        s_aFiles[i].nNamedBy = NamesOfId(&s_aFiles[i].id, &iFirst);
    }
    return TRUE;
}

// The AVIs of the trees whose files are not all known: not read, read in
// part, or files that could not be opened to tell whether they are AVIs.
DWORD UnreadAvis(void)
{
    DWORD n = 0;
    for (DWORD i = 0; i < s_nFiles; i++)
        n += (s_aFiles[i].nKind == LIB_AVI && s_aFiles[i].nRead != AVINAMES_WHOLE) || s_aFiles[i].nKind == LIB_UNREADABLE;
    return n;
}

// Whether a name's last part is that of a file named by an AVI where no
// file is: the trees moved, a drive's letter changed, a --map left out.
int CompareNameParts(const void *pA, const void *pB) { return _stricmp(*(LPCSTR const *)pA, *(LPCSTR const *)pB); }

// A name's last part, after either separator ('/' is never the second
// byte of a double-byte character).
LPCSTR LastNamePart(LPCSTR pszPath)
{
    LPCSTR pszPart = GetFileNamePart(pszPath);
    LPCSTR pszSlash = strrchr(pszPart, '/');
    return pszSlash ? pszSlash + 1 : pszPart;
}

// The unused reference files, newest first.
int CompareNewestFirst(const void *pA, const void *pB)
{
    const LIBFILE *pFileA = &s_aFiles[*(const DWORD *)pA], *pFileB = &s_aFiles[*(const DWORD *)pB];
    if (pFileA->tWritten != pFileB->tWritten) return pFileA->tWritten > pFileB->tWritten ? -1 : 1;
    return strcmp(pFileA->pszPath, pFileB->pszPath);
}

DWORD *UnusedFiles(DWORD *pn, time_t tOlderThan)
{
    DWORD *ai = (DWORD *)malloc(((size_t)s_nFiles + 1) * sizeof(DWORD));
    *pn = 0;
    if (!ai) {
        Complain("out of memory", "メモリが確保できません");
        return NULL;
    }
    for (DWORD i = 0; i < s_nFiles; i++)
        if (s_aFiles[i].nKind == LIB_REF && !s_aFiles[i].nNamedBy && (!tOlderThan || s_aFiles[i].tWritten < tOlderThan))
            ai[(*pn)++] = i;
    qsort(ai, *pn, sizeof(DWORD), CompareNewestFirst);
    return ai;
}

void FormatTime(time_t t, LPSTR psz, size_t cb)
{
    struct tm *pTm = localtime(&t);
    if (!pTm || !strftime(psz, cb, "%Y-%m-%d %H:%M", pTm)) snprintf(psz, cb, "%s", "?");
}

LPCSTR ReadText(int nRead)
{
    if (nRead == AVINAMES_FAILED) return g_fJapanese ? "読めません" : "cannot be read";
    if (nRead == AVINAMES_PARTIAL) return g_fJapanese ? "一部だけ読めました" : "read in part";
    return "";
}

int ParseTreeArgs(LPCSTR pszCommand, int argc, char **argv, TREEARGS *pArgs, BOOL fClean)
{
    memset(pArgs, 0, sizeof(*pArgs));
    pArgs->lOlderDays = -1;
    pArgs->lJobs = 2;
    pArgs->apszTrees = (char **)calloc((size_t)argc + 1, sizeof(char *));
    pArgs->apszMaps = (char **)calloc((size_t)argc + 1, sizeof(char *));
    if (!pArgs->apszTrees || !pArgs->apszMaps) return SPOOL_ERROR;
    for (int i = 0; i < argc; i++) {
        LPCSTR pszValue = NULL;
        if (TakeOption(argc, argv, &i, "--map", NULL, &pszValue)) {
            if (!pszValue || !AddPathMap(pszValue)) return UsageError(pszCommand, pszValue ? pszValue : argv[i]);
            pArgs->apszMaps[pArgs->nMaps++] = (char *)pszValue;
        } else if (TakeOption(argc, argv, &i, "--jobs", "-j", &pszValue)) {
            char *pEnd = NULL;
            pArgs->lJobs = pszValue ? strtol(pszValue, &pEnd, 10) : 0;
            if (!pszValue || !*pszValue || *pEnd || pArgs->lJobs < 1 || pArgs->lJobs > JOBS_MAX)
                return UsageError(pszCommand, pszValue ? pszValue : argv[i]);
            pArgs->fJobsGiven = TRUE;
        } else if (!fClean && TakeOption(argc, argv, &i, "--json", NULL, NULL)) {
            pArgs->fJson = TRUE;
        } else if (!fClean && strcmp(pszCommand, "library") == 0 && TakeOption(argc, argv, &i, "--verify", NULL, NULL)) {
            pArgs->fVerify = TRUE;
        } else if (TakeOption(argc, argv, &i, "--cross", NULL, NULL)) {
            pArgs->fCross = TRUE;
        } else if (fClean && TakeOption(argc, argv, &i, "--yes", NULL, NULL)) {
            pArgs->fYes = TRUE;
        } else if (fClean && TakeOption(argc, argv, &i, "--unused", NULL, NULL)) {
            pArgs->fUnused = TRUE;
        } else if (fClean && TakeOption(argc, argv, &i, "--older", NULL, &pszValue)) {
            char *pEnd = NULL;
            pArgs->lOlderDays = pszValue ? strtol(pszValue, &pEnd, 10) : -1;
            if (!pszValue || !*pszValue || *pEnd || pArgs->lOlderDays < 0 || pArgs->lOlderDays > 100000)
                return UsageError(pszCommand, pszValue ? pszValue : argv[i]);
        } else if (argv[i][0] == '-' && argv[i][1]) {
            return UsageError(pszCommand, argv[i]);
        } else {
            pArgs->apszTrees[pArgs->nTrees++] = argv[i];
        }
    }
    if (!pArgs->nTrees) return UsageError(pszCommand, "DIR");
    if (fClean && !pArgs->fUnused) return UsageError(pszCommand, "--unused");
    return SPOOL_OK;
}

// Takes a tree command's arguments and reads the trees (each AVI's names,
// and with --verify its records); SPOOL_OK, or the status to end with.
int ReadTrees(LPCSTR pszCommand, int argc, char **argv, BOOL fClean, TREEARGS *pArgs, int *pnUnlisted)
{
    int nStatus = ParseTreeArgs(pszCommand, argc, argv, pArgs, fClean);
    if (nStatus == SPOOL_OK &&
        !ReadLibrary(pArgs->nTrees, pArgs->apszTrees, pArgs->fCross, pnUnlisted, pArgs->fVerify ? READ_VERIFY : READ_NAMES,
                     pArgs))
        nStatus = SPOOL_ERROR;
    free(pArgs->apszTrees);
    free(pArgs->apszMaps);
    pArgs->apszTrees = pArgs->apszMaps = NULL;
    if (nStatus != SPOOL_OK) FreeLibraryTables();
    return nStatus;
}

void PutLibraryJson(const DWORD *aiUnused, DWORD nUnused, ULONGLONG ullUnused)
{
    fputs("{\"avis\":[", g_pOut);
    BOOL fFirst = TRUE;
    for (DWORD i = 0; i < s_nFiles; i++) {
        const LIBFILE *pFile = &s_aFiles[i];
        if (pFile->nKind != LIB_AVI) continue;
        fputs(fFirst ? "\n {\"path\":" : ",\n {\"path\":", g_pOut);
        fFirst = FALSE;
        PutJsonString(g_pOut, pFile->pszPath);
        fprintf(g_pOut, ",\"read\":\"%s\",\"note\":%s,",
                pFile->nRead == AVINAMES_FAILED ? "failed" : pFile->nRead == AVINAMES_PARTIAL ? "partial" : "whole",
                pFile->fNote ? "true" : "false");
        if (pFile->nVerify >= 0)
            fprintf(g_pOut, "\"verify\":{\"status\":%d,\"records\":%lu,\"good\":%lu,\"bad\":%lu},", pFile->nVerify,
                    (unsigned long)pFile->verify.nRecords, (unsigned long)pFile->verify.anChecks[0],
                    (unsigned long)pFile->verify.nBad);
        fputs("\"files\":[", g_pOut);
        for (DWORD k = 0; k < pFile->nNames; k++) {
            const LIBNAME *pName = &s_aNames[pFile->iFirstName + k];
            fputs(k ? ",{\"name\":" : "{\"name\":", g_pOut);
            PutJsonString(g_pOut, pName->pszName);
            fputs(",\"path\":", g_pOut);
            PutJsonString(g_pOut, pName->pszPath);
            fprintf(g_pOut, ",\"exists\":%s}", pName->fExists ? "true" : "false");
        }
        fputs("]}", g_pOut);
    }
    fputs("\n],\"unused\":[", g_pOut);
    for (DWORD k = 0; k < nUnused; k++) {
        const LIBFILE *pFile = &s_aFiles[aiUnused[k]];
        CHAR szTime[32];
        FormatTime(pFile->tWritten, szTime, sizeof(szTime));
        fputs(k ? ",\n {\"path\":" : "\n {\"path\":", g_pOut);
        PutJsonString(g_pOut, pFile->pszPath);
        fprintf(g_pOut, ",\"size\":%llu,\"written\":\"%s\"}", (unsigned long long)pFile->ullSize, szTime);
    }
    fprintf(g_pOut, "\n],\"unused_bytes\":%llu,\"shared\":[", (unsigned long long)ullUnused);
    fFirst = TRUE;
    for (DWORD k = 0; k < s_nById;) {
        DWORD iFirst = 0, n = NamesOfId(&s_aNames[s_aiById[k]].id, &iFirst);
        if (n > 1) {
            fputs(fFirst ? "\n {\"path\":" : ",\n {\"path\":", g_pOut);
            fFirst = FALSE;
            PutJsonString(g_pOut, s_aNames[s_aiById[k]].pszPath);
            fputs(",\"avis\":[", g_pOut);
            for (DWORD j = 0; j < n; j++) {
                if (j) fputc(',', g_pOut);
                PutJsonString(g_pOut, s_aFiles[s_aNames[s_aiById[k + j]].iAvi].pszPath);
            }
            fputs("]}", g_pOut);
        }
        k += n;
    }
    fputs("\n]}\n", g_pOut);
}

void PutLibraryText(const DWORD *aiUnused, DWORD nUnused, ULONGLONG ullUnused)
{
    for (DWORD i = 0; i < s_nFiles; i++) {
        const LIBFILE *pFile = &s_aFiles[i];
        if (pFile->nKind == LIB_UNREADABLE) Say(g_pOut, "%s: cannot be opened\n", "%s: 開けません\n", pFile->pszPath);
        if (pFile->nKind != LIB_AVI) continue;
        if (pFile->nRead == AVINAMES_FAILED) {
            Say(g_pOut, "%s: cannot be read\n", "%s: 読めません\n", pFile->pszPath);
            continue;
        }
        CHAR szVerify[96] = "";
        if (pFile->nVerify >= 0)
            snprintf(szVerify, sizeof(szVerify), g_fJapanese ? ", 参照レコード %lu: 正常 %lu, 不正 %lu" : ", %lu records: %lu good, %lu bad",
                     (unsigned long)pFile->verify.nRecords, (unsigned long)pFile->verify.anChecks[0],
                     (unsigned long)pFile->verify.nBad);
        Say(g_pOut, "%s: %lu reference files%s%s%s%s\n", "%s: 参照ファイル %lu 個%s%s%s%s\n", pFile->pszPath,
            (unsigned long)pFile->nNames, pFile->nRead == AVINAMES_PARTIAL ? ", " : "", ReadText(pFile->nRead),
            pFile->fNote ? (g_fJapanese ? ", 中断された移動の記録あり (spool recover)" : ", a relocation's note stays (spool recover)")
                         : "",
            szVerify);
        for (DWORD k = 0; k < pFile->nNames; k++) {
            const LIBNAME *pName = &s_aNames[pFile->iFirstName + k];
            fprintf(g_pOut, "  %-8s %s", pName->fExists ? (g_fJapanese ? "あり" : "there") : (g_fJapanese ? "なし" : "missing"),
                    pName->pszName);
            if (strcmp(pName->pszName, pName->pszPath) != 0) fprintf(g_pOut, " -> %s", pName->pszPath);
            fputc('\n', g_pOut);
        }
    }
    Say(g_pOut, "Reference files that no AVI of the trees names, newest first: %lu, %llu bytes\n",
        "どの AVI も参照していない参照ファイル (新しい順): %lu 個, %llu バイト\n", (unsigned long)nUnused,
        (unsigned long long)ullUnused);
    for (DWORD k = 0; k < nUnused; k++) {
        const LIBFILE *pFile = &s_aFiles[aiUnused[k]];
        CHAR szTime[32];
        FormatTime(pFile->tWritten, szTime, sizeof(szTime));
        fprintf(g_pOut, "  %s %14llu  %s\n", szTime, (unsigned long long)pFile->ullSize, pFile->pszPath);
    }
    BOOL fHeading = FALSE;
    for (DWORD k = 0; k < s_nById;) {
        DWORD iFirst = 0, n = NamesOfId(&s_aNames[s_aiById[k]].id, &iFirst);
        if (n > 1) {
            if (!fHeading)
                Say(g_pOut, "Reference files that more than one AVI names:\n", "複数の AVI が参照している参照ファイル:\n");
            fHeading = TRUE;
            fprintf(g_pOut, "  %s\n", s_aNames[s_aiById[k]].pszPath);
            for (DWORD j = 0; j < n; j++) fprintf(g_pOut, "    %s\n", s_aFiles[s_aNames[s_aiById[k + j]].iAvi].pszPath);
        }
        k += n;
    }
}

}  // namespace

int LibraryCommand(int argc, char **argv)
{
    if (argc && strcmp(argv[0], "--part") == 0) return ReadPartCommand(argc, argv);
    TREEARGS args;
    int nUnlisted = 0;
    int nStatus = ReadTrees("library", argc, argv, FALSE, &args, &nUnlisted);
    if (nStatus != SPOOL_OK) return nStatus;
    DWORD nUnused = 0;
    DWORD *aiUnused = UnusedFiles(&nUnused, 0);
    ULONGLONG ullUnused = 0;
    for (DWORD k = 0; k < nUnused; k++) ullUnused += s_aFiles[aiUnused[k]].ullSize;
    if (args.fJson) PutLibraryJson(aiUnused, nUnused, ullUnused);
    else PutLibraryText(aiUnused, nUnused, ullUnused);
    // Problems: an AVI not read whole, a note that stays, a named file that
    // is not there, a folder not listed.
    BOOL fProblems = nUnlisted > 0 || !aiUnused;
    for (DWORD i = 0; i < s_nFiles; i++)
        if ((s_aFiles[i].nKind == LIB_AVI &&
             (s_aFiles[i].nRead != AVINAMES_WHOLE || s_aFiles[i].fNote || s_aFiles[i].nVerify > SPOOL_OK)) ||
            s_aFiles[i].nKind == LIB_UNREADABLE)
            fProblems = TRUE;
    for (DWORD i = 0; i < s_nNames; i++)
        if (!s_aNames[i].fExists) fProblems = TRUE;
    free(aiUnused);
    FreeLibraryTables();
    return fProblems ? SPOOL_PROBLEMS : SPOOL_OK;
}

int WhoCommand(LPCSTR pszFile, int argc, char **argv)
{
    FILEFACTS facts;
    LookAtName(pszFile, &facts);
    if (facts.nKind != FILEKIND_FILE) {
        Complain("%s: no such file", "%s: ファイルがありません", pszFile);
        return SPOOL_ERROR;
    }
    TREEARGS args;
    int nUnlisted = 0;
    int nStatus = ReadTrees("refs", argc, argv, FALSE, &args, &nUnlisted);
    if (nStatus != SPOOL_OK) return nStatus;
    DWORD iFirst = 0, n = NamesOfId(&facts.id, &iFirst);
    for (DWORD j = 0; j < n; j++) fprintf(g_pOut, "%s\n", s_aFiles[s_aNames[s_aiById[iFirst + j]].iAvi].pszPath);
    // AVIs that could not be read may name it too.
    DWORD nUnread = UnreadAvis();
    for (DWORD i = 0; i < s_nFiles; i++)
        if ((s_aFiles[i].nKind == LIB_AVI && s_aFiles[i].nRead != AVINAMES_WHOLE) || s_aFiles[i].nKind == LIB_UNREADABLE)
            Complain("%s cannot be read whole: it may name %s too", "%s は全部を読めないため, %s を参照しているかもしれません",
                     s_aFiles[i].pszPath, pszFile);
    FreeLibraryTables();
    return nUnread || nUnlisted ? SPOOL_PROBLEMS : SPOOL_OK;
}

int CleanCommand(int argc, char **argv)
{
    TREEARGS args;
    int nUnlisted = 0;
    int nStatus = ReadTrees("clean", argc, argv, TRUE, &args, &nUnlisted);
    if (nStatus != SPOOL_OK) return nStatus;
    time_t tOlderThan = args.lOlderDays > 0 ? time(NULL) - (time_t)args.lOlderDays * 86400 : 0;
    DWORD nUnused = 0;
    DWORD *aiUnused = UnusedFiles(&nUnused, tOlderThan);
    if (!aiUnused) {
        FreeLibraryTables();
        return SPOOL_ERROR;
    }
    // An AVI that could not be read whole may name any of them, and a
    // relocation cut short may need them: nothing goes.
    DWORD nUnread = UnreadAvis(), nNotes = 0;
    for (DWORD i = 0; i < s_nFiles; i++) nNotes += s_aFiles[i].nKind == LIB_AVI && s_aFiles[i].fNote;
    BOOL fDelete = args.fYes && !nUnread && !nUnlisted && !nNotes;
    if (args.fYes && (nUnread || nUnlisted))
        Complain("%lu AVIs, files or folders of the trees could not be read whole, and may name these files: nothing was "
                 "deleted",
                 "ツリーの AVI, ファイルまたはフォルダー %lu 個を全部は読めず, それらがこのファイルを参照しているかもしれないため, "
                 "何も削除していません",
                 (unsigned long)(nUnread + (DWORD)nUnlisted));
    else if (args.fYes && nNotes)
        Complain("a relocation's note stays beside %lu AVIs of the trees (spool recover): nothing was deleted",
                 "ツリーの AVI %lu 個のそばに中断された移動の記録が残っているため (spool recover), 何も削除していません",
                 (unsigned long)nNotes);
    // The last parts of the names whose files are not there: a file of
    // such a name may be the one they mean, found elsewhere.
    LPCSTR *apszMissing = (LPCSTR *)malloc(((size_t)s_nNames + 1) * sizeof(LPCSTR));
    DWORD nMissing = 0;
    for (DWORD i = 0; apszMissing && i < s_nNames; i++)
        if (!s_aNames[i].fIndexed) apszMissing[nMissing++] = LastNamePart(s_aNames[i].pszPath);
    if (!apszMissing) {
        Complain("out of memory", "メモリが確保できません");
        fDelete = FALSE;
    } else if (nMissing) {
        qsort(apszMissing, nMissing, sizeof(LPCSTR), CompareNameParts);
    }
    DWORD nDeleted = 0, nLeft = 0;
    ULONGLONG ullDeleted = 0, ullListed = 0;
    for (DWORD k = 0; k < nUnused; k++) {
        const LIBFILE *pFile = &s_aFiles[aiUnused[k]];
        ullListed += pFile->ullSize;
        if (!fDelete) {
            Say(g_pOut, "unused: %s (%llu bytes)\n", "未使用: %s (%llu バイト)\n", pFile->pszPath,
                (unsigned long long)pFile->ullSize);
            continue;
        }
        LPCSTR pszPart = LastNamePart(pFile->pszPath);
        if (nMissing && bsearch(&pszPart, apszMissing, nMissing, sizeof(LPCSTR), CompareNameParts)) {
            nLeft++;
            Complain("%s was left: an AVI names a file of this name that is not where it says (moved? a --map left out?)",
                     "%s は残しました: AVI がこの名前のファイルを参照していますが, その場所にはありません (移動した? --map の指定漏れ?)",
                     pFile->pszPath);
            continue;
        }
        // Only a file whose frames run whole from its start to its end is a
        // reference file for certain, checked again as it is deleted.
        GATEPROOF proof = {GATE_WHOLE_REFFILE, pFile->id, 0};
        int nResult = GateDelete(pFile->pszPath, &proof);
        if (nResult == GATE_DONE) {
            nDeleted++;
            ullDeleted += pFile->ullSize;
            Say(g_pOut, "deleted: %s (%llu bytes)\n", "削除: %s (%llu バイト)\n", pFile->pszPath,
                (unsigned long long)pFile->ullSize);
        } else {
            nLeft++;
            Complain(nResult == GATE_NOT_PROVED ? "%s was left: its frames do not run whole to its end, so it may not be a reference file"
                     : nResult == GATE_FAILED   ? "%s was left: the system refused to delete it (in use?)"
                                                : "%s was left: it is not the file that was read",
                     nResult == GATE_NOT_PROVED ? "%s は残しました: フレームが末尾まで続いておらず, 参照ファイルとは限りません"
                     : nResult == GATE_FAILED   ? "%s は残しました: システムが削除を拒否しました (使用中?)"
                                                : "%s は残しました: 読んだときのファイルではありません",
                     pFile->pszPath);
        }
    }
    if (fDelete)
        Say(g_pOut, "%lu unused reference files deleted, %llu bytes; %lu left\n", "未使用の参照ファイル %lu 個を削除しました (%llu バイト). 残したもの %lu 個\n",
            (unsigned long)nDeleted, (unsigned long long)ullDeleted, (unsigned long)nLeft);
    else
        Say(g_pOut, "%lu unused reference files, %llu bytes; nothing was deleted%s\n",
            "未使用の参照ファイル %lu 個, %llu バイト. 何も削除していません%s\n", (unsigned long)nUnused,
            (unsigned long long)ullListed, args.fYes ? "" : (g_fJapanese ? " (--yes で削除)" : " (--yes deletes them)"));
    free(aiUnused);
    free(apszMissing);
    FreeLibraryTables();
    if (args.fYes && !fDelete) return SPOOL_PROBLEMS;
    return nLeft ? SPOOL_PROBLEMS : SPOOL_OK;
}

namespace {

// Makes the folders on the way to a file (pszPath's folder part).
BOOL MakeFoldersFor(LPCSTR pszPath)
{
    CHAR sz[MAX_PATH];
    snprintf(sz, sizeof(sz), "%s", pszPath);
    for (size_t i = 1; sz[i]; i++) {
        if (sz[i] != '/' && sz[i] != s_chSeparator) continue;
        if (!StartsCharacter(sz, i)) continue;
        CHAR c = sz[i];
        sz[i] = '\0';
        FILEFACTS facts;
        LookAtName(sz, &facts);
        if (facts.nKind == FILEKIND_MISSING && !CreateDirectoryA(sz, NULL)) return FALSE;
        sz[i] = c;
    }
    return TRUE;
}

}  // namespace

namespace {

// The folder of a tree's outputs when there are several trees: the tree's
// own name, with its number when another tree before it has that name.
void TreeFolderName(char **apszTrees, int nTrees, int iTree, LPSTR pszName)
{
    CHAR szOwn[MAX_PATH];
    snprintf(szOwn, sizeof(szOwn), "%s", apszTrees[iTree]);
    size_t cch = strlen(szOwn);
    while (cch > 1 && (szOwn[cch - 1] == '/' || szOwn[cch - 1] == s_chSeparator)) szOwn[--cch] = '\0';
    LPCSTR pszOwn = GetFileNamePart(szOwn);
    if (!*pszOwn || strchr(pszOwn, ':')) pszOwn = "tree";
    BOOL fTaken = FALSE;
    for (int t = 0; t < nTrees && !fTaken; t++) {
        if (t == iTree) continue;
        CHAR szOther[MAX_PATH];
        snprintf(szOther, sizeof(szOther), "%s", apszTrees[t]);
        size_t cchOther = strlen(szOther);
        while (cchOther > 1 && (szOther[cchOther - 1] == '/' || szOther[cchOther - 1] == s_chSeparator))
            szOther[--cchOther] = '\0';
        LPCSTR pszOther = GetFileNamePart(szOther);
        if (!*pszOther || strchr(pszOther, ':')) pszOther = "tree";
        fTaken = _stricmp(pszOther, pszOwn) == 0;
    }
    if (fTaken) snprintf(pszName, MAX_PATH, "%s-%d", pszOwn, iTree + 1);
    else snprintf(pszName, MAX_PATH, "%s", pszOwn);
}


}  // namespace

int TreeCommand(LPCSTR pszCommand, int argc, char **argv)
{
    BOOL fResolve = strcmp(pszCommand, "resolve") == 0, fCross = FALSE;
    LPCSTR pszOutDir = NULL;
    long lJobs = 2;
    char **apszTrees = (char **)calloc((size_t)argc + 1, sizeof(char *));
    char **apszMaps = (char **)calloc((size_t)argc + 1, sizeof(char *));
    int nTrees = 0, nMaps = 0, nStatus = SPOOL_OK;
    if (!apszTrees || !apszMaps) nStatus = SPOOL_ERROR;
    for (int i = 0; nStatus == SPOOL_OK && i < argc; i++) {
        LPCSTR pszValue = NULL;
        if (TakeOption(argc, argv, &i, "--recursive", "-r", NULL)) continue;
        if (TakeOption(argc, argv, &i, "--cross", NULL, NULL)) {
            fCross = TRUE;
        } else if (TakeOption(argc, argv, &i, "--map", NULL, &pszValue)) {
            if (!pszValue || !AddPathMap(pszValue)) nStatus = UsageError(pszCommand, pszValue ? pszValue : argv[i]);
            else apszMaps[nMaps++] = (char *)pszValue;
        } else if (TakeOption(argc, argv, &i, "--jobs", "-j", &pszValue)) {
            char *pEnd = NULL;
            lJobs = pszValue ? strtol(pszValue, &pEnd, 10) : 0;
            if (!pszValue || !*pszValue || *pEnd || lJobs < 1 || lJobs > JOBS_MAX)
                nStatus = UsageError(pszCommand, pszValue ? pszValue : argv[i]);
        } else if (fResolve && TakeOption(argc, argv, &i, "--output", "-o", &pszValue)) {
            pszOutDir = pszValue;
            if (!pszValue) nStatus = UsageError(pszCommand, argv[i]);
        } else if (argv[i][0] == '-' && argv[i][1]) {
            nStatus = UsageError(pszCommand, argv[i]);
        } else {
            apszTrees[nTrees++] = argv[i];
        }
    }
    if (nStatus == SPOOL_OK && (!nTrees || (fResolve && !pszOutDir)))
        nStatus = UsageError(pszCommand, nTrees ? "-o OUTDIR" : "DIR");
    CHAR szProgram[MAX_PATH] = "";
    if (nStatus == SPOOL_OK && lJobs > 1 && !JobProgram(szProgram)) lJobs = 1;
    if (nStatus != SPOOL_OK) {
        free(apszTrees);
        free(apszMaps);
        return nStatus;
    }
    int nUnlisted = 0;
    BOOL fRead = ReadLibrary(nTrees, apszTrees, fCross, &nUnlisted, READ_KINDS, NULL);
    int nWorst = fRead ? (nUnlisted ? SPOOL_PROBLEMS : SPOOL_OK) : SPOOL_ERROR;
    DWORD anStatus[3] = {0, 0, 0};
    JOB aJobs[JOBS_MAX];
    int iOldest = 0, nRunning = 0;
    for (DWORD i = 0; fRead && i <= s_nFiles; i++) {
        // A job ends before another starts when every slot is taken, and
        // all end at the end, in the order they started.
        while (nRunning && (nRunning == lJobs || i == s_nFiles)) {
            int nEnded = EndJob(&aJobs[iOldest]);
            iOldest = (iOldest + 1) % JOBS_MAX;
            nRunning--;
            anStatus[nEnded]++;
            if (nEnded > nWorst) nWorst = nEnded;
        }
        if (i == s_nFiles) break;
        const LIBFILE *pFile = &s_aFiles[i];
        if (pFile->nKind == LIB_UNREADABLE && !pFile->fAgain) {
            Complain("%s cannot be opened: whether it is an AVI is unknown", "%s を開けないため, AVI かどうかわかりません",
                     pFile->pszPath);
            anStatus[SPOOL_ERROR]++;
            nWorst = SPOOL_ERROR;
            continue;
        }
        if (pFile->nKind != LIB_AVI || pFile->fAgain) continue;
        CHAR szOut[MAX_PATH] = "";
        if (fResolve) {
            // The tree's shape under the output folder (each tree in a folder
            // of its own name when there are several).
            LPCSTR pszRoot = apszTrees[pFile->iTree];
            LPCSTR pszRel = pFile->pszPath + strlen(pszRoot);
            while (*pszRel == '/' || *pszRel == s_chSeparator) pszRel++;
            CHAR szTreeName[MAX_PATH];
            TreeFolderName(apszTrees, nTrees, pFile->iTree, szTreeName);
            int cch = nTrees > 1 ? snprintf(szOut, sizeof(szOut), "%s%c%s%c%s", pszOutDir, s_chSeparator, szTreeName,
                                            s_chSeparator, pszRel)
                                 : snprintf(szOut, sizeof(szOut), "%s%c%s", pszOutDir, s_chSeparator, pszRel);
            FILEFACTS outFacts;
            BOOL fFits = cch > 0 && cch < (int)sizeof(szOut);
            if (fFits) LookAtName(szOut, &outFacts);
            // An output never replaces what is there (another AVI of the
            // trees, say): it is left, said so.
            if (fFits && (outFacts.nKind != FILEKIND_MISSING || outFacts.fLink)) {
                Complain("%s: %s is there already and was left as it is", "%s: %s がすでにあるため, そのままにしました", pFile->pszPath,
                         szOut);
                anStatus[SPOOL_ERROR]++;
                nWorst = SPOOL_ERROR;
                continue;
            }
            if (!fFits || !MakeFoldersFor(szOut)) {
                Complain("%s: no output can be made for it under %s", "%s: %s の下に出力を作れません", pFile->pszPath, pszOutDir);
                anStatus[SPOOL_ERROR]++;
                nWorst = SPOOL_ERROR;
                continue;
            }
        }
        if (lJobs > 1) {
            // The same command for the one AVI, in a process of its own, with
            // the maps and the records' code page of this run.
            JOBLINE line;
            memset(&line, 0, sizeof(line));
            CHAR szPage[16];
            snprintf(szPage, sizeof(szPage), "%u", g_uRecordNamePage == CP_ACP ? GetACP() : g_uRecordNamePage);
            LPCSTR apszArgs[] = {szProgram, pszCommand, pFile->pszPath, "--names", szPage};
            for (LPCSTR pszArg : apszArgs) AppendArgument(&line, pszArg);
            if (fResolve) {
                AppendArgument(&line, "-o");
                AppendArgument(&line, szOut);
            }
            for (int m = 0; m < nMaps; m++) {
                AppendArgument(&line, "--map");
                AppendArgument(&line, apszMaps[m]);
            }
            JOB *pJob = &aJobs[(iOldest + nRunning) % JOBS_MAX];
            if (!line.fTooLong && StartJob(szProgram, &line, pJob, NULL, FALSE)) {
                nRunning++;
                continue;
            }
            if (line.fTooLong) Complain("%s: the command line is too long", "%s: コマンドラインが長すぎます", pFile->pszPath);
            anStatus[SPOOL_ERROR]++;
            nWorst = SPOOL_ERROR;
            continue;
        }
        int nEnded;
        if (!fResolve) {
            char *apszArgs[] = {pFile->pszPath, NULL};
            nEnded = VerifyCommand(1, apszArgs);
        } else {
            char szDashO[] = "-o";
            char *apszArgs[] = {pFile->pszPath, szDashO, szOut, NULL};
            nEnded = ResolveCommand(3, apszArgs);
        }
        fflush(g_pOut);
        anStatus[nEnded]++;
        if (nEnded > nWorst) nWorst = nEnded;
    }
    if (fRead)
        Say(g_pOut, "%lu AVIs: %lu good, %lu with problems, %lu failed\n", "AVI %lu 個: 正常 %lu, 問題あり %lu, 失敗 %lu\n",
            (unsigned long)(anStatus[0] + anStatus[1] + anStatus[2]), (unsigned long)anStatus[0], (unsigned long)anStatus[1],
            (unsigned long)anStatus[2]);
    FreeLibraryTables();
    free(apszTrees);
    free(apszMaps);
    return nWorst;
}
