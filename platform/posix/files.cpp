#include "platform/files.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>


// Paths go to the system as they are: the program joins folders with '/'
// here, and a backslash is an ordinary character of a name. Every failure
// returns errno as it was right after the failing call, never 0 (a call
// that fails without setting errno reports EIO).

const char kPathSeparator = '/';

namespace {

int lastError() {
  int error = errno;
  return error != 0 ? error : EIO;
}

int descriptor(FileHandle file) { return static_cast<int>(file); }

}  // namespace

int findEntryByName(const char* name, Text* storedName) {
  struct stat st;
  // lstat: a dangling link or any other kind of entry counts as found.
  if (lstat(name, &st) != 0) return lastError();
  // The file system matches names exactly, so the stored name is the one
  // asked for.
  *storedName = Text(name);
  return 0;
}

int openFileForReading(const char* path, FileHandle* file) {
  *file = kNoFile;
  // Without O_NONBLOCK a FIFO put in place of a listed file would wait for
  // a writer for ever; no read of a regular file notices the flag.
  int fd = open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  if (fd < 0) return lastError();
  // A folder opens here but not on Windows; refuse it the same way, and
  // anything else that is not a regular file with it.
  struct stat st;
  if (fstat(fd, &st) != 0) {
    int error = lastError();
    close(fd);
    return error;
  }
  if (!S_ISREG(st.st_mode)) {
    close(fd);
    return S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
  }
  *file = fd;
  return 0;
}

bool isNotFoundError(int error) { return error == ENOENT || error == ENOTDIR; }

int createFileForWriting(const char* path, FileHandle* file) {
  *file = kNoFile;
  int fd = open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) return lastError();
  *file = fd;
  return 0;
}

int readFile(FileHandle file, void* buffer, uint32_t size, uint32_t* got) {
  *got = 0;
  char* at = static_cast<char*>(buffer);
  // read() may stop short of a full block without being at the end; go on
  // until the block is full or nothing more comes, as ReadFile does.
  while (*got < size) {
    ssize_t n = read(descriptor(file), at + *got, size - *got);
    if (n < 0) {
      if (errno == EINTR) continue;
      return lastError();
    }
    if (n == 0) break;
    *got += static_cast<uint32_t>(n);
  }
  return 0;
}

int writeFile(FileHandle file, const void* bytes, uint32_t size) {
  const char* at = static_cast<const char*>(bytes);
  uint32_t done = 0;
  while (done < size) {
    ssize_t n = write(descriptor(file), at + done, size - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return lastError();
    }
    done += static_cast<uint32_t>(n);
  }
  return 0;
}

int flushFile(FileHandle file) {
  if (fsync(descriptor(file)) != 0) return lastError();
  return 0;
}

int positionFile(FileHandle file, int64_t offset) {
  if (lseek(descriptor(file), static_cast<off_t>(offset), SEEK_SET) < 0) return lastError();
  return 0;
}

int closeFile(FileHandle file) {
  // No retry on EINTR: the descriptor is released either way on Linux.
  if (close(descriptor(file)) != 0) return lastError();
  return 0;
}

int deleteFile(const char* path) {
  if (unlink(path) != 0) return lastError();
  return 0;
}

int replaceFile(const char* from, const char* to) {
  if (rename(from, to) != 0) return lastError();
  return 0;
}
