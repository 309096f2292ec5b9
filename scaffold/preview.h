// The frame preview shared by the dialog programs that show frames: where a
// picture goes in the preview area, and which frame a request of the frame
// scroll bar goes to.
#pragma once

#include "platform/win.h"

// The place of a picture of lWidth x lHeight in a preview area of cw x ch
// client pixels, keeping its proportions inside a border of 2 pixels.
void ComputePreviewLayout(LONG lWidth, LONG lHeight, LONG cw, LONG ch, RECT *prcDest);

// The frame that a request of the frame scroll bar (SB_LINELEFT ...
// SB_THUMBTRACK) goes to from frame c of n: a line is one frame, a page 30,
// or 60 with fShiftPage; the thumb gives nTrackPos, clamped to the frames.
// FALSE when the request does not move (at either end, no frames, or
// another request).
BOOL PickScrollFrame(UINT uRequest, DWORD c, DWORD n, BOOL fShiftPage, int nTrackPos, DWORD *pnFrame);
