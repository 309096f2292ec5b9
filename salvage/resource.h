// Resource ids of Spoolmend's main window and of the codec chooser that the
// save dialog gets.
#pragma once

#define IDD_SALVAGE 101
#define IDI_SALVAGE 102
#define IDD_REFHANDLER 103

#define IDC_CURFRAME 1000
#define IDC_NFRAMES 1001
#define IDC_FPS 1003
#define IDC_FRAMESCROLL 2004
#define IDC_PREVIEW 2006
#define IDC_OPEN 20002
#define IDC_WRITEAVI 20003
#define IDC_CODECCONFIG 20004
#define IDC_CLOSE 20005
#define IDC_TAKEAVI 20006
#define IDC_SCANALL 20007
#define IDC_ABORT 20008
#define IDC_CODEC 20201
#define IDC_WIDTH 20202
#define IDC_HEIGHT 20203
#define IDC_FRAMERATE 20204
