#include "platform/priority.h"

#include <windows.h>

// The background mode lowers the thread's disk and memory priority, not only
// its processor priority. It ends with the thread.
int enterBackgroundMode() {
  if (SetThreadPriority(GetCurrentThread(), THREAD_MODE_BACKGROUND_BEGIN)) return 0;
  DWORD error = GetLastError();
  return error != 0 ? static_cast<int>(error) : 1;
}
