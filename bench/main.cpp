// readsweeper_bench: the sampler benchmark. Run by `make bench` (bench/run),
// which makes the trees and runs the native and the Windows build of it.
//
//   readsweeper_bench [--header] PLATFORM TREE_ROOT FLAT_ROOT
//
// It prints rows of one table: for each tree and each of two
// settings, the reference sampler and the engine on the same draws, and in
// the Windows build the whole program too; then, in the Windows build, the
// window's responsiveness during a scan.
#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "bench/bare_os.h"
#include "bench/every_file_bench.h"
#include "bench/program.h"
#include "bench/samplers.h"
#include "bench/setups.h"

namespace {

constexpr double kFewestChecks = 100;

std::vector<char> buffer(65536);

// A limit of checked bytes that takes the reference about `seconds`: grown
// until one run takes at least half of that, then scaled.
int64_t calibrate(const char* root, const Setup& setup, uint32_t seed, double seconds) {
  int64_t limit = setup.blockSize;
  for (;;) {
    SamplerRun run = runReference(root, settingsFor(setup, limit), seed, buffer.data(), buffer.size());
    double scaled = static_cast<double>(run.bytes) * seconds / std::max(run.seconds, 1e-6);
    int64_t next = std::clamp<int64_t>(static_cast<int64_t>(scaled), setup.blockSize, kLargestLimit);
    if (run.seconds >= seconds / 2 || limit >= kLargestLimit) return next;
    limit = std::max(next, std::min(limit * 4, kLargestLimit));
  }
}

void row(const char* tree, const Setup& setup, const char* platform, const char* sampler, const std::string& checks,
         const std::string& blocks, double bytesPerSecond, const std::string& ratio, const std::string& sample) {
  std::printf("| %s | %s | %s | %s | %s | %s | %.1f | %s | %s |\n", tree, setup.label, platform, sampler,
              checks.c_str(), blocks.c_str(), bytesPerSecond / 1048576.0, ratio.c_str(), sample.c_str());
  std::fflush(stdout);
}

std::string number(double value, const char* prefix = "") {
  char text[64];
  std::snprintf(text, sizeof text, "%s%.0f", prefix, value);
  return text;
}

// A ratio over the trials: the one of the fastest runs, and the lowest and
// highest of the trials' own, which tell a real difference from noise.
struct Ratio {
  double best = 0;
  double lowest = 0;
  double highest = 0;
  int trials = 0;

  void addTrial(double value) {
    lowest = trials == 0 ? value : std::min(lowest, value);
    highest = trials == 0 ? value : std::max(highest, value);
    ++trials;
  }
};

std::string ratio(const Ratio& r, const char* of) {
  char text[96];
  std::snprintf(text, sizeof text, "%.3f of %s (trials %.3f to %.3f)", r.best, of, r.lowest, r.highest);
  return text;
}

// Prefers the Windows form of a root when the program is there.
std::string programRoot(const char* root) {
  std::string path = root;
  for (char& c : path) {
    if (c == '/') c = '\\';
  }
  if (!path.empty() && path[0] == '\\') path = "Z:" + path;
  return path;
}

bool listable(const char* root) {
  static char path[8192];
  std::size_t length = std::strlen(root);
  if (length + 8 > sizeof path) return false;
  std::memcpy(path, root, length);
  BareEntry entry;
  if (!bareListFirst(path, length, &entry)) return false;
  bareListClose();
  return true;
}

// What one timed run covered.
std::string sample(int64_t checks, double seconds, const char* prefix = "") {
  char text[64];
  std::snprintf(text, sizeof text, "%s%" PRId64 " in %.1f s", prefix, checks, seconds);
  return text;
}

struct Durations {
  int trials;             // of each sampler, the fastest counts
  double samplerSeconds;  // planned for one run of a sampler
  double shortestRun;     // of a sampler, or its trials are made again on more work
  double programSeconds;  // planned for one run of the program
};

// A limit of checked bytes for a run that took `seconds` on `limit` to take
// a good deal more than `wanted`.
int64_t moreWork(int64_t limit, double seconds, double wanted) {
  double more = 1.25 * wanted / std::max(seconds, 1e-6);
  return std::min<int64_t>(static_cast<int64_t>(static_cast<double>(limit) * more) + 1, kLargestLimit);
}

// Runs the reference and the engine `trials` times on the same draws and
// keeps the fastest run of each, the spread of their ratio, and the
// shortest run of all. False when the two did different work.
bool runTrials(const char* root, const Settings& s, uint32_t seed, int trials, SamplerRun* reference,
               SamplerRun* engine, Ratio* ratio, double* shortest) {
  *ratio = Ratio();
  for (int trial = 0; trial < trials; ++trial) {
    // Each goes first in every other trial, so that neither profits from
    // what the other left in the caches.
    SamplerRun r, e;
    if (trial % 2 == 0) {
      r = runReference(root, s, seed, buffer.data(), buffer.size());
      e = runEngine(root, s, seed, buffer.data(), buffer.size());
    } else {
      e = runEngine(root, s, seed, buffer.data(), buffer.size());
      r = runReference(root, s, seed, buffer.data(), buffer.size());
    }
    if (!sameWork(r, e)) {
      std::fprintf(stderr,
                   "bench: the engine and the reference did different work on %s: bytes %" PRId64 "/%" PRId64
                   ", errors %" PRId64 "+%" PRId64 "/%" PRId64 "+%" PRId64 "\n",
                   root, e.bytes, r.bytes, e.openErrors, e.readErrors, r.openErrors, r.readErrors);
      return false;
    }
    // Both did the same work: the ratio of their rates is that of their times.
    ratio->addTrial(r.seconds / e.seconds);
    if (trial == 0 || r.seconds < reference->seconds) *reference = r;
    if (trial == 0 || e.seconds < engine->seconds) *engine = e;
    double shorter = std::min(r.seconds, e.seconds);
    if (trial == 0 || shorter < *shortest) *shortest = shorter;
  }
  ratio->best = reference->seconds / engine->seconds;
  return true;
}

bool measure(const char* platform, const char* treeLabel, const char* root, const Setup& setup, uint32_t seed,
             const Durations& durations) {
  // A root that cannot be listed would have the samplers spin for ever.
  if (!listable(root)) {
    std::fprintf(stderr, "bench: cannot list %s\n", root);
    return false;
  }
  int64_t limit = calibrate(root, setup, seed, durations.samplerSeconds);
  SamplerRun reference, engine;
  Ratio engineRatio;
  // Where a few walks take most of the time (the flat folder under Wine), a
  // run can come out far shorter than planned: the trials are then made
  // again on more work, a few times at most.
  for (int attempt = 0;; ++attempt) {
    double shortest = 0;
    if (!runTrials(root, settingsFor(setup, limit), seed, durations.trials, &reference, &engine, &engineRatio,
                   &shortest)) {
      return false;
    }
    if (shortest >= durations.shortestRun || attempt == 3 || limit >= kLargestLimit) break;
    limit = moreWork(limit, shortest, durations.shortestRun);
  }
  // Same seed, same settings, same bytes, errors and generator state: the
  // engine made the reference's checks and block reads.
  engine.checks = reference.checks;
  engine.blocks = reference.blocks;
  auto perSecond = [](int64_t count, const SamplerRun& run) { return static_cast<double>(count) / run.seconds; };
  row(treeLabel, setup, platform, "reference", number(perSecond(reference.checks, reference)),
      number(perSecond(reference.blocks, reference)), perSecond(reference.bytes, reference), "",
      sample(reference.checks, reference.seconds));
  row(treeLabel, setup, platform, "engine", number(perSecond(engine.checks, engine)),
      number(perSecond(engine.blocks, engine)), perSecond(engine.bytes, engine), ratio(engineRatio, "reference"),
      sample(engine.checks, engine.seconds));

  if (!programAvailable()) return true;
  // The program draws from its own seed, so it is compared by checked bytes
  // per second over a longer run; its checks and blocks per second are
  // estimated from the engine's checks and blocks per byte on the same
  // settings.
  int64_t programLimit = std::min<int64_t>(static_cast<int64_t>(perSecond(engine.bytes, engine) * durations.programSeconds),
                                           kLargestLimit);
  double engineBytes = perSecond(engine.bytes, engine);
  ProgramRun best;
  Ratio programRatio;
  for (int trial = 0; trial < durations.trials; ++trial) {
    // A run too short is made again on more work, as the samplers' are.
    ProgramRun p;
    for (int attempt = 0;; ++attempt) {
      p = runProgram(programRoot(root), setup.windowRefresh, setup.blockSize, static_cast<int32_t>(programLimit));
      if (!p.ok) {
        std::fprintf(stderr, "bench: the program's scan of %s did not end as expected\n", root);
        return false;
      }
      if (p.seconds >= durations.shortestRun || attempt == 3 || programLimit >= kLargestLimit) break;
      programLimit = moreWork(programLimit, p.seconds, durations.shortestRun);
    }
    programRatio.addTrial(p.bytes / p.seconds / engineBytes);
    if (trial == 0 || p.bytes / p.seconds > best.bytes / best.seconds) best = p;
  }
  double programBytes = best.bytes / best.seconds;
  programRatio.best = programBytes / engineBytes;
  double checksPerByte = static_cast<double>(engine.checks) / static_cast<double>(engine.bytes);
  double blocksPerByte = static_cast<double>(engine.blocks) / static_cast<double>(engine.bytes);
  // Over a few walks the program's own draws weigh more than its speed.
  double programChecks = best.bytes * checksPerByte;
  bool comparable = programChecks >= kFewestChecks && engine.checks >= kFewestChecks;
  row(treeLabel, setup, platform, "program", number(programBytes * checksPerByte, "~"),
      number(programBytes * blocksPerByte, "~"), programBytes,
      comparable ? ratio(programRatio, "engine") : "too few checks to compare",
      sample(static_cast<int64_t>(best.bytes * checksPerByte), best.seconds, "~"));
  return true;
}

int usage() {
  std::fprintf(stderr,
               "usage: readsweeper_bench [--header] PLATFORM TREE_ROOT FLAT_ROOT\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  if (!args.empty() && args[0] == "--every-file") return everyFileBench({args.begin() + 1, args.end()});
  bool header = !args.empty() && args[0] == "--header";
  if (header) args.erase(args.begin());
  if (args.size() != 3) return usage();
  const char* platform = args[0].c_str();
  if (header) {
    std::printf("| tree | settings | platform | sampler | checks/s | blocks/s | MB/s | ratio | checks timed |\n");
    std::printf("|---|---|---|---|---:|---:|---:|---|---:|\n");
  }
  // Under Wine every system call costs more, the rates move more from run
  // to run, and the whole program has to run too: fewer runs, each of at
  // least 3 s, so that a trial times thousands of checks on the tree rather
  // than hundreds. The program's own runs include its start, and it draws
  // from its own seed.
  Durations durations = programAvailable() ? Durations{3, 3.5, 3.0, 4.0} : Durations{8, 0.4, 0, 0};
  struct Tree {
    const char* label;
    const char* root;
  } trees[] = {{"tree: 20,202 files, 4 levels", args[1].c_str()}, {"flat: 100,000 files", args[2].c_str()}};
  uint32_t seed = 20261209;
  for (const Tree& tree : trees) {
    for (const Setup& setup : kSetups) {
      if (!measure(platform, tree.label, tree.root, setup, ++seed, durations)) return 1;
    }
  }
  if (programAvailable()) {
    Responsiveness r = measureResponsiveness(programRoot(args[1].c_str()));
    if (!r.ok) {
      std::fprintf(stderr, "bench: the responsiveness run failed\n");
      return 1;
    }
    std::printf(
        "\n%s, scan of the tree at \"window refresh:\" 100 with 1-byte blocks: round trip of a message sent to "
        "the main window, median %.2f ms, 99th percentile %.2f ms (%d samples); CPU time of the idle program "
        "over %.0f s: %.1f ms\n",
        platform, r.medianMs, r.p99Ms, r.samples, r.idleSeconds, r.idleCpuMs);
  }
  return 0;
}
