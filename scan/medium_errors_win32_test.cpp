// Real medium errors under Wine: the native fixture (tools/fault-fs-fixture)
// mounts fault_fs, whose chosen opens and byte ranges fail with EIO, and the
// Win32 layer meets them as Wine reports them: 998 (ERROR_NOACCESS) for an
// open, 21 (ERROR_NOT_READY) for a read. The list names exactly the failing
// files, each read failure at a block that overlaps its failing range.
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "common/test_support.h"
#include "platform/fake/fake.h"
#include "platform/memory.h"
#include "scan/error_list.h"
#include "scan/test_support.h"

namespace {

constexpr int kWineOpenEio = 998;
constexpr int kWineReadEio = 21;

// A Unix path as Wine's drive Z: shows it.
std::string onDriveZ(const std::string& unixPath) {
  std::string path = "Z:" + unixPath;
  for (char& c : path) {
    if (c == '/') c = '\\';
  }
  return path;
}

// The fixture's folder, where fault_fs keeps what it says.
std::string fixtureFolder() {
  const char* folder = std::getenv("READSWEEPER_FAULT_FS_DIR");
  return folder ? onDriveZ(folder) : std::string();
}

// The error list's lines, each as its fields, but the header.
std::vector<std::vector<std::string>> listLines(const std::string& list) {
  std::vector<std::vector<std::string>> result;
  std::istringstream lines(readTestFile(list));
  std::string line;
  while (std::getline(lines, line)) {
    std::vector<std::string> fields;
    std::istringstream columns(line);
    std::string field;
    while (std::getline(columns, field, ',')) fields.push_back(field);
    if (fields.size() >= 7 && fields[1] != "event") result.push_back(fields);
  }
  return result;
}

struct MediumErrorsUnderWine : ScanFixture {
  ScopedTempDir dir;
  std::string mount;  // the fixture's mount, with its separator
  void SetUp() override {
    resetFakeWindow();
    resetScan();
    std::string folder = fixtureFolder();
    if (folder.empty()) GTEST_SKIP() << "needs the fault_fs fixture of CTest (READSWEEPER_FAULT_FS_DIR)";
    std::ifstream why(folder + "\\unavailable");
    if (why) GTEST_SKIP() << std::string(std::istreambuf_iterator<char>(why), std::istreambuf_iterator<char>());
    mount = folder + "\\mount\\";
    ASSERT_TRUE(std::ifstream(mount + "ready").good()) << "fault_fs is not mounted at " << mount;
  }
  void TearDown() override { openErrorList(Text(), nullptr); }
};

TEST_F(MediumErrorsUnderWine, TheListNamesExactlyTheFailingFilesAndRanges) {
  const std::string root = mount + "sampled\\";

  FakePathText = root;
  s.checkEveryFile = true;
  s.stopAfterCycles = 30;
  s.selectNextFile = 2;  // about 50 blocks a file
  s.bytesToReadAtOnce = 4096;
  prepare(5);
  ASSERT_EQ(openErrorList(Text("errors.csv"), nullptr), 0);
  runScanOfAtMost(100000);
  openErrorList(Text(), nullptr);

  std::map<std::string, int> linesPerFile;
  for (const std::vector<std::string>& fields : listLines("errors.csv")) {
    if (fields[1] == "scan start" || fields[1] == "scan end") continue;
    const std::string& path = fields[2];
    SCOPED_TRACE(fields[1] + " " + fields[2] + " at " + fields[3]);
    ++linesPerFile[path];
    if (path == root + "sealed.bin") {
      EXPECT_EQ(fields[1], "open failed");
      EXPECT_EQ(std::stoi(fields[6]), kWineOpenEio);
    } else if (path == root + "bad.bin" || path == root + "deep\\worse.bin") {
      EXPECT_EQ(fields[1], "read failed");
      EXPECT_EQ(std::stoi(fields[6]), kWineReadEio);
      int64_t offset = std::stoll(fields[3]), requested = std::stoll(fields[4]);
      if (path == root + "bad.bin") {
        EXPECT_GT(offset + requested, 262144);
      } else {
        EXPECT_LT(offset, 4096);
      }
    } else {
      ADD_FAILURE() << "a line for a file that reads";
    }
  }
  EXPECT_EQ(linesPerFile, (std::map<std::string, int>{
                              {root + "bad.bin", 1}, {root + "deep\\worse.bin", 1}, {root + "sealed.bin", 1}}));
  EXPECT_EQ(Scan.openErrors, 30);  // sealed.bin once a cycle
  EXPECT_GT(Scan.readErrors, 0);
}

// Whole-file reads find the failing 4 KiB range of a 1 GiB file in one
// cycle, and the list names the block it lies in, as Wine reports it.
TEST_F(MediumErrorsUnderWine, WholeFileReadsFindAFailingRangeOfAGibibyteFileInOneCycle) {
  const int64_t bad = std::stoll(readTestFile(fixtureFolder() + "\\film-bad-offset"));
  SCOPED_TRACE("the failing range starts at " + std::to_string(bad));
  const std::string root = mount + "whole\\";
  FakePathText = root;
  s.checkEveryFile = true;
  s.readWholeFiles = true;
  s.stopAfterCycles = 1;
  prepare(5, scanBufferNeed(s).size);
  ASSERT_EQ(openErrorList(Text("errors.csv"), nullptr), 0);
  runScanOfAtMost(100);
  openErrorList(Text(), nullptr);

  EXPECT_EQ(Scan.cyclesCompleted, 1);
  EXPECT_EQ(Scan.filesChecked, 2);
  EXPECT_EQ(Scan.openErrors, 0);
  EXPECT_EQ(Scan.readErrors, 2);  // the failed read, and its block short by it
  constexpr int64_t kMiB = int64_t{1} << 20;
  std::vector<std::vector<std::string>> failed;
  for (const auto& fields : listLines("errors.csv")) {
    if (fields[1] == "read failed") failed.push_back(fields);
  }
  ASSERT_EQ(failed.size(), 1u) << readTestFile("errors.csv");
  EXPECT_EQ(failed[0][2], root + "film.bin");
  EXPECT_EQ(std::stoll(failed[0][3]), bad / kMiB * kMiB);
  EXPECT_EQ(std::stoll(failed[0][4]), kMiB);
  EXPECT_EQ(std::stoi(failed[0][6]), kWineReadEio);
}

}  // namespace
