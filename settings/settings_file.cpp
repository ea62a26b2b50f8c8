#include "settings/settings_file.h"

#include <cstddef>
#include <string>
#include <string_view>

#include "platform/fatal.h"
#include "platform/files.h"
#include "platform/legacy_text.h"

namespace {

constexpr const char* kSettingsName = "Readsweeper.ini";
constexpr const char* kTempName = "Readsweeper.tmp";
constexpr char kCtrlZ = 26;
constexpr uint32_t kChunk = 16 * 1024;

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

// One line of a file held in memory: its bytes without the line end, and
// where the next line starts.
struct Line {
  std::string_view bytes;
  std::size_t next;
};

Line lineAt(const std::string& content, std::size_t start) {
  std::size_t end = start;
  while (end < content.size() && content[end] != '\r' && content[end] != '\n') ++end;
  std::size_t next = end;
  if (next < content.size()) {
    if (content[next] == '\r' && next + 1 < content.size() && content[next + 1] == '\n') {
      next += 2;
    } else {
      ++next;
    }
  }
  return {std::string_view(content).substr(start, end - start), next};
}

// Whether a line follows the first one at `start`: not at the end of the
// content, nor when it would begin with Ctrl-Z. (The first line is always
// read, so an empty file has one empty line.)
bool nextLineAt(const std::string& content, std::size_t start) {
  return start < content.size() && content[start] != kCtrlZ;
}

struct Places {
  uint32_t open;
  uint32_t read;
  uint32_t close;
};

// Reads the whole file; settings files are a few hundred bytes. Returns 0,
// or the system's code with `*failedAt` set to the place of the operation
// that failed (a failed read still closes the file).
int tryReadWholeFile(const char* name, const Places& places, std::string* content, uint32_t* failedAt) {
  FileHandle file = kNoFile;
  int error = openFileForReading(name, &file);
  if (error != 0) {
    *failedAt = places.open;
    return error;
  }
  char chunk[kChunk];
  for (;;) {
    uint32_t got = 0;
    error = readFile(file, chunk, kChunk, &got);
    if (error != 0) {
      *failedAt = places.read;
      closeFile(file);  // the read's code is the one to report
      return error;
    }
    if (got == 0) break;
    content->append(chunk, got);
  }
  error = closeFile(file);
  if (error != 0) *failedAt = places.close;
  return error;
}

void readWholeFile(const char* name, const Places& places, std::string* content) {
  uint32_t place = 0;
  int error = tryReadWholeFile(name, places, content, &place);
  if (error != 0) fatalError(error, place);
}

void writeWholeFile(const char* name, const std::string& content) {
  FileHandle file = kNoFile;
  int error = createFileForWriting(name, &file);
  if (error != 0) fatalError(error, kPlaceTempCreate);
  for (std::size_t done = 0; done < content.size();) {
    uint32_t size = static_cast<uint32_t>(content.size() - done < kChunk ? content.size() - done : kChunk);
    error = writeFile(file, content.data() + done, size);
    if (error != 0) fatalError(error, kPlaceTempWrite);
    done += size;
  }
  // On the disk before the rename, so that a crash right after it cannot
  // leave an empty settings file in place of the old one.
  error = flushFile(file);
  if (error != 0) fatalError(error, kPlaceTempFlush);
  error = closeFile(file);
  if (error != 0) fatalError(error, kPlaceTempClose);
}

// The line that replaces one with a refreshed key; empty when the line
// keeps its own bytes.
Text refreshedLine(const Text& key, const Settings& s) {
  Text line;
  if (key.view() == "check files:") {
    // An empty path is the key alone: a separator with nothing after it
    // would read back as a path of one blank.
    line = key;
    if (!s.checkFiles.empty()) line += ' ';
    line += s.checkFiles;
  } else if (key.view() == "window horizontal position:") {
    line = key;
    line += ' ';
    line.appendInt(s.windowY);
  } else if (key.view() == "window vertical position:") {
    line = key;
    line += ' ';
    line.appendInt(s.windowX);
  }
  return line;
}

// Applies one line as read from the file. Its first 255 bytes count; the
// rest of the line is skipped. A file written before the program's texts
// became UTF-8 holds its values in the legacy code page: a line that is not
// UTF-8 is cut as single-byte text, and a value that is not UTF-8 is
// converted (also where the separator took the lead byte of a character
// and left the rest of it).
void applyFileLine(Settings& s, std::string_view bytes) {
  Text line(bytes);
  if (!isValidUtf8(line.view())) line = Text(bytes.substr(0, Text::kMax));
  ParsedSettingLine parsed = parseSettingLine(line);
  if (!isValidUtf8(parsed.valueText.view())) parsed.valueText = legacyTextToUtf8(parsed.valueText.view());
  applySettingLine(s, line, parsed);
}

// Applies every line that loading reads, from the first one on.
void applyFileContent(Settings& s, const std::string& content) {
  std::size_t at = 0;
  do {
    Line l = lineAt(content, at);
    applyFileLine(s, l.bytes);
    at = l.next;
  } while (nextLineAt(content, at));
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

void loadSettings(Settings& s) {
  setDefaultSettings(s);
  Text name;
  if (findEntryByName(kSettingsName, &name) != 0) {
    applyNoFileDefaults(s);
    return;
  }
  std::string content;
  readWholeFile(name.c_str(), {kPlaceLoadOpen, kPlaceLoadRead, kPlaceLoadClose}, &content);
  applyFileContent(s, content);
}

int loadSettingsFrom(const char* path, Settings& s) {
  setDefaultSettings(s);
  std::string content;
  uint32_t place = 0;
  int error = tryReadWholeFile(path, {kPlaceLoadOpen, kPlaceLoadRead, kPlaceLoadClose}, &content, &place);
  if (error != 0) return error;
  applyFileContent(s, content);
  return 0;
}

void saveSettings(const Settings& s) {
  Text name;
  if (findEntryByName(kSettingsName, &name) != 0) return;  // never created here
  std::string content;
  readWholeFile(name.c_str(), {kPlaceSaveOpen, kPlaceSaveRead, kPlaceSaveClose}, &content);

  // Only the three refreshed kinds of line change. Every other line keeps
  // its bytes, however long, and gets CR LF as its end; from a later line
  // that begins with Ctrl-Z on, the file is kept exactly as it stands.
  std::string rewritten;
  std::size_t at = 0;
  do {
    Line l = lineAt(content, at);
    Text refreshed = refreshedLine(parseSettingLine(Text(l.bytes)).key, s);
    if (refreshed.empty()) {
      rewritten.append(l.bytes);
    } else {
      rewritten.append(refreshed.view());
    }
    rewritten.append("\r\n");
    at = l.next;
  } while (nextLineAt(content, at));
  if (at < content.size()) rewritten.append(content, at, std::string::npos);

  writeWholeFile(kTempName, rewritten);
  int error = replaceFile(kTempName, name.c_str());
  if (error != 0) fatalError(error, kPlaceReplace);
}
