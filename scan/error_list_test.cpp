#include "scan/error_list.h"

#include <algorithm>
#include <chrono>
#include <thread>

#include "platform/fake/fake.h"
#include "scan/test_support.h"

namespace {

const char* const kList = "R:\\errors.csv";
const std::string kStart = "\xEF\xBB\xBFtime,event,path,offset,requested,obtained,code,message\r\n";
const std::string kAt = "2026-01-02 03:04:05.006,";  // the fake clock's local time
const std::string kSharing = "The process cannot access the file because it is being used by another process.";

struct ErrorListFixture : ScanFixture {
  void SetUp() override {
    resetFakePlatform();
    resetScan();
    s.selectNextFile = 100;  // one position per file
    s.bytesToReadAtOnce = 64;
  }
  void TearDown() override { openErrorList(Text(), nullptr); }

  void open() {
    Text failure("untouched");
    ASSERT_EQ(openErrorList(Text(kList), &failure), 0);
    EXPECT_EQ(failure, "");
  }
  void check(const char* path, int64_t size) { checkFile(Readers[0], std::string(path), "name", size); }

  // The list's lines after the byte-order mark and the header, without
  // their line ends.
  std::vector<std::string> lines() {
    const std::string& all = FakeDisk[kList];
    EXPECT_EQ(all.substr(0, kStart.size()), kStart);
    std::vector<std::string> result;
    for (std::size_t at = kStart.size(); at < all.size();) {
      std::size_t end = all.find("\r\n", at);
      if (end == std::string::npos) {
        ADD_FAILURE() << "a line without its end: " << all.substr(at);
        break;
      }
      result.push_back(all.substr(at, end - at));
      at = end + 2;
    }
    return result;
  }
};

struct EventCase {
  const char* what;
  FakeFile file;
  bool present;
  std::vector<std::string> lines;
};

// One block of 64 bytes at position 0 of a file listed with 64 bytes.
TEST_F(ErrorListFixture, EachEventHasItsLine) {
  FakeFile healthy;
  healthy.size = 64;
  FakeFile locked = healthy;
  locked.openError = 32;
  FakeFile truncated = healthy;
  truncated.size = 40;
  FakeFile noPositioning = healthy;
  noPositioning.failPositioning = true;
  FakeFile failing = healthy;
  failing.failReadAfter = 20;
  FakeFile failingAndShort = truncated;
  failingAndShort.failReadAfter = 20;
  FakeFile noPositioningAndShort = truncated;
  noPositioningAndShort.failPositioning = true;
  const std::string crc = "23,Data error (cyclic redundancy check).";
  const EventCase cases[] = {
      {"read in full", healthy, true, {}},
      {"held by another program: one line, not one per reading error", locked, true,
       {kAt + "open failed,R:\\f,,,,32," + kSharing}},
      {"missing", healthy, false, {kAt + "open failed,R:\\f,,,,2,The system cannot find the file specified."}},
      {"truncated after listing", truncated, true, {kAt + "short read,R:\\f,0,64,40,0,end of file"}},
      {"positioning fails, the read succeeds", noPositioning, true, {kAt + "seek failed,R:\\f,0,64,64," + crc}},
      {"the read fails after 20 bytes", failing, true, {kAt + "read failed,R:\\f,0,64,20," + crc}},
      {"a failed read that also came back short", failingAndShort, true, {kAt + "read failed,R:\\f,0,64,20," + crc}},
      {"positioning fails and the read comes back short", noPositioningAndShort, true,
       {kAt + "seek failed,R:\\f,0,64,40," + crc, kAt + "short read,R:\\f,0,64,40,0,end of file"}},
  };
  for (const EventCase& c : cases) {
    SCOPED_TRACE(c.what);
    resetFakePlatform();
    resetScan();
    if (c.present) FakeFiles["R:\\f"] = c.file;
    prepare();
    open();
    check("R:\\f", 64);
    EXPECT_EQ(lines(), c.lines);
    // The header and every line each went out in one write.
    EXPECT_EQ(FakeWriteCount, 1 + static_cast<int>(c.lines.size()));
    EXPECT_EQ(repeatedEvents(), 0);
  }
}

TEST_F(ErrorListFixture, OffsetIsTheStartOfTheBlock) {
  FakeFiles["R:\\f"].size = 500;  // listed with 1000 bytes, then cut to 500
  s.bytesToReadAtOnce = 100;
  prepare(5);
  open();
  while (lines().empty()) check("R:\\f", 1000);
  ASSERT_EQ(FakeReads.back().path, "R:\\f");
  const FakeRead& last = FakeReads.back();
  ASSERT_LT(last.got, 100u);
  std::string expected = kAt + "short read,R:\\f," + std::to_string(last.position) + ",100," +
                         std::to_string(last.got) + ",0,end of file";
  EXPECT_EQ(lines(), std::vector<std::string>{expected});
}

TEST_F(ErrorListFixture, AFolderThatCannotBeListed) {
  open();
  listFolderFailed("R:\\locked\\", 5);
  EXPECT_EQ(lines(), std::vector<std::string>{kAt + "list failed,R:\\locked\\,,,,5,Access is denied."});
}

TEST_F(ErrorListFixture, PathsAreQuotedWhenTheyHoldCommasQuotesOrLineEnds) {
  const struct {
    const char* path;
    const char* field;
  } cases[] = {
      {"R:\\plain name.bin", "R:\\plain name.bin"},
      {"R:\\a,b.bin", "\"R:\\a,b.bin\""},
      {"R:\\say \"hi\".bin", "\"R:\\say \"\"hi\"\".bin\""},
      {"R:\\\"", "\"R:\\\"\"\""},
      {"R:\\line\nend", "\"R:\\line\nend\""},
      {"R:\\carriage\rreturn", "\"R:\\carriage\rreturn\""},
      {"R:\\ünïcödé ✓.bin", "R:\\ünïcödé ✓.bin"},
      // Each byte that is not part of a UTF-8 character is U+FFFD: a
      // Latin-1 name, a cut sequence, an encoded lone surrogate.
      {"R:\\caf\xe9.bin", "R:\\caf\xef\xbf\xbd.bin"},
      {"R:\\\xe6\x97,\"\xff", "\"R:\\\xef\xbf\xbd\xef\xbf\xbd,\"\"\xef\xbf\xbd\""},
      {"R:\\\xed\xa0\x80x", "R:\\\xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbdx"},
  };
  open();
  std::string expected = kStart;
  for (const auto& c : cases) {
    listOpenFailed(c.path, 5);
    expected += kAt + "open failed," + c.field + ",,,,5,Access is denied.\r\n";
  }
  EXPECT_EQ(FakeDisk[kList], expected);
  EXPECT_TRUE(isValidUtf8(FakeDisk[kList]));
}

TEST_F(ErrorListFixture, AnExistingListIsAppendedTo) {
  const struct {
    const char* what;
    const char* before;
    std::string after;
  } cases[] = {
      {"missing: created with its header", nullptr, kStart},
      {"empty: given its header", "", kStart},
      {"with lines: kept as it is", "earlier lines\r\n", "earlier lines\r\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    resetFakePlatform();
    if (c.before != nullptr) FakeDisk[kList] = c.before;
    open();
    listOpenFailed("R:\\f", 2);
    closeErrorList();
    EXPECT_EQ(FakeDisk[kList], c.after + kAt + "open failed,R:\\f,,,,2,The system cannot find the file specified.\r\n");
  }
}

struct WholeScan : ErrorListFixture {
  void SetUp() override {
    ErrorListFixture::SetUp();
    FakePathText = "R:\\";
    FakeFolders["R:\\*.*"] = {{fakeEntry("bad", 64)}};
    FakeFiles["R:\\bad"] = {64, 32};
    s.skipFile = 100;
    FakeHundredths = 100;
    s.stopAfterErrors = 4;
  }
  // The summary as the settings line shows it, its last blank included.
  std::string scanStart() const {
    return kAt + "scan start,R:\\,,,,,\"version 0.03.4; settings: 64 bytes at once, stop after " +
           std::to_string(s.stopAfterErrors) + " error bytes \"";
  }
};

// The walk ends on the one bad file in every pass: each pass is one
// opening error and three reading errors.
TEST_F(WholeScan, RepeatsAreCountedAndTheScanEndSaysHowMany) {
  s.stopAfterErrors = 4000;
  s.showSetup = false;  // the list's summary is the one "show setup" would give
  prepare();
  open();
  runScan();
  EXPECT_EQ(scanResult().openErrors, 1000);
  EXPECT_EQ(lines(), (std::vector<std::string>{
                         scanStart(),
                         kAt + "open failed,R:\\bad,,,,32," + kSharing,
                         kAt + "scan end,R:\\,,,,,\"checked 0 B, files checked 1000, opening errors 1000, "
                               "reading errors 3000, 0 s, 999 repeated events not listed\"",
                     }));
  EXPECT_EQ(FakeWriteCount, 4);
  EXPECT_EQ(FakeOpenFiles, 0);  // the list is closed with the scan

  // A new scan starts with an empty set; the scan end names nothing
  // repeated when nothing was.
  resetScan();
  s.stopAfterErrors = 4;
  prepare();
  open();
  runScan();
  std::vector<std::string> all = lines();
  ASSERT_EQ(all.size(), 6u);
  EXPECT_EQ(all[3], scanStart());
  EXPECT_EQ(all[4], kAt + "open failed,R:\\bad,,,,32," + kSharing);
  EXPECT_EQ(all[5], kAt + "scan end,R:\\,,,,,\"checked 0 B, files checked 1, opening errors 1, "
                          "reading errors 3, 0 s, 0 repeated events not listed\"");
}

TEST_F(ErrorListFixture, AKeyIsItsPathItsEventAndItsCode) {
  FakeFiles["R:\\f"] = {64, 32};
  FakeFiles["R:\\g"] = {64, 32};
  prepare();
  open();
  check("R:\\f", 64);
  check("R:\\f", 64);
  check("R:\\g", 64);  // another path
  FakeFiles["R:\\f"].openError = 5;
  check("R:\\f", 64);  // another code
  FakeFiles["R:\\f"] = {40};
  check("R:\\f", 64);  // another event
  check("R:\\f", 64);
  check("R:\\g", 64);
  EXPECT_EQ(lines(), (std::vector<std::string>{
                         kAt + "open failed,R:\\f,,,,32," + kSharing,
                         kAt + "open failed,R:\\g,,,,32," + kSharing,
                         kAt + "open failed,R:\\f,,,,5,Access is denied.",
                         kAt + "short read,R:\\f,0,64,40,0,end of file",
                     }));
  EXPECT_EQ(repeatedEvents(), 3);
}

TEST_F(ErrorListFixture, PastTheFirst100000KeysEveryEventIsWritten) {
  open();
  for (int i = 0; i < 100000; ++i) listOpenFailed("R:\\f" + std::to_string(i), 2);
  // Every one of them is known, however their hashes fall.
  for (int i = 0; i < 100000; ++i) listOpenFailed("R:\\f" + std::to_string(i), 2);
  EXPECT_EQ(repeatedEvents(), 100000);
  EXPECT_EQ(FakeWriteCount, 1 + 100000);
  listOpenFailed("R:\\one more", 2);
  listOpenFailed("R:\\one more", 2);
  EXPECT_EQ(FakeWriteCount, 1 + 100002);
  listOpenFailed("R:\\f99999", 2);
  EXPECT_EQ(repeatedEvents(), 100001);
  EXPECT_EQ(FakeWriteCount, 1 + 100002);
  // The next scan's set has room again.
  open();
  listOpenFailed("R:\\one more", 2);
  listOpenFailed("R:\\one more", 2);
  EXPECT_EQ(repeatedEvents(), 1);
}

// Long paths fill the set's 64 MiB of paths long before its keys: 2,097
// paths of 32,000 bytes fit, and past them every event is written.
TEST_F(ErrorListFixture, PastThe64MiBOfPathsEveryEventIsWritten) {
  open();
  const int paths = 2100;
  auto pathOf = [](int i) {
    std::string number = std::to_string(100000 + i);
    return "R:\\" + number + std::string(32000 - 3 - number.size(), 'p');
  };
  for (int round = 0; round < 2; ++round) {
    for (int i = 0; i < paths; ++i) listOpenFailed(pathOf(i), 2);
  }
  EXPECT_EQ(repeatedEvents(), 2097);
  EXPECT_EQ(FakeWriteCount, 1 + paths + (paths - 2097));
}

TEST_F(ErrorListFixture, WithoutAListNothingIsWritten) {
  FakeFiles["R:\\f"] = {64, 32};
  prepare();
  Text failure("untouched");
  EXPECT_EQ(openErrorList(Text(), &failure), 0);
  EXPECT_EQ(failure, "");
  check("R:\\f", 64);
  listFolderFailed("R:\\", 5);
  EXPECT_TRUE(FakeDisk.empty());
  EXPECT_EQ(FakeWriteCount, 0);
  EXPECT_EQ(Scan.openErrors, 1);
}

TEST_F(ErrorListFixture, AListThatCannotBeOpenedOrStarted) {
  FakeAppendOpenError = 3;
  Text failure;
  EXPECT_EQ(openErrorList(Text("R:\\missing\\errors.csv"), &failure), 3);
  EXPECT_EQ(failure,
            "cannot open the error list R:\\missing\\errors.csv: The system cannot find the path specified. (code 3)");
  EXPECT_EQ(errorListFailure(), failure);
  FakeAppendOpenError = 0;
  FakeWriteError = 112;
  EXPECT_EQ(openErrorList(Text(kList), &failure), 112);
  EXPECT_EQ(failure, "cannot write the error list R:\\errors.csv: There is not enough space on the disk. (code 112)");
  EXPECT_EQ(FakeOpenFiles, 0);
  // A start that goes ahead forgets the failure.
  FakeWriteError = 0;
  open();
  EXPECT_EQ(errorListFailure(), "");
}

// A full disk stops the scan as the Stop button would; once the worker is
// done the file line says why.
TEST_F(WholeScan, AFailedWriteStopsTheScan) {
  const std::string kFailure =
      "cannot write the error list R:\\errors.csv: There is not enough space on the disk. (code 112)";
  const struct {
    const char* what;
    bool writesAfterTheStart;
  } cases[] = {{"the scan start line", false}, {"an event's line", true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    resetFakePlatform();
    SetUp();
    FakeDisk[kList] = "old\r\n";  // no header to write
    prepare();
    open();
    if (!c.writesAfterTheStart) FakeWriteError = 112;
    setupScan();
    FakeWriteError = 112;
    EXPECT_EQ(ScanState.load(), c.writesAfterTheStart ? 1 : -1);
    runPass();
    EXPECT_EQ(ScanState.load(), -1);
    EXPECT_EQ(scanResult().stoppedBy, StopReason::ErrorList);
    endScan();
    finishScan();
    EXPECT_EQ(FakeDisk[kList], c.writesAfterTheStart ? "old\r\n" + scanStart() + "\r\n" : "old\r\n");
    EXPECT_EQ(errorListFailure(), kFailure);
    ASSERT_FALSE(WindowLog.empty());
    EXPECT_EQ(WindowLog.end()[-4], "text FileLine: " + kFailure);
    EXPECT_EQ(WindowLog.back(), "show normal");
    EXPECT_EQ(FakeOpenFiles, 0);
  }
}

// Opened on this thread, written by a worker on another, read back here
// once the worker has ended.
TEST_F(WholeScan, AWorkerStoppedFromAnotherThread) {
  FakeFolders["R:\\*.*"] = {{fakeEntry("bad", 64), fakeEntry("short", 64)}};
  FakeFiles["R:\\short"].size = 10;
  s.skipFile = 50;
  s.stopAfterErrors = 0;
  prepare(6);
  open();
  std::thread worker(runScan);
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (FakeReadCount.load() < 1000 && std::chrono::steady_clock::now() < deadline) std::this_thread::yield();
  EXPECT_TRUE(requestScanStop());
  worker.join();
  std::vector<std::string> all = lines();
  ASSERT_EQ(all.size(), 4u);
  EXPECT_EQ(all[0].rfind(kAt + "scan start,R:\\,", 0), 0u) << all[0];
  std::vector<std::string> failures(all.begin() + 1, all.begin() + 3);
  std::sort(failures.begin(), failures.end());
  EXPECT_EQ(failures, (std::vector<std::string>{kAt + "open failed,R:\\bad,,,,32," + kSharing,
                                                kAt + "short read,R:\\short,0,64,10,0,end of file"}));
  ScanResult r = scanResult();
  EXPECT_GE(r.filesChecked, 1000);
  std::string repeats = std::to_string(r.filesChecked - 2);
  EXPECT_NE(all[3].find(", " + repeats + " repeated events not listed\""), std::string::npos) << all[3];
  EXPECT_EQ(repeatedEvents(), r.filesChecked - 2);
}

}  // namespace
