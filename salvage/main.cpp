// Spoolmend: rebuilds a playable AVI from one reference file.
#include "scaffold/dialogapp.h"

int WINAPI WinMain(HINSTANCE hInstance, HINSTANCE, LPSTR, int nCmdShow)
{
    return RunModelessDialog(hInstance, nCmdShow);
}
