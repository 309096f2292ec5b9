// What the commands may move, copy or delete: reference files only. An AVI
// and its reference files may come from anyone; a record can name any file.
// A file is taken for a reference file when it begins with a frame header
// that adds up and is long enough for every frame that records of this
// system place in it. The two foreign kinds of reference frame name files
// of a format that cannot be checked: the user decides on those, each named.
#include "mover/shift.h"

#include "codec/refformat.h"
#include "mover/message.h"
#include "scaffold/paths.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

BOOL IsRefFileHolding(LPCSTR pszPath, ULONGLONG ullFramesEnd)
{
    HANDLE h = CreateFileA(pszPath, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, NULL);
    if (h == INVALID_HANDLE_VALUE) return FALSE;
    DWORD dwHigh = 0;
    DWORD dwLow = GetFileSize(h, &dwHigh);
    ULONGLONG ullSize = dwLow == INVALID_FILE_SIZE && GetLastError() != NO_ERROR ? 0 : ((ULONGLONG)dwHigh << 32) | dwLow;
    REFFRAMEHEADER header;
    DWORD cb = 0;
    BOOL fRead = ReadFile(h, &header, sizeof(header), &cb, NULL) && cb == sizeof(header);
    CloseHandle(h);
    return fRead && header.dwFrameSize == (ULONGLONG)sizeof(header) + header.dwDataSize + header.dwPadSize &&
           header.dwFrameSize <= ullSize && ullFramesEnd <= ullSize;
}

BOOL MayChangeRefFiles(AviInfo *pInfo)
{
    if (const MESSAGE *pRefusal = UnseenRefusal(pInfo)) {
        ShowShiftMessageM(MB_OK | MB_ICONERROR, pRefusal, pInfo->szAviFile);
        return FALSE;
    }
    if (HasRecoveryNote(pInfo->szAviFile)) {
        // A relocation that is running, or was cut short and not recovered.
        ShowShiftMessageM(MB_OK | MB_ICONERROR, &MSG_NOTE_STAYS, pInfo->szAviFile);
        return FALSE;
    }
    if (!g_fRefListComplete) {
        ShowShiftMessageM(MB_OK | MB_ICONERROR, &MSG_UNSEEN_DETECTION);
        return FALSE;
    }
    return TRUE;
}

BOOL ConfirmOwnRefFiles(const int *aiEntries, int nEntries)
{
    const REFLISTUI &list = g_ShiftUi.list;
    size_t cchForeign = 0;
    LPSTR pszForeign = NULL;
    BOOL fOk = TRUE;
    for (int j = 0; j < nEntries && fOk; j++) {
        int k = aiEntries[j];
        CHAR szName[MAX_PATH];
        if (k < 0 || (DWORD)k >= g_nRefFileCap || !list.pfnGetText(k, szName) || !FileExists(szName)) continue;
        const REFFILEENTRY *pEntry = &g_pRefFiles[k];
        if ((pEntry->dwKinds & REFKIND_RECORD) && !IsRefFileHolding(szName, pEntry->ullFramesEnd)) {
            ShowShiftMessageM(MB_OK | MB_ICONERROR, &MSG_NOT_A_REF_FILE, szName);
            fOk = FALSE;
        } else if (pEntry->dwKinds & REFKIND_FOREIGN) {
            // One line a file.
            size_t cch = strlen(szName);
            LPSTR pszGrown = (LPSTR)realloc(pszForeign, cchForeign + cch + 2);
            if (!pszGrown) {
                ShowShiftMessageM(MB_OK | MB_ICONERROR, &MSG_NO_MEMORY);
                fOk = FALSE;
                break;
            }
            pszForeign = pszGrown;
            memcpy(pszForeign + cchForeign, szName, cch);
            cchForeign += cch;
            pszForeign[cchForeign++] = '\n';
            pszForeign[cchForeign] = '\0';
        }
    }
    if (fOk && pszForeign) {
        // Every file named, however many there are.
        size_t cbText = strlen(MSG_FOREIGN_FILES.pszJapanese) + strlen(MSG_FOREIGN_FILES.pszEnglish) + cchForeign;
        LPSTR pszText = (LPSTR)malloc(cbText);
        if (!pszText) {
            ShowShiftMessageM(MB_OK | MB_ICONERROR, &MSG_NO_MEMORY);
            fOk = FALSE;
        } else {
            RenderMessage(pszText, cbText, &MSG_FOREIGN_FILES, pszForeign);
            fOk = ShowShiftMessage(pszText, MB_YESNO | MB_ICONWARNING | MB_DEFBUTTON2) == IDYES;
            free(pszText);
        }
    }
    free(pszForeign);
    return fOk;
}
