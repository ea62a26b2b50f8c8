#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "common/text.h"

namespace {

const std::string kE = "\xC3\xA9";                  // é, two bytes
const std::string kNichi = "\xE6\x97\xA5";          // 日, three bytes
const std::string kSmile = "\xF0\x9F\x98\x80";      // U+1F600, four bytes
const std::string kLodz = "\xC5\x81\xC3\xB3" "d\xC5\xBA";  // Łódź

TEST(Utf8, Validity) {
  const struct {
    const char* what;
    std::string bytes;
    bool valid;
  } cases[] = {
      {"empty", "", true},
      {"ASCII", "C:\\data\\a.bin", true},
      {"two, three and four bytes", kLodz + kNichi + kSmile, true},
      {"the highest character", "\xF4\x8F\xBF\xBF", true},
      {"Windows-1252 e acute", "Caf\xE9", false},
      {"Windows-1252 letters that look like a sequence", "\xC3\xC3", false},
      {"a lone continuation byte", "a\x80", false},
      {"cut in the middle of a character", kNichi.substr(0, 2), false},
      {"overlong slash", "\xC0\xAF", false},
      {"overlong three-byte form", "\xE0\x80\xAF", false},
      {"overlong four-byte form", "\xF0\x80\x80\xAF", false},
      {"a surrogate", "\xED\xA0\x80", false},
      {"above U+10FFFF", "\xF4\x90\x80\x80", false},
      {"no such lead byte", "\xF5\x80\x80\x80", false},
  };
  for (const auto& c : cases) EXPECT_EQ(isValidUtf8(c.bytes), c.valid) << c.what;
}

TEST(Utf8, CharacterCounts) {
  EXPECT_EQ(countCharacters(""), 0u);
  EXPECT_EQ(countCharacters("abc"), 3u);
  EXPECT_EQ(countCharacters(kLodz), 4u);
  EXPECT_EQ(countCharacters(kNichi + kNichi + kSmile), 3u);
  // Bytes that belong to no character count one each.
  EXPECT_EQ(countCharacters("Caf\xE9"), 4u);
  EXPECT_EQ(countCharacters(kNichi.substr(0, 2) + "x"), 3u);

  const std::string path = "C:" + kE + "\\x";
  EXPECT_EQ(bytesOfCharacters(path, 3), 4u);
  EXPECT_EQ(bytesOfCharacters(path, 0), 0u);
  EXPECT_EQ(bytesOfCharacters(path, 99), path.size());
  EXPECT_EQ(bytesOfCharacters(kSmile + "a", 1), 4u);
}

// A text ends where the 255th byte ends, less the start of a character that
// would be split there.
TEST(Utf8, TextCutNeverSplitsACharacter) {
  const struct {
    const char* what;
    std::size_t fill;
    std::string tail;
    std::size_t size;
  } cases[] = {
      {"two bytes at 255 and 256", 254, kE, 254},
      {"two bytes that just fit", 253, kE, 255},
      {"three bytes from 254", 253, kNichi, 253},
      {"three bytes from 255", 254, kNichi, 254},
      {"four bytes from 253", 252, kSmile, 252},
      {"four bytes that just fit", 251, kSmile, 255},
      {"a complete character, then more", 253, kE + kE, 255},
      // Windows-1252 letters are not taken for the start of a character.
      {"legacy letters", 254, "\xE9\xE9", 255},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Text t(std::string(c.fill, 'a'));
    t += c.tail;
    EXPECT_EQ(t.size(), c.size);
    EXPECT_EQ(t.c_str()[t.size()], '\0');
    EXPECT_EQ(t.view().substr(c.fill), (c.tail + c.tail).substr(0, c.size - c.fill));
    // The same bytes in one piece, as a control or a settings line gives them.
    std::string whole = std::string(c.fill, 'a') + c.tail + "zz";
    EXPECT_EQ(Text(whole).view(), t.view());
  }
  // A character whose bytes come in two appends is cut whole all the same.
  Text t(std::string(254, 'a'));
  t += kNichi.substr(0, 1);
  t += kNichi.substr(1);
  EXPECT_EQ(t.view(), std::string(254, 'a'));
}

}  // namespace
