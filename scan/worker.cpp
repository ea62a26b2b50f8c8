#include "platform/window.h"
#include "scan/engine.h"
#include "scan/scan.h"

std::atomic<int16_t> ScanState{0};
ScanRecord Scan;

namespace {

// Room for deep trees up front, so that passes do not allocate.
constexpr std::size_t kPathReserve = 4096;

bool countersShown(const Settings& s) {
  return s.showCheckedBytes || s.showReadErrors || s.showOpenErrors;
}

}  // namespace

bool requestScanStop() {
  int16_t running = 1;
  return ScanState.compare_exchange_strong(running, -1);
}

void prepareScan(const Settings& scanSettings, char* buffer, int64_t bufferSize, uint32_t seed) {
  Scan.settings = scanSettings;
  Scan.buffer = buffer;
  Scan.bufferSize = bufferSize;
  seedRandom(seed);
}

Text takeRootFolder(const Text& path) {
  Text root = path;
  while (!root.empty() && root.back() != '\\') root.truncate(root.size() - 1);
  return root;
}

void errorLimitReached() {
  int32_t limit = Scan.settings.stopAfterErrors;
  if (limit > 0 && Scan.openErrors + Scan.readErrors >= limit) requestScanStop();
}

void checkedLimitReached() {
  int32_t limit = Scan.settings.stopAfterChecked;
  if (limit > 0 && Scan.checkedBytes >= limit) requestScanStop();
}

void setupScan() {
  const Settings& s = Scan.settings;
  // The edit box is disabled while a scan runs, so it holds the text the
  // start was made with.
  Text root = takeRootFolder(readControlText(Control::PathEdit));
  if (root.empty()) root = s.defaultInitPath;
  Scan.rootFolder.reserve(kPathReserve);
  Scan.subPath.reserve(kPathReserve);
  Scan.pattern.reserve(2 * kPathReserve);
  Scan.path.reserve(2 * kPathReserve);
  Scan.rootFolder.assign(root.view());
  Scan.subPath.clear();
  Scan.listing = kNoListing;
  Scan.checkedBytes = 0;
  Scan.openErrors = 0;
  Scan.readErrors = 0;
  Scan.titlePercent = 0;
  Scan.readPosition = 0;
  if (s.measureReadingSpeed) startSpeedMeasurement();
}

void runPass() {
  const Settings& s = Scan.settings;
  PickResult result = pickEntry();
  if (entryQualifies(result, Scan.entry, s)) {
    Scan.path.assign(Scan.rootFolder);
    Scan.path.append(Scan.subPath);
    Scan.path.append(Scan.entry.name);
    checkFile(Scan.path, Scan.entry.name, Scan.entry.size);
    // A running scan refreshes the counters by chance; a stopping one always,
    // so its last counts stay on screen.
    if (countersShown(s) && (ScanState.load() <= 0 || refreshDraw())) showCountersLine();
  }
  closeListing();
}

void finishScan() {
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
  finishScan();
}
