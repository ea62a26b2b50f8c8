// Reads past the cache on the scripted platform: every block comes in the
// aligned span around it, into an aligned buffer, and counts as it would
// through the cache.
#include <algorithm>
#include <vector>

#include "platform/fake/fake.h"
#include "platform/memory.h"
#include "scan/test_support.h"

namespace {

int64_t alignDown(int64_t value, int64_t alignment) { return value / alignment * alignment; }
int64_t alignUp(int64_t value, int64_t alignment) { return alignDown(value + alignment - 1, alignment); }

struct PastCacheFixture : ScanFixture {
  char* aligned = nullptr;

  void SetUp() override { fresh(); }
  void TearDown() override { releaseAlignedMemory(aligned); }

  void fresh() {
    resetFakePlatform();
    resetScan();
    s = Settings{};
    s.selectNextFile = 100;
  }

  // Hands the scan the buffer that scanBufferNeed asks for, or an aligned
  // one of `size` bytes.
  void prepareNeeded(uint32_t seed, int64_t size = -1) {
    ScanBufferNeed need = scanBufferNeed(s);
    if (!need.aligned && size < 0) {
      prepare(seed, need.size);
      return;
    }
    releaseAlignedMemory(aligned);
    int64_t bytes = size >= 0 ? size : need.size;
    aligned = allocateAlignedMemory(bytes);
    ASSERT_NE(aligned, nullptr);
    prepareScan(s, aligned, bytes, seed);
  }
};

TEST_F(PastCacheFixture, BufferEachScanNeeds) {
  struct Case {
    bool pastCache;
    int32_t block;
    int64_t size;
  } cases[] = {
      {false, 1, 1},
      {false, 65536, 65536},
      {false, 0, 1},  // never below one byte
      // The widest span of a block starts just past a boundary of the
      // coarsest alignment a file may ask for.
      {true, 1, 65536},
      {true, 0, 65536},
      {true, 65536, 131072},
      {true, 65537, 131072},
      {true, 200000, 327680},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.pastCache << " " << c.block);
    Settings settings;
    settings.readPastCache = c.pastCache;
    settings.bytesToReadAtOnce = c.block;
    ScanBufferNeed need = scanBufferNeed(settings);
    EXPECT_EQ(need.size, c.size);
    EXPECT_EQ(need.aligned, c.pastCache);
  }
}

// One block per check: each read must be the aligned span around the block
// drawn, and the block's bytes count in full.
TEST_F(PastCacheFixture, EachReadIsTheAlignedSpanAroundItsBlock) {
  struct Case {
    const char* what;
    uint32_t alignment;
    int64_t size;
    int32_t block;
  } cases[] = {
      {"1-byte blocks", 4096, 100000, 1},
      {"64 KiB blocks", 4096, 1 << 20, 65536},
      {"64 KiB blocks on 64 KiB units", 65536, 1 << 20, 65536},
      {"blocks straddling a boundary", 4096, 20000, 5000},
      {"a last unit that is partly the file's", 4096, 4096 + 3000, 100},
      {"a block that is the whole file", 4096, 10000, 10000},
      {"a file shorter than one unit", 4096, 100, 100},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    fresh();
    s.readPastCache = true;
    s.bytesToReadAtOnce = c.block;
    FakeFiles["R:\\f"].size = c.size;
    FakeFiles["R:\\f"].alignment = c.alignment;
    prepareNeeded(5);
    const int checks = 300;
    int straddling = 0, reachingTheEnd = 0;
    for (int i = 0; i < checks; ++i) {
      checkFile(Readers[0], "R:\\f", "f", c.size);
      ASSERT_EQ(FakeReads.size(), static_cast<std::size_t>(i + 1));
      const FakeRead& r = FakeReads.back();
      int64_t length = std::min<int64_t>(c.block, c.size);
      int64_t start = alignDown(Readers[0].readPosition, c.alignment);
      int64_t end = alignUp(Readers[0].readPosition + length, c.alignment);
      EXPECT_TRUE(r.unbuffered);
      ASSERT_EQ(r.position, start);
      ASSERT_EQ(r.asked, end - start);
      EXPECT_EQ(r.got, std::min(end, c.size) - start);
      if (end - start > alignUp(length, c.alignment)) ++straddling;
      if (end >= c.size) ++reachingTheEnd;
    }
    EXPECT_EQ(FakeMisalignedReads, 0);
    EXPECT_EQ(Scan.readErrors, 0);
    EXPECT_EQ(Scan.checkedBytes, int64_t{checks} * std::min<int64_t>(c.block, c.size));
    // The rows that are about these cases meet them.
    if (c.block == 5000) {
      EXPECT_GT(straddling, 0);
    }
    if (c.size <= c.block || c.size % c.alignment != 0) {
      EXPECT_GT(reachingTheEnd, 0);
    }
    EXPECT_EQ(FakeOpenFiles, 0);
  }
}

// What each check left behind, to compare two scans check by check.
struct CheckCounts {
  int64_t checked, openErrors, readErrors, position;
  bool operator==(const CheckCounts& o) const {
    return checked == o.checked && openErrors == o.openErrors && readErrors == o.readErrors && position == o.position;
  }
};

struct Scenario {
  const char* what;
  FakeFile file;
  bool present;
  int64_t listedSize;
  int32_t block;
  int32_t repeatRead;
  uint8_t selectNextFile;
  bool skipSmallFiles;
};

// The same scenario with and without the flag, from the same seed, must
// give the same counts after every check: the flag changes how a block is
// read, never what it counts.
TEST_F(PastCacheFixture, CountsEqualThoseThroughTheCache) {
  FakeFile healthy;
  healthy.size = 100000;
  FakeFile truncated = healthy;
  truncated.size = 30001;  // listed larger than it now is
  FakeFile noPositioning;
  noPositioning.size = 3000;
  noPositioning.failPositioning = true;
  FakeFile small;
  small.size = 60;
  FakeFile failingInTheBlock;
  failingInTheBlock.size = 64;
  failingInTheBlock.failReadAfter = 20;
  FakeFile inPieces;
  inPieces.size = 1 << 20;
  inPieces.maxPerRead = 65536;
  FakeFile coarse = healthy;
  coarse.alignment = 65536;
  const Scenario scenarios[] = {
      {"healthy, 1-byte blocks", healthy, true, 100000, 1, 1, 100, false},
      {"healthy, several positions and repeats", healthy, true, 100000, 3000, 3, 30, false},
      {"healthy, 64 KiB units", coarse, true, 100000, 5000, 2, 50, false},
      {"truncated after listing", truncated, true, 100000, 1000, 2, 20, false},
      // Each read goes on where the one before it ended, soon at the end.
      {"positioning always fails", noPositioning, true, 3000, 700, 3, 20, false},
      // Positions at or before the start: a negative one fails to position,
      // and the read goes on from where the last one ended.
      {"smaller than the block", small, true, 60, 100, 3, 50, true},
      {"a read failing inside the block", failingInTheBlock, true, 64, 64, 2, 100, false},
      {"a span taken in several platform reads", inPieces, true, 1 << 20, 200000, 1, 50, false},
      {"the file cannot be opened", healthy, false, 5000, 100, 2, 50, false},
  };
  for (const Scenario& c : scenarios) {
    SCOPED_TRACE(c.what);
    std::vector<CheckCounts> byMode[2];
    for (int pastCache = 0; pastCache < 2; ++pastCache) {
      fresh();
      if (c.present) FakeFiles["R:\\f"] = c.file;
      s.readPastCache = pastCache != 0;
      s.bytesToReadAtOnce = c.block;
      s.repeatRead = c.repeatRead;
      s.selectNextFile = c.selectNextFile;
      s.skipSmallFiles = c.skipSmallFiles;
      s.scanAllFiles = c.skipSmallFiles;
      prepareNeeded(17);
      for (int i = 0; i < 200; ++i) {
        checkFile(Readers[0], "R:\\f", "f", c.listedSize);
        byMode[pastCache].push_back({Scan.checkedBytes, Scan.openErrors, Scan.readErrors, Readers[0].readPosition});
      }
      EXPECT_EQ(FakeMisalignedReads, 0);
      EXPECT_EQ(FakeOpenFiles, 0);
    }
    auto differ = std::mismatch(byMode[0].begin(), byMode[0].end(), byMode[1].begin());
    if (differ.first != byMode[0].end()) {
      ADD_FAILURE() << "check " << (differ.first - byMode[0].begin()) << ": checked " << differ.first->checked << "/"
                    << differ.second->checked << ", errors " << differ.first->openErrors << "+"
                    << differ.first->readErrors << "/" << differ.second->openErrors << "+"
                    << differ.second->readErrors;
    }
    EXPECT_GT(byMode[1].back().checked + byMode[1].back().openErrors, 0) << "the scenario did nothing";
  }
}

// The disk cannot read less than a unit: a failure next to the block, in
// the part of the span the block does not need, is the block's failure.
TEST_F(PastCacheFixture, AFailureAnywhereInTheSpanIsTheBlocks) {
  for (bool pastCache : {false, true}) {
    SCOPED_TRACE(pastCache);
    fresh();
    s.readPastCache = pastCache;
    s.bytesToReadAtOnce = 100;
    // Listed with 101 bytes, so the one position is 0 and the span is the
    // first unit; the file fails to read from its byte 3000 on.
    FakeFiles["R:\\f"].size = 8192;
    FakeFiles["R:\\f"].failReadAfter = 3000;
    prepareNeeded(1);
    checkFile(Readers[0], "R:\\f", "f", 101);
    EXPECT_EQ(Readers[0].readPosition, 0);
    EXPECT_EQ(Scan.checkedBytes, 100);
    EXPECT_EQ(Scan.readErrors, pastCache ? 1 : 0);  // failed, but not short
  }
}

// A buffer smaller than the settings ask for keeps every span within it.
TEST_F(PastCacheFixture, NoSpanIsLargerThanTheBuffer) {
  s.readPastCache = true;
  s.bytesToReadAtOnce = 100000;
  FakeFiles["R:\\f"].size = 1 << 20;
  prepareNeeded(9, 2 * int64_t{kLargestAlignment});
  for (int i = 0; i < 50; ++i) checkFile(Readers[0], "R:\\f", "f", 1 << 20);
  for (const FakeRead& r : FakeReads) EXPECT_LE(r.asked, 2u * kLargestAlignment);
  EXPECT_EQ(Scan.checkedBytes, 50 * (int64_t{kLargestAlignment} + 1));
  EXPECT_EQ(Scan.readErrors, 0);
  EXPECT_EQ(FakeMisalignedReads, 0);
}

}  // namespace
