#include <fcntl.h>
#include <unistd.h>

#include "scan/sparse_file.h"

bool makeSparseFile(const char* path, int64_t size) {
  int fd = open(path, O_CREAT | O_TRUNC | O_WRONLY, 0644);
  if (fd < 0) return false;
  bool made = ftruncate(fd, static_cast<off_t>(size)) == 0;
  return close(fd) == 0 && made;
}
