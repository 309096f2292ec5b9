// What the commands of spool share: output streams and language, the
// engines' messages in English, JSON strings, the progress bar, path
// mapping and option parsing.
#include "cli/spool.h"

#include "mover/message.h"
#include "salvage/salvage.h"
#include "scaffold/paths.h"

#include <ctype.h>
#include <stdarg.h>
#include <stdlib.h>
#include <string.h>
#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

FILE *g_pOut;
FILE *g_pErr;
BOOL g_fJapanese;
BOOL g_fProgressBar;
int g_nEngineFailures;
int g_nEngineMessages;
int g_nQuestionAnswer = IDCANCEL;
int g_nConfirmAnswer = IDNO;
int g_nConfirmations;

namespace {

// --- The engines' messages --------------------------------------------------

struct TEXTPAIR {
    LPCSTR pszJapanese;
    LPCSTR pszEnglish;
};

// The engines' messages that the commands can meet, with their English.
const TEXTPAIR s_aEngineTexts[] = {
    {"メモリが確保できません!", "Out of memory!"},
    {"メモリが足りません!", "Out of memory!"},
    {"%s がオープンできません!", "%s cannot be opened!"},
    {"%sがオープンできません!", "%s cannot be opened!"},
    {"%s にAVIチャンクがありません!", "%s has no AVI chunk!"},
    {"%sにAVIチャンクがありません!", "%s has no AVI chunk!"},
    {"%s にList/hdrlチャンクがありません!", "%s has no LIST hdrl chunk!"},
    {"%sにList/hdrlチャンクがありません!", "%s has no LIST hdrl chunk!"},
    {"%s にavihチャンクがありません!", "%s has no avih chunk!"},
    {"%sにavihチャンクがありません!", "%s has no avih chunk!"},
    {"%s のavihチャンクが読み出せん!", "The avih chunk of %s cannot be read!"},
    {"%s(strh) のアセンドに失敗しました!", "%s (strh): ascending failed!"},
    {"%s(LIST) のアセンドに失敗しました!", "%s (LIST): ascending failed!"},
    {"%s(LIST/hdrl) のアセンドに失敗しました!", "%s (LIST hdrl): ascending failed!"},
    {"%s のvidsチャンクからドライバID/ビデオフォーマット取得が失敗しました!\n",
     "The driver id or video format of %s could not be read from its vids chunk!"},
    {"%s のaudsチャンクからウェーブフォーマット取得が失敗しました!\n",
     "The wave format of %s could not be read from its auds chunk!"},
    {"ドライバ情報が取得できません!", "The driver's information cannot be had!"},
    {"%s にList/moviチャンクがありません!", "%s has no LIST movi chunk!"},
    {"%s はDIBチャンクがありません!", "%s has no video chunk!"},
    {"%s のアセンドに失敗しました!", "%s: ascending failed!"},
    {"%s(DIB) のアセンドに失敗しました!", "%s (video chunk): ascending failed!"},
    {"%s にidx1チャンクがありません!", "%s has no idx1 chunk!"},
    {"%s のidx1チャンクが読み出せん!", "The idx1 chunk of %s cannot be read!"},
    {"%s(AVI) のアセンドに失敗しました!", "%s (AVI): ascending failed!"},
    {"%s の\nフレームのインデックス数がヘッダのフレーム数に%ld足りませんでした!",
     "%s: the index lists %s frames fewer than the header says!"},
    {"%s の\nフレームのインデックス数がヘッダのフレーム数より%ld余分でした!",
     "%s: the index lists %s frames more than the header says!"},
    {"%s の\nオーディオチャンクのインデックス数が%ld余分でした!", "%s: the index lists %s audio chunks too many!"},
    {"参照ファイル%sの%sへのコピーは中止されました!", "The copy of reference file %s to %s was aborted!"},
    {"参照ファイル%sの%sへのコピーでエラーが発生しました!", "Copying reference file %s to %s failed!"},
    {"新しい参照ファイルベース名%sの番号が999を超えます!", "The numbers of the new base name %s would pass 999!"},
    {"%sが作成できません!", "%s cannot be created!"},
    {"参照ファイル%sの%sへの移動でエラーが発生しました!", "Moving reference file %s to %s failed!"},
    {"古い参照ファイル%sの削除でエラーが発生しました!", "Deleting the old reference file %s failed!"},
    {"AVIファイルのフレームは参照ファイル%sを参照しています!", "The AVI's frames name the reference file %s!"},
    {"新しい参照ファイルベース名%sが不正です!", "The new base name %s is not valid!"},
    {"参照ファイル%sが見つかりません!", "Reference file %s is not there!"},
    {"参照ファイル%sの新しい名前が長すぎます!", "The new name of reference file %s is too long!"},
    {"参照ファイル%sと%sが見つかりません!", "Neither reference file %s nor %s is there!"},
    {"中断された参照ファイル%sの%sへの移動を完了しました.",
     "The interrupted relocation of reference file %s to %s was finished."},
    {"中断された参照ファイル%sの%sへの移動を元に戻しました.",
     "The interrupted relocation of reference file %s to %s was rolled back."},
    {"参照ファイル%s削除でエラーが発生しました!", "Deleting reference file %s failed!"},
    {"AVIファイル%sの削除でエラーが発生しました!", "Deleting the AVI %s failed!"},
    {"AVIファイルはオープンされていません!", "No AVI is open!"},
    {"%s のフレームNoが不正です!", "%s: the frame number is not valid!"},
    {"%s がシークできません!", "%s: seeking failed!"},
    {"%sがシークできません!", "%s: seeking failed!"},
    {"%s のフレーム読み出しに失敗しました!", "%s: reading a frame failed!"},
    {"%s のフレーム圧縮サイズが一致しません!", "%s: the frame's size does not match!"},
    {"%s のフレーム書き込みに失敗しました!", "%s: writing a frame failed!"},
    {"%sが読み出せません!(%08lX)", "%s cannot be read! (%s)"},
    {"%sは参照ファイルではありません!", "%s is not a reference file!"},
    {"次のファイルは形式を確かめられない参照フレームが参照しています:\n%sこれらのファイルも処理しますか?",
     "These files are named by reference frames of a format that cannot be checked:\n%sAct on them too?"},
    {"%sは1GBを超えるOpenDMLのAVIファイルで、最初のRIFFのフレームしか読めないため、参照ファイルを移動も削除もできません!",
     "%s is an OpenDML AVI past 1 GiB whose frames beyond the first RIFF cannot be read: its reference files cannot be "
     "moved or deleted!"},
    {"%sのインデックスがすべてのフレームを挙げていないため、参照ファイルを移動も削除もできません!",
     "The index of %s does not list every frame: its reference files cannot be moved or deleted!"},
    {"参照ファイルの検出が最後のフレームまで終わっていないため、参照ファイルを移動も削除もできません!",
     "The detection of the reference files did not reach the last frame: no file can be moved or deleted!"},
    {"%sに中断された移動の記録が残っているため、参照ファイルを移動も削除もできません!",
     "A note of an interrupted relocation stays beside %s: its reference files cannot be moved or deleted!"},
    {"別のプログラムがこのAVIファイルの参照ファイルを移動しています!",
     "Another program is relocating this AVI's files!"},
    {"参照ファイル%sの名前はレコードの名前欄をちょうど埋めているため、移動を元に戻せません!",
     "The name of reference file %s fills its records' name field: a relocation could not be undone!"},
    {"%sは、このAVIファイルのレコードが参照する参照ファイルの移動の記録ではありません!",
     "%s is not the note of a relocation of reference files that this AVI's records name!"},
    {"%sの新しい名前はレコードの名前欄に収まりません!", "The new name in %s does not fit the records' name field!"},
    {"%sの元の名前はレコードの名前欄に収まりません!", "The old name in %s does not fit the records' name field!"},
    {"%sは中断された移動の記録ではありません!", "%s is not the note of an interrupted relocation!"},
    {"%sのフレーム%luが読めないため、中断された移動を完了も取り消しもできません!",
     "%s: frame %s cannot be read, so the interrupted relocation can be neither finished nor rolled back!"},
    {"%sは参照ファイルではないか、\nバイト位置%uのヘッダが破損しています!",
     "%s is not a reference file, or the header at byte %s is damaged!"},
    {"コーデック%sがオープンできません!", "Codec %s cannot be opened!"},
    {"参照ファイルはオープンされていません!", "No reference file is open!"},
    {"フレームレート「%s」ではAVIファイルを出力できません!", "No AVI can be written at the frame rate \"%s\"!"},
    {"%sは参照ファイルです!\n別の名前を選んで下さい.", "%s is a reference file! Choose another name."},
    {"%sにはコーデックが使用されていません!", "%s uses no codec!"},
    {"%s(avis)が読み出せません!", "%s (stream header) cannot be read!"},
    {"%s(strf)が読み出せません!", "%s (stream format) cannot be read!"},
    {"%sのビデオコーデック%sがオープンできません!", "The video codec %s of %s cannot be opened!"},
    {"%sのビデオコーデック%sの情報が取得できません!", "The information of video codec %s of %s cannot be had!"},
    {"%s\nコーデックの設定が取得できませんでした.", "%s The codec's settings could not be had."},
};

// Places of the texts that a format's conversions stood for.
struct CAPTURE {
    LPCSTR p;
    size_t cch;
};
#define MAX_CAPTURES 4

// Whether the text is what the format gives, each conversion standing for
// any text (the shortest that lets the rest match).
bool MatchFormat(LPCSTR pszFormat, LPCSTR pszText, CAPTURE *pCaps, int nCaps, int *pnCaps)
{
    while (*pszFormat) {
        if (pszFormat[0] == '%' && pszFormat[1] == '%') {
            if (*pszText != '%') return false;
            pszFormat += 2;
            pszText++;
            continue;
        }
        if (*pszFormat == '%') {
            LPCSTR pszRest = pszFormat + 1;
            while (*pszRest && !isalpha((unsigned char)*pszRest)) pszRest++;
            while (*pszRest == 'l') pszRest++;
            if (!*pszRest || nCaps == MAX_CAPTURES) return false;
            pszRest++;
            for (LPCSTR p = pszText;; p++) {
                pCaps[nCaps].p = pszText;
                pCaps[nCaps].cch = (size_t)(p - pszText);
                if (MatchFormat(pszRest, p, pCaps, nCaps + 1, pnCaps)) return true;
                if (!*p) return false;
            }
        }
        if (*pszFormat != *pszText) return false;
        pszFormat++;
        pszText++;
    }
    if (*pszText) return false;
    *pnCaps = nCaps;
    return true;
}

void Append(LPSTR pszOut, size_t cbOut, size_t *pcch, LPCSTR p, size_t cch)
{
    if (*pcch >= cbOut) return;
    size_t cchRoom = cbOut - 1 - *pcch;
    if (cch > cchRoom) cch = cchRoom;
    memcpy(pszOut + *pcch, p, cch);
    *pcch += cch;
    pszOut[*pcch] = '\0';
}

int ShowEngineMessage(LPCSTR pszText, LPCSTR, UINT uType)
{
    // A question is answered as the command was told, not shown; but a
    // question whether to act on files that cannot be checked shows them.
    UINT uButtons = uType & MB_TYPEMASK;
    if (uButtons == MB_YESNOCANCEL || uButtons == MB_OKCANCEL) return g_nQuestionAnswer;
    if (uButtons == MB_YESNO) {
        g_nConfirmations++;
        EndProgress();
        CHAR szText[4096];
        TranslateEngineText(pszText, szText, sizeof(szText));
        fprintf(g_pErr, "spool: %s\n", szText);
        return g_nConfirmAnswer;
    }
    UINT uIcon = uType & MB_ICONMASK;
    if (uIcon == MB_ICONERROR || uIcon == MB_ICONQUESTION) g_nEngineFailures++;
    g_nEngineMessages++;
    EndProgress();
    CHAR szText[2048];
    TranslateEngineText(pszText, szText, sizeof(szText));
    // One line a message.
    for (char *p = szText; *p; p++)
        if (*p == '\n') *p = ' ';
    fprintf(g_pErr, "spool: %s\n", szText);
    return IDOK;
}

// --- The progress bar -------------------------------------------------------

LPCSTR s_pszProgressWhat;
unsigned long long s_ullTotal;
int s_nUnit;
DWORD s_dwStart;
DWORD s_dwLastDrawn;
BOOL s_fDrawn;

// --- Path maps ----------------------------------------------------------------

struct PATHMAP {
    CHAR szFrom[MAX_PATH];
    CHAR szTo[MAX_PATH];
};
#define MAX_PATHMAPS 16
PATHMAP s_aMaps[MAX_PATHMAPS];
int s_nMaps;

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

}  // namespace

void InitSpoolOutput(void)
{
    if (!g_pOut) g_pOut = stdout;
    if (!g_pErr) g_pErr = stderr;
    // SPOOL_LANG (ja or en) chooses the language whatever the system's.
    LPCSTR pszChoice = getenv("SPOOL_LANG");
#ifdef _WIN32
    g_fJapanese = GetACP() == 932;
    g_fProgressBar = _isatty(_fileno(g_pErr)) != 0;
#else
    LPCSTR pszLang = getenv("LC_ALL");
    if (!pszLang || !*pszLang) pszLang = getenv("LC_MESSAGES");
    if (!pszLang || !*pszLang) pszLang = getenv("LANG");
    g_fJapanese = pszLang && strncmp(pszLang, "ja", 2) == 0;
    g_fProgressBar = isatty(fileno(g_pErr)) != 0;
#endif
    if (pszChoice && *pszChoice) g_fJapanese = strncmp(pszChoice, "ja", 2) == 0;
    g_pfnShowMessage = ShowEngineMessage;
    g_pfnShowMendMessage = ShowEngineMessage;
    // Nothing is shown: no frame is decoded for a preview.
    g_fPreviewFrames = FALSE;
}

void Say(FILE *pFile, LPCSTR pszEnglish, LPCSTR pszJapanese, ...)
{
    va_list args;
    va_start(args, pszJapanese);
    vfprintf(pFile, g_fJapanese ? pszJapanese : pszEnglish, args);
    va_end(args);
}

void Complain(LPCSTR pszEnglish, LPCSTR pszJapanese, ...)
{
    EndProgress();
    fputs("spool: ", g_pErr);
    va_list args;
    va_start(args, pszJapanese);
    vfprintf(g_pErr, g_fJapanese ? pszJapanese : pszEnglish, args);
    va_end(args);
    fputc('\n', g_pErr);
}

void TranslateEngineText(LPCSTR pszText, LPSTR pszOut, size_t cbOut)
{
    snprintf(pszOut, cbOut, "%s", pszText);
    if (g_fJapanese) return;
    // Of the messages that the text can be, the one with the most fixed
    // text: "%sと%sが見つかりません" before "%sが見つかりません".
    const TEXTPAIR *pBest = NULL;
    size_t cchBest = 0;
    CAPTURE aCaps[MAX_CAPTURES];
    int nCaps = 0;
    for (const TEXTPAIR &pair : s_aEngineTexts) {
        CAPTURE aTried[MAX_CAPTURES];
        int nTried = 0;
        if (!MatchFormat(pair.pszJapanese, pszText, aTried, 0, &nTried)) continue;
        size_t cchFixed = strlen(pszText);
        for (int i = 0; i < nTried; i++) cchFixed -= aTried[i].cch;
        if (pBest && cchFixed <= cchBest) continue;
        pBest = &pair;
        cchBest = cchFixed;
        memcpy(aCaps, aTried, sizeof(aCaps));
        nCaps = nTried;
    }
    if (pBest) {
        const TEXTPAIR &pair = *pBest;
        // Each "%s" of the English takes the next value.
        size_t cch = 0;
        pszOut[0] = '\0';
        int iCap = 0;
        for (LPCSTR p = pair.pszEnglish; *p; p++) {
            if (p[0] == '%' && p[1] == 's' && iCap < nCaps) {
                Append(pszOut, cbOut, &cch, aCaps[iCap].p, aCaps[iCap].cch);
                iCap++;
                p++;
            } else {
                Append(pszOut, cbOut, &cch, p, 1);
            }
        }
    }
}

void PutJsonString(FILE *pFile, LPCSTR psz)
{
    // JSON is UTF-8: texts of the system's code page are converted; bytes
    // that are no UTF-8 (names written on another system) are kept as the
    // characters of their values.
    CHAR szUtf8[4 * MAX_PATH];
#ifdef _WIN32
    WCHAR wsz[2 * MAX_PATH];
    if (MultiByteToWideChar(CP_ACP, 0, psz, -1, wsz, 2 * MAX_PATH) > 0 &&
        WideCharToMultiByte(CP_UTF8, 0, wsz, -1, szUtf8, sizeof(szUtf8), NULL, NULL) > 0)
        psz = szUtf8;
#else
    (void)szUtf8;
#endif
    fputc('"', pFile);
    for (const unsigned char *p = (const unsigned char *)psz; *p; p++) {
        int nFollow = *p >= 0xF0 && *p <= 0xF4 ? 3 : *p >= 0xE0 && *p <= 0xEF ? 2 : *p >= 0xC2 && *p < 0xE0 ? 1 : 0;
        // The second byte's range: no overlong form, no surrogate, nothing
        // past U+10FFFF.
        unsigned char bLow = *p == 0xE0 ? 0xA0 : *p == 0xF0 ? 0x90 : 0x80;
        unsigned char bHigh = *p == 0xED ? 0x9F : *p == 0xF4 ? 0x8F : 0xBF;
        BOOL fSequence = nFollow > 0 && p[1] >= bLow && p[1] <= bHigh;
        for (int k = 2; fSequence && k <= nFollow; k++) fSequence = (p[k] & 0xC0) == 0x80;
        if (*p == '"' || *p == '\\') {
            fprintf(pFile, "\\%c", *p);
        } else if (*p < 0x20 || (*p >= 0x80 && !fSequence)) {
            fprintf(pFile, "\\u%04x", *p);
        } else if (*p >= 0x80) {
            fwrite(p, 1, (size_t)nFollow + 1, pFile);
            p += nFollow;
        } else {
            fputc(*p, pFile);
        }
    }
    fputc('"', pFile);
}

void BeginProgress(LPCSTR pszWhat, unsigned long long ullTotal, int nUnit)
{
    s_pszProgressWhat = pszWhat;
    s_ullTotal = ullTotal;
    s_nUnit = nUnit;
    s_dwStart = GetTickCount();
    s_dwLastDrawn = 0;
    s_fDrawn = FALSE;
}

void ShowProgress(unsigned long long ullDone)
{
    if (!g_fProgressBar || !s_pszProgressWhat) return;
    DWORD dwNow = GetTickCount();
    DWORD dwElapsed = dwNow - s_dwStart;
    // Short steps draw nothing; a long one is redrawn five times a second.
    if (dwElapsed < 500 || (s_fDrawn && dwNow - s_dwLastDrawn < 200)) return;
    s_dwLastDrawn = dwNow;
    s_fDrawn = TRUE;
    unsigned nPercent = s_ullTotal ? (unsigned)(100 * (ullDone > s_ullTotal ? s_ullTotal : ullDone) / s_ullTotal) : 100;
    double dblRate = (double)ullDone * 1000.0 / (double)dwElapsed;
    CHAR szRate[32];
    if (s_nUnit == PROGRESS_BYTES) snprintf(szRate, sizeof(szRate), "%.1f MB/s", dblRate / 1e6);
    else if (s_nUnit == PROGRESS_PERCENT) snprintf(szRate, sizeof(szRate), g_fJapanese ? "%.1f %%/秒" : "%.1f %%/s", dblRate);
    else snprintf(szRate, sizeof(szRate), g_fJapanese ? "%.0f フレーム/秒" : "%.0f frames/s", dblRate);
    unsigned long ulLeft = dblRate > 0 && ullDone < s_ullTotal ? (unsigned long)((double)(s_ullTotal - ullDone) / dblRate) : 0;
    CHAR szBar[32];
    int nFilled = (int)(nPercent * 20 / 100);
    for (int i = 0; i < 20; i++) szBar[i] = i < nFilled ? '#' : '.';
    szBar[20] = '\0';
    fprintf(g_pErr, g_fJapanese ? "\r%s [%s] %3u%% %s 残り %lu:%02lu " : "\r%s [%s] %3u%% %s %lu:%02lu left ",
            s_pszProgressWhat, szBar, nPercent, szRate, ulLeft / 60, ulLeft % 60);
    fflush(g_pErr);
}

void EndProgress(void)
{
    if (s_fDrawn) fputc('\n', g_pErr);
    s_fDrawn = FALSE;
    s_pszProgressWhat = NULL;
}

BOOL AddPathMap(LPCSTR pszRule)
{
    LPCSTR pszEquals = strchr(pszRule, '=');
    if (!pszEquals || pszEquals == pszRule || !pszEquals[1] || s_nMaps == MAX_PATHMAPS) return FALSE;
    size_t cchFrom = (size_t)(pszEquals - pszRule);
    if (cchFrom >= MAX_PATH || strlen(pszEquals + 1) >= MAX_PATH) return FALSE;
    PATHMAP *pMap = &s_aMaps[s_nMaps++];
    memcpy(pMap->szFrom, pszRule, cchFrom);
    pMap->szFrom[cchFrom] = '\0';
    snprintf(pMap->szTo, sizeof(pMap->szTo), "%s", pszEquals + 1);
    // A final separator of either side does not count.
    LPSTR apsz[] = {pMap->szFrom, pMap->szTo};
    for (LPSTR psz : apsz) {
        size_t cch = strlen(psz);
        while (cch > 1 && IsSeparator(psz[cch - 1])) psz[--cch] = '\0';
    }
    return TRUE;
}

void ClearPathMaps(void) { s_nMaps = 0; }

BOOL GetPathSize(LPCSTR pszPath, unsigned long long *pullSize)
{
    WIN32_FIND_DATAA found;
    HANDLE h = FindFirstFileA(pszPath, &found);
    if (h == INVALID_HANDLE_VALUE) return FALSE;
    FindClose(h);
    if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) return FALSE;
    *pullSize = ((unsigned long long)found.nFileSizeHigh << 32) | found.nFileSizeLow;
    return TRUE;
}


BOOL MapRefPath(LPCSTR pszStored, LPSTR pszOut)
{
    for (int i = 0; i < s_nMaps; i++) {
        const PATHMAP *pMap = &s_aMaps[i];
        size_t cchFrom = strlen(pMap->szFrom);
        bool fSame = true;
        for (size_t k = 0; k < cchFrom && fSame; k++) {
            char a = pszStored[k], b = pMap->szFrom[k];
            fSame = a != '\0' && (tolower((unsigned char)a) == tolower((unsigned char)b) ||
                                  (IsSeparator(a) && IsSeparator(b)));
        }
        // The prefix ends at a separator of the stored name.
        if (!fSame || (pszStored[cchFrom] && !IsSeparator(pszStored[cchFrom]))) continue;
        if (snprintf(pszOut, MAX_PATH, "%s%s", pMap->szTo, pszStored + cchFrom) >= MAX_PATH) return FALSE;
        for (LPSTR p = pszOut + strlen(pMap->szTo); *p; p++)
#ifdef _WIN32
            if (*p == '/') *p = '\\';
#else
            if (*p == '\\') *p = '/';
#endif
        return TRUE;
    }
    return snprintf(pszOut, MAX_PATH, "%s", pszStored) < MAX_PATH;
}

BOOL TakeOption(int argc, char **argv, int *pi, LPCSTR pszLong, LPCSTR pszShort, LPCSTR *ppszValue)
{
    LPCSTR pszArg = argv[*pi];
    size_t cchLong = strlen(pszLong);
    BOOL fLong = strncmp(pszArg, pszLong, cchLong) == 0 && (pszArg[cchLong] == '\0' || pszArg[cchLong] == '=');
    BOOL fShort = pszShort && strcmp(pszArg, pszShort) == 0;
    if (!fLong && !fShort) return FALSE;
    if (!ppszValue) return fShort || pszArg[cchLong] == '\0';
    if (fLong && pszArg[cchLong] == '=') {
        *ppszValue = pszArg + cchLong + 1;
    } else if (*pi + 1 < argc) {
        *ppszValue = argv[++*pi];
    } else {
        *ppszValue = NULL;
    }
    return TRUE;
}

int UsageError(LPCSTR pszCommand, LPCSTR pszArgument)
{
    Complain("%s: unexpected or incomplete argument: %s (see spool %s --help)",
             "%s: 引数が正しくありません: %s (spool %s --help を参照)", pszCommand, pszArgument, pszCommand);
    return SPOOL_ERROR;
}
