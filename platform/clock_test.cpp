// The two clocks against the system's own time over a short sleep: a clock
// off by a factor, or counting in the wrong unit, shows at once.
#include "platform/clock.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;

double millisecondsBetween(Clock::time_point from, Clock::time_point to) {
  return std::chrono::duration<double, std::milli>(to - from).count();
}

TEST(Clocks, KeepTheSystemsTime) {
  // The clocks are read between two pairs of readings of the system's own
  // clock: what they measure lies between the inner and the outer span,
  // however the test is delayed, give or take one step of their own.
  Clock::time_point outerStart = Clock::now();
  uint32_t ticksBefore = tickCount();
  int64_t hundredthsBefore = monotonicHundredths();
  Clock::time_point innerStart = Clock::now();
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  Clock::time_point innerEnd = Clock::now();
  uint32_t ticksAfter = tickCount();
  int64_t hundredthsAfter = monotonicHundredths();
  Clock::time_point outerEnd = Clock::now();

  const double inner = millisecondsBetween(innerStart, innerEnd);
  const double outer = millisecondsBetween(outerStart, outerEnd);
  // Windows' tick count moves in steps of up to 16 ms; a hundredth is 10.
  const double step = 20;
  const double ticks = static_cast<uint32_t>(ticksAfter - ticksBefore);
  const double hundredths = static_cast<double>(hundredthsAfter - hundredthsBefore) * 10;
  EXPECT_GE(ticks, inner - step);
  EXPECT_LE(ticks, outer + step);
  EXPECT_GE(hundredths, inner - step);
  EXPECT_LE(hundredths, outer + step);
}

}  // namespace
