#include <algorithm>

#include "platform/clock.h"
#include "scan/engine.h"
#include "scan/error_list.h"
#include "scan/scan.h"

namespace {

// One platform read moves at most this much; a larger block takes several.
constexpr int64_t kMostPerRead = int64_t{1} << 30;

// "read whole files": the smallest "bytes to read at once:" taken as the
// block, and the block used below it. Smaller blocks would make a whole
// disk's read take years of system calls.
constexpr int64_t kLeastWholeFileBlock = 65536;
constexpr int64_t kDefaultWholeFileBlock = int64_t{1} << 20;

// What one block read came to: the status of the positioning and of the
// read (0 when it succeeded), and the bytes obtained.
struct BlockRead {
  int seekError = 0;
  int readError = 0;
  int64_t bytes = 0;
};

// Reads `length` bytes into `buffer` from the current position: as many
// platform reads as the block needs, until it is complete, a read returns
// nothing (end of file) or a read fails.
void readBlock(FileHandle file, char* buffer, int64_t length, BlockRead* block) {
  while (block->bytes < length) {
    uint32_t ask = static_cast<uint32_t>(std::min(length - block->bytes, kMostPerRead));
    uint32_t got = 0;
    int error = readFile(file, buffer + block->bytes, ask, &got);
    block->bytes += got;
    if (error != 0) {
      block->readError = error;
      return;
    }
    if (got == 0) return;
  }
}

// The file of one check: opened as usual, only its handle counts. Read past
// the cache, it also keeps where the file position of a plain read would be.
struct CheckedFile : UnbufferedFile {
  bool pastCache = false;
  int64_t cursor = 0;
};

int openForCheck(const char* path, bool pastCache, CheckedFile* file) {
  file->pastCache = pastCache;
  // Every path of the scan begins with its root folder.
  if (pastCache) return openFileUnbuffered(path, file, Scan.rootFolder.size());
  return openListedFile(path, &file->handle, Scan.rootFolder.size());
}

int64_t alignDown(int64_t value, int64_t alignment) { return value / alignment * alignment; }
int64_t alignUp(int64_t value, int64_t alignment) { return alignDown(value + alignment - 1, alignment); }

// The widest aligned span of a block of `length` bytes (at least 1): the
// one that starts just past a boundary.
int64_t widestSpan(int64_t length, int64_t alignment) { return alignUp(length - 1, alignment) + alignment; }

// The largest block whose every span fits the scan's buffer: read past the
// cache, whatever the file's alignment (all divide kLargestAlignment), so
// that the block, and with it the draws, never depend on the file.
int64_t largestBlock() {
  if (!Scan.settings.readPastCache) return Scan.bufferSize;
  return std::max<int64_t>(0, alignDown(Scan.bufferSize, kLargestAlignment) - kLargestAlignment + 1);
}

// Reads the aligned span around the `length` bytes at `from` into `buffer`,
// at offsets of its own, and keeps the block's part of what
// came: the bytes short of the block's end are short as without the flag.
// A failure anywhere in the span is the block's. The span comes in as many
// reads as its size needs, until it is complete, a read returns nothing or
// part of a unit (the end of the file) or a read fails.
void readSpan(const UnbufferedFile& file, char* buffer, int64_t from, int64_t length, BlockRead* block) {
  if (length <= 0) return;
  int64_t alignment = file.alignment;
  int64_t start = alignDown(from, alignment);
  int64_t size = alignUp(from + length, alignment) - start;
  int64_t got = 0;
  while (got < size) {
    uint32_t ask = static_cast<uint32_t>(std::min(size - got, kMostPerRead));
    uint32_t came = 0;
    int error = readFileUnbuffered(file, start + got, buffer + got, ask, &came);
    got += came;
    if (error != 0) {
      block->readError = error;
      break;
    }
    if (came == 0 || came % alignment != 0) break;
  }
  block->bytes = std::clamp<int64_t>(got - (from - start), 0, length);
}

// Positions the file at the block's start and reads it. A failed
// positioning does not stop the read: it happens from wherever the file
// position then is. Past the cache the span is read at offsets of its own,
// but the positioning is still made: it fails where a plain one fails, and
// the block then comes from where a plain read would have gone on, so the
// counts are those of a scan through the cache.
BlockRead readBlockAt(CheckedFile* file, char* buffer, int64_t position, int64_t length) {
  BlockRead block;
  block.seekError = positionFile(file->handle, position);
  if (!file->pastCache) {
    readBlock(file->handle, buffer, length, &block);
    return block;
  }
  if (block.seekError == 0) file->cursor = position;
  readSpan(*file, buffer, file->cursor, length, &block);
  file->cursor += block.bytes;
  return block;
}

// A timed read goes into the figures; one over the slow-read limit is
// counted and listed, but is no error: it touches no error count.
void countReadTime(Reader& r, std::string_view path, const BlockRead& block, int64_t blockLength, int64_t micros) {
  addReadTime(&r.readTimes, micros);
  int64_t limit = Scan.settings.slowReadLimit;
  if (limit <= 0 || micros <= limit * 1000) return;
  ++Scan.slowReads;
  listSlowRead(path, r.readPosition, blockLength, block.bytes, micros / 1000);
}

// Counts what one block read came to, lists what failed in it, then
// applies the stop rules. Without an open file the positioning, the read
// and its length all fail; the failed open is listed instead. `micros` is
// the time the read took, -1 when it was not timed.
void countBlock(Reader& r, std::string_view path, bool opened, const BlockRead& block, int64_t blockLength,
                int64_t micros) {
  const Settings& s = Scan.settings;
  if (micros >= 0) countReadTime(r, path, block, blockLength, micros);
  if (!opened || block.seekError != 0) ++Scan.readErrors;
  if (!opened || block.readError != 0) ++Scan.readErrors;
  if (s.measureReadingSpeed) countRead(r, block.bytes);
  if (block.bytes != blockLength) ++Scan.readErrors;
  if (opened && (block.seekError != 0 || block.readError != 0 || block.bytes != blockLength)) {
    listBlockRead(path, r.readPosition, blockLength, block.bytes, block.seekError, block.readError);
  }
  // The error rule sees the errors of this read before its bytes count.
  errorLimitReached();
  Scan.checkedBytes += block.bytes;
  checkedLimitReached();
  timeLimitReached();
}

// The reads at one position: `repeatRead` of them, fewer when the scan is
// asked to stop. Each counts on its own, and each waits for its credit
// under the rate limit; the last is returned. The clock is read around a
// read only when reads are timed: two looks at it cost a few percent of a
// cached read.
BlockRead readAtPosition(Reader& r, CheckedFile* file, std::string_view path, int64_t blockLength) {
  const Settings& s = Scan.settings;
  bool opened = file->handle != kNoFile;
  int32_t repeatCount = 0;
  BlockRead block;
  do {
    block = BlockRead();
    int64_t micros = -1;
    if (opened) {
      if (s.readRateLimit > 0) awaitReadCredit(blockLength);
      int64_t start = Scan.timeReads ? monotonicMicroseconds() : 0;
      block = readBlockAt(file, r.buffer, r.readPosition, blockLength);
      if (Scan.timeReads) micros = monotonicMicroseconds() - start;
    }
    countBlock(r, path, opened, block, blockLength, micros);
    ++repeatCount;
  } while (repeatCount != s.repeatRead && ScanState.load() > 0);
  return block;
}

// Between two blocks of a whole file, by the same chance as every status
// text: the file line (with the offset under "show read byte") and the
// counters line with the file's percentage.
void showWholeFileProgress(Reader& r, std::string_view name, int64_t size) {
  const Settings& s = Scan.settings;
  if (!refreshDraw(r)) return;
  if (s.showFileName) showFileLine(r, name, size);
  if (countersShown(s)) showCountersLine(r);
}

// "read whole files": the file from offset 0 to `size` (as listed: a file
// that grew is read that far), in order, each block `repeatRead` times. A
// block that fails does not end the file: the read goes on with the next
// one, as a rescue would, so the counts tell how much of it is lost. A
// block that comes back short without failing is the file's end now (it
// shrank): that one short read ends it. A file that did not open counts the
// reads of one block, as a pick of it always did. The stop rules act
// between any two blocks.
void readWholeFile(Reader& r, CheckedFile* file, const std::string& path, std::string_view name, int64_t size) {
  const Settings& s = Scan.settings;
  // The buffer comes from scanBufferNeed, which makes room for this block;
  // a smaller one only makes the blocks smaller.
  int64_t room = s.readPastCache ? alignDown(Scan.bufferSize, kLargestAlignment) : Scan.bufferSize;
  int64_t blockLength = std::min(wholeFileBlockSize(s), room);
  if (blockLength <= 0) return;
  bool opened = file->handle != kNoFile;
  r.fileSize = size;
  r.fileDone = 0;
  for (int64_t position = 0; position < size;) {
    int64_t length = std::min(blockLength, size - position);
    r.readPosition = position;
    BlockRead last = readAtPosition(r, file, path, length);
    position += length;
    r.fileDone = position;
    if (!opened || ScanState.load() <= 0) break;
    if (last.seekError == 0 && last.readError == 0 && last.bytes < length) break;
    if (s.stopAfterChecked > 0 && s.showCheckedBytesInPercents) updateTitlePercent();
    if (position < size) showWholeFileProgress(r, name, size);
  }
}

}  // namespace

bool checkFile(Reader& r, const std::string& path, std::string_view name, int64_t size, int listingError) {
  const Settings& s = Scan.settings;
  if (s.showFileName && refreshDraw(r)) showFileLine(r, name, size);

  CheckedFile file;
  int error = listingError != 0 ? listingError : openForCheck(path.c_str(), s.readPastCache, &file);
  if (error != 0) {
    // A file deleted since the tree was indexed is no longer part of it.
    if (s.checkEveryFile && isNotFoundError(error)) return false;
    file.handle = kNoFile;
    ++Scan.openErrors;
    if (listingError != 0) {
      listFolderFailed(path, error);
    } else {
      listOpenFailed(path, error);
    }
  }
  ++Scan.filesChecked;
  errorLimitReached();

  // No block is ever larger than the buffer; a small file is read whole
  // unless small files are left out, in which case only a scan of all files
  // brings one here and its reads come back short.
  int64_t blockLength = std::min<int64_t>(s.bytesToReadAtOnce, largestBlock());
  if (size <= blockLength && !s.skipSmallFiles) blockLength = size;

  if (s.readWholeFiles) {
    readWholeFile(r, &file, path, name, size);
  } else if (size > 0) {
    for (;;) {
      // The bound leaves out the block that would end at the last byte.
      r.readPosition = randomBelow(r.random, size - blockLength);
      readAtPosition(r, &file, path, blockLength);
      if (s.stopAfterChecked > 0 && s.showCheckedBytesInPercents) updateTitlePercent();
      if (chancePercent(r.random, s.selectNextFile)) break;
      if (ScanState.load() <= 0) break;
    }
  }

  if (file.handle != kNoFile) closeFile(file.handle);
  return true;
}

int64_t wholeFileBlockSize(const Settings& s) {
  int64_t block = s.bytesToReadAtOnce >= kLeastWholeFileBlock ? s.bytesToReadAtOnce : kDefaultWholeFileBlock;
  return s.readPastCache ? alignDown(block, kLargestAlignment) : block;
}

// Each reader has a part of the one buffer; past the cache each part is a
// whole number of the largest alignment, so every part starts aligned.
// Whole-file blocks past the cache start on a boundary of the largest
// alignment and are whole multiples of it, so their spans are the blocks
// themselves; the last block's span ends at most one unit further, still
// within the block size.
ScanBufferNeed scanBufferNeed(const Settings& s) {
  if (s.readWholeFiles) return {wholeFileBlockSize(s) * readersOf(s), s.readPastCache};
  int64_t block = std::max<int32_t>(s.bytesToReadAtOnce, 1);
  int64_t readers = readersOf(s);
  if (!s.readPastCache) return {block * readers, false};
  return {widestSpan(block, kLargestAlignment) * readers, true};
}
