// The settings the sampler benchmarks run with, and how two runs are
// compared: shared by the main table and the cold-page rows.
#pragma once

#include <algorithm>
#include <cstdint>

#include "bench/samplers.h"
#include "settings/settings.h"

constexpr int64_t kLargestLimit = INT32_MAX;

struct Setup {
  const char* label;
  int windowRefresh;
  int32_t blockSize;
};

constexpr Setup kSetups[] = {
    {"defaults", 25, 1},
    {"refresh 100, 64 KiB blocks", 100, 65536},
};

// What a user without a settings file sees, with the refresh and block
// size of the setup.
inline Settings settingsFor(const Setup& setup, int64_t limit) {
  Settings s;
  applyNoFileDefaults(s);
  s.windowRefresh = static_cast<uint8_t>(setup.windowRefresh);
  s.bytesToReadAtOnce = setup.blockSize;
  s.stopAfterChecked = std::min(limit, kLargestLimit);
  return s;
}

// Whether two runs did the same work: the same bytes, errors and draws.
inline bool sameWork(const SamplerRun& a, const SamplerRun& b) {
  return a.bytes == b.bytes && a.openErrors == b.openErrors && a.readErrors == b.readErrors &&
         a.nextDraw == b.nextDraw;
}
