// The sample settings file of the Windows archive: given to --settings (or
// saved as Readsweeper.ini) it gives what a user without a settings file
// has, it names every key of the README's table, and each flag it leaves
// off turns its setting on once its "#" is deleted.
#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "cli/options.h"
#include "settings/settings_file.h"

namespace {

std::string sourcePath(const std::string& relative) {
  std::string path = READSWEEPER_SOURCE_DIR "/" + relative;
#ifdef _WIN32
  if (path[0] == '/') path = "Z:" + path;
#endif
  return path;
}

std::vector<std::string> linesOf(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  EXPECT_TRUE(file.good()) << path;
  std::vector<std::string> lines;
  for (std::string line; std::getline(file, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
  }
  return lines;
}

// Every field, as a text that two records share only when they are equal.
std::string fieldsOf(const Settings& s) {
  std::ostringstream o;
  for (bool flag : {s.instantStart, s.showCheckedBytes, s.showReadErrors, s.showOpenErrors, s.showFileName,
                    s.showFileSize, s.measureReadingSpeed, s.showCheckedBytesInPercents, s.skipSmallFiles,
                    s.showFullFileSize, s.runMinimized, s.scanAllFiles, s.showSetup, s.showReadByte,
                    s.checkEveryFile, s.readPastCache, s.readWholeFiles, s.backgroundPriority}) {
    o << flag;
  }
  for (const Text* text : {&s.checkFiles, &s.defaultInitPath, &s.errorList, &s.cycleState}) {
    o << " [" << text->view() << "]";
  }
  for (int64_t number : {s.stopAfterChecked, int64_t{s.stopAfterErrors}, int64_t{s.windowRefresh},
                         int64_t{s.selectNextFile}, int64_t{s.skipFile}, int64_t{s.bytesToReadAtOnce},
                         int64_t{s.repeatRead}, int64_t{s.selectSubfolder}, int64_t{s.windowY}, int64_t{s.windowX},
                         int64_t{s.stopAfterCycles}, int64_t{s.stopAfterSeconds}, int64_t{s.slowReadLimit},
                         int64_t{s.parallelReads}, s.readRateLimit}) {
    o << " " << number;
  }
  return o.str();
}

const std::string kSample = "docs/Readsweeper-sample.ini";

}  // namespace

TEST(SampleSettings, GivesTheDefaultsOfAUserWithoutAFile) {
  Settings sample;
  ASSERT_EQ(loadSettingsFrom(sourcePath(kSample).c_str(), sample), 0);
  Settings expected;
  setDefaultSettings(expected);
  applyNoFileDefaults(expected);
  // The position lines are there to be rewritten; 0 places the window where
  // none saved does.
  expected.windowX = 0;
  expected.windowY = 0;
  EXPECT_EQ(fieldsOf(sample), fieldsOf(expected));
}

TEST(SampleSettings, NamesEveryKeyAndItsFlagsWork) {
  std::vector<std::string> sample = linesOf(sourcePath(kSample));
  std::vector<std::string> keys;
  // The rows of the table that follows the header "| key | ...".
  std::regex row("^\\| `([^`]+)` \\|");
  bool inTable = false;
  for (const std::string& line : linesOf(sourcePath("README.md"))) {
    if (line.rfind("| key |", 0) == 0) inTable = true;
    if (inTable && line.rfind("|", 0) != 0) break;
    std::smatch m;
    if (inTable && std::regex_search(line, m, row)) keys.push_back(m[1]);
  }
  ASSERT_GE(keys.size(), 30u) << "the README's settings table";
  for (const std::string& key : keys) {
    bool named = false;
    for (const std::string& line : sample) {
      named = named || line == key || line == "#" + key || line.rfind(key + " ", 0) == 0;
    }
    EXPECT_TRUE(named) << key;
  }
  Settings base;
  ASSERT_EQ(loadSettingsFrom(sourcePath(kSample).c_str(), base), 0);
  for (const std::string& line : sample) {
    if (line.empty() || line[0] != '#') continue;
    std::string path = "flag.ini";
    std::ofstream(path, std::ios::binary) << line.substr(1) << "\n";
    Settings one;
    ASSERT_EQ(loadSettingsFrom(path.c_str(), one), 0);
    Settings none;
    setDefaultSettings(none);
    EXPECT_NE(fieldsOf(one), fieldsOf(none)) << line << " is no flag";
    std::remove(path.c_str());
  }
}
