// Micro-benchmarks of the engine's hottest paths, on a system that answers
// at once (instant_platform.cpp) and a window that does nothing: the block
// reads of the read check, and the composition of the counters line.
#include <benchmark/benchmark.h>

#include <vector>

#include "platform/memory.h"
#include "scan/engine.h"
#include "scan/scan.h"

namespace {

// What a user without a settings file sees.
Settings displayDefaults() {
  Settings s;
  applyNoFileDefaults(s);
  return s;
}

// One file checked at many positions: "select next file:" 1 leaves it after
// 100 positions on average, so the time per block read is the engine's own
// per-block work (draw, position, read, count, stop rules); past the cache,
// also the span around each block, cut out again.
void timeBlockReads(benchmark::State& state, bool pastCache) {
  Settings s = displayDefaults();
  s.selectNextFile = 1;
  s.readPastCache = pastCache;
  s.bytesToReadAtOnce = static_cast<int32_t>(state.range(0));
  ScanBufferNeed need = scanBufferNeed(s);
  char* buffer = allocateAlignedMemory(need.size);
  prepareScan(s, buffer, need.size, 7);
  ScanState.store(1);
  const std::string path = "R:\\data\\file.bin";
  const std::string name = "file.bin";
  int64_t blocks = 0;
  for (auto _ : state) {
    int64_t before = Scan.checkedBytes;
    checkFile(Readers[0], path, name, int64_t{1} << 30);
    blocks += (Scan.checkedBytes - before) / s.bytesToReadAtOnce;
  }
  state.counters["ns/block"] =
      benchmark::Counter(static_cast<double>(blocks), benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
  releaseAlignedMemory(buffer);
}

void blockReads(benchmark::State& state) { timeBlockReads(state, false); }
BENCHMARK(blockReads)->Arg(1)->Arg(65536)->Unit(benchmark::kMicrosecond);

void blockReadsPastCache(benchmark::State& state) { timeBlockReads(state, true); }
BENCHMARK(blockReadsPastCache)->Arg(1)->Arg(65536)->Unit(benchmark::kMicrosecond);

void countersLine(benchmark::State& state) {
  Settings s = displayDefaults();
  s.measureReadingSpeed = state.range(0) != 0;
  s.stopAfterChecked = 1 << 30;
  s.showCheckedBytesInPercents = s.measureReadingSpeed;
  std::vector<char> buffer(1);
  prepareScan(s, buffer.data(), 1, 7);
  Scan.openErrors = 3;
  Scan.readErrors = 12;
  Scan.currentSpeed = 123456789;
  int64_t checked = 1000;
  for (auto _ : state) {
    Scan.checkedBytes = checked;
    checked = checked * 3 / 2 % 2000000000 + 1;
    Text line = composeCountersLine();
    benchmark::DoNotOptimize(line);
  }
}
BENCHMARK(countersLine)->Arg(0)->Arg(1);

}  // namespace

BENCHMARK_MAIN();
