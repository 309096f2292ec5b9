// spool: reference files of Spoolcap recordings from the command line.
#include "cli/spool.h"

int main(int argc, char **argv)
{
#ifdef _WIN32
    InitSpoolOutput();
    if (!ArgumentsFitCodePage(GetCommandLineW())) return SPOOL_ERROR;
#endif
    return SpoolMain(argc, argv);
}
