// Builds without a window system have no settings dialog: the settings are
// edited in the settings file.
#include "codec/spoolcap.h"

LRESULT ShowConfigDialog(CONFIGCONTEXT *)
{
    return ICERR_UNSUPPORTED;
}
