// Spoolcap's settings dialog (dialog 101). It reads the settings file when
// it opens and writes it when it closes; the base names and the alternation
// switch take effect while it is still open. It has no OK or Cancel button:
// closing it keeps what it shows.
#include "codec/spoolcap.h"

#include "codec/resource.h"
#include "scaffold/caption.h"
#include "scaffold/paths.h"

#include <stdio.h>
#include <string.h>

GETSAVEFILENAMEPROC g_pfnGetSaveFileName = NULL;

namespace {

// The save-file dialog. The common dialog library is loaded only for the
// length of the call: hosts load and free codecs often, and that library
// brings others along that keep handles of their own.
BOOL ChooseFileName(LPOPENFILENAMEA pofn)
{
    if (g_pfnGetSaveFileName) return g_pfnGetSaveFileName(pofn);
    HMODULE hDialogs = LoadLibraryA("comdlg32.dll");
    if (!hDialogs) return FALSE;
    BOOL fChosen = FALSE;
    if (GETSAVEFILENAMEPROC pfnGetSaveFileName = ProcAs<GETSAVEFILENAMEPROC>(GetProcAddress(hDialogs, "GetSaveFileNameA")))
        fChosen = pfnGetSaveFileName(pofn);
    FreeLibrary(hDialogs);
    return fChosen;
}

void EnableItem(HWND hDlg, int nId, BOOL fEnable) { EnableWindow(GetDlgItem(hDlg, nId), fEnable); }

BOOL IsChecked(HWND hDlg, int nId) { return IsDlgButtonChecked(hDlg, nId) == BST_CHECKED; }

void InitConfigDialog(HWND hDlg, CONFIGCONTEXT *pContext)
{
    g_pConfig = pContext;
    AppendVersionToCaption(hDlg);

    LoadSettings();
    SetDlgItemTextA(hDlg, IDC_BASEFILE, g_Settings.szBaseFile);
    SetDlgItemTextA(hDlg, IDC_BASEFILE2, g_Settings.szBaseFile2);
    EnableItem(hDlg, IDC_BASEFILE2, g_Settings.fBiFiled);
    EnableItem(hDlg, IDC_BROWSE2, g_Settings.fBiFiled);

    // The spin control covers 0 to 100; larger paddings are typed in.
    HWND hSpin = GetDlgItem(hDlg, IDC_PADDINGSPIN);
    SendMessageA(hSpin, UDM_SETBUDDY, (WPARAM)GetDlgItem(hDlg, IDC_PADDING), 0);
    SendMessageA(hSpin, UDM_SETRANGE, 0, MAKELONG(100, 0));
    SendMessageA(hSpin, UDM_SETPOS, 0, MAKELONG(LOWORD(g_Settings.dwPadding), 0));
    SetDlgItemInt(hDlg, IDC_PADDING, g_Settings.dwPadding, FALSE);

    // Reference files cannot be written without a base name.
    if (!g_Settings.szBaseFile[0]) g_Settings.fEnabled = FALSE;
    EnableItem(hDlg, IDC_ENABLED, g_Settings.szBaseFile[0] != 0);
    CheckDlgButton(hDlg, IDC_ENABLED, g_Settings.fEnabled ? BST_CHECKED : BST_UNCHECKED);
    CheckDlgButton(hDlg, IDC_BIFILED, g_Settings.fBiFiled ? BST_CHECKED : BST_UNCHECKED);
    CheckDlgButton(hDlg, IDC_NOCOMPRESS, g_Settings.fNoCompress ? BST_CHECKED : BST_UNCHECKED);
    CheckDlgButton(hDlg, IDC_OVERLAPREAD, g_Settings.fOverlapRead ? BST_CHECKED : BST_UNCHECKED);
    CheckDlgButton(hDlg, IDC_OVERLAPWRITE, g_Settings.fOverlapWrite ? BST_CHECKED : BST_UNCHECKED);

    // The wrapped codec's own dialog is offered when it has one.
    // (Asked with the host's own instance: a codec may hold its state there.)
    EnableItem(hDlg, IDC_CODECCONFIG,
               CallWrapped(pContext->dwDriverId, pContext->hDriver, ICM_CONFIGURE, (LPARAM)-1, ICMF_CONFIGURE_QUERY) ==
                   ICERR_OK);
}

void BrowseBaseName(HWND hDlg, int iSeq)
{
    LPSTR pszBase = iSeq ? g_Settings.szBaseFile2 : g_Settings.szBaseFile;
    CHAR szFile[MAX_PATH];
    snprintf(szFile, sizeof(szFile), "%s", pszBase);
    // The folder is what comes before the file name, without its last '\'.
    CHAR szFolder[MAX_PATH];
    snprintf(szFolder, sizeof(szFolder), "%s", pszBase);
    LPSTR pszName = GetFileNamePart(szFolder);
    if (pszName > szFolder && pszName[-1] == '\\') pszName[-1] = 0;
    else *pszName = 0;

    OPENFILENAMEA ofn;
    memset(&ofn, 0, sizeof(ofn));
    ofn.lStructSize = sizeof(ofn);
    ofn.hwndOwner = hDlg;
    ofn.lpstrFilter = "すべてのファイル\0*.*\0";
    ofn.lpstrFile = szFile;
    ofn.nMaxFile = sizeof(szFile);
    ofn.lpstrInitialDir = szFolder;
    ofn.lpstrTitle = iSeq ? "2番目の参照ファイルベース名入力" : "参照ファイルベース名入力";
    ofn.Flags = OFN_HIDEREADONLY | OFN_PATHMUSTEXIST | OFN_LONGNAMES;
    // The edit field's change notification takes the name into the setting.
    if (ChooseFileName(&ofn)) SetDlgItemTextA(hDlg, iSeq ? IDC_BASEFILE2 : IDC_BASEFILE, szFile);
}

void OnCommand(HWND hDlg, int nId, int nCode)
{
    switch (nId) {
    case IDC_BASEFILE:
        if (nCode == EN_CHANGE) {
            GetDlgItemTextA(hDlg, IDC_BASEFILE, g_Settings.szBaseFile, sizeof(g_Settings.szBaseFile));
            EnableItem(hDlg, IDC_ENABLED, g_Settings.szBaseFile[0] != 0);
        }
        break;
    case IDC_BASEFILE2:
        if (nCode == EN_CHANGE)
            GetDlgItemTextA(hDlg, IDC_BASEFILE2, g_Settings.szBaseFile2, sizeof(g_Settings.szBaseFile2));
        break;
    case IDC_BROWSE: BrowseBaseName(hDlg, 0); break;
    case IDC_BROWSE2: BrowseBaseName(hDlg, 1); break;
    case IDC_CODECCONFIG:
        if (g_pConfig)
            CallWrapped(g_pConfig->dwDriverId, g_pConfig->hDriver, g_pConfig->uMsg, (LPARAM)hDlg, g_pConfig->lParam2);
        break;
    case IDC_BIFILED:
        if (nCode == BN_CLICKED) {
            g_Settings.fBiFiled = IsChecked(hDlg, IDC_BIFILED);
            EnableItem(hDlg, IDC_BASEFILE2, g_Settings.fBiFiled);
            EnableItem(hDlg, IDC_BROWSE2, g_Settings.fBiFiled);
        }
        break;
    case IDC_LOGMASK:
        if (nCode == EN_CHANGE) FilterHexEdit(hDlg, IDC_LOGMASK, 8);
        break;
    default: break;
    }
}

void CloseConfigDialog(HWND hDlg)
{
    GetDlgItemTextA(hDlg, IDC_BASEFILE, g_Settings.szBaseFile, sizeof(g_Settings.szBaseFile));
    GetDlgItemTextA(hDlg, IDC_BASEFILE2, g_Settings.szBaseFile2, sizeof(g_Settings.szBaseFile2));
    BOOL fNumber = FALSE;
    UINT uPadding = GetDlgItemInt(hDlg, IDC_PADDING, &fNumber, FALSE);
    g_Settings.dwPadding = fNumber ? uPadding : 0;
    g_Settings.fEnabled = IsChecked(hDlg, IDC_ENABLED);
    g_Settings.fBiFiled = IsChecked(hDlg, IDC_BIFILED);
    g_Settings.fNoCompress = IsChecked(hDlg, IDC_NOCOMPRESS);
    g_Settings.fOverlapRead = IsChecked(hDlg, IDC_OVERLAPREAD);
    g_Settings.fOverlapWrite = IsChecked(hDlg, IDC_OVERLAPWRITE);
    if (!g_Settings.szBaseFile[0]) g_Settings.fEnabled = FALSE;
    if (!g_Settings.szBaseFile2[0]) g_Settings.fBiFiled = FALSE;
    SaveSettings();
    g_pConfig = NULL;
    EndDialog(hDlg, 0);
}

}  // namespace

int FilterHexEdit(HWND hDlg, int nId, int n)
{
    if (n < 0 || n >= 30) return -1;
    CHAR szText[32];
    GetDlgItemTextA(hDlg, nId, szText, n + 2);
    int nRemovedAt;
    int nLength = FilterHexText(szText, &nRemovedAt);
    if (nRemovedAt >= 0) {
        SetDlgItemTextA(hDlg, nId, szText);
        SendDlgItemMessageA(hDlg, nId, EM_SETSEL, (WPARAM)nRemovedAt, (LPARAM)nRemovedAt);
    } else if (nLength > n) {
        DWORD dwStart = 0;
        SendDlgItemMessageA(hDlg, nId, EM_GETSEL, (WPARAM)&dwStart, 0);
        szText[n] = 0;
        nLength = n;
        SetDlgItemTextA(hDlg, nId, szText);
        SendDlgItemMessageA(hDlg, nId, EM_SETSEL, (WPARAM)dwStart, (LPARAM)dwStart);
    }
    return nLength;
}

INT_PTR CALLBACK ConfigDialogProc(HWND hDlg, UINT uMsg, WPARAM wParam, LPARAM lParam)
{
    switch (uMsg) {
    case WM_INITDIALOG: InitConfigDialog(hDlg, reinterpret_cast<CONFIGCONTEXT *>(lParam)); break;
    case WM_COMMAND: OnCommand(hDlg, LOWORD(wParam), HIWORD(wParam)); break;
    case WM_CLOSE: CloseConfigDialog(hDlg); break;
    default: break;
    }
    return 0;
}

LRESULT ShowConfigDialog(CONFIGCONTEXT *pContext)
{
    // The common controls (the spin control) are loaded only while the
    // dialog is open, like the common dialogs.
    typedef void(WINAPI * INITCOMMONCONTROLSPROC)(void);
    HMODULE hControls = LoadLibraryA("comctl32.dll");
    if (hControls) {
        if (INITCOMMONCONTROLSPROC pfnInit = ProcAs<INITCOMMONCONTROLSPROC>(GetProcAddress(hControls, "InitCommonControls")))
            pfnInit();
    }
    DialogBoxParamA(g_hModule, MAKEINTRESOURCEA(IDD_CONFIG), (HWND)pContext->lParam1, ConfigDialogProc,
                    (LPARAM)pContext);
    if (hControls) FreeLibrary(hControls);
    return ICERR_OK;
}
