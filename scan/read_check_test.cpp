#include <algorithm>

#include "platform/fake/fake.h"
#include "scan/test_support.h"

namespace {

struct ReadCheckFixture : ScanFixture {
  void SetUp() override {
    resetFakePlatform();
    resetScan();
    s.selectNextFile = 100;  // one position per file unless a test says otherwise
  }
  void check(const char* path, int64_t size) {
    std::string p(path);
    checkFile(Readers[0], p, "name", size);
  }
};

struct CounterCase {
  const char* what;
  FakeFile file;
  bool present;
  int64_t openErrors;
  int64_t readErrors;
  int64_t checked;
  std::size_t platformReads;
};

// One block of a 64-byte file read as one 64-byte block: the position is
// always 0, so each row is exact.
TEST_F(ReadCheckFixture, CountersOfOneBlockRead) {
  FakeFile healthy;
  healthy.size = 64;
  FakeFile truncated = healthy;
  truncated.size = 40;
  FakeFile noPositioning = healthy;
  noPositioning.failPositioning = true;
  FakeFile failing = healthy;
  failing.failReadAfter = 20;
  FakeFile failingAtOnce = healthy;
  failingAtOnce.failReadAfter = 0;
  FakeFile inPieces = healthy;
  inPieces.maxPerRead = 16;
  const CounterCase cases[] = {
      {"positioned and read in full", healthy, true, 0, 0, 64, 1},
      {"file truncated after listing", truncated, true, 0, 1, 40, 2},
      {"positioning fails, read succeeds", noPositioning, true, 0, 1, 64, 1},
      {"read fails after some bytes", failing, true, 0, 2, 20, 1},
      {"read fails at once", failingAtOnce, true, 0, 2, 0, 1},
      {"a block taken in several platform reads", inPieces, true, 0, 0, 64, 4},
      {"the file cannot be opened", healthy, false, 1, 3, 0, 0},
  };
  for (const CounterCase& c : cases) {
    SCOPED_TRACE(c.what);
    resetFakePlatform();
    resetScan();
    if (c.present) FakeFiles["R:\\f"] = c.file;
    s.bytesToReadAtOnce = 64;
    prepare();
    check("R:\\f", 64);
    EXPECT_EQ(Scan.openErrors, c.openErrors);
    EXPECT_EQ(Scan.readErrors, c.readErrors);
    EXPECT_EQ(Scan.checkedBytes, c.checked);
    EXPECT_EQ(FakeReads.size(), c.platformReads);
    EXPECT_EQ(FakeOpenFiles, 0);
    EXPECT_EQ(ScanState.load(), 1);
  }
}

TEST_F(ReadCheckFixture, PositionsLeaveOutTheBlockEndingAtTheLastByte) {
  FakeFiles["R:\\f"].size = 1000;
  s.bytesToReadAtOnce = 100;
  prepare(7);
  int64_t lowest = 1000, highest = -1;
  for (int i = 0; i < 20000; ++i) {
    check("R:\\f", 1000);
    lowest = std::min(lowest, Readers[0].readPosition);
    highest = std::max(highest, Readers[0].readPosition);
  }
  EXPECT_EQ(lowest, 0);
  EXPECT_EQ(highest, 899);
  EXPECT_EQ(Scan.readErrors, 0);
  EXPECT_EQ(Scan.checkedBytes, 20000 * 100);
}

TEST_F(ReadCheckFixture, SmallFileIsReadWholeFromTheStart) {
  FakeFiles["R:\\f"].size = 60;
  s.bytesToReadAtOnce = 100;
  s.selectNextFile = 50;
  prepare();
  for (int i = 0; i < 50; ++i) check("R:\\f", 60);
  for (const FakeRead& r : FakeReads) {
    EXPECT_EQ(r.position, 0);
    EXPECT_EQ(r.asked, 60u);
  }
  EXPECT_EQ(Scan.readErrors, 0);
}

// A file smaller than the block reaches the check only under "scan all
// files" with small files skipped: positions fall at or before the start,
// every read is short, and a negative position also fails to position.
TEST_F(ReadCheckFixture, BlockLargerThanTheFile) {
  FakeFiles["R:\\f"].size = 60;
  s.bytesToReadAtOnce = 100;
  s.skipSmallFiles = true;
  s.scanAllFiles = true;
  prepare(3);
  int negative = 0, atZero = 0;
  for (int i = 0; i < 200; ++i) {
    int64_t errorsBefore = Scan.readErrors;
    check("R:\\f", 60);
    ASSERT_GE(Readers[0].readPosition, -39);
    ASSERT_LE(Readers[0].readPosition, 0);
    EXPECT_EQ(Scan.readErrors - errorsBefore, Readers[0].readPosition < 0 ? 2 : 1);
    (Readers[0].readPosition < 0 ? negative : atZero)++;
  }
  EXPECT_GT(negative, 0);
  EXPECT_GT(atZero, 0);
}

TEST_F(ReadCheckFixture, RepeatsReadTheSamePosition) {
  FakeFiles["R:\\f"].size = 1000;
  s.bytesToReadAtOnce = 100;
  s.repeatRead = 3;
  prepare();
  check("R:\\f", 1000);
  ASSERT_EQ(FakeReads.size(), 3u);
  EXPECT_EQ(FakeReads[1].position, FakeReads[0].position);
  EXPECT_EQ(FakeReads[2].position, FakeReads[0].position);
  EXPECT_EQ(Scan.checkedBytes, 300);
}

TEST_F(ReadCheckFixture, EmptyFileIsOpenedAndClosedWithoutReading) {
  FakeFiles["R:\\f"].size = 0;
  prepare();
  check("R:\\f", 0);
  EXPECT_EQ(FakeOpens.size(), 1u);
  EXPECT_TRUE(FakeReads.empty());
  EXPECT_EQ(Scan.readErrors + Scan.openErrors, 0);
  EXPECT_EQ(FakeOpenFiles, 0);
}

TEST_F(ReadCheckFixture, NoBlockIsLargerThanTheBuffer) {
  FakeFiles["R:\\f"].size = 1000;
  s.bytesToReadAtOnce = 64;
  prepare(1, 32);  // a buffer smaller than the settings ask for
  for (int i = 0; i < 20; ++i) check("R:\\f", 1000);
  for (const FakeRead& r : FakeReads) EXPECT_LE(r.asked, 32u);
  EXPECT_EQ(Scan.checkedBytes, 20 * 32);
}

TEST_F(ReadCheckFixture, BlocksAboveSixteenBitsAreReadWhole) {
  FakeFiles["R:\\f"].size = 1 << 20;
  FakeFiles["R:\\f"].maxPerRead = 65535;
  s.bytesToReadAtOnce = 200000;
  prepare();
  check("R:\\f", 1 << 20);
  EXPECT_EQ(Scan.checkedBytes, 200000);
  EXPECT_EQ(Scan.readErrors, 0);
  EXPECT_EQ(FakeReads.size(), 4u);
}

// Stop-rule order and what a requested stop still lets happen.
struct StopCase {
  const char* what;
  bool unopenable;
  bool failPositioning;
  int32_t stopAfterErrors;
  int32_t stopAfterChecked;
  int32_t repeatRead;
  uint8_t selectNextFile;
  bool stoppedBefore;  // the stop was requested while the walk ran
  std::size_t platformReads;
  int64_t checked;
  int64_t readErrors;
};

TEST_F(ReadCheckFixture, StopRules) {
  const StopCase cases[] = {
      // The error rule fires right after the failed open; one block read of
      // the file still happens and adds its three reading errors.
      {"one error allowed, unopenable file", true, false, 1, 0, 5, 1, false, 0, 0, 3},
      // The error rule after a read sees its error before its bytes count.
      {"a reading error ends the repeats", false, true, 1, 0, 5, 1, false, 1, 64, 1},
      {"checked limit ends the repeats", false, false, 0, 100, 5, 1, false, 2, 128, 0},
      {"checked limit ends the positions", false, false, 0, 100, 1, 1, false, 2, 128, 0},
      {"stop during the walk still reads one block", false, false, 0, 0, 3, 1, true, 1, 64, 0},
      {"no limits: all repeats at one position", false, false, 0, 0, 3, 100, false, 3, 192, 0},
  };
  for (const StopCase& c : cases) {
    SCOPED_TRACE(c.what);
    resetFakePlatform();
    resetScan();
    if (!c.unopenable) {
      FakeFiles["R:\\f"].size = 1000;
      FakeFiles["R:\\f"].failPositioning = c.failPositioning;
    }
    s.bytesToReadAtOnce = 64;
    s.stopAfterErrors = c.stopAfterErrors;
    s.stopAfterChecked = c.stopAfterChecked;
    s.repeatRead = c.repeatRead;
    s.selectNextFile = c.selectNextFile;
    prepare(11);
    if (c.stoppedBefore) ScanState.store(-1);
    check("R:\\f", 1000);
    EXPECT_EQ(FakeReads.size(), c.platformReads);
    EXPECT_EQ(Scan.checkedBytes, c.checked);
    EXPECT_EQ(Scan.readErrors, c.readErrors);
    EXPECT_EQ(ScanState.load(), c.stopAfterErrors || c.stopAfterChecked || c.stoppedBefore ? -1 : 1);
    EXPECT_EQ(FakeOpenFiles, 0);
  }
}

// The title shows a share of the checked-bytes limit: without a limit there
// is none to show, whatever "show checked bytes in percents" asks.
TEST_F(ReadCheckFixture, PercentagesWithoutALimitWriteNoTitle) {
  FakeFiles["R:\\f"].size = 1000;
  s.bytesToReadAtOnce = 64;
  s.selectNextFile = 20;
  s.showCheckedBytesInPercents = true;
  s.stopAfterChecked = 0;
  prepare(5);
  for (int i = 0; i < 10; ++i) check("R:\\f", 1000);
  EXPECT_GT(Scan.checkedBytes, 10 * 64);
  EXPECT_TRUE(WindowLog.empty());
}

TEST_F(ReadCheckFixture, ErrorLimitCountsOpeningAndReadingErrorsTogether) {
  s.stopAfterErrors = 5;
  s.selectNextFile = 100;
  prepare();
  check("R:\\missing", 100);  // 1 + 3 errors: below the limit
  EXPECT_EQ(ScanState.load(), 1);
  check("R:\\missing", 100);  // the open makes 5
  EXPECT_EQ(ScanState.load(), -1);
  EXPECT_EQ(Scan.openErrors, 2);
  EXPECT_EQ(Scan.readErrors, 6);
}

}  // namespace
