// spool: reference files of Spoolcap recordings from the command line.
#include "cli/spool.h"

#ifdef __GLIBC__
#include <malloc.h>
#endif

int main(int argc, char **argv)
{
#ifdef _WIN32
    InitSpoolOutput();
    if (!ArgumentsFitCodePage(GetCommandLineW())) return SPOOL_ERROR;
#endif
#ifdef __GLIBC__
    // Commands over a tree load one AVI after another, each into tables
    // of its own size. Memory that one AVI freed is kept for the next
    // instead of going back to the system, which would hand it out again
    // as fresh pages to be zeroed and mapped (a third of the time of a
    // warm `spool library` went to that). The peak stays that of the
    // largest AVI.
    mallopt(M_TRIM_THRESHOLD, 256 * 1024 * 1024);
    mallopt(M_MMAP_THRESHOLD, 64 * 1024 * 1024);
#endif
    return SpoolMain(argc, argv);
}
