// make_bench_trees FOLDER: makes, under FOLDER, the two trees the benchmark
// samples, from the Linux side, where making 120,000 files takes seconds
// (under Wine it takes minutes):
// "tree/", 20,202 files of mixed sizes in 259 folders on 4 levels (6
// subfolders and 78 files in each folder above the last level), and "flat/",
// 100,000 small files in one folder; for "check every file", "every/", a
// copy of "tree/" with one file planted that cannot be opened, and
// "million/", 1,000,000 empty files in 1,000 folders; for whole-file reads,
// "large/", 200 files of 1 to 16 MiB. Each is made once; a
// marker file beside it tells that it is complete.
#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>

namespace {

constexpr int kLevels = 4;
constexpr int kFoldersPerFolder = 6;
constexpr int kFilesPerFolder = 78;
constexpr int kFlatFiles = 100000;
constexpr const char* kMarker = ".complete";

char zeros[1 << 18];

// Sizes drawn evenly on a logarithmic scale from 1 byte to `largest`, with
// one file in twenty empty: many small files and some large ones, as on a
// real disk.
uint64_t sizeState = 12345;
int64_t nextSize(double largest) {
  sizeState = sizeState * 6364136223846793005ull + 1442695040888963407ull;
  double u = static_cast<double>(sizeState >> 11) / 9007199254740992.0;
  if (u < 0.05) return 0;
  return static_cast<int64_t>(std::exp((u - 0.05) / 0.95 * std::log(largest)));
}

// Names of eight hexadecimal digits, all different (a serial number times an
// odd constant modulo 2^32): in a listing sorted by name, as Windows gives
// it, files and folders come mixed, as they do on a real disk.
uint32_t serial = 0;
std::string nextName() {
  char name[16];
  std::snprintf(name, sizeof name, "%08x", ++serial * 2654435761u);
  return name;
}

bool fail(const std::string& what) {
  std::fprintf(stderr, "bench: %s: %s\n", what.c_str(), std::strerror(errno));
  return false;
}

bool writeFileOf(const std::string& path, int64_t size) {
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (fd < 0) return fail(path);
  int64_t left = size;
  while (left > 0) {
    ssize_t n = write(fd, zeros, static_cast<size_t>(std::min<int64_t>(left, sizeof zeros)));
    if (n <= 0) {
      close(fd);
      return fail(path);
    }
    left -= n;
  }
  if (close(fd) != 0) return fail(path);
  return true;
}

bool makeFolder(const std::string& path) {
  if (mkdir(path.c_str(), 0755) != 0 && errno != EEXIST) return fail(path);
  return true;
}

bool fillFolder(const std::string& folder, int level) {
  if (!makeFolder(folder)) return false;
  for (int i = 0; i < kFilesPerFolder; ++i) {
    if (!writeFileOf(folder + nextName() + ".bin", nextSize(256 * 1024.0))) return false;
  }
  if (level + 1 == kLevels) return true;
  for (int i = 0; i < kFoldersPerFolder; ++i) {
    if (!fillFolder(folder + nextName() + "/", level + 1)) return false;
  }
  return true;
}

// A file that cannot be opened, even by root: a link to a write-only
// attribute of the kernel, which refuses every open for reading (it is
// listed through the link as a regular file of 4096 bytes). A machine
// without one gets no planted file; false only when the link cannot be made.
bool plantUnopenable(const std::string& path) {
  const char* target = "/sys/bus/pci/rescan";
  struct stat st;
  bool refused = stat(target, &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0;
  if (refused) {
    int fd = open(target, O_RDONLY | O_NONBLOCK);
    refused = fd < 0;
    if (fd >= 0) close(fd);
  }
  if (!refused) {
    std::fprintf(stderr, "bench: no file that cannot be opened can be planted on this machine\n");
    return true;
  }
  if (symlink(target, path.c_str()) != 0) return fail(path);
  return true;
}

// Two levels of 40 and 25 folders, 1,000 empty files in each of the lower
// ones: empty files take no room on the disk, only their entries.
bool fillMillion(const std::string& folder) {
  if (!makeFolder(folder)) return false;
  for (int top = 0; top < 40; ++top) {
    std::string upper = folder + nextName() + "/";
    if (!makeFolder(upper)) return false;
    for (int sub = 0; sub < 25; ++sub) {
      std::string lower = upper + nextName() + "/";
      if (!makeFolder(lower)) return false;
      for (int i = 0; i < 1000; ++i) {
        std::string path = lower + nextName() + ".bin";
        int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (fd < 0 || close(fd) != 0) return fail(path);
      }
    }
  }
  return true;
}

// 200 files of 1 to 16 MiB, evenly on a logarithmic scale, in 4 folders:
// the tree that whole-file reads are timed on (about 1 GB).
bool fillLarge(const std::string& folder) {
  if (!makeFolder(folder)) return false;
  for (int sub = 0; sub < 4; ++sub) {
    std::string lower = folder + nextName() + "/";
    if (!makeFolder(lower)) return false;
    for (int i = 0; i < 50; ++i) {
      sizeState = sizeState * 6364136223846793005ull + 1442695040888963407ull;
      double u = static_cast<double>(sizeState >> 11) / 9007199254740992.0;
      int64_t size = static_cast<int64_t>(std::exp(std::log(1048576.0) + u * std::log(16.0)));
      if (!writeFileOf(lower + nextName() + ".bin", size)) return false;
    }
  }
  return true;
}

bool complete(const std::string& folder) { return access((folder + kMarker).c_str(), F_OK) == 0; }

bool markComplete(const std::string& folder) { return writeFileOf(folder + kMarker, 0); }

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_bench_trees FOLDER\n");
    return 2;
  }
  std::string base = argv[1];
  if (base.empty() || base.back() != '/') base += '/';
  if (!makeFolder(base)) return 1;
  std::string tree = base + "tree/";
  if (!complete(base + "tree")) {
    if (!fillFolder(tree, 0) || !markComplete(base + "tree")) return 1;
  }
  std::string flat = base + "flat/";
  if (!complete(base + "flat")) {
    if (!makeFolder(flat)) return 1;
    for (int i = 0; i < kFlatFiles; ++i) {
      if (!writeFileOf(flat + nextName() + ".bin", nextSize(16 * 1024.0))) return 1;
    }
    if (!markComplete(base + "flat")) return 1;
  }
  if (!complete(base + "every")) {
    // The names and sizes of "tree/" again, and a name in the middle of the
    // root folder's sorted listing for the planted file.
    serial = 0;
    sizeState = 12345;
    if (!fillFolder(base + "every/", 0) || !plantUnopenable(base + "every/80000000-planted.bin") ||
        !markComplete(base + "every")) {
      return 1;
    }
  }
  if (!complete(base + "large")) {
    if (!fillLarge(base + "large/") || !markComplete(base + "large")) return 1;
  }
  if (!complete(base + "million")) {
    if (!fillMillion(base + "million/") || !markComplete(base + "million")) return 1;
  }
  return 0;
}
