// spool codecs: Vfwprobe's listing of the installed video codecs.
#include "cli/spool.h"

#include "lister/listing.h"

#include <string.h>

int CodecsCommand(int argc, char **argv)
{
    if (argc > 0) return UsageError("codecs", argv[0]);
    CHAR szLine[LISTING_LINE_MAX];
    // The listing's lines end in CR LF for the window; here in the
    // platform's line ends.
    auto PutLine = [](LPSTR psz) {
        size_t cch = strlen(psz);
        if (cch >= 2 && psz[cch - 2] == '\r') psz[cch - 2] = '\n', psz[cch - 1] = '\0';
        fputs(psz, g_pOut);
    };
    FormatListingHeader(szLine, sizeof(szLine));
    PutLine(szLine);
    FormatListingRule(szLine, sizeof(szLine));
    PutLine(szLine);
    CODECENTRY entry;
    DWORD n = 0;
    for (; DescribeCodec(n, ICMODE_QUERY, &entry); n++) {
        FormatCodecLine(&entry, szLine, sizeof(szLine));
        PutLine(szLine);
    }
    return SPOOL_OK;
}
