// Vfwprobe's listing of the installed video codecs: the table's text, one
// line per codec, built through the platform's codec interface.
#pragma once

#include "platform/win.h"

#include <stddef.h>

// Longest driver or description text, in bytes, without the "?" mark.
#define CODEC_TEXT_MAX 255

typedef struct {
    CHAR szFourcc[5];                      // four characters, zero bytes as blanks
    CHAR szDriver[CODEC_TEXT_MAX + 2];     // may end in "?"
    CHAR szDescription[CODEC_TEXT_MAX + 2];
} CODECENTRY;

// ICMODE_QUERY, ICMODE_COMPRESS and ICMODE_DECOMPRESS added up for the
// boxes that are ticked; 0 when none is.
UINT OpenModeFromBoxes(BOOL fQuery, BOOL fCompress, BOOL fDecompress);

// The FOURCC as four characters, each zero byte as a blank.
void FormatFourcc(DWORD fcc, LPSTR pszOut);

// A wide text as a multibyte text of at most CODEC_TEXT_MAX bytes, cut only
// between whole characters.
void WideToCodecText(const WCHAR *pwszText, size_t cchText, LPSTR pszOut);

// Fills the entry of video codec number iCodec, opened in wMode; FALSE when
// there is no such codec.
BOOL DescribeCodec(DWORD iCodec, UINT wMode, CODECENTRY *pEntry);

// The table's lines, each ending in CR LF.
void FormatListingHeader(LPSTR pszOut, size_t cbOut);
void FormatListingRule(LPSTR pszOut, size_t cbOut);
void FormatCodecLine(const CODECENTRY *pEntry, LPSTR pszOut, size_t cbOut);
// Room for any line.
#define LISTING_LINE_MAX 600
