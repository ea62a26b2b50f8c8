// One reader is the engine users have always had: whole seeded scans of a
// fixed tree, run through runScan as the programs run them, must open, read,
// show, count and list exactly what the single-threaded engine did. The
// digests below were taken from that engine; a change that moves a single
// draw, open, read, text, count or line of the error list changes them.
#include "platform/fake/fake.h"
#include "platform/memory.h"
#include "scan/error_list.h"
#include "scan/test_support.h"

namespace {

// Every kind of entry both modes meet: folders plain, hidden and
// unlistable, files that fail to open, to position and to read, empty,
// small, shorter than listed, in pieces, and one listed but gone.
void scriptTree() {
  FakeFolders["R:\\*.*"] = {{fakeFolderEntry("."), fakeFolderEntry(".."), fakeEntry("a.bin", 5000),
                             fakeFolderEntry("docs"), fakeEntry("empty", 0), fakeFolderEntry("hidden", 0x12),
                             fakeEntry("locked.bin", 700), fakeFolderEntry("denied"), fakeEntry("small", 3),
                             fakeEntry("gone", 50), fakeEntry("z.bin", 90000)}};
  FakeFolders["R:\\docs\\*.*"] = {{fakeFolderEntry("."), fakeFolderEntry(".."), fakeEntry("d1", 1200),
                                   fakeFolderEntry("deep"), fakeEntry("d2", 64), fakeEntry("cut", 4000)}};
  FakeFolders["R:\\docs\\deep\\*.*"] = {{fakeFolderEntry("."), fakeFolderEntry(".."), fakeEntry("bottom", 333)}};
  FakeFolders["R:\\hidden\\*.*"] = {{fakeFolderEntry("."), fakeEntry("secret", 100)}};
  FakeFolders["R:\\denied\\*.*"].openError = 5;
  FakeFiles["R:\\a.bin"].size = 5000;
  FakeFiles["R:\\empty"].size = 0;
  FakeFiles["R:\\locked.bin"] = {700, 32};
  FakeFiles["R:\\small"].size = 3;
  FakeFiles["R:\\z.bin"] = {90000, 0, false, 60000};
  FakeFiles["R:\\docs\\d1"] = {1200, 0, true};
  FakeFiles["R:\\docs\\d2"].size = 64;
  FakeFiles["R:\\docs\\cut"].size = 1000;
  FakeFiles["R:\\docs\\deep\\bottom"] = {333, 0, false, -1, 7};
  FakeFiles["R:\\hidden\\secret"].size = 100;
}

struct OneReader : ScanFixture {
  void SetUp() override {
    resetFakePlatform();
    resetScan();
    scriptTree();
    FakePathText = "R:\\";
    // Every text, so that every draw of a refresh shows.
    s.showCheckedBytes = s.showReadErrors = s.showOpenErrors = s.showFileName = true;
    s.showFileSize = s.showReadByte = s.showSetup = true;
    s.measureReadingSpeed = true;
    s.errorList = "R:\\errors.csv";
  }

  // A whole scan as the programs run it, digested: the opens, the reads,
  // the window's log, the error list and the result.
  uint64_t digestOfScan(uint32_t seed) {
    FakeClockStep = 3;
    EXPECT_EQ(openErrorList(s.errorList, nullptr), 0);
    // Aligned, as the programs allocate it, so that reads past the cache
    // are taken.
    ScanBufferNeed need = scanBufferNeed(s);
    char* aligned = allocateAlignedMemory(need.size);
    prepareScan(s, aligned, need.size, seed);
    refreshSettingsLine(s);
    runScan();
    EXPECT_EQ(ScanState.load(), 0);
    releaseAlignedMemory(aligned);
    Digest d;
    for (const std::string& open : FakeOpens) d.add(open);
    for (const FakeRead& read : FakeReads) {
      d.add(read.path);
      d.add(read.position);
      d.add(int64_t{read.asked});
      d.add(int64_t{read.got});
    }
    for (const std::string& line : WindowLog) d.add(line);
    d.add(FakeDisk["R:\\errors.csv"]);
    ScanResult r = scanResult();
    for (int64_t n : {r.checkedBytes, r.filesChecked, r.openErrors, r.readErrors, r.elapsedMilliseconds,
                      r.cyclesCompleted, r.coveredFiles, r.indexedFiles, int64_t(r.stoppedBy)}) {
      d.add(n);
    }
    EXPECT_EQ(FakeOpenFiles, 0);
    EXPECT_EQ(FakeOpenListings, 0);
    return d.value;
  }
};

struct Case {
  const char* what;
  void (*configure)(Settings&);
  uint64_t digests[3];  // of the seeds 1, 77 and 4000000000
};

const Case kCases[] = {
    {"a walk to a checked limit, with its percentage",
     [](Settings& s) {
       s.stopAfterChecked = 30000;
       s.showCheckedBytesInPercents = true;
       s.bytesToReadAtOnce = 100;
       s.windowRefresh = 40;
     },
     {0xd4169be00ca1f062ull, 0xad1488f32994352aull, 0xa4e25e5c558c74c8ull}},
    {"a walk of all files, small ones left out, to an error limit",
     [](Settings& s) {
       s.scanAllFiles = s.skipSmallFiles = true;
       s.stopAfterErrors = 60;
       s.bytesToReadAtOnce = 64;
       s.repeatRead = 2;
     },
     {0xcd96dd09d4db1dbfull, 0xb3e6dd81ce405ae9ull, 0xb5f2a808375905a0ull}},
    {"every file, three cycles",
     [](Settings& s) {
       s.checkEveryFile = true;
       s.stopAfterCycles = 3;
       s.bytesToReadAtOnce = 7;
       s.selectNextFile = 30;
       s.windowRefresh = 60;
     },
     {0x3ccca819cc8b09eull, 0x42e507c1654d96c2ull, 0x46084de85bc8c6a1ull}},
    {"every file past the cache, to a time limit",
     [](Settings& s) {
       s.checkEveryFile = s.readPastCache = true;
       s.stopAfterSeconds = 5;
       s.bytesToReadAtOnce = 5000;
       s.repeatRead = 3;
       s.showFullFileSize = true;
     },
     {0x526e1bd73434a4bull, 0x6b1bb71206ece1b0ull, 0x45f64bcea39ca5c4ull}},
    {"every file, whole files timed, two cycles",
     [](Settings& s) {
       s.checkEveryFile = s.readWholeFiles = true;
       s.stopAfterCycles = 2;
       s.slowReadLimit = 1;
       s.windowRefresh = 50;
     },
     {0x6b66f6b1b768f5aeull, 0xd48258e8210032eull, 0x7b2d730c745c9e55ull}},
};

TEST_F(OneReader, WholeScansAreThoseOfTheSingleThreadedEngine) {
  const uint32_t seeds[] = {1, 77, 4000000000u};
  Settings base = s;
  for (const Case& c : kCases) {
    for (int i = 0; i < 3; ++i) {
      SCOPED_TRACE(std::string(c.what) + ", seed " + std::to_string(seeds[i]));
      resetFakePlatform();
      resetScan();
      scriptTree();
      FakePathText = "R:\\";
      s = base;
      c.configure(s);
      uint64_t digest = digestOfScan(seeds[i]);
      EXPECT_EQ(digest, c.digests[i]) << "0x" << std::hex << digest;
    }
  }
}

}  // namespace
