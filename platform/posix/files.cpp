#include "platform/files.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstddef>
#include <cstdio>
#include <cstdlib>

// The program writes its paths with backslashes; here they become slashes.
// Every failure returns errno as it was right after the failing call, never
// 0 (a call that fails without setting errno reports EIO).

namespace {

// The path with slashes, in the caller's buffer: opening a file to check it
// allocates nothing. False when it does not fit, as the system would say.
struct PosixPath {
  char text[PATH_MAX];
  bool fits = false;
  explicit PosixPath(const char* path) {
    std::size_t i = 0;
    for (; path[i] != '\0'; ++i) {
      if (i + 1 == sizeof text) return;
      text[i] = path[i] == '\\' ? '/' : path[i];
    }
    text[i] = '\0';
    fits = true;
  }
};

int lastError() {
  int error = errno;
  return error != 0 ? error : EIO;
}

int descriptor(FileHandle file) { return static_cast<int>(file); }

}  // namespace

const int kFileTooLarge = EFBIG;

int findEntryByName(const char* name, Text* storedName) {
  struct stat st;
  // lstat: a dangling link or any other kind of entry counts as found.
  PosixPath path(name);
  if (!path.fits) return ENAMETOOLONG;
  if (lstat(path.text, &st) != 0) return lastError();
  // The file system matches names exactly, so the stored name is the one
  // asked for.
  *storedName = Text(name);
  return 0;
}

int openFileForReading(const char* path, FileHandle* file) {
  *file = kNoFile;
  PosixPath posix(path);
  if (!posix.fits) return ENAMETOOLONG;
  int fd = open(posix.text, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return lastError();
  // A folder opens here but not on Windows; refuse it the same way.
  struct stat st;
  if (fstat(fd, &st) != 0) {
    int error = lastError();
    close(fd);
    return error;
  }
  if (S_ISDIR(st.st_mode)) {
    close(fd);
    return EISDIR;
  }
  *file = fd;
  return 0;
}

int createFileForWriting(const char* path, FileHandle* file) {
  *file = kNoFile;
  PosixPath posix(path);
  if (!posix.fits) return ENAMETOOLONG;
  int fd = open(posix.text, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
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

int findLinkTarget(const char* path, std::string* target) {
  PosixPath posix(path);
  if (!posix.fits) return ENAMETOOLONG;
  char resolved[PATH_MAX];
  if (realpath(posix.text, resolved) == nullptr) return lastError();
  target->assign(resolved);
  return 0;
}

int replaceFile(const char* from, const char* to) {
  PosixPath posixFrom(from), posixTo(to);
  if (!posixFrom.fits || !posixTo.fits) return ENAMETOOLONG;
  struct stat old;
  if (stat(posixTo.text, &old) == 0) {
    // Only a privileged process may give a file to another owner or group;
    // without the privilege the new file stays the writer's, as any file
    // it writes would.
    if (chown(posixFrom.text, old.st_uid, old.st_gid) != 0 && errno != EPERM) return lastError();
    // After the owner: a change of owner may clear mode bits.
    if (chmod(posixFrom.text, old.st_mode & 07777) != 0) return lastError();
  } else if (errno != ENOENT) {
    return lastError();
  }
  if (rename(posixFrom.text, posixTo.text) != 0) return lastError();
  return 0;
}
