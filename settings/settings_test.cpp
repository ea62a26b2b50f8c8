#include "settings/settings.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "settings/setting_line.h"

namespace {

// Every field of the record in one line, so that a comparison shows which
// field went wrong and catches a line that touched a field it should not.
std::string describe(const Settings& s) {
  std::string d;
  const bool flags[] = {s.instantStart, s.showCheckedBytes, s.showReadErrors, s.showOpenErrors,
                        s.showFileName, s.showFileSize, s.measureReadingSpeed, s.showCheckedBytesInPercents,
                        s.skipSmallFiles, s.showFullFileSize, s.runMinimized, s.scanAllFiles,
                        s.showSetup, s.showReadByte, s.checkEveryFile, s.readPastCache,
                        s.readWholeFiles, s.backgroundPriority};
  d += "flags=";
  for (bool f : flags) d += f ? '1' : '0';
  d += " checkFiles=[" + std::string(s.checkFiles.view()) + "]";
  d += " defaultInitPath=[" + std::string(s.defaultInitPath.view()) + "]";
  d += " errorList=[" + std::string(s.errorList.view()) + "]";
  d += " cycleState=[" + std::string(s.cycleState.view()) + "]";
  d += " stopAfterChecked=" + std::to_string(s.stopAfterChecked);
  d += " stopAfterErrors=" + std::to_string(s.stopAfterErrors);
  d += " windowRefresh=" + std::to_string(s.windowRefresh);
  d += " selectNextFile=" + std::to_string(s.selectNextFile);
  d += " skipFile=" + std::to_string(s.skipFile);
  d += " bytesToReadAtOnce=" + std::to_string(s.bytesToReadAtOnce);
  d += " repeatRead=" + std::to_string(s.repeatRead);
  d += " selectSubfolder=" + std::to_string(s.selectSubfolder);
  d += " windowY=" + std::to_string(s.windowY);
  d += " windowX=" + std::to_string(s.windowX);
  d += " stopAfterCycles=" + std::to_string(s.stopAfterCycles);
  d += " stopAfterSeconds=" + std::to_string(s.stopAfterSeconds);
  d += " slowReadLimit=" + std::to_string(s.slowReadLimit);
  d += " parallelReads=" + std::to_string(s.parallelReads);
  d += " readRateLimit=" + std::to_string(s.readRateLimit);
  return d;
}

// One "name=value" of describe(); texts are bracketed and may hold blanks.
std::string fieldOf(const std::string& d, const std::string& name) {
  std::size_t at = d.rfind(name, 0) == 0 ? 0 : d.find(" " + name);
  if (at == std::string::npos) return "(no field " + name + ")";
  if (at != 0) ++at;
  std::size_t begin = at + name.size();
  std::size_t end = d[begin] == '[' ? d.find(']', begin) + 1 : d.find(' ', begin);
  return d.substr(begin, end == std::string::npos ? std::string::npos : end - begin);
}

Settings defaults() {
  Settings s;
  // Start from a record that is wrong everywhere, so a default that is not
  // set shows up.
  s.instantStart = s.showSetup = s.showReadByte = true;
  s.checkFiles = "x";
  s.stopAfterChecked = 7;
  s.windowRefresh = 99;
  s.windowX = 5;
  setDefaultSettings(s);
  return s;
}

Settings loaded(const std::vector<std::string>& lines) {
  Settings s = defaults();
  for (const std::string& l : lines) {
    Text line(l);
    applySettingLine(s, line, parseSettingLine(line));
  }
  return s;
}

}  // namespace

TEST(SettingsRecord, DefaultsAndNoFileDefaults) {
  Settings s = defaults();
  EXPECT_EQ(describe(s),
            "flags=000000000000000000 checkFiles=[] defaultInitPath=[] errorList=[] cycleState=[] stopAfterChecked=0 "
            "stopAfterErrors=0 windowRefresh=25 selectNextFile=50 skipFile=50 bytesToReadAtOnce=1 repeatRead=1 "
            "selectSubfolder=25 windowY=-1 windowX=-1 stopAfterCycles=0 stopAfterSeconds=0 slowReadLimit=0 "
            "parallelReads=1 readRateLimit=0");
  s.stopAfterErrors = 3;
  applyNoFileDefaults(s);
  // showCheckedBytes, showReadErrors, showOpenErrors, showFileName and
  // showFullFileSize, nothing else.
  EXPECT_EQ(describe(s),
            "flags=011110000100000000 checkFiles=[] defaultInitPath=[] errorList=[] cycleState=[] stopAfterChecked=0 "
            "stopAfterErrors=3 windowRefresh=25 selectNextFile=50 skipFile=50 bytesToReadAtOnce=1 repeatRead=1 "
            "selectSubfolder=25 windowY=-1 windowX=-1 stopAfterCycles=0 stopAfterSeconds=0 slowReadLimit=0 "
            "parallelReads=1 readRateLimit=0");
}

TEST(SettingsRecord, EachFlagKeyTurnsOnItsOwnFlag) {
  const char* keys[] = {"instant start", "show checked bytes", "show read errors", "show open errors",
                        "show file name", "show file size", "measure reading speed",
                        "show checked bytes in percents", "skip small files", "show full file size",
                        "run minimized", "scan all files", "show setup", "show read byte",
                        "check every file", "read past cache", "read whole files", "background priority"};
  for (std::size_t i = 0; i < std::size(keys); ++i) {
    std::string expected(std::size(keys), '0');
    expected[i] = '1';
    EXPECT_EQ(describe(loaded({keys[i]})).substr(6, std::size(keys)), expected) << keys[i];
  }
}

TEST(SettingsRecord, AcceptanceRules) {
  const struct {
    std::vector<std::string> lines;
    const char* field;  // the part of describe() that must read...
    const char* value;  // ...like this
  } cases[] = {
      // Flags: the whole line, byte for byte.
      {{"Instant start"}, "flags=", "000000000000000000"},
      {{"instant start "}, "flags=", "000000000000000000"},
      {{" instant start"}, "flags=", "000000000000000000"},
      {{"show setup", "show setup"}, "flags=", "000000000000100000"},
      {{"check every file "}, "flags=", "000000000000000000"},
      {{"Read past cache"}, "flags=", "000000000000000000"},
      {{"read whole files:"}, "flags=", "000000000000000000"},
      // Texts take any value, the empty one included.
      {{"check files: D:\\data\\"}, "checkFiles=", "[D:\\data\\]"},
      {{"check files: X", "check files:"}, "checkFiles=", "[]"},
      {{"default init path: C:\\x\\"}, "defaultInitPath=", "[C:\\x\\]"},
      {{"Check files: D:\\"}, "checkFiles=", "[]"},
      {{"error list: D:\\errors.csv"}, "errorList=", "[D:\\errors.csv]"},
      {{"error list: x.csv", "error list:"}, "errorList=", "[]"},
      {{"error list:x.csv"}, "errorList=", "[.csv]"},
      {{"cycle state: D:\\night\\cycle.txt"}, "cycleState=", "[D:\\night\\cycle.txt]"},
      {{"cycle state: a.txt", "cycle state:"}, "cycleState=", "[]"},
      // Ranges.
      {{"window refresh: 0"}, "windowRefresh=", "25"},
      {{"window refresh: 101"}, "windowRefresh=", "25"},
      {{"window refresh: 100"}, "windowRefresh=", "100"},
      {{"window refresh: 356"}, "windowRefresh=", "25"},  // 356 would wrap to 100 in a byte
      {{"window refresh:50"}, "windowRefresh=", "25"},  // "5" separates, 0 is out of range
      {{"window refresh:5"}, "windowRefresh=", "25"},   // one character: no number
      {{"window refresh:   30"}, "windowRefresh=", "30"},  // two blanks left after the separator
      {{"window refresh: 30 "}, "windowRefresh=", "25"},
      {{"window refresh: 2x"}, "windowRefresh=", "25"},
      {{"window refresh: $1E"}, "windowRefresh=", "30"},
      {{"skip file: 0"}, "skipFile=", "0"},
      {{"skip file: 101"}, "skipFile=", "50"},
      {{"skip file: -1"}, "skipFile=", "50"},
      {{"select next file: 0"}, "selectNextFile=", "50"},
      {{"select subfolder: 0"}, "selectSubfolder=", "25"},
      {{"stop after errors: -1"}, "stopAfterErrors=", "0"},
      {{"stop after errors: 12", "stop after errors: -1"}, "stopAfterErrors=", "12"},
      {{"stop after errors: 12", "stop after errors:10"}, "stopAfterErrors=", "0"},  // "1" separates, 0 is taken
      {{"stop after checked: 2147483647"}, "stopAfterChecked=", "2147483647"},
      {{"stop after checked: 2147483648"}, "stopAfterChecked=", "0"},
      {{"stop after checked: $FFFFFFFF"}, "stopAfterChecked=", "0"},  // -1
      {{"bytes to read at once: 0"}, "bytesToReadAtOnce=", "1"},
      {{"stop after cycles: 3"}, "stopAfterCycles=", "3"},
      {{"stop after cycles: -1"}, "stopAfterCycles=", "0"},
      {{"stop after cycles: 1x"}, "stopAfterCycles=", "0"},
      {{"stop after seconds: 7200"}, "stopAfterSeconds=", "7200"},
      {{"stop after seconds: 60", "stop after seconds: -1"}, "stopAfterSeconds=", "60"},
      {{"stop after seconds: 2147483648"}, "stopAfterSeconds=", "0"},
      {{"slow read limit: 250"}, "slowReadLimit=", "250"},
      {{"slow read limit: 250", "slow read limit: 0"}, "slowReadLimit=", "0"},
      {{"slow read limit: 250", "slow read limit: -1"}, "slowReadLimit=", "250"},
      {{"slow read limit: 2147483648"}, "slowReadLimit=", "0"},
      {{"slow read limit"}, "slowReadLimit=", "0"},
      {{"parallel reads: 8"}, "parallelReads=", "8"},
      {{"parallel reads: 64"}, "parallelReads=", "64"},
      {{"parallel reads: 0"}, "parallelReads=", "1"},
      {{"parallel reads: 65"}, "parallelReads=", "1"},
      {{"parallel reads: 4", "parallel reads: 100"}, "parallelReads=", "4"},
      {{"read rate limit: 20971520"}, "readRateLimit=", "20971520"},
      {{"read rate limit: $100000"}, "readRateLimit=", "1048576"},
      {{"read rate limit: 5", "read rate limit: 0"}, "readRateLimit=", "0"},
      {{"read rate limit: 2147483648"}, "readRateLimit=", "0"},
      {{"read rate limit: 20M"}, "readRateLimit=", "0"},
      {{"Background priority"}, "flags=", "000000000000000000"},
      {{"repeat read: 3", "repeat read: 5"}, "repeatRead=", "5"},
      {{"repeat read: 5", "repeat read: x"}, "repeatRead=", "5"},
      {{"repeat read: 0"}, "repeatRead=", "1"},
      // The crossed position keys and the low 16 bits.
      {{"window horizontal position: 120"}, "windowY=", "120"},
      {{"window vertical position: 80"}, "windowX=", "80"},
      {{"window horizontal position: 120"}, "windowX=", "-1"},
      {{"window vertical position: -5"}, "windowX=", "-1"},
      {{"window vertical position: 65535"}, "windowX=", "-1"},
      {{"window vertical position: 65537"}, "windowX=", "1"},
      {{"window vertical position: 40000"}, "windowX=", "-25536"},
      // Where 0 is in range, a value that is not a number, or no value at
      // all, must not pass for 0.
      {{"skip file: x"}, "skipFile=", "50"},
      {{"skip file:5"}, "skipFile=", "50"},  // one character after the colon: nothing read
      {{"skip file:"}, "skipFile=", "50"},
      {{"stop after errors: 12", "stop after errors: 1x"}, "stopAfterErrors=", "12"},
      {{"stop after errors: 12", "stop after errors:"}, "stopAfterErrors=", "12"},
      {{"stop after checked: 99", "stop after checked: 9 9"}, "stopAfterChecked=", "99"},
      {{"stop after checked: 99", "stop after checked:7"}, "stopAfterChecked=", "99"},
      {{"window horizontal position: 120", "window horizontal position: 5y"}, "windowY=", "120"},
      {{"window horizontal position: 120", "window horizontal position:"}, "windowY=", "120"},
      {{"window vertical position: 80", "window vertical position: $"}, "windowX=", "80"},
      {{"window vertical position: 80", "window vertical position:3"}, "windowX=", "80"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(fieldOf(describe(loaded(c.lines)), c.field), c.value)
        << "lines starting with \"" << c.lines.front() << "\"";
  }
}

TEST(SettingsRecord, ALineChangesNoOtherField) {
  const std::string untouched = describe(defaults());
  const char* ignored[] = {"", "notes about the scan", "show setup ", "window refresh 30", "skip file: 200",
                           "check files", "window  refresh: 30", "show checked bytes in percent"};
  for (const char* line : ignored) EXPECT_EQ(describe(loaded({line})), untouched) << line;

  // A key line with a value sets its field and nothing else.
  Settings expected = defaults();
  expected.stopAfterChecked = 1000;
  EXPECT_EQ(describe(loaded({"stop after checked: 1000"})), describe(expected));
}

TEST(SettingLine, SplitsKeyAndValue) {
  const struct {
    std::string line;
    const char* key;
    std::string value;
    int32_t number;
    bool numberRead;  // numberError != -1
    bool valid;       // numberError == 0
  } cases[] = {
      {"show setup", "show setup", "", 0, false, false},
      {"", "", "", 0, false, false},
      {"check files: D:\\data\\", "check files:", "D:\\data\\", 0, true, false},
      {"check files:D:\\data\\", "check files:", ":\\data\\", 0, true, false},
      {"check files:  X", "check files:", " X", 0, true, false},
      {"check files:", "check files:", "", 0, false, false},
      {"check files: ", "check files:", " ", 0, false, false},
      {"check files:X", "check files:", "X", 0, false, false},
      {"window refresh: 25", "window refresh:", "25", 25, true, true},
      {"window refresh:50", "window refresh:", "0", 0, true, true},
      {"window refresh:5", "window refresh:", "5", 0, false, false},
      {"window refresh:\t-7", "window refresh:", "-7", -7, true, true},
      {"a:b:c", "a:", ":c", 0, true, false},  // only the first colon counts
      {"a::5", "a:", "5", 5, true, true},
      {":", ":", "", 0, false, false},
      {"no colon but 25", "no colon but 25", "", 0, false, false},
  };
  for (const auto& c : cases) {
    ParsedSettingLine p = parseSettingLine(Text(c.line));
    EXPECT_EQ(p.key, c.key) << c.line;
    EXPECT_EQ(p.valueText, c.value) << c.line;
    EXPECT_EQ(p.number, c.number) << c.line;
    EXPECT_EQ(p.numberError != -1, c.numberRead) << c.line;
    EXPECT_EQ(p.numberError == 0, c.valid) << c.line;
  }
}

TEST(SettingLine, NumberSyntax) {
  const struct {
    const char* text;
    bool valid;
    int32_t number;
  } cases[] = {
      {"0", true, 0},
      {"25", true, 25},
      {"+25", true, 25},
      {"-25", true, -25},
      {"007", true, 7},
      {"  \t 25", true, 25},
      {"25 ", false, 0},
      {"2 5", false, 0},
      {"- 5", false, 0},
      {"  ", false, 0},
      {"-", false, 0},
      {"x", false, 0},
      {"0x19", false, 0},
      {"2147483647", true, 2147483647},
      {"-2147483648", true, INT32_MIN},
      {"2147483648", false, 0},
      {"99999999999999999999999", false, 0},
      // Hexadecimal, either case, the whole 32 bits taken as signed.
      {"$19", true, 25},
      {"$FF", true, 255},
      {"$7FFFFFFF", true, 2147483647},
      {"$80000000", true, INT32_MIN},
      {"$FFFFFFFF", true, -1},
      {"$100000000", false, 0},
      {"-$1", true, -1},
      {"+$10", true, 16},
      {"$", false, 0},
      {"$g", false, 0},
      {"$ 19", false, 0},
      // Binary and octal.
      {"%11001", true, 25},
      {"%2", false, 0},
      {"%11111111111111111111111111111111", true, -1},
      {"%111111111111111111111111111111111", false, 0},
      {"&31", true, 25},
      {"&8", false, 0},
      {"&37777777777", true, -1},
      {"&40000000000", false, 0},
  };
  for (const auto& c : cases) {
    ParsedSettingLine p = parseSettingLine(Text("n: ") + c.text);
    EXPECT_EQ(p.numberError == 0, c.valid) << "\"" << c.text << "\"";
    EXPECT_NE(p.numberError, -1) << "\"" << c.text << "\"";
    EXPECT_EQ(p.number, c.number) << "\"" << c.text << "\"";
  }
}
