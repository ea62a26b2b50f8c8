// The error list on the system's own layer (POSIX natively, Win32 under
// Wine): the file, its line ends, the system's codes and texts.
#include <cerrno>
#include <filesystem>

#include "common/test_support.h"
#include "platform/fake/fake.h"
#include "scan/error_list.h"
#include "scan/test_support.h"

namespace {

bool posix() { return kPathSeparator == '/'; }

struct RealErrorList : ScanFixture {
  ScopedTempDir dir;  // the current directory
  std::string root;

  void SetUp() override {
    resetFakeWindow();
    resetScan();
    root = dir.path().string() + kPathSeparator;
    s.selectNextFile = 100;
  }
  void TearDown() override { openErrorList(Text(), nullptr); }

  // The list's lines after its byte-order mark and header, each without
  // its line end and its time, which is checked for its form.
  std::vector<std::string> lines(const std::string& list) {
    std::string all = readTestFile(list);
    std::string start = std::string("\xEF\xBB\xBFtime,event,path,offset,requested,obtained,code,message") + kLineEnd;
    EXPECT_EQ(all.substr(0, start.size()), start);
    std::vector<std::string> result;
    std::size_t at = start.size();
    while (at < all.size()) {
      std::size_t end = all.find(kLineEnd, at);
      if (end == std::string::npos) {
        ADD_FAILURE() << "a line without its end: " << all.substr(at);
        break;
      }
      std::string line = all.substr(at, end - at);
      // "YYYY-MM-DD hh:mm:ss.mmm,"
      const std::string form = "dddd-dd-dd dd:dd:dd.ddd,";
      bool timed = line.size() > form.size();
      for (std::size_t i = 0; timed && i < form.size(); ++i) {
        timed = form[i] == 'd' ? line[i] >= '0' && line[i] <= '9' : line[i] == form[i];
      }
      EXPECT_TRUE(timed) << line;
      EXPECT_EQ(line.find('\n'), std::string::npos) << line;
      result.push_back(timed ? line.substr(form.size()) : line);
      at = end + std::string_view(kLineEnd).size();
    }
    return result;
  }
};

TEST_F(RealErrorList, EventsWithTheSystemsCodesAndTexts) {
  std::filesystem::create_directory(dir.path() / "folder");
  writeTestFile("short.bin", std::string(100, 's'));
  s.bytesToReadAtOnce = 100;
  prepare(8);
  // Relative to the current directory, like the settings file.
  ASSERT_EQ(openErrorList(Text("errors.csv"), nullptr), 0);
  checkFile(Readers[0], root + "gone.bin", "gone.bin", 10);
  // A folder handed to the check fails to open, as on Windows.
  checkFile(Readers[0], root + "folder", "folder", 0);
  // Listed with 1000 bytes, it holds 100: a read past them comes back short.
  do {
    checkFile(Readers[0], root + "short.bin", "short.bin", 1000);
  } while (Readers[0].readPosition == 0);
  closeErrorList();

  const int notFound = 2;  // ENOENT and ERROR_FILE_NOT_FOUND alike
  const int aFolder = posix() ? EISDIR : 5;
  if (posix()) {
    EXPECT_EQ(errorText(ENOENT), "No such file or directory");
    EXPECT_EQ(errorText(EISDIR), "Is a directory");
  }
  for (int code : {notFound, aFolder, 32, 112}) {
    std::string text(errorText(code).view());
    EXPECT_NE(text, "unknown error") << code;
    EXPECT_EQ(text.find_first_of("\r\n"), std::string::npos) << code;
    EXPECT_NE(text.back(), ' ') << code;
  }
  int64_t obtained = std::max<int64_t>(0, 100 - Readers[0].readPosition);
  const std::vector<std::string> expected = {
      "open failed," + root + "gone.bin,,,,2," + std::string(errorText(notFound).view()),
      "open failed," + root + "folder,,,," + std::to_string(aFolder) + "," + std::string(errorText(aFolder).view()),
      "short read," + root + "short.bin," + std::to_string(Readers[0].readPosition) + ",100," + std::to_string(obtained) +
          ",0,end of file",
  };
  EXPECT_EQ(lines("errors.csv"), expected);
  EXPECT_EQ(Scan.openErrors, 2);
}

TEST_F(RealErrorList, ListsThatCannotBeOpened) {
  std::filesystem::create_directory(dir.path() / "folder");
  const struct {
    std::string path;
    int code;
  } cases[] = {
      {std::string("missing") + kPathSeparator + "errors.csv", posix() ? ENOENT : 3},
      {"folder", posix() ? EISDIR : 5},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    Text failure;
    EXPECT_EQ(openErrorList(Text(c.path), &failure), c.code);
    Text expected("cannot open the error list ");
    expected += c.path;
    expected += ": ";
    expected += errorText(c.code);
    expected += " (code ";
    expected.appendInt(c.code);
    expected += ")";
    EXPECT_EQ(failure, expected);
  }
  EXPECT_FALSE(testEntryExists("missing"));
}

// The list holds its file open for the whole scan; the scan still opens
// and reads it like any other file.
TEST_F(RealErrorList, AListInsideTheScannedTreeIsScannedLikeAnyOtherFile) {
  FakePathText = root;
  // The list is the only file: every walk runs out on it.
  s.scanAllFiles = true;
  s.skipFile = 0;
  s.stopAfterChecked = 300;
  prepare(4);
  ASSERT_EQ(openErrorList(Text(root + "errors.csv"), nullptr), 0);
  runScan();
  EXPECT_EQ(Scan.checkedBytes, 300);
  EXPECT_EQ(Scan.filesChecked, 300);
  EXPECT_EQ(Scan.openErrors + Scan.readErrors, 0);
  std::vector<std::string> all = lines("errors.csv");
  ASSERT_EQ(all.size(), 2u);
  EXPECT_EQ(all[0].rfind("scan start," + root + ",,,,,\"version ", 0), 0u) << all[0];
  EXPECT_EQ(all[1], "scan end," + root + ",,,,,\"checked 300 B, files checked 300, opening errors 0, reading errors 0, " +
                        std::to_string(scanResult().elapsedMilliseconds / 1000) + " s, 0 repeated events not listed\"");
}

TEST_F(RealErrorList, AFullDiskStopsTheScan) {
  if (!posix()) GTEST_SKIP() << "needs /dev/full";
  writeTestFile("a.bin", std::string(100, 'a'));
  FakePathText = root;
  s.scanAllFiles = true;
  s.skipFile = 0;
  prepare();
  // A device: nothing to give a header to, and every write fails.
  ASSERT_EQ(openErrorList(Text("/dev/full"), nullptr), 0);
  runScan();
  EXPECT_EQ(scanResult().stoppedBy, StopReason::ErrorList);
  EXPECT_EQ(Scan.filesChecked, 1);  // the first pass still runs
  Text failure("cannot write the error list /dev/full: No space left on device (code ");
  failure.appendInt(ENOSPC);
  failure += ")";
  EXPECT_EQ(errorListFailure(), failure);
  ASSERT_GE(WindowLog.size(), 4u);
  EXPECT_EQ(WindowLog.end()[-4], "text FileLine: " + std::string(failure.view()));
}

}  // namespace
