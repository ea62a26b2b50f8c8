// The console control handler of the Windows build, for its tests: Ctrl-C
// and Ctrl-Break cannot be sent to a program under test there.
#pragma once

#include <windows.h>

// Ctrl-C and Ctrl-Break count as interrupts (TRUE: handled); every other
// event goes on to the system's handler (FALSE).
BOOL WINAPI onConsoleControl(DWORD event);
