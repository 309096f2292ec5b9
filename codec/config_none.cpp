// Builds without a window system have no settings dialog: the settings are
// edited in the settings file. The codec still answers the request as the
// dialog does when it is closed, so that a host sees the same answer from
// the query and from the request.
#include "codec/spoolcap.h"

LRESULT ShowConfigDialog(CONFIGCONTEXT *)
{
    return ICERR_OK;
}
