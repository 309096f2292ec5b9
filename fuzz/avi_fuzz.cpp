// Fuzz target: arbitrary bytes loaded as an AVI, every frame decoded, read
// and written back in place, its reference files detected and a file's
// records renamed and back; the same bytes read through the AVI layer, and
// as a relocation's note. A bad file must end in one of the load's
// messages, never in a crash, a hang or a sanitizer report.
#include "fuzz/shift_input.h"
#include "mover/avireader.h"
#include "mover/message.h"

#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <string>

namespace {

int Quiet(LPCSTR, LPCSTR, UINT) { return IDOK; }

const std::string &InputPath()
{
    static std::string s_path;
    if (s_path.empty()) {
        char szTemplate[] = "/tmp/avifuzzXXXXXX";
        const char *pszDir = mkdtemp(szTemplate);
        s_path = std::string(pszDir ? pszDir : "/tmp") + "/input.avi";
    }
    return s_path;
}

// Frames looked at per input, so that each run stays short.
const DWORD MAX_FRAMES = 64;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *pData, size_t cbData)
{
    const std::string &path = InputPath();
    FILE *pFile = fopen(path.c_str(), "wb");
    if (!pFile) return 0;
    fwrite(pData, 1, cbData, pFile);
    fclose(pFile);

    // The same bytes as a relocation's note, and through the AVI layer.
    ParseNoteInput(pData, cbData);
    ReadAviInput(path.c_str());
    g_pfnShowMessage = Quiet;
    static AviInfo s_info;
    snprintf(s_info.szAviFile, sizeof(s_info.szAviFile), "%s", path.c_str());
    if (LoadAvi(&s_info, TRUE)) {
        DWORD nFrames = s_info.nFrames < MAX_FRAMES ? s_info.nFrames : MAX_FRAMES;
        DWORD cbScratch = (DWORD)(g_pbWork + g_cbWork - g_pbScratch);
        for (DWORD n = 0; n < nFrames; n++) {
            DecodeFrame(&s_info, n);
            DWORD cb = 0;
            if (AccessFrameData(&s_info, g_pbScratch, cbScratch, n, FALSE, &cb))
                AccessFrameData(&s_info, g_pbScratch, cbScratch, n, TRUE, &cb);
        }
        // Past the end and with the codec closed.
        DecodeFrame(&s_info, s_info.nFrames);
        OpenFrameCodec(&s_info, FALSE);
        if (nFrames) DecodeFrame(&s_info, 0);
        RunShiftCommands(&s_info);
    }
    LoadAvi(&s_info, FALSE);
    return 0;
}
