#include <cmath>

#include "platform/clock.h"
#include "scan/engine.h"
#include "scan/scan.h"

std::atomic<int64_t> lastSpeed{0};

// The elapsed time comes from a clock that never goes back, so a scan that
// runs past midnight keeps a true average.
void startSpeedMeasurement() {
  Scan.speedBytes = 0;
  Scan.currentSpeed = 0;
  Scan.speedStart = monotonicHundredths();
}

int64_t speedFrom(int64_t bytes, int64_t hundredths) {
  if (hundredths <= 0) return -1;
  double seconds = static_cast<double>(hundredths) / 100.0;
  // nearbyint rounds in the default mode: to nearest, ties to even.
  double speed = std::nearbyint(static_cast<double>(bytes) / seconds);
  if (!(speed < 9.2e18)) return -1;
  return static_cast<int64_t>(speed);
}

// The bytes of all readers count together: the speed is the scan's.
void countRead(Reader& r, int64_t bytes) {
  int64_t total = Scan.speedBytes.fetchAdd(bytes) + bytes;
  // The clock and the division cost more than a read's bookkeeping: a new
  // speed is taken after about one read in eight.
  if (randomBelow(r.random, 8) != 1) return;
  int64_t speed = speedFrom(total, monotonicHundredths() - Scan.speedStart);
  if (speed >= 0) Scan.currentSpeed = speed;
}

int64_t takeSpeedForDisplay() {
  int64_t current = Scan.currentSpeed;
  if (current > 0) lastSpeed.store(current);
  return lastSpeed.load();
}

bool refreshDraw(Reader& r) { return chancePercent(r.random, Scan.settings.windowRefresh); }
