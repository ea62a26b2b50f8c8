#include "scan/file_index.h"

#include <cstring>
#include <new>
#include <utility>

// A file costs its record and its name's bytes, nothing else: a million
// files of 12-character names take some 36 MB.
static_assert(sizeof(IndexedFile) <= 24, "a file's record grew");

template <typename T, std::size_t kPerBlock>
bool BlockArray<T, kPerBlock>::push(const T& value) {
  std::size_t block = count_ / kPerBlock;
  if (block == blocks_.size()) {
    // Out of memory, the index stops growing: what it holds is checked.
    std::unique_ptr<T[]> fresh(new (std::nothrow) T[kPerBlock]);
    if (!fresh) return false;
    blocks_.push_back(std::move(fresh));
  }
  blocks_[block][count_ % kPerBlock] = value;
  ++count_;
  return true;
}

void FileIndex::clear() {
  files_.clear();
  folders_.clear();
  arenaBlock_ = 0;
  arenaUsed_ = 0;
  nameBytes_ = 0;
}

void FileIndex::release() {
  files_.release();
  folders_.release();
  arena_ = decltype(arena_)();
  arenaBlock_ = 0;
  arenaUsed_ = 0;
  nameBytes_ = 0;
}

const char* FileIndex::keepName(std::string_view name) {
  if (name.size() > kLongestName) return nullptr;
  // A name never straddles two blocks: one that does not fit starts the
  // next block, leaving less than a name's length unused.
  if (arenaBlock_ < arena_.size() && arenaUsed_ + name.size() > kArenaBlock) {
    ++arenaBlock_;
    arenaUsed_ = 0;
  }
  if (arenaBlock_ == arena_.size()) {
    std::unique_ptr<char[]> fresh(new (std::nothrow) char[kArenaBlock]);
    if (!fresh) return nullptr;
    arena_.push_back(std::move(fresh));
  }
  char* kept = arena_[arenaBlock_].get() + arenaUsed_;
  std::memcpy(kept, name.data(), name.size());
  arenaUsed_ += name.size();
  nameBytes_ += static_cast<int64_t>(name.size());
  return kept;
}

uint32_t FileIndex::addFolder(uint32_t parent, std::string_view name, uint64_t device, uint64_t inode) {
  if (folders_.size() >= kNoFolder) return kNoFolder;
  const char* kept = keepName(name);
  if (kept == nullptr) return kNoFolder;
  if (!folders_.push({kept, parent, static_cast<uint16_t>(name.size()), device, inode})) return kNoFolder;
  return static_cast<uint32_t>(folders_.size() - 1);
}

bool FileIndex::addFile(uint32_t folder, std::string_view name, int64_t size) {
  const char* kept = keepName(name);
  if (kept == nullptr) return false;
  return files_.push({kept, size, folder, static_cast<uint16_t>(name.size())});
}

void FileIndex::swapFiles(std::size_t a, std::size_t b) { std::swap(files_[a], files_[b]); }

// The names are met from the folder up to the root, so the path is measured
// first and then filled in from its end.
void FileIndex::folderPath(uint32_t folder, char separator, std::string* path) const {
  std::size_t length = 0;
  for (uint32_t f = folder; f != kRoot; f = folders_[f].parent) length += folders_[f].nameLength + 1u;
  path->resize(length);
  std::size_t end = length;
  for (uint32_t f = folder; f != kRoot; f = folders_[f].parent) {
    const IndexedFolder& entry = folders_[f];
    (*path)[--end] = separator;
    end -= entry.nameLength;
    std::memcpy(&(*path)[end], entry.name, entry.nameLength);
  }
}

IndexMemory FileIndex::memory() const {
  IndexMemory m;
  m.allocatedBytes = files_.allocatedBytes() + folders_.allocatedBytes() +
                     static_cast<int64_t>(arena_.size() * kArenaBlock + arena_.capacity() * sizeof(void*));
  m.nameBytes = nameBytes_;
  m.files = static_cast<int64_t>(files_.size());
  m.folders = static_cast<int64_t>(folders_.size());
  return m;
}
