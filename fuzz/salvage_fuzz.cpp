// Fuzz target: arbitrary bytes as Spoolmend's reference file and as the AVI
// it takes settings from. A bad file must end in one of the messages, never
// in a crash, a hang, a read or write past a buffer, or an allocation beyond
// what the input allows.
#include "fuzz/salvage_input.h"

#include <stdlib.h>
#include <unistd.h>

#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *pData, size_t cbData)
{
    static std::string s_dir;
    if (s_dir.empty()) {
        char szTemplate[] = "/tmp/mendfuzzXXXXXX";
        const char *pszDir = mkdtemp(szTemplate);
        s_dir = pszDir ? pszDir : "/tmp";
    }
    RunSalvageInput(pData, cbData, s_dir);
    return 0;
}
