// Names in any script, as UTF-8: whole however many bytes they take, and
// shown by their count of characters.
#include "platform/fake/fake.h"
#include "scan/test_support.h"

namespace {

std::string repeat(const std::string& piece, int times) {
  std::string text;
  for (int i = 0; i < times; ++i) text += piece;
  return text;
}

const std::string kNichi = "\xE6\x97\xA5";  // 日, three bytes

struct NamesFixture : ScanFixture {
  void SetUp() override {
    resetFakePlatform();
    resetScan();
    Scan.rootFolder = "R:\\";
  }
};

// A name of up to 255 UTF-16 units may take up to 765 bytes: the walk and
// the open get it whole.
TEST_F(NamesFixture, LongNamesReachTheOpenWhole) {
  const std::string folder = repeat(kNichi, 100);
  const std::string file = repeat("\xF0\x9F\x98\x80", 100) + ".bin";  // 404 bytes
  FakePathText = "R:\\";
  FakeFolders["R:\\*.*"] = {{fakeFolderEntry("."), fakeFolderEntry(folder.c_str())}};
  FakeFolders["R:\\" + folder + "\\*.*"] = {{fakeEntry(file.c_str(), 10)}};
  const std::string path = "R:\\" + folder + "\\" + file;
  FakeFiles[path].size = 10;
  s.skipFile = 0;
  s.selectSubfolder = 100;
  s.scanAllFiles = true;
  prepare();
  setupScan();
  runPass();
  ASSERT_FALSE(FakeOpens.empty());
  EXPECT_EQ(FakeOpens[0], path);
  EXPECT_EQ(Scan.openErrors, 0);
}

// The file line's limit of 64 is a count of characters, not of bytes.
TEST_F(NamesFixture, FileLineLimitCountsCharacters) {
  const struct {
    const char* what;
    std::string name;
    bool fileSize;
    std::string line;
  } cases[] = {
      {"64 characters in 182 bytes fit", repeat(kNichi, 59), false, "\"R:\\" + repeat(kNichi, 59) + "\""},
      {"with the size: 65 characters do not fit", repeat(kNichi, 54), true, "\"R:\\" + repeat(kNichi, 54) + "\""},
      {"with the size: 64 characters fit", repeat(kNichi, 53), true, "\"R:\\" + repeat(kNichi, 53) + "\" (5kB)"},
      {"the path too long: the name alone", repeat(kNichi, 61), false, "\"" + repeat(kNichi, 61) + "\""},
      // Cut at 255 bytes before the fallbacks: 84 whole characters, none
      // split.
      {"beyond 255 bytes", repeat(kNichi, 90), false, "\"" + repeat(kNichi, 84) + "\""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Scan.settings.showFileSize = c.fileSize;
    EXPECT_EQ(composeFileLine(Readers[0], c.name, 5000).view(), c.line);
  }
}

}  // namespace
