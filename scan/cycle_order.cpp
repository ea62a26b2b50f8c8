// A cycle kept across runs: with a cycle state file, a cycle checks its
// files in the order of a keyed hash of their paths, and the state file
// records the hash reached. A file keeps its place for the whole cycle
// whatever else is added or deleted, so the cycle can be taken up after
// any change of the tree: the files above the hash reached are still to
// check, those at or below it have had their turn.
#include <algorithm>

#include "platform/clock.h"
#include "platform/files.h"
#include "scan/cycle_state.h"
#include "scan/engine.h"

namespace {

// The hash of each file's path below the root, folders joined by '/'
// whatever the system's separator, in UTF-8. The files of a folder lie
// together after a listing, so each folder's path is made once.
void hashIndex(Reader& r, const SipKey& key) {
  FileIndex& index = Scan.index;
  std::string& folder = r.subPath;
  std::string& path = r.pattern;
  uint32_t pathOf = FileIndex::kNoFolder;
  for (std::size_t i = 0; i < index.fileCount(); ++i) {
    const IndexedFile& file = index.file(i);
    if (file.folder != pathOf) {
      index.folderPath(file.folder, '/', &folder);
      pathOf = file.folder;
    }
    path.assign(folder);
    path.append(file.name, file.nameLength);
    index.setFileHash(i, sipHash24(key, path.data(), path.size()));
  }
}

// The place of the first file whose hash is above `reached`.
int64_t firstAbove(uint64_t reached) {
  const FileIndex& index = Scan.index;
  std::size_t low = 0, high = index.fileCount();
  while (low < high) {
    std::size_t middle = low + (high - low) / 2;
    if (index.file(middle).hash <= reached) {
      low = middle + 1;
    } else {
      high = middle;
    }
  }
  return static_cast<int64_t>(low);
}

}  // namespace

int64_t orderCycle(Reader& r, Random& keys) {
  CycleState& c = Scan.cycleState;
  // Only the run's first cycle can take one up: its later ones follow
  // their own.
  bool resume = false;
  if (c.cycle == 0 && storedCycleState(&c)) resume = !(c.started && c.reached == kCycleComplete);
  if (!resume) {
    ++c.cycle;
    c.key = SipKey{randomBits(keys), randomBits(keys)};
    c.started = false;
    c.reached = 0;
    c.covered = 0;
    c.began = localTime();
  }
  Scan.resumed = Scan.resumed || resume;
  Scan.cycle = c.cycle;
  Scan.coveredFiles = c.covered;
  hashIndex(r, c.key);
  Scan.index.sortFilesByHash();
  return c.started ? firstAbove(c.reached) : 0;
}

void noteCycleProgress(int64_t place) {
  CycleState& c = Scan.cycleState;
  c.covered = Scan.coveredFiles;
  // Files of one hash are reached together, when the last of them is done.
  uint64_t hash = Scan.index.file(static_cast<std::size_t>(place)).hash;
  auto next = static_cast<std::size_t>(place + 1);
  if (next == Scan.index.fileCount() || Scan.index.file(next).hash != hash) {
    c.started = true;
    c.reached = hash;
  }
  if (monotonicMilliseconds() - Scan.stateWrittenAt >= kCycleStateInterval) saveCycleState();
}

// Several readers finish their files out of order: the cycle has reached
// the hash below the first place that some reader still checks or has not
// taken yet, and the files of that place's hash are not all done yet.
// Called under the turn of the state, by one reader at a time.
void noteReadersProgress() {
  const FileIndex& index = Scan.index;
  auto count = static_cast<int64_t>(index.fileCount());
  int64_t low = std::min<int64_t>(Scan.nextFile, count);
  for (int i = 0; i < Scan.readers; ++i) low = std::min(low, Readers[i].place.load());
  int64_t done = low - 1;
  if (low < count) {
    uint64_t hash = index.file(static_cast<std::size_t>(low)).hash;
    while (done >= 0 && index.file(static_cast<std::size_t>(done)).hash == hash) --done;
  }
  CycleState& c = Scan.cycleState;
  c.covered = Scan.coveredFiles;
  if (done >= 0 && (!c.started || index.file(static_cast<std::size_t>(done)).hash > c.reached)) {
    c.started = true;
    c.reached = index.file(static_cast<std::size_t>(done)).hash;
  }
  if (monotonicMilliseconds() - Scan.stateWrittenAt >= kCycleStateInterval) saveCycleState();
}

void noteCycleComplete() {
  Scan.cycleState.started = true;
  Scan.cycleState.reached = kCycleComplete;
  Scan.cycleState.covered = Scan.coveredFiles;
}

// A write that fails is retried at the next interval; cycleStateFailure()
// names it when the scan has ended.
void saveCycleState() {
  Scan.stateWrittenAt = monotonicMilliseconds();
  if (Scan.cycleState.cycle > 0) writeCycleState(Scan.cycleState);
}
