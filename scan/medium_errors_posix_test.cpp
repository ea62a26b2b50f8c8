// Real medium errors through the kernel: fault_fs fails chosen opens and
// byte ranges with EIO, and the error list names exactly those files, each
// read failure at a block that overlaps its failing range (a Latin-1 name
// among them, listed with U+FFFD for its byte).
#include <cerrno>
#include <map>
#include <sstream>

#include "common/test_support.h"
#include "platform/fake/fake.h"
#include "platform/memory.h"
#include "scan/error_list.h"
#include "scan/fault_fs_support.h"
#include "scan/test_support.h"

namespace {

struct ListLine {
  std::string event;
  int64_t offset = -1;
  int64_t requested = -1;
  int code = 0;
};

// path -> its lines, from the list's own columns (no field here is quoted).
std::multimap<std::string, ListLine> failures(const std::string& list) {
  std::multimap<std::string, ListLine> result;
  std::istringstream lines(list);
  std::string line;
  while (std::getline(lines, line)) {
    std::vector<std::string> fields;
    std::istringstream columns(line);
    std::string field;
    while (std::getline(columns, field, ',')) fields.push_back(field);
    if (fields.size() < 7 || fields[1] == "event" || fields[1] == "scan start" || fields[1] == "scan end") continue;
    ListLine l;
    l.event = fields[1];
    if (!fields[3].empty()) l.offset = std::stoll(fields[3]);
    if (!fields[4].empty()) l.requested = std::stoll(fields[4]);
    l.code = std::stoi(fields[6]);
    result.emplace(fields[2], l);
  }
  return result;
}

struct MediumErrors : ScanFixture {
  ScopedTempDir dir;
  FaultFsMount mount;
  void SetUp() override {
    resetFakeWindow();
    resetScan();
  }
  void TearDown() override { openErrorList(Text(), nullptr); }
};

TEST_F(MediumErrors, TheListNamesExactlyTheFailingFilesAndRanges) {
  std::string unavailable = faultFsUnavailable();
  if (!unavailable.empty()) GTEST_SKIP() << unavailable;
  // bad.bin fails from 256 KiB on, deep/worse.bin in its first 4 KiB only,
  // sealed.bin at its open; the rest reads.
  ASSERT_TRUE(mount.start(READSWEEPER_FAULT_FS, dir.path().string(),
                          "file good.bin 1048576\n"
                          "file bad.bin 1048576\n"
                          "eio bad.bin 262144 786432\n"
                          "file sealed.bin 4096\n"
                          "openeio sealed.bin\n"
                          "file deep/worse.bin 65536\n"
                          "eio deep/worse.bin 0 4096\n"
                          "file deep/fine.bin 20000\n"
                          "file caf\xe9.bin 8192\n"
                          "openeio caf\xe9.bin\n"))
      << mount.failure();
  const std::string root = mount.mountPoint() + "/";
  for (bool pastCache : {false, true}) {
    SCOPED_TRACE(pastCache ? "past the cache" : "through the cache");
    resetScan();
    FakePathText = root;
    s.checkEveryFile = true;
    s.stopAfterCycles = 30;
    s.selectNextFile = 2;  // about 50 blocks a file
    s.bytesToReadAtOnce = 4096;
    s.readPastCache = pastCache;
    ScanBufferNeed need = scanBufferNeed(s);
    char* memory = allocateAlignedMemory(need.size);
    ASSERT_NE(memory, nullptr);
    prepareScan(s, memory, need.size, 5);
    std::string list = pastCache ? "past.csv" : "through.csv";
    ASSERT_EQ(openErrorList(Text(list.c_str()), nullptr), 0);
    runScanOfAtMost(100000);
    releaseAlignedMemory(memory);
    openErrorList(Text(), nullptr);

    auto lines = failures(readTestFile(list));
    std::map<std::string, int> linesPerFile;
    for (const auto& [path, l] : lines) {
      ++linesPerFile[path];
      SCOPED_TRACE(path);
      EXPECT_EQ(l.code, EIO);
      if (path == root + "sealed.bin" || path == root + "caf\xef\xbf\xbd.bin") {
        EXPECT_EQ(l.event, "open failed");
      } else if (path == root + "bad.bin") {
        EXPECT_EQ(l.event, "read failed");
        EXPECT_GT(l.offset + l.requested, 262144);
      } else if (path == root + "deep/worse.bin") {
        EXPECT_EQ(l.event, "read failed");
        EXPECT_LT(l.offset, 4096);
      } else {
        ADD_FAILURE() << "a line for a file that reads: " << l.event;
      }
    }
    // Folded: one line each, in 30 cycles surely met.
    EXPECT_EQ(linesPerFile, (std::map<std::string, int>{
                                {root + "bad.bin", 1},
                                {root + "deep/worse.bin", 1},
                                {root + "sealed.bin", 1},
                                {root + "caf\xef\xbf\xbd.bin", 1}}));
    EXPECT_GT(Scan.readErrors, 0);
    EXPECT_EQ(Scan.openErrors, 60);  // sealed.bin and the Latin-1 name once a cycle
  }
}

}  // namespace
