// The index of "check every file": every file of a tree with its size and
// its folder, and the folders as a table of names and parents. Each name is
// kept once, in an arena; a file's path is its folders' names joined from
// the root down, then its own. Names and records lie in large blocks, so the
// index grows without moving anything or allocating per file, and a cleared
// index keeps its blocks for the next listing of the same tree.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

struct IndexedFile {
  const char* name;  // in the arena, not terminated
  int64_t size;
  uint32_t folder;
  uint16_t nameLength;
};

struct IndexedFolder {
  const char* name;  // empty for the root
  uint32_t parent;   // the root is its own parent
  uint16_t nameLength;
  uint64_t device;   // which folder its listing found (ListEntry), 0 and 0 when unknown
  uint64_t inode;
};

// What the index holds and what it takes.
struct IndexMemory {
  int64_t allocatedBytes = 0;  // blocks and block tables, used or not
  int64_t nameBytes = 0;       // of the files' and folders' names
  int64_t files = 0;
  int64_t folders = 0;
};

// Fixed-size blocks of records, allocated one at a time as the count grows
// and kept when it is cleared.
template <typename T, std::size_t kPerBlock>
class BlockArray {
 public:
  std::size_t size() const { return count_; }
  T& operator[](std::size_t i) { return blocks_[i / kPerBlock][i % kPerBlock]; }
  const T& operator[](std::size_t i) const { return blocks_[i / kPerBlock][i % kPerBlock]; }
  // False when no memory was left for a new block.
  bool push(const T& value);
  void clear() { count_ = 0; }
  void release() {
    blocks_ = decltype(blocks_)();
    count_ = 0;
  }
  int64_t allocatedBytes() const {
    return static_cast<int64_t>(blocks_.size() * kPerBlock * sizeof(T) + blocks_.capacity() * sizeof(void*));
  }

 private:
  std::vector<std::unique_ptr<T[]>> blocks_;
  std::size_t count_ = 0;
};

class FileIndex {
 public:
  static constexpr uint32_t kRoot = 0;
  static constexpr std::size_t kLongestName = UINT16_MAX;

  // Empties the index; the blocks stay. The first folder added next is
  // the root, kRoot.
  void clear();
  // Gives the memory back.
  void release();

  // Adds a folder below `parent`; its number, or kNoFolder when the index
  // has no room left (memory, or the numbers).
  static constexpr uint32_t kNoFolder = UINT32_MAX;
  uint32_t addFolder(uint32_t parent, std::string_view name, uint64_t device = 0, uint64_t inode = 0);
  // Adds a file; false when the index has no room left.
  bool addFile(uint32_t folder, std::string_view name, int64_t size);

  std::size_t fileCount() const { return files_.size(); }
  std::size_t folderCount() const { return folders_.size(); }
  const IndexedFile& file(std::size_t i) const { return files_[i]; }
  const IndexedFolder& folder(uint32_t i) const { return folders_[i]; }
  void swapFiles(std::size_t a, std::size_t b);

  // Puts the folder's path below the root into `path`, each name followed
  // by `separator`: empty for the root. Allocates only when `path` must
  // grow past its capacity.
  void folderPath(uint32_t folder, char separator, std::string* path) const;

  IndexMemory memory() const;

 private:
  // A copy of the name in the arena; nullptr when there is no room.
  const char* keepName(std::string_view name);

  static constexpr std::size_t kArenaBlock = std::size_t{1} << 18;
  std::vector<std::unique_ptr<char[]>> arena_;
  std::size_t arenaBlock_ = 0;  // the block names go into now
  std::size_t arenaUsed_ = 0;   // bytes used of it
  int64_t nameBytes_ = 0;
  BlockArray<IndexedFile, 8192> files_;
  BlockArray<IndexedFolder, 4096> folders_;
};
