// The random walk is what users rely on: with "check every file" off, a
// seeded scan of a fixed tree must open, read and show exactly what it did
// before that mode existed. The digests below were taken from the engine
// as it was before the mode was added; a change that moves a single draw,
// open, read or text changes them. The second changed once since, on
// purpose: a folder the walk cannot list is no longer opened under a
// made-up path, and the file line names the folder; leaving out what
// touches the denied folder, its digest is still the one of before.
#include "platform/fake/fake.h"
#include "scan/test_support.h"

namespace {

// Files of every kind the walk meets: plain and hidden folders, a folder it
// cannot list, files that fail to open, to position and to read, empty and
// small ones, one in pieces.
void scriptTree() {
  FakeFolders["R:\\*.*"] = {{fakeFolderEntry("."), fakeFolderEntry(".."), fakeEntry("a.bin", 5000),
                             fakeFolderEntry("docs"), fakeEntry("empty", 0), fakeFolderEntry("hidden", 0x12),
                             fakeEntry("locked.bin", 700), fakeFolderEntry("denied"), fakeEntry("small", 3),
                             fakeEntry("z.bin", 90000)}};
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
  FakeFiles["R:\\docs\\cut"].size = 1000;  // shorter than listed
  FakeFiles["R:\\docs\\deep\\bottom"] = {333, 0, false, -1, 7};
}

struct Record : ScanFixture {
  // Runs `passes` passes of a scan of the scripted tree and digests the
  // opens, the reads, the window's log, the counters and the generator's
  // next draw.
  uint64_t digestOfScan(uint32_t seed, int passes) {
    resetFakePlatform();
    resetScan();
    scriptTree();
    FakePathText = "R:\\";
    prepare(seed);
    setupScan();
    for (int pass = 0; pass < passes && ScanState.load() > 0; ++pass) runPass();
    endScan();
    requestScanStop();
    finishScan();
    Digest d;
    for (const std::string& open : FakeOpens) d.add(open);
    for (const FakeRead& read : FakeReads) {
      d.add(read.path);
      d.add(read.position);
      d.add(int64_t{read.asked});
      d.add(int64_t{read.got});
    }
    for (const std::string& line : WindowLog) d.add(line);
    d.add(Scan.checkedBytes);
    d.add(Scan.openErrors);
    d.add(Scan.readErrors);
    d.add(Scan.filesChecked);
    d.add(randomBelow(Readers[0].random, int64_t{1} << 62));
    return d.value;
  }
};

TEST_F(Record, SeededWalkScansAreThoseOfBefore) {
  struct Case {
    const char* what;
    void (*set)(Settings&);
    uint64_t digest;
  };
  const Case cases[] = {
      {"defaults, every text shown",
       [](Settings& t) {
         t.showFileName = t.showFileSize = t.showReadByte = true;
         t.showCheckedBytes = t.showOpenErrors = t.showReadErrors = true;
         t.stopAfterCycles = 1;  // nothing without "check every file"
       },
       0xbef4b29c8b10c9a7ull},
      {"all files, small blocks, repeats, deep walks",
       [](Settings& t) {
         t.scanAllFiles = true;
         t.skipFile = 20;
         t.selectSubfolder = 60;
         t.repeatRead = 2;
         t.bytesToReadAtOnce = 16;
         t.selectNextFile = 30;
         t.windowRefresh = 60;
         t.showFileName = t.showCheckedBytes = t.showOpenErrors = true;
         t.stopAfterChecked = 2000000;
         t.showCheckedBytesInPercents = true;
       },
       0x7c73f250d0f478b9ull},
      {"small files skipped, full sizes, error limit",
       [](Settings& t) {
         t.skipSmallFiles = true;
         t.bytesToReadAtOnce = 64;
         t.showFullFileSize = t.showCheckedBytes = t.showReadErrors = true;
         t.windowRefresh = 100;
         t.stopAfterErrors = 150;
       },
       0x7694b7429396fcf1ull},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    s = Settings{};
    c.set(s);
    uint64_t digest = digestOfScan(20261209, 4000);
    EXPECT_EQ(digest, c.digest);
    EXPECT_GT(FakeOpens.size(), 400u) << "the scan did too little to tell";
    EXPECT_EQ(FakeOpenFiles, 0);
    EXPECT_EQ(FakeOpenListings, 0);
  }
}

}  // namespace
