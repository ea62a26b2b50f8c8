#include "settings/setting_line.h"

#include <cstddef>
#include <string_view>

namespace {

bool isDigitOf(char c, int base, uint32_t* digit) {
  uint32_t d;
  if (c >= '0' && c <= '9') {
    d = static_cast<uint32_t>(c - '0');
  } else if (c >= 'a' && c <= 'f') {
    d = static_cast<uint32_t>(c - 'a' + 10);
  } else if (c >= 'A' && c <= 'F') {
    d = static_cast<uint32_t>(c - 'A' + 10);
  } else {
    return false;
  }
  if (d >= static_cast<uint32_t>(base)) return false;
  *digit = d;
  return true;
}

// Reads the whole text as a number. Returns 0 and sets `number`, or the
// 1-based position at which reading failed (one past the end when the text
// ran out before a digit came).
int16_t readNumber(std::string_view text, int32_t* number) {
  std::size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    ++i;
  }
  int base = 10;
  if (i < text.size()) {
    switch (text[i]) {
      case '$': base = 16; ++i; break;
      case '%': base = 2; ++i; break;
      case '&': base = 8; ++i; break;
      default: break;
    }
  }
  // Decimal numbers must fit int32 as written; prefixed ones may fill all
  // 32 bits, which are then taken as signed ("$FFFFFFFF" is -1).
  const uint64_t limit = base != 10 ? 0xFFFFFFFFull : (negative ? 2147483648ull : 2147483647ull);
  uint64_t magnitude = 0;
  std::size_t firstDigit = i;
  for (; i < text.size(); ++i) {
    uint32_t digit;
    if (!isDigitOf(text[i], base, &digit)) return static_cast<int16_t>(i + 1);
    magnitude = magnitude * static_cast<uint64_t>(base) + digit;
    if (magnitude > limit) return static_cast<int16_t>(i + 1);
  }
  if (i == firstDigit) return static_cast<int16_t>(i + 1);
  uint32_t bits = static_cast<uint32_t>(magnitude);
  if (negative) bits = 0u - bits;
  *number = static_cast<int32_t>(bits);
  return 0;
}

}  // namespace

ParsedSettingLine parseSettingLine(const Text& line) {
  ParsedSettingLine p;
  std::string_view rest = line.view();
  std::size_t colon = rest.find(':');
  if (colon == std::string_view::npos) {
    p.key = line;
    return p;
  }
  p.key = rest.substr(0, colon + 1);
  rest.remove_prefix(colon + 1);
  // With two or more characters after the colon the first one separates,
  // whatever it is; a single character is the value itself.
  if (rest.size() >= 2) {
    rest.remove_prefix(1);
    p.numberError = readNumber(rest, &p.number);
    if (p.numberError != 0) p.number = 0;
  }
  p.valueText = rest;
  return p;
}
