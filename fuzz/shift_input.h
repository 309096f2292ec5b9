// Spoolshift's commands on one loaded input of the AVI fuzz target:
// detection, then a rewrite pass of the first file's records to another name
// and back. Shared by the fuzz target and the unit test that replays its
// corpus.
#pragma once

#include "mover/avireader.h"

#include <string>
#include <vector>

// Returns the number of reference files detected.
DWORD RunShiftCommands(AviInfo *pInfo);

// The bytes as a relocation's recovery note: parsed, and what the parser
// gives checked (names terminated within their fields, a whole note with
// both names, written again and read back the same). Returns the kind
// (RELOCNOTE_...); aborts when a check fails.
int ParseNoteInput(const BYTE *pData, size_t cbData);

// The file as the AVI layer reads it, and what the layer gives checked: a
// result it knows, RIFFs and walked chunks within the file, and no more
// chunks kept than the file's size allows. Returns the result (AVIREAD_*);
// aborts when a check fails.
int ReadAviInput(const char *pszPath);
