#include <algorithm>

#include "scan/engine.h"
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

// Reads `length` bytes into the scan's buffer from the current position:
// as many platform reads as the block needs, until it is complete, a read
// returns nothing (end of file) or a read fails.
void readBlock(FileHandle file, int64_t length, BlockRead* block) {
  while (block->bytes < length) {
    uint32_t ask = static_cast<uint32_t>(std::min(length - block->bytes, kMostPerRead));
    uint32_t got = 0;
    int error = readFile(file, Scan.buffer + block->bytes, ask, &got);
    block->bytes += got;
    if (error != 0) {
      block->readError = error;
      return;
    }
    if (got == 0) return;
  }
}

// Positions the file at the block's start and reads it. A failed
// positioning does not stop the read: it happens from wherever the file
// position then is.
BlockRead readBlockAt(FileHandle file, int64_t position, int64_t length) {
  BlockRead block;
  block.seekError = positionFile(file, position);
  readBlock(file, length, &block);
  return block;
}

// Counts what one block read came to, then applies the stop rules. Without
// an open file the positioning, the read and its length all fail.
void countBlock(bool opened, const BlockRead& block, int64_t blockLength) {
  const Settings& s = Scan.settings;
  if (!opened || block.seekError != 0) ++Scan.readErrors;
  if (!opened || block.readError != 0) ++Scan.readErrors;
  if (s.measureReadingSpeed) countRead(block.bytes);
  if (block.bytes != blockLength) ++Scan.readErrors;
  // The error rule sees the errors of this read before its bytes count.
  errorLimitReached();
  Scan.checkedBytes += block.bytes;
  checkedLimitReached();
  timeLimitReached();
}

// The reads at one position: `repeatRead` of them, fewer when the scan is
// asked to stop. Each counts on its own.
void readAtPosition(FileHandle file, int64_t blockLength) {
  const Settings& s = Scan.settings;
  bool opened = file != kNoFile;
  int32_t repeatCount = 0;
  do {
    BlockRead block;
    if (opened) block = readBlockAt(file, Scan.readPosition, blockLength);
    countBlock(opened, block, blockLength);
    ++repeatCount;
  } while (repeatCount != s.repeatRead && ScanState.load() > 0);
}

}  // namespace

bool checkFile(const std::string& path, std::string_view name, int64_t size) {
  const Settings& s = Scan.settings;
  if (s.showFileName && refreshDraw()) showFileLine(name, size);

  FileHandle file = kNoFile;
  int error = openFileForReading(path.c_str(), &file);
  if (error != 0) {
    // A file deleted since the tree was indexed is no longer part of it.
    if (s.checkEveryFile && isNotFoundError(error)) return false;
    file = kNoFile;
    ++Scan.openErrors;
  }
  ++Scan.filesChecked;
  errorLimitReached();

  // No block is ever larger than the buffer; a small file is read whole
  // unless small files are left out, in which case only a scan of all files
  // brings one here and its reads come back short.
  int64_t blockLength = std::min<int64_t>(s.bytesToReadAtOnce, Scan.bufferSize);
  if (size <= blockLength && !s.skipSmallFiles) blockLength = size;

  if (size > 0) {
    for (;;) {
      // The bound leaves out the block that would end at the last byte.
      Scan.readPosition = randomBelow(size - blockLength);
      readAtPosition(file, blockLength);
      if (s.stopAfterChecked > 0 && s.showCheckedBytesInPercents) updateTitlePercent();
      if (chancePercent(s.selectNextFile)) break;
      if (ScanState.load() <= 0) break;
    }
  }

  if (file != kNoFile) closeFile(file);
  return true;
}
