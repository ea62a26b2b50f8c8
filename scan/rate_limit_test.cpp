// "read rate limit:": the token bucket on a clock the test moves, alone and
// shared by any number of readers, and whole scans held to the rate.
#include <algorithm>

#include "platform/fake/fake.h"
#include "scan/test_support.h"

namespace {

// Readers that each read `block` bytes as soon as the bucket lets them, and
// take `readTime` milliseconds for a read: the bytes whose reads began
// within the first `seconds` seconds.
int64_t bytesReadWithin(int readers, int64_t rate, int64_t block, int64_t readTime, int64_t seconds) {
  TokenBucket bucket;
  bucket.rate = rate;
  std::vector<int64_t> readyAt(static_cast<std::size_t>(readers), 0);
  int64_t bytes = 0;
  for (;;) {
    auto next = std::min_element(readyAt.begin(), readyAt.end());
    int64_t now = *next;
    int64_t wait = takeCredit(bucket, block, now);
    if (now + wait >= seconds * 1000) return bytes;
    bytes += block;
    *next = now + wait + readTime;
  }
}

TEST(TokenBucket, HoldsReadersToTheRate) {
  // However many readers share it, and whether reads take time or not.
  for (int readers : {1, 2, 4, 16, 64}) {
    for (int64_t readTime : {0, 3}) {
      SCOPED_TRACE(std::to_string(readers) + " readers, reads of " + std::to_string(readTime) + " ms");
      int64_t bytes = bytesReadWithin(readers, 20000, 512, readTime, 10);
      // The first take finds no credit; each waiting reader holds one
      // block of debt at most.
      EXPECT_LE(bytes, 20000 * 10 + readers * 512);
      EXPECT_GE(bytes, 20000 * 10 - readers * 512 - 512);
    }
  }
  // Blocks larger than a second's credit are read at the rate too.
  EXPECT_LE(bytesReadWithin(4, 1000, 5000, 0, 60), 1000 * 60 + 4 * 5000);
  EXPECT_GE(bytesReadWithin(4, 1000, 5000, 0, 60), 1000 * 60 - 4 * 5000 - 5000);
}

TEST(TokenBucket, AtMostOneSecondOfCredit) {
  TokenBucket bucket;
  bucket.rate = 1000;
  EXPECT_EQ(takeCredit(bucket, 100, 0), 100);  // no credit at the start
  // A long quiet spell leaves one second of credit, not more: ten blocks
  // of 100 bytes at once, then the eleventh waits for its own time.
  int free = 0;
  while (takeCredit(bucket, 100, 60000) == 0) ++free;
  EXPECT_EQ(free, 10);
  // The debt of the eleventh is paid 100 ms later.
  EXPECT_EQ(takeCredit(bucket, 0, 60100), 0);
  // Milliseconds at a rate below 1000 a second still add up.
  TokenBucket slow;
  slow.rate = 300;
  for (int64_t t = 1; t <= 1000; ++t) takeCredit(slow, 0, t);
  EXPECT_EQ(takeCredit(slow, 300, 1000), 0);
  EXPECT_GT(takeCredit(slow, 1, 1000), 0);
}

TEST(TokenBucket, AClockThatStandsStillOrGoesBackGivesNothing) {
  TokenBucket bucket;
  bucket.rate = 1000;
  bucket.refilledAt = 5000;
  EXPECT_EQ(takeCredit(bucket, 500, 5000), 500);
  EXPECT_EQ(takeCredit(bucket, 0, 4000), 500);  // earlier: no refill
  EXPECT_EQ(takeCredit(bucket, 0, 5500), 0);
}

struct RateLimitedScan : ScanFixture {
  void SetUp() override {
    resetFakePlatform();
    resetScan();
    FakePathText = "R:\\";
    std::vector<ListEntry> entries = {fakeFolderEntry("."), fakeFolderEntry("..")};
    for (int i = 0; i < 40; ++i) {
      std::string name = "f" + std::to_string(i);
      FakeFiles["R:\\" + name].size = 100000;
      entries.push_back(fakeEntry(name.c_str(), 100000));
    }
    FakeFolders["R:\\*.*"] = {entries};
    // Time passes only as the readers wait for credit.
    s.bytesToReadAtOnce = 100;
    s.stopAfterSeconds = 10;
  }
  void TearDown() override { ScanState.store(0); }
};

TEST_F(RateLimitedScan, TenSecondsAtTheRate) {
  for (bool everyFile : {false, true}) {
    SCOPED_TRACE(everyFile ? "every file" : "a walk");
    SetUp();
    s.checkEveryFile = everyFile;
    s.readRateLimit = 2000;
    prepare(6, scanBufferNeed(s).size);
    ASSERT_TRUE(scanEndsByItself(30));
    ScanResult r = scanResult();
    EXPECT_EQ(r.stoppedBy, StopReason::Time);
    EXPECT_GE(r.checkedBytes, 2000 * 10);
    EXPECT_LE(r.checkedBytes, 2000 * 10 + 2 * 100);
  }
}

// Readers of their own would each read at the rate: shared, they read at it
// together. (The scripted clock moves by every reader's wait, so the scan
// reads less than the rate here, never more.)
TEST_F(RateLimitedScan, SeveralReadersShareTheRate) {
  s.checkEveryFile = true;
  s.parallelReads = 8;
  s.readRateLimit = 2000;
  prepare(6, scanBufferNeed(s).size);
  ASSERT_TRUE(scanEndsByItself(30));
  ScanResult r = scanResult();
  EXPECT_EQ(r.stoppedBy, StopReason::Time);
  EXPECT_GT(r.checkedBytes, 0);
  EXPECT_LE(r.checkedBytes, 2000 * 10 + 8 * 100);
}

TEST_F(RateLimitedScan, WithoutALimitNothingWaits) {
  s.checkEveryFile = true;
  s.parallelReads = 4;
  s.stopAfterSeconds = 0;
  s.stopAfterCycles = 3;
  prepare(6, scanBufferNeed(s).size);
  ASSERT_TRUE(scanEndsByItself(30));
  EXPECT_EQ(scanResult().cyclesCompleted, 3);
  EXPECT_EQ(FakePausedMilliseconds, 0);
  EXPECT_EQ(FakeHundredths, 0);  // and the clock was never moved
}

// A stop while a reader waits for its credit ends the wait: the block it
// waited for is read, and nothing more.
TEST_F(RateLimitedScan, AStopEndsAWaitForCredit) {
  s.readRateLimit = 1;  // 100 s for the first block
  s.stopAfterSeconds = 0;
  FakePauseHook = [] { requestScanStop(); };
  prepare(6, scanBufferNeed(s).size);
  runScan();
  EXPECT_EQ(ScanState.load(), 0);
  EXPECT_EQ(scanResult().checkedBytes, 100);
  EXPECT_LT(FakePausedMilliseconds, 1000);
}

}  // namespace
