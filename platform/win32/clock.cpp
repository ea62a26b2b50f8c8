#include "platform/clock.h"

#include <windows.h>

uint32_t tickCount() { return GetTickCount(); }

// GetTickCount64 never wraps and never goes back; its milliseconds are all
// the speed measurement needs.
int64_t monotonicHundredths() { return static_cast<int64_t>(GetTickCount64() / 10); }

int64_t monotonicMilliseconds() { return static_cast<int64_t>(GetTickCount64()); }

void pauseMilliseconds(int64_t milliseconds) { Sleep(static_cast<DWORD>(milliseconds)); }

LocalTime localTime() {
  SYSTEMTIME now;
  GetLocalTime(&now);
  LocalTime t;
  t.year = now.wYear;
  t.month = now.wMonth;
  t.day = now.wDay;
  t.hour = now.wHour;
  t.minute = now.wMinute;
  t.second = now.wSecond;
  t.millisecond = now.wMilliseconds;
  return t;
}
