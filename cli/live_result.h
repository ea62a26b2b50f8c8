// The scan's counts while it runs, for the --prometheus file: the worker
// publishes them whenever it hands the console a status text (through the
// hook of status_texts.h), the main
// thread reads the newest whenever it likes; neither waits for the other.
#pragma once

#include <cstdint>

#include "scan/scan.h"

// Where a scan stands at its cycle boundaries, to tell a clean cycle.
struct CycleWatch {
  int64_t cycles = 0;  // cycles completed at the last boundary seen
  int64_t errors = 0;  // opening plus reading errors then
};

// Called with each newer result of one scan, from its start: whether a cycle
// completed since the last boundary seen without an error since that
// boundary. Exact when the first result after each boundary is taken at it.
bool cleanCycleCompleted(CycleWatch* watch, const ScanResult& result);

// The newest counts and the last clean cycle of this scan (Unix
// milliseconds, 0 for none yet).
struct LiveResult {
  ScanResult result;
  int64_t lastCleanCycleMs = 0;
};

// Before the worker starts: nothing published, no clean cycle.
void resetLiveResult();

// Worker thread: publishes the scan's counts now.
void publishLiveResult();

// Main thread: the newest counts published. After the worker has ended it
// takes the final result in first, so that a cycle completed at the very
// end counts.
LiveResult readLiveResult();
void publishFinalResult(const ScanResult& result);

// Now on the wall clock, in milliseconds since the Unix epoch.
int64_t unixMilliseconds();
