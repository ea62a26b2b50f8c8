#include "scan/engine.h"

namespace {

// splitmix64: one 64-bit word of state, fast, and good enough for picking
// entries and positions. Only the worker draws while a scan runs; seeding
// happens before the worker exists.
uint64_t state = 0;

uint64_t nextRandom() {
  state += 0x9E3779B97F4A7C15ull;
  uint64_t z = state;
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  return z ^ (z >> 31);
}

// Uniform in 0 .. bound-1 for bound > 0: draws above the largest multiple of
// the bound are drawn again, so no value is favoured.
uint64_t uniformBelow(uint64_t bound) {
  uint64_t threshold = (0 - bound) % bound;
  for (;;) {
    uint64_t r = nextRandom();
    if (r >= threshold) return r % bound;
  }
}

}  // namespace

void seedRandom(uint64_t seed) { state = seed; }

int64_t randomBelow(int64_t n) {
  if (n > 0) return static_cast<int64_t>(uniformBelow(static_cast<uint64_t>(n)));
  if (n == 0) return 0;
  // A negative bound gives a value from bound + 1 up to 0: a block larger
  // than the file is then placed at or before its start.
  uint64_t magnitude = 0 - static_cast<uint64_t>(n);
  return -static_cast<int64_t>(uniformBelow(magnitude));
}

bool chancePercent(int percent) { return randomBelow(100) < percent; }

uint64_t randomBits() { return nextRandom(); }
