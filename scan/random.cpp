#include "scan/engine.h"

namespace {

// splitmix64: one 64-bit word of state, fast, and good enough for picking
// entries and positions. Each generator is drawn from by one thread only.
uint64_t nextRandom(Random& random) {
  random.state += 0x9E3779B97F4A7C15ull;
  uint64_t z = random.state;
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  return z ^ (z >> 31);
}

// Uniform in 0 .. bound-1 for bound > 0: draws above the largest multiple of
// the bound are drawn again, so no value is favoured.
uint64_t uniformBelow(Random& random, uint64_t bound) {
  uint64_t threshold = (0 - bound) % bound;
  for (;;) {
    uint64_t r = nextRandom(random);
    if (r >= threshold) return r % bound;
  }
}

}  // namespace

// Each reader's stream starts at its own place of splitmix64's one cycle of
// 2^64 states, a multiple of an odd constant other than the generator's own
// step away from reader 0's.
Random seededRandom(uint64_t seed, int number) {
  return Random{seed + static_cast<uint64_t>(number) * 0xD1B54A32D192ED03ull};
}

int64_t randomBelow(Random& random, int64_t n) {
  if (n > 0) return static_cast<int64_t>(uniformBelow(random, static_cast<uint64_t>(n)));
  if (n == 0) return 0;
  // A negative bound gives a value from bound + 1 up to 0: a block larger
  // than the file is then placed at or before its start.
  uint64_t magnitude = 0 - static_cast<uint64_t>(n);
  return -static_cast<int64_t>(uniformBelow(random, magnitude));
}

bool chancePercent(Random& random, int percent) { return randomBelow(random, 100) < percent; }

uint64_t randomBits(Random& random) { return nextRandom(random); }
