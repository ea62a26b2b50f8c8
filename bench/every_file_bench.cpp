// The rows of "check every file": one cycle of the engine against a bare
// loop that lists the tree and opens and reads one byte of each file in the
// same order; the engine's listing against a bare recursive listing, and
// the index's memory, on a tree of a million files; how much of the tree the
// walk reaches meanwhile, and when each of them first counts a planted file
// that cannot be opened.
#include "bench/every_file_bench.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <unordered_set>

#include "bench/bare_os.h"
#include "bench/bare_tree.h"
#include "bench/program.h"
#include "bench/samplers.h"
#include "scan/engine.h"
#include "scan/scan.h"

namespace {

constexpr const char* kPlantedName = "planted.bin";
constexpr int64_t kWalkChecksForThePlantedFile = 1000000;

std::vector<char> buffer(65536);

// A user without a settings file, in the every-file mode: one cycle, one
// byte from each file.
Settings cycleSettings() {
  Settings s;
  applyNoFileDefaults(s);
  s.checkEveryFile = true;
  s.stopAfterCycles = 1;
  s.selectNextFile = 100;
  return s;
}

// The bare loops draw from a generator of their own, seeded as the engine seeds
// its first reader.
Random bareDraws;

void drawOnly(int percent) { static_cast<void>(chancePercent(bareDraws, percent)); }


// The bare cycle: the tree listed with the system's calls, then each file
// opened, read at one position and closed, in the engine's order and with
// the engine's draws (the order one shuffle step per file, the text draws
// thrown away), so that the two do the same work.
SamplerRun runBareCycle(const std::string& root, const Settings& s, uint32_t seed) {
  SamplerRun run;
  bareDraws = seededRandom(seed, 0);
  double start = bareSeconds();
  std::vector<BareFile> files;
  bareListTree(root, s.scanAllFiles, &files);
  auto count = static_cast<int64_t>(files.size());
  for (int64_t next = 0; next < count; ++next) {
    std::swap(files[static_cast<std::size_t>(next)],
              files[static_cast<std::size_t>(next + randomBelow(bareDraws, count - next))]);
    const BareFile& f = files[static_cast<std::size_t>(next)];
    if (s.showFileName) drawOnly(s.windowRefresh);
    intptr_t file = bareOpenFile(f.path);
    if (file < 0) ++run.openErrors;
    ++run.checks;
    int64_t blockLength = std::min<int64_t>(s.bytesToReadAtOnce, static_cast<int64_t>(buffer.size()));
    if (f.size <= blockLength && !s.skipSmallFiles) blockLength = f.size;
    if (f.size > 0) {
      do {
        int64_t position = randomBelow(bareDraws, f.size - blockLength);
        if (file < 0 || !barePosition(file, position)) ++run.readErrors;
        bool failed = true;
        int64_t got = file < 0 ? 0 : bareRead(file, buffer.data(), blockLength, &failed);
        if (failed) ++run.readErrors;
        if (got != blockLength) ++run.readErrors;
        ++run.blocks;
        run.bytes += got;
      } while (!chancePercent(bareDraws, s.selectNextFile));
    }
    if (file >= 0) bareClose(file);
    // The last file ends the cycle and the scan: its counters line needs
    // no draw.
    if (countersShown(s) && next + 1 < count) drawOnly(s.windowRefresh);
  }
  run.seconds = bareSeconds() - start;
  run.nextDraw = randomBelow(bareDraws, int64_t{1} << 62);
  return run;
}

struct EngineListing {
  bool ok = false;
  double seconds = 0;
  IndexMemory memory;
};

// The engine's listing alone, into a fresh index.
EngineListing listWithTheEngine(const std::string& root, bool withEmpty) {
  Settings s;
  s.checkEveryFile = true;
  s.scanAllFiles = withEmpty;
  s.defaultInitPath = Text(root);
  prepareScan(s, buffer.data(), 1, 1);
  ScanState.store(1);
  setupScan();
  EngineListing listing;
  double start = bareSeconds();
  listing.ok = listTree(Readers[0]);
  listing.seconds = bareSeconds() - start;
  listing.memory = Scan.index.memory();
  requestScanStop();
  endScan();
  Scan.index.release();
  finishScan();
  return listing;
}

void row(const char* tree, const char* work, const char* platform, const char* sampler, double filesPerSecond,
         const std::string& ratio, int64_t files, double seconds) {
  std::printf("| %s | %s | %s | %s | %.0f | %s | %" PRId64 " in %.2f s |\n", tree, work, platform, sampler,
              filesPerSecond, ratio.c_str(), files, seconds);
  std::fflush(stdout);
}

// The ratio of each trial, whose two runs came one after the other: on a
// shared machine the load moves less within a trial than between trials.
// Shown as their median and range.
std::string pairedRatios(std::vector<double> ratios, const char* what) {
  std::sort(ratios.begin(), ratios.end());
  char text[160];
  std::snprintf(text, sizeof text, "%.3f %s (%.3f to %.3f in %zu trials)", ratios[ratios.size() / 2], what,
                ratios.front(), ratios.back(), ratios.size());
  return text;
}

bool cycleRows(const char* platform, const std::string& root, int trials) {
  Settings s = cycleSettings();
  const uint32_t seed = 20261211;
  SamplerRun bare, engine;
  std::vector<double> ratios;
  runBareCycle(root, s, seed);  // untimed: the first run would find colder caches
  for (int trial = 0; trial < trials; ++trial) {
    SamplerRun b, e;
    if (trial % 2 == 0) {
      b = runBareCycle(root, s, seed);
      e = runEngine(root.c_str(), s, seed, buffer.data(), static_cast<int64_t>(buffer.size()));
    } else {
      e = runEngine(root.c_str(), s, seed, buffer.data(), static_cast<int64_t>(buffer.size()));
      b = runBareCycle(root, s, seed);
    }
    if (b.bytes != e.bytes || b.openErrors != e.openErrors || b.readErrors != e.readErrors ||
        b.nextDraw != e.nextDraw || Scan.filesChecked != b.checks) {
      std::fprintf(stderr, "bench: the engine's cycle and the bare loop did different work on %s\n", root.c_str());
      return false;
    }
    ratios.push_back(b.seconds / e.seconds);
    if (trial == 0 || b.seconds < bare.seconds) bare = b;
    if (trial == 0 || e.seconds < engine.seconds) engine = e;
  }
  const char* work = "one cycle, defaults, select next file 100";
  double bareRate = static_cast<double>(bare.checks) / bare.seconds;
  double engineRate = static_cast<double>(bare.checks) / engine.seconds;
  row("every: the tree + 1 planted", work, platform, "bare list, open, read", bareRate, "", bare.checks,
      bare.seconds);
  row("every: the tree + 1 planted", work, platform, "engine", engineRate,
      pairedRatios(ratios, "of the bare rate (target at least 0.9)"), bare.checks, engine.seconds);
  return true;
}

// The listing alone, engine and bare side by side; the index's memory goes
// to `memory` when given.
bool listingRows(const char* platform, const char* label, const std::string& root, bool withEmpty, int trials,
                 IndexMemory* memory) {
  double bareSeconds = 0, engineSeconds = 0;
  int64_t files = 0;
  std::vector<double> ratios;
  bareListTree(root, withEmpty, nullptr);  // untimed: the first listing finds colder caches
  for (int trial = 0; trial < trials; ++trial) {
    EngineListing e;
    if (trial % 2 == 1) e = listWithTheEngine(root, withEmpty);
    double start = ::bareSeconds();
    int64_t counted = bareListTree(root, withEmpty, nullptr);
    double b = ::bareSeconds() - start;
    if (trial % 2 == 0) e = listWithTheEngine(root, withEmpty);
    if (!e.ok || e.memory.files != counted) {
      std::fprintf(stderr, "bench: the engine listed %" PRId64 " files of %s, the bare listing %" PRId64 "\n",
                   e.memory.files, root.c_str(), counted);
      return false;
    }
    files = counted;
    ratios.push_back(e.seconds / b);
    if (trial == 0 || b < bareSeconds) bareSeconds = b;
    if (trial == 0 || e.seconds < engineSeconds) engineSeconds = e.seconds;
    if (memory != nullptr) *memory = e.memory;
  }
  const char* work = withEmpty ? "listing, empty files too" : "listing";
  row(label, work, platform, "bare recursive listing", static_cast<double>(files) / bareSeconds, "", files,
      bareSeconds);
  row(label, work, platform, "engine into its index", static_cast<double>(files) / engineSeconds,
      pairedRatios(ratios, "x the bare time (target at most 1.2)"), files, engineSeconds);
  return true;
}

// The keyed order of a cycle kept in a state file: the paths hashed and
// the index sorted by them after the listing, timed against that listing.
bool orderRows(const char* platform, const char* label, const std::string& root, int trials) {
  std::vector<double> ratios;
  double orderSeconds = 0;
  int64_t files = 0;
  for (int trial = 0; trial < trials; ++trial) {
    Settings s;
    s.checkEveryFile = true;
    s.scanAllFiles = true;
    s.defaultInitPath = Text(root);
    prepareScan(s, buffer.data(), 1, 1);
    ScanState.store(1);
    setupScan();
    double start = bareSeconds();
    bool listed = listTree(Readers[0]);
    double listing = bareSeconds() - start;
    start = bareSeconds();
    orderCycle(Readers[0], Readers[0].random);
    double order = bareSeconds() - start;
    files = static_cast<int64_t>(Scan.index.fileCount());
    bool sorted = true;
    for (std::size_t i = 1; i < Scan.index.fileCount() && sorted; ++i) {
      sorted = Scan.index.file(i - 1).hash <= Scan.index.file(i).hash;
    }
    requestScanStop();
    endScan();
    Scan.index.release();
    finishScan();
    if (!listed || !sorted) {
      std::fprintf(stderr, "bench: the keyed order of %s failed\n", root.c_str());
      return false;
    }
    ratios.push_back(order / listing);
    if (trial == 0 || order < orderSeconds) orderSeconds = order;
  }
  row(label, "keyed order: hash and sort", platform, "engine", static_cast<double>(files) / orderSeconds,
      pairedRatios(ratios, "x the listing's time (target at most 0.1)"), files, orderSeconds);
  return true;
}

// The every-file mode pass by pass: the check at which the planted file is
// first counted (as an opening error), -1 when the cycle ends without.
int64_t plantedInTheCycle(const std::string& root, int64_t* indexed) {
  Settings s = cycleSettings();
  s.defaultInitPath = Text(root);
  prepareScan(s, buffer.data(), static_cast<int64_t>(buffer.size()), 20261211);
  ScanState.store(1);
  setupScan();
  int64_t at = -1;
  while (ScanState.load() > 0 && at < 0) {
    runPass();
    if (Scan.openErrors > 0) at = Scan.filesChecked;
  }
  *indexed = Scan.indexedFiles;
  requestScanStop();
  endScan();
  Scan.index.release();
  finishScan();
  return at;
}

struct WalkReach {
  int64_t distinct = 0;      // files checked at least once in the first `checks` checks
  int64_t plantedAt = -1;    // the check that first counted the planted file
  int64_t checksMade = 0;
};

// The walk at its defaults for `checks` checks, counting the distinct files
// it reached, and on to `plantedLimit` checks while the planted file has not
// been counted.
WalkReach walkReach(const std::string& root, int64_t checks, int64_t plantedLimit) {
  Settings s;
  applyNoFileDefaults(s);
  s.defaultInitPath = Text(root);
  prepareScan(s, buffer.data(), static_cast<int64_t>(buffer.size()), 20261212);
  ScanState.store(1);
  setupScan();
  WalkReach reach;
  std::unordered_set<std::string> seen;
  int64_t limit = std::max(checks, plantedLimit);
  while (Scan.filesChecked < limit && !(reach.plantedAt >= 0 && Scan.filesChecked >= checks)) {
    int64_t before = Scan.filesChecked;
    runPass();
    if (Scan.filesChecked == before) continue;
    if (Scan.filesChecked <= checks) seen.insert(Readers[0].path);
    if (reach.plantedAt < 0 && Scan.openErrors > 0) reach.plantedAt = Scan.filesChecked;
  }
  reach.distinct = static_cast<int64_t>(seen.size());
  reach.checksMade = Scan.filesChecked;
  requestScanStop();
  endScan();
  finishScan();
  return reach;
}

bool planted(const std::string& root) {
  std::vector<BareFile> files;
  bareListTree(root, false, &files);
  const std::string name = kPlantedName;
  for (const BareFile& f : files) {
    if (f.path.size() >= name.size() && f.path.compare(f.path.size() - name.size(), name.size(), name) == 0) {
      return true;
    }
  }
  return false;
}

}  // namespace

int everyFileBench(std::vector<std::string> args) {
  bool header = !args.empty() && args[0] == "--header";
  if (header) args.erase(args.begin());
  if (args.size() != 3) {
    std::fprintf(stderr, "usage: readsweeper_bench --every-file [--header] PLATFORM EVERY_ROOT MILLION_ROOT\n");
    return 2;
  }
  const char* platform = args[0].c_str();
  const std::string& every = args[1];
  const std::string& million = args[2];
  if (header) {
    std::printf("| tree | work | platform | sampler | files/s | ratio | files timed |\n");
    std::printf("|---|---|---|---|---:|---|---:|\n");
  }
  // A cycle of the tree takes seconds under Wine, a listing of the million
  // files several everywhere: five trials of each, the fastest counts.
  bool wine = programAvailable();
  const int trials = 5;
  double began = bareSeconds();
  IndexMemory millionMemory;
  if (!cycleRows(platform, every, trials)) return 1;
  if (!listingRows(platform, "every: the tree + 1 planted", every, false, trials, nullptr)) return 1;
  if (!listingRows(platform, "million: 1,000,000 empty files", million, true, trials, &millionMemory)) return 1;
  if (!orderRows(platform, "million: 1,000,000 empty files", million, trials)) return 1;

  int64_t indexed = 0;
  bool hasPlanted = planted(every);
  int64_t inCycle = plantedInTheCycle(every, &indexed);
  // A million walks would take hours under Wine; there the walk goes as far
  // as the cycle.
  WalkReach walk = walkReach(every, indexed, hasPlanted && !wine ? kWalkChecksForThePlantedFile : 0);
  std::printf("\n%s: the walk at its defaults reached %" PRId64 " distinct files (%.2f %%) of the %" PRId64
              " that a cycle checks, in as many checks\n",
              platform, walk.distinct, 100.0 * static_cast<double>(walk.distinct) / static_cast<double>(indexed),
              indexed);
  if (hasPlanted) {
    std::printf("%s: the planted file that cannot be opened was counted at check %" PRId64 " of %" PRId64
                " in the every-file cycle; ",
                platform, inCycle, indexed);
    if (walk.plantedAt >= 0) {
      std::printf("by the walk at its defaults at check %" PRId64 "\n", walk.plantedAt);
    } else {
      std::printf("by the walk at its defaults not found after %" PRId64 " checks\n", walk.checksMade);
    }
  } else {
    std::printf("%s: no file that cannot be opened could be planted on this machine\n", platform);
  }
  auto perFile = [](const IndexMemory& m, int64_t bytes) {
    return static_cast<double>(bytes) / static_cast<double>(std::max<int64_t>(m.files, 1));
  };
  std::printf("%s: index of %" PRId64 " files in %" PRId64 " folders: %.1f MB, %.1f bytes per file beyond the "
              "names (%.1f bytes of names per file)\n",
              platform, millionMemory.files, millionMemory.folders,
              static_cast<double>(millionMemory.allocatedBytes) / 1048576.0,
              perFile(millionMemory, millionMemory.allocatedBytes - millionMemory.nameBytes),
              perFile(millionMemory, millionMemory.nameBytes));
  std::printf("%s: these figures took %.0f s\n", platform, bareSeconds() - began);
  return 0;
}
