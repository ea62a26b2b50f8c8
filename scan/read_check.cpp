#include <algorithm>

#include "scan/engine.h"
#include "scan/error_list.h"
#include "scan/scan.h"

namespace {

// One platform read moves at most this much; a larger block takes several.
constexpr int64_t kMostPerRead = int64_t{1} << 30;

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
  if (pastCache) return openFileUnbuffered(path, file);
  return openListedFile(path, &file->handle);
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

// Counts what one block read came to, lists what failed in it, then
// applies the stop rules. Without an open file the positioning, the read
// and its length all fail; the failed open is listed instead.
void countBlock(Reader& r, std::string_view path, bool opened, const BlockRead& block, int64_t blockLength) {
  const Settings& s = Scan.settings;
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
// under the rate limit.
void readAtPosition(Reader& r, CheckedFile* file, std::string_view path, int64_t blockLength) {
  const Settings& s = Scan.settings;
  bool opened = file->handle != kNoFile;
  int32_t repeatCount = 0;
  do {
    BlockRead block;
    if (opened) {
      if (s.readRateLimit > 0) awaitReadCredit(blockLength);
      block = readBlockAt(file, r.buffer, r.readPosition, blockLength);
    }
    countBlock(r, path, opened, block, blockLength);
    ++repeatCount;
  } while (repeatCount != s.repeatRead && ScanState.load() > 0);
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

  if (size > 0) {
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

// Each reader has a part of the one buffer; past the cache each part is a
// whole number of the largest alignment, so every part starts aligned.
ScanBufferNeed scanBufferNeed(const Settings& s) {
  int64_t block = std::max<int32_t>(s.bytesToReadAtOnce, 1);
  int64_t readers = readersOf(s);
  if (!s.readPastCache) return {block * readers, false};
  return {widestSpan(block, kLargestAlignment) * readers, true};
}
