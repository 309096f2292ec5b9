// One input of Spoolmend's fuzz target: arbitrary bytes taken as a
// reference file (scanned, its frames shown, a salvaged AVI written for
// them) and as another AVI to take settings from. Shared by the fuzz target
// and the unit test that replays its corpus.
#pragma once

#include "platform/win.h"

#include <string>

// Runs one input, with its files in dir; returns the number of frames
// listed.
DWORD RunSalvageInput(const BYTE *pData, size_t cbData, const std::string &dir);
