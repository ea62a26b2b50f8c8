// A cycle kept across runs, on the scripted file system: the state file's
// form and its reasons for not being used, its atomic rewrite, and cycles
// stopped anywhere and taken up again while the tree changes.
#include "scan/cycle_state.h"

#include <algorithm>
#include <set>
#include <string>
#include <vector>

#include "platform/fake/fake.h"
#include "platform/files.h"
#include "scan/test_support.h"

namespace {

using Paths = std::vector<std::string>;

const char kState[] = "state.txt";
const char kRoot[] = "R:\\";

CycleState sampleState() {
  CycleState s;
  s.cycle = 7;
  s.key = SipKey{0x0123456789abcdefull, 0xfedcba9876543210ull};
  s.started = true;
  s.reached = 0x8000000000000001ull;
  s.covered = 4242;
  s.began = LocalTime{2026, 12, 9, 22, 0, 3, 0};
  return s;
}

std::string sampleText() {
  std::string text;
  composeCycleState(sampleState(), kRoot, &text);
  return text;
}

// The text with its first occurrence of `from` replaced.
std::string edited(std::string text, const std::string& from, const std::string& to) {
  std::size_t at = text.find(from);
  EXPECT_NE(at, std::string::npos) << from;
  if (at != std::string::npos) text.replace(at, from.size(), to);
  return text;
}

TEST(CycleStateFile, ReadsBackWhatItWrites) {
  std::string text = sampleText();
  EXPECT_EQ(text.rfind("readsweeper cycle state 1", 0), 0u);
  CycleState back;
  Text reason;
  ASSERT_TRUE(parseCycleState(text, kRoot, &back, &reason)) << reason.c_str();
  CycleState s = sampleState();
  EXPECT_EQ(back.cycle, s.cycle);
  EXPECT_EQ(back.key.k0, s.key.k0);
  EXPECT_EQ(back.key.k1, s.key.k1);
  EXPECT_TRUE(back.started);
  EXPECT_EQ(back.reached, s.reached);
  EXPECT_EQ(back.covered, s.covered);
  EXPECT_EQ(back.began.year, 2026);
  EXPECT_EQ(back.began.second, 3);
  // A cycle without a file reached yet, and either line end.
  s.started = false;
  composeCycleState(s, kRoot, &text);
  EXPECT_NE(text.find("reached: none"), std::string::npos);
  std::string unix;
  for (char c : text) {
    if (c != '\r') unix.push_back(c);
  }
  ASSERT_TRUE(parseCycleState(unix, kRoot, &back, &reason)) << reason.c_str();
  EXPECT_FALSE(back.started);
}

TEST(CycleStateFile, EveryFaultHasItsReason) {
  std::string good = sampleText();
  const struct {
    const char* what;
    std::string bytes;
    const char* root;
    const char* reason;
  } cases[] = {
      {"another root", good, "S:\\", "of another root folder, R:\\"},
      {"another version", edited(good, "state 1", "state 2"), kRoot, "format version 2, this program reads 1"},
      {"not a state", "[settings]\r\ncheck every file\r\n", kRoot, "not a cycle state file"},
      {"empty", "", kRoot, "empty"},
      {"cut in its last line", good.substr(0, good.size() - 3), kRoot, "truncated in its last line"},
      {"cut before a line", good.substr(0, good.find("covered:")), kRoot, "truncated: no covered line"},
      {"an unknown line", edited(good, "covered:", "uncovered:"), kRoot, "corrupt at line 6"},
      {"a line twice", good + "cycle: 8\r\n", kRoot, "corrupt at line 8"},
      {"a key too short", edited(good, "key: 0123", "key: 123"), kRoot, "corrupt: a value out of its form"},
      {"a capital hex digit", edited(good, "reached: 8", "reached: A"), kRoot, "corrupt: a value out of its form"},
      {"cycle 0", edited(good, "cycle: 7", "cycle: 0"), kRoot, "corrupt: a value out of its form"},
      {"a negative count", edited(good, "covered: 4242", "covered: -1"), kRoot, "corrupt: a value out of its form"},
      {"a bad time", edited(good, "22:00:03", "25:00:03"), kRoot, "corrupt: a value out of its form"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    CycleState state;
    Text reason;
    EXPECT_FALSE(parseCycleState(c.bytes, c.root, &state, &reason));
    EXPECT_EQ(std::string(reason.view()), c.reason);
  }
}

struct CycleStateOpen : ::testing::Test {
  void SetUp() override { resetFakePlatform(); }
  void TearDown() override { openCycleState(Text(), kRoot, nullptr); }
};

TEST_F(CycleStateOpen, AMissingFileIsANewCycleAndAnUnusableOneSaysWhy) {
  EXPECT_EQ(openCycleState(kState, kRoot, nullptr), 0);
  EXPECT_TRUE(cycleStateInUse());
  EXPECT_TRUE(cycleStateNotice().empty());
  CycleState stored;
  EXPECT_FALSE(storedCycleState(&stored));
  // The check that a file can be written leaves nothing behind.
  EXPECT_TRUE(FakeDisk.empty());

  FakeDisk[kState] = edited(sampleText(), "state 1", "state 9");
  EXPECT_EQ(openCycleState(kState, kRoot, nullptr), 0);
  EXPECT_EQ(cycleStateNotice(), "cycle state state.txt not used: format version 9, this program reads 1");
  EXPECT_FALSE(storedCycleState(&stored));

  FakeDisk[kState] = sampleText();
  EXPECT_EQ(openCycleState(kState, kRoot, nullptr), 0);
  EXPECT_TRUE(cycleStateNotice().empty());
  ASSERT_TRUE(storedCycleState(&stored));
  EXPECT_EQ(stored.covered, 4242);

  // A file too large to be a state is not read whole.
  FakeDisk[kState] = std::string(70000, 'x');
  EXPECT_EQ(openCycleState(kState, kRoot, nullptr), 0);
  EXPECT_EQ(cycleStateNotice(), "cycle state state.txt not used: not a cycle state file: larger than 64 KiB");
}

TEST_F(CycleStateOpen, AFileThatCannotBeWrittenRefusesTheStart) {
  FakeCreateError = 5;
  Text failure;
  EXPECT_EQ(openCycleState(kState, kRoot, &failure), 5);
  EXPECT_EQ(failure, "cannot write the cycle state state.txt: Access is denied. (code 5)");
  EXPECT_EQ(cycleStateFailure(), failure);
  EXPECT_FALSE(cycleStateInUse());
  // No path: no state, and nothing to refuse.
  EXPECT_EQ(openCycleState(Text(), kRoot, &failure), 0);
  EXPECT_TRUE(failure.empty());
  EXPECT_FALSE(cycleStateInUse());
}

TEST_F(CycleStateOpen, AFailedRewriteLeavesTheOldStateWhole) {
  ASSERT_EQ(openCycleState(kState, kRoot, nullptr), 0);
  CycleState s = sampleState();
  ASSERT_EQ(writeCycleState(s), 0);
  const std::string old = FakeDisk[kState];
  s.covered = 5000;
  // A failure at each step between the new file's creation and its taking
  // the old one's place.
  for (int* fault : {&FakeCreateError, &FakeWriteError, &FakeReplaceError}) {
    *fault = 28;
    EXPECT_EQ(writeCycleState(s), 28);
    *fault = 0;
    EXPECT_EQ(FakeDisk[kState], old);
    EXPECT_EQ(FakeDisk.count("state.txt.tmp"), 0u);
    EXPECT_EQ(cycleStateFailure().view().rfind("cannot write the cycle state state.txt: ", 0), 0u);
  }
  EXPECT_EQ(writeCycleState(s), 0);
  EXPECT_NE(FakeDisk[kState].find("covered: 5000"), std::string::npos);
}

// --- cycles taken up by the engine ---------------------------------------------

struct Resume : ScanFixture {
  void SetUp() override {
    resetFakePlatform();
    resetScan();
    FakePathText = kRoot;
    s.checkEveryFile = true;
    s.selectNextFile = 100;
    s.cycleState = kState;
  }
  void TearDown() override { openCycleState(Text(), kRoot, nullptr); }

  // A tree of `files` files in three folders.
  static Paths makeTree(int files) {
    Paths paths;
    std::vector<ListEntry> top{fakeFolderEntry("one"), fakeFolderEntry("two")};
    std::vector<ListEntry> one, two;
    for (int i = 0; i < files; ++i) {
      std::string name = "f" + std::to_string(i);
      std::string folder = i % 3 == 0 ? "" : i % 3 == 1 ? "one\\" : "two\\";
      std::string path = std::string(kRoot) + folder + name;
      FakeFiles[path].size = 10;
      paths.push_back(path);
      (i % 3 == 0 ? top : i % 3 == 1 ? one : two).push_back(fakeEntry(name.c_str(), 10));
    }
    FakeFolders["R:\\*.*"] = {top};
    FakeFolders["R:\\one\\*.*"] = {one};
    FakeFolders["R:\\two\\*.*"] = {two};
    return paths;
  }

  // One run: the state opened as a front end does, then passes until
  // `opens` files were opened or the scan stopped by itself, then the end.
  void run(std::size_t opens, uint32_t seed) {
    resetScan();
    ASSERT_EQ(openCycleState(s.cycleState, kRoot, nullptr), 0);
    FakeOpens.clear();  // the state file's open is none of the scan's
    prepare(seed);
    setupScan();
    for (int pass = 0; pass < 100000 && ScanState.load() > 0 && FakeOpens.size() < opens; ++pass) runPass();
    if (ScanState.load() > 0) requestScanStop();
    endScan();
    finishScan();
  }

  static CycleState stateOnDisk() {
    CycleState state;
    Text reason;
    EXPECT_TRUE(parseCycleState(FakeDisk[kState], kRoot, &state, &reason)) << reason.c_str();
    return state;
  }

  static Paths sorted(Paths p) {
    std::sort(p.begin(), p.end());
    return p;
  }
};

TEST_F(Resume, ACycleStoppedAnywhereChecksEachRemainingFileOnce) {
  const Paths tree = makeTree(40);
  for (std::size_t first : {1u, 17u, 39u}) {
    SCOPED_TRACE(first);
    FakeDisk.clear();
    run(first, 11);
    Paths before = FakeOpens;
    ASSERT_EQ(before.size(), first);
    EXPECT_EQ(stateOnDisk().covered, static_cast<int64_t>(first));
    // The next run, with another seed, takes the cycle up and ends it.
    s.stopAfterCycles = 1;
    run(100000, 99);
    s.stopAfterCycles = 0;
    ScanResult r = scanResult();
    EXPECT_TRUE(r.resumed);
    EXPECT_EQ(r.cycle, 1);
    EXPECT_EQ(r.stoppedBy, StopReason::Cycles);
    EXPECT_EQ(r.coveredFiles, 40);
    Paths all = before;
    all.insert(all.end(), FakeOpens.begin(), FakeOpens.end());
    EXPECT_EQ(sorted(all), sorted(tree)) << "each file once over the two runs";
    CycleState done = stateOnDisk();
    EXPECT_TRUE(done.started);
    EXPECT_EQ(done.reached, kCycleComplete);
  }
  // A complete cycle is not taken up: the next run begins cycle 2, under a
  // new key, with every file.
  CycleState ended = stateOnDisk();
  s.stopAfterCycles = 1;
  run(100000, 5);
  EXPECT_FALSE(scanResult().resumed);
  EXPECT_EQ(scanResult().cycle, 2);
  EXPECT_EQ(sorted(FakeOpens), sorted(tree));
  CycleState second = stateOnDisk();
  EXPECT_EQ(second.cycle, 2);
  EXPECT_NE(second.key.k0, ended.key.k0);
}

// Several readers take the kept order by their cursor and finish files out
// of order: the state they leave covers the files all of them are done
// with, and the next run, with as many readers or one, checks the rest.
TEST_F(Resume, SeveralReadersTakeUpACycleAndLeaveWhatTheyDid) {
  const Paths tree = makeTree(60);
  for (int nextReaders : {4, 1}) {
    SCOPED_TRACE(std::to_string(nextReaders) + " readers in the second run");
    FakeDisk.clear();
    resetScan();
    ASSERT_EQ(openCycleState(s.cycleState, kRoot, nullptr), 0);
    FakeOpens.clear();
    s.parallelReads = 4;
    s.stopAfterChecked = 25;  // one byte a file: about 25 files, one more for each other reader
    prepare(21, scanBufferNeed(s).size);
    ASSERT_TRUE(scanEndsByItself(30));
    s.stopAfterChecked = 0;
    Paths before = FakeOpens;
    ASSERT_GE(before.size(), 25u);
    ASSERT_LT(before.size(), 60u);
    EXPECT_EQ(stateOnDisk().covered, static_cast<int64_t>(before.size()));

    resetScan();
    ASSERT_EQ(openCycleState(s.cycleState, kRoot, nullptr), 0);
    FakeOpens.clear();
    s.parallelReads = nextReaders;
    s.stopAfterCycles = 1;
    prepare(22, scanBufferNeed(s).size);
    ASSERT_TRUE(scanEndsByItself(30));
    s.stopAfterCycles = 0;
    ScanResult r = scanResult();
    EXPECT_TRUE(r.resumed);
    EXPECT_EQ(r.cycle, 1);
    EXPECT_EQ(r.coveredFiles, 60);
    Paths all = before;
    all.insert(all.end(), FakeOpens.begin(), FakeOpens.end());
    EXPECT_EQ(sorted(all), sorted(tree)) << "each file once over the two runs";
    EXPECT_EQ(stateOnDisk().reached, kCycleComplete);
  }
}

TEST_F(Resume, AFileAddedBelowTheCursorWaitsForTheNextCycle) {
  Paths tree = makeTree(30);
  run(15, 3);
  CycleState state = stateOnDisk();
  ASSERT_TRUE(state.started);
  // New files of the root folder, one on each side of the hash reached.
  std::string below, above;
  for (int i = 0; below.empty() || above.empty(); ++i) {
    std::string name = "new" + std::to_string(i);
    uint64_t hash = sipHash24(state.key, name.data(), name.size());
    std::string& side = hash <= state.reached ? below : above;
    if (side.empty()) side = name;
  }
  for (const std::string& name : {below, above}) {
    FakeFiles[std::string(kRoot) + name].size = 10;
    FakeFolders["R:\\*.*"].entries.push_back(fakeEntry(name.c_str(), 10));
  }
  // A file deleted meanwhile is passed over.
  FakeFiles.erase(tree.back());
  s.stopAfterCycles = 2;
  run(100000, 4);
  std::multiset<std::string> opened(FakeOpens.begin(), FakeOpens.end());
  EXPECT_EQ(opened.count(std::string(kRoot) + above), 2u) << "in the cycle taken up and in the next";
  EXPECT_EQ(opened.count(std::string(kRoot) + below), 1u) << "in the next cycle only";
  auto firstOfNext = std::find(FakeOpens.begin(), FakeOpens.end(), std::string(kRoot) + below);
  EXPECT_EQ(std::count(FakeOpens.begin(), firstOfNext, std::string(kRoot) + above), 1);
  EXPECT_EQ(scanResult().cycle, 2);
  EXPECT_EQ(scanResult().cyclesCompleted, 2);
}

TEST_F(Resume, AnUnusableStateBeginsANewCycleAndIsReplaced) {
  const Paths tree = makeTree(12);
  run(5, 8);
  const std::string good = FakeDisk[kState];
  const struct {
    const char* what;
    std::string bytes;
    const char* notice;
  } cases[] = {
      {"another root", edited(good, "root: R:\\", "root: Q:\\"), "of another root folder, Q:\\"},
      {"corrupt", edited(good, "covered: ", "covered: x"), "corrupt: a value out of its form"},
      {"truncated", good.substr(0, good.find("reached:") + 12), "truncated in its last line"},
      {"another version", edited(good, "state 1", "state 2"), "format version 2, this program reads 1"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    FakeDisk[kState] = c.bytes;
    s.stopAfterCycles = 1;
    run(100000, 21);
    EXPECT_EQ(cycleStateNotice(), std::string("cycle state state.txt not used: ") + c.notice);
    EXPECT_FALSE(scanResult().resumed);
    EXPECT_EQ(scanResult().cycle, 1);
    EXPECT_EQ(sorted(FakeOpens), sorted(tree)) << "a whole new cycle";
    EXPECT_EQ(stateOnDisk().reached, kCycleComplete) << "the old file replaced";
  }
}

TEST_F(Resume, TheStateIsWrittenEveryTenSecondsAndAtTheEnd) {
  makeTree(40);
  ASSERT_EQ(openCycleState(s.cycleState, kRoot, nullptr), 0);
  prepare(2);
  setupScan();
  FakeClockStep = 0;
  runPass();  // the listing and the first file
  EXPECT_EQ(FakeDisk.count(kState), 0u) << "not before ten seconds";
  FakeHundredths += 999;
  runPass();
  EXPECT_EQ(FakeDisk.count(kState), 0u);
  FakeHundredths += 1;
  runPass();
  ASSERT_EQ(FakeDisk.count(kState), 1u);
  EXPECT_EQ(stateOnDisk().covered, 3);
  runPass();
  EXPECT_EQ(stateOnDisk().covered, 3) << "the next write waits ten seconds again";
  // A write that fails does not stop the scan; it is named at its end.
  FakeHundredths += 1000;
  FakeReplaceError = 28;
  runPass();
  EXPECT_EQ(ScanState.load(), 1);
  FakeReplaceError = 0;
  requestScanStop();
  endScan();
  EXPECT_EQ(stateOnDisk().covered, 5);
  EXPECT_TRUE(cycleStateFailure().view().rfind("cannot write the cycle state state.txt:", 0) == 0);
  finishScan();
  EXPECT_NE(std::find(WindowLog.begin(), WindowLog.end(),
                      std::string("text FileLine: ") + cycleStateFailure().c_str()),
            WindowLog.end());
}

TEST_F(Resume, WithoutCheckEveryFileOrWithoutAPathNothingIsKept) {
  makeTree(6);
  s.cycleState = Text();
  s.stopAfterCycles = 1;
  run(100000, 1);
  EXPECT_FALSE(cycleStateInUse());
  EXPECT_EQ(scanResult().cycle, 1);
  EXPECT_TRUE(FakeDisk.empty());
}

}  // namespace
