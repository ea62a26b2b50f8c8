// The whole settings file on arbitrary bytes, loaded and saved on the
// scripted in-memory disk. Properties: every line that is not refreshed
// keeps its bytes, refreshed lines hold the record's values, saving twice
// gives the bytes of saving once, no temporary file is left, and loading the
// saved file gives the record that was saved.
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz/fuzz_check.h"
#include "platform/fake/fake.h"
#include "settings/settings.h"
#include "settings/settings_file.h"

namespace {

const char kIni[] = "Readsweeper.ini";
const char kTmp[] = "Readsweeper.tmp";

// Negative positions all mean "none saved".
int16_t position(int16_t value) { return value < 0 ? -1 : value; }

bool sameSettings(const Settings& a, const Settings& b) {
  return a.instantStart == b.instantStart && a.showCheckedBytes == b.showCheckedBytes &&
         a.showReadErrors == b.showReadErrors && a.showOpenErrors == b.showOpenErrors &&
         a.showFileName == b.showFileName && a.showFileSize == b.showFileSize &&
         a.measureReadingSpeed == b.measureReadingSpeed &&
         a.showCheckedBytesInPercents == b.showCheckedBytesInPercents &&
         a.skipSmallFiles == b.skipSmallFiles && a.showFullFileSize == b.showFullFileSize &&
         a.runMinimized == b.runMinimized && a.scanAllFiles == b.scanAllFiles &&
         a.showSetup == b.showSetup && a.showReadByte == b.showReadByte &&
         a.checkEveryFile == b.checkEveryFile && a.readPastCache == b.readPastCache &&
         a.readWholeFiles == b.readWholeFiles && a.slowReadLimit == b.slowReadLimit &&
         a.checkFiles == b.checkFiles && a.defaultInitPath == b.defaultInitPath && a.errorList == b.errorList &&
         a.stopAfterCycles == b.stopAfterCycles && a.stopAfterSeconds == b.stopAfterSeconds &&
         a.stopAfterChecked == b.stopAfterChecked && a.stopAfterErrors == b.stopAfterErrors &&
         a.windowRefresh == b.windowRefresh && a.selectNextFile == b.selectNextFile &&
         a.skipFile == b.skipFile && a.bytesToReadAtOnce == b.bytesToReadAtOnce &&
         a.repeatRead == b.repeatRead && a.selectSubfolder == b.selectSubfolder &&
         position(a.windowY) == position(b.windowY) && position(a.windowX) == position(b.windowX);
}

enum RefreshedKey { kPath = 1, kTop = 2, kLeft = 4 };

// The line a save must write for one read from the file: the refreshed
// form for the three keys (cut at 255 characters), else the line itself.
// `seen` collects which of the three keys came.
std::string expectedLine(std::string_view line, const Settings& s, int* seen) {
  std::string_view head = line.substr(0, Text::kMax);
  std::string_view key = head.substr(0, head.find(':') + 1);
  std::string value;
  if (key == "check files:") {
    value = std::string(s.checkFiles.view());
    *seen |= kPath;
  } else if (key == "window horizontal position:") {
    value = std::to_string(s.windowY);
    *seen |= kTop;
  } else if (key == "window vertical position:") {
    value = std::to_string(s.windowX);
    *seen |= kLeft;
  } else {
    return std::string(line);
  }
  // An empty path is written as the key alone: a separator with nothing
  // after it would read back as a path of one blank.
  Text refreshed(key);
  if (!value.empty()) refreshed += " " + value;
  return std::string(refreshed.view());
}

// The path that a saved "check files:" line gives back: the line holds 255
// bytes, cut between characters.
Text heldByPathLine(const Text& path) {
  if (path.empty()) return path;
  Text line("check files: ");
  line += path;
  return Text(line.view().substr(13));
}

// What a save of `before` must give: each line (ended by CR LF, LF or CR)
// as expectedLine says, with CR LF; the first line always, and from a later
// line that begins with Ctrl-Z on, the bytes as they stand.
std::string expectedSave(const std::string& before, const Settings& s, int* seen) {
  std::string after;
  std::size_t at = 0;
  do {
    std::size_t end = before.find_first_of("\r\n", at);
    if (end == std::string::npos) end = before.size();
    after += expectedLine(std::string_view(before).substr(at, end - at), s, seen) + "\r\n";
    at = end;
    if (at < before.size()) at += before.compare(at, 2, "\r\n") == 0 ? 2 : 1;
  } while (at < before.size() && before[at] != '\x1a');
  return after + before.substr(at);
}

Settings load() {
  Settings s;
  loadSettings(s);
  return s;
}

std::string saved(const Settings& s) {
  saveSettings(s);
  FUZZ_CHECK(FakeDisk.count(kTmp) == 0);
  FUZZ_CHECK(FakeOpenFiles == 0);
  return FakeDisk[kIni];
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  resetFakePlatform();
  FuzzInput input(data, size);
  // A path and a window position as the window would hand them over, then
  // the file.
  Text typedPath(input.takeString(Text::kMax));
  for (std::size_t i = 0; i < typedPath.size(); ++i) {
    if (typedPath[i] == '\r' || typedPath[i] == '\n') return 0;  // one-line edit box
  }
  if (!isValidUtf8(typedPath.view())) return 0;  // the window hands over UTF-8
  int16_t top = input.take<int16_t>();
  int16_t left = input.take<int16_t>();
  const std::string before(input.rest());
  FakeDisk[kIni] = before;

  // Saved as loaded: at a scan start with the path and position unchanged.
  Settings loaded = load();
  std::string once = saved(loaded);
  int seen = 0;
  FUZZ_CHECK(once == expectedSave(before, loaded, &seen));
  FUZZ_CHECK(saved(loaded) == once);
  // A path read in the legacy code page may have grown past what its line
  // holds once converted.
  Settings reloaded = loaded;
  if (seen & kPath) reloaded.checkFiles = heldByPathLine(loaded.checkFiles);
  FUZZ_CHECK(sameSettings(load(), reloaded));

  // Saved with a typed path and a new position, as at exit: what comes back
  // is the new values where the file has their lines (the path as far as
  // its line holds it), the loaded ones elsewhere.
  Settings changed = loaded;
  changed.checkFiles = typedPath;
  changed.windowY = top;
  changed.windowX = left;
  FakeDisk[kIni] = before;
  std::string atExit = saved(changed);
  FUZZ_CHECK(atExit == expectedSave(before, changed, &seen));
  FUZZ_CHECK(saved(changed) == atExit);
  Settings expected = loaded;
  if (seen & kPath) expected.checkFiles = heldByPathLine(typedPath);
  if (seen & kTop) expected.windowY = top;
  if (seen & kLeft) expected.windowX = left;
  FUZZ_CHECK(sameSettings(load(), expected));
  return 0;
}
