// What the window side needs of the scan engine: the run-state handshake,
// handing a scan its settings and buffer, the worker's entry, and the two
// texts of the window that are not progress.
#pragma once

#include <atomic>
#include <cstdint>

#include "common/text.h"
#include "settings/settings.h"

// 0 idle, 1 scanning, -1 stop requested (the worker is winding down).
extern std::atomic<int16_t> ScanState;

// What ended a scan: the user (Stop, Ctrl-C, the end of the program), one
// of the stop rules, or an error list that could not be written.
enum class StopReason : uint8_t { None, User, Errors, Checked, Time, Cycles, ErrorList };

// Asks a running scan to stop: stores -1 only while the state is 1, so a
// stop can never leave -1 behind after the worker has ended. Returns whether
// it stored; the first request that stored gives the reason. Used by the
// stop rules and by the user's Stop alike.
bool requestScanStop(StopReason reason = StopReason::User);

// Last positive reading speed in bytes per second; kept across scans. Set
// to 0 at start-up, then touched only by the scans' readers.
extern std::atomic<int64_t> lastSpeed;

// Hands the next scan what it works with; called on the GUI thread before
// the worker exists. The scan reads `settings` (its own copy, so reloading
// the process-wide record never races with it), reads blocks of at most
// `bufferSize` bytes into `buffer` (see scanBufferNeed), and seeds the
// random generator.
void prepareScan(const Settings& settings, char* buffer, int64_t bufferSize, uint32_t seed);

// Whether the next scans time every block read for the figures of
// ScanResult (the console program's JSON); a scan with "slow read limit:"
// times them anyway. Called before the worker exists; off at start-up.
void keepReadTimes(bool keep);

// The block size of "read whole files": "bytes to read at once:" from 64 KiB
// up, 1 MiB below it; past the cache rounded down to a multiple of 64 KiB,
// so that every block but the file's last is a whole aligned span.
int64_t wholeFileBlockSize(const Settings& settings);

// The buffer a scan with these settings reads into: `size` bytes, from
// allocateAlignedMemory (platform/memory.h) when `aligned`, which reads past
// the cache need; otherwise from any allocation.
struct ScanBufferNeed {
  int64_t size = 0;
  bool aligned = false;
};
ScanBufferNeed scanBufferNeed(const Settings& settings);

// The root folder a scan of the path text works under: the path up to its
// last separator, or "default init path:" when it has none.
Text scanRootFolder(const Text& pathText, const Settings& settings);

// The worker thread's whole work: setup, passes while ScanState is 1 (with
// several readers, their threads started and waited for), then the window
// given back and ScanState set to 0 as its last act.
void runScan();

// What a scan did: read on another thread only after the worker has ended,
// or by the worker itself.
struct ScanResult {
  int64_t checkedBytes = 0;
  int64_t filesChecked = 0;     // files handed to the read check
  int64_t openErrors = 0;
  int64_t readErrors = 0;
  int64_t elapsedMilliseconds = 0;
  StopReason stoppedBy = StopReason::None;
  // "check every file": cycles completed, and the files checked of the
  // current cycle's index.
  int64_t cyclesCompleted = 0;
  int64_t coveredFiles = 0;
  int64_t indexedFiles = 0;
  // With "background priority": the system's code when it refused the
  // background mode to a reader, which then read at normal priority.
  int backgroundRefusal = 0;
  // The number of the cycle under way or ended last (0 before the first),
  // and whether the scan took up a cycle from its cycle state file.
  int64_t cycle = 0;
  bool resumed = false;
  // "slow read limit:": whether it was on, and the block reads over it.
  bool slowReadsCounted = false;
  int64_t slowReads = 0;
  // Block-read times in microseconds when they were kept: the median, the
  // 99th percentile and the longest; -1 when not kept or none was timed.
  int64_t readMicrosP50 = -1;
  int64_t readMicrosP99 = -1;
  int64_t readMicrosMax = -1;
};
ScanResult scanResult();

// "checked <bytes> B, files checked <n>, opening errors <n>, reading errors
// <n>, <seconds> s": exact bytes, whole seconds, whatever the display flags;
// ", slow reads <n>" after the reading errors when the limit was on.
Text composeScanEndMessage(const ScanResult& result);

// The settings summary for SettingsLine; empty when "show setup" is off.
Text composeSettingsSummary(const Settings& settings);

// Writes the summary into SettingsLine.
void refreshSettingsLine(const Settings& settings);

// "version 0.03.4"
Text versionText();
