// Whole-file reads against real medium errors: fault_fs fails or stalls a
// chosen range of a file through the kernel, and a cycle of the engine on
// the system's own file layer must find it and name where.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>

#include "common/test_support.h"
#include "platform/fake/fake.h"
#include "platform/memory.h"
#include "scan/error_list.h"
#include "scan/fault_fs_support.h"
#include "scan/test_support.h"

namespace {

constexpr int64_t kMiB = int64_t{1} << 20;
constexpr int64_t kGiB = int64_t{1} << 30;

int64_t randomBadOffset() {
  std::mt19937_64 draw(static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count()));
  return static_cast<int64_t>(draw() % static_cast<uint64_t>(kGiB / 4096)) * 4096;
}

std::string filmConfig(int64_t bad) {
  return "file media/film.bin 1073741824\nfile media/notes.txt 5000\n"
         "eio media/film.bin " + std::to_string(bad) + " 4096\n";
}

struct WholeFilesOnFaultFs : ScanFixture {
  ScopedTempDir dir;
  FaultFsMount mount;
  std::string list;

  void SetUp() override {
    std::string why = faultFsUnavailable();
    if (!why.empty()) GTEST_SKIP() << why;
    resetScan();
    resetFakeWindow();
    list = (dir.path() / "errors.csv").string();
  }

  // One cycle of "check every file" with whole-file reads over the mount.
  void scanOneCycle() {
    s.readWholeFiles = true;
    s.checkEveryFile = true;
    s.stopAfterCycles = 1;
    s.errorList = Text(list);
    FakePathText = mount.mountPoint() + "/";
    ScanBufferNeed need = scanBufferNeed(s);
    char* memory = allocateAlignedMemory(need.size);
    ASSERT_NE(memory, nullptr);
    ASSERT_EQ(openErrorList(s.errorList, nullptr), 0);
    prepareScan(s, memory, need.size, 7);
    runScan();
    releaseAlignedMemory(memory);
    EXPECT_EQ(scanResult().stoppedBy, StopReason::Cycles);
    EXPECT_EQ(Scan.cyclesCompleted, 1);
  }

  // The list's lines of one event.
  std::vector<std::string> linesOf(const std::string& event) {
    std::vector<std::string> found;
    std::string all = readTestFile(list);
    for (std::size_t at = 0; at < all.size();) {
      std::size_t end = all.find('\n', at);
      std::string line = all.substr(at, end - at);
      if (line.find("," + event + ",") != std::string::npos) found.push_back(line);
      at = end == std::string::npos ? all.size() : end + 1;
    }
    return found;
  }
};

TEST_F(WholeFilesOnFaultFs, OneCycleFindsAFailing4KiBRangeInAGibibyteFileAndNamesItsBlock) {
  const int64_t bad = randomBadOffset();
  SCOPED_TRACE("the failing range starts at " + std::to_string(bad));
  ASSERT_TRUE(mount.start(FAULT_FS_PROGRAM, dir.path().string(), filmConfig(bad))) << mount.failure();
  scanOneCycle();

  EXPECT_EQ(Scan.filesChecked, 2);
  EXPECT_EQ(Scan.openErrors, 0);
  // The failed read, and the block coming back short by it.
  EXPECT_EQ(Scan.readErrors, 2);
  // All but the failing block's part from the range on.
  int64_t block = bad / kMiB * kMiB;
  EXPECT_LE(Scan.checkedBytes, kGiB + 5000 - (block + kMiB - bad));
  EXPECT_GE(Scan.checkedBytes, kGiB + 5000 - kMiB);
  std::vector<std::string> failed = linesOf("read failed");
  ASSERT_EQ(failed.size(), 1u) << readTestFile(list);
  std::string where = mount.mountPoint() + "/media/film.bin," + std::to_string(block) + "," + std::to_string(kMiB) + ",";
  EXPECT_NE(failed[0].find(where), std::string::npos) << failed[0];
  EXPECT_NE(failed[0].find(",5,"), std::string::npos) << "EIO: " << failed[0];
}

// A 4 KiB range that takes 300 ms, in the first block of its file, with a
// limit of 100 ms: the block is a slow read and no error.
TEST_F(WholeFilesOnFaultFs, AStallOf300msIsASlowReadWithALimitOf100ms) {
  ASSERT_TRUE(mount.start(FAULT_FS_PROGRAM, dir.path().string(),
                          "file slow.bin 4194304\nstall slow.bin 4096 4096 300\n"))
      << mount.failure();
  s.slowReadLimit = 100;
  scanOneCycle();

  EXPECT_EQ(Scan.openErrors + Scan.readErrors, 0);
  EXPECT_EQ(Scan.checkedBytes, 4 * kMiB);
  EXPECT_GE(Scan.slowReads, 1);
  std::vector<std::string> slow = linesOf("slow read");
  ASSERT_EQ(slow.size(), 1u) << readTestFile(list);
  std::string where = mount.mountPoint() + "/slow.bin,0,1048576,1048576,0,took ";
  std::size_t at = slow[0].find(where);
  ASSERT_NE(at, std::string::npos) << slow[0];
  EXPECT_GE(std::stoll(slow[0].substr(at + where.size())), 300) << slow[0];
  EXPECT_GE(scanResult().readMicrosMax, 300000);
}

}  // namespace
