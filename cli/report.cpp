#include "cli/report.h"

#include "cli/interrupt.h"

namespace {

uint32_t codePointOf(std::string_view character) {
  unsigned char lead = static_cast<unsigned char>(character[0]);
  if (character.size() == 1) return lead;
  uint32_t value = lead & (0x7Fu >> character.size());
  for (std::size_t i = 1; i < character.size(); ++i) value = value << 6 | (static_cast<unsigned char>(character[i]) & 0x3Fu);
  return value;
}

struct Range {
  uint32_t first, last;
};

bool inRanges(uint32_t c, const Range* ranges, std::size_t count) {
  for (std::size_t i = 0; i < count; ++i) {
    if (c >= ranges[i].first && c <= ranges[i].last) return true;
  }
  return false;
}

// The terminal columns a character takes, as wcwidth gives them in a UTF-8
// locale, but the same on every system and in every locale: 2 for East Asian
// wide and full-width characters and for emoji, 0 for combining marks,
// joiners and variation selectors, 1 for the rest.
int columnsOf(uint32_t c) {
  static const Range kNone[] = {{0x0300, 0x036F}, {0x0483, 0x0489}, {0x0591, 0x05BD}, {0x0610, 0x061A},
                                {0x064B, 0x065F}, {0x0E31, 0x0E31}, {0x0E34, 0x0E3A}, {0x0E47, 0x0E4E},
                                {0x1AB0, 0x1AFF}, {0x1DC0, 0x1DFF}, {0x200B, 0x200F}, {0x20D0, 0x20FF},
                                {0x302A, 0x302D}, {0x3099, 0x309A}, {0xFE00, 0xFE0F}, {0xFE20, 0xFE2F},
                                {0xE0100, 0xE01EF}};
  static const Range kWide[] = {{0x1100, 0x115F},   {0x231A, 0x231B},   {0x2329, 0x232A},   {0x23E9, 0x23EC},
                                {0x25FD, 0x25FE},   {0x2614, 0x2615},   {0x2648, 0x2653},   {0x26AA, 0x26AB},
                                {0x26BD, 0x26BE},   {0x26F5, 0x26F5},   {0x26FA, 0x26FA},   {0x2705, 0x2705},
                                {0x270A, 0x270B},   {0x2728, 0x2728},   {0x274C, 0x274C},   {0x2753, 0x2755},
                                {0x2795, 0x2797},   {0x2B1B, 0x2B1C},   {0x2B50, 0x2B50},   {0x2E80, 0x303E},
                                {0x3041, 0x33FF},   {0x3400, 0x4DBF},   {0x4E00, 0x9FFF},   {0xA000, 0xA4CF},
                                {0xA960, 0xA97F},   {0xAC00, 0xD7A3},   {0xF900, 0xFAFF},   {0xFE10, 0xFE19},
                                {0xFE30, 0xFE6F},   {0xFF00, 0xFF60},   {0xFFE0, 0xFFE6},   {0x16FE0, 0x18CFF},
                                {0x1B000, 0x1B2FF}, {0x1F004, 0x1F004}, {0x1F18E, 0x1F18E}, {0x1F191, 0x1F19A},
                                {0x1F200, 0x1F251}, {0x1F300, 0x1F64F}, {0x1F680, 0x1F6FF}, {0x1F900, 0x1F9FF},
                                {0x1FA70, 0x1FAFF}, {0x20000, 0x3FFFD}};
  if (inRanges(c, kNone, sizeof kNone / sizeof kNone[0])) return 0;
  if (inRanges(c, kWide, sizeof kWide / sizeof kWide[0])) return 2;
  return 1;
}

void appendDecimal(std::string* out, int64_t value) { *out += std::to_string(value); }

void appendField(std::string* out, const char* name, int64_t value) {
  *out += ",\"";
  *out += name;
  *out += "\":";
  appendDecimal(out, value);
}

// Microseconds as milliseconds with three decimals; null when not measured.
void appendMilliseconds(std::string* out, const char* name, int64_t micros) {
  *out += ",\"";
  *out += name;
  *out += "\":";
  if (micros < 0) {
    *out += "null";
    return;
  }
  appendDecimal(out, micros / 1000);
  std::string fraction = std::to_string(micros % 1000);
  *out += "." + std::string(3 - fraction.size(), '0') + fraction;
}

const char* stopReasonWords(StopReason reason) {
  switch (reason) {
    case StopReason::Checked: return "the checked-bytes limit";
    case StopReason::Errors: return "the error limit";
    case StopReason::Time: return "the time limit";
    case StopReason::Cycles: return "the cycle limit";
    case StopReason::ErrorList: return "a failed write of the error list";
    case StopReason::None:
    case StopReason::User: return "an interrupt";
  }
  return "an interrupt";
}

}  // namespace

int exitCodeOf(const ScanResult& r) {
  switch (r.stoppedBy) {
    // Every stop of a scan here names its reason; None cannot end one.
    case StopReason::None:
    case StopReason::User: return kInterruptExitCode;
    case StopReason::ErrorList: return kExitErrorList;
    case StopReason::Checked:
    case StopReason::Errors:
    case StopReason::Time:
    case StopReason::Cycles: break;
  }
  return r.openErrors + r.readErrors > 0 ? kExitErrors : kExitClean;
}

const char* stopReasonName(StopReason reason) {
  switch (reason) {
    case StopReason::Checked: return "checked";
    case StopReason::Errors: return "errors";
    case StopReason::Time: return "time";
    case StopReason::Cycles: return "cycles";
    case StopReason::ErrorList: return "error list";
    case StopReason::None:
    case StopReason::User: return "interrupt";
  }
  return "interrupt";
}

void appendJsonString(std::string* out, std::string_view bytes) {
  static const char kHex[] = "0123456789abcdef";
  out->push_back('"');
  while (!bytes.empty()) {
    unsigned char c = static_cast<unsigned char>(bytes[0]);
    std::size_t length = characterLength(bytes);
    if (length == 0) {
      out->append("\xEF\xBF\xBD");  // U+FFFD
      length = 1;
    } else if (c == '"' || c == '\\') {
      out->push_back('\\');
      out->push_back(static_cast<char>(c));
    } else if (c < 0x20) {
      switch (c) {
        case '\b': out->append("\\b"); break;
        case '\f': out->append("\\f"); break;
        case '\n': out->append("\\n"); break;
        case '\r': out->append("\\r"); break;
        case '\t': out->append("\\t"); break;
        default:
          out->append("\\u00");
          out->push_back(kHex[c >> 4]);
          out->push_back(kHex[c & 15]);
      }
    } else {
      out->append(bytes.substr(0, length));
    }
    bytes.remove_prefix(length);
  }
  out->push_back('"');
}

int64_t bytesPerSecond(int64_t bytes, int64_t milliseconds) {
  if (milliseconds <= 0 || bytes <= 0) return 0;
  // Whole milliseconds' worth first, so that no product leaves 64 bits.
  int64_t perMillisecond = bytes / milliseconds;
  int64_t rest = bytes % milliseconds;
  if (perMillisecond > (INT64_MAX - 1000) / 1000) return INT64_MAX;
  return perMillisecond * 1000 + (rest * 1000 + milliseconds / 2) / milliseconds;
}

std::string composeJsonResult(const ScanResult& r, std::string_view root, bool everyFile) {
  std::string json = "{\"version\":";
  Text version = versionText();
  std::string_view number = version.view();
  number.remove_prefix(number.find(' ') + 1);  // "version 0.03.4"
  appendJsonString(&json, number);
  json += ",\"root\":";
  appendJsonString(&json, root);
  appendField(&json, "checked_bytes", r.checkedBytes);
  appendField(&json, "files_checked", r.filesChecked);
  appendField(&json, "opening_errors", r.openErrors);
  appendField(&json, "reading_errors", r.readErrors);
  json += ",\"elapsed_seconds\":";
  int64_t ms = r.elapsedMilliseconds < 0 ? 0 : r.elapsedMilliseconds;
  appendDecimal(&json, ms / 1000);
  std::string fraction = std::to_string(ms % 1000);
  json += "." + std::string(3 - fraction.size(), '0') + fraction;
  appendField(&json, "bytes_per_second", bytesPerSecond(r.checkedBytes, ms));
  json += ",\"stopped_by\":";
  appendJsonString(&json, stopReasonName(r.stoppedBy));
  appendField(&json, "slow_reads", r.slowReads);
  appendMilliseconds(&json, "read_ms_p50", r.readMicrosP50);
  appendMilliseconds(&json, "read_ms_p99", r.readMicrosP99);
  appendMilliseconds(&json, "read_ms_max", r.readMicrosMax);
  if (everyFile) {
    appendField(&json, "cycles_completed", r.cyclesCompleted);
    appendField(&json, "covered_files", r.coveredFiles);
    appendField(&json, "indexed_files", r.indexedFiles);
    appendField(&json, "cycle", r.cycle);
    json += r.resumed ? ",\"resumed\":true" : ",\"resumed\":false";
  }
  json += "}\n";
  return json;
}

std::string composeSummaryLine(const ScanResult& r) {
  std::string line(composeScanEndMessage(r).view());
  line += "; stopped by ";
  line += stopReasonWords(r.stoppedBy);
  return line;
}

std::size_t terminalColumnsOf(std::string_view line) {
  std::size_t columns = 0;
  while (!line.empty()) {
    std::size_t length = characterLength(line);
    if (length == 0) length = 1;
    columns += static_cast<std::size_t>(columnsOf(codePointOf(line.substr(0, length))));
    line.remove_prefix(length);
  }
  return columns;
}

std::string composeStatusLine(std::string_view counters, std::string_view file, int columns) {
  std::string line;
  std::size_t room = columns > 1 ? static_cast<std::size_t>(columns - 1) : 0;
  std::size_t used = 0;
  // Cut by columns, not characters: a name in a script of wide characters
  // would otherwise wrap the line, and every rewrite would scroll.
  auto append = [&](std::string_view text) {
    while (!text.empty()) {
      unsigned char c = static_cast<unsigned char>(text[0]);
      std::size_t length = characterLength(text);
      // C1 controls (U+0080 to U+009F) steer terminals as C0 ones do.
      bool control = c < 0x20 || c == 0x7F || (c == 0xC2 && length == 2 &&
                                               static_cast<unsigned char>(text[1]) < 0xA0);
      bool shownAsIs = length != 0 && !control;
      std::size_t width = shownAsIs ? static_cast<std::size_t>(columnsOf(codePointOf(text.substr(0, length)))) : 1;
      // A combining mark still joins the character before it at the end.
      if (used + width > room) break;
      if (shownAsIs) {
        line.append(text.substr(0, length));
      } else {
        line.push_back('?');
        length = length == 0 ? 1 : length;
      }
      used += width;
      text.remove_prefix(length);
    }
  };
  append(counters);
  if (!counters.empty() && !file.empty()) append("  ");
  append(file);
  return line;
}
