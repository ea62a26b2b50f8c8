#include "platform/clock.h"

#include <windows.h>

uint32_t tickCount() { return GetTickCount(); }

// GetTickCount64 never wraps and never goes back; its milliseconds are all
// the speed measurement needs.
int64_t monotonicHundredths() { return static_cast<int64_t>(GetTickCount64() / 10); }

int64_t monotonicMilliseconds() { return static_cast<int64_t>(GetTickCount64()); }
