// Once a scan has warmed up, its passes allocate nothing: not the walk, not
// the read check, not the texts, not the system layer around the listings
// and files. Every allocation through operator new in this program is
// counted while the passes run.
#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <new>

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

// A small tree under the temporary folder, removed at the end; `root` is
// its path as the program writes paths, ending in the separator.
struct SteadyTree {
  fs::path dir;
  std::string root;
  explicit SteadyTree(const char* tag) {
    dir = fs::temp_directory_path() /
          ("readsweeper-steady-" + std::string(tag) + "-" +
           std::to_string(::testing::UnitTest::GetInstance()->random_seed()));
    fs::remove_all(dir);
    for (const char* folder : {"a/b", "c"}) fs::create_directories(dir / folder);
    int serial = 0;
    for (const char* folder : {"", "a", "a/b", "c"}) {
      for (int size : {1, 700, 5000, 70000}) {
        std::ofstream(dir / folder / ("f" + std::to_string(++serial) + ".bin"), std::ios::binary)
            << std::string(static_cast<std::size_t>(size), 'x');
      }
    }
    root = dir.string();
    for (char& c : root) {
      if (c == '/') c = kPathSeparator;
    }
    root += kPathSeparator;
  }
  ~SteadyTree() {
    std::error_code ignored;
    fs::remove_all(dir, ignored);
  }
};

// Every text shown for every file, and the speed measured.
Settings everyTextShown(const SteadyTree& tree) {
  Settings s;
  s.showCheckedBytes = s.showReadErrors = s.showOpenErrors = true;
  s.showFileName = s.showFileSize = s.showReadByte = true;
  s.measureReadingSpeed = s.showCheckedBytesInPercents = true;
  s.stopAfterChecked = 2000000000;
  s.windowRefresh = 100;
  s.selectSubfolder = 50;
  s.bytesToReadAtOnce = 4096;
  s.defaultInitPath = Text(tree.root);
  return s;
}

TEST(SteadyPasses, AllocateNothing) {
  SteadyTree tree("walk");
  Settings s = everyTextShown(tree);
  std::vector<char> buffer(4096);
  prepareScan(s, buffer.data(), 4096, 11);
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
}

// With "check every file" the first listing allocates the index's blocks
// and their tables (six allocations for a small tree, the listing record
// of the POSIX layer among them); after it, checking allocates nothing, and
// neither does listing the same tree again, which refills the blocks.
TEST(SteadyPasses, EveryFileAllocatesOnlyAsItsIndexGrows) {
  SteadyTree tree("every");
  Settings s = everyTextShown(tree);
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
}

}  // namespace
