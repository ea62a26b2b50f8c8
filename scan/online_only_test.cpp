// Files that a cloud-sync client keeps online only: reading one would make
// the system download it, so the scan leaves them alone.
#include "platform/fake/fake.h"
#include "scan/test_support.h"

namespace {

constexpr uint32_t kOnlineOnlyBits[] = {0x400000, 0x40000, 0x1000};

TEST(OnlineOnly, FilterSkipsEachBitEvenWhenScanningAllFiles) {
  for (uint32_t bit : kOnlineOnlyBits) {
    for (bool scanAll : {false, true}) {
      SCOPED_TRACE(testing::Message() << std::hex << bit << (scanAll ? " scan all" : ""));
      Settings s;
      s.scanAllFiles = scanAll;
      EXPECT_FALSE(entryQualifies(PickResult::Picked, fakeEntry("f", 5000, 0x20 | bit), s));
      EXPECT_FALSE(entryQualifies(PickResult::Exhausted, fakeEntry("f", 5000, 0x20 | bit), s));
      // A folder with another bit as well would be handed to the check
      // under "scan all files"; with an online-only bit it is not.
      EXPECT_FALSE(entryQualifies(PickResult::Picked, fakeFolderEntry("d", 0x11 | bit), s));
      // The same file without the bit is checked.
      EXPECT_TRUE(entryQualifies(PickResult::Picked, fakeEntry("f", 5000, 0x20), s));
    }
  }
}

struct OnlineOnlyScan : ScanFixture {
  void SetUp() override {
    resetFakePlatform();
    resetScan();
    FakePathText = "R:\\";
    s.windowRefresh = 100;
    s.showFileName = true;
    s.showCheckedBytes = true;
    s.showOpenErrors = true;
    s.showReadErrors = true;
  }
};

// Passes that end on such a file open nothing, count nothing and show
// nothing, whether they pick it or run out on it.
TEST_F(OnlineOnlyScan, NothingIsOpenedOrCounted) {
  for (uint32_t bit : kOnlineOnlyBits) {
    for (uint8_t skipFile : {uint8_t{100}, uint8_t{0}}) {
      SCOPED_TRACE(testing::Message() << std::hex << bit << " skip file " << std::dec << int{skipFile});
      resetFakePlatform();
      resetScan();
      FakePathText = "R:\\";
      FakeFolders["R:\\*.*"] = {{fakeEntry("cloud.docx", 5000, 0x20 | bit)}};
      FakeFiles["R:\\cloud.docx"].size = 5000;
      s.skipFile = skipFile;
      s.scanAllFiles = true;
      prepare();
      setupScan();
      for (int pass = 0; pass < 20; ++pass) runPass();
      EXPECT_TRUE(FakeOpens.empty());
      EXPECT_TRUE(WindowLog.empty());
      EXPECT_EQ(Scan.openErrors + Scan.readErrors + Scan.checkedBytes, 0);
      EXPECT_EQ(FakeOpenListings, 0);
    }
  }
}

// A folder that carries one of the bits is passed over: the walk runs out
// on the file after it.
TEST_F(OnlineOnlyScan, WalkNeverEntersSuchAFolder) {
  for (uint32_t bit : kOnlineOnlyBits) {
    SCOPED_TRACE(testing::Message() << std::hex << bit);
    resetFakePlatform();
    resetScan();
    FakeFolders["R:\\*.*"] = {{fakeFolderEntry("."), fakeFolderEntry("cloud", 0x10 | bit), fakeEntry("local", 10)}};
    FakeFolders["R:\\cloud\\*.*"] = {{fakeFolderEntry("."), fakeEntry("inside", 10)}};
    Scan.rootFolder = "R:\\";
    Scan.settings.skipFile = 0;
    Scan.settings.selectSubfolder = 100;
    EXPECT_EQ(pickEntry(Readers[0]), PickResult::Exhausted);
    EXPECT_EQ(Readers[0].subPath, "");
    EXPECT_EQ(Readers[0].entry.name, "local");
    closeListing(Readers[0]);
  }
}

}  // namespace
