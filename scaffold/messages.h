// The messages of the engines (Spoolmend's and Spoolshift's), each defined
// once with its Japanese text, which the programs show, and its English,
// which the command line shows in English. The two texts have the same
// conversions in the same order, so that one list of arguments renders
// either.
#pragma once

#include "platform/win.h"

#include <stdarg.h>
#include <stddef.h>

typedef struct {
    LPCSTR pszJapanese;
    LPCSTR pszEnglish;
} MESSAGE;

// The engines' messages are rendered in English (the command line in
// English) rather than in Japanese (the programs, and the command line in
// Japanese).
extern BOOL g_fEnglishMessages;

// A message with its arguments, in the language chosen (psz: cb bytes).
void RenderMessage(LPSTR psz, size_t cb, const MESSAGE *pMsg, ...);
void RenderMessageV(LPSTR psz, size_t cb, const MESSAGE *pMsg, va_list args);

// Every message below, for the tests.
extern const MESSAGE *const g_apMessages[];
extern const size_t g_nMessages;

// Both engines.
extern const MESSAGE MSG_NO_MEMORY, MSG_NO_MEMORY_LEFT, MSG_CANNOT_OPEN, MSG_CANNOT_SEEK, MSG_CANNOT_CREATE,
    MSG_NOT_A_REF_FILE, MSG_NO_AVI_CHUNK, MSG_NO_HDRL, MSG_NO_AVIH, MSG_AVIH_UNREADABLE;

// Spoolshift: loading an AVI.
extern const MESSAGE MSG_AVI_CANNOT_OPEN, MSG_AVI_NO_AVI_CHUNK, MSG_AVI_NO_HDRL, MSG_AVI_NO_AVIH, MSG_ASCEND_STRH,
    MSG_ASCEND_LIST, MSG_ASCEND_HDRL, MSG_NO_VIDEO_FORMAT, MSG_NO_VIDEO_OR_WAVE_FORMAT, MSG_NO_DRIVER_INFO,
    MSG_NO_MOVI, MSG_NO_VIDEO_CHUNK, MSG_ASCEND, MSG_ASCEND_DIB, MSG_NO_IDX1, MSG_IDX1_UNREADABLE, MSG_ASCEND_AVI,
    MSG_INDEX_SHORT, MSG_INDEX_SURPLUS, MSG_ODML_INDEX_UNREADABLE, MSG_UNSEEN_ODML, MSG_UNSEEN_INDEX;

// Spoolshift: frames, detection, relocation, deletion, recovery.
extern const MESSAGE MSG_NO_AVI_OPEN, MSG_FRAME_NUMBER, MSG_FRAME_READ, MSG_FRAME_SIZE, MSG_FRAME_WRITE,
    MSG_COPY_ABORTED, MSG_COPY_FAILED, MSG_BASE_PAST_999, MSG_MOVE_FAILED, MSG_OLD_NOT_DELETED, MSG_FRAMES_NAME_NEW,
    MSG_BASE_INVALID, MSG_REF_NOT_FOUND, MSG_NEW_NAME_TOO_LONG, MSG_NAME_FILLS_FIELD, MSG_BOTH_NOT_FOUND,
    MSG_RELOCATION_FINISHED, MSG_RELOCATION_ROLLED_BACK, MSG_REF_NOT_DELETED, MSG_AVI_NOT_DELETED,
    MSG_DELETE_ALL_OR_SELECTED, MSG_DELETE_AVI, MSG_DELETE_ALL_AND_AVI, MSG_FOREIGN_FILES, MSG_UNSEEN_DETECTION,
    MSG_NOTE_STAYS, MSG_ANOTHER_PROGRAM, MSG_NOTE_NOT_OURS, MSG_NOTE_NEW_UNFIT, MSG_NOTE_OLD_UNFIT, MSG_NOTE_FOREIGN,
    MSG_NOTE_FRAME_UNREADABLE;

// Spoolmend.
extern const MESSAGE MSG_REF_UNREADABLE, MSG_REF_DAMAGED, MSG_CODEC_CANNOT_OPEN, MSG_NO_REF_OPEN, MSG_RATE_GIVES_NO_AVI,
    MSG_OUTPUT_IS_REF, MSG_NO_CODEC_USED, MSG_AVIS_UNREADABLE, MSG_STRF_UNREADABLE, MSG_AVI_CODEC_CANNOT_OPEN,
    MSG_AVI_CODEC_NO_INFO, MSG_SETTINGS_NOT_TAKEN, MSG_PREVIEW_NO_FORMAT, MSG_PREVIEW_FRAME_NUMBER,
    MSG_PREVIEW_CODEC_CANNOT_OPEN, MSG_PREVIEW_SEEK, MSG_PREVIEW_READ, MSG_PREVIEW_DECOMPRESS, MSG_NO_MEMORY_FOR,
    MSG_WRITE_STRF, MSG_CREATE_AVI, MSG_CREATE_HDRL, MSG_CREATE_AVIH, MSG_WRITE_AVIH, MSG_CREATE_STRL,
    MSG_CREATE_STRH, MSG_WRITE_AVIS, MSG_CREATE_STRF, MSG_CREATE_MOVI, MSG_CREATE_00DB, MSG_WRITE_00DB,
    MSG_CREATE_IDX1, MSG_WRITE_IDX1;
