// "check every file": a cycle lists the whole tree into an index, then each
// pass checks the next file of a random order of it, so that every file has
// its turn once per cycle, however deep or late in its folder it lies.
//
// One reader draws the order as the cycle goes, exactly as the engine always
// has. Several readers take the files of one order drawn whole after the
// listing, each the next one by a shared cursor; the index is only listed
// again, and the order drawn, by the last reader to find the order used up,
// while all others wait for it, so nobody reads the index while it changes.
#include <algorithm>
#include <mutex>

#include "platform/clock.h"
#include "platform/files.h"
#include "platform/listing.h"
#include "platform/window.h"
#include "scan/engine.h"
#include "scan/error_list.h"
#include "scan/scan.h"

namespace {

// Several readers note the cycle's progress one at a time.
std::mutex cycleStateTurn;


// Entries listed between two texts of the listing's progress and two looks
// at the clock: the listing of a large tree takes minutes on a slow disk,
// and a text per entry would cost more than the entry.
constexpr int64_t kEntriesPerProgress = 4096;

// How long a cycle that found nothing to check waits before the next
// listing, and the steps in which the wait looks at Stop and the time limit.
constexpr int64_t kEmptyCycleRestMs = 1000;
constexpr int64_t kRestStepMs = 20;

// A folder that cannot be listed, or whose listing breaks off, counts as one
// opening error and one "list failed" line, here and nowhere else; `pattern`
// is the listing that failed with `error`, the folder's path and "*.*".
void countUnlistableFolder(const std::string& pattern, int error) {
  ++Scan.openErrors;
  std::string_view folder(pattern);
  folder.remove_suffix(3);
  listFolderFailed(folder, error);
  errorLimitReached();
}

void showListingProgress() {
  // Only the listing reader writes the index while it grows.
  Text text("listing: ");
  text.appendInt(static_cast<int64_t>(Scan.index.fileCount()));
  text.append(" files");
  showInFileLine(text);
}

// Folders are entered whatever their other bits, but not links and
// junctions, which lead elsewhere or back up, nor folders kept online only,
// which would be fetched. Files are indexed when the walk's filter would
// check them on a pick, except symbolic links, which may lead anywhere out
// of the tree: every other reparse point on a file (a deduplicated file, a
// compressed system file) is the file itself and is checked. When the index has no room left it stops growing,
// and the files it holds are checked.
void takeEntry(uint32_t folder, const ListEntry& entry) {
  if (entry.attributes & kFolderAttribute) {
    if (isDotEntry(entry.name) || (entry.attributes & (kReparsePointAttribute | kOnlineOnly))) return;
    Scan.index.addFolder(folder, entry.name, entry.device, entry.inode);
    return;
  }
  if ((entry.attributes & kReparsePointAttribute) && entry.reparseTag == kSymbolicLinkTag) return;
  if (entryQualifies(PickResult::Picked, entry, Scan.settings)) Scan.index.addFile(folder, entry.name, entry.size);
}

// Lists one folder of the index into it; false when the scan is to stop.
bool listFolder(Reader& r, uint32_t folder, int64_t* entriesSeen) {
  Scan.index.folderPath(folder, kPathSeparator, &r.subPath);
  r.pattern.assign(Scan.rootFolder);
  r.pattern.append(r.subPath);
  r.pattern.append("*.*");
  int error = listFirst(r.pattern.c_str(), &r.listing, &r.entry);
  if (error != 0) {
    r.listing = kNoListing;
    // A folder removed since its parent was listed is no longer part of
    // the tree; so is a root that is not there, as in a walk.
    if (!isNotFoundError(error)) countUnlistableFolder(r.pattern, error);
    return ScanState.load() > 0;
  }
  // A folder replaced since its parent was listed is no longer part of the
  // tree either, wherever its path now leads.
  const IndexedFolder& listed = Scan.index.folder(folder);
  if (!isListedFolder(listed.device, listed.inode, r.entry)) {
    closeListing(r);
    return ScanState.load() > 0;
  }
  do {
    takeEntry(folder, r.entry);
    if (++*entriesSeen % kEntriesPerProgress == 0) {
      showListingProgress();
      timeLimitReached();
    }
    // Stop works at once, however large the folder.
    if (ScanState.load() <= 0) {
      closeListing(r);
      return false;
    }
    error = listNext(r.listing, &r.entry);
  } while (error == 0);
  closeListing(r);
  if (!isEndOfListing(error)) countUnlistableFolder(r.pattern, error);
  return ScanState.load() > 0;
}

void cycleLimitReached() {
  int32_t limit = Scan.settings.stopAfterCycles;
  if (limit > 0 && Scan.cyclesCompleted >= limit) requestScanStop(StopReason::Cycles);
}

void completeCycle() {
  if (Scan.ordered) {
    std::lock_guard<std::mutex> turn(cycleStateTurn);
    noteCycleComplete();
  }
  ++Scan.cyclesCompleted;
  cycleLimitReached();
}

// Without it, a tree with nothing to check would be listed again and again
// at full speed. The rest is cut into short steps, so that Stop and the
// time limit end it at once; the window is served by its own thread.
void restAfterEmptyCycle() {
  int64_t until = monotonicMilliseconds() + kEmptyCycleRestMs;
  for (;;) {
    timeLimitReached();
    if (ScanState.load() <= 0) return;
    int64_t left = until - monotonicMilliseconds();
    if (left <= 0) return;
    pauseMilliseconds(std::min(left, kRestStepMs));
  }
}

// The path of file `i` of the index into the reader's strings.
void composeIndexedPath(Reader& r, const IndexedFile& file) {
  Scan.index.folderPath(file.folder, kPathSeparator, &r.subPath);
  r.path.assign(Scan.rootFolder);
  r.path.append(r.subPath);
  r.path.append(file.name, file.nameLength);
}

}  // namespace

// The folder table is the queue of folders still to list: each folder is
// listed after every folder found before it, with one listing open at a
// time.
bool listTree(Reader& r) {
  FileIndex& index = Scan.index;
  index.clear();
  index.addFolder(FileIndex::kRoot, "");
  showListingProgress();
  int64_t entriesSeen = 0;
  for (uint32_t folder = 0; folder < index.folderCount(); ++folder) {
    if (!listFolder(r, folder, &entriesSeen)) {
      index.clear();
      return false;
    }
  }
  showListingProgress();
  return true;
}

void runIndexPass(Reader& r) {
  FileIndex& index = Scan.index;
  auto count = static_cast<int64_t>(index.fileCount());
  if (Scan.nextFile == count) {
    if (!listTree(r)) {
      Scan.nextFile = 0;
      return;
    }
    count = static_cast<int64_t>(index.fileCount());
    Scan.nextFile = 0;
    Scan.coveredFiles = 0;
    Scan.indexedFiles = count;
    if (Scan.ordered) {
      Scan.nextFile = orderCycle(r, r.random);
    } else {
      ++Scan.cycle;
    }
    // A tree without a file to check is done at once, and rests before its
    // next listing; so is a cycle taken up with none of its files left,
    // which goes on at once.
    if (Scan.nextFile == count) {
      completeCycle();
      if (count == 0) restAfterEmptyCycle();
      return;
    }
  }
  // Without a state file the order is drawn as the cycle goes, one step of
  // a Fisher-Yates shuffle per pass: no pause after the listing, and the
  // same seed gives the same order. With one, the index is in its order.
  int64_t next = Scan.nextFile;
  if (!Scan.ordered) {
    index.swapFiles(static_cast<std::size_t>(next), static_cast<std::size_t>(next + randomBelow(r.random, count - next)));
  }
  const IndexedFile& file = index.file(static_cast<std::size_t>(next));
  Scan.nextFile = next + 1;
  composeIndexedPath(r, file);
  bool checked = checkFile(r, r.path, std::string_view(file.name, file.nameLength), file.size);
  if (checked) ++Scan.coveredFiles;
  if (Scan.ordered) noteCycleProgress(next);
  // The cycle is complete before its last counters line, so that a scan
  // that stops here shows it whatever the draw.
  if (Scan.nextFile == count) completeCycle();
  if (checked) refreshCountersLine(r);
}

// A tree without a file to check is a cycle done at once, and rests before
// it is listed again, as one reader does pass by pass.
bool beginCycle(Reader& r) {
  FileIndex& index = Scan.index;
  for (;;) {
    if (!listTree(r)) return false;
    auto count = static_cast<int64_t>(index.fileCount());
    int64_t first = 0;
    Scan.coveredFiles = 0;
    Scan.indexedFiles = count;
    if (Scan.ordered) {
      // The order of the cycle's key, taken up where a run left it.
      std::lock_guard<std::mutex> turn(cycleStateTurn);
      first = orderCycle(r, Scan.order);
    } else {
      ++Scan.cycle;
      for (int64_t next = 0; next + 1 < count; ++next) {
        index.swapFiles(static_cast<std::size_t>(next),
                        static_cast<std::size_t>(next + randomBelow(Scan.order, count - next)));
      }
    }
    if (first < count) {
      // The files before the first one had their turn in an earlier run.
      Scan.finishedFiles = first;
      // The cursor last: the readers' takes start from it.
      Scan.nextFile = first;
      return true;
    }
    // A cycle taken up with none of its files left goes on at once.
    completeCycle();
    if (count == 0) restAfterEmptyCycle();
    if (ScanState.load() <= 0) return false;
  }
}

// The reader that finishes the cycle's last file completes the cycle,
// whichever file it was, before its counters line.
void checkIndexedFile(Reader& r, int64_t i) {
  const IndexedFile& file = Scan.index.file(static_cast<std::size_t>(i));
  composeIndexedPath(r, file);
  bool checked = checkFile(r, r.path, std::string_view(file.name, file.nameLength), file.size);
  if (checked) ++Scan.coveredFiles;
  r.place.store(Reader::kIdle);
  bool last = Scan.finishedFiles.fetchAdd(1) + 1 == Scan.indexedFiles;
  if (Scan.ordered) {
    std::lock_guard<std::mutex> turn(cycleStateTurn);
    noteReadersProgress();
  }
  if (last) completeCycle();
  if (checked) refreshCountersLine(r);
}
