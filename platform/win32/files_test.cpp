// The Win32 file layer's own rules: a replaced file keeps its attributes,
// and a file held open by a reader is not replaced.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "common/test_support.h"
#include "platform/files.h"

namespace {

constexpr DWORD kWatched = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;

TEST(Win32Files, AReplacedFileKeepsItsAttributes) {
  ScopedTempDir dir;
  const struct {
    const char* what;
    DWORD old;       // of the file replaced
    DWORD replacing; // of the file put in its place
    DWORD after;
  } cases[] = {
      {"hidden", FILE_ATTRIBUTE_HIDDEN, FILE_ATTRIBUTE_NORMAL, FILE_ATTRIBUTE_HIDDEN},
      {"hidden and system", FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM, FILE_ATTRIBUTE_NORMAL,
       FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM},
      {"plain over a hidden temporary file", FILE_ATTRIBUTE_NORMAL, FILE_ATTRIBUTE_HIDDEN, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    writeTestFile("s.ini", "old");
    writeTestFile("s.tmp", "new");
    ASSERT_TRUE(SetFileAttributesA("s.ini", c.old));
    ASSERT_TRUE(SetFileAttributesA("s.tmp", c.replacing));
    std::string target;
    ASSERT_EQ(findLinkTarget("s.ini", &target), 0);
    std::string temp = target.substr(0, target.size() - 3) + "tmp";
    ASSERT_EQ(replaceFile(temp.c_str(), target.c_str()), 0);
    EXPECT_EQ(GetFileAttributesA("s.ini") & kWatched, c.after);
    EXPECT_EQ(readTestFile("s.ini"), "new");
    EXPECT_FALSE(testEntryExists("s.tmp"));
    SetFileAttributesA("s.ini", FILE_ATTRIBUTE_NORMAL);
  }
}

// A reader that shares only reading keeps the file in place: it stays whole,
// and so does the file that was to replace it, which the next rewrite can
// make again even when the file it was to replace is hidden.
TEST(Win32Files, AFileOpenInAReaderIsNotReplaced) {
  ScopedTempDir dir;
  writeTestFile("s.ini", "old");
  writeTestFile("s.tmp", "new");
  ASSERT_TRUE(SetFileAttributesA("s.ini", FILE_ATTRIBUTE_HIDDEN));
  HANDLE reader = CreateFileA("s.ini", GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(reader, INVALID_HANDLE_VALUE);
  std::string target;
  ASSERT_EQ(findLinkTarget("s.ini", &target), 0);
  std::string temp = target.substr(0, target.size() - 3) + "tmp";
  EXPECT_EQ(replaceFile(temp.c_str(), target.c_str()), ERROR_ACCESS_DENIED);
  CloseHandle(reader);
  EXPECT_EQ(readTestFile("s.ini"), "old");
  EXPECT_EQ(readTestFile("s.tmp"), "new");
  // Windows refuses to empty a hidden file that is created without the
  // hidden attribute.
  EXPECT_EQ(GetFileAttributesA("s.tmp") & kWatched, 0u);
  FileHandle again = kNoFile;
  EXPECT_EQ(createFileForWriting(temp.c_str(), &again), 0);
  if (again != kNoFile) {
    EXPECT_EQ(closeFile(again), 0);
  }
  SetFileAttributesA("s.ini", FILE_ATTRIBUTE_NORMAL);
}

TEST(Win32Files, ErrorTextsAreOneLine) {
  Text text = errorText(ERROR_PATH_NOT_FOUND);
  EXPECT_FALSE(text.empty());
  EXPECT_EQ(text.view().find('\n'), std::string_view::npos);
}

}  // namespace
