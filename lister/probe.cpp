// Vfwprobe's window: dialog 101 with a Get button, three open-mode boxes and
// the table.
#include "lister/listing.h"
#include "lister/resource.h"
#include "scaffold/caption.h"
#include "scaffold/dialogapp.h"

#include <stdio.h>
#include <string.h>

const char g_szProgramName[] = "Vfwprobe";

namespace {

void AppendToTable(HWND hTable, LPCSTR pszText)
{
    int cch = GetWindowTextLengthA(hTable);
    SendMessageA(hTable, EM_SETSEL, (WPARAM)cch, (LPARAM)cch);
    SendMessageA(hTable, EM_REPLACESEL, FALSE, (LPARAM)pszText);
}

void ListCodecs(HWND hDlg)
{
    UINT wMode = OpenModeFromBoxes(IsDlgButtonChecked(hDlg, IDC_QUERY) == BST_CHECKED,
                                   IsDlgButtonChecked(hDlg, IDC_COMPRESS) == BST_CHECKED,
                                   IsDlgButtonChecked(hDlg, IDC_DECOMPRESS) == BST_CHECKED);
    HWND hTable = GetDlgItem(hDlg, IDC_TABLE);
    CHAR szLine[LISTING_LINE_MAX];
    // The header replaces whatever the table held.
    FormatListingHeader(szLine, sizeof(szLine));
    SendMessageA(hTable, EM_SETSEL, 0, -1);
    SendMessageA(hTable, EM_REPLACESEL, FALSE, (LPARAM)szLine);
    FormatListingRule(szLine, sizeof(szLine));
    AppendToTable(hTable, szLine);
    CODECENTRY entry;
    for (DWORD i = 0; DescribeCodec(i, wMode, &entry); i++) {
        FormatCodecLine(&entry, szLine, sizeof(szLine));
        AppendToTable(hTable, szLine);
    }
    PostMessageA(hTable, EM_SETSEL, (WPARAM)-1, 0);
}

// Keeps the table's left, right and bottom margins equal to its left one.
void FitTable(HWND hDlg)
{
    HWND hTable = GetDlgItem(hDlg, IDC_TABLE);
    RECT rcTable, rcClient;
    GetWindowRect(hTable, &rcTable);
    POINT ptTopLeft = {rcTable.left, rcTable.top};
    ScreenToClient(hDlg, &ptTopLeft);
    GetClientRect(hDlg, &rcClient);
    int x = ptTopLeft.x;
    int y = ptTopLeft.y;
    MoveWindow(hTable, x, y, rcClient.right - 2 * x, rcClient.bottom - y - x, TRUE);
}

void InitProbeDialog(HWND hDlg)
{
    g_hwndMain = hDlg;
    AppendVersionToCaption(hDlg);
}

}  // namespace

INT_PTR CALLBACK MainDialogProc(HWND hDlg, UINT uMsg, WPARAM wParam, LPARAM)
{
    switch (uMsg) {
    case WM_INITDIALOG: InitProbeDialog(hDlg); break;
    case WM_COMMAND:
        if (LOWORD(wParam) == IDC_GET) ListCodecs(hDlg);
        break;
    case WM_SIZE: FitTable(hDlg); break;
    case WM_CLOSE: DestroyWindow(hDlg); break;
    case WM_DESTROY: PostQuitMessage(0); break;
    default: break;
    }
    return 0;
}
