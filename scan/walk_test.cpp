#include "platform/fake/fake.h"
#include "scan/test_support.h"

namespace {

struct WalkFixture : ScanFixture {
  void SetUp() override {
    resetFakePlatform();
    resetScan();
    Scan.rootFolder = "R:\\";
  }
};

struct WalkCase {
  const char* what;
  std::map<std::string, FakeFolder> folders;
  uint8_t skipFile;
  uint8_t selectSubfolder;
  PickResult result;
  const char* entry;
  const char* subPath;
  uint32_t attributes;
};

TEST_F(WalkFixture, WalkRules) {
  const WalkCase cases[] = {
      {"the first entry is picked before any advance",
       {{"R:\\*.*", {{fakeFolderEntry("first"), fakeEntry("a.txt", 10)}}}},
       100, 100, PickResult::Picked, "first", "", 0x10},
      {"the first entry of a listing is never descended into",
       {{"R:\\*.*", {{fakeFolderEntry("sub"), fakeEntry("a.txt", 10)}}},
        {"R:\\sub\\*.*", {{fakeEntry("inner", 5)}}}},
       0, 100, PickResult::Exhausted, "a.txt", "", 0x20},
      {"only a folder whose attribute word is exactly 0x10 is entered",
       {{"R:\\*.*", {{fakeFolderEntry("."), fakeFolderEntry(".."), fakeFolderEntry("hidden", 0x12),
                      fakeFolderEntry("archived", 0x30), fakeFolderEntry("plain")}}},
        {"R:\\hidden\\*.*", {{fakeFolderEntry("."), fakeEntry("h", 1)}}},
        {"R:\\archived\\*.*", {{fakeFolderEntry("."), fakeEntry("a", 1)}}},
        {"R:\\plain\\*.*", {{fakeFolderEntry("."), fakeFolderEntry(".."), fakeEntry("deep.bin", 7)}}}},
       0, 100, PickResult::Exhausted, "deep.bin", "plain\\", 0x20},
      {"descends level after level",
       {{"R:\\*.*", {{fakeFolderEntry("."), fakeFolderEntry("a")}}},
        {"R:\\a\\*.*", {{fakeFolderEntry("."), fakeFolderEntry("b")}}},
        {"R:\\a\\b\\*.*", {{fakeFolderEntry("."), fakeFolderEntry(".."), fakeEntry("leaf", 3)}}}},
       0, 100, PickResult::Exhausted, "leaf", "a\\b\\", 0x20},
      {"a failing advance keeps the last listed entry",
       {{"R:\\*.*", {{fakeEntry("a", 1), fakeEntry("b", 2), fakeEntry("c", 3)}, 0, 2}}},
       0, 100, PickResult::Exhausted, "b", "", 0x20},
      {"an unlistable subfolder becomes the placeholder: the folder itself",
       {{"R:\\*.*", {{fakeFolderEntry("."), fakeFolderEntry("a")}}},
        {"R:\\a\\*.*", {{fakeFolderEntry("."), fakeFolderEntry("locked")}}},
        {"R:\\a\\locked\\*.*", {{}, 5}}},
       0, 100, PickResult::Exhausted, "locked\\", "a\\", 0x3F},
  };
  for (const WalkCase& c : cases) {
    SCOPED_TRACE(c.what);
    resetFakePlatform();
    FakeFolders = c.folders;
    Scan.settings.skipFile = c.skipFile;
    Scan.settings.selectSubfolder = c.selectSubfolder;
    EXPECT_EQ(pickEntry(Readers[0]), c.result);
    EXPECT_EQ(Readers[0].entry.name, c.entry);
    EXPECT_EQ(Readers[0].subPath, c.subPath);
    EXPECT_EQ(Readers[0].entry.attributes, c.attributes);
    closeListing(Readers[0]);
    EXPECT_EQ(FakeOpenListings, 0);
  }
}

ListEntry identified(ListEntry entry, uint64_t inode) {
  entry.device = 3;
  entry.inode = inode;
  return entry;
}

// A folder swapped for something else (a link to /sys) after its parent was
// listed opens by its path all the same; its "." then names another folder,
// and the walk picks nothing there. Where a listing does not tell which
// folder it is, the walk goes in as before.
TEST_F(WalkFixture, AFolderReplacedSinceItsParentWasListedIsPassedOver) {
  const struct {
    const char* what;
    uint64_t listedAs;
    uint64_t foundAs;
    PickResult result;
  } cases[] = {
      {"the same folder", 7, 7, PickResult::Exhausted},
      {"another folder at its path", 7, 8, PickResult::None},
      {"the parent's listing does not tell", 0, 8, PickResult::Exhausted},
      {"the folder's own listing does not tell", 7, 0, PickResult::Exhausted},
  };
  Scan.settings.skipFile = 0;
  Scan.settings.selectSubfolder = 100;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    resetFakePlatform();
    FakeFolders["R:\\*.*"] = {{fakeFolderEntry("."), identified(fakeFolderEntry("sub"), c.listedAs)}};
    FakeFolders["R:\\sub\\*.*"] = {{identified(fakeFolderEntry("."), c.foundAs), fakeEntry("in", 1)}};
    EXPECT_EQ(pickEntry(Readers[0]), c.result);
    closeListing(Readers[0]);
    EXPECT_EQ(FakeOpenListings, 0);
  }
}

TEST_F(WalkFixture, UnlistableRootGivesNoEntryAndLeavesNothingOpen) {
  FakeFolders["R:\\*.*"].openError = 3;
  EXPECT_EQ(pickEntry(Readers[0]), PickResult::None);
  closeListing(Readers[0]);
  EXPECT_EQ(FakeOpenListings, 0);
}

TEST_F(WalkFixture, SubfolderDrawDecidesTheDescent) {
  // With a descent chance of 50% some walks enter "sub" and some pass it by;
  // with 1% and a fixed seed almost none do.
  FakeFolders["R:\\*.*"] = {{fakeFolderEntry("."), fakeFolderEntry("sub"), fakeEntry("z", 1)}};
  FakeFolders["R:\\sub\\*.*"] = {{fakeFolderEntry("."), fakeEntry("in", 1)}};
  Scan.settings.skipFile = 0;
  int entered[2] = {0, 0};
  const uint8_t chances[2] = {50, 1};
  for (int i = 0; i < 2; ++i) {
    Scan.settings.selectSubfolder = chances[i];
    for (int pass = 0; pass < 1000; ++pass) {
      pickEntry(Readers[0]);
      if (Readers[0].subPath == "sub\\") ++entered[i];
      closeListing(Readers[0]);
    }
  }
  EXPECT_GT(entered[0], 400);
  EXPECT_LT(entered[0], 600);
  EXPECT_LT(entered[1], 30);
}

struct FilterCase {
  const char* what;
  bool scanAll;
  bool skipSmall;
  PickResult result;
  const char* name;
  int64_t size;
  uint32_t attributes;
  bool checked;
};

TEST(EntryQualifies, FilterTable) {
  const int64_t k3GiB = int64_t{3} << 30;
  const FilterCase cases[] = {
      {"picked large file", false, false, PickResult::Picked, "f", 513, 0x20, true},
      {"picked large file, scan all", true, false, PickResult::Picked, "f", 513, 0x20, true},
      {"a file of one block is small", false, true, PickResult::Picked, "f", 512, 0x20, false},
      {"small file kept without skipping", false, false, PickResult::Picked, "f", 512, 0x20, true},
      {"small file under scan all", true, true, PickResult::Picked, "f", 1, 0x20, true},
      {"picked empty file", false, false, PickResult::Picked, "f", 0, 0x20, false},
      {"picked empty file, scan all", true, false, PickResult::Picked, "f", 0, 0x20, true},
      {"a 3 GiB file is checked", false, false, PickResult::Picked, "f", k3GiB, 0x20, true},
      {"exhausted on a file", false, false, PickResult::Exhausted, "f", 100, 0x20, false},
      {"exhausted on a file, scan all", true, false, PickResult::Exhausted, "f", 100, 0x20, true},
      {"dot", true, false, PickResult::Picked, ".", 0, 0x10, false},
      {"dot dot", true, false, PickResult::Picked, "..", 0, 0x10, false},
      {"folder 0x10", true, false, PickResult::Picked, "d", 0, 0x10, false},
      {"folder 0x12", true, false, PickResult::Picked, "d", 0, 0x12, false},
      {"folder 0x15", true, false, PickResult::Picked, "d", 0, 0x15, false},
      {"folder 0x16", true, false, PickResult::Picked, "d", 0, 0x16, false},
      {"folder 0x11, scan all", true, false, PickResult::Picked, "d", 0, 0x11, true},
      {"folder 0x30", false, false, PickResult::Picked, "d", 0, 0x30, false},
      {"placeholder, scan all", true, false, PickResult::Exhausted, "R:\\x\\*.*", 0, 0x3F, true},
      {"placeholder", false, false, PickResult::Exhausted, "R:\\x\\*.*", 0, 0x3F, false},
      {"no entry at all", true, false, PickResult::None, "f", 100, 0x20, false},
  };
  for (const FilterCase& c : cases) {
    SCOPED_TRACE(c.what);
    Settings s;
    s.scanAllFiles = c.scanAll;
    s.skipSmallFiles = c.skipSmall;
    s.bytesToReadAtOnce = 512;
    EXPECT_EQ(entryQualifies(c.result, fakeEntry(c.name, c.size, c.attributes), s), c.checked);
  }
}

}  // namespace
