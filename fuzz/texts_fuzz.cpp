// The progress and summary texts on arbitrary settings and counters. Each
// text must stay within 255 characters and be one of the forms the window
// defines, with every number in it telling the value it stands for: exact
// where written in bytes, within half a unit where scaled, and in the unit
// that the quantity's rule picks.
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz/fuzz_check.h"
#include "platform/fake/fake.h"
#include "scan/engine.h"
#include "scan/scan.h"

namespace {

using Wide = __int128;

constexpr int64_t kKilo = int64_t{1} << 10;
constexpr int64_t kMega = int64_t{1} << 20;
constexpr int64_t kGiga = int64_t{1} << 30;

enum class Rule { FileSize, CheckedBytes, Speed };

// Takes a plain decimal integer off the front of `text`: digits with no
// leading zero, a "-" only before a non-zero value.
bool takeInteger(std::string_view& text, Wide* value) {
  bool negative = !text.empty() && text[0] == '-';
  std::size_t i = negative ? 1 : 0;
  std::size_t first = i;
  Wide v = 0;
  while (i < text.size() && text[i] >= '0' && text[i] <= '9' && i - first < 20) v = v * 10 + (text[i++] - '0');
  std::size_t digits = i - first;
  if (digits == 0 || (digits > 1 && text[first] == '0') || (negative && v == 0)) return false;
  text.remove_prefix(i);
  *value = negative ? -v : v;
  return true;
}

bool takeLiteral(std::string_view& text, std::string_view literal) {
  if (text.substr(0, literal.size()) != literal) return false;
  text.remove_prefix(literal.size());
  return true;
}

// Takes a quantity with its unit ("512B", "3kB", "7MB/s") off the front of
// `text` and checks it against `exact`: a byte count must be exact, a scaled
// value within half a unit, and the unit the one the rule picks. With
// `fullAllowed` an exact byte count of any size passes.
bool takeQuantity(std::string_view& text, int64_t exact, Rule rule, bool fullAllowed, bool* scaled) {
  Wide value = 0;
  if (!takeInteger(text, &value)) return false;
  std::string_view suffix = rule == Rule::Speed ? "/s" : "";
  int shift = -1;
  for (auto [unit, unitShift] : {std::pair<const char*, int>{"kB", 10}, {"MB", 20}, {"GB", 30}, {"B", 0}}) {
    if (takeLiteral(text, std::string(unit) + std::string(suffix))) {
      shift = unitShift;
      break;
    }
  }
  if (shift < 0 || (rule == Rule::Speed && shift == 30)) return false;
  *scaled = shift != 0;
  if (shift == 0) {
    if (value != exact) return false;
    if (fullAllowed) return true;
  } else {
    Wide unit = Wide{1} << shift;
    Wide distance = value * unit - exact;
    if (distance < 0) distance = -distance;
    if (2 * distance > unit) return false;
  }
  // The unit each rule picks for this quantity.
  int expected;
  if (rule == Rule::FileSize) {
    expected = exact < kKilo ? 0 : exact < kMega ? 10 : exact < kGiga ? 20 : 30;
  } else {
    expected = exact <= kKilo ? 0 : exact <= kMega ? 10 : exact <= kGiga ? 20 : 30;
    if (rule == Rule::Speed && expected == 30) expected = 20;
  }
  return shift == expected;
}

// A quoted text as the window gets it: each piece appended in turn, so a
// cut that backs off a split character may leave room for the closing quote.
std::string quoted(std::string_view inside) {
  Text text("\"");
  text += inside;
  text += '"';
  return std::string(text.view());
}

// checked * 100 / limit, rounded to the nearest, ties to even.
Wide referencePercent(int64_t checked, int64_t limit) {
  Wide q = Wide{checked} * 100 / limit;
  Wide twiceRest = (Wide{checked} * 100 % limit) * 2;
  if (twiceRest > limit || (twiceRest == limit && q % 2 == 1)) ++q;
  return q;
}

void checkFileLine(const Text& name, int64_t size) {
  const Settings& s = Scan.settings;
  Text line = composeFileLine(Readers[0], name.view(), size);
  FUZZ_CHECK(line.size() <= Text::kMax);
  std::string path = Scan.rootFolder + Readers[0].subPath + std::string(name.view());
  std::string pathOnly = quoted(path);
  std::string nameOnly = quoted(name.view());
  // A form is shown when it has at most 64 characters (which never take
  // 255 bytes: 64 characters of four bytes leave no room for the quotes).
  auto fits = [](std::string_view form) { return countCharacters(form) <= 64; };
  bool pathFits = fits("\"" + path + "\"");
  if (line == nameOnly && !pathFits) return;
  std::string_view rest = line.view();
  bool decorated = s.showReadByte || (s.showFileSize && size > 0);
  if (decorated && line == pathOnly && pathFits) return;  // the fallback
  if (s.showReadByte) {
    Wide position = 0;
    FUZZ_CHECK(takeLiteral(rest, "byte: "));
    FUZZ_CHECK(takeInteger(rest, &position) && position == Readers[0].readPosition);
    FUZZ_CHECK(takeLiteral(rest, " of "));
  }
  FUZZ_CHECK(takeLiteral(rest, "\"" + path + "\""));
  if (s.showFileSize && size > 0) {
    bool scaled = false;
    FUZZ_CHECK(takeLiteral(rest, " ("));
    FUZZ_CHECK(takeQuantity(rest, size, Rule::FileSize, s.showFullFileSize, &scaled));
    FUZZ_CHECK(!(s.showFullFileSize && scaled));
    FUZZ_CHECK(takeLiteral(rest, ")"));
  }
  FUZZ_CHECK(rest.empty());
  FUZZ_CHECK(fits(line.view()));
}

void checkCountersLine() {
  const Settings& s = Scan.settings;
  int64_t speedBefore = lastSpeed;
  Text line = composeCountersLine();
  FUZZ_CHECK(line.size() <= Text::kMax);
  // The speed shown is the current one once it is above 0, else the last
  // one shown; it is taken over only where the line shows a speed.
  int64_t current = Scan.currentSpeed;
  int64_t speed = current > 0 ? current : speedBefore;
  FUZZ_CHECK(lastSpeed == (s.measureReadingSpeed ? speed : speedBefore));
  std::string_view rest = line.view();
  bool first = true;
  auto separator = [&] {
    if (!first) FUZZ_CHECK(takeLiteral(rest, ", "));
    first = false;
  };
  // Lengths of the scaled pieces and of the exact ones they stand for: a
  // line with scaled pieces under "show full file size" must have been
  // too long for the window in its exact form.
  std::size_t scaledLength = 0;
  std::size_t exactLength = 0;
  bool anyScaled = false;
  if (s.showCheckedBytes) {
    FUZZ_CHECK(takeLiteral(rest, "checked "));
    std::size_t before = rest.size();
    bool scaled = false;
    FUZZ_CHECK(takeQuantity(rest, Scan.checkedBytes, Rule::CheckedBytes, s.showFullFileSize, &scaled));
    if (scaled) {
      anyScaled = true;
      scaledLength += before - rest.size();
      exactLength += std::to_string(Scan.checkedBytes).size() + 1;
    }
    if (s.stopAfterChecked > 0 && s.showCheckedBytesInPercents) {
      Wide percent = 0;
      FUZZ_CHECK(takeLiteral(rest, " ("));
      FUZZ_CHECK(takeInteger(rest, &percent) && percent == referencePercent(Scan.checkedBytes, s.stopAfterChecked));
      FUZZ_CHECK(takeLiteral(rest, "%)"));
    }
    first = false;
  }
  if (s.checkEveryFile) {
    separator();
    Wide value = 0;
    if (Scan.cycle > 1) {
      FUZZ_CHECK(takeLiteral(rest, "cycle "));
      FUZZ_CHECK(takeInteger(rest, &value) && value == Scan.cycle);
      FUZZ_CHECK(takeLiteral(rest, ": "));
    }
    FUZZ_CHECK(takeLiteral(rest, "covered "));
    FUZZ_CHECK(takeInteger(rest, &value) && value == Scan.coveredFiles);
    FUZZ_CHECK(takeLiteral(rest, "/"));
    FUZZ_CHECK(takeInteger(rest, &value) && value == Scan.indexedFiles);
  }
  if (s.measureReadingSpeed && speed > 0) {
    separator();
    std::size_t before = rest.size();
    bool scaled = false;
    FUZZ_CHECK(takeQuantity(rest, speed, Rule::Speed, s.showFullFileSize, &scaled));
    if (scaled) {
      anyScaled = true;
      scaledLength += before - rest.size();
      exactLength += std::to_string(speed).size() + 3;
    }
  }
  Wide count = 0;
  if (s.showOpenErrors) {
    separator();
    FUZZ_CHECK(takeLiteral(rest, "opening errors: "));
    FUZZ_CHECK(takeInteger(rest, &count) && count == Scan.openErrors);
  }
  if (s.showReadErrors) {
    separator();
    FUZZ_CHECK(takeLiteral(rest, "reading errors: "));
    FUZZ_CHECK(takeInteger(rest, &count) && count == Scan.readErrors);
  }
  FUZZ_CHECK(rest.empty());
  if (s.showFullFileSize && anyScaled) FUZZ_CHECK(line.size() - scaledLength + exactLength > 64);
  // An exact line too long for the window is written scaled, where there
  // is anything to scale.
  if (s.showFullFileSize && !anyScaled && line.size() > 64) {
    FUZZ_CHECK(!s.showCheckedBytes || Scan.checkedBytes <= kKilo);
    FUZZ_CHECK(!s.measureReadingSpeed || speed <= kKilo);
  }
}

void checkSummary() {
  const Settings& s = Scan.settings;
  Text summary = composeSettingsSummary(s);
  FUZZ_CHECK(summary.size() <= Text::kMax);
  if (!s.showSetup) {
    FUZZ_CHECK(summary.empty());
    return;
  }
  std::string_view rest = summary.view();
  Wide n = 0;
  FUZZ_CHECK(takeLiteral(rest, "settings: "));
  // Every piece but the check limit ends in ", "; the last such comma is
  // dropped, leaving the blank.
  auto separator = [&] {
    if (takeLiteral(rest, ", ")) return;
    FUZZ_CHECK(rest == " ");
    rest.remove_prefix(1);
  };
  if (s.scanAllFiles) {
    FUZZ_CHECK(takeLiteral(rest, "scan all files"));
    separator();
  }
  if (s.checkEveryFile) {
    FUZZ_CHECK(takeLiteral(rest, "every file"));
    separator();
  }
  if (s.readPastCache) {
    FUZZ_CHECK(takeLiteral(rest, "past cache"));
    separator();
  }
  if (s.repeatRead > 1) {
    FUZZ_CHECK(takeInteger(rest, &n) && n == s.repeatRead);
    FUZZ_CHECK(takeLiteral(rest, "x repeat read"));
    separator();
  }
  FUZZ_CHECK(takeInteger(rest, &n) && n == s.bytesToReadAtOnce);
  FUZZ_CHECK(takeLiteral(rest, " bytes at once"));
  separator();
  if (s.stopAfterErrors > 0) {
    FUZZ_CHECK(takeLiteral(rest, "stop after "));
    FUZZ_CHECK(takeInteger(rest, &n) && n == s.stopAfterErrors);
    FUZZ_CHECK(takeLiteral(rest, " error bytes"));
    separator();
  }
  if (s.stopAfterCycles > 0) {
    FUZZ_CHECK(takeLiteral(rest, "stop after "));
    FUZZ_CHECK(takeInteger(rest, &n) && n == s.stopAfterCycles);
    FUZZ_CHECK(takeLiteral(rest, " cycles"));
    separator();
  }
  if (s.stopAfterSeconds > 0) {
    FUZZ_CHECK(takeLiteral(rest, "stop after "));
    FUZZ_CHECK(takeInteger(rest, &n) && n == s.stopAfterSeconds);
    FUZZ_CHECK(takeLiteral(rest, " s"));
    separator();
  }
  if (s.stopAfterChecked > 0) {
    bool scaled = false;
    FUZZ_CHECK(takeLiteral(rest, "check "));
    FUZZ_CHECK(takeQuantity(rest, s.stopAfterChecked, Rule::FileSize, s.showFullFileSize, &scaled));
    FUZZ_CHECK(!(s.showFullFileSize && scaled));
  }
  FUZZ_CHECK(rest.empty());
  FUZZ_CHECK(summary.back() != ',');
}

void checkTitle() {
  const Settings& s = Scan.settings;
  if (s.stopAfterChecked <= 0) return;
  int64_t before = Scan.titlePercent;
  resetFakeWindow();
  updateTitlePercent();
  Wide percent = referencePercent(Scan.checkedBytes, s.stopAfterChecked);
  if (WindowLog.empty()) {
    // The title only ever grows.
    FUZZ_CHECK(Scan.titlePercent == before);
    FUZZ_CHECK(percent <= before);
    return;
  }
  FUZZ_CHECK(WindowLog.size() == 1);
  std::string_view rest = WindowLog[0];
  Wide shown = 0;
  FUZZ_CHECK(takeLiteral(rest, "text MainWindow: Readsweeper "));
  FUZZ_CHECK(takeInteger(rest, &shown) && shown == percent);
  FUZZ_CHECK(rest == "%");
  FUZZ_CHECK(percent > before && Scan.titlePercent == percent);
}

// The average speed: bytes over the elapsed hundredths, rounded; none for a
// time that has not moved on, or for a speed beyond 64 bits.
void checkSpeed(int64_t bytes, int64_t hundredths) {
  int64_t speed = speedFrom(bytes, hundredths);
  if (hundredths <= 0) {
    FUZZ_CHECK(speed == -1);
    return;
  }
  long double exact = static_cast<long double>(bytes) * 100 / static_cast<long double>(hundredths);
  // Near the end of the 64-bit range the speed may be left out.
  if (speed == -1 && exact >= 9.0e18L) return;
  FUZZ_CHECK(speed >= 0);
  long double error = static_cast<long double>(speed) - exact;
  if (error < 0) error = -error;
  // Within half a byte per second, give or take the double's precision.
  FUZZ_CHECK(error <= 0.5L + exact * 1e-15L);
}

int64_t nonNegative(int64_t v) { return v < 0 ? -(v + 1) : v; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  FuzzInput input(data, size);
  Scan = ScanRecord{};
  Settings& s = Scan.settings;
  uint16_t flags = input.take<uint16_t>();
  bool* flagFields[] = {&s.showCheckedBytes, &s.showReadErrors, &s.showOpenErrors, &s.showFileName,
                        &s.showFileSize, &s.measureReadingSpeed, &s.showCheckedBytesInPercents,
                        &s.skipSmallFiles, &s.showFullFileSize, &s.scanAllFiles, &s.showSetup,
                        &s.showReadByte, &s.checkEveryFile, &s.readPastCache};
  for (bool* f : flagFields) {
    *f = (flags & 1) != 0;
    flags >>= 1;
  }
  // Within what loading accepts.
  s.stopAfterChecked = static_cast<int32_t>(nonNegative(input.take<int32_t>()));
  s.stopAfterErrors = static_cast<int32_t>(nonNegative(input.take<int32_t>()));
  s.bytesToReadAtOnce = static_cast<int32_t>(nonNegative(input.take<int32_t>()) % INT32_MAX + 1);
  s.repeatRead = static_cast<int32_t>(nonNegative(input.take<int32_t>()) % INT32_MAX + 1);

  // Counters as a scan leaves them: never negative, and never more than one
  // block past the check limit, where the scan stops.
  Scan.checkedBytes = nonNegative(input.take<int64_t>());
  if (s.stopAfterChecked > 0) Scan.checkedBytes = Scan.checkedBytes % (int64_t{s.stopAfterChecked} + INT32_MAX + 1);
  Scan.openErrors = nonNegative(input.take<int64_t>());
  Scan.readErrors = nonNegative(input.take<int64_t>());
  Readers[0].readPosition = input.take<int64_t>();
  Scan.currentSpeed = nonNegative(input.take<int64_t>());
  lastSpeed = nonNegative(input.take<int64_t>());
  Scan.titlePercent = nonNegative(input.take<int64_t>()) % 1000;
  int64_t fileSize = input.take<int64_t>();
  int64_t speedBytes = nonNegative(input.take<int64_t>());
  int64_t hundredths = input.take<int64_t>();
  s.stopAfterCycles = static_cast<int32_t>(nonNegative(input.take<int32_t>()));
  s.stopAfterSeconds = static_cast<int32_t>(nonNegative(input.take<int32_t>()));
  Scan.cycle = nonNegative(input.take<int64_t>());
  Scan.coveredFiles = nonNegative(input.take<int64_t>());
  Scan.indexedFiles = nonNegative(input.take<int64_t>());
  Scan.rootFolder = input.takeString(300);
  Readers[0].subPath = input.takeString(300);
  Text name(input.rest());

  checkFileLine(name, fileSize);
  checkCountersLine();
  checkSummary();
  checkTitle();
  checkSpeed(speedBytes, hundredths);
  return 0;
}
