// "check every file": a cycle lists the whole tree into an index, then each
// pass checks the next file of a random order of it, so that every file has
// its turn once per cycle, however deep or late in its folder it lies.
#include <algorithm>

#include "platform/clock.h"
#include "platform/files.h"
#include "platform/listing.h"
#include "platform/window.h"
#include "scan/engine.h"
#include "scan/error_list.h"
#include "scan/scan.h"

namespace {

constexpr uint32_t kFolderBit = 0x10;
constexpr uint32_t kReparsePoint = 0x400;
// The reparse tag of a symbolic link on Windows.
constexpr uint32_t kSymbolicLinkTag = 0xA000000C;

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
  Text text("listing: ");
  text.appendInt(static_cast<int64_t>(Scan.index.fileCount()));
  text.append(" files");
  setControlText(Control::FileLine, text);
}

// Folders are entered whatever their other bits, but not links and
// junctions, which lead elsewhere or back up, nor folders kept online only,
// which would be fetched. Files are indexed when the walk's filter would
// check them on a pick, except symbolic links, which may lead anywhere out
// of the tree: every other reparse point on a file (a deduplicated file, a
// compressed system file) is the file itself and is checked. When the index has no room left it stops growing,
// and the files it holds are checked.
void takeEntry(uint32_t folder, const ListEntry& entry) {
  if (entry.attributes & kFolderBit) {
    if (isDotEntry(entry.name) || (entry.attributes & (kReparsePoint | kOnlineOnly))) return;
    Scan.index.addFolder(folder, entry.name, entry.device, entry.inode);
    return;
  }
  if ((entry.attributes & kReparsePoint) && entry.reparseTag == kSymbolicLinkTag) return;
  if (entryQualifies(PickResult::Picked, entry, Scan.settings)) Scan.index.addFile(folder, entry.name, entry.size);
}

// Lists one folder of the index into it; false when the scan is to stop.
bool listFolder(uint32_t folder, int64_t* entriesSeen) {
  Scan.index.folderPath(folder, kPathSeparator, &Scan.subPath);
  Scan.pattern.assign(Scan.rootFolder);
  Scan.pattern.append(Scan.subPath);
  Scan.pattern.append("*.*");
  int error = listFirst(Scan.pattern.c_str(), &Scan.listing, &Scan.entry);
  if (error != 0) {
    Scan.listing = kNoListing;
    // A folder removed since its parent was listed is no longer part of
    // the tree; so is a root that is not there, as in a walk.
    if (!isNotFoundError(error)) countUnlistableFolder(Scan.pattern, error);
    return ScanState.load() > 0;
  }
  // A folder replaced since its parent was listed is no longer part of the
  // tree either, wherever its path now leads.
  const IndexedFolder& listed = Scan.index.folder(folder);
  if (!isListedFolder(listed.device, listed.inode, Scan.entry)) {
    closeListing();
    return ScanState.load() > 0;
  }
  do {
    takeEntry(folder, Scan.entry);
    if (++*entriesSeen % kEntriesPerProgress == 0) {
      showListingProgress();
      timeLimitReached();
    }
    // Stop works at once, however large the folder.
    if (ScanState.load() <= 0) {
      closeListing();
      return false;
    }
    error = listNext(Scan.listing, &Scan.entry);
  } while (error == 0);
  closeListing();
  if (!isEndOfListing(error)) countUnlistableFolder(Scan.pattern, error);
  return ScanState.load() > 0;
}

void cycleLimitReached() {
  int32_t limit = Scan.settings.stopAfterCycles;
  if (limit > 0 && Scan.cyclesCompleted >= limit) requestScanStop(StopReason::Cycles);
}

void completeCycle() {
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

}  // namespace

// The folder table is the queue of folders still to list: each folder is
// listed after every folder found before it, with one listing open at a
// time.
bool listTree() {
  FileIndex& index = Scan.index;
  index.clear();
  index.addFolder(FileIndex::kRoot, "");
  showListingProgress();
  int64_t entriesSeen = 0;
  for (uint32_t folder = 0; folder < index.folderCount(); ++folder) {
    if (!listFolder(folder, &entriesSeen)) {
      index.clear();
      return false;
    }
  }
  showListingProgress();
  return true;
}

void runIndexPass() {
  FileIndex& index = Scan.index;
  auto count = static_cast<int64_t>(index.fileCount());
  if (Scan.nextFile == count) {
    if (!listTree()) {
      Scan.nextFile = 0;
      return;
    }
    count = static_cast<int64_t>(index.fileCount());
    Scan.nextFile = 0;
    Scan.coveredFiles = 0;
    Scan.indexedFiles = count;
    ++Scan.cycle;
    // A tree without a file to check is done at once, and rests before
    // its next listing.
    if (count == 0) {
      completeCycle();
      restAfterEmptyCycle();
      return;
    }
  }
  // The order is drawn as the cycle goes, one step of a Fisher-Yates
  // shuffle per pass: no pause after the listing, and the same seed gives
  // the same order.
  int64_t next = Scan.nextFile;
  index.swapFiles(static_cast<std::size_t>(next), static_cast<std::size_t>(next + randomBelow(count - next)));
  const IndexedFile& file = index.file(static_cast<std::size_t>(next));
  Scan.nextFile = next + 1;
  index.folderPath(file.folder, kPathSeparator, &Scan.subPath);
  std::string_view name(file.name, file.nameLength);
  Scan.path.assign(Scan.rootFolder);
  Scan.path.append(Scan.subPath);
  Scan.path.append(name);
  bool checked = checkFile(Scan.path, name, file.size);
  if (checked) ++Scan.coveredFiles;
  // The cycle is complete before its last counters line, so that a scan
  // that stops here shows it whatever the draw.
  if (Scan.nextFile == count) completeCycle();
  if (checked) refreshCountersLine();
}
