#include <algorithm>
#include <mutex>

#include "platform/clock.h"
#include "platform/priority.h"
#include "platform/window.h"
#include "scan/engine.h"
#include "scan/error_list.h"
#include "scan/scan.h"

std::atomic<int16_t> ScanState{0};
ScanRecord Scan;
Reader Readers[kMostReaders];

namespace {

// Room for deep trees up front, so that passes do not allocate.
constexpr std::size_t kPathReserve = 4096;

// Written once, by the request that stops the scan; read after the worker
// has ended.
std::atomic<StopReason> stopReason{StopReason::None};

// Whether a file was checked since the counters line was last written.
std::atomic<bool> countsUnshown{false};

// Whether a refusal of the background mode was shown in this scan.
std::atomic<bool> backgroundRefusalShown{false};
std::atomic<int> backgroundRefusal{0};

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

int readersOf(const Settings& s) {
  if (!s.checkEveryFile) return 1;
  return s.parallelReads < 1 ? 1 : s.parallelReads > kMostReaders ? kMostReaders : s.parallelReads;
}

// The buffer is cut into one equal part per reader.
void prepareScan(const Settings& scanSettings, char* buffer, int64_t bufferSize, uint32_t seed) {
  Scan.settings = scanSettings;
  Scan.readers = readersOf(scanSettings);
  Scan.buffer = buffer;
  Scan.bufferSize = bufferSize / Scan.readers;
  Scan.seed = seed;
  stopReason.store(StopReason::None);
  for (int i = 0; i < Scan.readers; ++i) {
    Reader& r = Readers[i];
    r.number = i;
    r.random = seededRandom(seed, i);
    r.buffer = buffer + Scan.bufferSize * i;
  }
  Scan.order = seededRandom(seed, kMostReaders);
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
  Scan.rootFolder.assign(root.view());
  for (int i = 0; i < Scan.readers; ++i) {
    Reader& r = Readers[i];
    r.subPath.reserve(kPathReserve);
    r.pattern.reserve(2 * kPathReserve);
    r.path.reserve(2 * kPathReserve);
    r.subPath.clear();
    r.listing = kNoListing;
    r.readPosition = 0;
    r.fileSize = 0;
    r.fileDone = 0;
    r.readTimes = ReadTimes();
  }
  Scan.checkedBytes = 0;
  Scan.filesChecked = 0;
  Scan.openErrors = 0;
  Scan.readErrors = 0;
  Scan.slowReads = 0;
  Scan.timeReads = readTimesWanted || s.slowReadLimit > 0;
  Scan.index.clear();
  Scan.nextFile = 0;
  Scan.finishedFiles = 0;
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
  if (s.measureReadingSpeed) startSpeedMeasurement();
  startRateLimit(s.readRateLimit);
  countsUnshown = false;
  backgroundRefusalShown = false;
  backgroundRefusal = 0;
  listScanStart(Scan.rootFolder, s);
}

// Each reader's thread asks for itself; the first refusal is shown, and the
// scan goes on at normal priority. (Where the I/O scheduler ignores I/O
// classes, the system accepts and nothing changes: that cannot be seen
// from here.)
void enterReaderPriority() {
  if (!Scan.settings.backgroundPriority) return;
  int error = enterBackgroundMode();
  if (error == 0) return;
  int none = 0;
  backgroundRefusal.compare_exchange_strong(none, error);
  if (backgroundRefusalShown.exchange(true)) return;
  Text text("background priority refused, normal priority: ");
  appendErrorAndCode(text, error);
  showInFileLine(text);
}

// After a check: a running scan refreshes the counters by chance; a
// stopping one always, so its last counts stay on screen.
void refreshCountersLine(Reader& reader) {
  countsUnshown = true;
  if (countersShown(Scan.settings) && (ScanState.load() <= 0 || refreshDraw(reader))) {
    showCountersLine(reader);
    countsUnshown = false;
  }
}

void runPass() {
  const Settings& s = Scan.settings;
  Reader& r = Readers[0];
  if (s.checkEveryFile) {
    runIndexPass(r);
  } else {
    PickResult result = pickEntry(r);
    if (entryQualifies(result, r.entry, s)) {
      r.path.assign(Scan.rootFolder);
      r.path.append(r.subPath);
      r.path.append(r.entry.name);
      checkFile(r, r.path, r.entry.name, r.entry.size, r.unlistedFolderError);
      refreshCountersLine(r);
    }
    closeListing(r);
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

// One reader runs on this thread pass by pass, drawing from its one
// generator exactly as the engine always has. Several list the first cycle
// here, then take its files together.
void runScan() {
  setupScan();
  enterReaderPriority();
  if (Scan.readers == 1) {
    // The first pass needs no test: the start has just set the state to 1.
    do {
      runPass();
    } while (ScanState.load() > 0);
  } else if (beginCycle(Readers[0])) {
    runReaders();
  }
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
  r.backgroundRefusal = backgroundRefusal.load();
  r.cycle = Scan.cycle;
  r.resumed = Scan.resumed;
  r.slowReadsCounted = Scan.settings.slowReadLimit > 0;
  r.slowReads = Scan.slowReads;
  if (Scan.timeReads) {
    // The readers' times together; read after they have ended.
    ReadTimes all;
    for (int i = 0; i < Scan.readers; ++i) {
      const ReadTimes& t = Readers[i].readTimes;
      for (int b = 0; b < ReadTimes::kBuckets; ++b) all.counts[b] += t.counts[b];
      all.total += t.total;
      all.longest = std::max(all.longest, t.longest);
    }
    r.readMicrosP50 = readTimeQuantile(all, 500);
    r.readMicrosP99 = readTimeQuantile(all, 990);
    r.readMicrosMax = readTimeQuantile(all, 1000);
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
