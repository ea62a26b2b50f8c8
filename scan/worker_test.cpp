#include <chrono>
#include <cstring>
#include <thread>

#include "platform/fake/fake.h"
#include "scan/error_list.h"
#include "scan/test_support.h"

namespace {

struct WorkerFixture : ScanFixture {
  void SetUp() override {
    resetFakePlatform();
    resetScan();
    s.windowRefresh = 100;
  }
  void showCounters() {
    s.showCheckedBytes = true;
    s.showOpenErrors = true;
    s.showReadErrors = true;
  }
};

const char* const kGivenBack[] = {"text StartButton: Start", "enable PathEdit: 1", "show normal"};

std::vector<std::string> withWindowGivenBack(std::vector<std::string> lines) {
  for (const char* line : kGivenBack) lines.push_back(line);
  return lines;
}

TEST_F(WorkerFixture, OneErrorAllowedAndAnUnopenableFirstFile) {
  FakePathText = "R:\\data\\*.txt";  // the mask is dropped
  FakeFolders["R:\\data\\*.*"] = {{fakeEntry("bad.bin", 100), fakeEntry("good.bin", 100)}};
  s.skipFile = 100;
  s.showFileName = true;
  s.stopAfterErrors = 1;
  showCounters();
  prepare();
  ASSERT_TRUE(scanEndsByItself());
  EXPECT_EQ(WindowLog, withWindowGivenBack({"text FileLine: \"R:\\data\\bad.bin\"",
                                            "text CountersLine: checked 0B, opening errors: 1, reading errors: 3"}));
  EXPECT_EQ(FakeOpens, std::vector<std::string>{"R:\\data\\bad.bin"});
  EXPECT_EQ(ScanState.load(), 0);
  EXPECT_EQ(FakeOpenListings, 0);
}

TEST_F(WorkerFixture, CheckedLimitWithTitlePercentage) {
  FakePathText = "R:\\";
  FakeFolders["R:\\*.*"] = {{fakeEntry("big.bin", 1000)}};
  FakeFiles["R:\\big.bin"].size = 1000;
  s.skipFile = 100;
  s.selectNextFile = 100;
  s.bytesToReadAtOnce = 64;
  s.stopAfterChecked = 100;
  s.showCheckedBytes = true;
  s.showCheckedBytesInPercents = true;
  s.showFileName = true;
  s.showReadByte = true;
  s.showFileSize = true;
  prepare(42);
  Readers[0].readPosition = 999;  // left from an earlier scan
  ASSERT_TRUE(scanEndsByItself());
  ASSERT_EQ(FakeReads.size(), 2u);
  // The file line shows where the block read last began: 0 before the
  // scan's first read.
  Text second("text FileLine: byte: ");
  second.appendInt(FakeReads[0].position);
  second.append(" of \"R:\\big.bin\" (1000B)");
  EXPECT_EQ(WindowLog, withWindowGivenBack({"text FileLine: byte: 0 of \"R:\\big.bin\" (1000B)",
                                            "text MainWindow: Readsweeper 64%",
                                            "text CountersLine: checked 64B (64%)", std::string(second.view()),
                                            "text MainWindow: Readsweeper 128%",
                                            "text CountersLine: checked 128B (128%)"}));
  EXPECT_EQ(ScanState.load(), 0);
}

TEST_F(WorkerFixture, RootFromTheDefaultPathWhenTheTextHasNoFolder) {
  const struct {
    const char* text;
    const char* defaultPath;
    const char* pattern;
  } cases[] = {
      {"data", "R:\\default\\", "R:\\default\\*.*"},
      {"", "", "*.*"},
      {"C:/data/", "R:\\d\\", "R:\\d\\*.*"},
      {"R:\\data", "R:\\unused\\", "R:\\*.*"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    resetFakePlatform();
    resetScan();
    FakePathText = c.text;
    FakeFolders[c.pattern] = {{fakeEntry("f", 10)}};
    FakeFiles[std::string(c.pattern, std::strlen(c.pattern) - 3) + "f"].size = 10;
    s.skipFile = 100;
    s.defaultInitPath = c.defaultPath;
    s.stopAfterChecked = 1;
    prepare();
    EXPECT_TRUE(scanEndsByItself());
    EXPECT_EQ(Scan.checkedBytes, 1);
    EXPECT_EQ(Scan.openErrors, 0);
  }
}

// Each scan starts from zero: the counts and the title's percentage of the
// scan before never show in the next one. Scans of a file that cannot be
// opened and of a healthy one take turns.
TEST_F(WorkerFixture, EachScanStartsItsCountsAfresh) {
  FakeFolders["R:\\bad\\*.*"] = {{fakeEntry("f", 1000)}};
  FakeFolders["R:\\good\\*.*"] = {{fakeEntry("f", 1000)}};
  FakeFiles["R:\\good\\f"].size = 1000;
  s.skipFile = 100;
  s.selectNextFile = 100;
  s.bytesToReadAtOnce = 64;
  s.stopAfterChecked = 100;
  s.stopAfterErrors = 4;  // the failed open and the three errors of its one read
  s.showCheckedBytesInPercents = true;
  showCounters();
  const std::vector<std::string> bad =
      withWindowGivenBack({"text CountersLine: checked 0B (0%), opening errors: 1, reading errors: 3"});
  const std::vector<std::string> good = withWindowGivenBack(
      {"text MainWindow: Readsweeper 64%", "text CountersLine: checked 64B (64%), opening errors: 0, reading errors: 0",
       "text MainWindow: Readsweeper 128%",
       "text CountersLine: checked 128B (128%), opening errors: 0, reading errors: 0"});
  const struct {
    const char* path;
    const std::vector<std::string>& log;
  } scans[] = {{"R:\\bad\\", bad}, {"R:\\good\\", good}, {"R:\\bad\\", bad}, {"R:\\good\\", good}};
  uint32_t seed = 0;
  for (const auto& scan : scans) {
    SCOPED_TRACE(scan.path);
    // As a start does: only the state and the settings are handed over.
    WindowLog.clear();
    FakePathText = scan.path;
    ScanState.store(1);
    prepare(++seed);
    ASSERT_TRUE(scanEndsByItself());
    EXPECT_EQ(WindowLog, scan.log);
  }
}

// Under "scan all files" a folder that cannot be listed counts as exactly
// one opening error: its placeholder is handed to the check, which opens
// nothing and lists the folder itself with the listing's own code.
TEST_F(WorkerFixture, UnlistableSubfolderIsOneOpeningError) {
  FakePathText = "R:\\";
  FakeFolders["R:\\*.*"] = {{fakeFolderEntry("."), fakeFolderEntry("locked")}};
  FakeFolders["R:\\locked\\*.*"].openError = 5;
  FakeFiles["R:\\locked\\"].size = 10;  // what a made-up open would find
  s.skipFile = 0;
  s.selectSubfolder = 100;
  s.scanAllFiles = true;
  s.stopAfterErrors = 1;
  s.showOpenErrors = true;
  s.showReadErrors = true;
  s.showFileName = true;
  prepare();
  ASSERT_EQ(openErrorList(Text("R:\\list.csv"), nullptr), 0);
  ASSERT_TRUE(scanEndsByItself());
  openErrorList(Text(), nullptr);
  EXPECT_TRUE(FakeOpens.empty()) << FakeOpens[0];
  EXPECT_EQ(WindowLog, withWindowGivenBack({"text FileLine: \"R:\\locked\\\"",
                                            "text CountersLine: opening errors: 1, reading errors: 0"}));
  const std::string& list = FakeDisk["R:\\list.csv"];
  EXPECT_NE(list.find(",list failed,R:\\locked\\,,,,5,Access is denied.\r\n"), std::string::npos) << list;
  EXPECT_EQ(list.find("open failed"), std::string::npos) << list;
}

// Paths longer than any displayed text are held whole by the walk and
// the read check.
TEST_F(WorkerFixture, LongPathsAreNeverCut) {
  const std::string level(120, 'd');
  FakePathText = "R:\\";
  std::string folder = "R:\\";
  for (int depth = 0; depth < 3; ++depth) {
    FakeFolders[folder + "*.*"] = {{fakeFolderEntry("."), fakeFolderEntry(level.c_str())}};
    folder += level + "\\";
  }
  FakeFolders[folder + "*.*"] = {{fakeFolderEntry("."), fakeEntry("leaf.bin", 10)}};
  FakeFiles[folder + "leaf.bin"].size = 10;
  s.skipFile = 0;
  s.selectSubfolder = 100;
  s.scanAllFiles = true;
  s.stopAfterChecked = 1;
  s.showFileName = true;
  prepare();
  ASSERT_TRUE(scanEndsByItself());
  EXPECT_EQ(FakeOpens, std::vector<std::string>{folder + "leaf.bin"});
  EXPECT_EQ(Scan.checkedBytes, 1);  // one block of the default single byte
  // The file line, too long for the window, falls back to the name.
  EXPECT_EQ(WindowLog, withWindowGivenBack({"text FileLine: \"leaf.bin\""}));
}

TEST_F(WorkerFixture, CountersLineIsLeftAloneWhenNoneOfItsPiecesIsShown) {
  FakePathText = "R:\\";
  FakeFolders["R:\\*.*"] = {{fakeEntry("f", 10)}};
  s.skipFile = 100;
  s.stopAfterErrors = 1;
  s.measureReadingSpeed = true;
  prepare();
  ASSERT_TRUE(scanEndsByItself());
  EXPECT_EQ(WindowLog, withWindowGivenBack({}));
}

// However seldom the lines are refreshed, a stopping scan writes its last
// counts.
TEST_F(WorkerFixture, LastCountersLineNeedsNoDraw) {
  FakePathText = "R:\\";
  FakeFolders["R:\\*.*"] = {{fakeEntry("f", 10)}};
  s.skipFile = 100;
  s.windowRefresh = 1;
  s.stopAfterErrors = 1;
  s.showOpenErrors = true;
  prepare();
  ASSERT_TRUE(scanEndsByItself());
  EXPECT_EQ(WindowLog, withWindowGivenBack({"text CountersLine: opening errors: 1"}));
}

// Each stop rule names itself as what ended the scan; the scan's end
// message gives the exact counts and the whole seconds it ran.
TEST_F(WorkerFixture, WhatStoppedTheScan) {
  const struct {
    const char* what;
    int32_t errors;
    int64_t checked;
    int32_t seconds;
    const char* folder;  // the root's listing, or none
    StopReason reason;
  } cases[] = {
      {"errors", 2, 0, 0, "bad", StopReason::Errors},
      {"checked bytes", 0, 30, 0, "good", StopReason::Checked},
      {"time while reading", 0, 0, 3, "good", StopReason::Time},
      {"time with a root that cannot be listed", 0, 0, 3, nullptr, StopReason::Time},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    resetFakePlatform();
    resetScan();
    FakePathText = "R:\\";
    if (c.folder) FakeFolders["R:\\*.*"] = {{fakeEntry(c.folder, 100)}};
    FakeFiles["R:\\good"].size = 100;
    FakeHundredths = 1000;
    FakeClockStep = 7;
    s.skipFile = 100;
    s.selectNextFile = 100;
    s.bytesToReadAtOnce = 10;
    s.stopAfterErrors = c.errors;
    s.stopAfterChecked = c.checked;
    s.stopAfterSeconds = c.seconds;
    prepare();
    runScanOfAtMost(10000);
    EXPECT_EQ(ScanState.load(), 0);
    ScanResult r = scanResult();
    EXPECT_EQ(r.stoppedBy, c.reason);
    EXPECT_EQ(r.checkedBytes, Scan.checkedBytes);
    EXPECT_EQ(r.openErrors, Scan.openErrors);
    EXPECT_EQ(r.readErrors, Scan.readErrors);
    if (c.reason == StopReason::Time) {
      EXPECT_GE(r.elapsedMilliseconds, 3000);
      // The rule fires at the first reading past the limit; the end of the
      // pass and of the scan read the clock once more each.
      EXPECT_LT(r.elapsedMilliseconds, 3000 + 3 * 70);
    }
  }
  // The first that stopped the scan is the one that counts.
  ScanState.store(1);
  EXPECT_TRUE(requestScanStop(StopReason::Checked));
  EXPECT_FALSE(requestScanStop(StopReason::Errors));
  ScanState.store(0);
}

// The time rule looks at the clock after each block read and at the end of
// each pass; here it fires at the end of the tenth pass, after that pass
// let its counters line go by chance. The final counts are shown all the
// same, once.
TEST_F(WorkerFixture, AStopAfterTheLastLookStillShowsTheFinalCounts) {
  FakePathText = "R:\\";
  FakeFolders["R:\\*.*"] = {{fakeEntry("good", 100)}};
  FakeFiles["R:\\good"].size = 100;
  FakeHundredths = 1000;
  FakeClockStep = 5;  // 50 ms per reading: the twentieth reaches a second
  s.skipFile = 100;
  s.selectNextFile = 100;
  s.stopAfterSeconds = 1;
  s.windowRefresh = 1;
  s.showCheckedBytes = true;
  prepare();
  runScan();
  EXPECT_EQ(Scan.checkedBytes, 10);
  EXPECT_EQ(WindowLog, withWindowGivenBack({"text CountersLine: checked 10B"}));
}

// Limits of weeks and years hold to the millisecond, the longest one too,
// though their milliseconds are past 32 bits: the scan runs on until the
// limit and stops there.
TEST_F(WorkerFixture, TimeLimitsPast32BitsOfMilliseconds) {
  for (int32_t seconds : {2147484, INT32_MAX}) {
    SCOPED_TRACE(seconds);
    resetFakePlatform();
    resetScan();
    FakePathText = "R:\\";
    FakeFolders["R:\\*.*"] = {{fakeEntry("good", 100)}};
    FakeFiles["R:\\good"].size = 100;
    s.skipFile = 100;
    s.selectNextFile = 100;
    s.stopAfterSeconds = seconds;
    FakeHundredths = 1000;  // the clock stands still between the settings below
    prepare();
    setupScan();
    const int64_t limit = int64_t{seconds} * 100;
    for (int64_t elapsed : {int64_t{0}, int64_t{1}, limit / 2, limit - 1}) {
      FakeHundredths = 1000 + elapsed;
      runPass();
      EXPECT_EQ(ScanState.load(), 1) << "stopped after " << elapsed << " hundredths";
    }
    FakeHundredths = 1000 + limit;
    runPass();
    EXPECT_EQ(ScanState.load(), -1);
    EXPECT_EQ(scanResult().stoppedBy, StopReason::Time);
    EXPECT_EQ(Scan.filesChecked, 5);
    endScan();
    finishScan();
  }
}

TEST_F(WorkerFixture, EndMessageAndFilesChecked) {
  FakePathText = "R:\\";
  FakeFolders["R:\\*.*"] = {{fakeEntry("bad", 100), fakeEntry("good", 100)}};
  FakeFiles["R:\\good"].size = 100;
  s.skipFile = 50;
  s.selectNextFile = 100;
  s.bytesToReadAtOnce = 10;
  s.stopAfterChecked = 10000;
  s.scanAllFiles = true;
  FakeHundredths = 5000;
  prepare(3);
  setupScan();
  FakeHundredths = 5000 + 1299;  // 12.99 s later
  for (int pass = 0; pass < 50; ++pass) runPass();
  endScan();
  FakeHundredths += 500;  // after the end, time no longer counts
  requestScanStop();
  finishScan();
  ScanResult r = scanResult();
  EXPECT_EQ(r.filesChecked, 50);  // every pass ends on one of the two files
  EXPECT_GT(r.openErrors, 0);
  EXPECT_EQ(r.elapsedMilliseconds, 12990);
  Text expected("checked ");
  expected.appendInt(r.checkedBytes);
  expected.append(" B, files checked 50, opening errors ");
  expected.appendInt(r.openErrors);
  expected.append(", reading errors ");
  expected.appendInt(r.readErrors);
  expected.append(", 12 s");
  EXPECT_EQ(composeScanEndMessage(r), expected);
}

TEST_F(WorkerFixture, StopFromAnotherThread) {
  FakePathText = "R:\\";
  FakeFolders["R:\\*.*"] = {{fakeFolderEntry("."), fakeFolderEntry("sub"), fakeEntry("a", 5000)}};
  FakeFolders["R:\\sub\\*.*"] = {{fakeFolderEntry("."), fakeFolderEntry(".."), fakeEntry("b", 300)}};
  FakeFiles["R:\\a"].size = 5000;
  FakeFiles["R:\\sub\\b"].size = 300;
  s.bytesToReadAtOnce = 100;
  s.measureReadingSpeed = true;
  s.windowRefresh = 25;
  showCounters();
  prepare(9);
  std::thread worker(runScan);
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (FakeReadCount.load() < 1000 && std::chrono::steady_clock::now() < deadline) std::this_thread::yield();
  EXPECT_TRUE(requestScanStop());
  worker.join();
  EXPECT_EQ(scanResult().stoppedBy, StopReason::User);
  EXPECT_GE(FakeReadCount.load(), 1000);
  EXPECT_EQ(ScanState.load(), 0);
  // A stop asked for after the end leaves the idle state alone.
  EXPECT_FALSE(requestScanStop());
  EXPECT_EQ(ScanState.load(), 0);
  ASSERT_GE(WindowLog.size(), 4u);
  std::vector<std::string> tail(WindowLog.end() - 4, WindowLog.end());
  EXPECT_EQ(tail[0].rfind("text CountersLine: checked ", 0), 0u) << tail[0];
  EXPECT_EQ(tail[1], kGivenBack[0]);
  EXPECT_EQ(tail[2], kGivenBack[1]);
  EXPECT_EQ(tail[3], kGivenBack[2]);
  EXPECT_EQ(Scan.readErrors + Scan.openErrors, 0);
  EXPECT_EQ(FakeOpenFiles, 0);
  EXPECT_EQ(FakeOpenListings, 0);
}

}  // namespace
