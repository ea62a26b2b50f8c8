// A system that answers at once: every file opens, positions and reads in
// full without touching anything, listings are empty and the clock stands
// still. The hot-path benchmarks link it so that they time the engine's own
// work and nothing of the system's.
#include "platform/clock.h"
#include "platform/files.h"
#include "platform/listing.h"

int findEntryByName(const char*, Text*) { return 2; }
int openFileForReading(const char*, FileHandle* file) {
  *file = 3;
  return 0;
}
int createFileForWriting(const char*, FileHandle* file) {
  *file = kNoFile;
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
int findLinkTarget(const char*, std::string*) { return 2; }
int replaceFile(const char*, const char*) { return 5; }
const int kFileTooLarge = 223;

int listFirst(const char*, ListHandle* listing, ListEntry*) {
  *listing = kNoListing;
  return 2;
}
int listNext(ListHandle, ListEntry*) { return 18; }
void listClose(ListHandle) {}

uint32_t tickCount() { return 0; }
int64_t monotonicHundredths() { return 0; }
