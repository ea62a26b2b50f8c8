#include "cli/report.h"

#include "cli/interrupt.h"

namespace {

// The length of the UTF-8 character at the start of `bytes`; 0 when the
// first byte starts none.
std::size_t characterLength(std::string_view bytes) {
  unsigned char lead = static_cast<unsigned char>(bytes[0]);
  if (lead < 0x80) return 1;
  std::size_t length = announcedLength(lead);
  if (length == 0 || length > bytes.size() || !isValidUtf8(bytes.substr(0, length))) return 0;
  return length;
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

std::string composeStatusLine(std::string_view counters, std::string_view file, int columns) {
  std::string line;
  std::size_t room = columns > 1 ? static_cast<std::size_t>(columns - 1) : 0;
  std::size_t characters = 0;
  auto append = [&](std::string_view text) {
    while (!text.empty() && characters < room) {
      unsigned char c = static_cast<unsigned char>(text[0]);
      std::size_t length = characterLength(text);
      // C1 controls (U+0080 to U+009F) steer terminals as C0 ones do.
      bool control = c < 0x20 || c == 0x7F || (c == 0xC2 && length == 2 &&
                                               static_cast<unsigned char>(text[1]) < 0xA0);
      if (length == 0 || control) {
        line.push_back('?');
        length = length == 0 ? 1 : length;
      } else {
        line.append(text.substr(0, length));
      }
      ++characters;
      text.remove_prefix(length);
    }
  };
  append(counters);
  if (!counters.empty() && !file.empty()) append("  ");
  append(file);
  return line;
}
