#include "cli/live_result.h"

#include <atomic>
#include <chrono>

namespace {

// A sequence lock: the writer makes the count odd, stores, makes it even;
// a reader retries until it read the same even count before and after.
// Every field is an atomic of its own, so a torn read is retried, never a
// data race; all in the one sequentially consistent order (no fences, which
// ThreadSanitizer cannot follow). One writer at a time: the worker, or the
// main thread after it.
std::atomic<uint64_t> sequence{0};
std::atomic<int64_t> checkedBytes{0}, filesChecked{0}, openErrors{0}, readErrors{0}, elapsed{0};
std::atomic<int64_t> cyclesCompleted{0}, coveredFiles{0}, indexedFiles{0}, cleanCycleAt{0};

// Touched only by the one writer.
CycleWatch watch;

void publish(const ScanResult& r) {
  bool clean = cleanCycleCompleted(&watch, r);
  uint64_t s = sequence.load();  // only this writer changes it
  sequence.store(s + 1);
  if (clean) cleanCycleAt.store(unixMilliseconds());
  checkedBytes.store(r.checkedBytes);
  filesChecked.store(r.filesChecked);
  openErrors.store(r.openErrors);
  readErrors.store(r.readErrors);
  elapsed.store(r.elapsedMilliseconds);
  cyclesCompleted.store(r.cyclesCompleted);
  coveredFiles.store(r.coveredFiles);
  indexedFiles.store(r.indexedFiles);
  sequence.store(s + 2);
}

}  // namespace

// The engine's every-file mode hands the console a text at the start of
// each cycle's listing, before any of its errors, and the counters line
// after a cycle's last file; so the first result after a boundary is taken
// at the boundary. The walk completes no cycles, and never has a clean one.
bool cleanCycleCompleted(CycleWatch* w, const ScanResult& r) {
  if (r.cyclesCompleted == w->cycles) return false;
  int64_t errors = r.openErrors + r.readErrors;
  bool clean = r.cyclesCompleted > w->cycles && errors == w->errors;
  w->cycles = r.cyclesCompleted;
  w->errors = errors;
  return clean;
}

void resetLiveResult() {
  watch = CycleWatch();
  cleanCycleAt.store(0);
  publish(ScanResult());
}

void publishLiveResult() { publish(scanResult()); }

void publishFinalResult(const ScanResult& result) { publish(result); }

LiveResult readLiveResult() {
  LiveResult live;
  ScanResult& r = live.result;
  for (;;) {
    uint64_t before = sequence.load();
    r.checkedBytes = checkedBytes.load();
    r.filesChecked = filesChecked.load();
    r.openErrors = openErrors.load();
    r.readErrors = readErrors.load();
    r.elapsedMilliseconds = elapsed.load();
    r.cyclesCompleted = cyclesCompleted.load();
    r.coveredFiles = coveredFiles.load();
    r.indexedFiles = indexedFiles.load();
    live.lastCleanCycleMs = cleanCycleAt.load();
    if ((before & 1) == 0 && sequence.load() == before) return live;
  }
}

int64_t unixMilliseconds() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
}
