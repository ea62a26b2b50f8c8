// Scans past the cache on this machine's own file systems: a scan with the
// flag leaves the file's pages out of the page cache, where the same scan
// without it brings them in, and both count alike. On tmpfs, where the
// memory is the storage, the flag reads and counts as well.
#include <sys/vfs.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "common/test_support.h"
#include "platform/fake/fake.h"
#include "platform/memory.h"
#include "platform/posix/resident_pages.h"
#include "scan/test_support.h"

namespace fs = std::filesystem;

namespace {

constexpr long kTmpfsMagic = 0x01021994;

bool onTmpfs(const fs::path& path) {
  struct statfs info;
  return statfs(path.c_str(), &info) == 0 && info.f_type == kTmpfsMagic;
}

struct ScanCounts {
  int64_t checkedBytes, filesChecked, openErrors, readErrors;
  bool operator==(const ScanCounts& o) const {
    return checkedBytes == o.checkedBytes && filesChecked == o.filesChecked && openErrors == o.openErrors &&
           readErrors == o.readErrors;
  }
};

struct PastCacheOnDisk : ScanFixture {
  void SetUp() override { resetFakeWindow(); }

  // A whole scan of the folder, which holds one file, until 400 blocks of
  // 4 KiB are checked, at several positions per file and two reads each.
  ScanCounts scan(const fs::path& folder, bool pastCache) {
    resetScan();
    resetFakeWindow();
    s = Settings{};
    s.readPastCache = pastCache;
    s.bytesToReadAtOnce = 4096;
    s.selectNextFile = 10;
    s.repeatRead = 2;
    s.stopAfterChecked = 400 * 4096;
    FakePathText = folder.string() + "/";
    ScanBufferNeed need = scanBufferNeed(s);
    EXPECT_EQ(need.aligned, pastCache);
    char* memory = allocateAlignedMemory(need.size);
    EXPECT_NE(memory, nullptr);
    prepareScan(s, memory, need.size, 99);
    runScan();
    releaseAlignedMemory(memory);
    return {Scan.checkedBytes, Scan.filesChecked, Scan.openErrors, Scan.readErrors};
  }
};

TEST_F(PastCacheOnDisk, TheScannedPagesStayOutOfTheCache) {
  ScopedTempDir dir;
  if (onTmpfs(dir.path())) GTEST_SKIP() << "the temporary folder is in memory";
  const std::string path = (dir.path() / "data.bin").string();
  writeTestFile(path, std::string(4 << 20, 'c'));
  ASSERT_TRUE(dropFromCache(path));
  std::vector<bool> before = residentPages(path);
  ASSERT_FALSE(before.empty());
  ASSERT_EQ(residentCount(before), 0) << "the file's pages could not be dropped first";

  ScanCounts past = scan(dir.path(), true);
  int64_t afterPast = residentCount(residentPages(path));
  ScanCounts through = scan(dir.path(), false);
  int64_t afterThrough = residentCount(residentPages(path));
  std::printf("pages of the 4 MiB file in the page cache: %lld of %zu before, %lld after the scan past the cache, "
              "%lld after the same scan through it\n",
              static_cast<long long>(residentCount(before)), before.size(), static_cast<long long>(afterPast),
              static_cast<long long>(afterThrough));

  EXPECT_EQ(afterPast, 0);
  EXPECT_GT(afterThrough, 0);
  EXPECT_GE(past.checkedBytes, 400 * 4096);
  EXPECT_EQ(past.openErrors + past.readErrors, 0);
  EXPECT_TRUE(past == through) << "checked " << past.checkedBytes << "/" << through.checkedBytes << ", files "
                               << past.filesChecked << "/" << through.filesChecked;
}

// tmpfs takes O_DIRECT since Linux 6.6 and refused it before; either way
// the file opens, reads and counts as without the flag. Its pages stay:
// they hold the file itself, which no advice drops.
TEST_F(PastCacheOnDisk, OnTmpfsTheFlagReadsAndCountsAlike) {
  fs::path shm = "/dev/shm";
  if (!fs::is_directory(shm) || !onTmpfs(shm)) GTEST_SKIP() << "no tmpfs at /dev/shm";
  fs::path folder = shm / ("readsweeper-past-cache-" + std::to_string(getpid()));
  fs::remove_all(folder);
  ASSERT_TRUE(fs::create_directory(folder));
  const std::string path = (folder / "data.bin").string();
  writeTestFile(path, std::string(1 << 20, 't'));

  UnbufferedFile file;
  ASSERT_EQ(openFileUnbuffered(path.c_str(), &file), 0);
  std::printf("tmpfs at /dev/shm: %s\n", file.direct ? "O_DIRECT taken" : "O_DIRECT refused, pages dropped");
  EXPECT_EQ(closeFile(file.handle), 0);

  ScanCounts past = scan(folder, true);
  ScanCounts through = scan(folder, false);
  EXPECT_GE(past.checkedBytes, 400 * 4096);
  EXPECT_EQ(past.openErrors + past.readErrors, 0);
  EXPECT_TRUE(past == through);
  std::error_code ignored;
  fs::remove_all(folder, ignored);
}

}  // namespace
