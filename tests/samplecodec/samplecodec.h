// The sample codec used by the tests as the wrapped codec: a real Video for
// Windows codec (FOURCC "SMPL") with a lossless run-length transform whose
// output size varies with the picture. Beside DriverProc it exports two
// functions through which a test steers it and sees what it was sent.
#pragma once

#include "platform/win.h"

#define SAMPLE_FOURCC mmioFOURCC('S', 'M', 'P', 'L')

// Options of SampleControl.
#define SAMPLE_RESET 0          // every option back to its default, counters cleared
#define SAMPLE_FIXED_OPEN_ID 1  // nonzero: every DRV_OPEN answers this id
#define SAMPLE_PROBE 2          // nonzero: answer every message with (value ^ message), doing nothing
#define SAMPLE_CONFIGURABLE 3   // nonzero: has a configuration dialog
#define SAMPLE_FAIL_GETINFO 4   // nonzero: ICM_GETINFO answers 0
#define SAMPLE_REFUSE_MODES 5   // DRV_OPEN fails for an ICOPEN whose mode bits meet this mask (bit 1 << mode)
#define SAMPLE_FAIL_COMPRESS 6  // nonzero: ICM_COMPRESS answers this value instead of compressing
#define SAMPLE_OVERRUN 7        // nonzero: fills its output up to its size answer plus this many bytes
#define SAMPLE_SIZE_ANSWER 8     // nonzero: ICM_COMPRESS_GET_SIZE answers this size
#define SAMPLE_OPTION_COUNT 9
// Not an option: SampleControl answers the ICCOMPRESS flags of the last
// ICM_COMPRESS as the codec saw them.
#define SAMPLE_LAST_COMPRESS_FLAGS 100

// The last message that reached DriverProc.
typedef struct {
    DWORD_PTR dwDriverId;
    HDRVR hDriver;
    UINT uMsg;
    LPARAM lParam1;
    LPARAM lParam2;
} SAMPLECALL;

typedef DWORD_PTR(WINAPI *SAMPLECONTROLPROC)(UINT uOption, DWORD_PTR dwValue);
typedef void(WINAPI *SAMPLELASTCALLPROC)(SAMPLECALL *pCall);
typedef DWORD(WINAPI *SAMPLECALLCOUNTPROC)(UINT uMsg);

// Worst-case compressed size of a DIB of cbRaw bytes.
inline DWORD SampleMaxCompressedSize(DWORD cbRaw) { return 4 + cbRaw + cbRaw / 128 + 1; }
