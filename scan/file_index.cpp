#include "scan/file_index.h"

#include <algorithm>
#include <cstring>
#include <iterator>
#include <new>
#include <utility>

// A file costs its record and its name's bytes, nothing else: a million
// files of 12-character names take some 44 MB.
static_assert(sizeof(IndexedFile) <= 32, "a file's record grew");

namespace {

// A place in a BlockArray, as std::sort needs one: the records stay in
// their blocks, so sorting takes no memory beyond the index.
template <typename T, std::size_t kPerBlock>
class BlockIterator {
 public:
  using iterator_category = std::random_access_iterator_tag;
  using value_type = T;
  using difference_type = std::ptrdiff_t;
  using pointer = T*;
  using reference = T&;

  BlockIterator() = default;
  BlockIterator(BlockArray<T, kPerBlock>* array, difference_type at) : array_(array), at_(at) {}

  reference operator*() const { return (*array_)[static_cast<std::size_t>(at_)]; }
  pointer operator->() const { return &**this; }
  reference operator[](difference_type n) const { return (*array_)[static_cast<std::size_t>(at_ + n)]; }
  BlockIterator& operator++() { return ++at_, *this; }
  BlockIterator& operator--() { return --at_, *this; }
  BlockIterator operator++(int) { return {array_, at_++}; }
  BlockIterator operator--(int) { return {array_, at_--}; }
  BlockIterator& operator+=(difference_type n) { return at_ += n, *this; }
  BlockIterator& operator-=(difference_type n) { return at_ -= n, *this; }
  friend BlockIterator operator+(BlockIterator i, difference_type n) { return i += n; }
  friend BlockIterator operator+(difference_type n, BlockIterator i) { return i += n; }
  friend BlockIterator operator-(BlockIterator i, difference_type n) { return i -= n; }
  friend difference_type operator-(const BlockIterator& a, const BlockIterator& b) { return a.at_ - b.at_; }
  friend bool operator==(const BlockIterator& a, const BlockIterator& b) { return a.at_ == b.at_; }
  friend bool operator!=(const BlockIterator& a, const BlockIterator& b) { return a.at_ != b.at_; }
  friend bool operator<(const BlockIterator& a, const BlockIterator& b) { return a.at_ < b.at_; }
  friend bool operator>(const BlockIterator& a, const BlockIterator& b) { return a.at_ > b.at_; }
  friend bool operator<=(const BlockIterator& a, const BlockIterator& b) { return a.at_ <= b.at_; }
  friend bool operator>=(const BlockIterator& a, const BlockIterator& b) { return a.at_ >= b.at_; }

 private:
  BlockArray<T, kPerBlock>* array_ = nullptr;
  difference_type at_ = 0;
};

}  // namespace

template <typename T, std::size_t kPerBlock>
template <typename Less>
void BlockArray<T, kPerBlock>::sortRange(std::size_t begin, std::size_t end, Less less) {
  if (end - begin < 2) return;
  std::sort(BlockIterator<T, kPerBlock>(this, static_cast<std::ptrdiff_t>(begin)),
            BlockIterator<T, kPerBlock>(this, static_cast<std::ptrdiff_t>(end)), less);
}

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
  return files_.push({kept, size, 0, folder, static_cast<uint16_t>(name.size())});
}

void FileIndex::swapFiles(std::size_t a, std::size_t b) { std::swap(files_[a], files_[b]); }

// The records stay in their blocks and std::sort moves them there: no
// memory beyond the index, at about one and a half times the time of
// sorting a contiguous array of them. (Distributing them first into buckets
// by the hash's top bits, in place, proved twice as slow again: each of its
// moves is a cache miss somewhere in the index.)
void FileIndex::sortFilesByHash() {
  files_.sort([](const IndexedFile& a, const IndexedFile& b) { return a.hash < b.hash; });
}

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
