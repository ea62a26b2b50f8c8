#include "platform/clock.h"
#include "platform/window.h"
#include "scan/engine.h"
#include "scan/error_list.h"
#include "scan/scan.h"

std::atomic<int16_t> ScanState{0};
ScanRecord Scan;

namespace {

// Room for deep trees up front, so that passes do not allocate.
constexpr std::size_t kPathReserve = 4096;

// Written once, by the request that stops the scan; read after the worker
// has ended.
std::atomic<StopReason> stopReason{StopReason::None};

// Whether a file was checked since the counters line was last written.
bool countsUnshown = false;

// Set by a front end before the worker exists.
bool readTimesWanted = false;

}  // namespace

// A counter, or the coverage of "check every file", which has no flag of
// its own.
bool countersShown(const Settings& s) {
  return s.showCheckedBytes || s.showReadErrors || s.showOpenErrors || s.checkEveryFile;
}

void keepReadTimes(bool keep) { readTimesWanted = keep; }

bool requestScanStop(StopReason reason) {
  int16_t running = 1;
  if (!ScanState.compare_exchange_strong(running, -1)) return false;
  stopReason.store(reason);
  return true;
}

void prepareScan(const Settings& scanSettings, char* buffer, int64_t bufferSize, uint32_t seed) {
  Scan.settings = scanSettings;
  Scan.buffer = buffer;
  Scan.bufferSize = bufferSize;
  stopReason.store(StopReason::None);
  seedRandom(seed);
}

Text takeRootFolder(const Text& path) {
  Text root = path;
  while (!root.empty() && root.back() != kPathSeparator) root.truncate(root.size() - 1);
  return root;
}

Text scanRootFolder(const Text& pathText, const Settings& s) {
  Text root = takeRootFolder(pathText);
  return root.empty() ? s.defaultInitPath : root;
}

void errorLimitReached() {
  int32_t limit = Scan.settings.stopAfterErrors;
  if (limit > 0 && Scan.openErrors + Scan.readErrors >= limit) requestScanStop(StopReason::Errors);
}

void checkedLimitReached() {
  int64_t limit = Scan.settings.stopAfterChecked;
  if (limit > 0 && Scan.checkedBytes >= limit) requestScanStop(StopReason::Checked);
}

// Reads the clock only when the rule is set.
void timeLimitReached() {
  int32_t limit = Scan.settings.stopAfterSeconds;
  if (limit > 0 && monotonicMilliseconds() - Scan.startedAt >= int64_t{limit} * 1000) {
    requestScanStop(StopReason::Time);
  }
}

void setupScan() {
  const Settings& s = Scan.settings;
  // The edit box is disabled while a scan runs, so it holds the text the
  // start was made with.
  Text root = scanRootFolder(readControlText(Control::PathEdit), s);
  Scan.rootFolder.reserve(kPathReserve);
  Scan.subPath.reserve(kPathReserve);
  Scan.pattern.reserve(2 * kPathReserve);
  Scan.path.reserve(2 * kPathReserve);
  Scan.rootFolder.assign(root.view());
  Scan.subPath.clear();
  Scan.listing = kNoListing;
  Scan.checkedBytes = 0;
  Scan.filesChecked = 0;
  Scan.openErrors = 0;
  Scan.readErrors = 0;
  Scan.slowReads = 0;
  Scan.fileSize = 0;
  Scan.fileDone = 0;
  Scan.timeReads = readTimesWanted || s.slowReadLimit > 0;
  Scan.readTimes = ReadTimes();
  Scan.index.clear();
  Scan.nextFile = 0;
  Scan.cycle = 0;
  Scan.cyclesCompleted = 0;
  Scan.coveredFiles = 0;
  Scan.indexedFiles = 0;
  Scan.ordered = s.checkEveryFile && cycleStateInUse();
  Scan.resumed = false;
  Scan.cycleState = CycleState();
  Scan.startedAt = monotonicMilliseconds();
  Scan.stateWrittenAt = Scan.startedAt;
  Scan.finishedAt = 0;
  Scan.titlePercent = 0;
  Scan.readPosition = 0;
  if (s.measureReadingSpeed) startSpeedMeasurement();
  countsUnshown = false;
  listScanStart(Scan.rootFolder, s);
}

// After a check: a running scan refreshes the counters by chance; a
// stopping one always, so its last counts stay on screen.
void refreshCountersLine() {
  countsUnshown = true;
  if (countersShown(Scan.settings) && (ScanState.load() <= 0 || refreshDraw())) {
    showCountersLine();
    countsUnshown = false;
  }
}

void runPass() {
  const Settings& s = Scan.settings;
  if (s.checkEveryFile) {
    runIndexPass();
  } else {
    PickResult result = pickEntry();
    if (entryQualifies(result, Scan.entry, s)) {
      Scan.path.assign(Scan.rootFolder);
      Scan.path.append(Scan.subPath);
      Scan.path.append(Scan.entry.name);
      checkFile(Scan.path, Scan.entry.name, Scan.entry.size, Scan.unlistedFolderError);
      refreshCountersLine();
    }
    closeListing();
  }
  timeLimitReached();
}

void endScan() {
  Scan.finishedAt = monotonicMilliseconds();
  if (Scan.ordered) saveCycleState();
  listScanEnd(Scan.rootFolder, scanResult());
  closeErrorList();
}

void finishScan() {
  // A list that could not be written is named where the files are.
  Text listFailure = errorListFailure();
  if (listFailure.empty() && Scan.ordered) listFailure = cycleStateFailure();
  if (!listFailure.empty()) setControlText(Control::FileLine, listFailure);
  setControlText(Control::StartButton, "Start");
  enableControl(Control::PathEdit, true);
  showMainWindowNormal();
  ScanState.store(0);
}

void runScan() {
  setupScan();
  // The first pass needs no test: the start has just set the state to 1.
  do {
    runPass();
  } while (ScanState.load() > 0);
  // A stop that came after the last check looked (the user's, or the time
  // rule at the end of a pass) still leaves the final counts on screen.
  if (countersShown(Scan.settings) && countsUnshown) showCountersLine();
  endScan();
  // An index of a large tree takes tens of megabytes; an idle program keeps
  // none of it.
  Scan.index.release();
  finishScan();
}

ScanResult scanResult() {
  ScanResult r;
  r.checkedBytes = Scan.checkedBytes;
  r.filesChecked = Scan.filesChecked;
  r.openErrors = Scan.openErrors;
  r.readErrors = Scan.readErrors;
  int64_t end = Scan.finishedAt != 0 ? Scan.finishedAt : monotonicMilliseconds();
  r.elapsedMilliseconds = end - Scan.startedAt;
  r.stoppedBy = stopReason.load();
  r.cyclesCompleted = Scan.cyclesCompleted;
  r.coveredFiles = Scan.coveredFiles;
  r.indexedFiles = Scan.indexedFiles;
  r.cycle = Scan.cycle;
  r.resumed = Scan.resumed;
  r.slowReadsCounted = Scan.settings.slowReadLimit > 0;
  r.slowReads = Scan.slowReads;
  if (Scan.timeReads) {
    r.readMicrosP50 = readTimeQuantile(Scan.readTimes, 500);
    r.readMicrosP99 = readTimeQuantile(Scan.readTimes, 990);
    r.readMicrosMax = readTimeQuantile(Scan.readTimes, 1000);
  }
  return r;
}

Text composeScanEndMessage(const ScanResult& r) {
  Text message("checked ");
  message.appendInt(r.checkedBytes);
  message.append(" B, files checked ");
  message.appendInt(r.filesChecked);
  message.append(", opening errors ");
  message.appendInt(r.openErrors);
  message.append(", reading errors ");
  message.appendInt(r.readErrors);
  if (r.slowReadsCounted) {
    message.append(", slow reads ");
    message.appendInt(r.slowReads);
  }
  message.append(", ");
  message.appendInt(r.elapsedMilliseconds / 1000);
  message.append(" s");
  return message;
}
