// Vfwprobe: lists the installed video codecs.
#include "scaffold/dialogapp.h"

int WINAPI WinMain(HINSTANCE hInstance, HINSTANCE, LPSTR, int nCmdShow)
{
    return RunModelessDialog(hInstance, nCmdShow);
}
