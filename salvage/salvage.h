// Spoolmend's engine: the scan of one reference file, the salvaged AVI's
// writer, the settings with their histories, the frame preview's reading and
// decoding, and the settings taken from another AVI.
//
// The engine runs with or without a window. Whatever it does to the window
// (texts, enabled and shown controls, the wait cursor, one-message pumping,
// posted notifications, combo boxes, drawing) goes through the functions of
// g_SalvageUi, which the window fills in; unset functions do nothing. Every
// message goes through ShowMendMessage.
#pragma once

#include "platform/win.h"

#include "salvage/resource.h"
#include "scaffold/preview.h"

#define SPOOLMEND_NAME "Spoolmend"

// One frame of the scanned reference file.
typedef struct {
    DWORD dwOffset;     // file offset of the frame's header
    DWORD dwFrameSize;  // header, data and padding: the bytes up to the next frame
} REFFRAMEPOS;

// A combo box or drop-down list as the engine sees it. Indexes and results
// follow the combo box messages: -1 (CB_ERR) for none.
typedef struct {
    void *pCtx;
    int (*pfnGetCount)(void *pCtx);
    // The item's text into psz (cb bytes, always terminated); its length,
    // or -1.
    int (*pfnGetItemText)(void *pCtx, int i, LPSTR psz, int cb);
    // The first item after iStart (-1: from the first), wrapping round, whose
    // text equals psz (fExact) or begins with it, ignoring case.
    int (*pfnFind)(void *pCtx, int iStart, LPCSTR psz, BOOL fExact);
    // Adds an item (in order in a sorted box, else at the end); its index.
    int (*pfnAddItem)(void *pCtx, LPCSTR psz);
    void (*pfnDeleteItem)(void *pCtx, int i);
    void (*pfnReset)(void *pCtx);
    void (*pfnSetCurSel)(void *pCtx, int i);
    int (*pfnGetCurSel)(void *pCtx);
    // The edit field of a combo box with one.
    void (*pfnGetEditText)(void *pCtx, LPSTR psz, int cb);
    void (*pfnSetEditText)(void *pCtx, LPCSTR psz);
    // The edit field's selection (start in the low word, end in the high
    // word), and putting it back with the focus.
    DWORD (*pfnGetEditSel)(void *pCtx);
    void (*pfnSetEditSel)(void *pCtx, DWORD dwSel);
} COMBOLIST;

typedef struct {
    void (*pfnSetTitle)(LPCSTR pszTitle);
    void (*pfnSetItemText)(int nId, LPCSTR pszText);
    void (*pfnEnableItem)(int nId, BOOL fEnable);
    void (*pfnShowItem)(int nId, BOOL fShow);
    void (*pfnSetWaitCursor)(BOOL fWait);
    // Takes and dispatches at most one waiting message of the main window.
    void (*pfnPumpMessage)(void);
    // Posts the main window the command notification uCode of control nId.
    void (*pfnPostNotify)(int nId, UINT uCode);
    // The frame scroll bar: with fRange the range 0 to nMax and page 1, and
    // the position.
    void (*pfnSetFrameScroll)(BOOL fRange, DWORD nMax, DWORD nPos);
    // The whole window is to be repainted, erased first.
    void (*pfnInvalidate)(void);
    // The combo box of a control (IDC_CODEC, IDC_WIDTH, IDC_HEIGHT,
    // IDC_FRAMERATE), or NULL.
    const COMBOLIST *(*pfnGetCombo)(int nId);
    // The picture size changed: the frame bitmap and the layout follow.
    void (*pfnPictureSizeChanged)(LONG lWidth, LONG lHeight);
    // A frame was decoded into pbPicture (bottom-up 24-bit of g_bihRgb), or
    // could not be (NULL: the previous picture stays); draw it.
    void (*pfnShowPicture)(const BYTE *pbPicture);
} SALVAGEUI;

extern SALVAGEUI g_SalvageUi;

// The function behind ShowMendMessage: a message box owned by the main
// window on Windows, the error stream elsewhere; tests put a recorder here.
typedef int (*MENDMESSAGEPROC)(LPCSTR pszText, LPCSTR pszCaption, UINT uType);
extern MENDMESSAGEPROC g_pfnShowMendMessage;
int ShowMendMessage(LPCSTR pszText, UINT uType);

// --- The scan -------------------------------------------------------------

extern CHAR g_szRefFile[MAX_PATH];
extern HANDLE g_hRefFile;
extern REFFRAMEPOS *g_pRefFrames;
extern DWORD g_nRefFrames;
extern DWORD g_nRefFrameCap;
extern DWORD g_cbMaxPayload;
extern BYTE *g_pbReadBuf;
extern DWORD g_cbReadUnit;
extern DWORD g_cbReadBuf;  // bytes of g_pbReadBuf
extern volatile LONG g_fBusy;
extern volatile LONG g_fAbort;
// The picture size that the first frame's header offered when it differs
// from the current one: the fields' handlers are about to apply it, and
// until then no frame is decoded at the old size. Else 0.
extern LONG g_lPendingWidth;
extern LONG g_lPendingHeight;

// FALSE enters the busy state (wait cursor, every command but abort
// disabled, the abort flag cleared), TRUE leaves it.
void SetBusyState(BOOL fIdle);

// With pszFile NULL and fContinue FALSE: closes the file and resets. With
// g_szRefFile and fContinue FALSE: opens it and lists its first frame. With
// fContinue TRUE: lists the rest of the open file. FALSE after a reported
// error.
BOOL ScanRefFile(LPCSTR pszFile, BOOL fContinue);

// --- The settings ---------------------------------------------------------

#define PROFILE_TEXT 0x80000000u
#define PROFILE_HEX 0x40000000u
#define PROFILE_SIGNED 0x20000000u
#define PROFILE_YESNO 0x00000010u
#define PROFILE_DOUBLE 0x00000020u
#define PROFILE_32BIT 0x00000001u
#define PROFILE_8BIT 0x00000002u
#define PROFILE_16BIT 0x00000004u
#define PROFILE_SIZEMASK 0x7FFFFFFFu

typedef struct {
    LPCSTR pszSection;
    LPCSTR pszKey;
    const void *pDefault;
    void *pTarget;
    LPCSTR pszFile;  // NULL: Spoolmend.ini in the program's folder
    DWORD dwFlags;
} PROFILEENTRY;

#define HISTORY_SIZE 1025
#define HISTORY_LIMIT 1024
#define CODECENTRY_NAMECOLS 65
#define CODECENTRY_SIZE 80

extern DWORD g_fccHandler;
extern BOOL g_fHasConfig;
extern DWORD g_fccRefHandler;
extern CHAR g_szFrameRate[32];
extern DWORD g_dwRate;
extern DWORD g_dwScale;
extern double g_dblFps;
extern CHAR g_szWidthHistory[HISTORY_SIZE];
extern CHAR g_szHeightHistory[HISTORY_SIZE];
extern CHAR g_szRateHistory[HISTORY_SIZE];
// Where Spoolmend.ini lies; empty: the program's folder. Tests set it.
extern CHAR g_szSettingsFolder[MAX_PATH];

BOOL LoadProfileEntry(const PROFILEENTRY *pEntry);
BOOL SaveProfileEntry(const PROFILEENTRY *pEntry);
void LoadSalvageSettings(void);
void SaveSalvageSettings(void);

// The codec list: "無圧縮" and every installed codec that takes g_bihRgb.
void FillCodecList(void);
// The list entry of an open codec; FALSE when its information cannot be had.
BOOL FormatCodecEntry(LPSTR pszEntry, HIC hic, DWORD fccHandler);
// Reads the handler code and the configuration flag of a list entry.
void ParseCodecEntry(LPCSTR pszEntry, DWORD *pfccHandler, BOOL *pfHasConfig);

void FillHistoryCombo(const COMBOLIST *pCombo, LPSTR pszHistory, int iSelect);
BOOL UpdateHistoryList(const COMBOLIST *pCombo, BOOL fRemove, LPCSTR pszValue, LPSTR pszHistory,
                       int nLimit);

// Sets g_dwRate, g_dwScale and g_dblFps from a frame rate text ("30000/1001",
// "25", "29.97") and shows the rate in field 1003; returns g_dblFps, 0 when
// the text gives no usable rate.
double ParseFrameRate(LPCSTR pszText);

#define NUMERIC_COMBO 0x1
#define NUMERIC_MINUS 0x2
#define NUMERIC_POINT 0x4
#define NUMERIC_SLASH 0x8
// Removes from a text what a numeric field of the options does not take;
// TRUE when something was removed, *piCaret then the place of the last
// removal.
BOOL FilterNumericText(LPSTR pszText, DWORD dwOptions, int *piCaret);
// The same on a field's text, written back when changed; the text's leading
// integer, and its decimal value into *pdblValue when given.
LONG FilterNumericEdit(int nId, DWORD dwOptions, double *pdblValue);

// The width and height fields (IDC_WIDTH, IDC_HEIGHT) and the frame rate
// field, on their command notifications.
void OnSizeField(int nId, UINT uCode);
void OnFrameRateField(UINT uCode);
// The codec list, on an accepted selection.
void OnCodecSelected(void);

// --- The preview ----------------------------------------------------------

extern BITMAPINFOHEADER g_bihRgb;
extern HIC g_hicPreview;
extern LPBITMAPINFOHEADER g_pbiCompressed;
extern DWORD g_cbCompressed;
extern BYTE *g_pbRgb;
extern DWORD g_cbRgb;
extern DWORD g_nCurFrame;

// Whether the first frame is decoded for the preview when a file is opened
// or a setting changes (TRUE); a program without a window turns it off.
extern BOOL g_fPreviewFrames;

void ResetPreviewCodec(void);
// Reads frame n of the list and decodes it; TRUE when it was shown.
BOOL ShowRefFrame(DWORD n);
// Rebuilds everything that depends on the picture size and reopens the
// reference file; FALSE when the decode buffer cannot be had.
BOOL ApplyPictureSize(LONG lWidth, LONG lHeight);
// Frees the decode buffer, the read buffer and the compressed format.
void FreeSalvageBuffers(void);

// --- The salvaged AVI and the settings of another AVI ---------------------

// The size of a rendered message of the engine.
#define MENDMESSAGE_SIZE 1024

// The salvaged AVI of the listed frames, in the settings of the program
// (codec, picture size, frame rate): the engine, which takes a request and
// fills a result, and the window's command over it, which shows the
// result's message.
typedef struct {
    LPCSTR pszAviFile;  // the name chosen
    void *pv;
    // After each frame written, of all.
    void (*pfnProgress)(void *pv, DWORD nWritten, DWORD nFrames);
    volatile LONG *pfAbort;  // the frames so far make the AVI
} SALVAGEWRITE;
typedef struct {
    BOOL fWritten;    // the AVI has the name chosen
    DWORD nWritten;   // its frames
    CHAR szMessage[MENDMESSAGE_SIZE];  // why it was not written; empty when it was
} SALVAGEWRITTEN;
BOOL WriteAviOfRecords(const SALVAGEWRITE *pReq, SALVAGEWRITTEN *pRes);
BOOL WriteSalvageAvi(LPCSTR pszAviFile);
BOOL TakeAviSettings(LPCSTR pszAviFile);
// The first video stream of an AVI without its codec: the handler, the
// frame rate as a text ("rate/scale", 64 bytes) and the format chunk as it
// is (*ppbiFormat allocated with malloc). FALSE after showing a message.
BOOL ReadAviVideoStream(LPCSTR pszAviFile, DWORD *pfccHandler, LPSTR pszRate, LPBITMAPINFOHEADER *ppbiFormat,
                        DWORD *pcbFormat);
// The default name of the AVI: the reference file's with the extension
// "avi"; unchanged when pszAviFile already holds a name.
void MakeDefaultAviName(LPSTR pszAviFile, LPCSTR pszRefFile);
