// Test helper: how many pages of a file the system holds in its page cache.
#pragma once

#include <sys/mman.h>
#include <sys/stat.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <string>
#include <vector>

// One flag per page of the file at `path`, true where the page is resident
// (mincore over a mapping, which itself brings nothing in); empty when the
// file cannot be mapped.
inline std::vector<bool> residentPages(const std::string& path) {
  std::vector<bool> resident;
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return resident;
  struct stat st;
  if (fstat(fd, &st) != 0 || st.st_size == 0) {
    close(fd);
    return resident;
  }
  std::size_t size = static_cast<std::size_t>(st.st_size);
  void* mapping = mmap(nullptr, size, PROT_READ, MAP_SHARED, fd, 0);
  close(fd);
  if (mapping == MAP_FAILED) return resident;
  std::size_t page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
  std::vector<unsigned char> flags((size + page - 1) / page);
  if (mincore(mapping, size, flags.data()) == 0) {
    for (unsigned char f : flags) resident.push_back((f & 1) != 0);
  }
  munmap(mapping, size);
  return resident;
}

inline int64_t residentCount(const std::vector<bool>& pages) {
  int64_t count = 0;
  for (bool p : pages) count += p ? 1 : 0;
  return count;
}

// Writes the file through to the disk and drops its pages from the cache,
// so that the next read of it goes to the disk. False when the system does
// not let it.
inline bool dropFromCache(const std::string& path) {
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  bool dropped = fdatasync(fd) == 0 && posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED) == 0;
  close(fd);
  return dropped;
}
