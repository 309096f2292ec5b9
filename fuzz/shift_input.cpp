#include "fuzz/shift_input.h"

#include "mover/shift.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

namespace {

// The reference list, in memory.
std::vector<std::string> g_names;

}  // namespace

const std::vector<std::string> &MemoryRefListNames(void) { return g_names; }

void InstallMemoryRefList(void)
{
    memset(&g_ShiftUi, 0, sizeof(g_ShiftUi));
    g_ShiftUi.list.pfnGetCount = []() { return (int)g_names.size(); };
    g_ShiftUi.list.pfnGetText = [](int i, LPSTR psz) {
        if (i < 0 || i >= (int)g_names.size()) return FALSE;
        snprintf(psz, MAX_PATH, "%s", g_names[(size_t)i].c_str());
        return TRUE;
    };
    g_ShiftUi.list.pfnIsSelected = [](int) { return FALSE; };
    g_ShiftUi.list.pfnInsert = [](int, LPCSTR psz) { g_names.push_back(psz); };
    g_ShiftUi.list.pfnReset = []() { g_names.clear(); };
}

DWORD RunShiftCommands(AviInfo *pInfo)
{
    InstallMemoryRefList();
    g_fShiftBusy = 0;
    DetectRefFiles(pInfo);
    DWORD nFiles = (DWORD)g_names.size();
    if (nFiles) {
        std::string old = g_names[0];
        const char *pszOther = "X:\\elsewhere\\moved.000";
        RewriteRefNames(pInfo, 0, old.c_str(), pszOther, NULL);
        RewriteRefNames(pInfo, 0, pszOther, old.c_str(), NULL);
    }
    return nFiles;
}

int ParseNoteInput(const BYTE *pData, size_t cbData)
{
    RELOCNOTE note;
    memset(&note, 0xCC, sizeof(note));
    DWORD cb = cbData < RELOCNOTE_MAXTEXT ? (DWORD)cbData : RELOCNOTE_MAXTEXT;
    int nKind = ParseRelocationNote(reinterpret_cast<const char *>(pData), cb, &note);
    if (nKind < RELOCNOTE_EMPTY || nKind > RELOCNOTE_FOREIGN) abort();
    if (!memchr(note.szOld, 0, sizeof(note.szOld)) || !memchr(note.szNew, 0, sizeof(note.szNew))) abort();
    if (nKind == RELOCNOTE_WHOLE && (!note.szOld[0] || !note.szNew[0])) abort();
    return nKind;
}
