#include "platform/fake/fake.h"
#include "scan/test_support.h"

namespace {

struct Formatted {
  int64_t value;
  const char* text;
};

TEST(NumberFormatting, FileSizesMoveUpAtEachStep) {
  const Formatted cases[] = {
      {0, "0B"},          {1023, "1023B"},         {1024, "1kB"},
      {1536, "2kB"},      {2560, "2kB"},           {3584, "4kB"},
      {12000, "12kB"},    {1048575, "1024kB"},     {1048576, "1MB"},
      {1073741823, "1024MB"}, {1073741824, "1GB"}, {(int64_t{5} << 30) + 10, "5GB"},
      {-5, "-5B"},
  };
  for (const Formatted& c : cases) EXPECT_EQ(formatFileSize(c.value).view(), c.text) << c.value;
}

TEST(NumberFormatting, CheckedBytesMoveUpAboveEachStep) {
  const Formatted cases[] = {
      {0, "0B"},           {1024, "1024B"},         {1025, "1kB"},
      {1048576, "1024kB"}, {1048577, "1MB"},        {1073741824, "1024MB"},
      {1073741825, "1GB"}, {int64_t{3} << 40, "3072GB"},
  };
  for (const Formatted& c : cases) EXPECT_EQ(formatCheckedBytes(c.value).view(), c.text) << c.value;
}

TEST(NumberFormatting, SpeedsStopAtMegabytes) {
  const Formatted cases[] = {
      {1, "1B/s"},           {1024, "1024B/s"},       {1025, "1kB/s"},
      {1048576, "1024kB/s"}, {1048577, "1MB/s"},      {2000000000, "1907MB/s"},
      {int64_t{5} << 40, "5242880MB/s"},
  };
  for (const Formatted& c : cases) EXPECT_EQ(formatSpeed(c.value).view(), c.text) << c.value;
}

TEST(NumberFormatting, TiesGoToTheEvenNeighbour) {
  const struct {
    int64_t value;
    int shift;
    int64_t rounded;
  } cases[] = {
      {3 * 512, 10, 2}, {5 * 512, 10, 2}, {7 * 512, 10, 4}, {1535, 10, 1},
      {1537, 10, 2},    {(int64_t{1} << 19) * 3, 20, 2},    {(int64_t{1} << 29) * 5, 30, 2},
      {12345, 0, 12345},
  };
  for (const auto& c : cases) EXPECT_EQ(scaledRound(c.value, c.shift), c.rounded) << c.value;
}

TEST(NumberFormatting, Percentages) {
  const struct {
    int64_t checked;
    int64_t limit;
    int64_t percent;
  } cases[] = {
      {5, 200, 2},   {7, 200, 4},    {50 << 20, 100 << 20, 50}, {0, 1, 0},
      {64, 10, 640}, {int64_t{1} << 62, 2147483647, 214748364900}, {199, 200, 100},
  };
  for (const auto& c : cases) EXPECT_EQ(percentOf(c.checked, c.limit), c.percent) << c.checked;
}

TEST(Speed, ArithmeticAndRounding) {
  const struct {
    int64_t bytes;
    int64_t hundredths;
    int64_t speed;
  } cases[] = {
      {1000, 50, 2000}, {3, 200, 2}, {5, 200, 2}, {7, 200, 4}, {1, 300, 0},
      {100, 0, -1},     {100, -5, -1}, {int64_t{5} << 32, 1, 2147483648000},
  };
  for (const auto& c : cases) EXPECT_EQ(speedFrom(c.bytes, c.hundredths), c.speed) << c.bytes;
}

struct SpeedFixture : ScanFixture {
  void SetUp() override {
    resetFakePlatform();
    resetScan();
  }
};

TEST_F(SpeedFixture, SamplesTakeTheScanAverageAndKeepTheLastPositiveSpeed) {
  prepare(5);
  lastSpeed = 7;  // left from an earlier scan
  FakeHundredths = 100000;
  startSpeedMeasurement();
  // Same hundredth as the start: nothing is computed, the old speed shows.
  for (int i = 0; i < 50; ++i) countRead(Readers[0], 10);
  EXPECT_EQ(Scan.currentSpeed, 0);
  EXPECT_EQ(takeSpeedForDisplay(), 7);
  // Half a second later: 1000 bytes over 0.5 s. The reads that deliver
  // nothing give the one-in-eight sample its chances after the last bytes.
  FakeHundredths += 50;
  for (int i = 0; i < 50; ++i) countRead(Readers[0], 10);
  for (int i = 0; i < 60; ++i) countRead(Readers[0], 0);
  EXPECT_EQ(Scan.speedBytes, 1000);
  EXPECT_EQ(Scan.currentSpeed, 2000);
  EXPECT_EQ(takeSpeedForDisplay(), 2000);
  EXPECT_EQ(lastSpeed, 2000);
}

// A sample of 0 is kept as the current speed: it takes the place of a
// newer speed that the display has not taken yet, which then never shows.
TEST_F(SpeedFixture, ASampleOfZeroReplacesASpeedNotYetShown) {
  prepare(5);
  lastSpeed = 7;  // shown last, in an earlier scan
  FakeHundredths = 100000;
  startSpeedMeasurement();
  FakeHundredths += 50;
  for (int i = 0; i < 100; ++i) countRead(Readers[0], 10);
  ASSERT_GT(Scan.currentSpeed, 0);
  // Hours later, 1000 bytes over the whole time round to 0 bytes a second.
  FakeHundredths += 100000000;
  for (int i = 0; i < 100; ++i) countRead(Readers[0], 0);
  EXPECT_EQ(Scan.currentSpeed, 0);
  EXPECT_EQ(takeSpeedForDisplay(), 7);
  EXPECT_EQ(lastSpeed, 7);
}

struct DisplayFixture : ScanFixture {
  void SetUp() override {
    resetFakePlatform();
    resetScan();
    Scan.rootFolder = "R:\\data\\";
    Readers[0].subPath = "sub\\";
    Readers[0].readPosition = 4096;
  }
};

TEST_F(DisplayFixture, FileLine) {
  const struct {
    const char* what;
    bool readByte, fileSize, fullSize;
    const char* name;
    int64_t size;
    const char* line;
  } cases[] = {
      {"path alone", false, false, false, "file.bin", 12000, "\"R:\\data\\sub\\file.bin\""},
      {"with position", true, false, false, "file.bin", 12000, "byte: 4096 of \"R:\\data\\sub\\file.bin\""},
      {"with scaled size", false, true, false, "file.bin", 12000, "\"R:\\data\\sub\\file.bin\" (12kB)"},
      {"with full size", false, true, true, "file.bin", 12000, "\"R:\\data\\sub\\file.bin\" (12000B)"},
      {"size of 1023", false, true, false, "f", 1023, "\"R:\\data\\sub\\f\" (1023B)"},
      {"no size part for an empty file", false, true, false, "f", 0, "\"R:\\data\\sub\\f\""},
      {"everything", true, true, false, "f", int64_t{6} << 30, "byte: 4096 of \"R:\\data\\sub\\f\" (6GB)"},
      {"too long: the quoted path alone", true, true, true, "a-rather-long-file-name-of-thirty.bin",
       1234567, "\"R:\\data\\sub\\a-rather-long-file-name-of-thirty.bin\""},
      {"path too long: the quoted name alone", false, false, false,
       "an-extremely-long-file-name-that-fills-the-whole-line-alone.bin", 5,
       "\"an-extremely-long-file-name-that-fills-the-whole-line-alone.bin\""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Scan.settings.showReadByte = c.readByte;
    Scan.settings.showFileSize = c.fileSize;
    Scan.settings.showFullFileSize = c.fullSize;
    EXPECT_EQ(composeFileLine(Readers[0], c.name, c.size).view(), c.line);
  }
}

TEST_F(DisplayFixture, CountersLine) {
  const struct {
    const char* what;
    bool checked, percents, speed, open, read, full;
    int32_t limit;
    int64_t checkedBytes, shownSpeed, openErrors, readErrors;
    const char* line;
  } cases[] = {
      {"all pieces", true, true, true, true, true, false, 37008565, 12582912, 5120, 0, 2,
       "checked 12MB (34%), 5kB/s, opening errors: 0, reading errors: 2"},
      {"no percentage without a limit", true, true, false, false, false, false, 0, 1024, 0, 0, 0,
       "checked 1024B"},
      {"no speed before the first one", true, false, true, true, false, false, 0, 0, 0, 0, 0,
       "checked 0B, opening errors: 0"},
      {"errors alone", false, false, false, false, true, false, 0, 0, 0, 4, 3, "reading errors: 3"},
      {"full counts that fit", true, false, true, false, false, true, 0, 1000, 1000, 0, 0,
       "checked 1000B, 1000B/s"},
      {"full counts too long: scaled instead", true, true, true, true, false, true, 2000000000,
       1000000000, 2000000000, 1234567, 0, "checked 954MB (50%), 1907MB/s, opening errors: 1234567"},
      {"still too long when scaled: written as it is", true, true, true, true, true, true, 2000000000,
       1000000000, 2000000000, 1234567, 7654321,
       "checked 954MB (50%), 1907MB/s, opening errors: 1234567, reading errors: 7654321"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Settings& set = Scan.settings;
    set.showCheckedBytes = c.checked;
    set.showCheckedBytesInPercents = c.percents;
    set.measureReadingSpeed = c.speed;
    set.showOpenErrors = c.open;
    set.showReadErrors = c.read;
    set.showFullFileSize = c.full;
    set.stopAfterChecked = c.limit;
    Scan.checkedBytes = c.checkedBytes;
    Scan.currentSpeed = 0;
    lastSpeed = c.shownSpeed;
    Scan.openErrors = c.openErrors;
    Scan.readErrors = c.readErrors;
    EXPECT_EQ(composeCountersLine().view(), c.line);
  }
}

TEST_F(DisplayFixture, TitleChangesOnlyWhenThePercentageGrows) {
  Scan.settings.stopAfterChecked = 200;
  const int64_t checked[] = {1, 5, 6, 7, 7, 3, 2000};
  for (int64_t c : checked) {
    Scan.checkedBytes = c;
    updateTitlePercent();
  }
  // 1 byte is 0.5%, which rounds to 0 and writes nothing; 6 is 3%, 3 is
  // lower than what is shown.
  const std::vector<std::string> expected = {"text MainWindow: Readsweeper 2%", "text MainWindow: Readsweeper 3%",
                                             "text MainWindow: Readsweeper 4%",
                                             "text MainWindow: Readsweeper 1000%"};
  EXPECT_EQ(WindowLog, expected);
}

TEST(RootFolder, TakesThePathUpToItsLastBackslash) {
  const struct {
    const char* path;
    const char* root;
  } cases[] = {
      {"C:\\data\\*.txt", "C:\\data\\"}, {"C:\\data\\", "C:\\data\\"}, {"C:\\data", "C:\\"},
      {"C:\\", "C:\\"},                 {"data", ""},                {"", ""},
      {"C:/data/", ""},                 {"\\\\srv\\share\\x", "\\\\srv\\share\\"},
  };
  for (const auto& c : cases) EXPECT_EQ(takeRootFolder(Text(c.path)).view(), c.root) << c.path;
}

TEST(SettingsSummary, Pieces) {
  const struct {
    const char* what;
    bool setup, scanAll, full;
    int32_t repeat, bytes, errors, checked;
    const char* summary;
  } cases[] = {
      {"off", false, true, false, 3, 512, 10, 10485760, ""},
      {"defaults", true, false, false, 1, 1, 0, 0, "settings: 1 bytes at once "},
      {"all pieces", true, true, false, 3, 512, 10, 10485760,
       "settings: scan all files, 3x repeat read, 512 bytes at once, stop after 10 error bytes, check 10MB"},
      {"full limit", true, true, true, 3, 512, 10, 10485760,
       "settings: scan all files, 3x repeat read, 512 bytes at once, stop after 10 error bytes, check 10485760B"},
      {"repeat of 2", true, false, false, 2, 1, 0, 0, "settings: 2x repeat read, 1 bytes at once "},
      {"error limit last", true, false, false, 1, 64, 7, 0, "settings: 64 bytes at once, stop after 7 error bytes "},
      {"check 1023B", true, false, false, 1, 1, 0, 1023, "settings: 1 bytes at once, check 1023B"},
      {"check 1kB", true, false, false, 1, 1, 0, 1024, "settings: 1 bytes at once, check 1kB"},
      {"check 2kB from 1536", true, false, false, 1, 1, 0, 1536, "settings: 1 bytes at once, check 2kB"},
      {"check 2kB from 2560", true, false, false, 1, 1, 0, 2560, "settings: 1 bytes at once, check 2kB"},
      {"check 1MB", true, false, false, 1, 1, 0, 1048576, "settings: 1 bytes at once, check 1MB"},
      {"check 1GB", true, false, false, 1, 1, 0, 1073741824, "settings: 1 bytes at once, check 1GB"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Settings s;
    s.showSetup = c.setup;
    s.scanAllFiles = c.scanAll;
    s.showFullFileSize = c.full;
    s.repeatRead = c.repeat;
    s.bytesToReadAtOnce = c.bytes;
    s.stopAfterErrors = c.errors;
    s.stopAfterChecked = c.checked;
    EXPECT_EQ(composeSettingsSummary(s).view(), c.summary);
  }
}

// The pieces of the newer settings sit among the others in a fixed order:
// the modes after "scan all files", the two limits before the check piece.
TEST(SettingsSummary, PiecesOfTheModesAndLimits) {
  const struct {
    const char* what;
    bool everyFile, pastCache;
    int32_t cycles, seconds;
    const char* summary;
  } cases[] = {
      {"none", false, false, 0, 0, "settings: scan all files, 512 bytes at once, stop after 10 error bytes, check 10MB"},
      {"every file", true, false, 0, 0,
       "settings: scan all files, every file, 512 bytes at once, stop after 10 error bytes, check 10MB"},
      {"past cache", false, true, 0, 0,
       "settings: scan all files, past cache, 512 bytes at once, stop after 10 error bytes, check 10MB"},
      {"cycles", true, true, 2, 0,
       "settings: scan all files, every file, past cache, 512 bytes at once, stop after 10 error bytes, "
       "stop after 2 cycles, check 10MB"},
      {"seconds after cycles", true, false, 1, 90,
       "settings: scan all files, every file, 512 bytes at once, stop after 10 error bytes, stop after 1 cycles, "
       "stop after 90 s, check 10MB"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Settings s;
    s.showSetup = true;
    s.scanAllFiles = true;
    s.bytesToReadAtOnce = 512;
    s.stopAfterErrors = 10;
    s.stopAfterChecked = 10485760;
    s.checkEveryFile = c.everyFile;
    s.readPastCache = c.pastCache;
    s.stopAfterCycles = c.cycles;
    s.stopAfterSeconds = c.seconds;
    EXPECT_EQ(composeSettingsSummary(s).view(), c.summary);
  }
  // A limit with nothing after it ends the summary in its space alone.
  Settings s;
  s.showSetup = true;
  s.stopAfterSeconds = 30;
  s.errorList = "errors.csv";  // no piece of its own
  EXPECT_EQ(composeSettingsSummary(s).view(), "settings: 1 bytes at once, stop after 30 s ");
}

// The readers, the rate and the background mode follow "past cache", each
// only when it is not the default. (A summary ending in a piece without a
// value keeps the space of its separator.)
TEST(SettingsSummary, PiecesOfTheReadersTheRateAndTheBackground) {
  const struct {
    const char* what;
    int32_t readers;
    int64_t rate;
    bool background, fullSizes;
    const char* summary;
  } cases[] = {
      {"defaults", 1, 0, false, false, "settings: every file, past cache, 512 bytes at once "},
      {"readers", 8, 0, false, false, "settings: every file, past cache, 8 readers, 512 bytes at once "},
      {"rate", 1, 20971520, false, false, "settings: every file, past cache, at most 20MB/s, 512 bytes at once "},
      {"exact rate", 1, 20971520, false, true,
       "settings: every file, past cache, at most 20971520B/s, 512 bytes at once "},
      {"background", 1, 0, true, false, "settings: every file, past cache, background, 512 bytes at once "},
      {"all three", 16, 1536, true, false,
       "settings: every file, past cache, 16 readers, at most 2kB/s, background, 512 bytes at once "},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Settings s;
    s.showSetup = true;
    s.checkEveryFile = s.readPastCache = true;
    s.bytesToReadAtOnce = 512;
    s.parallelReads = c.readers;
    s.readRateLimit = c.rate;
    s.backgroundPriority = c.background;
    s.showFullFileSize = c.fullSizes;
    EXPECT_EQ(std::string(composeSettingsSummary(s).view()), c.summary);
  }
}

// Whole-file reads name the block they use, which is not always the one
// "bytes to read at once:" gives.
TEST(SettingsSummary, WholeFilesNameTheirBlockAndTheSlowReadLimitItsTime) {
  const struct {
    int32_t bytesAtOnce;
    bool pastCache;
    int32_t slowLimit;
    const char* summary;
  } cases[] = {
      {1, false, 0, "settings: whole files in 1048576-byte blocks, 1 bytes at once "},
      {100000, false, 0, "settings: whole files in 100000-byte blocks, 100000 bytes at once "},
      {100000, true, 250,
       "settings: past cache, whole files in 65536-byte blocks, slow read over 250 ms, 100000 bytes at once "},
  };
  for (const auto& c : cases) {
    Settings s;
    s.showSetup = s.readWholeFiles = true;
    s.bytesToReadAtOnce = c.bytesAtOnce;
    s.readPastCache = c.pastCache;
    s.slowReadLimit = c.slowLimit;
    EXPECT_EQ(composeSettingsSummary(s).view(), c.summary);
  }
}

TEST(SettingsSummary, RefreshWritesTheLineEvenWhenEmpty) {
  resetFakePlatform();
  Settings s;
  refreshSettingsLine(s);
  s.showSetup = true;
  refreshSettingsLine(s);
  const std::vector<std::string> expected = {"text SettingsLine: ", "text SettingsLine: settings: 1 bytes at once "};
  EXPECT_EQ(WindowLog, expected);
  EXPECT_EQ(versionText().view(), "version 0.03.4");
}

}  // namespace
