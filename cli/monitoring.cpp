#include "cli/monitoring.h"

#include <cstdlib>

#include "cli/console.h"
#include "cli/event_log.h"
#include "cli/live_result.h"
#include "cli/prometheus.h"
#include "cli/report.h"
#include "cli/status_texts.h"
#include "platform/clock.h"
#include "platform/files.h"

namespace {

constexpr int64_t kMetricsInterval = 60 * 1000;

struct Monitoring {
  std::string file;            // --prometheus; empty: none
  bool eventLog = false;
  ScanMetrics metrics;
  std::string errorList;
  int64_t startedAt = 0;       // monotonic milliseconds
  int64_t nextWriteAt = 0;
  int64_t interval = kMetricsInterval;
  int64_t earlierCleanCycleMs = 0;
  bool failureTold = false;
};

Monitoring M;

void tell(const std::string& message) { writeStandardError("readsweeper-cli: " + message + "\n"); }

std::string errorWords(int code) {
  std::string words(errorText(code).view());
  if (!words.empty() && words.back() == '.') words.pop_back();
  return words + " (error " + std::to_string(code) + ")";
}

void take(const CommandLine& line, const Text& root, bool everyFile) {
  M.file = line.prometheusFile;
  M.eventLog = line.eventLog;
  M.metrics = ScanMetrics();
  M.metrics.root = std::string(root.view());
  M.metrics.everyFile = everyFile;
  M.metrics.startedAtMs = unixMilliseconds();
  M.startedAt = monotonicMilliseconds();
  M.interval = metricsInterval();
  M.failureTold = false;
  if (!M.file.empty()) M.earlierCleanCycleMs = readLastCleanCycle(M.file, M.metrics.root);
  M.metrics.lastCleanCycleMs = M.earlierCleanCycleMs;
}

// A clean cycle of this scan is newer than any of an earlier one.
void takeLive(const LiveResult& live) {
  M.metrics.result = live.result;
  M.metrics.lastCleanCycleMs = live.lastCleanCycleMs != 0 ? live.lastCleanCycleMs : M.earlierCleanCycleMs;
}

int writeMetrics() { return writeMetricsFile(M.file, composeMetrics(M.metrics)); }

// Once in a run: a disk that is full stays full, and the scan goes on.
void tellMetricsFailure(int error) {
  if (M.failureTold) return;
  tell("cannot write \"" + M.file + "\": " + errorWords(error));
  M.failureTold = true;
}

void writeEventOf(EventKind kind, const std::string& text) {
  int error = writeEvent(kind, text);
  if (error != 0) tell("cannot write the event: " + errorWords(error));
}

}  // namespace

int64_t metricsInterval() {
  const char* hook = std::getenv("READSWEEPER_TEST_METRICS_INTERVAL_MS");
  if (hook == nullptr) return kMetricsInterval;
  long long value = std::strtoll(hook, nullptr, 10);
  return value > 0 ? value : kMetricsInterval;
}

bool startMonitoring(const CommandLine& line, const Text& root, const Settings& s, std::string* problem) {
  take(line, root, s.checkEveryFile);
  M.errorList = std::string(s.errorList.view());
  if (M.file.empty()) return true;
  resetLiveResult();
  setStatusTextHook(publishLiveResult);
  M.metrics.running = true;
  int error = writeMetrics();
  if (error != 0) {
    *problem = "--prometheus: cannot write \"" + M.file + "\": " + errorWords(error);
    return false;
  }
  M.nextWriteAt = monotonicMilliseconds() + M.interval;
  return true;
}

bool monitoringDuringScan() { return !M.file.empty(); }

void updateMonitoring() {
  if (M.file.empty() || monotonicMilliseconds() < M.nextWriteAt) return;
  takeLive(readLiveResult());
  // The counts are as of the worker's last text; the time is now.
  M.metrics.result.elapsedMilliseconds = monotonicMilliseconds() - M.startedAt;
  int error = writeMetrics();
  if (error != 0) tellMetricsFailure(error);
  M.nextWriteAt = monotonicMilliseconds() + M.interval;
}

void finishMonitoring(const ScanResult& result, int exitCode) {
  if (!M.file.empty()) {
    publishFinalResult(result);
    takeLive(readLiveResult());
    M.metrics.result = result;
    M.metrics.running = false;
    M.metrics.endedAtMs = unixMilliseconds();
    M.metrics.exitCode = exitCode;
    int error = writeMetrics();
    if (error != 0) tellMetricsFailure(error);
  }
  if (M.eventLog) writeEventOf(eventKindOf(result), composeEventText(result, M.errorList));
}

void reportUnlistableRoot(const CommandLine& line, const Text& root, const std::string& message) {
  take(line, root, false);
  if (!M.file.empty()) {
    M.metrics.endedAtMs = M.metrics.startedAtMs;
    M.metrics.exitCode = kExitUnlistable;
    int error = writeMetrics();
    if (error != 0) tellMetricsFailure(error);
  }
  if (M.eventLog) writeEventOf(EventKind::Incomplete, message);
}
