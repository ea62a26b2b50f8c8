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

struct MediumErrorsUnderWine : ScanFixture {
  ScopedTempDir dir;
  void SetUp() override {
    resetFakeWindow();
    resetScan();
  }
  void TearDown() override { openErrorList(Text(), nullptr); }
};

TEST_F(MediumErrorsUnderWine, TheListNamesExactlyTheFailingFilesAndRanges) {
  const char* folder = std::getenv("READSWEEPER_FAULT_FS_DIR");
  if (folder == nullptr) GTEST_SKIP() << "needs the fault_fs fixture of CTest (READSWEEPER_FAULT_FS_DIR)";
  std::ifstream why(onDriveZ(std::string(folder) + "/unavailable"));
  if (why) GTEST_SKIP() << std::string(std::istreambuf_iterator<char>(why), std::istreambuf_iterator<char>());
  const std::string root = onDriveZ(std::string(folder) + "/mount") + "\\";
  ASSERT_TRUE(std::ifstream(root + "ready").good()) << "fault_fs is not mounted at " << root;

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
  std::istringstream lines(readTestFile("errors.csv"));
  std::string line;
  while (std::getline(lines, line)) {
    std::vector<std::string> fields;
    std::istringstream columns(line);
    std::string field;
    while (std::getline(columns, field, ',')) fields.push_back(field);
    if (fields.size() < 7 || fields[1] == "event" || fields[1] == "scan start" || fields[1] == "scan end") continue;
    const std::string& path = fields[2];
    SCOPED_TRACE(line);
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

}  // namespace
