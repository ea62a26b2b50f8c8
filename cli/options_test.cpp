#include "cli/options.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/test_support.h"
#include "platform/files.h"

namespace {

using Args = std::vector<std::string>;

// The settings that a command line gives, parsed and applied.
Settings settingsFrom(const Args& args) {
  CommandLine line;
  std::string problem;
  EXPECT_TRUE(parseCommandLine(args, &line, &problem)) << problem;
  Settings s;
  EXPECT_EQ(settingsOf(line, &s), 0);
  return s;
}

std::string problemOf(const Args& args) {
  CommandLine line;
  std::string problem;
  EXPECT_FALSE(parseCommandLine(args, &line, &problem)) << "accepted: " << args.front();
  return problem;
}

Settings noFileDefaults() {
  Settings s;
  setDefaultSettings(s);
  applyNoFileDefaults(s);
  return s;
}

}  // namespace

TEST(Options, WithoutOptionsTheWindowProgramsDefaultsWithoutAFile) {
  Settings s = settingsFrom({"/data"});
  Settings expected = noFileDefaults();
  EXPECT_TRUE(s.showFileName);
  EXPECT_TRUE(s.showFullFileSize);
  EXPECT_EQ(s.windowRefresh, expected.windowRefresh);
  EXPECT_EQ(s.stopAfterChecked, 0);
  EXPECT_EQ(s.stopAfterSeconds, 0);
  EXPECT_EQ(s.bytesToReadAtOnce, 1);
  EXPECT_FALSE(s.checkEveryFile);
  EXPECT_TRUE(s.errorList.empty());
}

// Every option sets its own field, in both spellings of a value.
TEST(Options, EachOptionSetsItsSetting) {
  const struct {
    Args args;
    bool (*holds)(const Settings&);
  } cases[] = {
      {{"--every-file"}, [](const Settings& s) { return s.checkEveryFile; }},
      {{"--past-cache"}, [](const Settings& s) { return s.readPastCache; }},
      {{"--whole-files"}, [](const Settings& s) { return s.readWholeFiles; }},
      {{"--slow", "100"}, [](const Settings& s) { return s.slowReadLimit == 100; }},
      {{"--slow=0"}, [](const Settings& s) { return s.slowReadLimit == 0; }},
      {{"--scan-all"}, [](const Settings& s) { return s.scanAllFiles; }},
      {{"--skip-small"}, [](const Settings& s) { return s.skipSmallFiles; }},
      {{"--cycles", "3"}, [](const Settings& s) { return s.stopAfterCycles == 3; }},
      {{"--cycles=0"}, [](const Settings& s) { return s.stopAfterCycles == 0; }},
      {{"--errors", "12"}, [](const Settings& s) { return s.stopAfterErrors == 12; }},
      {{"--repeat=4"}, [](const Settings& s) { return s.repeatRead == 4; }},
      {{"--checked", "1000"}, [](const Settings& s) { return s.stopAfterChecked == 1000; }},
      {{"--block", "64k"}, [](const Settings& s) { return s.bytesToReadAtOnce == 65536; }},
      {{"--time", "90"}, [](const Settings& s) { return s.stopAfterSeconds == 90; }},
      {{"--skip-file", "0"}, [](const Settings& s) { return s.skipFile == 0; }},
      {{"--subfolder", "100"}, [](const Settings& s) { return s.selectSubfolder == 100; }},
      {{"--next-file=1"}, [](const Settings& s) { return s.selectNextFile == 1; }},
      {{"--error-list", "failed.csv"}, [](const Settings& s) { return s.errorList == "failed.csv"; }},
      {{"--error-list=a b.csv"}, [](const Settings& s) { return s.errorList == "a b.csv"; }},
      {{"--readers", "8"}, [](const Settings& s) { return s.parallelReads == 8; }},
      {{"--rate=0"}, [](const Settings& s) { return s.readRateLimit == 0; }},
      {{"--rate", "20M"}, [](const Settings& s) { return s.readRateLimit == 20 * 1048576; }},
      {{"--background"}, [](const Settings& s) { return s.backgroundPriority; }},
      {{"--state", "night.state"}, [](const Settings& s) { return s.cycleState == "night.state"; }},
  };
  for (const auto& c : cases) {
    Args args = c.args;
    args.push_back("/data");
    EXPECT_TRUE(c.holds(settingsFrom(args))) << args.front();
  }
}

TEST(Options, SizeAndDurationSuffixes) {
  const struct {
    const char* option;
    const char* value;
    int64_t expected;
  } cases[] = {
      {"--checked", "0", 0},
      {"--checked", "7k", 7 * 1024},
      {"--checked", "7K", 7 * 1024},
      {"--checked", "3M", 3 * 1048576},
      {"--checked", "3m", 3 * 1048576},
      {"--checked", "2G", int64_t{2} << 30},
      {"--checked", "1T", int64_t{1} << 40},
      {"--checked", "8388607T", int64_t{8388607} << 40},
      {"--checked", "9223372036854775807", INT64_MAX},
      {"--block", "2147483647", 2147483647},
      {"--block", "1G", 1073741824},
      {"--block", "0001", 1},
      {"--time", "90s", 90},
      {"--time", "30m", 1800},
      {"--time", "2h", 7200},
      {"--time", "1d", 86400},
      {"--time", "2147483647s", 2147483647},
  };
  for (const auto& c : cases) {
    Settings s = settingsFrom({c.option, c.value, "/data"});
    int64_t got = std::string(c.option) == "--checked" ? s.stopAfterChecked
                  : std::string(c.option) == "--block" ? s.bytesToReadAtOnce
                                                       : s.stopAfterSeconds;
    EXPECT_EQ(got, c.expected) << c.option << " " << c.value;
  }
}

// Every refusal names the option and why; nothing is applied.
TEST(Options, RefusedValuesAndArguments) {
  const struct {
    Args args;
    const char* problem;
  } cases[] = {
      {{"--skip-file", "101", "/d"}, "--skip-file: \"101\" is out of range (0 to 100)"},
      {{"--subfolder", "0", "/d"}, "--subfolder: \"0\" is out of range (1 to 100)"},
      {{"--next-file", "0", "/d"}, "--next-file: \"0\" is out of range (1 to 100)"},
      {{"--next-file", "101", "/d"}, "--next-file: \"101\" is out of range (1 to 100)"},
      {{"--repeat", "0", "/d"}, "--repeat: \"0\" is out of range (1 to 2147483647)"},
      {{"--block", "0", "/d"}, "--block: \"0\" is out of range (1 to 2147483647)"},
      {{"--readers", "0", "/d"}, "--readers: \"0\" is out of range (1 to 64)"},
      {{"--readers", "65", "/d"}, "--readers: \"65\" is out of range (1 to 64)"},
      {{"--rate", "2T", "/d"}, "--rate: \"2T\" is out of range (0 to 1099511627776)"},
      {{"--rate", "5x", "/d"}, "--rate: \"5x\" is not a size (digits, then k, M, G or T)"},
      {{"--block", "2G", "/d"}, "--block: \"2G\" is out of range (1 to 2147483647)"},
      {{"--block", "2147483648", "/d"}, "--block: \"2147483648\" is out of range (1 to 2147483647)"},
      {{"--cycles", "2147483648", "/d"}, "--cycles: \"2147483648\" is out of range (0 to 2147483647)"},
      {{"--errors", "99999999999999999999999", "/d"},
       "--errors: \"99999999999999999999999\" is out of range (0 to 2147483647)"},
      {{"--checked", "8388608T", "/d"}, "--checked: \"8388608T\" is out of range (0 to 9223372036854775807)"},
      {{"--checked", "9223372036854775808", "/d"},
       "--checked: \"9223372036854775808\" is out of range (0 to 9223372036854775807)"},
      {{"--time", "2147483648", "/d"}, "--time: \"2147483648\" is out of range (0 to 2147483647)"},
      {{"--time", "24856d", "/d"}, "--time: \"24856d\" is out of range (0 to 2147483647)"},
      {{"--errors", "-1", "/d"}, "--errors: \"-1\" is not a whole number"},
      {{"--slow", "2s", "/d"}, "--slow: \"2s\" is not a whole number"},
      {{"--slow", "2147483648", "/d"}, "--slow: \"2147483648\" is out of range (0 to 2147483647)"},
      {{"--whole-files=1", "/d"}, "--whole-files: takes no value"},
      {{"--errors", "+1", "/d"}, "--errors: \"+1\" is not a whole number"},
      {{"--errors", "1k", "/d"}, "--errors: \"1k\" is not a whole number"},
      {{"--errors", " 1", "/d"}, "--errors: \" 1\" is not a whole number"},
      {{"--errors", "$10", "/d"}, "--errors: \"$10\" is not a whole number"},
      {{"--errors=", "/d"}, "--errors: \"\" is not a whole number"},
      {{"--checked", "1.5G", "/d"}, "--checked: \"1.5G\" is not a size (digits, then k, M, G or T)"},
      {{"--checked", "1kB", "/d"}, "--checked: \"1kB\" is not a size (digits, then k, M, G or T)"},
      {{"--checked", "G", "/d"}, "--checked: \"G\" is not a size (digits, then k, M, G or T)"},
      {{"--block", "1s", "/d"}, "--block: \"1s\" is not a size (digits, then k, M, G or T)"},
      {{"--time", "2H", "/d"}, "--time: \"2H\" is not a duration (digits, then s, m, h or d)"},
      {{"--time", "1h30m", "/d"}, "--time: \"1h30m\" is not a duration (digits, then s, m, h or d)"},
      {{"--time", "1k", "/d"}, "--time: \"1k\" is not a duration (digits, then s, m, h or d)"},
      {{"--cycles"}, "--cycles: needs a value"},
      {{"/d", "--settings"}, "--settings: needs a value"},
      {{"--settings=", "/d"}, "--settings: needs a file name"},
      {{"--error-list", "", "/d"}, "--error-list: needs a file name"},
      {{"--error-list", std::string(256, 'e'), "/d"}, "--error-list: the name is longer than 255 bytes"},
      {{"--json=yes", "/d"}, "--json: takes no value"},
      {{"--scan-all=1", "/d"}, "--scan-all: takes no value"},
      {{"--verbose", "/d"}, "\"--verbose\" is not an option (see --help)"},
      {{"-q", "/d"}, "\"-q\" is not an option (see --help)"},
      {{"--Json", "/d"}, "\"--Json\" is not an option (see --help)"},
      {{"/a", "/b"}, "only one FOLDER can be scanned: \"/b\" is one too many"},
      {{"--json"}, "no FOLDER given (see --help)"},
      {{}, "no FOLDER given (see --help)"},
  };
  for (const auto& c : cases) {
    std::string shown = c.args.empty() ? "(none)" : c.args.front();
    EXPECT_EQ(problemOf(c.args.empty() ? Args{} : c.args), c.problem) << shown;
  }
}

// Each numeric option takes its top and refuses one more, and a value of
// 20 digits or more is refused whatever it would come to in 64 bits: 2^64
// and a few more would wrap round to small numbers that every option takes.
TEST(Options, ValuesPastTheTopOfEachNumericOption) {
  const struct {
    const char* option;
    int64_t low, top;
    const char* suffix;  // of a size or a duration, "" for a count
  } options[] = {
      {"--cycles", 0, INT32_MAX, ""},   {"--errors", 0, INT32_MAX, ""},    {"--repeat", 1, INT32_MAX, ""},
      {"--checked", 0, INT64_MAX, "k"}, {"--block", 1, INT32_MAX, "k"},    {"--time", 0, INT32_MAX, "d"},
      {"--skip-file", 0, 100, ""},      {"--subfolder", 1, 100, ""},       {"--next-file", 1, 100, ""},
  };
  for (const auto& o : options) {
    SCOPED_TRACE(o.option);
    const std::string top = std::to_string(o.top);
    CommandLine line;
    std::string problem;
    for (const std::string& taken : {top, std::string("00000000000000000001"), std::string(40, '0') + top}) {
      EXPECT_TRUE(parseCommandLine({o.option, taken, "/d"}, &line, &problem)) << taken << ": " << problem;
    }
    const std::string range = " is out of range (" + std::to_string(o.low) + " to " + top + ")";
    std::vector<std::string> refused = {
        std::to_string(uint64_t(o.top) + 1),
        "18446744073709551616",  // 2^64
        "18446744073709551617",
        "18446744073709551621",
        "99999999999999999999",
        "36893488147419103237",  // 2^65 + 5
        "00000000000000000000000000000000018446744073709551617",
    };
    if (*o.suffix) refused.push_back(std::string("18446744073709551617") + o.suffix);
    for (const std::string& value : refused) {
      EXPECT_EQ(problemOf({o.option, value, "/d"}), std::string(o.option) + ": \"" + value + "\"" + range);
    }
  }
}

TEST(Options, ProgramOptionsFolderAndTheEndOfOptions) {
  CommandLine line;
  std::string problem;
  ASSERT_TRUE(parseCommandLine({"--json", "--quiet", "--", "--odd name"}, &line, &problem)) << problem;
  EXPECT_TRUE(line.json);
  EXPECT_TRUE(line.quiet);
  EXPECT_EQ(line.folder, "--odd name");
  ASSERT_TRUE(parseCommandLine({"-"}, &line, &problem)) << problem;
  EXPECT_EQ(line.folder, "-");
  // --help and --version need no FOLDER.
  ASSERT_TRUE(parseCommandLine({"--help"}, &line, &problem)) << problem;
  EXPECT_TRUE(line.help);
  ASSERT_TRUE(parseCommandLine({"--version"}, &line, &problem)) << problem;
  EXPECT_TRUE(line.version);
  // The value of an option is the next argument, whatever it looks like.
  ASSERT_TRUE(parseCommandLine({"--error-list", "--json", "/d"}, &line, &problem)) << problem;
  EXPECT_FALSE(line.json);
  EXPECT_EQ(settingsFrom({"--error-list", "--json", "/d"}).errorList, "--json");
}

TEST(Options, TheLastOfARepeatedOptionWins) {
  Settings s = settingsFrom({"--errors", "5", "--errors=7", "/d"});
  EXPECT_EQ(s.stopAfterErrors, 7);
}

// The settings file comes first, whatever the order; options override it.
TEST(Options, TheSettingsFileWithOptionsOverIt) {
  ScopedTempDir dir;
  const std::string content =
      "show setup\nstop after errors: 9\nrepeat read: 3\nselect subfolder: 60\nstop after seconds: 100\n";
  writeTestFile("scan.ini", content);
  Settings s = settingsFrom({"--errors", "2", "--settings", "scan.ini", "--time=5m", "/d"});
  EXPECT_EQ(s.stopAfterErrors, 2);     // the option
  EXPECT_EQ(s.stopAfterSeconds, 300);  // the option
  EXPECT_EQ(s.repeatRead, 3);          // the file
  EXPECT_EQ(s.selectSubfolder, 60);    // the file
  EXPECT_TRUE(s.showSetup);            // the file
  EXPECT_FALSE(s.showFileName);        // a file: not the no-file defaults
  EXPECT_EQ(readTestFile("scan.ini"), content);  // only read

  CommandLine line;
  std::string problem;
  ASSERT_TRUE(parseCommandLine({"--settings", "missing.ini", "/d"}, &line, &problem));
  Settings t;
  EXPECT_NE(settingsOf(line, &t), 0);
}

TEST(Options, TheRootFolder) {
  const std::string sep(1, kPathSeparator);
  const struct {
    std::string folder;
    std::string root;
  } cases[] = {
      {"data", "data" + sep},
      {"data" + sep, "data" + sep},
      {".", "." + sep},
      {sep, sep},
      {std::string(254, 'x'), std::string(254, 'x') + sep},
      {std::string(254, 'x') + sep, std::string(254, 'x') + sep},
  };
  for (const auto& c : cases) {
    Text root;
    std::string problem;
    ASSERT_TRUE(rootFolderOf(c.folder, &root, &problem)) << c.folder << ": " << problem;
    EXPECT_EQ(root, c.root);
  }
  Text root;
  std::string problem;
  EXPECT_FALSE(rootFolderOf(std::string(255, 'x'), &root, &problem));
  EXPECT_EQ(problem, "FOLDER \"" + std::string(255, 'x') +
                         "\" is too long: the root folder holds at most 255 bytes");
  EXPECT_FALSE(rootFolderOf("", &root, &problem));
  EXPECT_EQ(problem, "FOLDER is empty");
}

#ifdef _WIN32
TEST(Options, ForwardSlashesBecomeBackslashesOnWindows) {
  Text root;
  std::string problem;
  ASSERT_TRUE(rootFolderOf("C:/data/photos", &root, &problem));
  EXPECT_EQ(root, "C:\\data\\photos\\");
}
#else
TEST(Options, ABackslashIsPartOfANameOnPosixSystems) {
  Text root;
  std::string problem;
  ASSERT_TRUE(rootFolderOf("/srv/a\\b", &root, &problem));
  EXPECT_EQ(root, "/srv/a\\b/");
}
#endif
