// The POSIX layer's reads past the cache: O_DIRECT where the file system
// takes it, and where it does not, a usual open whose reads drop the pages
// of their spans.
#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <algorithm>
#include <string>

#include "common/test_support.h"
#include "platform/files.h"
#include "platform/memory.h"
#include "platform/posix/resident_pages.h"

extern const int kRefusedRequest = EINVAL;

namespace {

constexpr long kTmpfsMagic = 0x01021994;

bool onTmpfs(const char* path) {
  struct statfs fs;
  return statfs(path, &fs) == 0 && fs.f_type == kTmpfsMagic;
}

int64_t pageSize() { return sysconf(_SC_PAGESIZE); }

TEST(UnbufferedPosix, DiskFileOpensWithODirect) {
  ScopedTempDir dir;
  if (onTmpfs(".")) GTEST_SKIP() << "the temporary folder is in memory";
  writeTestFile("data.bin", std::string(10000, 'd'));
  UnbufferedFile file;
  ASSERT_EQ(openFileUnbuffered("data.bin", &file), 0);
  EXPECT_TRUE(file.direct);
  int flags = fcntl(static_cast<int>(file.handle), F_GETFL);
  EXPECT_NE(flags & O_DIRECT, 0);
  struct stat st;
  ASSERT_EQ(fstat(static_cast<int>(file.handle), &st), 0);
  EXPECT_EQ(file.alignment, std::max<int64_t>(4096, st.st_blksize));
  EXPECT_EQ(closeFile(file.handle), 0);
}

// /proc refuses O_DIRECT with EINVAL: the file is opened as usual, no
// failure, and reads in whole pages.
TEST(UnbufferedPosix, AFileSystemWithoutODirectOpensAsUsual) {
  const char* path = "/proc/version";
  int probe = open(path, O_RDONLY | O_DIRECT);
  int refusal = errno;
  if (probe >= 0) close(probe);
  if (probe >= 0 || refusal != EINVAL) GTEST_SKIP() << path << " does not refuse O_DIRECT here";
  UnbufferedFile file;
  ASSERT_EQ(openFileUnbuffered(path, &file), 0);
  EXPECT_FALSE(file.direct);
  EXPECT_EQ(fcntl(static_cast<int>(file.handle), F_GETFL) & O_DIRECT, 0);
  EXPECT_EQ(file.alignment, std::max<int64_t>(4096, pageSize()));
  char* buffer = allocateAlignedMemory(file.alignment);
  ASSERT_NE(buffer, nullptr);
  uint32_t got = 0;
  EXPECT_EQ(readFileUnbuffered(file, 0, buffer, file.alignment, &got), 0);
  EXPECT_GT(got, 0u);
  EXPECT_EQ(std::string(buffer, std::min<uint32_t>(got, 5)), "Linux");
  releaseAlignedMemory(buffer);
  EXPECT_EQ(closeFile(file.handle), 0);
}

// Opened as usual, a read drops the pages of its span, before it (so that
// it reads the disk) and after it (so that nothing of it stays cached); the
// pages around the span stay as they were.
TEST(UnbufferedPosix, WithoutODirectEachReadDropsItsSpansPages) {
  ScopedTempDir dir;
  if (onTmpfs(".")) GTEST_SKIP() << "the temporary folder is in memory, which no advice drops";
  const int64_t page = std::max<int64_t>(4096, pageSize());
  writeTestFile("data.bin", std::string(static_cast<std::size_t>(16 * page), 'p'));
  std::string path = (dir.path() / "data.bin").string();
  // Written pages are dirty, which no advice drops; stored and read back
  // they are clean.
  ASSERT_TRUE(dropFromCache(path));
  ASSERT_EQ(readTestFile("data.bin").size(), static_cast<std::size_t>(16 * page));
  ASSERT_EQ(residentCount(residentPages(path)), 16) << "a file just read is not in the cache";

  UnbufferedFile file;
  ASSERT_EQ(openFileForReading("data.bin", &file.handle), 0);
  file.alignment = static_cast<uint32_t>(page);
  file.direct = false;
  char* buffer = allocateAlignedMemory(2 * page);
  ASSERT_NE(buffer, nullptr);
  uint32_t got = 0;
  EXPECT_EQ(readFileUnbuffered(file, page, buffer, static_cast<uint32_t>(2 * page), &got), 0);
  EXPECT_EQ(got, 2 * page);
  std::vector<bool> resident = residentPages(path);
  ASSERT_EQ(resident.size(), 16u);
  for (std::size_t i = 0; i < resident.size(); ++i) EXPECT_EQ(resident[i], i != 1 && i != 2) << "page " << i;
  releaseAlignedMemory(buffer);
  EXPECT_EQ(closeFile(file.handle), 0);
}

}  // namespace
