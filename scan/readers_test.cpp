// Several readers on the scripted file system: each file once per cycle,
// counts that add up, every reader stopped by every rule, the texts and the
// error list written whole, and the background mode asked for by each.
#include <algorithm>
#include <map>
#include <set>
#include <sstream>

#include "platform/fake/fake.h"
#include "scan/error_list.h"
#include "scan/test_support.h"

namespace {

using Paths = std::vector<std::string>;

struct ManyReaders : ScanFixture {
  void SetUp() override {
    resetFakePlatform();
    resetScan();
    FakePathText = "R:\\";
    s = Settings();
    s.checkEveryFile = true;
    s.showCheckedBytes = s.showOpenErrors = s.showReadErrors = true;
    s.parallelReads = 4;
    s.windowRefresh = 100;
    s.selectNextFile = 50;
    s.bytesToReadAtOnce = 16;
  }
  void TearDown() override { ScanState.store(0); }

  // `folders` folders of `files` files each, every file of 1000 bytes, and
  // under the root one that cannot be opened and one that fails to read.
  Paths tree(int folders, int files) {
    Paths all;
    std::vector<ListEntry> root = {fakeFolderEntry("."), fakeFolderEntry("..")};
    for (int f = 0; f < folders; ++f) {
      std::string name = "f" + std::to_string(f);
      root.push_back(fakeFolderEntry(name.c_str()));
      std::vector<ListEntry> entries = {fakeFolderEntry("."), fakeFolderEntry("..")};
      for (int i = 0; i < files; ++i) {
        std::string file = "file" + std::to_string(i);
        std::string path = "R:\\" + name + "\\" + file;
        FakeFiles[path].size = 1000;
        entries.push_back(fakeEntry(file.c_str(), 1000));
        all.push_back(path);
      }
      FakeFolders["R:\\" + name + "\\*.*"] = {entries};
    }
    root.push_back(fakeEntry("locked", 500));
    FakeFiles["R:\\locked"] = {500, 32};
    root.push_back(fakeEntry("bad", 500));
    FakeFiles["R:\\bad"] = {500, 0, false, 0};  // every read fails
    all.push_back("R:\\locked");
    all.push_back("R:\\bad");
    FakeFolders["R:\\*.*"] = {root};
    return all;
  }

  // A scan on a thread of its own, as the programs run it.
  ::testing::AssertionResult scan(uint32_t seed = 9) {
    prepare(seed, scanBufferNeed(s).size);
    return scanEndsByItself(30);
  }

  static Paths texts(const char* control) {
    Paths found;
    std::string prefix = std::string("text ") + control + ": ";
    for (const std::string& line : WindowLog) {
      if (line.rfind(prefix, 0) == 0) found.push_back(line.substr(prefix.size()));
    }
    return found;
  }
};

Paths sorted(Paths paths) {
  std::sort(paths.begin(), paths.end());
  return paths;
}

TEST_F(ManyReaders, EachFileOncePerCycleAndCountsThatAddUp) {
  for (int readers : {2, 4, 8, 64}) {
    SCOPED_TRACE(std::to_string(readers) + " readers");
    SetUp();
    Paths files = tree(6, 20);
    s.parallelReads = readers;
    s.stopAfterCycles = 3;
    s.selectNextFile = 100;  // one block a file: an unopened file's count is known
    ASSERT_TRUE(scan());
    // The readers meet at each cycle's end, so each cycle's opens come
    // together, and hold each file once.
    const std::size_t n = files.size();
    ASSERT_EQ(FakeOpens.size(), 3 * n);
    for (std::size_t cycle = 0; cycle < 3; ++cycle) {
      Paths opened(FakeOpens.begin() + static_cast<long>(cycle * n),
                   FakeOpens.begin() + static_cast<long>((cycle + 1) * n));
      EXPECT_EQ(sorted(opened), sorted(files)) << "cycle " << cycle + 1;
    }
    // The counts are the sums of what each read did.
    int64_t bytes = 0, failed = 0, shortReads = 0;
    for (const FakeRead& read : FakeReads) {
      bytes += read.got;
      if (read.path == "R:\\bad") ++failed;
      if (read.got != read.asked) ++shortReads;
    }
    ScanResult r = scanResult();
    EXPECT_EQ(r.stoppedBy, StopReason::Cycles);
    EXPECT_EQ(r.cyclesCompleted, 3);
    EXPECT_EQ(r.filesChecked, static_cast<int64_t>(3 * n));
    EXPECT_EQ(r.coveredFiles, static_cast<int64_t>(n));
    EXPECT_EQ(r.indexedFiles, static_cast<int64_t>(n));
    EXPECT_EQ(r.checkedBytes, bytes);
    EXPECT_EQ(r.openErrors, 3);  // "locked", once a cycle
    EXPECT_EQ(failed, 3);
    // A failed read also comes back short; an unopened file's block fails
    // to position, to read and to bring its length.
    EXPECT_EQ(r.readErrors, failed + shortReads + 3 * 3);
    EXPECT_EQ(FakeOpenFiles, 0);
    EXPECT_EQ(FakeOpenListings, 0);
    // The last counters line shows the sums.
    ASSERT_FALSE(texts("CountersLine").empty());
    EXPECT_EQ(texts("CountersLine").back(), std::string(composeCountersLine().view()));
  }
}

TEST_F(ManyReaders, EveryRuleStopsEveryReader) {
  const struct {
    const char* what;
    void (*configure)(Settings&);
    StopReason reason;
  } cases[] = {
      {"the checked limit", [](Settings& x) { x.stopAfterChecked = 20000; }, StopReason::Checked},
      {"the error limit", [](Settings& x) { x.stopAfterErrors = 5; }, StopReason::Errors},
      {"the time limit", [](Settings& x) { x.stopAfterSeconds = 3; }, StopReason::Time},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    SetUp();
    tree(4, 50);
    s.parallelReads = 8;
    c.configure(s);
    FakeClockStep = 1;
    ASSERT_TRUE(scan());
    ScanResult r = scanResult();
    EXPECT_EQ(r.stoppedBy, c.reason);
    // Each reader ends after its current block: at most one block past
    // the limit for each of them.
    if (c.reason == StopReason::Checked) {
      EXPECT_GE(r.checkedBytes, 20000);
      EXPECT_LE(r.checkedBytes, 20000 + 8 * 16);
    }
    if (c.reason == StopReason::Errors) {
      EXPECT_GE(r.openErrors + r.readErrors, 5);
    }
    EXPECT_EQ(FakeOpenFiles, 0);
    EXPECT_EQ(FakeOpenListings, 0);
    EXPECT_EQ(ScanState.load(), 0);
  }
}

TEST_F(ManyReaders, StopEndsAllReaders) {
  tree(8, 100);
  s.parallelReads = 8;
  prepare(3, scanBufferNeed(s).size);
  std::thread worker(runScan);
  // Well into the second cycle.
  while (FakeReadCount.load() < 2000 && ScanState.load() != 0) std::this_thread::yield();
  EXPECT_TRUE(requestScanStop());
  worker.join();
  EXPECT_EQ(ScanState.load(), 0);
  EXPECT_EQ(scanResult().stoppedBy, StopReason::User);
  EXPECT_EQ(FakeOpenFiles, 0);
  EXPECT_EQ(FakeOpenListings, 0);
  // The button is given back once, after the last reader.
  EXPECT_EQ(std::count(WindowLog.begin(), WindowLog.end(), "text StartButton: Start"), 1);
}

// A stop as a cycle ends finds readers waiting for the next cycle's
// listing, or in it: all of them end.
TEST_F(ManyReaders, AStopAsACycleEndsEndsEveryReader) {
  tree(3, 10);
  s.parallelReads = 8;
  s.selectNextFile = 100;
  prepare(4, scanBufferNeed(s).size);
  std::thread worker(runScan);
  while (Scan.cyclesCompleted < 1 && ScanState.load() != 0) std::this_thread::yield();
  requestScanStop();
  worker.join();
  EXPECT_EQ(ScanState.load(), 0);
  EXPECT_EQ(FakeOpenListings, 0);
}

TEST_F(ManyReaders, AnEmptyTreeIsListedAgainUntilTheLimit) {
  FakeFolders["R:\\*.*"] = {{fakeFolderEntry("."), fakeFolderEntry("..")}};
  s.stopAfterCycles = 5;
  ASSERT_TRUE(scan());
  ScanResult r = scanResult();
  EXPECT_EQ(r.cyclesCompleted, 5);
  EXPECT_EQ(r.filesChecked, 0);
}

TEST_F(ManyReaders, TheErrorListHasWholeLinesAndFoldsForAll) {
  tree(4, 30);
  // Files that fail at every read, so that readers write at once.
  for (int i = 0; i < 20; ++i) {
    std::string name = "fail" + std::to_string(i);
    FakeFiles["R:\\" + name] = {400, 0, true, 0};
    FakeFolders["R:\\*.*"].entries.push_back(fakeEntry(name.c_str(), 400));
  }
  s.parallelReads = 8;
  s.stopAfterCycles = 4;
  s.errorList = "R:\\errors.csv";
  ASSERT_EQ(openErrorList(s.errorList, nullptr), 0);
  ASSERT_TRUE(scan());
  std::istringstream list(FakeDisk["R:\\errors.csv"]);
  std::string line;
  std::getline(list, line);  // the byte-order mark and the header
  std::map<std::string, int> keys;
  int lines = 0;
  while (std::getline(list, line)) {
    ++lines;
    ASSERT_FALSE(line.empty());
    EXPECT_EQ(line.back(), '\r') << line;
    EXPECT_EQ(line.rfind("2026-01-02 03:04:05.006,", 0), 0u) << line;
    bool scanLine = line.find(",scan ") != std::string::npos;
    if (!scanLine) {
      EXPECT_EQ(std::count(line.begin(), line.end(), ','), 7) << line;
    }
    std::size_t event = line.find(',') + 1;
    std::size_t path = line.find(',', event) + 1;
    std::size_t end = line.find(',', path);
    // The fold key without its code: every key here has one code.
    ++keys[line.substr(event, end - event)];
  }
  // The scan start and end, "open failed" for "locked", "read failed" for
  // "bad", and "seek failed" and "read failed" for each failing file: each
  // written once however many readers met it, in four cycles.
  EXPECT_EQ(lines, 2 + 1 + 1 + 2 * 20);
  for (const auto& [key, count] : keys) EXPECT_EQ(count, 1) << key;
  EXPECT_NE(FakeDisk["R:\\errors.csv"].find(" repeated events not listed"), std::string::npos);
}

TEST_F(ManyReaders, BackgroundModeForEachReaderAndARefusalToldOnce) {
  tree(2, 10);
  s.parallelReads = 4;
  s.stopAfterCycles = 2;
  s.backgroundPriority = true;
  ASSERT_TRUE(scan());
  EXPECT_EQ(FakeBackgroundThreads.load(), 4);
  EXPECT_EQ(scanResult().backgroundRefusal, 0);
  for (const std::string& line : texts("FileLine")) EXPECT_EQ(line.find("background"), std::string::npos);

  SetUp();
  tree(2, 10);
  s.parallelReads = 4;
  s.stopAfterCycles = 2;
  s.backgroundPriority = true;
  FakeBackgroundError = 5;
  ASSERT_TRUE(scan());
  EXPECT_EQ(FakeBackgroundThreads.load(), 4);
  EXPECT_EQ(scanResult().backgroundRefusal, 5);
  EXPECT_EQ(scanResult().cyclesCompleted, 2);  // the scan went on
  Paths refusals;
  for (const std::string& line : texts("FileLine")) {
    if (line.find("background") != std::string::npos) refusals.push_back(line);
  }
  ASSERT_EQ(refusals.size(), 1u);
  EXPECT_EQ(refusals[0], "background priority refused, normal priority: Access is denied. (code 5)");

  // Without the flag nobody asks.
  SetUp();
  tree(2, 10);
  s.stopAfterCycles = 1;
  ASSERT_TRUE(scan());
  EXPECT_EQ(FakeBackgroundThreads.load(), 0);
}

// Whole files with several readers: each reader reads its file from start
// to end in its own part of the buffer, every byte of every file once a
// cycle, and the counters line shows how far the file of the reader that
// wrote it has come.
TEST_F(ManyReaders, WholeFilesEachReadOncePerCycle) {
  tree(4, 12);
  FakeFiles["R:\\bad"] = {500, 0, false, -1};  // healthy here
  s.parallelReads = 4;
  s.readWholeFiles = true;
  s.bytesToReadAtOnce = 65536;
  s.stopAfterCycles = 2;
  ASSERT_TRUE(scan());
  ScanResult r = scanResult();
  const int64_t cycleBytes = 4 * 12 * 1000 + 500;  // "locked" does not open
  EXPECT_EQ(r.checkedBytes, 2 * cycleBytes);
  EXPECT_EQ(r.filesChecked, 2 * (4 * 12 + 2));
  std::map<std::string, int64_t> bytesOf;
  for (const FakeRead& read : FakeReads) bytesOf[read.path] += read.got;
  for (const auto& [path, bytes] : bytesOf) EXPECT_EQ(bytes, 2 * FakeFiles[path].size) << path;
  EXPECT_EQ(bytesOf.size(), 4u * 12 + 1);
}

// A walk has one reader whatever the setting: the walk stays one thread.
TEST_F(ManyReaders, AWalkHasOneReader) {
  s.checkEveryFile = false;
  s.parallelReads = 8;
  EXPECT_EQ(readersOf(s), 1);
  EXPECT_EQ(scanBufferNeed(s).size, 16);
  s.checkEveryFile = true;
  EXPECT_EQ(readersOf(s), 8);
  EXPECT_EQ(scanBufferNeed(s).size, 8 * 16);
  s.readPastCache = true;
  // Each reader's part of the buffer is a whole number of the largest
  // alignment, so that each starts aligned.
  ScanBufferNeed need = scanBufferNeed(s);
  EXPECT_EQ(need.size % (8 * kLargestAlignment), 0);
  prepare(1, need.size);
  for (int i = 1; i < 8; ++i) {
    EXPECT_EQ((Readers[i].buffer - Readers[0].buffer) % kLargestAlignment, 0);
    EXPECT_EQ(Readers[i].buffer - Readers[i - 1].buffer, need.size / 8);
  }
}

// Each reader draws from a generator of its own; reader 0's is the scan's
// seed itself, as the one generator always was.
TEST(ReaderGenerators, SeededFromTheScansSeedAndTheReadersNumber) {
  Random first = seededRandom(42, 0);
  EXPECT_EQ(first.state, 42u);
  std::set<int64_t> firstDraws;
  for (int number = 0; number < kMostReaders; ++number) {
    Random r = seededRandom(42, number);
    firstDraws.insert(randomBelow(r, int64_t{1} << 62));
  }
  EXPECT_EQ(firstDraws.size(), static_cast<std::size_t>(kMostReaders));
}

}  // namespace
