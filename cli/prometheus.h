// The --prometheus textfile: the scan's figures in the Prometheus text
// exposition format, for the node exporter's textfile collector, written
// whole and put in place of the old file in one step.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "scan/scan.h"

// What one version of the file tells: the current or the last scan.
struct ScanMetrics {
  std::string root;               // the scanned folder, with its separator
  bool running = false;
  bool everyFile = false;         // the cycle figures come only in that mode
  ScanResult result;              // the counts so far, or the final ones
  int64_t startedAtMs = 0;        // Unix time in milliseconds
  int64_t endedAtMs = 0;          // Unix time; only after the scan
  int exitCode = 0;               // only after the scan
  int64_t lastCleanCycleMs = 0;   // Unix time; 0: no clean cycle yet
};

// The exposition text: # HELP and # TYPE before each metric, every sample
// labelled with root, LF line ends, a final newline, no timestamps.
std::string composeMetrics(const ScanMetrics& m);

// Appends a label value between its quotes: backslash, double quote and
// line feed escaped, and every byte that is not part of a UTF-8 character
// as U+FFFD.
void appendLabelValue(std::string* out, std::string_view bytes);

// The last clean cycle that an earlier text holds for this root, in Unix
// milliseconds; 0 when it holds none.
int64_t lastCleanCycleIn(std::string_view exposition, std::string_view root);

// The last clean cycle recorded in the file at `path` for this root; 0
// when the file or the figure is missing.
int64_t readLastCleanCycle(const std::string& path, std::string_view root);

// Writes `text` into a new file beside `path` ("<path>.tmp"), then puts it
// in the place of `path` in one step, so that a reader finds either the old
// file or the new one, whole. Returns 0 or the system's code.
int writeMetricsFile(const std::string& path, std::string_view text);
