#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cstring>

#include "bench/bare_os.h"

// A listing gives what a Windows listing gives with each entry: the name,
// the size and whether it is a folder, so every entry costs a stat, as it
// does in the program's own POSIX layer. "." and ".." come first.

const char kBareSeparator = '/';

namespace {

DIR* listing = nullptr;
int dotsGiven = 0;

void describe(const char* name, BareEntry* entry) {
  entry->name = name;
  entry->size = 0;
  entry->attributes = 0x20;
  struct stat st;
  // A link is passed over by the scan: neither entered nor read.
  if (fstatat(dirfd(listing), name, &st, AT_SYMLINK_NOFOLLOW) != 0 || S_ISLNK(st.st_mode)) return;
  if (S_ISDIR(st.st_mode)) {
    entry->attributes = 0x10;
  } else {
    entry->size = st.st_size;
  }
}

}  // namespace

bool bareListFirst(char* folder, std::size_t length, BareEntry* entry) {
  folder[length] = '\0';
  listing = opendir(folder);
  if (listing == nullptr) return false;
  dotsGiven = 0;
  return bareListNext(entry);
}

bool bareListNext(BareEntry* entry) {
  if (dotsGiven < 2) {
    entry->name = dotsGiven == 0 ? "." : "..";
    entry->size = 0;
    entry->attributes = 0x10;
    ++dotsGiven;
    return true;
  }
  for (;;) {
    dirent* d = readdir(listing);
    if (d == nullptr) return false;
    const char* name = d->d_name;
    if (name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'))) continue;
    describe(name, entry);
    return true;
  }
}

void bareListClose() {
  closedir(listing);
  listing = nullptr;
}

intptr_t bareOpen(const char* path) {
  int fd = open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return -1;
  struct stat st;
  if (fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
    close(fd);
    return -1;
  }
  return fd;
}

bool barePosition(intptr_t file, int64_t offset) {
  return lseek(static_cast<int>(file), offset, SEEK_SET) >= 0;
}

int64_t bareRead(intptr_t file, char* buffer, int64_t length, bool* failed) {
  *failed = false;
  int64_t got = 0;
  while (got < length) {
    ssize_t n = read(static_cast<int>(file), buffer + got, static_cast<size_t>(length - got));
    if (n < 0) {
      *failed = true;
      break;
    }
    if (n == 0) break;
    got += n;
  }
  return got;
}

void bareClose(intptr_t file) { close(static_cast<int>(file)); }

double bareSeconds() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}
