// The file layer, as the settings file and the scan use it, on the system's
// own files (POSIX natively, Win32 under Wine).
#include "platform/files.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "common/test_support.h"

namespace {

// The names in the current directory.
std::vector<std::string> entries() {
  std::vector<std::string> names;
  std::error_code ec;
  for (const auto& e : std::filesystem::directory_iterator(".", ec)) names.push_back(e.path().filename().string());
  return names;
}

TEST(FileLayer, ReadsWritesPositionsAndReplaces) {
  ScopedTempDir dir;
  FileHandle w = kNoFile;
  ASSERT_EQ(createFileForWriting("a.bin", &w), 0);
  ASSERT_EQ(writeFile(w, "0123456789", 10), 0);
  // The scan opens files that others are writing.
  FileHandle r = kNoFile;
  ASSERT_EQ(openFileForReading("a.bin", &r), 0);
  EXPECT_EQ(flushFile(w), 0);
  EXPECT_EQ(closeFile(w), 0);

  char buffer[16] = {};
  uint32_t got = 99;
  EXPECT_EQ(positionFile(r, 6), 0);
  EXPECT_EQ(readFile(r, buffer, sizeof buffer, &got), 0);
  EXPECT_EQ(std::string(buffer, got), "6789");
  EXPECT_EQ(readFile(r, buffer, sizeof buffer, &got), 0);
  EXPECT_EQ(got, 0u);
  EXPECT_EQ(positionFile(r, 20), 0);  // past the end is no error; the read then gets nothing
  EXPECT_EQ(readFile(r, buffer, sizeof buffer, &got), 0);
  EXPECT_EQ(got, 0u);
  EXPECT_NE(positionFile(r, -1), 0);
  EXPECT_EQ(closeFile(r), 0);

  writeTestFile("b.bin", "old");
  EXPECT_EQ(replaceFile("a.bin", "b.bin"), 0);
  EXPECT_EQ(readTestFile("b.bin"), "0123456789");
  EXPECT_EQ(entries(), std::vector<std::string>{"b.bin"});
  // A file that is not there yet is made by the replace.
  writeTestFile("c.bin", "new");
  EXPECT_EQ(replaceFile("c.bin", "d.bin"), 0);
  EXPECT_EQ(readTestFile("d.bin"), "new");
  EXPECT_FALSE(testEntryExists("c.bin"));
}

TEST(FileLayer, FailuresReportACode) {
  ScopedTempDir dir;
  ASSERT_TRUE(std::filesystem::create_directory("folder"));
  writeTestFile("x.txt", "x");
  FileHandle f = kNoFile;
  EXPECT_NE(openFileForReading("missing.txt", &f), 0);
  EXPECT_EQ(f, kNoFile);
  EXPECT_NE(openFileForReading("folder", &f), 0);
  EXPECT_EQ(f, kNoFile);
  EXPECT_NE(replaceFile("missing.txt", "x.txt"), 0);
  EXPECT_EQ(readTestFile("x.txt"), "x");
  Text stored("unchanged");
  EXPECT_NE(findEntryByName("missing.txt", &stored), 0);
  std::string target = "unchanged";
  EXPECT_NE(findLinkTarget("missing.txt", &target), 0);

  // The system's own separator separates folders; folders are found too.
  writeTestFile("folder/y.txt", "why");
  const std::string nested = std::string("folder") + kPathSeparator + "y.txt";
  EXPECT_EQ(openFileForReading(nested.c_str(), &f), 0);
  EXPECT_EQ(closeFile(f), 0);
  EXPECT_EQ(findEntryByName("folder", &stored), 0);
  EXPECT_EQ(stored, "folder");
}

// A file that is no link leads to itself: its full path, which opens it
// from any current directory.
TEST(FileLayer, AFileThatIsNoLinkIsItsOwnTarget) {
  ScopedTempDir dir;
  writeTestFile("plain.ini", "content");
  std::string target;
  ASSERT_EQ(findLinkTarget("plain.ini", &target), 0);
  ASSERT_GT(target.size(), 10u) << target;
  std::string tail = target.substr(target.size() - 10);
  EXPECT_TRUE(tail == "/plain.ini" || tail == "\\plain.ini") << target;
  std::filesystem::current_path("..");
  FileHandle f = kNoFile;
  int opened = openFileForReading(target.c_str(), &f);
  std::filesystem::current_path(dir.path());
  ASSERT_EQ(opened, 0) << target;
  char buffer[16] = {};
  uint32_t got = 0;
  EXPECT_EQ(readFile(f, buffer, sizeof buffer, &got), 0);
  EXPECT_EQ(std::string(buffer, got), "content");
  EXPECT_EQ(closeFile(f), 0);
}

}  // namespace
