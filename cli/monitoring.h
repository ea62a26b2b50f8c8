// What the console program hands to monitoring: the --prometheus textfile
// (at the start, every minute of the scan on the monotonic clock, at the
// end) and the --event-log event at the end. One record for the run.
#pragma once

#include <string>

#include "cli/options.h"
#include "common/text.h"
#include "scan/scan.h"
#include "settings/settings.h"

// Before the scan: takes what the run reports on, carries the last clean
// cycle over from an earlier FILE, and writes the first version (running).
// False with the reason when FILE cannot be written: a usage error.
bool startMonitoring(const CommandLine& line, const Text& root, const Settings& s, std::string* problem);

// Whether the main thread has to look in during the scan.
bool monitoringDuringScan();

// Main thread, during the scan: writes the file with the newest counts when
// a minute has passed since the last write. The first failure is told on
// standard error; the scan goes on.
void updateMonitoring();

// After the scan: the file's last version and the event. A failure is told
// on standard error (the file's only when none was told during the scan)
// and changes no exit code.
void finishMonitoring(const ScanResult& result, int exitCode);

// For a FOLDER that cannot be listed (exit code 3): the file with that exit
// code, and a warning event with `message`.
void reportUnlistableRoot(const CommandLine& line, const Text& root, const std::string& message);

// The milliseconds between two writes during the scan: 60000, or the value
// of READSWEEPER_TEST_METRICS_INTERVAL_MS, which the tests set.
int64_t metricsInterval();
