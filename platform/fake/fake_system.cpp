#include <algorithm>
#include <cstring>

#include "platform/clock.h"
#include "platform/fake/fake.h"
#include "platform/files.h"

std::map<std::string, FakeFolder> FakeFolders;
std::map<std::string, FakeFile> FakeFiles;
std::vector<FakeRead> FakeReads;
std::vector<std::string> FakeOpens;
int FakeOpenFiles = 0;
int FakeOpenListings = 0;
std::atomic<int64_t> FakeReadCount{0};
uint32_t FakeTickCount = 0;
int64_t FakeHundredths = 0;

namespace {

constexpr int kNoMoreFiles = 18;
constexpr int kFileNotFound = 2;
constexpr int kBadHandle = 6;
constexpr int kNegativeSeek = 131;
constexpr int kReadFault = 23;

struct OpenListing {
  const FakeFolder* folder = nullptr;
  std::size_t next = 0;
  bool open = false;
};

struct OpenFile {
  std::string path;
  const FakeFile* file = nullptr;
  int64_t position = 0;
  bool open = false;
};

// Handles are indexes into these tables; slots are never reused, so a
// handle used after its close is caught.
std::vector<OpenListing> listings;
std::vector<OpenFile> files;

}  // namespace

ListEntry fakeEntry(const char* name, int64_t size, uint32_t attributes) {
  ListEntry e;
  e.name = name;
  e.size = size;
  e.attributes = attributes;
  return e;
}

ListEntry fakeFolderEntry(const char* name, uint32_t attributes) { return fakeEntry(name, 0, attributes); }

void resetFakePlatform() {
  FakeFolders.clear();
  FakeFiles.clear();
  FakeReads.clear();
  FakeOpens.clear();
  FakeOpenFiles = 0;
  FakeOpenListings = 0;
  FakeReadCount = 0;
  resetFakeWindow();
  FakeTickCount = 0;
  FakeHundredths = 0;
  listings.clear();
  files.clear();
}

// --- listing ------------------------------------------------------------------

int listFirst(const char* pattern, ListHandle* listing, ListEntry* entry) {
  *listing = kNoListing;
  auto found = FakeFolders.find(pattern);
  if (found == FakeFolders.end()) return 3;  // path not found
  const FakeFolder& folder = found->second;
  if (folder.openError != 0) return folder.openError;
  if (folder.entries.empty()) return kFileNotFound;
  listings.push_back({&folder, 1, true});
  ++FakeOpenListings;
  *entry = folder.entries[0];
  *listing = static_cast<ListHandle>(listings.size() - 1);
  return 0;
}

int listNext(ListHandle listing, ListEntry* entry) {
  if (listing < 0 || static_cast<std::size_t>(listing) >= listings.size() || !listings[listing].open) return kBadHandle;
  OpenListing& l = listings[listing];
  if (static_cast<int>(l.next) == l.folder->failNextAt) return 59;  // an unexpected network error
  if (l.next >= l.folder->entries.size()) return kNoMoreFiles;
  *entry = l.folder->entries[l.next++];
  return 0;
}

void listClose(ListHandle listing) {
  if (listing < 0 || static_cast<std::size_t>(listing) >= listings.size() || !listings[listing].open) return;
  listings[listing].open = false;
  --FakeOpenListings;
}

// --- scanned files --------------------------------------------------------------

int openFileForReading(const char* path, FileHandle* file) {
  FakeOpens.push_back(path);
  auto found = FakeFiles.find(path);
  if (found == FakeFiles.end()) return kFileNotFound;
  if (found->second.openError != 0) return found->second.openError;
  files.push_back({path, &found->second, 0, true});
  ++FakeOpenFiles;
  *file = static_cast<FileHandle>(files.size() - 1);
  return 0;
}

static OpenFile* openFile(FileHandle file) {
  if (file < 0 || static_cast<std::size_t>(file) >= files.size() || !files[file].open) return nullptr;
  return &files[file];
}

int positionFile(FileHandle file, int64_t offset) {
  OpenFile* f = openFile(file);
  if (f == nullptr) return kBadHandle;
  if (f->file->failPositioning) return kReadFault;
  if (offset < 0) return kNegativeSeek;
  f->position = offset;
  return 0;
}

int readFile(FileHandle file, void* buffer, uint32_t size, uint32_t* got) {
  *got = 0;
  OpenFile* f = openFile(file);
  if (f == nullptr) return kBadHandle;
  ++FakeReadCount;
  const FakeFile& spec = *f->file;
  int64_t start = f->position;
  int64_t available = std::max<int64_t>(0, spec.size - start);
  int64_t count = std::min<int64_t>(size, available);
  if (spec.maxPerRead > 0) count = std::min(count, spec.maxPerRead);
  bool fails = false;
  if (spec.failReadAfter >= 0 && start + count > spec.failReadAfter) {
    count = std::max<int64_t>(0, spec.failReadAfter - start);
    fails = true;
  }
  // Every byte delivered is written, so a read past the buffer shows up
  // under the address sanitizer.
  std::memset(buffer, 0x5A, static_cast<std::size_t>(count));
  f->position += count;
  *got = static_cast<uint32_t>(count);
  FakeReads.push_back({f->path, start, size, *got});
  return fails ? kReadFault : 0;
}

int closeFile(FileHandle file) {
  OpenFile* f = openFile(file);
  if (f == nullptr) return kBadHandle;
  f->open = false;
  --FakeOpenFiles;
  return 0;
}

// --- clock ----------------------------------------------------------------------

uint32_t tickCount() { return FakeTickCount; }

int64_t monotonicHundredths() { return FakeHundredths; }
