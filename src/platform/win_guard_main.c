// caprello-guard.exe: a GUI-subsystem program, so it never opens a console
// window of its own. Started by caprello.exe; see win_guard.h.

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include "win_guard.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR command_line, int show)
{
    (void)instance;
    (void)previous;
    (void)command_line;
    (void)show;
    return win_guard_main(GetCommandLineW());
}
