// Shared set-up of the engine's tests: a fresh scan record, the default
// settings and a buffer of the block size.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "scan/engine.h"
#include "scan/scan.h"

// FNV-1a over everything a recorded scan did, in order: the record tests
// compare it with digests taken from an earlier engine.
struct Digest {
  uint64_t value = 0xcbf29ce484222325ull;
  void add(std::string_view bytes) {
    for (unsigned char c : bytes) value = (value ^ c) * 0x100000001b3ull;
    value = (value ^ 0xFF) * 0x100000001b3ull;  // ends the piece
  }
  void add(int64_t number) { add(std::to_string(number)); }
};

struct ScanFixture : ::testing::Test {
  Settings s;  // the defaults of the settings record
  std::vector<char> buffer;

  // Hands the scan its settings and a buffer of bytesToReadAtOnce bytes
  // (or `bufferSize` when given), as the start of a scan does.
  void prepare(uint32_t seed = 1, int64_t bufferSize = -1) {
    buffer.assign(static_cast<std::size_t>(bufferSize >= 0 ? bufferSize : s.bytesToReadAtOnce), 0);
    prepareScan(s, buffer.data(), static_cast<int64_t>(buffer.size()), seed);
  }

  // runScan on this thread with a bound on its passes, so that a stop that
  // never comes fails the test instead of hanging it.
  void runScanOfAtMost(int passes) {
    setupScan();
    for (int pass = 0; pass < passes && ScanState.load() > 0; ++pass) runPass();
    endScan();
    ASSERT_EQ(ScanState.load(), -1) << "the scan did not stop by itself";
    finishScan();
  }

  void resetScan() {
    Scan = ScanRecord{};
    for (Reader& r : Readers) r = Reader{};
    ScanState.store(1);
    lastSpeed = 0;
  }
};

// Runs a whole scan on a thread of its own, as the program does, and waits
// for it to end by itself. A scan still running after `seconds` is stopped
// and reported, so a walk that never finds its file fails the test within
// seconds instead of hanging it.
inline ::testing::AssertionResult scanEndsByItself(int seconds = 5) {
  std::thread worker(runScan);
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  while (ScanState.load() != 0 && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  bool ended = ScanState.load() == 0;
  if (!ended) requestScanStop();
  worker.join();
  if (ended) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "the scan was still running after " << seconds << " s";
}
