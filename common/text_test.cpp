#include "common/text.h"

#include <gtest/gtest.h>

#include <string>

TEST(Text, AppendCutsAtThe255thCharacter) {
  Text t(std::string(250, 'a'));
  t += "bcdefgh";
  EXPECT_EQ(t.size(), 255u);
  EXPECT_EQ(t.view().substr(250), "bcdef");
  t += 'x';
  t.appendInt(12345);
  EXPECT_EQ(t.size(), 255u);
  EXPECT_EQ(t.c_str()[255], '\0');

  Text whole(std::string(300, 'z'));
  EXPECT_EQ(whole.size(), 255u);
  EXPECT_EQ((whole + "more").size(), 255u);

  // An empty view without data (a default string_view) adds nothing and
  // hands memcpy no null pointer (the sanitizer builds catch that).
  Text some("ab");
  some.append(std::string_view());
  EXPECT_EQ(some.view(), "ab");
}

TEST(Text, IntegersInPlainDecimal) {
  const struct { int64_t value; const char* text; } cases[] = {
      {0, "0"}, {7, "7"}, {-1, "-1"}, {2147483647, "2147483647"},
      {-2147483648LL, "-2147483648"}, {INT64_MIN, "-9223372036854775808"},
  };
  for (const auto& c : cases) {
    Text t("n=");
    t.appendInt(c.value);
    EXPECT_EQ(t, std::string("n=") + c.text);
  }
}

TEST(Text, EditingAndComparison) {
  Text t("settings: 1 bytes at once, ");
  t.erase(t.size() - 2);
  EXPECT_EQ(t, "settings: 1 bytes at once ");
  t.erase(500);  // out of range: nothing happens
  t.truncate(8);
  EXPECT_EQ(t, "settings");
  t.truncate(100);
  EXPECT_EQ(t, "settings");
  EXPECT_NE(t, Text("Settings"));  // byte for byte: case matters
  EXPECT_NE(t, Text("settings "));  // and blanks count
  t.clear();
  EXPECT_TRUE(t.empty());
  EXPECT_STREQ(t.c_str(), "");
}
