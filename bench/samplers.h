// The two samplers that run inside the benchmark's own process: the bare
// operating-system loop and the engine itself, headless.
#pragma once

#include <cstdint>

#include "common/text.h"
#include "settings/settings.h"

struct SamplerRun {
  double seconds = 0;
  int64_t checks = 0;   // files handed to the read check (the reference counts them)
  int64_t blocks = 0;   // block reads (the reference counts them)
  int64_t bytes = 0;
  int64_t openErrors = 0;
  int64_t readErrors = 0;
  int64_t nextDraw = 0;  // the generator's next value after the run
};

// Whether the reference sampler follows the engine under these settings:
// it makes the engine's draws only for the settings a benchmark uses (no
// speed measurement, no title percentage, no scan of all files, no error
// limit) and needs a limit on the checked bytes to end.
bool referenceCovers(const Settings& s);

// The bare loop of one pass and one check, repeated until `stopAfterChecked`
// bytes are checked: list the root, advance, descend, open, position, read,
// close, with the same draws as the engine and nothing else. `root` ends in
// the system's separator.
SamplerRun runReference(const char* root, const Settings& s, uint32_t seed, char* buffer, int64_t bufferSize);

// The engine's own worker on the same tree through a window that does
// nothing; `root` goes in as "default init path:". Counts of checks and
// blocks are not kept by the engine and stay 0.
SamplerRun runEngine(const char* root, const Settings& s, uint32_t seed, char* buffer, int64_t bufferSize);
