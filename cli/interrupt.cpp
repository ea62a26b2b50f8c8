#include "cli/interrupt.h"

#include <atomic>

#include "scan/scan.h"

namespace {

std::atomic<int> interrupts{0};

static_assert(std::atomic<int>::is_always_lock_free, "a signal handler counts interrupts");
static_assert(std::atomic<int16_t>::is_always_lock_free, "a signal handler stops the scan");
static_assert(std::atomic<StopReason>::is_always_lock_free, "a signal handler names the stop");

}  // namespace

bool noteInterrupt() {
  if (interrupts.fetch_add(1) > 0) return true;
  // Does nothing while no scan runs; the start then looks at the count.
  requestScanStop(StopReason::User);
  return false;
}

bool interruptRequested() { return interrupts.load() > 0; }
