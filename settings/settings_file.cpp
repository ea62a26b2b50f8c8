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
// A settings file is a few hundred bytes; one of more than this is no
// settings file, and reading it would only exhaust the memory.
constexpr std::size_t kLargestFile = 16 * 1024 * 1024;

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

// Reads the whole file; settings files are a few hundred bytes, and one
// larger than kLargestFile is refused with the system's code for a file too
// large. Returns 0, or the code with `*failedAt` set to the place of the
// operation that failed (a failed read still closes the file).
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
    if (content->size() + got > kLargestFile) {
      *failedAt = places.read;
      closeFile(file);
      return kFileTooLarge;
    }
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
// and left the rest of it). The encoding is told from the whole line: its
// first 255 bytes may be UTF-8 where the line is not, when its only legacy
// letters sit at the cut.
void applyFileLine(Settings& s, std::string_view bytes) {
  Text line = isValidUtf8(bytes) ? Text(bytes) : Text(bytes.substr(0, Text::kMax));
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
  // A link is followed to the file it leads to, and that file is replaced:
  // replacing the link itself would leave its target with the old content.
  std::string target;
  int error = findLinkTarget(name.c_str(), &target);
  if (error != 0) fatalError(error, kPlaceSaveTarget);
  std::string content;
  readWholeFile(target.c_str(), {kPlaceSaveOpen, kPlaceSaveRead, kPlaceSaveClose}, &content);

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

  // Beside the target, so that the replace stays within one folder and so
  // one atomic rename, also where the link leads to another disk.
  std::string temp = target.substr(0, target.find_last_of("\\/") + 1) + kTempName;
  writeWholeFile(temp.c_str(), rewritten);
  error = replaceFile(temp.c_str(), target.c_str());
  if (error != 0) fatalError(error, kPlaceReplace);
}
