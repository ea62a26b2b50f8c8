// "read whole files" and "slow read limit:" on the scripted file system:
// which bytes are asked for and in what order, what a damaged, shrinking or
// growing file counts, where a scan stops, and how slow reads are told.
#include <algorithm>
#include <atomic>
#include <map>
#include <thread>

#include "platform/fake/fake.h"
#include "platform/memory.h"
#include "scan/error_list.h"
#include "scan/test_support.h"

namespace {

constexpr int64_t kMiB = int64_t{1} << 20;
const char* const kList = "R:\\errors.csv";

struct WholeFiles : ScanFixture {
  void SetUp() override {
    resetFakePlatform();
    resetScan();
    FakePathText = "R:\\";
    s.readWholeFiles = true;
    s.windowRefresh = 100;
  }
  char* aligned = nullptr;
  void TearDown() override {
    openErrorList(Text(), nullptr);
    keepReadTimes(false);
    releaseAlignedMemory(aligned);
  }
  // A buffer as the front ends make it: aligned, of the size the settings
  // need.
  void prepareAsFrontEnds(uint32_t seed = 1) {
    int64_t size = scanBufferNeed(s).size;
    releaseAlignedMemory(aligned);
    aligned = allocateAlignedMemory(size);
    ASSERT_NE(aligned, nullptr);
    prepareScan(s, aligned, size, seed);
  }
  void check(const char* path, int64_t listedSize) {
    setupScan();
    checkFile(Readers[0], std::string(path), "name", listedSize);
  }
  // The list's lines after its header, as one text.
  static std::string listed() {
    const std::string& all = FakeDisk[kList];
    std::size_t header = all.find("\r\n");
    return header == std::string::npos ? std::string() : all.substr(header + 2);
  }
  static std::vector<std::string> logOf(const char* control) {
    std::vector<std::string> texts;
    std::string prefix = std::string("text ") + control + ": ";
    for (const std::string& line : WindowLog) {
      if (line.rfind(prefix, 0) == 0) texts.push_back(line.substr(prefix.size()));
    }
    return texts;
  }
};

// The reads of one path as (position, asked) pairs, in order.
std::vector<std::pair<int64_t, int64_t>> readsOf(const std::string& path) {
  std::vector<std::pair<int64_t, int64_t>> reads;
  for (const FakeRead& r : FakeReads) {
    if (r.path == path) reads.emplace_back(r.position, r.asked);
  }
  return reads;
}

// The reads a healthy file of `size` bytes gets in blocks of `block`, each
// block `repeats` times.
std::vector<std::pair<int64_t, int64_t>> inOrder(int64_t size, int64_t block, int repeats = 1) {
  std::vector<std::pair<int64_t, int64_t>> reads;
  for (int64_t at = 0; at < size; at += block) {
    for (int i = 0; i < repeats; ++i) reads.emplace_back(at, std::min(block, size - at));
  }
  return reads;
}

// The block size: "bytes to read at once:" from 64 KiB up, 1 MiB below,
// and the last block the file's remainder, asked for as such.
TEST_F(WholeFiles, ReadsEveryByteOnceInOrderInBlocksOfTheRule) {
  const struct {
    int32_t bytesAtOnce;
    int64_t block;
  } cases[] = {{1, kMiB}, {4096, kMiB}, {65535, kMiB}, {65536, 65536}, {200000, 200000}, {3 * kMiB, 3 * kMiB}};
  const int64_t size = 5 * kMiB + 12345;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.bytesAtOnce);
    resetFakePlatform();
    resetScan();
    FakeFiles["R:\\f"].size = size;
    s.bytesToReadAtOnce = c.bytesAtOnce;
    EXPECT_EQ(wholeFileBlockSize(s), c.block);
    EXPECT_EQ(scanBufferNeed(s).size, c.block);
    prepareAsFrontEnds();
    check("R:\\f", size);
    EXPECT_EQ(readsOf("R:\\f"), inOrder(size, c.block));
    EXPECT_EQ(Scan.checkedBytes, size);
    EXPECT_EQ(Scan.readErrors, 0);
    EXPECT_EQ(FakeOpenFiles, 0);
  }
}

TEST_F(WholeFiles, EachBlockIsReadRepeatReadTimesWithoutADrawOfTheNextFile) {
  FakeFiles["R:\\f"].size = 3 * kMiB - 1;
  s.repeatRead = 3;
  s.selectNextFile = 100;  // would leave the file after its first block
  prepareAsFrontEnds();
  check("R:\\f", 3 * kMiB - 1);
  EXPECT_EQ(readsOf("R:\\f"), inOrder(3 * kMiB - 1, kMiB, 3));
  EXPECT_EQ(Scan.checkedBytes, 3 * (3 * kMiB - 1));
  EXPECT_EQ(Scan.filesChecked, 1);
}

// A bad range in the second of four blocks: that block counts its failure
// and what came before the range, and the read goes on to the end.
TEST_F(WholeFiles, AFailingBlockIsCountedAndTheReadGoesOn) {
  FakeFile& f = FakeFiles["R:\\f"];
  f.size = 4 * kMiB;
  f.badFrom = kMiB + 512 * 1024;
  f.badLength = 4096;
  s.showCheckedBytes = s.showReadErrors = true;
  prepareAsFrontEnds();
  ASSERT_EQ(openErrorList(Text(kList), nullptr), 0);
  check("R:\\f", 4 * kMiB);
  EXPECT_EQ(readsOf("R:\\f"), inOrder(4 * kMiB, kMiB));
  EXPECT_EQ(Scan.readErrors, 2);  // the read failed and came back short
  EXPECT_EQ(Scan.checkedBytes, 4 * kMiB - 512 * 1024);
  EXPECT_NE(listed().find(",read failed,R:\\f,1048576,1048576,524288,"), std::string::npos) << listed();
  EXPECT_EQ(listed().find("short read"), std::string::npos) << "a failed read is one line";
}

TEST_F(WholeFiles, AFileThatFailsToOpenCountsOneBlockAsAPickAlwaysDid) {
  FakeFiles["R:\\f"] = FakeFile{10 * kMiB, 5};
  s.repeatRead = 2;
  prepareAsFrontEnds();
  check("R:\\f", 10 * kMiB);
  EXPECT_EQ(Scan.openErrors, 1);
  EXPECT_EQ(Scan.readErrors, 2 * 3);
  EXPECT_TRUE(FakeReads.empty());
}

// Listed sizes against the sizes the files have when they are read.
TEST_F(WholeFiles, AShrunkenFileEndsWithOneShortReadAndAGrownOneIsReadToItsListedSize) {
  FakeFiles["R:\\shrunk"].size = kMiB + 1000;
  prepareAsFrontEnds();
  check("R:\\shrunk", 4 * kMiB);
  // The second block asks again for its rest, which ends the file.
  std::vector<std::pair<int64_t, int64_t>> reads = inOrder(2 * kMiB, kMiB);
  reads.emplace_back(kMiB + 1000, kMiB - 1000);
  EXPECT_EQ(readsOf("R:\\shrunk"), reads);
  EXPECT_EQ(Scan.readErrors, 1);
  EXPECT_EQ(Scan.checkedBytes, kMiB + 1000);

  resetScan();
  FakeFiles["R:\\grown"].size = 9 * kMiB;
  prepareAsFrontEnds();
  check("R:\\grown", 2 * kMiB + 7);
  EXPECT_EQ(readsOf("R:\\grown"), inOrder(2 * kMiB + 7, kMiB));
  EXPECT_EQ(Scan.readErrors, 0);
  EXPECT_EQ(Scan.checkedBytes, 2 * kMiB + 7);
}

TEST_F(WholeFiles, TheStopRulesActBetweenBlocks) {
  const int64_t size = 64 * kMiB;
  struct Rule {
    const char* what;
    void (*apply)(Settings*, FakeFile*);
    std::size_t blocksRead;
    StopReason reason;
  } rules[] = {
      {"checked", [](Settings* settings, FakeFile*) { settings->stopAfterChecked = 3 * kMiB - 5; }, 3, StopReason::Checked},
      {"errors",
       [](Settings* settings, FakeFile* f) {
         settings->stopAfterErrors = 1;
         f->badFrom = 5 * kMiB;
         f->badLength = 1;
       },
       6, StopReason::Errors},
      {"time",
       [](Settings* settings, FakeFile* f) {
         settings->stopAfterSeconds = 1;
         f->stallAt = 2 * kMiB;
         f->stallHundredths = 100;
       },
       3, StopReason::Time},
  };
  for (const Rule& rule : rules) {
    SCOPED_TRACE(rule.what);
    resetFakePlatform();
    resetScan();
    s = Settings();
    s.readWholeFiles = true;
    FakeFiles["R:\\f"].size = size;
    rule.apply(&s, &FakeFiles["R:\\f"]);
    prepareAsFrontEnds();
    check("R:\\f", size);
    EXPECT_EQ(FakeReads.size(), rule.blocksRead);
    EXPECT_EQ(scanResult().stoppedBy, rule.reason);
    EXPECT_EQ(FakeOpenFiles, 0);
  }
}

// The user's Stop from another thread, while the worker is in the middle
// of a file far too large to finish.
TEST_F(WholeFiles, StopEndsTheReadOfALargeFileBetweenBlocks) {
  FakeFile& f = FakeFiles["R:\\huge"];
  f.size = int64_t{1} << 50;
  FakeFolders["R:\\*.*"] = {{fakeEntry("huge", f.size)}};
  s.checkEveryFile = true;
  prepareAsFrontEnds();
  std::thread worker(runScan);
  while (FakeReadCount.load() < 5) std::this_thread::yield();
  requestScanStop();
  worker.join();
  EXPECT_EQ(ScanState.load(), 0);
  EXPECT_EQ(FakeOpenFiles, 0);
  EXPECT_EQ(scanResult().stoppedBy, StopReason::User);
  EXPECT_EQ(Scan.checkedBytes, static_cast<int64_t>(FakeReads.size()) * kMiB);
}

// The walk with the flag: whichever file a pass picks is read whole.
TEST_F(WholeFiles, TheWalkReadsEachPickedFileWhole) {
  std::map<std::string, int64_t> sizes = {{"a", 3 * kMiB + 1}, {"b", 100}, {"c", kMiB}};
  FakeFolder root;
  for (const auto& [name, size] : sizes) {
    FakeFiles["R:\\" + name].size = size;
    root.entries.push_back(fakeEntry(name.c_str(), size));
  }
  FakeFolders["R:\\*.*"] = root;
  s.stopAfterChecked = 40 * kMiB;
  prepareAsFrontEnds(5);
  runScanOfAtMost(1000);
  // Every open is followed by its file's reads from 0 to its end.
  std::map<std::string, int> opens;
  for (const std::string& path : FakeOpens) ++opens[path];
  std::size_t at = 0;
  for (const std::string& path : FakeOpens) {
    int64_t size = sizes.at(path.substr(3));
    for (const auto& read : inOrder(size, kMiB)) {
      if (at == FakeReads.size()) break;  // the checked limit ended the last one
      ASSERT_EQ(FakeReads[at].path, path);
      ASSERT_EQ(std::make_pair(FakeReads[at].position, static_cast<int64_t>(FakeReads[at].asked)), read);
      ++at;
    }
  }
  EXPECT_EQ(at, FakeReads.size());
  EXPECT_EQ(opens.size(), 3u) << "the walk reached every file";
}

// A cycle of "check every file" asks for every byte of every file once.
TEST_F(WholeFiles, ACycleOfEveryFileAsksForEveryByteOnce) {
  FakeFolder root;
  root.entries = {fakeFolderEntry("."), fakeFolderEntry(".."), fakeFolderEntry("sub")};
  FakeFolder sub;
  sub.entries = {fakeFolderEntry("."), fakeFolderEntry("..")};
  std::map<std::string, int64_t> sizes;
  for (int i = 0; i < 6; ++i) {
    std::string name = "f" + std::to_string(i);
    int64_t size = (i * 700001) % (3 * kMiB) + i;
    FakeFolder& folder = i % 2 ? sub : root;
    std::string path = (i % 2 ? "R:\\sub\\" : "R:\\") + name;
    FakeFiles[path].size = size;
    sizes[path] = size;
    folder.entries.push_back(fakeEntry(name.c_str(), size));
  }
  FakeFolders["R:\\*.*"] = root;
  FakeFolders["R:\\sub\\*.*"] = sub;
  s.checkEveryFile = true;
  s.stopAfterCycles = 1;
  prepareAsFrontEnds();
  runScanOfAtMost(100);
  int64_t total = 0;
  for (const auto& [path, size] : sizes) {
    SCOPED_TRACE(path);
    EXPECT_EQ(readsOf(path), inOrder(size, kMiB));
    total += size;
  }
  EXPECT_EQ(Scan.checkedBytes, total);
  EXPECT_EQ(Scan.cyclesCompleted, 1);
}

// Past the cache every block is one aligned span, one after another; only
// the last is padded, to the file's unit.
TEST_F(WholeFiles, PastTheCacheTheBlocksAreAlignedSpansInOrder) {
  FakeFile& f = FakeFiles["R:\\f"];
  f.size = 5 * 65536 + 1000;
  f.alignment = 4096;
  s.readPastCache = true;
  s.bytesToReadAtOnce = 3 * 65536 + 100;  // rounded down to whole 64 KiB units
  EXPECT_EQ(wholeFileBlockSize(s), 3 * 65536);
  EXPECT_TRUE(scanBufferNeed(s).aligned);
  prepareAsFrontEnds();
  check("R:\\f", f.size);
  EXPECT_EQ(readsOf("R:\\f"), (std::vector<std::pair<int64_t, int64_t>>{{0, 3 * 65536}, {3 * 65536, 2 * 65536 + 4096}}));
  EXPECT_EQ(FakeMisalignedReads, 0);
  EXPECT_EQ(Scan.checkedBytes, f.size);
  EXPECT_EQ(Scan.readErrors, 0);
}

// The counters line carries the file's percentage while it is read, and
// the file line its offset under "show read byte".
TEST_F(WholeFiles, ProgressShowsTheFileUnderWay) {
  FakeFiles["R:\\f"].size = 4 * kMiB;
  s.showCheckedBytes = s.showFileName = s.showReadByte = true;
  prepareAsFrontEnds();
  check("R:\\f", 4 * kMiB);
  EXPECT_EQ(logOf("CountersLine"), (std::vector<std::string>{"checked 1024kB, 25 % of 4MB", "checked 2MB, 50 % of 4MB",
                                                              "checked 3MB, 75 % of 4MB"}));
  std::vector<std::string> fileLines = logOf("FileLine");
  ASSERT_EQ(fileLines.size(), 4u);  // as the file starts, then after each block but the last
  EXPECT_EQ(fileLines[3], "byte: 2097152 of \"R:\\name\"");  // the block read last

  // Without the flag the piece never comes.
  resetFakePlatform();
  resetScan();
  FakeFiles["R:\\f"].size = 4 * kMiB;
  s.readWholeFiles = false;
  s.bytesToReadAtOnce = 1024;
  s.selectNextFile = 100;
  s.showFullFileSize = true;
  prepare();
  check("R:\\f", 4 * kMiB);
  Readers[0].fileSize = 4 * kMiB;
  EXPECT_EQ(composeCountersLine(), "checked 1024B");
}

// A read that takes 300 ms with a limit of 100 ms: counted, listed, shown,
// and no error.
TEST_F(WholeFiles, ASlowReadIsCountedListedAndShownButIsNoError) {
  FakeFile& f = FakeFiles["R:\\f"];
  f.size = 3 * kMiB;
  f.stallAt = kMiB + 10;
  f.stallHundredths = 30;
  s.slowReadLimit = 100;
  s.stopAfterErrors = 1;
  s.showCheckedBytes = s.showReadErrors = true;
  prepareAsFrontEnds();
  ASSERT_EQ(openErrorList(Text(kList), nullptr), 0);
  check("R:\\f", 3 * kMiB);
  EXPECT_EQ(Scan.slowReads, 1);
  EXPECT_EQ(Scan.readErrors, 0);
  EXPECT_EQ(Scan.checkedBytes, 3 * kMiB) << "a slow read is no error and stops nothing";
  EXPECT_EQ(ScanState.load(), 1);
  EXPECT_EQ(composeCountersLine(), "checked 3MB, 100 % of 3MB, reading errors: 0, slow reads: 1");
  EXPECT_NE(listed().find(",slow read,R:\\f,1048576,1048576,1048576,0,took 300 ms\r\n"), std::string::npos)
      << listed();
  ScanResult r = scanResult();
  EXPECT_TRUE(r.slowReadsCounted);
  EXPECT_EQ(r.slowReads, 1);
  EXPECT_EQ(r.readMicrosMax, 300000);
  EXPECT_EQ(r.readMicrosP50, 0);
  std::string end(composeScanEndMessage(r).view());
  EXPECT_NE(end.find("reading errors 0, slow reads 1, "), std::string::npos) << end;
}

// Slow reads are timed in the sampling mode too, and a read just at the
// limit is not slow; without a limit nothing is timed or shown.
TEST_F(WholeFiles, SlowReadsWhenSamplingAndWithoutALimit) {
  FakeFile& f = FakeFiles["R:\\f"];
  f.size = 1000;
  f.stallAt = 0;
  f.stallHundredths = 10;
  s.readWholeFiles = false;
  s.bytesToReadAtOnce = 1000;
  s.selectNextFile = 100;
  s.showReadErrors = true;
  for (int32_t limit : {99, 100, 0}) {
    SCOPED_TRACE(limit);
    resetScan();
    FakeReads.clear();
    s.slowReadLimit = limit;
    prepare();
    check("R:\\f", 1000);
    ASSERT_EQ(FakeReads.size(), 1u);
    EXPECT_EQ(Scan.slowReads, limit == 99 ? 1 : 0);
    ScanResult r = scanResult();
    EXPECT_EQ(r.slowReadsCounted, limit > 0);
    EXPECT_EQ(r.readMicrosMax, limit > 0 ? 100000 : -1);
    std::string counters(composeCountersLine().view());
    EXPECT_EQ(counters.find("slow reads") != std::string::npos, limit > 0) << counters;
    std::string end(composeScanEndMessage(r).view());
    EXPECT_EQ(end.find("slow reads") != std::string::npos, limit > 0) << end;
  }
  // A front end that keeps the times gets them without a limit.
  resetScan();
  keepReadTimes(true);
  prepare();
  check("R:\\f", 1000);
  EXPECT_EQ(scanResult().readMicrosMax, 100000);
  EXPECT_FALSE(scanResult().slowReadsCounted);
}

// The figures of the histogram against the exact ones of the same times.
TEST(ReadTimeFigures, AreNeverBelowTheTrueOnesAndAtMostAnEighthAbove) {
  EXPECT_EQ(readTimeQuantile(ReadTimes(), 500), -1);
  uint64_t state = 12345;
  for (int round = 0; round < 20; ++round) {
    ReadTimes times;
    std::vector<int64_t> exact;
    int count = 1 + round * 97;
    for (int i = 0; i < count; ++i) {
      state = state * 6364136223846793005ull + 1442695040888963407ull;
      // Spread over six decades: 1 us to about 10 s.
      int64_t micros = static_cast<int64_t>((state >> 33) % 10000000) >> (state >> 59);
      exact.push_back(micros);
      addReadTime(&times, micros);
    }
    std::sort(exact.begin(), exact.end());
    for (int permille : {500, 990, 1000}) {
      std::size_t rank = (static_cast<std::size_t>(count) * permille + 999) / 1000;
      int64_t truth = exact[std::max<std::size_t>(rank, 1) - 1];
      int64_t figure = readTimeQuantile(times, permille);
      EXPECT_GE(figure, truth) << permille;
      EXPECT_LE(figure, truth + truth / 8) << permille;
    }
    EXPECT_EQ(readTimeQuantile(times, 1000), exact.back());
  }
  ReadTimes extreme;
  addReadTime(&extreme, INT64_MAX);
  addReadTime(&extreme, -5);
  EXPECT_EQ(readTimeQuantile(extreme, 500), 0);
  EXPECT_EQ(readTimeQuantile(extreme, 1000), (int64_t{1} << 48) - 1);
}

}  // namespace
