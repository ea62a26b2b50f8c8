// "read rate limit:": one token bucket shared by all readers. Each block
// takes its bytes before it is read; a reader whose take goes past the
// credit leaves a debt and waits until the refill has paid it, so the
// readers together read at the rate however many they are. The bucket
// holds at most one second of credit: a scan that was held up (a slow
// disk, a long file open) catches up by one second's worth at most.
//
// Without a limit nothing here runs: the read check tests the setting
// first, and no clock is read and no lock taken per block.
#include <algorithm>
#include <mutex>

#include "platform/clock.h"
#include "scan/engine.h"
#include "scan/scan.h"

namespace {

// The longest single sleep: a stop is seen within it.
constexpr int64_t kLongestWait = 100;

TokenBucket Bucket;
std::mutex bucketLock;

}  // namespace

// Credit is kept in thousandths of a byte, so that a refill of any number of
// milliseconds at any rate is exact: rate bytes a second are rate
// thousandths a millisecond.
int64_t takeCredit(TokenBucket& b, int64_t bytes, int64_t now) {
  int64_t full = b.rate * 1000;
  // A debt is paid before credit grows. The refill is counted up to about
  // 70 minutes, which pays any debt a reader could have waited for, and
  // keeps the product inside 64 bits at any rate up to 2^40 a second.
  int64_t elapsed = std::clamp<int64_t>(now - b.refilledAt, 0, int64_t{1} << 22);
  b.refilledAt = std::max(b.refilledAt, now);
  b.credit = std::min(full, b.credit + elapsed * b.rate);
  b.credit -= bytes * 1000;
  if (b.credit >= 0) return 0;
  // The debt in milliseconds, rounded up.
  return (-b.credit + b.rate - 1) / b.rate;
}

void startRateLimit(int64_t rate) {
  std::lock_guard<std::mutex> held(bucketLock);
  Bucket = TokenBucket{};
  Bucket.rate = rate;
  if (rate > 0) Bucket.refilledAt = monotonicMilliseconds();
}

// The wait is slept in slices, so that a stop ends it; the block is then
// read all the same, as the last one of the reader.
void awaitReadCredit(int64_t bytes) {
  int64_t wait = 0;
  {
    std::lock_guard<std::mutex> held(bucketLock);
    wait = takeCredit(Bucket, bytes, monotonicMilliseconds());
  }
  int64_t until = monotonicMilliseconds() + wait;
  for (;;) {
    int64_t left = until - monotonicMilliseconds();
    if (left <= 0 || ScanState.load() <= 0) return;
    pauseMilliseconds(std::min(left, kLongestWait));
  }
}
