// Shared set-up of the engine's tests: a fresh scan record, the default
// settings and a buffer of the block size.
#pragma once

#include <gtest/gtest.h>

#include <vector>

#include "scan/engine.h"
#include "scan/scan.h"

struct ScanFixture : ::testing::Test {
  Settings s;  // the defaults of the settings record
  std::vector<char> buffer;

  // Hands the scan its settings and a buffer of bytesToReadAtOnce bytes
  // (or `bufferSize` when given), as the start of a scan does.
  void prepare(uint32_t seed = 1, int64_t bufferSize = -1) {
    buffer.assign(static_cast<std::size_t>(bufferSize >= 0 ? bufferSize : s.bytesToReadAtOnce), 0);
    prepareScan(s, buffer.data(), static_cast<int64_t>(buffer.size()), seed);
  }

  void resetScan() {
    Scan = ScanRecord{};
    ScanState.store(1);
    lastSpeed = 0;
  }
};
