// readsweeper_whole_bench: what whole-file reads cost. Run by `make bench`
// (bench/run) on the "large/" tree, natively and under Wine.
//
//   readsweeper_whole_bench PLATFORM TREE_ROOT [FIO]
//
// Rows, each a ratio measured side by side in one run, the best of three
// trials of each side, the sides taking turns at going first:
// - a cycle of "check every file" with "read whole files" (1 MiB blocks)
//   against a bare loop that lists the tree, then opens each file, and
//   positions and reads it block after block to its end with the same calls;
// - with FIO (the fio program; native only, where reads past the cache reach
//   the disk), the same cycle with "read past cache" against fio reading the
//   same files sequentially with direct I/O, the same block size, one job;
// - the slow-read clock: two readings of the monotonic clock against one
//   cached read of 4 KiB.
#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "bench/bare_os.h"
#include "bench/bare_tree.h"
#include "bench/samplers.h"
#include "platform/clock.h"
#include "platform/memory.h"
#include "scan/scan.h"

namespace {

constexpr int kTrials = 3;
constexpr int64_t kBlock = int64_t{1} << 20;

struct Timed {
  double seconds = 0;
  int64_t bytes = 0;
};

Settings cycleSettings(bool pastCache) {
  Settings s;
  s.checkEveryFile = true;
  s.readWholeFiles = true;
  s.readPastCache = pastCache;
  s.stopAfterCycles = 1;
  s.windowRefresh = 25;
  s.showCheckedBytes = s.showReadErrors = s.showOpenErrors = s.showFileName = true;
  return s;
}

Timed engineCycle(const char* root, bool pastCache) {
  Settings s = cycleSettings(pastCache);
  ScanBufferNeed need = scanBufferNeed(s);
  char* buffer = allocateAlignedMemory(need.size);
  if (buffer == nullptr) return {};
  SamplerRun run = runEngine(root, s, 7, buffer, need.size);
  releaseAlignedMemory(buffer);
  if (run.openErrors + run.readErrors != 0) return {};
  return {run.seconds, run.bytes};
}

// The floor: the tree listed as the index lists it, then every file opened,
// positioned and read block after block, and closed.
Timed bareCycle(const char* root, char* buffer) {
  double start = bareSeconds();
  std::vector<BareFile> files;
  bareListTree(root, false, &files);
  Timed t;
  for (const BareFile& f : files) {
    intptr_t file = bareOpenFile(f.path);
    if (file < 0) return {};
    for (int64_t at = 0; at < f.size; at += kBlock) {
      bool failed = false;
      if (!barePosition(file, at)) return {};
      int64_t got = bareRead(file, buffer, std::min(kBlock, f.size - at), &failed);
      if (failed) return {};
      t.bytes += got;
    }
    bareClose(file);
  }
  t.seconds = bareSeconds() - start;
  return t;
}

#ifndef _WIN32
// fio over the same files, one after the other, with direct I/O: its own
// figure of the bytes and the milliseconds of the reads (terse output,
// version 3: fields 6 and 9 of the read part, counted from 1 at the start).
Timed fioCycle(const std::string& fio, const char* root) {
  std::string command = fio + " --name=whole --rw=read --direct=1 --bs=1M --numjobs=1 --ioengine=psync"
                              " --file_service_type=sequential --opendir='" + std::string(root) +
                        "' --output-format=terse --terse-version=3 2>/dev/null";
  FILE* out = popen(command.c_str(), "r");
  if (out == nullptr) return {};
  char line[8192] = "";
  std::string all;
  while (std::fgets(line, sizeof line, out) != nullptr) all += line;
  if (pclose(out) != 0) return {};
  std::vector<std::string> fields;
  std::size_t at = 0;
  for (std::size_t end; (end = all.find(';', at)) != std::string::npos; at = end + 1) {
    fields.push_back(all.substr(at, end - at));
  }
  if (fields.size() < 10) return {};
  Timed t;
  t.bytes = std::strtoll(fields[5].c_str(), nullptr, 10) * 1024;
  t.seconds = std::strtod(fields[8].c_str(), nullptr) / 1000.0;
  return t;
}
#endif

template <typename First, typename Second>
void bestOfTrials(First first, Second second, Timed* a, Timed* b) {
  for (int trial = 0; trial < kTrials; ++trial) {
    Timed x, y;
    if (trial % 2 == 0) {
      x = first();
      y = second();
    } else {
      y = second();
      x = first();
    }
    if (trial == 0 || (x.seconds > 0 && x.seconds < a->seconds)) *a = x;
    if (trial == 0 || (y.seconds > 0 && y.seconds < b->seconds)) *b = y;
  }
}

double mbPerSecond(const Timed& t) { return t.seconds > 0 ? static_cast<double>(t.bytes) / t.seconds / 1048576.0 : 0; }

void printRow(const char* what, const char* platform, const char* against, const Timed& engine, const Timed& floor,
              const char* target) {
  double ratio = mbPerSecond(floor) > 0 ? mbPerSecond(engine) / mbPerSecond(floor) : 0;
  std::printf("| %s | %s | %.0f | %s | %.0f | %.3f | %s |\n", what, platform, mbPerSecond(engine), against,
              mbPerSecond(floor), ratio, target);
  std::fflush(stdout);
}

// Two clock readings against one cached read of 4 KiB: each timed over
// many repetitions, the reads at places spread over the first file.
void clockRow(const char* platform, const char* root) {
  std::vector<BareFile> files;
  bareListTree(root, false, &files);
  if (files.empty()) return;
  intptr_t file = bareOpenFile(files[0].path);
  if (file < 0) return;
  static char buffer[4096];
  const int kReads = 200000;
  double best = 0;
  for (int trial = 0; trial < kTrials; ++trial) {
    double start = bareSeconds();
    for (int i = 0; i < kReads; ++i) {
      bool failed = false;
      barePosition(file, (static_cast<int64_t>(i) * 4096 * 7) % (files[0].size - 4096) / 4096 * 4096);
      bareRead(file, buffer, 4096, &failed);
    }
    double seconds = (bareSeconds() - start) / kReads;
    if (trial == 0 || seconds < best) best = seconds;
  }
  bareClose(file);
  const int kPairs = 2000000;
  double bestClock = 0;
  int64_t sink = 0;
  for (int trial = 0; trial < kTrials; ++trial) {
    double start = bareSeconds();
    for (int i = 0; i < kPairs; ++i) {
      int64_t before = monotonicMicroseconds();
      sink += monotonicMicroseconds() - before;
    }
    double seconds = (bareSeconds() - start) / kPairs;
    if (trial == 0 || seconds < bestClock) bestClock = seconds;
  }
  std::printf("| slow-read clock | %s | two clock readings %.0f ns | a cached 4 KiB read %.0f ns | %.2f %% | "
              "below 2 %% |%s\n",
              platform, bestClock * 1e9, best * 1e9, bestClock / best * 100.0, sink < 0 ? " " : "");
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3 && argc != 4) {
    std::fprintf(stderr, "usage: readsweeper_whole_bench PLATFORM TREE_ROOT [FIO]\n");
    return 2;
  }
  const char* platform = argv[1];
  const char* root = argv[2];
  char* buffer = allocateAlignedMemory(kBlock);
  if (buffer == nullptr) return 1;

  std::printf("| row | platform | engine MB/s | against | its MB/s | ratio | target |\n");
  std::printf("|---|---|---:|---|---:|---:|---|\n");
  Timed engine, floor;
  bestOfTrials([&] { return engineCycle(root, false); }, [&] { return bareCycle(root, buffer); }, &engine, &floor);
  if (engine.bytes == 0 || engine.bytes != floor.bytes) {
    std::fprintf(stderr, "whole bench: the cycles read %" PRId64 " and %" PRId64 " bytes\n", engine.bytes,
                 floor.bytes);
    return 1;
  }
  printRow("a cycle of whole files, cached", platform, "bare loop", engine, floor, "at least 0.95");
#ifndef _WIN32
  if (argc == 4) {
    Timed past, fio;
    bestOfTrials([&] { return engineCycle(root, true); }, [&] { return fioCycle(argv[3], root); }, &past, &fio);
    if (fio.bytes == 0) {
      std::fprintf(stderr, "whole bench: fio gave no figures\n");
      return 1;
    }
    printRow("a cycle of whole files, past the cache", platform, "fio, direct I/O", past, fio, "at least 0.9");
  }
#endif
  clockRow(platform, root);
  releaseAlignedMemory(buffer);
  return 0;
}
