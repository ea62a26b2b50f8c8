// A system that answers at once: every file opens, positions and reads in
// full without touching anything, listings are empty and the clock stands
// still. The hot-path benchmarks link it so that they time the engine's own
// work and nothing of the system's.
#include <cstdlib>

#include "platform/clock.h"
#include "platform/files.h"
#include "platform/listing.h"
#include "platform/memory.h"
#include "platform/priority.h"

const char kPathSeparator = '\\';
const char kLineEnd[] = "\r\n";

int findEntryByName(const char*, Text*) { return 2; }
int openFileForReading(const char*, FileHandle* file) {
  *file = 3;
  return 0;
}
int openListedFile(const char* path, FileHandle* file, std::size_t) { return openFileForReading(path, file); }
bool isNotFoundError(int error) { return error == 2 || error == 3; }
int createFileForWriting(const char*, FileHandle* file) {
  *file = kNoFile;
  return 5;
}
int openFileForAppending(const char*, FileHandle* file, bool* empty) {
  *file = kNoFile;
  *empty = false;
  return 5;
}
int readFile(FileHandle, void*, uint32_t size, uint32_t* got) {
  *got = size;
  return 0;
}
int writeFile(FileHandle, const void*, uint32_t) { return 5; }
int flushFile(FileHandle) { return 0; }
int positionFile(FileHandle, int64_t) { return 0; }
int closeFile(FileHandle) { return 0; }
int fileLength(FileHandle, int64_t* length) {
  *length = 0;
  return 0;
}
int truncateFile(FileHandle, int64_t) { return 5; }
int openFileUnbuffered(const char*, UnbufferedFile* file, std::size_t) {
  *file = {3, 4096, true};
  return 0;
}
int readFileUnbuffered(const UnbufferedFile&, int64_t, void*, uint32_t size, uint32_t* got) {
  *got = size;
  return 0;
}
Text errorText(int) { return Text("unknown error"); }
int findLinkTarget(const char*, std::string*) { return 2; }
int replaceFile(const char*, const char*) { return 5; }
int removeFile(const char*) { return 5; }
const int kFileTooLarge = 223;

int listFirst(const char*, ListHandle* listing, ListEntry*) {
  *listing = kNoListing;
  return 2;
}
int listNext(ListHandle, ListEntry*) { return 18; }
bool isEndOfListing(int error) { return error == 18; }
void listClose(ListHandle) {}

uint32_t tickCount() { return 0; }
int64_t monotonicHundredths() { return 0; }
int64_t monotonicMilliseconds() { return 0; }
int64_t monotonicMicroseconds() { return 0; }
void pauseMilliseconds(int64_t) {}
LocalTime localTime() { return LocalTime(); }

char* allocateAlignedMemory(int64_t size) {
  void* memory = nullptr;
  if (posix_memalign(&memory, kLargestAlignment, static_cast<std::size_t>(size)) != 0) return nullptr;
  return static_cast<char*>(memory);
}
void releaseAlignedMemory(char* memory) { std::free(memory); }

int enterBackgroundMode() { return 0; }
