#include "platform/clock.h"

#include <windows.h>

uint32_t tickCount() { return GetTickCount(); }

// GetTickCount64 never wraps and never goes back; its milliseconds are all
// the speed measurement needs.
int64_t monotonicHundredths() { return static_cast<int64_t>(GetTickCount64() / 10); }

int64_t monotonicMilliseconds() { return static_cast<int64_t>(GetTickCount64()); }

// The performance counter ticks far finer than the tick count's 16 ms, and
// its frequency is fixed at boot, so it is asked for once.
int64_t monotonicMicroseconds() {
  static const int64_t frequency = [] {
    LARGE_INTEGER f;
    QueryPerformanceFrequency(&f);
    return static_cast<int64_t>(f.QuadPart);
  }();
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  int64_t ticks = static_cast<int64_t>(now.QuadPart);
  // Whole seconds first, so that the product never leaves 64 bits.
  return ticks / frequency * 1000000 + ticks % frequency * 1000000 / frequency;
}

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
