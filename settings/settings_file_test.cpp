#include "settings/settings_file.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "common/test_support.h"
#include "platform/files.h"

namespace {

const std::string kIni = "Readsweeper.ini";
const std::string kTmp = "Readsweeper.tmp";
const std::string kCtrlZ(1, '\x1a');

std::string repeat(char c, std::size_t n) { return std::string(n, c); }

// The names in the current directory.
std::vector<std::string> entries() {
  std::vector<std::string> names;
  std::error_code ec;
  for (const auto& e : std::filesystem::directory_iterator(".", ec)) names.push_back(e.path().filename().string());
  return names;
}

Settings loadFrom(const std::string& content) {
  writeTestFile(kIni, content);
  Settings s;
  loadSettings(s);
  return s;
}

}  // namespace

TEST(SettingsFile, LoadsEveryKindOfLineEnd) {
  ScopedTempDir dir;
  const struct {
    const char* name;
    std::string content;
  } cases[] = {
      {"CR LF", "show setup\r\ncheck files: C:\\\r\nwindow refresh: 30\r\n"},
      {"LF", "show setup\ncheck files: C:\\\nwindow refresh: 30\n"},
      {"CR", "show setup\rcheck files: C:\\\rwindow refresh: 30\r"},
      {"none at the end", "show setup\r\ncheck files: C:\\\nwindow refresh: 30"},
      {"mixed, blank lines", "\r\n\nshow setup\r\r\ncheck files: C:\\\r\n\rwindow refresh: 30\n\r\n"},
  };
  for (const auto& c : cases) {
    Settings s = loadFrom(c.content);
    EXPECT_TRUE(s.showSetup) << c.name;
    EXPECT_EQ(s.checkFiles, "C:\\") << c.name;  // no CR left in the value
    EXPECT_EQ(s.windowRefresh, 30) << c.name;
    EXPECT_FALSE(s.showFileName) << c.name;  // a file exists: no no-file defaults
  }
}

TEST(SettingsFile, LoadStopsAtCtrlZAndCutsLongLines) {
  ScopedTempDir dir;
  Settings s = loadFrom("show setup\r\n" + kCtrlZ + "junk\r\nrun minimized\r\n");
  EXPECT_TRUE(s.showSetup);
  EXPECT_FALSE(s.runMinimized);

  // Only a line that begins with it ends the file.
  s = loadFrom("show setup\r\nnote " + kCtrlZ + "\r\nrun minimized\r\n");
  EXPECT_TRUE(s.runMinimized);

  // The first line is always read, Ctrl-Z or not.
  s = loadFrom(kCtrlZ + "\r\nrun minimized\r\n");
  EXPECT_TRUE(s.runMinimized);

  // The rest of a long line is skipped, not read as a line of its own.
  s = loadFrom("check files: " + repeat('a', 300) + "\r\n" + repeat('x', 255) + "show setup\r\nrepeat read: 4\r\n");
  EXPECT_EQ(s.checkFiles, repeat('a', 242));
  EXPECT_FALSE(s.showSetup);
  EXPECT_EQ(s.repeatRead, 4);
}

TEST(SettingsFile, LoadWithoutFileOrFromAnEmptyOne) {
  ScopedTempDir dir;
  Settings s;
  s.repeatRead = 9;
  loadSettings(s);
  EXPECT_TRUE(s.showCheckedBytes && s.showReadErrors && s.showOpenErrors && s.showFileName && s.showFullFileSize);
  EXPECT_FALSE(s.showFileSize || s.instantStart || s.showSetup);
  EXPECT_EQ(s.repeatRead, 1);
  EXPECT_FALSE(testEntryExists(kIni));

  s = loadFrom("");
  EXPECT_FALSE(s.showCheckedBytes || s.showReadErrors || s.showOpenErrors || s.showFileName || s.showFullFileSize);
  EXPECT_EQ(s.windowRefresh, 25);
}

TEST(SettingsFile, SaveRewritesOnlyTheThreeKeys) {
  ScopedTempDir dir;
  Settings s;
  s.checkFiles = "D:\\tmp\\";
  s.windowY = 120;  // "window horizontal position:"
  s.windowX = -1;   // "window vertical position:"
  const std::string longNote = "note " + repeat('n', 400);
  const struct {
    const char* name;
    std::string before;
    std::string after;
  } cases[] = {
      {"LF ends, none at the end", "show setup\ncheck files: C:\\\nwindow refresh: 30",
       "show setup\r\ncheck files: D:\\tmp\\\r\nwindow refresh: 30\r\n"},
      {"CR ends", "check files: C:\\\rshow setup\r", "check files: D:\\tmp\\\r\nshow setup\r\n"},
      {"crossed positions and duplicates",
       "window vertical position: 5\r\nwindow horizontal position: 6\r\ncheck files:\r\n"
       "window horizontal position: x\r\ncheck files:C:\\\r\n",
       "window vertical position: -1\r\nwindow horizontal position: 120\r\ncheck files: D:\\tmp\\\r\n"
       "window horizontal position: 120\r\ncheck files: D:\\tmp\\\r\n"},
      {"no lines added", "show setup\r\n", "show setup\r\n"},
      {"the newer keys are copied as they are",
       "check every file\nread past cache\nerror list: D:\\errors.csv\nstop after cycles: 1\n"
       "stop after seconds: 90\nparallel reads: 8\nread rate limit: $140000\nbackground priority\n",
       "check every file\r\nread past cache\r\nerror list: D:\\errors.csv\r\nstop after cycles: 1\r\n"
       "stop after seconds: 90\r\nparallel reads: 8\r\nread rate limit: $140000\r\nbackground priority\r\n"},
      {"empty file", "", "\r\n"},
      {"one line end", "\n", "\r\n"},
      {"misspelt keys stay", "Check files: C:\\\r\ncheck files : C:\\\r\ncheck  files: C:\\\r\n",
       "Check files: C:\\\r\ncheck files : C:\\\r\ncheck  files: C:\\\r\n"},
      {"blank lines stay", "\r\n\r\ncheck files: C:\\\n\n", "\r\n\r\ncheck files: D:\\tmp\\\r\n\r\n"},
      {"a long line keeps its length", longNote + "\ncheck files: C:\\\n",
       longNote + "\r\ncheck files: D:\\tmp\\\r\n"},
      {"a long refreshed line is rebuilt", "check files: " + repeat('c', 300) + "\r\nshow setup\r\n",
       "check files: D:\\tmp\\\r\nshow setup\r\n"},
      {"the Ctrl-Z tail is kept as it stands",
       "check files: C:\\\n" + kCtrlZ + "\ncheck files: E:\\\nwindow vertical position: 3",
       "check files: D:\\tmp\\\r\n" + kCtrlZ + "\ncheck files: E:\\\nwindow vertical position: 3"},
      {"a first line with Ctrl-Z is a line", kCtrlZ + "x\ncheck files: C:\\", kCtrlZ + "x\r\ncheck files: D:\\tmp\\\r\n"},
  };
  for (const auto& c : cases) {
    writeTestFile(kIni, c.before);
    saveSettings(s);
    EXPECT_EQ(readTestFile(kIni), c.after) << c.name;
    EXPECT_FALSE(testEntryExists(kTmp)) << c.name;
  }
}

TEST(SettingsFile, SaveCutsTheRefreshedLineAt255Characters) {
  ScopedTempDir dir;
  Settings s;
  s.checkFiles = Text(repeat('p', 250));
  writeTestFile(kIni, "check files: C:\\\r\n");
  saveSettings(s);
  EXPECT_EQ(readTestFile(kIni), "check files: " + repeat('p', 242) + "\r\n");
  Settings again;
  loadSettings(again);
  EXPECT_EQ(again.checkFiles, repeat('p', 242));
}

TEST(SettingsFile, AnEmptyPathIsSavedAsTheKeyAlone) {
  ScopedTempDir dir;
  Settings s;
  writeTestFile(kIni, "check files: C:\\\r\ncheck files:\r\n");
  saveSettings(s);
  // With a separator the path would come back as one blank.
  EXPECT_EQ(readTestFile(kIni), "check files:\r\ncheck files:\r\n");
  Settings again;
  loadSettings(again);
  EXPECT_EQ(again.checkFiles, "");
}

TEST(SettingsFile, SaveWithoutFileCreatesNothing) {
  ScopedTempDir dir;
  Settings s;
  s.checkFiles = "C:\\";
  saveSettings(s);
  EXPECT_TRUE(entries().empty());
  loadSettings(s);
  saveSettings(s);
  EXPECT_TRUE(entries().empty());
}

TEST(SettingsFile, SaveOverwritesAStaleTemporaryFile) {
  ScopedTempDir dir;
  writeTestFile(kTmp, repeat('t', 5000));
  writeTestFile(kIni, "show setup\n");
  saveSettings(Settings());
  EXPECT_EQ(readTestFile(kIni), "show setup\r\n");
  EXPECT_EQ(entries(), std::vector<std::string>{kIni});
}

TEST(SettingsFile, UsesTheNameAsTheDirectoryStoresIt) {
  ScopedTempDir dir;
  writeTestFile("READSWEEPER.INI", "show setup\ncheck files: C:\\\n");
  Settings s;
  loadSettings(s);
#ifdef _WIN32
  // Names match in any letter case; the rewrite keeps the stored spelling.
  EXPECT_TRUE(s.showSetup);
  s.checkFiles = "D:\\";
  saveSettings(s);
  EXPECT_EQ(entries(), std::vector<std::string>{"READSWEEPER.INI"});
  EXPECT_EQ(readTestFile("READSWEEPER.INI"), "show setup\r\ncheck files: D:\\\r\n");
#else
  // Names match exactly: this is no settings file.
  EXPECT_FALSE(s.showSetup);
  EXPECT_TRUE(s.showFileName);
  saveSettings(s);
  EXPECT_EQ(entries(), std::vector<std::string>{"READSWEEPER.INI"});
  EXPECT_EQ(readTestFile("READSWEEPER.INI"), "show setup\ncheck files: C:\\\n");
#endif
}

// A settings file that is a symbolic link stays one: the file it leads to is
// rewritten, through a temporary file beside that file. (Wine cannot make a
// link; the end-to-end tests rewrite one made from the Linux side.)
TEST(SettingsFile, ALinkIsFollowedAndStaysALink) {
#ifdef _WIN32
  GTEST_SKIP() << "Wine makes no symbolic links";
#else
  ScopedTempDir dir;
  namespace fs = std::filesystem;
  ASSERT_TRUE(fs::create_directories("elsewhere/deeper"));
  writeTestFile("elsewhere/deeper/settings.txt", "show setup\r\ncheck files: C:\\\r\n");
  fs::create_symlink("deeper/settings.txt", "elsewhere/link.txt");
  fs::create_symlink("elsewhere/link.txt", kIni);  // a link to a link
  // A temporary file here, beside the link, would fail to be made.
  ASSERT_TRUE(fs::create_directory(kTmp));
  Settings s;
  loadSettings(s);
  EXPECT_TRUE(s.showSetup);
  s.checkFiles = "D:\\";
  saveSettings(s);
  EXPECT_TRUE(fs::is_symlink(kIni));
  EXPECT_TRUE(fs::is_symlink("elsewhere/link.txt"));
  EXPECT_EQ(readTestFile("elsewhere/deeper/settings.txt"), "show setup\r\ncheck files: D:\\\r\n");
  EXPECT_FALSE(testEntryExists("elsewhere/deeper/Readsweeper.tmp"));
  EXPECT_TRUE(fs::is_directory(kTmp));
#endif
}

// The console program's --settings: the file is only read, named by its
// path, and a failure is returned instead of ending the program.
TEST(SettingsFile, LoadsANamedFileWithoutChangingIt) {
  ScopedTempDir dir;
  const std::string content = "show setup\nwindow refresh: 30\nwindow refresh: 0\ncheck files: x";
  writeTestFile("named.ini", content);
  Settings s;
  s.stopAfterErrors = 9;  // the defaults come first
  ASSERT_EQ(loadSettingsFrom("named.ini", s), 0);
  EXPECT_TRUE(s.showSetup);
  EXPECT_FALSE(s.showFileName);  // a file exists: no no-file defaults
  EXPECT_EQ(s.windowRefresh, 30);
  EXPECT_EQ(s.stopAfterErrors, 0);
  EXPECT_EQ(s.checkFiles, "x");
  EXPECT_EQ(readTestFile("named.ini"), content);
  EXPECT_EQ(entries(), std::vector<std::string>{"named.ini"});

  ASSERT_TRUE(std::filesystem::create_directory("folder.ini"));
  for (const char* path : {"missing.ini", "folder.ini"}) {
    s.showSetup = true;
    int error = loadSettingsFrom(path, s);
    EXPECT_NE(error, 0) << path;
    EXPECT_FALSE(s.showSetup) << path;  // the defaults, nothing else
  }
}

// A failed file operation ends the process with the report; the death tests
// run it in a child process. In the Windows build they are skipped: the
// report is a message box that waits for a click, and Wine cannot fork.
// platform/win32/fatal_test.cpp starts a child there, clicks the box and
// checks the same report and exit code.
TEST(SettingsFileDeathTest, AFolderInPlaceOfTheFileIsFatal) {
#ifdef _WIN32
  GTEST_SKIP() << "the report is a message box";
#else
  ScopedTempDir dir;
  ASSERT_TRUE(std::filesystem::create_directory(kIni));
  FileHandle file = kNoFile;
  int code = openFileForReading(kIni.c_str(), &file);
  ASSERT_NE(code, 0);
  Settings s;
  EXPECT_EXIT(loadSettings(s), testing::ExitedWithCode(code),
              "^Runtime error " + std::to_string(code) + " at 0x00000101\n$");
  EXPECT_EXIT(saveSettings(s), testing::ExitedWithCode(code),
              "^Runtime error " + std::to_string(code) + " at 0x00000201\n$");
#endif
}

TEST(SettingsFileDeathTest, AFailedSaveLeavesTheFileWhole) {
#ifdef _WIN32
  GTEST_SKIP() << "the report is a message box";
#else
  ScopedTempDir dir;
  const std::string before = "show setup\ncheck files: C:\\\n";
  writeTestFile(kIni, before);
  ASSERT_TRUE(std::filesystem::create_directory(kTmp));
  FileHandle file = kNoFile;
  int code = createFileForWriting(kTmp.c_str(), &file);
  ASSERT_NE(code, 0);
  Settings s;
  s.checkFiles = "D:\\";
  EXPECT_EXIT(saveSettings(s), testing::ExitedWithCode(code),
              "Runtime error " + std::to_string(code) + " at 0x00000211");
  EXPECT_EQ(readTestFile(kIni), before);
#endif
}

// A file far larger than any settings file is refused before it can take
// all the memory; one of the largest size allowed still loads.
TEST(SettingsFileDeathTest, AHugeFileIsRefusedWithItsOwnCode) {
#ifdef _WIN32
  GTEST_SKIP() << "the report is a message box";
#else
  ScopedTempDir dir;
  const std::size_t largest = 16 * 1024 * 1024;
  std::string content = "show setup\r\n";
  content.resize(largest, 'x');
  writeTestFile(kIni, content);
  Settings s;
  loadSettings(s);
  EXPECT_TRUE(s.showSetup);
  writeTestFile(kIni, content + "x");
  const std::string code = std::to_string(kFileTooLarge);
  EXPECT_EXIT(loadSettings(s), testing::ExitedWithCode(kFileTooLarge), "^Runtime error " + code + " at 0x00000102\n$");
  EXPECT_EXIT(saveSettings(s), testing::ExitedWithCode(kFileTooLarge), "^Runtime error " + code + " at 0x00000202\n$");
  EXPECT_EQ(readTestFile(kIni).size(), largest + 1);
  EXPECT_FALSE(testEntryExists(kTmp));
#endif
}
