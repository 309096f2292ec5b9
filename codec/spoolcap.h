// Spoolcap: a Video for Windows codec driver that stands in front of a
// wrapped codec and keeps compressed frames in reference files.
//
// Module-wide state, driver instances, settings and the operations shared by
// the driver's source files.
#pragma once

#include "codec/refformat.h"
#include "scaffold/filegate.h"
#include "platform/win.h"

#include <atomic>

#define SPOOLCAP_SECTION "Spoolcap"
// Text that the module carries in its bytes, so that an installer can tell a
// file of Spoolcap from the codec it stands in front of without loading it:
// Spoolcap answers every question of the system as the wrapped codec.
// Its two halves are kept apart elsewhere, so that the installer, which
// looks for it, does not carry it whole.
#define SPOOLCAP_MARK_HEAD "\x7f" "Spoolcap: the wrapped codec is "
#define SPOOLCAP_MARK_TAIL "this file's name with .org appended" "\x7f"
#define SPOOLCAP_MARK SPOOLCAP_MARK_HEAD SPOOLCAP_MARK_TAIL

// Spoolcap's own bit of ICCOMPRESS.dwFlags: ordinary compression, no reference.
#define ICCOMPRESS_NOREF 0x80000000u

// Layout of the host's output buffer while reference writing is on.
#define OUTPUT_HEADER_OFFSET ((DWORD)sizeof(REFRECORD))                            // 276
#define OUTPUT_DATA_OFFSET ((DWORD)(sizeof(REFRECORD) + sizeof(REFFRAMEHEADER)))  // 292

// ---------------------------------------------------------------------------
// Background workers

// States of IOWORKER.nState.
#define WORKER_IDLE 0
#define WORKER_STARTED 1
#define WORKER_BUSY 2
#define WORKER_DONE 3
#define WORKER_FAILED 4
#define WORKER_QUIT 5

// The four workers of an instance, in CODECINSTANCE.aWorker.
#define WORKER_READ0 0
#define WORKER_READ1 1
#define WORKER_WRITE0 2
#define WORKER_WRITE1 3
#define WORKER_COUNT 4

// A frame in a writer's queue: its bytes follow the structure. Once written,
// its buffer is kept for a later frame until the run ends.
typedef struct QUEUEDFRAME {
    struct QUEUEDFRAME *pNext;
    DWORD cbCap;  // bytes the buffer holds
    DWORD cb;     // the frame's bytes
} QUEUEDFRAME;

// A writer's queue of frames (writers only). Guarded by csQueue; cvQueue
// wakes a caller waiting for room when a frame leaves the queue.
typedef struct {
    QUEUEDFRAME *pFirst, *pLast;  // frames to write, in order; the first is being written
    QUEUEDFRAME *pFree;           // buffers of written frames
    ULONGLONG cbHeld;             // bytes of all buffers, queued and free
    ULONGLONG cbPeak;             // the most cbHeld has been since the worker was freed
    DWORD nQueued;
    BOOL fDraining;  // the worker's thread has the queue in hand
    BOOL fFailed;    // a write failed; the frames queued behind it were dropped
    DWORD nDropped;  // frames dropped behind the last failed write
} WRITEQUEUE;

typedef struct IOWORKER {
    // The hand-off state; its stores publish the buffer and file accesses
    // made before them to the other side.
    std::atomic<LONG> nState;
    unsigned(WINAPI *pfnThread)(void *);
    HANDLE hThread;   // the running thread, NULL when none; signalled once it has ended
    HANDLE hEvent;    // manual-reset wake-up event of the thread; 0 until made
    HANDLE hIdle;     // manual-reset event, signalled while no job is in hand; 0 until made
    HMODULE hModule;  // the thread's reference to this module, given back as it ends
    BYTE *pBuffer;
    DWORD cbBuffer;
    DWORD cbTransfer;  // a write's bytes; the most a read-ahead takes, header included
    DWORD cbReadable;  // a read-ahead's bytes of the file that are whole, from its position
    // A write of a reference file in progress, seen by readers of that file
    // in any instance (writers only; guarded by the instance list's lock).
    LPCSTR pszWriteFile;
    DWORD cbWhole;  // the bytes of that file that are whole
    struct IOWORKER *pNextWrite;
    struct IOWORKER *pPrevWrite;
    // A writer's queue, and whether the job in hand is writing it (else it
    // is the one frame in pBuffer).
    CRITICAL_SECTION csQueue;
    CONDITION_VARIABLE cvQueue;
    WRITEQUEUE queue;
    BOOL fQueueJob;
} IOWORKER;

// ---------------------------------------------------------------------------
// Driver instances

typedef struct CODECINSTANCE {
    DWORD_PTR dwKey;  // the driver instance id
    LONG nOpen;       // opens sharing the instance
    LONG iWriteSeq;   // sequence of the next compressed frame
    CHAR szReadName[2][MAX_PATH];
    CHAR szWriteName[2][MAX_PATH];
    BYTE *pReadBuf[2];
    DWORD cbReadBuf[2];
    DWORD dwAheadOffset[2];
    DWORD dwWriteOffset[2];
    HANDLE hReadFile[2];
    HANDLE hWriteFile[2];
    FILEID idWriteFile[2];  // the identity of the file being written, from its making
    IOWORKER aWorker[WORKER_COUNT];
    REFFRAMEHEADER aAheadHeader[2];
    REFFRAMEHEADER *pAheadHeader[2];
    CHAR szAheadName[2][MAX_PATH];  // file that the read-ahead was read from
    BOOL fWriteDirect[2];           // a write failed: write directly until one succeeds
    DWORD dwOutputRoom;             // output buffer size last answered to ICM_COMPRESS_GET_SIZE
    DWORD dwCodecRoom;              // the wrapped codec's own answer within it
    DWORD cReadOpens;               // read files opened, for diagnostics
    DWORD cAheadHits;               // frames taken from the read-ahead, for diagnostics
    struct CODECINSTANCE *pNext;
    struct CODECINSTANCE *pPrev;
} CODECINSTANCE;

// ---------------------------------------------------------------------------
// Settings

typedef struct {
    CHAR szBaseFile[MAX_PATH];
    CHAR szBaseFile2[MAX_PATH];
    DWORD dwPadding;
    BOOL fEnabled;
    BOOL fBiFiled;
    BOOL fNoCompress;
    BOOL fOverlapRead;
    BOOL fOverlapWrite;
    DWORD dwWriteQueueMB;  // megabytes of frames a writer may hold; 0: one frame at a time
} SPOOLSETTINGS;

// The largest write queue, in megabytes; a 32-bit process, whose address
// space is 2 GB in all, holds at most 256 per series.
#define WRITEQUEUE_MAX_MB 2048
#define WRITEQUEUE_MAX_MB_32BIT 256

// The five arguments of the ICM_CONFIGURE call that opened the dialog.
typedef struct {
    DWORD_PTR dwDriverId;
    HDRVR hDriver;
    UINT uMsg;
    LPARAM lParam1;
    LPARAM lParam2;
} CONFIGCONTEXT;

// ---------------------------------------------------------------------------
// Module-wide state

extern HMODULE g_hModule;
extern HMODULE g_hWrapped;
extern DRIVERPROC g_pfnWrappedProc;
extern CHAR g_szModuleName[MAX_PATH];
extern CHAR g_szIniFile[MAX_PATH];
extern SPOOLSETTINGS g_Settings;
extern CODECINSTANCE *g_pFirstInstance;
extern CONFIGCONTEXT *g_pConfig;

// ---------------------------------------------------------------------------
// Operations

// The driver's entry points (driver.cpp).
MODULE_EXPORT BOOL WINAPI DllMain(HINSTANCE hInstance, DWORD dwReason, LPVOID lpReserved);
MODULE_EXPORT LRESULT WINAPI DriverProc(DWORD_PTR dwDriverId, HDRVR hDriver, UINT uMsg, LPARAM lParam1,
                                        LPARAM lParam2);

// Process attach and detach.
BOOL AttachProcess(HMODULE hModule);
void DetachProcess(BOOL fProcessEnding);
LRESULT CallWrapped(DWORD_PTR dwDriverId, HDRVR hDriver, UINT uMsg, LPARAM lParam1, LPARAM lParam2);

// Settings file names and the settings themselves (settings.cpp).
BOOL DeriveIniFileName(LPCSTR pszModuleName, LPSTR pszIniFile, size_t cbIniFile);
// The keys, in the order they are written: each names its kind and its
// field of SPOOLSETTINGS (a text of MAX_PATH bytes, a DWORD or a BOOL), and
// a number its range. The settings dialog shows and writes the
// first eight; WriteQueueMB, behind them, it keeps as the file has it.
#define SETTING_TEXT 0
#define SETTING_NUMBER 1
#define SETTING_SWITCH 2
#define SETTING_KEYS 9
#define SETTING_DIALOG_KEYS 8
typedef struct {
    LPCSTR pszName;
    int nKind;
    size_t cbOffset;
    DWORD dwMax;  // a number's largest value; 0: the number as the file gives it
} SETTINGKEY;
extern const SETTINGKEY g_aSettingKeys[SETTING_KEYS];
// The keys of one settings file (a bare name lies in the Windows
// directory); missing keys give the defaults, and a number with a range is
// kept within it. Writing gives FALSE when a key could not be
// written.
void ReadSettingsFile(LPCSTR pszIniFile, SPOOLSETTINGS *pSettings);
BOOL WriteSettingsFile(LPCSTR pszIniFile, const SPOOLSETTINGS *pSettings);
// The module's own settings: g_Settings and g_szIniFile.
void LoadSettings(void);
void SaveSettings(void);

// Instance registry (instances.cpp). The list is guarded for opens and
// closes arriving on several threads.
void InitInstanceList(void);
void DeleteInstanceList(void);
CODECINSTANCE *FindInstance(DWORD_PTR dwKey);
BOOL AddInstance(DWORD_PTR dwKey);
BOOL ReleaseInstance(DWORD_PTR dwKey);
// At the end of the process the workers' threads are gone or must not be
// waited for: the instances are then only forgotten.
void ReleaseAllInstances(BOOL fProcessEnding);
void CloseWriteFile(CODECINSTANCE *pInst, int iSeq, BOOL fFully);
void CloseReadFile(CODECINSTANCE *pInst, int iSeq, BOOL fFully);

// Writes of reference files in progress anywhere in the process, so that a
// frame is never read while it is being written (instances.cpp). A write is
// announced before it starts, with how much of the file is whole (the
// bytes before its first frame), advanced as a writer's frames are written,
// and withdrawn when it has ended.
void BeginRefWrite(IOWORKER *pWriter, LPCSTR pszFile, DWORD cbWhole);
void AdvanceRefWrite(IOWORKER *pWriter, DWORD cbWritten);
void EndRefWrite(IOWORKER *pWriter);
// Waits until the file is whole up to ullEnd, or no write of it is in
// progress.
void WaitForRefWrites(LPCSTR pszFile, ULONGLONG ullEnd);
// The size of a reference file open for reading, as far as it is whole:
// every byte up to there stays as it is (writes only append), also while
// writes of the file are in progress.
BOOL SettledRefFileSize(LPCSTR pszFile, HANDLE hFile, DWORD *pcbFile);

// Background workers (worker.cpp).
void InitWorker(IOWORKER *pWorker, int iWorker);
// At the instance's end, after FreeWorker.
void DeleteWorker(IOWORKER *pWorker);
BOOL PrepareWorker(CODECINSTANCE *pInst, IOWORKER *pWorker, DWORD cbSize);
void HandOverWorker(IOWORKER *pWorker);
// Blocks while the worker has a job in hand.
void WaitWorkerIdle(IOWORKER *pWorker);
// Ends the worker's thread after the job in hand and waits until the thread
// has ended; the job's outcome stays in nState.
void StopWorker(IOWORKER *pWorker);
// Frees the buffers and closes the event of a stopped worker.
void FreeWorker(IOWORKER *pWorker);

// A writer's queue (worker.cpp). QueueFrameBuffer gives a buffer of cb bytes
// for the sequence's next frame, waiting while the queue holds cbLimit bytes
// and a frame of cb more would not fit (a frame larger than the whole queue
// waits until the queue is empty, and is then carried alone); QueueFrame
// hands it to the writer, which writes the queue's frames in order to the
// sequence's file. Each gives QUEUE_OK, QUEUE_FAILED when a write of the
// queue failed (the caller reports it and closes the file), or QUEUE_NONE
// when no queue can be had (the caller writes the frame itself).
#define QUEUE_OK 0
#define QUEUE_FAILED 1
#define QUEUE_NONE 2
int QueueFrameBuffer(CODECINSTANCE *pInst, IOWORKER *pWriter, DWORD cb, ULONGLONG cbLimit, QUEUEDFRAME **ppFrame);
int QueueFrame(IOWORKER *pWriter, QUEUEDFRAME *pFrame, LPCSTR pszFile, DWORD dwOffset);
BYTE *QueuedBytes(QUEUEDFRAME *pFrame);
// Whether the queue's writes failed; ClearWriterFailure forgets a failure
// that was reported, of the queue or of the one frame.
BOOL QueueFailed(IOWORKER *pWriter);
void ClearWriterFailure(IOWORKER *pWriter);

// Compression and decompression through reference files.
LRESULT CompressFrame(DWORD_PTR dwDriverId, HDRVR hDriver, ICCOMPRESS *pic, LPARAM cbic);
LRESULT CompressGetSize(DWORD_PTR dwDriverId, HDRVR hDriver, LPARAM lParam1, LPARAM lParam2);
LRESULT DecompressFrame(DWORD_PTR dwDriverId, HDRVR hDriver, ICDECOMPRESS *pid, LPARAM cbid);

// The settings dialog, opened by ICM_CONFIGURE; returns ICERR_OK.
LRESULT ShowConfigDialog(CONFIGCONTEXT *pContext);

// Keeps only the hexadecimal digits "0123456789ABCDEF" of a text, in place;
// returns the count that remain. *pnRemovedAt receives where the last removed
// character was in the result, or -1 when none was removed.
int FilterHexText(LPSTR pszText, int *pnRemovedAt);

#ifdef _WIN32
// Keeps an edit field to at most n hexadecimal digits (n below 30); returns
// the count of characters that remain, or -1 for a bad n.
int FilterHexEdit(HWND hDlg, int nId, int n);
INT_PTR CALLBACK ConfigDialogProc(HWND hDlg, UINT uMsg, WPARAM wParam, LPARAM lParam);
// The save-file dialog behind the "browse" buttons: the common dialog
// library's when NULL; tests put a stand-in here.
typedef BOOL(WINAPI *GETSAVEFILENAMEPROC)(LPOPENFILENAMEA);
extern GETSAVEFILENAMEPROC g_pfnGetSaveFileName;
#endif
