// Once a scan has warmed up, its passes allocate nothing: not the walk, not
// the read check, not the texts, not the error list, not the system layer
// around the listings and files. Every allocation through operator new in
// this program is counted while the passes run, for roots given in every
// way a user can give them, and in every mode.
#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <new>
#include <string>
#include <thread>

#include "common/test_support.h"
#include "platform/memory.h"
#include "platform/window.h"
#include "scan/cycle_state.h"
#include "scan/error_list.h"
#include "scan/test_support.h"

namespace {

std::atomic<bool> counting{false};
std::atomic<long> allocations{0};

// What the window's path edit holds; the rest of the window does nothing.
std::string PathText;

}  // namespace

void* operator new(std::size_t size) {
  if (counting.load()) ++allocations;
  void* p = std::malloc(size != 0 ? size : 1);
  if (p == nullptr) std::abort();
  return p;
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }

Text readControlText(Control control) { return control == Control::PathEdit ? Text(PathText) : Text(); }
void setControlText(Control, const Text&) {}
void enableControl(Control, bool) {}
void showMainWindowNormal() {}

namespace {

namespace fs = std::filesystem;

// A path as the program writes paths: the system's separator throughout,
// ending in one.
std::string programPath(const fs::path& path) {
  std::string text = path.string();
  for (char& c : text) {
    if (c == '/') c = kPathSeparator;
  }
  if (text.back() != kPathSeparator) text += kPathSeparator;
  return text;
}

// A few folders of files of the given sizes under `root`; returns its path
// as the program writes paths.
std::string makeTree(const fs::path& root, std::initializer_list<int> sizes = {1, 700, 5000, 70000}) {
  for (const char* folder : {"a/b", "c"}) fs::create_directories(root / folder);
  int serial = 0;
  for (const char* folder : {"", "a", "a/b", "c"}) {
    for (int size : sizes) {
      std::ofstream(root / folder / ("f" + std::to_string(++serial) + ".bin"), std::ios::binary)
          << std::string(static_cast<std::size_t>(size), 'x');
    }
  }
  return programPath(root);
}

// A fresh folder of this test under the temporary folder.
fs::path testDir(const char* name) {
  fs::path dir = fs::temp_directory_path() /
                 (name + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "-" +
                  ::testing::UnitTest::GetInstance()->current_test_info()->name());
  fs::remove_all(dir);
  return dir;
}

// Every text shown for every file, and the speed measured.
Settings everyTextShown(const std::string& defaultPath) {
  Settings s;
  s.showCheckedBytes = s.showReadErrors = s.showOpenErrors = true;
  s.showFileName = s.showFileSize = s.showReadByte = true;
  s.measureReadingSpeed = s.showCheckedBytesInPercents = true;
  s.stopAfterChecked = 2000000000;
  s.windowRefresh = 100;
  s.selectSubfolder = 50;
  s.bytesToReadAtOnce = 4096;
  s.defaultInitPath = Text(defaultPath);
  return s;
}

// The buffer a scan with these settings needs, as the front ends make it.
struct ScanBuffer {
  ScanBufferNeed need;
  std::vector<char> plain;
  char* aligned = nullptr;
  explicit ScanBuffer(const Settings& s) : need(scanBufferNeed(s)) {
    if (need.aligned) {
      aligned = allocateAlignedMemory(need.size);
    } else {
      plain.resize(static_cast<std::size_t>(need.size));
    }
  }
  ~ScanBuffer() { releaseAlignedMemory(aligned); }
  char* data() { return need.aligned ? aligned : plain.data(); }
};

void steadyPassesAllocateNothing(bool readPastCache, bool wholeFiles = false) {
  fs::path dir = testDir("readsweeper-steady-");
  makeTree(dir / "tree");
  // Deeper than the classic path limit of 260 characters: its paths take
  // the long form on Windows. The typed path holds at most 255 bytes, so
  // every level has a file, whichever level the typed root comes to.
  fs::path deep = dir / "deep";
  for (int level = 0; level < 5; ++level) {
    deep /= std::string(59, static_cast<char>('a' + level));
    fs::create_directories(deep);
    std::ofstream(deep / "level.bin", std::ios::binary) << std::string(5000, 'x');
  }
  makeTree(deep);
  std::error_code ec;
  fs::path previous = fs::current_path(ec);
  fs::current_path(dir);

  const std::string relative = std::string("tree") + kPathSeparator;
  const struct {
    const char* what;
    std::string typed;        // in the path edit
    std::string defaultPath;  // "default init path:"
  } cases[] = {
      {"an absolute default path", "", programPath(dir / "tree")},
      {"a relative path typed", relative, ""},
      {"no folder typed and a relative default path", "", relative},
      {"an absolute path typed, deeper than 260 characters", programPath(deep), ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Settings s = everyTextShown(c.defaultPath);
    s.readPastCache = readPastCache;
    // Whole files with every read timed: the slow-read limit and the
    // figures of the JSON result.
    s.readWholeFiles = wholeFiles;
    s.slowReadLimit = wholeFiles ? 1 : 0;
    // Blocks of 64 KiB: the largest files take two, with the progress
    // between them.
    if (wholeFiles) s.bytesToReadAtOnce = 65536;
    keepReadTimes(wholeFiles);
    PathText = c.typed;
    ScanBuffer buffer(s);
    ASSERT_NE(buffer.data(), nullptr);
    prepareScan(s, buffer.data(), buffer.need.size, 11);
    ScanState.store(1);
    setupScan();
    for (int pass = 0; pass < 200; ++pass) runPass();
    int64_t checkedBefore = Scan.checkedBytes;

    allocations.store(0);
    counting.store(true);
    for (int pass = 0; pass < 2000; ++pass) runPass();
    counting.store(false);

    EXPECT_EQ(allocations.load(), 0);
    EXPECT_GT(Scan.checkedBytes, checkedBefore) << "the passes checked nothing";
    EXPECT_EQ(Scan.openErrors + Scan.readErrors, 0);
    requestScanStop();
    finishScan();
  }
  fs::current_path(previous, ec);
  fs::remove_all(dir, ec);
}

TEST(SteadyPasses, AllocateNothing) { steadyPassesAllocateNothing(false); }

TEST(SteadyPasses, AllocateNothingReadingPastTheCache) { steadyPassesAllocateNothing(true); }

// Each in a folder of its own: under Wine a deep folder is not always
// removed, and the next test's set-up would meet it.
TEST(SteadyPasses, AllocateNothingReadingWholeFiles) {
  steadyPassesAllocateNothing(false, true);
  keepReadTimes(false);
}

TEST(SteadyPasses, AllocateNothingReadingWholeFilesPastTheCache) {
  steadyPassesAllocateNothing(true, true);
  keepReadTimes(false);
}

// A file that fails the same way over and over, with an error list open:
// once its keys are known, its events are counted and nothing is written
// or allocated.
TEST(SteadyPasses, RepeatedFailuresAllocateNothing) {
  fs::path dir = testDir("readsweeper-steady-failing-");
  fs::path listDir = testDir("readsweeper-steady-list-");
  // Every file is smaller than the block: each read comes back short, and
  // a position before the start of the file also fails to position.
  std::string root = makeTree(dir, {1, 700});
  fs::create_directories(listDir);
  std::string list = (listDir / "errors.csv").string();

  Settings s;
  s.scanAllFiles = s.skipSmallFiles = true;
  s.showCheckedBytes = s.showReadErrors = s.showOpenErrors = s.showFileName = true;
  s.windowRefresh = 100;
  s.selectSubfolder = 50;
  s.bytesToReadAtOnce = 4096;
  s.defaultInitPath = Text(root);
  PathText.clear();
  std::vector<char> buffer(4096);
  prepareScan(s, buffer.data(), 4096, 12);
  ASSERT_EQ(openErrorList(Text(list), nullptr), 0);
  ScanState.store(1);
  setupScan();
  // The header, the scan start, and "seek failed" and "short read" for
  // each of the eight files.
  auto lines = [&] {
    std::string all = readTestFile(list);
    return std::count(all.begin(), all.end(), '\n');
  };
  for (int pass = 0; pass < 100000 && lines() < 2 + 8 * 2; ++pass) runPass();
  ASSERT_EQ(lines(), 2 + 8 * 2);
  int64_t repeatedBefore = repeatedEvents();

  allocations.store(0);
  counting.store(true);
  for (int pass = 0; pass < 3000; ++pass) runPass();
  counting.store(false);

  EXPECT_EQ(allocations.load(), 0);
  EXPECT_EQ(lines(), 2 + 8 * 2);
  EXPECT_GT(repeatedEvents(), repeatedBefore + 100);
  requestScanStop();
  endScan();
  finishScan();
  EXPECT_EQ(lines(), 2 + 8 * 2 + 1);  // the scan end
  std::error_code ignored;
  fs::remove_all(dir, ignored);
  fs::remove_all(listDir, ignored);
}

// With "check every file" the first listing allocates the index's blocks
// and their tables (six allocations for a small tree, the listing record
// of the POSIX layer among them); after it, checking allocates nothing, and
// neither does listing the same tree again, which refills the blocks.
TEST(SteadyPasses, EveryFileAllocatesOnlyAsItsIndexGrows) {
  fs::path dir = testDir("readsweeper-steady-every-");
  Settings s = everyTextShown(makeTree(dir));
  s.checkEveryFile = true;
  PathText.clear();
  std::vector<char> buffer(4096);
  prepareScan(s, buffer.data(), 4096, 12);
  ScanState.store(1);
  setupScan();
  allocations.store(0);
  counting.store(true);
  runPass();  // the first listing and the first check
  counting.store(false);
  EXPECT_GT(allocations.load(), 0);
  EXPECT_LE(allocations.load(), 8);
  while (Scan.cyclesCompleted < 1) runPass();

  allocations.store(0);
  counting.store(true);
  while (Scan.cyclesCompleted < 20) runPass();
  counting.store(false);

  EXPECT_EQ(allocations.load(), 0);
  EXPECT_EQ(Scan.indexedFiles, 16);
  EXPECT_EQ(Scan.filesChecked, 20 * 16);
  EXPECT_EQ(Scan.openErrors + Scan.readErrors, 0);
  requestScanStop();
  finishScan();
  std::error_code ignored;
  fs::remove_all(dir, ignored);
}

// Four readers on their threads: once the first cycles have grown the
// index's blocks and the readers' strings, cycles allocate nothing on any
// thread, whichever reader lists them.
TEST(SteadyPasses, SeveralReadersAllocateNothing) {
  fs::path dir = testDir("readsweeper-steady-readers-");
  Settings s = everyTextShown(makeTree(dir));
  s.checkEveryFile = true;
  s.parallelReads = 4;
  s.stopAfterChecked = 0;
  s.selectNextFile = 100;
  PathText.clear();
  ScanBuffer buffer(s);
  prepareScan(s, buffer.data(), buffer.need.size, 13);
  ScanState.store(1);
  Scan.cyclesCompleted = 0;  // what the scan before left, before the worker clears it
  std::thread worker(runScan);
  auto waitForCycles = [](int64_t cycles) {
    while (Scan.cyclesCompleted < cycles && ScanState.load() > 0) std::this_thread::yield();
  };
  waitForCycles(3);
  allocations.store(0);
  counting.store(true);
  int64_t from = Scan.cyclesCompleted;
  waitForCycles(from + 30);
  counting.store(false);
  requestScanStop();
  worker.join();

  EXPECT_EQ(allocations.load(), 0);
  EXPECT_GE(Scan.cyclesCompleted, from + 30);
  EXPECT_EQ(Scan.indexedFiles, 16);
  EXPECT_EQ(Scan.openErrors + Scan.readErrors, 0);
  std::error_code ignored;
  fs::remove_all(dir, ignored);
}

// With a cycle state the order is a sort of the index in place, and each
// write of the state is composed into room reserved when the file was
// opened: after the first listing neither allocates.
TEST(SteadyPasses, AKeptCycleAndItsWritesAllocateNothing) {
  fs::path dir = testDir("readsweeper-steady-state-");
  Settings s = everyTextShown(makeTree(dir / "tree"));
  s.checkEveryFile = true;
  s.cycleState = Text((dir / "cycle.state").string());
  PathText.clear();
  ASSERT_EQ(openCycleState(s.cycleState, scanRootFolder(Text(), s).view(), nullptr), 0);
  std::vector<char> buffer(4096);
  prepareScan(s, buffer.data(), 4096, 13);
  ScanState.store(1);
  setupScan();
  while (Scan.cyclesCompleted < 1) runPass();
  saveCycleState();

  allocations.store(0);
  counting.store(true);
  int writes = 0;
  while (Scan.cyclesCompleted < 20) {
    runPass();
    if (Scan.nextFile % 4 == 0) {
      saveCycleState();
      ++writes;
    }
  }
  counting.store(false);

  EXPECT_EQ(allocations.load(), 0);
  EXPECT_GE(writes, 19 * 4);
  EXPECT_EQ(Scan.cycle, 20);
  EXPECT_TRUE(cycleStateFailure().empty()) << cycleStateFailure().c_str();
  std::ifstream state(dir / "cycle.state", std::ios::binary);
  std::string text((std::istreambuf_iterator<char>(state)), std::istreambuf_iterator<char>());
  EXPECT_NE(text.find("cycle: 20"), std::string::npos) << text;
  requestScanStop();
  finishScan();
  openCycleState(Text(), "", nullptr);
  std::error_code ignored;
  fs::remove_all(dir, ignored);
}

}  // namespace
