// Once a scan has warmed up, its passes allocate nothing: not the walk, not
// the read check, not the texts, not the system layer around the listings
// and files. Every allocation through operator new in this program is
// counted while the passes run.
#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <new>

#include "common/test_support.h"
#include "platform/memory.h"
#include "scan/error_list.h"
#include "scan/test_support.h"

namespace {

std::atomic<bool> counting{false};
std::atomic<long> allocations{0};

}  // namespace

void* operator new(std::size_t size) {
  if (counting.load()) ++allocations;
  void* p = std::malloc(size != 0 ? size : 1);
  if (p == nullptr) std::abort();
  return p;
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }

namespace {

namespace fs = std::filesystem;

// A fresh tree of files of the given sizes in four folders; returns its
// path as the scan writes paths.
std::string makeTree(const fs::path& dir, std::initializer_list<int> sizes) {
  fs::remove_all(dir);
  for (const char* folder : {"a/b", "c"}) fs::create_directories(dir / folder);
  int serial = 0;
  for (const char* folder : {"", "a", "a/b", "c"}) {
    for (int size : sizes) {
      std::ofstream(dir / folder / ("f" + std::to_string(++serial) + ".bin"), std::ios::binary)
          << std::string(static_cast<std::size_t>(size), 'x');
    }
  }
  std::string root = dir.string();
  for (char& c : root) {
    if (c == '/') c = kPathSeparator;
  }
  return root + kPathSeparator;
}

fs::path testDir(const char* name) {
  return fs::temp_directory_path() / (name + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
                                      "-" + ::testing::UnitTest::GetInstance()->current_test_info()->name());
}

// Every text shown for every file, and the speed measured.
Settings everyTextShown(const std::string& root) {
  Settings s;
  s.showCheckedBytes = s.showReadErrors = s.showOpenErrors = true;
  s.showFileName = s.showFileSize = s.showReadByte = true;
  s.measureReadingSpeed = s.showCheckedBytesInPercents = true;
  s.stopAfterChecked = 2000000000;
  s.windowRefresh = 100;
  s.selectSubfolder = 50;
  s.bytesToReadAtOnce = 4096;
  s.defaultInitPath = Text(root);
  return s;
}

void steadyPassesAllocateNothing(bool readPastCache) {
  fs::path dir = testDir("readsweeper-steady-");
  std::string root = makeTree(dir, {1, 700, 5000, 70000});
  Settings s = everyTextShown(root);
  s.readPastCache = readPastCache;
  ScanBufferNeed need = scanBufferNeed(s);
  std::vector<char> plain;
  char* aligned = nullptr;
  if (need.aligned) {
    aligned = allocateAlignedMemory(need.size);
    ASSERT_NE(aligned, nullptr);
  } else {
    plain.resize(static_cast<std::size_t>(need.size));
  }
  prepareScan(s, need.aligned ? aligned : plain.data(), need.size, 11);
  ScanState.store(1);
  setupScan();
  for (int pass = 0; pass < 200; ++pass) runPass();
  int64_t checkedBefore = Scan.checkedBytes;

  counting.store(true);
  for (int pass = 0; pass < 3000; ++pass) runPass();
  counting.store(false);

  EXPECT_EQ(allocations.load(), 0);
  EXPECT_GT(Scan.checkedBytes, checkedBefore) << "the passes checked nothing";
  EXPECT_EQ(Scan.openErrors + Scan.readErrors, 0);
  requestScanStop();
  finishScan();
  releaseAlignedMemory(aligned);
  std::error_code ignored;
  fs::remove_all(dir, ignored);
}

TEST(SteadyPasses, AllocateNothing) { steadyPassesAllocateNothing(false); }

TEST(SteadyPasses, AllocateNothingReadingPastTheCache) { steadyPassesAllocateNothing(true); }

// With "check every file" the first listing allocates the index's blocks
// and their tables (six allocations for a small tree, the listing record
// of the POSIX layer among them); after it, checking allocates nothing, and
// neither does listing the same tree again, which refills the blocks.
TEST(SteadyPasses, EveryFileAllocatesOnlyAsItsIndexGrows) {
  fs::path dir = testDir("readsweeper-steady-");
  Settings s = everyTextShown(makeTree(dir, {1, 700, 5000, 70000}));
  s.checkEveryFile = true;
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

// A file that fails the same way over and over, with an error list open:
// once its keys are known, its events are counted and nothing is written
// or allocated.
TEST(SteadyPasses, RepeatedFailuresAllocateNothing) {
  fs::path dir = testDir("readsweeper-steady-failing-");
  fs::path listDir = testDir("readsweeper-steady-list-");
  // Every file is smaller than the block: each read comes back short, and
  // a position before the start of the file also fails to position.
  std::string root = makeTree(dir, {1, 700});
  fs::remove_all(listDir);
  fs::create_directories(listDir);
  std::string list = (listDir / "errors.csv").string();

  Settings s;
  s.scanAllFiles = s.skipSmallFiles = true;
  s.showCheckedBytes = s.showReadErrors = s.showOpenErrors = s.showFileName = true;
  s.windowRefresh = 100;
  s.selectSubfolder = 50;
  s.bytesToReadAtOnce = 4096;
  s.defaultInitPath = Text(root);
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

}  // namespace
