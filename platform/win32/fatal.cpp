#include "platform/fatal.h"

#include <windows.h>

#include <stdio.h>

void fatalError(int code, uint32_t place) {
  char text[64];
  snprintf(text, sizeof text, "Runtime error %d at 0x%08X", code, static_cast<unsigned>(place));
  // Task-modal without an owner: the report stays on top of the program's
  // own window and blocks it until it is closed.
  MessageBoxA(nullptr, text, "Error", MB_OK | MB_ICONERROR | MB_TASKMODAL);
  ExitProcess(static_cast<UINT>(code));
}
