// readsweeper_cold_bench: what honest reads cost on this machine. Run by
// `make bench` (bench/run) after the main table.
//
//   readsweeper_cold_bench PLATFORM TREE_ROOT
//
// The engine scans the tree with cold pages (every file's pages dropped
// from the cache by posix_fadvise before each run, which needs no special
// rights) and with warm ones, each through the cache and past it
// ("read past cache"), on the same draws. Every run must end with the
// reference sampler's bytes, error counts and generator state, so all did
// the same work, and the flag changed no count.
#include <fcntl.h>
#include <ftw.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <string>
#include <vector>

#include "bench/samplers.h"
#include "bench/setups.h"
#include "platform/memory.h"
#include "scan/scan.h"

namespace {

constexpr double kSeconds = 1.0;  // of one timed run, roughly
constexpr int kTrials = 3;        // of each row, the fastest counts

Settings settingsFor(const Setup& setup, int64_t limit, bool pastCache) {
  Settings s = settingsFor(setup, limit);
  s.readPastCache = pastCache;
  return s;
}

// --- the tree's pages -----------------------------------------------------------

int64_t filesDropped = 0, pagesLeft = 0, pagesInAll = 0;

// Drops a file's pages from the cache.
int dropFile(const char* path, const struct stat*, int kind, struct FTW*) {
  if (kind != FTW_F) return 0;
  int fd = open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return 0;
  if (posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED) == 0) ++filesDropped;
  close(fd);
  return 0;
}

// Pages written and not yet stored cannot be dropped: the tree's file
// system is stored once, before the first drop.
bool storeFileSystem(const char* root) {
  int fd = open(root, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return false;
  bool stored = syncfs(fd) == 0;
  close(fd);
  return stored;
}

// Counts the pages of a file that are in the cache.
int countResident(const char* path, const struct stat* st, int kind, struct FTW*) {
  if (kind != FTW_F || st->st_size == 0) return 0;
  int fd = open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return 0;
  std::size_t size = static_cast<std::size_t>(st->st_size);
  void* mapping = mmap(nullptr, size, PROT_READ, MAP_SHARED, fd, 0);
  close(fd);
  if (mapping == MAP_FAILED) return 0;
  static std::vector<unsigned char> flags;
  std::size_t page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
  flags.resize((size + page - 1) / page);
  if (mincore(mapping, size, flags.data()) == 0) {
    for (unsigned char f : flags) pagesLeft += f & 1;
    pagesInAll += static_cast<int64_t>(flags.size());
  }
  munmap(mapping, size);
  return 0;
}

bool dropTree(const char* root) {
  filesDropped = 0;
  return nftw(root, dropFile, 32, FTW_PHYS) == 0 && filesDropped > 0;
}

// --- runs -----------------------------------------------------------------------

struct Buffer {
  char* bytes = nullptr;
  int64_t size = 0;
  explicit Buffer(const Settings& s) {
    ScanBufferNeed need = scanBufferNeed(s);
    bytes = allocateAlignedMemory(need.size);
    size = need.size;
  }
  ~Buffer() { releaseAlignedMemory(bytes); }
};

SamplerRun engineRun(const char* root, const Settings& s, uint32_t seed, bool cold) {
  Buffer buffer(s);
  if (buffer.bytes == nullptr || (cold && !dropTree(root))) return SamplerRun{};
  return runEngine(root, s, seed, buffer.bytes, buffer.size);
}

// A limit of checked bytes that takes the slowest run, cold and past the
// cache, about kSeconds.
int64_t calibrate(const char* root, const Setup& setup, uint32_t seed) {
  int64_t limit = int64_t{setup.blockSize} * 64;
  for (;;) {
    SamplerRun run = engineRun(root, settingsFor(setup, limit, true), seed, true);
    if (run.seconds <= 0) return 0;
    double scaled = static_cast<double>(run.bytes) * kSeconds / run.seconds;
    int64_t next = std::clamp<int64_t>(static_cast<int64_t>(scaled), setup.blockSize, kLargestLimit);
    if (run.seconds >= kSeconds / 2 || limit >= kLargestLimit) return next;
    limit = std::max(next, std::min(limit * 4, kLargestLimit));
  }
}

struct Row {
  const char* pages;
  bool cold;
  bool pastCache;
  SamplerRun best;
};

bool measure(const char* platform, const char* root, const Setup& setup, uint32_t seed) {
  int64_t limit = calibrate(root, setup, seed);
  if (limit <= 0) {
    std::fprintf(stderr, "cold bench: cannot drop the pages of %s\n", root);
    return false;
  }
  // The reference counts the checks and blocks that every run makes.
  std::vector<char> plain(static_cast<std::size_t>(setup.blockSize));
  SamplerRun reference =
      runReference(root, settingsFor(setup, limit, false), seed, plain.data(), static_cast<int64_t>(plain.size()));
  Row rows[] = {{"warm", false, false, {}}, {"cold", true, false, {}}, {"warm", false, true, {}}, {"cold", true, true, {}}};
  for (int trial = 0; trial < kTrials; ++trial) {
    // Each goes first in every other trial.
    for (int i = 0; i < 4; ++i) {
      Row& row = rows[trial % 2 == 0 ? i : 3 - i];
      SamplerRun run = engineRun(root, settingsFor(setup, limit, row.pastCache), seed, row.cold);
      if (!sameWork(run, reference)) {
        std::fprintf(stderr,
                     "cold bench: a run did other work than the reference on %s: bytes %" PRId64 "/%" PRId64
                     ", errors %" PRId64 "+%" PRId64 "/%" PRId64 "+%" PRId64 "\n",
                     root, run.bytes, reference.bytes, run.openErrors, run.readErrors, reference.openErrors,
                     reference.readErrors);
        return false;
      }
      if (trial == 0 || run.seconds < row.best.seconds) row.best = run;
    }
  }
  double coldThrough = static_cast<double>(reference.blocks) / rows[1].best.seconds;
  for (const Row& row : rows) {
    double blocks = static_cast<double>(reference.blocks) / row.best.seconds;
    char ratio[64] = "";
    if (&row != &rows[1]) std::snprintf(ratio, sizeof ratio, "%.3f of cold, through the cache", blocks / coldThrough);
    std::printf("| %s | %s | %s | %s | %.0f | %.0f | %.1f | %s | %" PRId64 " in %.1f s |\n", setup.label, platform,
                row.pages, row.pastCache ? "past the cache" : "through the cache",
                static_cast<double>(reference.checks) / row.best.seconds, blocks,
                static_cast<double>(row.best.bytes) / row.best.seconds / 1048576.0, ratio, reference.blocks,
                row.best.seconds);
    std::fflush(stdout);
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: readsweeper_cold_bench PLATFORM TREE_ROOT\n");
    return 2;
  }
  const char* platform = argv[1];
  const char* root = argv[2];
  // Dropped pages stay dropped: the check that they really leave the cache.
  if (!storeFileSystem(root) || !dropTree(root) || nftw(root, countResident, 32, FTW_PHYS) != 0) {
    std::fprintf(stderr, "cold bench: cannot drop the pages of %s\n", root);
    return 1;
  }
  std::printf("Cold pages: %" PRId64 " of the tree's %" PRId64 " pages left in the cache after dropping them.\n\n",
              pagesLeft, pagesInAll);
  std::printf("| settings | platform | pages | reads | checks/s | blocks/s | MB/s | ratio | blocks timed |\n");
  std::printf("|---|---|---|---|---:|---:|---:|---|---:|\n");
  uint32_t seed = 20261212;
  for (const Setup& setup : kSetups) {
    if (!measure(platform, root, setup, ++seed)) return 1;
  }
  return 0;
}
