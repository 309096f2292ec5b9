// Spoolshift: moves, copies, renames or deletes the reference files of an AVI.
#include "scaffold/dialogapp.h"

int WINAPI WinMain(HINSTANCE hInstance, HINSTANCE, LPSTR, int nCmdShow)
{
    return RunModelessDialog(hInstance, nCmdShow);
}
