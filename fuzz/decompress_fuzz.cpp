// Fuzz target: Spoolcap's decompression of hostile records against hostile
// reference files, with and without the host's input size. A bad record or
// file must end in a result code, never in a crash, a hang, a read or write
// past a buffer, or an allocation beyond what the input allows.
#include "fuzz/decompress_input.h"

#include <stdlib.h>
#include <unistd.h>

#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *pData, size_t cbData)
{
    static std::string s_dir;
    if (s_dir.empty()) {
        char szTemplate[] = "/tmp/decfuzzXXXXXX";
        const char *pszDir = mkdtemp(szTemplate);
        s_dir = pszDir ? pszDir : "/tmp";
    }
    RunDecompressInput(pData, cbData, s_dir);
    return 0;
}
