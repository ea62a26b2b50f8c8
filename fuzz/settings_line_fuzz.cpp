// The settings-line parser and the number reader on arbitrary lines, checked
// against a second, deliberately plain reading of the same syntax; then the
// line applied to a record, whose fields must stay within what loading
// accepts.
#include <charconv>
#include <cstdint>
#include <string_view>

#include "fuzz/fuzz_check.h"
#include "settings/settings.h"
#include "settings/setting_line.h"

namespace {

// The number syntax read a second way: blanks and tabs, a sign, a base
// prefix, then nothing but digits of that base to the end.
bool referenceNumber(std::string_view text, int32_t* number) {
  std::size_t i = text.find_first_not_of(" \t");
  if (i == std::string_view::npos) return false;
  text.remove_prefix(i);
  bool negative = false;
  if (!text.empty() && (text[0] == '+' || text[0] == '-')) {
    negative = text[0] == '-';
    text.remove_prefix(1);
  }
  int base = 10;
  if (!text.empty() && (text[0] == '$' || text[0] == '%' || text[0] == '&')) {
    base = text[0] == '$' ? 16 : text[0] == '%' ? 2 : 8;
    text.remove_prefix(1);
  }
  if (text.empty()) return false;
  uint64_t magnitude = 0;
  auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), magnitude, base);
  if (error != std::errc() || end != text.data() + text.size()) return false;
  if (base == 10) {
    if (magnitude > (negative ? 2147483648ull : 2147483647ull)) return false;
  } else if (magnitude > 0xFFFFFFFFull) {
    return false;
  }
  uint32_t bits = static_cast<uint32_t>(magnitude);
  if (negative) bits = 0u - bits;
  *number = static_cast<int32_t>(bits);
  return true;
}

void checkLine(const Text& line) {
  ParsedSettingLine p = parseSettingLine(line);
  std::string_view whole = line.view();
  std::size_t colon = whole.find(':');
  if (colon == std::string_view::npos) {
    FUZZ_CHECK(p.key == line);
    FUZZ_CHECK(p.valueText.empty());
    FUZZ_CHECK(p.numberError == -1 && p.number == 0);
    return;
  }
  FUZZ_CHECK(p.key == whole.substr(0, colon + 1));
  std::string_view rest = whole.substr(colon + 1);
  if (rest.size() < 2) {
    // Too short for a separator: the value is what follows, and no number.
    FUZZ_CHECK(p.valueText == rest);
    FUZZ_CHECK(p.numberError == -1 && p.number == 0);
    return;
  }
  FUZZ_CHECK(p.valueText == rest.substr(1));
  int32_t expected = 0;
  if (referenceNumber(rest.substr(1), &expected)) {
    FUZZ_CHECK(p.numberError == 0);
    FUZZ_CHECK(p.number == expected);
  } else {
    FUZZ_CHECK(p.numberError != 0);
    FUZZ_CHECK(p.number == 0);
  }
}

void checkApplied(const Text& line) {
  Settings s;
  setDefaultSettings(s);
  applySettingLine(s, line, parseSettingLine(line));
  FUZZ_CHECK(s.stopAfterChecked >= 0 && s.stopAfterChecked <= INT32_MAX && s.stopAfterErrors >= 0);
  FUZZ_CHECK(s.stopAfterCycles >= 0 && s.stopAfterSeconds >= 0);
  FUZZ_CHECK(s.windowRefresh >= 1 && s.windowRefresh <= 100);
  FUZZ_CHECK(s.selectNextFile >= 1 && s.selectNextFile <= 100);
  FUZZ_CHECK(s.skipFile <= 100);
  FUZZ_CHECK(s.selectSubfolder >= 1 && s.selectSubfolder <= 100);
  FUZZ_CHECK(s.bytesToReadAtOnce >= 1 && s.repeatRead >= 1);
  FUZZ_CHECK(s.checkFiles.size() <= Text::kMax && s.defaultInitPath.size() <= Text::kMax);
  FUZZ_CHECK(s.errorList.size() <= Text::kMax);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  std::string_view bytes(reinterpret_cast<const char*>(data), size);
  // The input as a line of the file (cut at 255 characters as loading cuts
  // it), and as the value of a key line, so that the number reader sees
  // every input too.
  Text line(bytes);
  checkLine(line);
  checkApplied(line);
  Text keyed("k: ");
  keyed += bytes;
  checkLine(keyed);
  for (const char* key : {"window refresh: ", "skip file: ", "window vertical position: ", "check files: ",
                          "stop after checked: ", "stop after seconds: "}) {
    Text keyLine(key);
    keyLine += bytes;
    checkApplied(keyLine);
  }
  return 0;
}
