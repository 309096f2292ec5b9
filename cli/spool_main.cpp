// spool: reference files of Spoolcap recordings from the command line.
#include "cli/spool.h"

int main(int argc, char **argv) { return SpoolMain(argc, argv); }
