#include "bench/samplers.h"

#include <algorithm>
#include <cstring>

#include "bench/bare_os.h"
#include "scan/engine.h"
#include "scan/scan.h"

namespace {

constexpr std::size_t kPathRoom = 8192;

bool isDot(const char* name) {
  return name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'));
}

// Draws a chance and throws it away: the engine draws here for its texts.
// The bare loops draw from a generator of their own, seeded as the engine seeds
// its first reader.
Random bareDraws;

void drawOnly(int percent) { static_cast<void>(chancePercent(bareDraws, percent)); }

}  // namespace

bool referenceCovers(const Settings& s) {
  return !s.measureReadingSpeed && !s.showCheckedBytesInPercents && !s.scanAllFiles && s.stopAfterErrors == 0 &&
         s.stopAfterChecked > 0;
}

SamplerRun runReference(const char* root, const Settings& s, uint32_t seed, char* buffer, int64_t bufferSize) {
  static char path[kPathRoom];
  SamplerRun run;
  std::size_t rootLength = std::strlen(root);
  std::memcpy(path, root, rootLength);
  bareDraws = seededRandom(seed, 0);
  bool stopping = false;
  double start = bareSeconds();
  do {
    // The walk: forward through one listing or down into a folder.
    std::size_t length = rootLength;
    BareEntry entry;
    if (!bareListFirst(path, length, &entry)) continue;
    bool listed = true;
    bool picked = false;
    for (;;) {
      if (chancePercent(bareDraws, s.skipFile)) {
        picked = true;
        break;
      }
      if (!bareListNext(&entry)) break;
      if (entry.attributes != 0x10 || isDot(entry.name)) continue;
      if (!chancePercent(bareDraws, s.selectSubfolder)) continue;
      std::size_t nameLength = std::strlen(entry.name);
      std::memcpy(path + length, entry.name, nameLength);
      length += nameLength;
      path[length++] = kBareSeparator;
      bareListClose();
      if (!bareListFirst(path, length, &entry)) {
        listed = false;
        break;
      }
    }
    int64_t size = entry.size;
    bool qualifies = listed && picked && size > 0 && !(s.skipSmallFiles && size <= s.bytesToReadAtOnce);
    if (qualifies) {
      // The check.
      std::size_t nameLength = std::strlen(entry.name);
      std::memcpy(path + length, entry.name, nameLength + 1);
      if (s.showFileName) drawOnly(s.windowRefresh);
      intptr_t file = bareOpen(path);
      if (file < 0) ++run.openErrors;
      ++run.checks;
      int64_t blockLength = std::min<int64_t>(s.bytesToReadAtOnce, bufferSize);
      if (size <= blockLength && !s.skipSmallFiles) blockLength = size;
      for (;;) {
        int64_t position = randomBelow(bareDraws, size - blockLength);
        int32_t repeats = 0;
        do {
          if (file < 0 || !barePosition(file, position)) ++run.readErrors;
          bool failed = true;
          int64_t got = file < 0 ? 0 : bareRead(file, buffer, blockLength, &failed);
          if (failed) ++run.readErrors;
          if (got != blockLength) ++run.readErrors;
          ++run.blocks;
          run.bytes += got;
          if (run.bytes >= s.stopAfterChecked) stopping = true;
        } while (++repeats != s.repeatRead && !stopping);
        if (chancePercent(bareDraws, s.selectNextFile)) break;
        if (stopping) break;
      }
      if (file >= 0) bareClose(file);
      if (countersShown(s) && !stopping) drawOnly(s.windowRefresh);
    }
    if (listed) bareListClose();
  } while (!stopping);
  run.seconds = bareSeconds() - start;
  run.nextDraw = randomBelow(bareDraws, int64_t{1} << 62);
  return run;
}

SamplerRun runEngine(const char* root, const Settings& s, uint32_t seed, char* buffer, int64_t bufferSize) {
  Settings scanSettings = s;
  scanSettings.defaultInitPath = Text(root);
  prepareScan(scanSettings, buffer, bufferSize, seed);
  ScanState.store(1);
  SamplerRun run;
  double start = bareSeconds();
  runScan();
  run.seconds = bareSeconds() - start;
  run.bytes = Scan.checkedBytes;
  run.openErrors = Scan.openErrors;
  run.readErrors = Scan.readErrors;
  run.nextDraw = randomBelow(Readers[0].random, int64_t{1} << 62);
  return run;
}
