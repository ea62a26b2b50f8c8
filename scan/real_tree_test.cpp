// The engine on a real temporary tree, through the system's own listing
// and file layer (POSIX natively, Win32 under Wine).
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <set>

#include "platform/fake/fake.h"
#include "platform/listing.h"
#include "platform/memory.h"
#include "scan/sparse_file.h"
#include "scan/test_support.h"

namespace fs = std::filesystem;

namespace {

// A fresh folder under the system's temporary folder, removed at the end.
// `root` is its path as the program writes paths: backslashes throughout,
// ending in one.
struct TempTree {
  fs::path dir;
  std::string root;

  TempTree() {
    dir = fs::temp_directory_path() / ("readsweeper-scan-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
                                       "-" + ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir);
    fs::create_directories(dir);
    root = dir.string();
    std::replace(root.begin(), root.end(), '/', kPathSeparator);
    root += kPathSeparator;
  }
  ~TempTree() {
    std::error_code ignored;
    fs::remove_all(dir, ignored);
  }
  void file(const std::string& relative, std::size_t size) {
    fs::create_directories((dir / relative).parent_path());
    std::ofstream out(dir / relative, std::ios::binary);
    out << std::string(size, 'x');
  }
  void folder(const std::string& relative) { fs::create_directories(dir / relative); }
  std::string path(const std::string& relative) const {
    std::string p = root + relative;
    std::replace(p.begin(), p.end(), '/', kPathSeparator);
    return p;
  }
};

struct Listed {
  std::string name;
  int64_t size;
  uint32_t attributes;
  bool operator<(const Listed& o) const { return name < o.name; }
  bool operator==(const Listed& o) const {
    return name == o.name && size == o.size && attributes == o.attributes;
  }
};

std::vector<Listed> listAll(const std::string& pattern, int* error) {
  std::vector<Listed> all;
  ListHandle listing = kNoListing;
  ListEntry entry;
  *error = listFirst(pattern.c_str(), &listing, &entry);
  if (*error != 0) return all;
  do {
    all.push_back({entry.name, entry.size, entry.attributes});
  } while (listNext(listing, &entry) == 0);
  listClose(listing);
  return all;
}

TEST(RealListing, DotsFirstThenEveryEntryWithItsSizeAndKind) {
  TempTree tree;
  tree.file("a.bin", 1000);
  tree.file("empty.bin", 0);
  tree.file(".hidden-free-name", 3);
  tree.folder("sub");
  int error = -1;
  std::vector<Listed> all = listAll(tree.root + "*.*", &error);
  ASSERT_EQ(error, 0);
  ASSERT_GE(all.size(), 2u);
  EXPECT_EQ(all[0], (Listed{".", 0, 0x10}));
  EXPECT_EQ(all[1], (Listed{"..", 0, 0x10}));
  std::vector<Listed> rest(all.begin() + 2, all.end());
  std::sort(rest.begin(), rest.end());
  // A leading dot makes a name hidden on Windows (0x22); everything else is
  // a plain file or folder.
  uint32_t dotted = rest[0].attributes;
  EXPECT_TRUE(dotted == 0x20 || dotted == 0x22) << dotted;
  const std::vector<Listed> expected = {
      {".hidden-free-name", 3, dotted}, {"a.bin", 1000, 0x20}, {"empty.bin", 0, 0x20}, {"sub", 0, 0x10}};
  EXPECT_EQ(rest, expected);
}

TEST(RealListing, PrefixAndMissingFolder) {
  TempTree tree;
  tree.file("abc.txt", 1);
  tree.file("abd.txt", 1);
  tree.file("xyz.txt", 1);
  int error = -1;
  std::vector<Listed> some = listAll(tree.root + "ab*.*", &error);
  ASSERT_EQ(error, 0);
  std::sort(some.begin(), some.end());
  ASSERT_EQ(some.size(), 2u);
  EXPECT_EQ(some[0].name, "abc.txt");
  EXPECT_EQ(some[1].name, "abd.txt");
  listAll(tree.root + "missing" + kPathSeparator + "*.*", &error);
  EXPECT_NE(error, 0);
}

struct RealScan : ScanFixture {
  void SetUp() override {
    resetFakeWindow();
    resetScan();
  }
};

TEST_F(RealScan, WholeScanRunsToItsCheckedLimit) {
  TempTree tree;
  tree.file("a.bin", 1000);
  tree.file("sub/b.bin", 5000);
  tree.file("sub/deeper/c.bin", 300);
  tree.file("empty.bin", 0);
  tree.folder("sub2");
  FakePathText = tree.root + "*.txt";
  s.bytesToReadAtOnce = 100;
  s.skipFile = 30;
  s.selectSubfolder = 60;
  s.stopAfterChecked = 20000;
  s.windowRefresh = 100;
  s.showCheckedBytes = true;
  s.showFullFileSize = true;
  s.showOpenErrors = true;
  s.showReadErrors = true;
  prepare(2024);
  ASSERT_TRUE(scanEndsByItself());
  EXPECT_EQ(ScanState.load(), 0);
  EXPECT_GE(Scan.checkedBytes, 20000);
  EXPECT_LT(Scan.checkedBytes, 20000 + 100);
  EXPECT_EQ(Scan.openErrors, 0);
  EXPECT_EQ(Scan.readErrors, 0);
  Text last("text CountersLine: checked ");
  last.appendInt(Scan.checkedBytes);
  last.append("B, opening errors: 0, reading errors: 0");
  ASSERT_GE(WindowLog.size(), 4u);
  EXPECT_EQ(WindowLog[WindowLog.size() - 4], last.view());
  EXPECT_EQ(WindowLog.back(), "show normal");
}

// On POSIX systems a backslash is an ordinary character of a name: such a
// file is listed, walked to and read like any other.
TEST_F(RealScan, ABackslashInANameIsPartOfTheName) {
  if (kPathSeparator != '/') GTEST_SKIP() << "a separator on this system";
  TempTree tree;
  tree.file("sub/we\\ird.bin", 100);
  tree.file("sub\\x.bin", 100);  // a file, not a folder
  FakePathText = tree.root;
  s.skipFile = 0;
  s.selectSubfolder = 100;
  s.selectNextFile = 100;
  s.stopAfterChecked = 50;
  s.bytesToReadAtOnce = 10;
  s.scanAllFiles = true;
  prepare(5);
  runScan();
  EXPECT_EQ(Scan.openErrors, 0);
  EXPECT_EQ(Scan.readErrors, 0);
  EXPECT_GE(Scan.checkedBytes, 50);
}

// Past the cache every block is read in the aligned span around it; the
// counts are those of the same scan through the cache.
TEST_F(RealScan, ReadingPastTheCacheCountsAsThroughIt) {
  TempTree tree;
  int serial = 0;
  for (const char* folder : {"", "sub/", "sub/deeper/"}) {
    for (std::size_t size : {1, 4095, 4096, 4097, 10000, 70000, 200000}) {
      tree.file(folder + std::to_string(++serial) + ".bin", size);
    }
  }
  tree.file("empty.bin", 0);
  for (int32_t block : {1, 5000, 65536}) {
    SCOPED_TRACE(block);
    ScanResult results[2];
    for (bool pastCache : {false, true}) {
      resetFakeWindow();
      resetScan();
      FakePathText = tree.root;
      s.readPastCache = pastCache;
      s.bytesToReadAtOnce = block;
      s.skipFile = 30;
      s.selectSubfolder = 60;
      s.selectNextFile = 30;
      s.repeatRead = 2;
      s.stopAfterChecked = 300 * int64_t{block};
      ScanBufferNeed need = scanBufferNeed(s);
      char* memory = allocateAlignedMemory(need.size);
      ASSERT_NE(memory, nullptr);
      prepareScan(s, memory, need.size, 31);
      runScan();
      releaseAlignedMemory(memory);
      results[pastCache] = scanResult();
    }
    EXPECT_GE(results[1].checkedBytes, 300 * int64_t{block});
    EXPECT_EQ(results[1].openErrors + results[1].readErrors, 0);
    EXPECT_EQ(results[1].checkedBytes, results[0].checkedBytes);
    EXPECT_EQ(results[1].filesChecked, results[0].filesChecked);
    EXPECT_EQ(results[1].openErrors, results[0].openErrors);
    EXPECT_EQ(results[1].readErrors, results[0].readErrors);
  }
}

TEST_F(RealScan, EntriesThatCannotBeOpenedCount) {
  TempTree tree;
  tree.folder("a-folder");
  tree.file("gone.bin", 10);
  fs::remove(tree.dir / "gone.bin");  // listed, then deleted before its check
  s.selectNextFile = 100;
  prepare(3);
  checkFile(Readers[0], tree.path("gone.bin"), "gone.bin", 10);
  EXPECT_EQ(Scan.openErrors, 1);
  EXPECT_EQ(Scan.readErrors, 3);
  // A folder handed to the check (scan all files, unusual attributes) fails
  // to open like a missing file; with size 0 nothing is read.
  checkFile(Readers[0], tree.path("a-folder"), "a-folder", 0);
  EXPECT_EQ(Scan.openErrors, 2);
  EXPECT_EQ(Scan.readErrors, 3);
  EXPECT_EQ(Scan.checkedBytes, 0);
}

// Through the system's own listing: every file once a cycle, and files and
// folders deleted after the listing passed over, however the system says
// that they are gone.
TEST_F(RealScan, EveryFileOfARealTree) {
  TempTree tree;
  const std::vector<std::string> files = {"a.bin", "b.bin", "sub1/c.bin", "sub1/d.bin", "sub2/e.bin",
                                          "sub2/deeper/f.bin"};
  for (const std::string& f : files) tree.file(f, 100);
  tree.file("empty.bin", 0);
  FakePathText = tree.root;
  s.checkEveryFile = true;
  s.selectNextFile = 100;
  s.stopAfterCycles = 2;
  prepare(31);
  setupScan();
  while (Scan.cyclesCompleted < 1 && ScanState.load() > 0) runPass();
  EXPECT_EQ(Scan.indexedFiles, 6);
  EXPECT_EQ(Scan.coveredFiles, 6);
  EXPECT_EQ(Scan.checkedBytes, 6);

  // The second cycle checks one file; then everything else goes, a folder
  // with each of its files included.
  runPass();
  std::string kept = Readers[0].path;
  for (const std::string& f : files) {
    if (tree.path(f) != kept) fs::remove(tree.dir / f);
  }
  std::error_code notEmpty;
  for (const char* folder : {"sub2/deeper", "sub2", "sub1"}) fs::remove(tree.dir / folder, notEmpty);
  while (ScanState.load() > 0) runPass();
  EXPECT_EQ(scanResult().stoppedBy, StopReason::Cycles);
  EXPECT_EQ(Scan.coveredFiles, 1);
  EXPECT_EQ(Scan.indexedFiles, 6);
  EXPECT_EQ(Scan.filesChecked, 7);
  EXPECT_EQ(Scan.openErrors, 0);
  EXPECT_EQ(Scan.readErrors, 0);
  endScan();
  finishScan();
}

TEST_F(RealScan, SparseFileBeyondFourGigabytes) {
  TempTree tree;
  const int64_t size = (int64_t{5} << 30) + 10;
  std::string big = tree.path("big.bin");
  ASSERT_TRUE(makeSparseFile((tree.dir / "big.bin").string().c_str(), size));
  int error = -1;
  std::vector<Listed> all = listAll(tree.root + "big*.*", &error);
  ASSERT_EQ(error, 0);
  ASSERT_EQ(all.size(), 1u);
  EXPECT_EQ(all[0].size, size);

  s.bytesToReadAtOnce = 4096;
  s.selectNextFile = 100;
  prepare(77);
  int beyond = 0, checks = 0;
  for (; checks < 200 && beyond < 5; ++checks) {
    checkFile(Readers[0], big, "big.bin", size);
    if (Readers[0].readPosition > (int64_t{4} << 30)) ++beyond;
  }
  EXPECT_EQ(beyond, 5);
  EXPECT_EQ(Scan.readErrors, 0);
  EXPECT_EQ(Scan.openErrors, 0);
  EXPECT_EQ(Scan.checkedBytes, int64_t{checks} * 4096);
}

}  // namespace
