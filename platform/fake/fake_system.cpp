#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "platform/clock.h"
#include "platform/fake/fake.h"
#include "platform/fatal.h"
#include "platform/files.h"
#include "platform/priority.h"

std::map<std::string, FakeFolder> FakeFolders;
std::map<std::string, FakeFile> FakeFiles;
std::map<std::string, std::string> FakeDisk;
std::vector<FakeRead> FakeReads;
std::vector<std::string> FakeOpens;
int FakeOpenFiles = 0;
int FakeOpenListings = 0;
std::atomic<std::size_t> FakeListedRootLength{0};
std::atomic<int64_t> FakeReadCount{0};
int FakeMisalignedReads = 0;
std::atomic<int64_t> FakeListedCount{0};
uint32_t FakeTickCount = 0;
int64_t FakeHundredths = 0;
int64_t FakeClockStep = 0;
int64_t FakePausedMilliseconds = 0;
std::function<void()> FakePauseHook;
int FakeAppendOpenError = 0;
int FakeWriteError = 0;
int FakeCreateError = 0;
int FakeReplaceError = 0;
int FakeRemoveError = 0;
int FakeWriteCount = 0;
LocalTime FakeLocalTime;
int FakeBackgroundError = 0;
std::atomic<int> FakeBackgroundThreads{0};

// The scripted system is a Windows one.
const char kPathSeparator = '\\';
const char kLineEnd[] = "\r\n";

namespace {

constexpr int kNoMoreFiles = 18;
constexpr int kFileNotFound = 2;
constexpr int kPathNotFound = 3;
constexpr int kBadHandle = 6;
constexpr int kNegativeSeek = 131;
constexpr int kReadFault = 23;
constexpr int kInvalidParameter = 87;

struct OpenListing {
  const FakeFolder* folder = nullptr;
  std::size_t next = 0;
  bool open = false;
};

// A scanned file has a FakeFile; a whole file has its bytes instead.
struct OpenFile {
  std::string path;
  const FakeFile* file = nullptr;
  int64_t position = 0;
  bool open = false;
  std::string* bytes = nullptr;
  bool append = false;  // every write goes to the end
};

// Handles are indexes into these tables; slots are never reused, so a
// handle used after its close is caught.
std::vector<OpenListing> listings;
std::vector<OpenFile> files;

// One call at a time, whichever reader makes it; the unbuffered read is
// made of the plain one.
std::recursive_mutex systemLock;
using Held = std::lock_guard<std::recursive_mutex>;

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
  FakeDisk.clear();
  FakeReads.clear();
  FakeOpens.clear();
  FakeOpenFiles = 0;
  FakeOpenListings = 0;
  FakeListedRootLength = 0;
  FakeReadCount = 0;
  FakeMisalignedReads = 0;
  FakeListedCount = 0;
  resetFakeWindow();
  FakeTickCount = 0;
  FakeHundredths = 0;
  FakeClockStep = 0;
  FakePausedMilliseconds = 0;
  FakePauseHook = nullptr;
  FakeAppendOpenError = 0;
  FakeWriteError = 0;
  FakeCreateError = 0;
  FakeReplaceError = 0;
  FakeRemoveError = 0;
  FakeWriteCount = 0;
  FakeLocalTime = {2026, 1, 2, 3, 4, 5, 6};
  FakeBackgroundError = 0;
  FakeBackgroundThreads = 0;
  listings.clear();
  files.clear();
}

// --- listing ------------------------------------------------------------------

int listFirst(const char* pattern, ListHandle* listing, ListEntry* entry) {
  Held held(systemLock);
  *listing = kNoListing;
  auto found = FakeFolders.find(pattern);
  if (found == FakeFolders.end()) return kPathNotFound;
  const FakeFolder& folder = found->second;
  if (folder.openError != 0) return folder.openError;
  if (folder.entries.empty()) return kFileNotFound;
  listings.push_back({&folder, 1, true});
  ++FakeOpenListings;
  ++FakeListedCount;
  *entry = folder.entries[0];
  *listing = static_cast<ListHandle>(listings.size() - 1);
  return 0;
}

int listNext(ListHandle listing, ListEntry* entry) {
  Held held(systemLock);
  if (listing < 0 || static_cast<std::size_t>(listing) >= listings.size() || !listings[listing].open) return kBadHandle;
  OpenListing& l = listings[listing];
  if (static_cast<int>(l.next) == l.folder->failNextAt) return 59;  // an unexpected network error
  if (l.next >= l.folder->entries.size()) return kNoMoreFiles;
  ++FakeListedCount;
  *entry = l.folder->entries[l.next++];
  return 0;
}

bool isEndOfListing(int error) { return error == kNoMoreFiles; }

void listClose(ListHandle listing) {
  Held held(systemLock);
  if (listing < 0 || static_cast<std::size_t>(listing) >= listings.size() || !listings[listing].open) return;
  listings[listing].open = false;
  --FakeOpenListings;
}

// --- scanned files --------------------------------------------------------------

static FileHandle newHandle(const OpenFile& opened) {
  files.push_back(opened);
  ++FakeOpenFiles;
  return static_cast<FileHandle>(files.size() - 1);
}

int openFileForReading(const char* path, FileHandle* file) {
  Held held(systemLock);
  FakeOpens.push_back(path);
  auto found = FakeFiles.find(path);
  if (found == FakeFiles.end()) {
    auto whole = FakeDisk.find(path);
    if (whole == FakeDisk.end()) return kFileNotFound;
    *file = newHandle({path, nullptr, 0, true, &whole->second});
    return 0;
  }
  if (found->second.openError != 0) return found->second.openError;
  *file = newHandle({path, &found->second, 0, true, nullptr});
  return 0;
}

int openListedFile(const char* path, FileHandle* file, std::size_t rootLength) {
  FakeListedRootLength = rootLength;
  return openFileForReading(path, file);
}

bool isNotFoundError(int error) { return error == kFileNotFound || error == kPathNotFound; }

static OpenFile* openFile(FileHandle file) {
  if (file < 0 || static_cast<std::size_t>(file) >= files.size() || !files[file].open) return nullptr;
  return &files[file];
}

int positionFile(FileHandle file, int64_t offset) {
  Held held(systemLock);
  OpenFile* f = openFile(file);
  if (f == nullptr) return kBadHandle;
  if (f->file != nullptr && f->file->failPositioning) return kReadFault;
  if (offset < 0) return kNegativeSeek;
  f->position = offset;
  return 0;
}

int readFile(FileHandle file, void* buffer, uint32_t size, uint32_t* got) {
  Held held(systemLock);
  *got = 0;
  OpenFile* f = openFile(file);
  if (f == nullptr) return kBadHandle;
  if (f->bytes != nullptr) {
    int64_t count = std::min<int64_t>(size, std::max<int64_t>(0, static_cast<int64_t>(f->bytes->size()) - f->position));
    if (count > 0) std::memcpy(buffer, f->bytes->data() + f->position, static_cast<std::size_t>(count));
    f->position += count;
    *got = static_cast<uint32_t>(count);
    return 0;
  }
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
  if (spec.badFrom >= 0 && start < spec.badFrom + spec.badLength && start + count > spec.badFrom) {
    count = std::max<int64_t>(0, spec.badFrom - start);
    fails = true;
  }
  if (spec.stallAt >= start && spec.stallAt < start + count) FakeHundredths += spec.stallHundredths;
  // Every byte delivered is written, so a read past the buffer shows up
  // under the address sanitizer.
  std::memset(buffer, 0x5A, static_cast<std::size_t>(count));
  f->position += count;
  *got = static_cast<uint32_t>(count);
  FakeReads.push_back({f->path, start, size, *got});
  return fails ? kReadFault : 0;
}

int openFileUnbuffered(const char* path, UnbufferedFile* file, std::size_t rootLength) {
  Held held(systemLock);
  FakeListedRootLength = rootLength;
  *file = UnbufferedFile{};
  int error = openFileForReading(path, &file->handle);
  if (error != 0) return error;
  const FakeFile* spec = files[file->handle].file;
  file->alignment = spec != nullptr ? spec->alignment : 4096;
  file->direct = true;
  return 0;
}

int readFileUnbuffered(const UnbufferedFile& file, int64_t offset, void* buffer, uint32_t size, uint32_t* got) {
  Held held(systemLock);
  *got = 0;
  OpenFile* f = openFile(file.handle);
  if (f == nullptr) return kBadHandle;
  if (!alignedRequest(file.alignment, offset, buffer, size)) {
    ++FakeMisalignedReads;
    return kInvalidParameter;
  }
  f->position = offset;
  int error = readFile(file.handle, buffer, size, got);
  if (f->file != nullptr) FakeReads.back().unbuffered = true;
  return error;
}

int closeFile(FileHandle file) {
  Held held(systemLock);
  OpenFile* f = openFile(file);
  if (f == nullptr) return kBadHandle;
  f->open = false;
  --FakeOpenFiles;
  return 0;
}

// --- whole files --------------------------------------------------------------

int findEntryByName(const char* name, Text* storedName) {
  Held held(systemLock);
  if (FakeDisk.find(name) == FakeDisk.end()) return kFileNotFound;
  *storedName = Text(name);
  return 0;
}

int createFileForWriting(const char* path, FileHandle* file) {
  Held held(systemLock);
  *file = kNoFile;
  if (FakeCreateError != 0) return FakeCreateError;
  std::string& bytes = FakeDisk[path];
  bytes.clear();
  *file = newHandle({path, nullptr, 0, true, &bytes});
  return 0;
}

int removeFile(const char* path) {
  if (FakeRemoveError != 0) return FakeRemoveError;
  return FakeDisk.erase(path) == 1 ? 0 : kFileNotFound;
}

int openFileForAppending(const char* path, FileHandle* file, bool* empty) {
  Held held(systemLock);
  *file = kNoFile;
  *empty = false;
  if (FakeAppendOpenError != 0) return FakeAppendOpenError;
  std::string& bytes = FakeDisk[path];
  *empty = bytes.empty();
  OpenFile opened{path, nullptr, 0, true, &bytes};
  opened.append = true;
  *file = newHandle(opened);
  return 0;
}

int writeFile(FileHandle file, const void* bytes, uint32_t size) {
  Held held(systemLock);
  OpenFile* f = openFile(file);
  if (f == nullptr || f->bytes == nullptr) return kBadHandle;
  if (FakeWriteError != 0) return FakeWriteError;
  ++FakeWriteCount;
  if (f->append) f->position = static_cast<int64_t>(f->bytes->size());
  f->bytes->resize(static_cast<std::size_t>(f->position));
  f->bytes->append(static_cast<const char*>(bytes), size);
  f->position += size;
  return 0;
}

int flushFile(FileHandle file) {
  Held held(systemLock);
  return openFile(file) == nullptr ? kBadHandle : 0;
}

int fileLength(FileHandle file, int64_t* length) {
  Held held(systemLock);
  *length = 0;
  OpenFile* f = openFile(file);
  if (f == nullptr || f->bytes == nullptr) return kBadHandle;
  *length = static_cast<int64_t>(f->bytes->size());
  return 0;
}

int truncateFile(FileHandle file, int64_t length) {
  Held held(systemLock);
  OpenFile* f = openFile(file);
  if (f == nullptr || f->bytes == nullptr) return kBadHandle;
  if (length < static_cast<int64_t>(f->bytes->size())) f->bytes->resize(static_cast<std::size_t>(length));
  return 0;
}

// The scripted disk has no links.
int findLinkTarget(const char* path, std::string* target) {
  Held held(systemLock);
  if (FakeDisk.find(path) == FakeDisk.end()) return kFileNotFound;
  target->assign(path);
  return 0;
}

int replaceFile(const char* from, const char* to) {
  Held held(systemLock);
  if (FakeReplaceError != 0) return FakeReplaceError;
  auto found = FakeDisk.find(from);
  if (found == FakeDisk.end()) return kFileNotFound;
  std::string bytes = std::move(found->second);
  FakeDisk.erase(found);
  FakeDisk[to] = std::move(bytes);
  return 0;
}

// Windows' own texts for the codes the scripted system gives.
Text errorText(int code) {
  switch (code) {
    case kFileNotFound: return "The system cannot find the file specified.";
    case 3: return "The system cannot find the path specified.";
    case 5: return "Access is denied.";
    case kBadHandle: return "The handle is invalid.";
    case kReadFault: return "Data error (cyclic redundancy check).";
    case 32: return "The process cannot access the file because it is being used by another process.";
    case 112: return "There is not enough space on the disk.";
    case kNegativeSeek: return "An attempt was made to move the file pointer before the beginning of the file.";
    default: return "unknown error";
  }
}
const int kFileTooLarge = 223;  // Windows' code, like the others here

void fatalError(int code, uint32_t place) {
  std::fprintf(stderr, "Runtime error %d at 0x%08X on the scripted disk\n", code, static_cast<unsigned>(place));
  std::abort();
}

// --- clock ----------------------------------------------------------------------

uint32_t tickCount() { return FakeTickCount; }

int64_t monotonicHundredths() {
  Held held(systemLock);
  return FakeHundredths += FakeClockStep;
}

int64_t monotonicMilliseconds() {
  Held held(systemLock);
  return (FakeHundredths += FakeClockStep) * 10;
}


int64_t monotonicMicroseconds() {
  Held held(systemLock);
  return (FakeHundredths += FakeClockStep) * 10000;
}

// --- priority -------------------------------------------------------------------

int enterBackgroundMode() {
  ++FakeBackgroundThreads;
  return FakeBackgroundError;
}

// The clock moves by the pause, rounded up to hundredths, instead of the
// thread sleeping: a pause of less than a hundredth still moves it, as any
// real pause takes time.
void pauseMilliseconds(int64_t milliseconds) {
  {
    Held held(systemLock);
    FakeHundredths += (milliseconds + 9) / 10;
    FakePausedMilliseconds += milliseconds;
  }
  if (FakePauseHook) FakePauseHook();
}

LocalTime localTime() { return FakeLocalTime; }
