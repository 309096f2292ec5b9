// Resource ids of Spoolshift's main window. The control ids are those of
// mover/shift.h.
#pragma once

#define IDD_SHIFT 101
#define IDI_SHIFT 200
#define IDI_SHIFT_SMALL 203
