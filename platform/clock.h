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

// The same clock in microseconds, as fine as the system keeps it: how long
// one block read took.
int64_t monotonicMicroseconds();
// Lets the calling thread sleep for about `milliseconds`.
void pauseMilliseconds(int64_t milliseconds);

// A date and time of day on the local clock, to the millisecond.
struct LocalTime {
  int year = 0;
  int month = 0;   // 1 to 12
  int day = 0;     // 1 to 31
  int hour = 0;
  int minute = 0;
  int second = 0;
  int millisecond = 0;
};

// Now, in the local time zone.
LocalTime localTime();
