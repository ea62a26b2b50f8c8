// "check every file" on the scripted file system: the listing into the
// index, the cycles and their order, what is passed over and what counts.
#include <algorithm>
#include <chrono>
#include <map>
#include <set>
#include <thread>

#include "platform/fake/fake.h"
#include "scan/error_list.h"
#include "scan/test_support.h"

namespace {

using Paths = std::vector<std::string>;

struct EveryFile : ScanFixture {
  void SetUp() override {
    resetFakePlatform();
    resetScan();
    FakePathText = "R:\\";
    s.checkEveryFile = true;
    s.windowRefresh = 100;
    s.selectNextFile = 100;
  }
  void showCounters() { s.showCheckedBytes = s.showOpenErrors = s.showReadErrors = true; }
  // A folder's listing: "." and ".." first, as below a drive root.
  static void folder(const std::string& path, std::vector<ListEntry> entries) {
    entries.insert(entries.begin(), {fakeFolderEntry("."), fakeFolderEntry("..")});
    FakeFolders[path + "*.*"] = {entries};
  }
  // A listed file that opens and reads.
  static ListEntry file(const std::string& folderPath, const char* name, int64_t size, uint32_t attributes = 0x20) {
    FakeFiles[folderPath + name].size = size;
    return fakeEntry(name, size, attributes);
  }
  // Passes until `cycles` cycles are complete (at most `passes`).
  void passUntilCycles(int64_t cycles, int passes = 10000) {
    for (int pass = 0; pass < passes && Scan.cyclesCompleted < cycles && ScanState.load() > 0; ++pass) runPass();
    ASSERT_EQ(Scan.cyclesCompleted, cycles);
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

// A tree whose folders carry every common attribute bit: all are entered.
void attributeTree() {
  EveryFile::folder("R:\\", {EveryFile::file("R:\\", "a", 10), fakeFolderEntry("sub"),
                             fakeFolderEntry("hidden", 0x12), fakeFolderEntry("system", 0x16),
                             fakeFolderEntry("readonly", 0x11), fakeFolderEntry("archived", 0x30),
                             EveryFile::file("R:\\", "b", 20)});
  EveryFile::folder("R:\\sub\\", {EveryFile::file("R:\\sub\\", "c", 5), fakeFolderEntry("deep")});
  EveryFile::folder("R:\\sub\\deep\\", {EveryFile::file("R:\\sub\\deep\\", "d", 7)});
  EveryFile::folder("R:\\hidden\\", {EveryFile::file("R:\\hidden\\", "e", 3, 0x22)});
  EveryFile::folder("R:\\system\\", {EveryFile::file("R:\\system\\", "f", 3, 0x27)});
  EveryFile::folder("R:\\readonly\\", {EveryFile::file("R:\\readonly\\", "g", 3, 0x21)});
  EveryFile::folder("R:\\archived\\", {EveryFile::file("R:\\archived\\", "h", 3)});
}

const Paths kAttributeTreeFiles = {"R:\\a",          "R:\\b",          "R:\\sub\\c",      "R:\\sub\\deep\\d",
                                   "R:\\hidden\\e",  "R:\\system\\f",  "R:\\readonly\\g", "R:\\archived\\h"};

Paths sorted(Paths paths) {
  std::sort(paths.begin(), paths.end());
  return paths;
}

TEST_F(EveryFile, EachIndexedFileOncePerCycle) {
  attributeTree();
  s.stopAfterCycles = 3;
  prepare(5);
  runScanOfAtMost(1000);
  const std::size_t n = kAttributeTreeFiles.size();
  ASSERT_EQ(FakeOpens.size(), 3 * n);
  for (std::size_t cycle = 0; cycle < 3; ++cycle) {
    SCOPED_TRACE(cycle);
    Paths opened(FakeOpens.begin() + static_cast<long>(cycle * n), FakeOpens.begin() + static_cast<long>((cycle + 1) * n));
    EXPECT_EQ(sorted(opened), sorted(kAttributeTreeFiles));
  }
  // Each cycle draws its own order.
  EXPECT_NE(Paths(FakeOpens.begin(), FakeOpens.begin() + n), Paths(FakeOpens.begin() + n, FakeOpens.begin() + 2 * n));
  ScanResult r = scanResult();
  EXPECT_EQ(r.stoppedBy, StopReason::Cycles);
  EXPECT_EQ(r.cyclesCompleted, 3);
  EXPECT_EQ(r.coveredFiles, static_cast<int64_t>(n));
  EXPECT_EQ(r.indexedFiles, static_cast<int64_t>(n));
  EXPECT_EQ(r.filesChecked, static_cast<int64_t>(3 * n));
  EXPECT_EQ(r.openErrors + r.readErrors, 0);
  EXPECT_EQ(Scan.checkedBytes, static_cast<int64_t>(3 * n));  // one 1-byte block per file
  EXPECT_EQ(FakeOpenListings, 0);
  EXPECT_EQ(FakeOpenFiles, 0);
}

TEST_F(EveryFile, WhatIsEnteredAndWhatIsIndexed) {
  // Folders that must never be listed hold a file that would show it.
  auto trap = [](const char* name) {
    std::string path = std::string("R:\\") + name + "\\";
    folder(path, {file(path, "trapped", 10)});
  };
  for (const char* name : {"link", "junction", "cloud1", "cloud2", "cloud3", ".", ".."}) trap(name);
  // Reparse points on files: a symbolic link, which may lead out of the
  // tree, and a deduplicated and a compressed file, which are the files.
  auto reparse = [](const char* name, uint32_t tag) {
    ListEntry entry = file("R:\\", name, 10, 0x420);
    entry.reparseTag = tag;
    return entry;
  };
  folder("R:\\", {file("R:\\", "plain", 10), file("R:\\", "empty", 0), file("R:\\", "small", 4),
                  file("R:\\", "block", 8), file("R:\\", "large", 9), reparse("link-to-file", 0xA000000C),
                  reparse("deduplicated", 0x80000013), reparse("compressed", 0x80000017),
                  file("R:\\", "online1", 10, 0x20 | 0x1000), file("R:\\", "online2", 10, 0x20 | 0x40000),
                  file("R:\\", "online3", 10, 0x20 | 0x400000), file("R:\\", "device", 0, 0x40),
                  file("R:\\", "odd-file", 10, 0x1), fakeFolderEntry("link", 0x410),
                  fakeFolderEntry("junction", 0x10 | 0x400 | 0x2), fakeFolderEntry("cloud1", 0x10 | 0x1000),
                  fakeFolderEntry("cloud2", 0x10 | 0x40000), fakeFolderEntry("cloud3", 0x10 | 0x400000)});
  const Paths sized = {"R:\\plain",        "R:\\small",      "R:\\block",   "R:\\large",
                       "R:\\deduplicated", "R:\\compressed", "R:\\odd-file"};
  const struct {
    const char* what;
    bool scanAll, skipSmall;
    Paths indexed;
  } cases[] = {
      {"files above 0 bytes", false, false, sized},
      {"and empty ones when all files are scanned", true, false,
       {"R:\\plain", "R:\\empty", "R:\\small", "R:\\block", "R:\\large", "R:\\deduplicated", "R:\\compressed",
        "R:\\odd-file"}},
      {"only those above one block when small files are skipped", false, true,
       {"R:\\plain", "R:\\large", "R:\\deduplicated", "R:\\compressed", "R:\\odd-file"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    resetScan();
    FakeOpens.clear();
    s.scanAllFiles = c.scanAll;
    s.skipSmallFiles = c.skipSmall;
    s.bytesToReadAtOnce = 8;
    s.stopAfterCycles = 1;
    prepare();
    runScanOfAtMost(100);
    EXPECT_EQ(sorted(FakeOpens), sorted(c.indexed));
    EXPECT_EQ(Scan.openErrors, 0);
  }
}

TEST_F(EveryFile, AVanishedFileIsPassedOver) {
  folder("R:\\", {file("R:\\", "here", 10), fakeEntry("deleted", 10), file("R:\\", "folder-gone", 10),
                  file("R:\\", "locked", 10)});
  FakeFiles.erase("R:\\deleted");             // not found: 2
  FakeFiles["R:\\folder-gone"].openError = 3;  // its folder is not found
  FakeFiles["R:\\locked"].openError = 32;      // there, but held by another program
  s.showFileName = true;
  showCounters();
  s.stopAfterCycles = 1;
  prepare();
  runScanOfAtMost(100);
  EXPECT_EQ(FakeOpens.size(), 4u);
  EXPECT_EQ(Scan.filesChecked, 2);
  EXPECT_EQ(Scan.openErrors, 1);
  EXPECT_EQ(Scan.readErrors, 3);  // the locked file's block
  // A counters line comes after each file checked, none after one passed over.
  std::vector<std::string> counters = logOf("CountersLine");
  ASSERT_EQ(counters.size(), 2u);
  EXPECT_EQ(counters.back(), "checked 1B, covered 2/4, opening errors: 1, reading errors: 3");
}

// A folder replaced (by a link to a folder outside the tree, say) between
// the listing of its parent and its own is passed over: not listed, not
// counted, no line; a folder that is still the one listed is taken in.
TEST_F(EveryFile, AFolderReplacedSinceItsParentWasListedIsPassedOver) {
  auto identified = [](ListEntry entry, uint64_t inode) {
    entry.device = 3;
    entry.inode = inode;
    return entry;
  };
  folder("R:\\", {file("R:\\", "a", 10), identified(fakeFolderEntry("kept"), 20),
                  identified(fakeFolderEntry("swapped"), 30)});
  folder("R:\\kept\\", {file("R:\\kept\\", "k", 10)});
  FakeFolders["R:\\kept\\*.*"].entries[0] = identified(fakeFolderEntry("."), 20);
  folder("R:\\swapped\\", {file("R:\\swapped\\", "outside", 10), fakeFolderEntry("deeper")});
  FakeFolders["R:\\swapped\\*.*"].entries[0] = identified(fakeFolderEntry("."), 99);
  folder("R:\\swapped\\deeper\\", {file("R:\\swapped\\deeper\\", "further", 10)});
  s.stopAfterCycles = 1;
  prepare();
  runScanOfAtMost(100);
  EXPECT_EQ(sorted(FakeOpens), sorted({"R:\\a", "R:\\kept\\k"}));
  EXPECT_EQ(Scan.indexedFiles, 2);
  EXPECT_EQ(Scan.openErrors, 0);
  EXPECT_EQ(FakeOpenListings, 0);
  // A swap after the listing is the platform's to refuse: every open is
  // told where the root ends.
  EXPECT_EQ(FakeListedRootLength.load(), std::string("R:\\").size());
}

TEST_F(EveryFile, FoldersThatCannotBeListed) {
  const struct {
    const char* what;
    void (*script)();
    int64_t openErrors;  // over two cycles
    Paths opened;        // in each cycle
  } cases[] = {
      {"a folder that refuses its listing counts once a cycle",
       [] {
         folder("R:\\", {file("R:\\", "a", 10), fakeFolderEntry("denied")});
         FakeFolders["R:\\denied\\*.*"].openError = 5;
       },
       2, {"R:\\a"}},
      {"a folder gone since its parent's listing is passed over",
       [] { folder("R:\\", {file("R:\\", "a", 10), fakeFolderEntry("gone")}); }, 0, {"R:\\a"}},
      {"a listing that breaks off counts once and keeps what came before",
       [] {
         folder("R:\\", {fakeFolderEntry("sub"), file("R:\\", "a", 10)});
         folder("R:\\sub\\", {file("R:\\sub\\", "x", 10), file("R:\\sub\\", "y", 10), file("R:\\sub\\", "z", 10)});
         FakeFolders["R:\\sub\\*.*"].failNextAt = 4;
       },
       2, {"R:\\a", "R:\\sub\\x", "R:\\sub\\y"}},
      {"a root that refuses its listing counts once a cycle",
       [] {
         folder("R:\\", {file("R:\\", "a", 10)});
         FakeFolders["R:\\*.*"].openError = 5;
       },
       2, {}},
      {"a root that is not there counts nothing", [] {}, 0, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    resetFakePlatform();
    resetScan();
    FakePathText = "R:\\";
    c.script();
    s.stopAfterCycles = 2;
    prepare();
    runScanOfAtMost(100);
    EXPECT_EQ(Scan.openErrors, c.openErrors);
    EXPECT_EQ(Scan.readErrors, 0);
    EXPECT_EQ(Scan.cyclesCompleted, 2);
    Paths twice = c.opened;
    twice.insert(twice.end(), c.opened.begin(), c.opened.end());
    EXPECT_EQ(sorted(FakeOpens), sorted(twice));
    EXPECT_EQ(FakeOpenListings, 0);
  }
}

// With an error list, a folder that cannot be listed has its "list failed"
// line, once for the scan however many cycles meet it; a vanished file has
// none.
TEST_F(EveryFile, TheErrorListNamesFoldersThatCannotBeListed) {
  folder("R:\\", {file("R:\\", "a", 10), fakeFolderEntry("denied"), fakeEntry("vanished", 10)});
  FakeFolders["R:\\denied\\*.*"].openError = 5;
  s.stopAfterCycles = 3;
  prepare();
  ASSERT_EQ(openErrorList(Text("R:\\list.csv"), nullptr), 0);
  runScanOfAtMost(100);
  EXPECT_EQ(Scan.openErrors, 3);
  const std::string& list = FakeDisk["R:\\list.csv"];
  EXPECT_NE(list.find(",list failed,R:\\denied\\,,,,5,"), std::string::npos) << list;
  EXPECT_EQ(std::count(list.begin(), list.end(), '\n'), 4) << list;  // header, start, list failed, end
  EXPECT_EQ(list.find("vanished"), std::string::npos) << list;
  EXPECT_NE(list.find(", 2 repeated events not listed"), std::string::npos) << list;
}

TEST_F(EveryFile, StopAfterCycles) {
  const struct {
    int32_t cycles;
    const char* lastCounters;
  } cases[] = {
      {1, "checked 3B, covered 3/3, opening errors: 0, reading errors: 0"},
      {2, "checked 6B, cycle 2: covered 3/3, opening errors: 0, reading errors: 0"},
      {5, "checked 15B, cycle 5: covered 3/3, opening errors: 0, reading errors: 0"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.cycles);
    resetFakePlatform();
    resetScan();
    FakePathText = "R:\\";
    folder("R:\\", {file("R:\\", "a", 10), fakeFolderEntry("sub"), file("R:\\", "b", 10)});
    folder("R:\\sub\\", {file("R:\\sub\\", "c", 10)});
    showCounters();
    s.windowRefresh = 1;  // the last line comes whatever the draws
    s.stopAfterCycles = c.cycles;
    prepare();
    runScanOfAtMost(1000);
    EXPECT_EQ(scanResult().stoppedBy, StopReason::Cycles);
    EXPECT_EQ(Scan.cyclesCompleted, c.cycles);
    EXPECT_EQ(FakeOpens.size(), 3u * static_cast<std::size_t>(c.cycles));
    std::vector<std::string> counters = logOf("CountersLine");
    ASSERT_FALSE(counters.empty());
    EXPECT_EQ(counters.back(), c.lastCounters);
  }
}

TEST_F(EveryFile, TheSeedGivesTheOrder) {
  std::vector<ListEntry> entries;
  Paths all;
  for (int i = 0; i < 40; ++i) {
    std::string name = "f" + std::to_string(i);
    entries.push_back(file("R:\\", name.c_str(), 10));
    all.push_back("R:\\" + name);
  }
  folder("R:\\", entries);
  s.stopAfterCycles = 1;
  auto orderOf = [&](uint32_t seed) {
    FakeOpens.clear();
    resetScan();
    prepare(seed);
    runScanOfAtMost(100);
    return FakeOpens;
  };
  Paths first = orderOf(7);
  EXPECT_EQ(orderOf(7), first);
  EXPECT_NE(orderOf(8), first);
  EXPECT_NE(first, all) << "the listing's own order";
  EXPECT_EQ(sorted(first), sorted(all));
}

// Every order of a cycle is as likely as any other: over cycles of four
// files, each of the 24 orders comes about equally often. A shuffle that
// never moves the last file left, or that favours some orders, is far past
// the bound; a fair one stays well below it (the chance that it does not is
// about 5 in a million).
TEST_F(EveryFile, EveryOrderIsEquallyLikely) {
  folder("R:\\", {file("R:\\", "a", 10), file("R:\\", "b", 10), file("R:\\", "c", 10), file("R:\\", "d", 10)});
  constexpr int kCyclesPerSeed = 400;
  std::map<std::string, int> orders;  // "bdac": b first, c last
  int cycles = 0;
  for (uint32_t seed : {3u, 17u, 2024u}) {
    resetScan();
    FakeOpens.clear();
    s.stopAfterCycles = kCyclesPerSeed;
    prepare(seed);
    runScanOfAtMost(10 * kCyclesPerSeed);
    ASSERT_EQ(FakeOpens.size(), 4u * kCyclesPerSeed);
    for (std::size_t at = 0; at < FakeOpens.size(); at += 4, ++cycles) {
      std::string order;
      for (std::size_t i = at; i < at + 4; ++i) order += FakeOpens[i].substr(3);
      ++orders[order];
    }
  }
  std::string order = "abcd";
  const double expected = cycles / 24.0;
  double chiSquare = 0;
  int kinds = 0;
  do {
    double off = orders[order] - expected;
    chiSquare += off * off / expected;
    ++kinds;
  } while (std::next_permutation(order.begin(), order.end()));
  EXPECT_EQ(orders.size(), 24u) << "a cycle that is no order of the four files";
  EXPECT_EQ(kinds, 24);
  // 23 degrees of freedom: 66 is the bound of the top 0.0005%.
  EXPECT_LT(chiSquare, 66.0);
}

// The index of an unchanged tree takes the same memory cycle after cycle:
// each listing reuses the blocks of the one before, names included. The
// names of this tree, as long as 230 characters of a CJK script take in
// UTF-8, fill more than one block of the arena.
TEST_F(EveryFile, AnUnchangedTreeKeepsTheIndexSize) {
  std::vector<ListEntry> entries{fakeFolderEntry("sub")};
  std::vector<ListEntry> below;
  for (int i = 0; i < 200; ++i) {
    std::string name = std::to_string(i) + "-" + std::string(690, 'n');
    entries.push_back(file("R:\\", name.c_str(), 10));
    below.push_back(file("R:\\sub\\", name.c_str(), 10));
  }
  folder("R:\\", entries);
  folder("R:\\sub\\", below);
  prepare();
  setupScan();
  passUntilCycles(1);
  const IndexMemory first = Scan.index.memory();
  EXPECT_EQ(first.files, 400);
  ASSERT_GT(first.nameBytes, int64_t{1} << 18);
  for (int cycle = 2; cycle <= 20; ++cycle) {
    FakeOpens.clear();
    passUntilCycles(cycle);
  }
  const IndexMemory last = Scan.index.memory();
  EXPECT_EQ(last.allocatedBytes, first.allocatedBytes);
  EXPECT_EQ(last.nameBytes, first.nameBytes);
  EXPECT_EQ(last.files, first.files);
  EXPECT_EQ(last.folders, first.folders);
  requestScanStop();
  finishScan();
}

TEST_F(EveryFile, NewFilesJoinAndDeletedOnesLeaveAtTheNextCycle) {
  folder("R:\\", {file("R:\\", "a", 10), file("R:\\", "b", 10)});
  prepare();
  setupScan();
  passUntilCycles(1);
  EXPECT_EQ(sorted(FakeOpens), (Paths{"R:\\a", "R:\\b"}));
  folder("R:\\", {file("R:\\", "a", 10), file("R:\\", "c", 10), file("R:\\", "d", 10)});
  FakeOpens.clear();
  passUntilCycles(2);
  EXPECT_EQ(sorted(FakeOpens), (Paths{"R:\\a", "R:\\c", "R:\\d"}));
  EXPECT_EQ(Scan.indexedFiles, 3);
  EXPECT_EQ(Scan.coveredFiles, 3);
  EXPECT_EQ(logOf("FileLine"),
            (Paths{"listing: 0 files", "listing: 2 files", "listing: 0 files", "listing: 3 files"}));
  requestScanStop();
  finishScan();
}

TEST_F(EveryFile, TheFileLineNamesTheWholePath) {
  folder("R:\\", {fakeFolderEntry("sub")});
  folder("R:\\sub\\", {fakeFolderEntry("deep")});
  folder("R:\\sub\\deep\\", {file("R:\\sub\\deep\\", "d.bin", 2000)});
  s.showFileName = true;
  s.showFileSize = true;
  s.stopAfterCycles = 1;
  prepare();
  runScanOfAtMost(100);
  EXPECT_EQ(logOf("FileLine"), (Paths{"listing: 0 files", "listing: 1 files", "\"R:\\sub\\deep\\d.bin\" (2kB)"}));
}

// The listing tells how far it has come every few thousand entries.
TEST_F(EveryFile, ListingProgress) {
  std::vector<ListEntry> entries;
  for (int i = 0; i < 5000; ++i) entries.push_back(file("R:\\", ("f" + std::to_string(i)).c_str(), 10));
  folder("R:\\", entries);
  prepare();
  setupScan();
  runPass();
  // "." and ".." are among the first 4096 entries.
  EXPECT_EQ(logOf("FileLine"), (Paths{"listing: 0 files", "listing: 4094 files", "listing: 5000 files"}));
  EXPECT_EQ(FakeOpens.size(), 1u);
  requestScanStop();
  finishScan();
}

// A long listing cannot outrun the scan's limits: the time limit and the
// error limit end it where they are reached.
TEST_F(EveryFile, LimitsStopTheListing) {
  std::vector<ListEntry> entries;
  for (int i = 0; i < 20000; ++i) entries.push_back(file("R:\\", ("f" + std::to_string(i)).c_str(), 10));
  folder("R:\\", entries);
  FakeClockStep = 60;  // 0.6 s at every look at the clock
  s.stopAfterSeconds = 1;
  prepare();
  runScanOfAtMost(10);
  EXPECT_EQ(scanResult().stoppedBy, StopReason::Time);
  EXPECT_EQ(FakeListedCount.load(), 2 * 4096);  // the second look is past 1 s
  EXPECT_TRUE(FakeOpens.empty());
  EXPECT_EQ(Scan.index.fileCount(), 0u);
  EXPECT_EQ(FakeOpenListings, 0);

  resetFakePlatform();
  resetScan();
  FakePathText = "R:\\";
  folder("R:\\", {fakeFolderEntry("denied"), fakeFolderEntry("later"), file("R:\\", "a", 10)});
  FakeFolders["R:\\denied\\*.*"].openError = 5;
  folder("R:\\later\\", {file("R:\\later\\", "b", 10)});
  s.stopAfterSeconds = 0;
  s.stopAfterErrors = 1;
  prepare();
  runScanOfAtMost(10);
  EXPECT_EQ(scanResult().stoppedBy, StopReason::Errors);
  EXPECT_EQ(Scan.openErrors, 1);
  EXPECT_TRUE(FakeOpens.empty());
  EXPECT_EQ(FakeListedCount.load(), 5);  // the root's entries; "later" never listed
}

// Stop pressed while a large tree is listed ends the scan within one more
// entry: the worker looks at the state after every entry, and may have
// looked just before the stop.
TEST_F(EveryFile, StopDuringTheListingEndsTheScanAtOnce) {
  std::vector<ListEntry> entries;
  for (int i = 0; i < 1000; ++i) entries.push_back(fakeEntry(("f" + std::to_string(i)).c_str(), 10));
  std::vector<ListEntry> root;
  for (int i = 0; i < 300; ++i) {
    std::string name = "d" + std::to_string(i);
    root.push_back(fakeFolderEntry(name.c_str()));
    folder("R:\\" + name + "\\", entries);
  }
  folder("R:\\", root);
  prepare();
  std::thread worker(runScan);
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (FakeListedCount.load() < 2000 && std::chrono::steady_clock::now() < deadline) std::this_thread::yield();
  EXPECT_TRUE(requestScanStop());
  int64_t atStop = FakeListedCount.load();
  worker.join();
  EXPECT_GE(atStop, 2000);
  EXPECT_LE(FakeListedCount.load() - atStop, 1);
  EXPECT_LT(FakeListedCount.load(), 300 * 1002);
  EXPECT_TRUE(FakeOpens.empty());
  EXPECT_EQ(ScanState.load(), 0);
  EXPECT_EQ(scanResult().stoppedBy, StopReason::User);
  EXPECT_EQ(FakeOpenListings, 0);
  // The index is given back with the scan.
  EXPECT_EQ(Scan.index.memory().allocatedBytes, 0);
}

TEST_F(EveryFile, CoveredPieceInTheCountersLine) {
  const struct {
    const char* what;
    bool checked, percent, speed, errors;
    int64_t cycle;
    const char* line;
  } cases[] = {
      {"after the checked bytes", true, false, false, true, 1, "checked 5B, covered 3/9, opening errors: 2"},
      {"after their percentage", true, true, false, false, 1, "checked 5B (50%), covered 3/9"},
      {"before the speed", true, false, true, false, 1, "checked 5B, covered 3/9, 7B/s"},
      {"first without checked bytes", false, false, true, true, 1, "covered 3/9, 7B/s, opening errors: 2"},
      {"with its cycle from the second on", true, false, false, false, 2, "checked 5B, cycle 2: covered 3/9"},
      {"cycle alone", false, false, false, true, 12, "cycle 12: covered 3/9, opening errors: 2"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    resetScan();
    Settings& t = Scan.settings;
    t = Settings{};
    t.checkEveryFile = true;
    t.showCheckedBytes = c.checked;
    t.showCheckedBytesInPercents = c.percent;
    t.stopAfterChecked = 10;
    t.measureReadingSpeed = c.speed;
    t.showOpenErrors = c.errors;
    Scan.checkedBytes = 5;
    Scan.openErrors = 2;
    Scan.currentSpeed = 7;
    Scan.cycle = c.cycle;
    Scan.coveredFiles = 3;
    Scan.indexedFiles = 9;
    EXPECT_EQ(composeCountersLine().view(), c.line);
  }
}

// The coverage has no flag of its own: it is on the counters line whenever
// "check every file" is, even with every counter flag off.
TEST_F(EveryFile, CoverageShownWithoutACounterFlag) {
  folder("R:\\", {file("R:\\", "a", 10), file("R:\\", "b", 10)});
  s.stopAfterCycles = 1;
  prepare();
  runScanOfAtMost(100);
  EXPECT_EQ(logOf("CountersLine"), (std::vector<std::string>{"covered 1/2", "covered 2/2"}));
}

// A tree with nothing to check is listed once a second, not at full speed;
// Stop, the time limit and the cycle limit still end the scan at once.
TEST_F(EveryFile, AnEmptyTreeRestsASecondBetweenListings) {
  const struct {
    const char* what;
    int32_t seconds, cycles;
    int64_t clockStep;        // hundredths the clock moves at each reading
    int64_t stopAfterPaused;  // Stop once the rests took this long; -1 never
    StopReason by;
    int64_t completed, paused;
  } cases[] = {
      {"the time limit", 3, 0, 0, -1, StopReason::Time, 3, 3000},
      {"Stop within a rest", 0, 0, 0, 1500, StopReason::User, 2, 1500},
      {"a cycle limit, without a rest after the last cycle", 0, 2, 0, -1, StopReason::Cycles, 2, 1000},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    resetFakePlatform();
    folder("R:\\", {file("R:\\", "empty", 0), fakeFolderEntry("sub")});
    folder("R:\\sub\\", {});
    FakePathText = "R:\\";
    resetScan();
    s.stopAfterSeconds = c.seconds;
    s.stopAfterCycles = c.cycles;
    int64_t stopAt = c.stopAfterPaused;
    FakePauseHook = [stopAt] {
      if (stopAt >= 0 && FakePausedMilliseconds >= stopAt) requestScanStop();
    };
    prepare();
    runScanOfAtMost(1000);
    EXPECT_EQ(scanResult().stoppedBy, c.by);
    EXPECT_EQ(Scan.cyclesCompleted, c.completed);
    EXPECT_EQ(FakePausedMilliseconds, c.paused);
  }
  // With time passing in the listings too, the limit falls inside a rest,
  // which ends there.
  resetFakePlatform();
  folder("R:\\", {});
  FakePathText = "R:\\";
  resetScan();
  s.stopAfterSeconds = 2;
  s.stopAfterCycles = 0;
  FakeClockStep = 7;
  prepare();
  runScanOfAtMost(1000);
  EXPECT_EQ(scanResult().stoppedBy, StopReason::Time);
  EXPECT_GE(scanResult().elapsedMilliseconds, 2000);
  EXPECT_LT(scanResult().elapsedMilliseconds, 2000 + 20 + 3 * 70);
}

// --- the index itself ---------------------------------------------------------

TEST(FileIndex, PathsAreBuiltFromTheFolderTable) {
  FileIndex index;
  index.clear();
  uint32_t root = index.addFolder(FileIndex::kRoot, "");
  uint32_t a = index.addFolder(root, "alpha");
  uint32_t b = index.addFolder(a, "beta");
  uint32_t c = index.addFolder(root, "\xce\xb3" "amma");  // UTF-8 kept as it is
  ASSERT_EQ(root, FileIndex::kRoot);
  std::string path = "left over";
  index.folderPath(root, '\\', &path);
  EXPECT_EQ(path, "");
  index.folderPath(b, '\\', &path);
  EXPECT_EQ(path, "alpha\\beta\\");
  index.folderPath(c, '/', &path);
  EXPECT_EQ(path, "\xce\xb3" "amma/");
  ASSERT_TRUE(index.addFile(b, "file.bin", int64_t{5} << 32));
  ASSERT_TRUE(index.addFile(root, "top", 1));
  EXPECT_EQ(std::string(index.file(0).name, index.file(0).nameLength), "file.bin");
  EXPECT_EQ(index.file(0).size, int64_t{5} << 32);
  EXPECT_EQ(index.file(0).folder, b);
  index.swapFiles(0, 1);
  EXPECT_EQ(std::string(index.file(0).name, index.file(0).nameLength), "top");
  EXPECT_EQ(index.file(1).folder, b);
}

// Names fill block after block and never straddle two; a million-file tree
// stays within 40 bytes per file beyond its names (the record with its
// keyed hash, and the block tables).
TEST(FileIndex, NamesAndMemory) {
  FileIndex index;
  index.clear();
  uint32_t root = index.addFolder(FileIndex::kRoot, "");
  constexpr int kFiles = 300000;
  auto nameOf = [](int i) { return "name-" + std::to_string(int64_t{i} * 7919) + ".bin"; };
  int64_t nameBytes = 0;
  for (int i = 0; i < kFiles; ++i) {
    std::string name = nameOf(i);
    nameBytes += static_cast<int64_t>(name.size());
    ASSERT_TRUE(index.addFile(root, name, i));
  }
  for (int i = 0; i < kFiles; ++i) {
    const IndexedFile& f = index.file(static_cast<std::size_t>(i));
    ASSERT_EQ(std::string_view(f.name, f.nameLength), nameOf(i)) << i;
    ASSERT_EQ(f.size, i);
  }
  IndexMemory m = index.memory();
  EXPECT_EQ(m.files, kFiles);
  EXPECT_EQ(m.folders, 1);
  EXPECT_EQ(m.nameBytes, nameBytes);
  EXPECT_LE(static_cast<double>(m.allocatedBytes - m.nameBytes) / kFiles, 40.0);
  // A cleared index keeps its blocks for the next listing; a released one
  // holds nothing.
  index.clear();
  EXPECT_EQ(index.memory().allocatedBytes, m.allocatedBytes);
  EXPECT_EQ(index.fileCount(), 0u);
  index.release();
  EXPECT_EQ(index.memory().allocatedBytes, 0);
}

// The keyed order: a sort in place across the record blocks that keeps
// each file's record whole.
TEST(FileIndex, SortsByHashAcrossBlocks) {
  FileIndex index;
  index.clear();
  uint32_t root = index.addFolder(FileIndex::kRoot, "");
  // A hash that scatters the files over the whole range, with some repeated.
  auto hashOf = [](int64_t i) { return static_cast<uint64_t>(i % 75000) * 0x9E3779B97F4A7C15ull; };
  // Over many blocks of records.
  constexpr int kFiles = 100000;
  for (int i = 0; i < kFiles; ++i) {
    ASSERT_TRUE(index.addFile(root, "f" + std::to_string(i), i));
    index.setFileHash(static_cast<std::size_t>(i), hashOf(i));
  }
  index.sortFilesByHash();
  std::vector<bool> seen(kFiles, false);
  for (int i = 0; i < kFiles; ++i) {
    const IndexedFile& f = index.file(static_cast<std::size_t>(i));
    if (i > 0) {
      ASSERT_LE(index.file(static_cast<std::size_t>(i - 1)).hash, f.hash) << i;
    }
    ASSERT_EQ(std::string_view(f.name, f.nameLength), "f" + std::to_string(f.size));
    ASSERT_EQ(f.hash, hashOf(f.size));
    seen[static_cast<std::size_t>(f.size)] = true;
  }
  EXPECT_EQ(std::count(seen.begin(), seen.end(), true), kFiles);
  // A small index is sorted too.
  index.clear();
  root = index.addFolder(FileIndex::kRoot, "");
  for (int i = 0; i < 50; ++i) {
    ASSERT_TRUE(index.addFile(root, "g", i));
    index.setFileHash(static_cast<std::size_t>(i), hashOf(i));
  }
  index.sortFilesByHash();
  for (std::size_t i = 1; i < 50; ++i) EXPECT_LE(index.file(i - 1).hash, index.file(i).hash) << i;
}

}  // namespace
