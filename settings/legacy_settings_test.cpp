// Settings files in UTF-8, and older ones whose paths are in the legacy
// code page (Windows-1252 in these tests: the POSIX layer's choice, and the
// system's legacy code page under Wine).
#include <gtest/gtest.h>

#include <string>

#include "common/test_support.h"
#include "settings/settings_file.h"

namespace {

const std::string kIni = "Readsweeper.ini";

Settings loadFrom(const std::string& content) {
  writeTestFile(kIni, content);
  Settings s;
  loadSettings(s);
  return s;
}

TEST(LegacySettings, PathsInTheLegacyCodePageBecomeUtf8) {
  ScopedTempDir dir;
  const struct {
    const char* what;
    std::string value;  // as the file holds it
    std::string path;   // as loaded
  } cases[] = {
      {"accented letters", "C:\\Caf\xE9 d\xE9j\xE0\\", "C:\\Caf\xC3\xA9 d\xC3\xA9j\xC3\xA0\\"},
      {"letters of the 0x80 row", "D:\\\x80 \x8A\x9E\\", "D:\\\xE2\x82\xAC \xC5\xA0\xC5\xBE\\"},
      {"UTF-8 stays as it is", "C:\\\xC5\x81\xC3\xB3" "d\xC5\xBA\\", "C:\\\xC5\x81\xC3\xB3" "d\xC5\xBA\\"},
      {"letters that look like UTF-8 are UTF-8", "C:\\\xC3\xA9", "C:\\\xC3\xA9"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Settings s = loadFrom("check files: " + c.value + "\r\ndefault init path: " + c.value + "\r\n");
    EXPECT_EQ(s.checkFiles.view(), c.path);
    EXPECT_EQ(s.defaultInitPath.view(), c.path);
  }
}

// A line is read up to its 255th byte. A UTF-8 line cut there must not lose
// half a character and then pass for legacy text; a legacy line keeps all of
// its 255 single-byte characters, which may grow past 255 bytes in UTF-8.
TEST(LegacySettings, LongLinesAreCutByTheirOwnEncoding) {
  ScopedTempDir dir;
  const std::string key = "check files: ";  // 13 bytes
  Settings s = loadFrom(key + std::string(241, 'a') + "\xC3\xA9" "b\r\n");
  EXPECT_EQ(s.checkFiles.view(), std::string(241, 'a'));

  s = loadFrom(key + std::string(239, 'a') + "\xE9\xE9\xE9\xE9" "b\r\n");
  EXPECT_EQ(s.checkFiles.view(), std::string(239, 'a') + "\xC3\xA9\xC3\xA9\xC3\xA9");

  s = loadFrom(key + std::string(100, '\xE9') + std::string(100, 'a') + "\r\n");
  EXPECT_EQ(s.checkFiles.size(), 255u);
  EXPECT_TRUE(isValidUtf8(s.checkFiles.view()));

  // The line's only legacy letters sit at the cut: "é©" (E9 A9), whose
  // first byte is the 255th. Cut as UTF-8 first, E9 would look like the
  // start of a character that does not fit and go, and the rest would pass
  // for UTF-8; the line as a whole is not UTF-8, so it keeps its 255 bytes.
  s = loadFrom(key + std::string(241, 'a') + "\xE9\xA9" "b\r\n");
  EXPECT_EQ(s.checkFiles.view(), std::string(241, 'a') + "\xC3\xA9");
  // And a line that is UTF-8 beyond the cut is still cut between characters.
  s = loadFrom(key + std::string(241, 'a') + "\xE6\x97\xA5" "b\r\n");
  EXPECT_EQ(s.checkFiles.view(), std::string(241, 'a'));
}

// The separator is one byte, whatever it is. Where it is the lead byte of a
// UTF-8 character, what it leaves of the character is not UTF-8: read as
// legacy text, the path saves and loads back the same.
TEST(LegacySettings, ASeparatorThatSplitsACharacter) {
  ScopedTempDir dir;
  Settings s = loadFrom("check files:\xC3\xA9tude\r\n");
  EXPECT_EQ(s.checkFiles.view(), "\xC2\xA9tude");
  saveSettings(s);
  EXPECT_EQ(loadFrom(readTestFile(kIni)).checkFiles, s.checkFiles);
}

TEST(LegacySettings, SavingWritesThePathInUtf8AndKeepsOtherLines) {
  ScopedTempDir dir;
  const std::string note = "note: Gr\xFC\xDF" "e aus K\xF6ln";
  Settings s = loadFrom(note + "\r\ncheck files: C:\\Caf\xE9\\\r\nwindow refresh: 30\r\n");
  saveSettings(s);
  EXPECT_EQ(readTestFile(kIni), note + "\r\ncheck files: C:\\Caf\xC3\xA9\\\r\nwindow refresh: 30\r\n");
  // And it loads the same next time.
  EXPECT_EQ(loadFrom(readTestFile(kIni)).checkFiles, s.checkFiles);
}

}  // namespace
