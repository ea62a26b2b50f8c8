// Time sources.
#pragma once

#include <cstdint>

// Milliseconds since the system started; seeds the random generator.
uint32_t tickCount();

// A clock that never goes back, in hundredths of a second from an arbitrary
// origin; the reading speed is measured with it.
int64_t monotonicHundredths();

// The same clock in milliseconds: how long a scan has run.
int64_t monotonicMilliseconds();
