#include "platform/files.h"

#include "platform/posix/listed_file.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#if __has_include(<linux/openat2.h>)
#include <linux/openat2.h>
#endif

#include <algorithm>
#include <atomic>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

// Paths go to the system as they are: the program joins folders with '/'
// here, and a backslash is an ordinary character of a name. Every failure
// returns errno as it was right after the failing call, never 0 (a call
// that fails without setting errno reports EIO).

const char kPathSeparator = '/';
const char kLineEnd[] = "\n";

namespace {

int lastError() {
  int error = errno;
  return error != 0 ? error : EIO;
}

int descriptor(FileHandle file) { return static_cast<int>(file); }

// The error of the call that just failed, after closing `fd`.
int closeAfterFailure(int fd) {
  int error = lastError();
  close(fd);
  return error;
}

// strerror_r comes in two forms: the XSI one fills the buffer and returns a
// status, the GNU one returns the text, in the buffer or elsewhere.
[[maybe_unused]] const char* messageOf(int status, const char* buffer) { return status == 0 ? buffer : nullptr; }
[[maybe_unused]] const char* messageOf(const char* text, const char*) { return text; }

// Opens `path` for reading with `flags` added, and keeps it only when it
// is a regular file; `*st` describes it. This open follows links: it serves
// the settings file, which may be one.
int openRegularFile(const char* path, int flags, int* fd, struct stat* st) {
  *fd = -1;
  // Without O_NONBLOCK a FIFO in the settings file's place would wait for a
  // writer for ever; no read of a regular file notices the flag.
  int opened = open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY | flags);
  if (opened < 0) return lastError();
  // A folder opens here but not on Windows; refuse it the same way, and
  // anything else that is not a regular file with it.
  if (fstat(opened, st) != 0) return closeAfterFailure(opened);
  if (!S_ISREG(st->st_mode)) {
    close(opened);
    return S_ISDIR(st->st_mode) ? EISDIR : EINVAL;
  }
  *fd = opened;
  return 0;
}

// Clears O_NONBLOCK on a descriptor that is a regular file, so that its
// reads are the plain blocking ones; closes it on failure.
int makeBlocking(int fd) {
  int flags = fcntl(fd, F_GETFL);
  if (flags < 0) return closeAfterFailure(fd);
  if (fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) return closeAfterFailure(fd);
  return 0;
}

bool sameEntry(const struct stat& a, const struct stat& b) { return a.st_dev == b.st_dev && a.st_ino == b.st_ino; }

#if defined(SYS_openat2) && defined(RESOLVE_NO_SYMLINKS)
// Cleared once the system answers that it has no openat2 (before Linux 5.6).
std::atomic<bool> openat2Known{true};
#endif

// The entry at `path` as an O_PATH descriptor. Below the root folder, a
// folder put in the place of a link after the listing would otherwise lead
// the open out of the tree to a file of the same name; openat2 refuses
// every link on the way there (and any way out of the root), as a missing
// entry. The root itself is opened as the user named it, links and all.
int openEntryBelowRoot(const char* path, std::size_t rootLength) {
  const int entryFlags = O_PATH | O_NOFOLLOW | O_CLOEXEC;
#if defined(SYS_openat2) && defined(RESOLVE_NO_SYMLINKS)
  std::size_t length = std::strlen(path);
  if (rootLength > 0 && rootLength < length && rootLength < PATH_MAX && openat2Known.load()) {
    char root[PATH_MAX];
    std::memcpy(root, path, rootLength);
    root[rootLength] = '\0';
    int rootFolder = open(root, O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (rootFolder < 0) return -1;
    struct open_how how = {};
    how.flags = static_cast<uint64_t>(entryFlags);
    how.resolve = RESOLVE_NO_SYMLINKS | RESOLVE_BENEATH;
    int entry = static_cast<int>(syscall(SYS_openat2, rootFolder, path + rootLength, &how, sizeof how));
    int error = entry < 0 ? lastError() : 0;
    close(rootFolder);
    if (entry >= 0) return entry;
    if (error != ENOSYS) {
      // A link on the way (ELOOP) or a way out of the root (EXDEV).
      errno = error == ELOOP || error == EXDEV ? ENOENT : error;
      return -1;
    }
    openat2Known.store(false);
  }
#else
  static_cast<void>(rootLength);
#endif
  return open(path, entryFlags);
}

}  // namespace

int openListedRegularFile(const char* path, std::size_t rootLength, int flags, ListedFileReopen how, int* fd,
                          struct stat* st) {
  *fd = -1;
  // O_PATH opens no device and wakes no FIFO writer, which any open for
  // reading does, O_NONBLOCK or not; with O_NOFOLLOW a link in the last
  // step is the link itself, not what it leads to.
  int entry = openEntryBelowRoot(path, rootLength);
  if (entry < 0) return lastError();
  if (fstat(entry, st) != 0) return closeAfterFailure(entry);
  if (!S_ISREG(st->st_mode)) {
    close(entry);
    // A folder fails as on Windows; anything else is passed over.
    return S_ISDIR(st->st_mode) ? EISDIR : ENOENT;
  }
  const int readFlags = O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK | flags;
  int opened = -1;
  if (how == ListedFileReopen::ThroughProc) {
    // The descriptor's link in /proc opens the very inode just examined,
    // whatever has been put at the path since.
    char self[40];
    std::snprintf(self, sizeof self, "/proc/self/fd/%d", entry);
    opened = open(self, readFlags);
    if (opened < 0 && errno == ENOENT) how = ListedFileReopen::ThroughFolder;  // no /proc here
  }
  if (how == ListedFileReopen::ThroughFolder) {
    // Without /proc: the name in its folder, never through a link, and
    // kept only when it is still the entry examined. A FIFO or a device put
    // there between the two opens is opened (O_NONBLOCK keeps a FIFO from
    // waiting) but closed at once below.
    const char* slash = std::strrchr(path, '/');
    char folder[PATH_MAX] = ".";
    if (slash != nullptr) {
      std::size_t length = slash == path ? 1 : static_cast<std::size_t>(slash - path);
      if (length >= sizeof folder) {
        close(entry);
        return ENAMETOOLONG;
      }
      std::memcpy(folder, path, length);
      folder[length] = '\0';
    }
    int parent = open(folder, O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (parent < 0) return closeAfterFailure(entry);
    opened = openat(parent, slash == nullptr ? path : slash + 1, readFlags | O_NOFOLLOW);
    int error = lastError();
    close(parent);
    errno = error;
  }
  if (opened < 0) return closeAfterFailure(entry);
  close(entry);
  struct stat now;
  if (fstat(opened, &now) != 0) return closeAfterFailure(opened);
  if (!S_ISREG(now.st_mode) || !sameEntry(now, *st)) {
    close(opened);
    return ENOENT;
  }
  int error = makeBlocking(opened);
  if (error != 0) return error;
  *fd = opened;
  return 0;
}

const int kFileTooLarge = EFBIG;

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
  int fd = -1;
  struct stat st;
  int error = openRegularFile(path, 0, &fd, &st);
  if (error != 0) return error;
  *file = fd;
  return 0;
}

int openListedFile(const char* path, FileHandle* file, std::size_t rootLength) {
  *file = kNoFile;
  int fd = -1;
  struct stat st;
  int error = openListedRegularFile(path, rootLength, 0, ListedFileReopen::ThroughProc, &fd, &st);
  if (error != 0) return error;
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

int removeFile(const char* path) { return unlink(path) == 0 ? 0 : lastError(); }

int openFileForAppending(const char* path, FileHandle* file, bool* empty) {
  *file = kNoFile;
  *empty = false;
  // O_NONBLOCK: a FIFO without a reader fails at once instead of waiting
  // for one; writes then wait as usual. O_NOFOLLOW: a link planted at the
  // list's path (the list may lie in a tree others write to) would make a
  // scan run as root append to any file; it refuses the open (ELOOP).
  int fd = open(path, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOCTTY | O_NONBLOCK | O_NOFOLLOW, 0666);
  if (fd < 0) return lastError();
  struct stat st;
  if (fstat(fd, &st) != 0) return closeAfterFailure(fd);
  int flags = fcntl(fd, F_GETFL);
  if (flags < 0) return closeAfterFailure(fd);
  if (fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) return closeAfterFailure(fd);
  *empty = S_ISREG(st.st_mode) && st.st_size == 0;
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

int fileLength(FileHandle file, int64_t* length) {
  *length = 0;
  struct stat st;
  if (fstat(descriptor(file), &st) != 0) return lastError();
  *length = static_cast<int64_t>(st.st_size);
  return 0;
}

int truncateFile(FileHandle file, int64_t length) {
  // Shortening a file is allowed whatever RLIMIT_FSIZE says.
  if (ftruncate(descriptor(file), static_cast<off_t>(length)) != 0) return lastError();
  return 0;
}

// --- reads past the cache ------------------------------------------------

namespace {

bool usableAlignment(int64_t alignment) {
  return alignment <= kLargestAlignment && (alignment & (alignment - 1)) == 0;
}

// Drops the cached pages of a span, so that a read after it goes to the
// disk and nothing of it stays behind. Advice only: where the system does
// not take it, the read comes from its cache as without the flag.
void dropCachedPages(int fd, int64_t offset, uint32_t size) {
  int refused = posix_fadvise(fd, static_cast<off_t>(offset), static_cast<off_t>(size), POSIX_FADV_DONTNEED);
  static_cast<void>(refused);
}

}  // namespace

int openFileUnbuffered(const char* path, UnbufferedFile* file, std::size_t rootLength) {
  *file = UnbufferedFile{};
  int fd = -1;
  struct stat st;
  int error = openListedRegularFile(path, rootLength, O_DIRECT, ListedFileReopen::ThroughProc, &fd, &st);
  if (error == 0) {
    // O_DIRECT wants whole blocks of the file system.
    int64_t alignment = std::max<int64_t>(4096, st.st_blksize);
    if (usableAlignment(alignment)) {
      *file = {fd, static_cast<uint32_t>(alignment), true};
      return 0;
    }
    close(fd);
  }
  // A file system without O_DIRECT refuses it (EINVAL: tmpfs before Linux
  // 6.6, many FUSE ones); whatever the refusal, the usual open decides. The
  // reads then drop the cached pages of their spans, which are whole pages.
  if (isNotFoundError(error)) return error;
  error = openListedRegularFile(path, rootLength, 0, ListedFileReopen::ThroughProc, &fd, &st);
  if (error != 0) return error;
  // No read-ahead either, which would leave the pages next to a span cached.
  int refused = posix_fadvise(fd, 0, 0, POSIX_FADV_RANDOM);
  static_cast<void>(refused);
  *file = {fd, static_cast<uint32_t>(std::max<long>(4096, sysconf(_SC_PAGESIZE))), false};
  return 0;
}

int readFileUnbuffered(const UnbufferedFile& file, int64_t offset, void* buffer, uint32_t size, uint32_t* got) {
  *got = 0;
  if (!alignedRequest(file.alignment, offset, buffer, size)) return EINVAL;
  int fd = descriptor(file.handle);
  if (!file.direct) dropCachedPages(fd, offset, size);
  char* at = static_cast<char*>(buffer);
  int error = 0;
  while (*got < size) {
    ssize_t n = pread(fd, at + *got, size - *got, static_cast<off_t>(offset + *got));
    if (n < 0) {
      if (errno == EINTR) continue;
      error = lastError();
      break;
    }
    if (n == 0) break;
    *got += static_cast<uint32_t>(n);
    // Part of a unit comes only at the end of the file; a read after it
    // would not be aligned.
    if (*got % file.alignment != 0) break;
  }
  if (!file.direct) dropCachedPages(fd, offset, size);
  return error;
}

int findLinkTarget(const char* path, std::string* target) {
  char resolved[PATH_MAX];
  if (realpath(path, resolved) == nullptr) return lastError();
  target->assign(resolved);
  return 0;
}

int replaceFile(const char* from, const char* to) {
  struct stat old;
  if (stat(to, &old) == 0) {
    // Only a privileged process may give a file to another owner or group;
    // without the privilege the new file stays the writer's, as any file
    // it writes would.
    if (chown(from, old.st_uid, old.st_gid) != 0 && errno != EPERM) return lastError();
    // After the owner: a change of owner may clear mode bits.
    if (chmod(from, old.st_mode & 07777) != 0) return lastError();
  } else if (errno != ENOENT) {
    return lastError();
  }
  if (rename(from, to) != 0) return lastError();
  return 0;
}

Text errorText(int code) {
  char buffer[256] = {};
  const char* text = messageOf(strerror_r(code, buffer, sizeof buffer), buffer);
  if (text == nullptr || *text == '\0') return Text("unknown error");
  return Text(text);
}
