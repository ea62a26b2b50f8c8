// Once a scan has warmed up, its passes allocate nothing: not the walk, not
// the read check, not the texts, not the system layer around the listings
// and files. Every allocation through operator new in this program is
// counted while the passes run.
#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <new>

#include "platform/memory.h"
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

void steadyPassesAllocateNothing(bool readPastCache) {
  fs::path dir = fs::temp_directory_path() /
                 ("readsweeper-steady-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "-" +
                  ::testing::UnitTest::GetInstance()->current_test_info()->name());
  fs::remove_all(dir);
  for (const char* folder : {"a/b", "c"}) fs::create_directories(dir / folder);
  int serial = 0;
  for (const char* folder : {"", "a", "a/b", "c"}) {
    for (int size : {1, 700, 5000, 70000}) {
      std::ofstream(dir / folder / ("f" + std::to_string(++serial) + ".bin"), std::ios::binary)
          << std::string(static_cast<std::size_t>(size), 'x');
    }
  }
  std::string root = dir.string();
  for (char& c : root) {
    if (c == '/') c = kPathSeparator;
  }
  root += kPathSeparator;

  // Every text shown for every file, and the speed measured.
  Settings s;
  s.showCheckedBytes = s.showReadErrors = s.showOpenErrors = true;
  s.showFileName = s.showFileSize = s.showReadByte = true;
  s.measureReadingSpeed = s.showCheckedBytesInPercents = true;
  s.stopAfterChecked = 2000000000;
  s.windowRefresh = 100;
  s.selectSubfolder = 50;
  s.bytesToReadAtOnce = 4096;
  s.defaultInitPath = Text(root);
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

}  // namespace
