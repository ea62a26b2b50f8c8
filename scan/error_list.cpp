#include "scan/error_list.h"

#include <charconv>
#include <climits>
#include <mutex>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/files.h"

// The list is a CSV file after RFC 4180, one line per event:
//
//   time,event,path,offset,requested,obtained,code,message
//
// A new (or empty) file starts with a UTF-8 byte-order mark, so that
// spreadsheet programs read names in every script, and that header. Each
// line is composed in a buffer whose room is kept and goes out in one write
// as its event happens: nothing waits in the program, so a crash or a
// forced end loses no line already reported.
//
// The scan's walk comes back to the same few files again and again, so one
// bad file can fail thousands of times a minute. Only the first event of
// each (path, event, code) is written; the repeats are counted and the
// count closes the scan's "scan end" line. The keys are held exactly (a
// hash finds them, the whole key confirms them), so two files never fold
// into one; a repeat costs a hash and a comparison and allocates nothing.

namespace {

enum class Event : uint8_t { ScanStart, ScanEnd, OpenFailed, SeekFailed, ReadFailed, ShortRead, ListFailed, SlowRead };

const char* nameOf(Event event) {
  switch (event) {
    case Event::ScanStart: return "scan start";
    case Event::ScanEnd: return "scan end";
    case Event::OpenFailed: return "open failed";
    case Event::SeekFailed: return "seek failed";
    case Event::ReadFailed: return "read failed";
    case Event::ShortRead: return "short read";
    case Event::ListFailed: return "list failed";
    case Event::SlowRead: return "slow read";
  }
  return "?";
}

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
constexpr std::string_view kHeader = "time,event,path,offset,requested,obtained,code,message";
constexpr int64_t kEmpty = INT64_MIN;  // a number column left empty

// Past this many keys, or this many bytes of their paths (100,000 paths
// of 32,767 characters would take gigabytes), a scan writes every further
// event.
constexpr std::size_t kMostKeys = 100000;
constexpr std::size_t kMostKeyBytes = std::size_t{64} << 20;
// Over 2.6 slots per key: probes stay short even when the set is full, and
// a free slot always ends them.
constexpr std::size_t kSlots = std::size_t{1} << 18;
// Room for a line with a deep path, so that lines do not allocate.
constexpr std::size_t kLineReserve = 16 * 1024;

struct FoldKey {
  uint64_t hash;
  std::size_t pathStart;  // in keyPaths
  std::size_t pathLength;
  int code;
  Event event;
};

// Written by the front end while no worker runs, then by the scan's
// readers, one at a time.
struct ErrorListRecord {
  FileHandle file = kNoFile;
  Text path;             // as the settings name it
  Text failure;          // what went wrong last
  int64_t repeated = 0;  // events of this scan not written
  std::string line;      // the line being composed
  std::vector<FoldKey> keys;
  std::string keyPaths;         // the keys' paths, one after another
  std::vector<uint32_t> slots;  // 1 + the index of a key; 0 is free
};

ErrorListRecord List;

// The readers' events take turns: each line is composed and written whole
// before the next, and the fold set is one for all.
std::mutex listing;
using Held = std::lock_guard<std::mutex>;

Text failureText(const char* what, int code) {
  Text text(what);
  text += List.path;
  text += ": ";
  appendErrorAndCode(text, code);
  return text;
}

void closeList() {
  if (List.file == kNoFile) return;
  int error = closeFile(List.file);
  List.file = kNoFile;
  // A file system that writes late reports its trouble here.
  if (error != 0 && List.failure.empty()) List.failure = failureText("cannot write the error list ", error);
}

uint64_t hashOf(Event event, std::string_view path, int code) {
  uint64_t hash = 14695981039346656037ull;  // FNV-1a
  auto mix = [&hash](uint8_t byte) { hash = (hash ^ byte) * 1099511628211ull; };
  for (char c : path) mix(static_cast<uint8_t>(c));
  mix(static_cast<uint8_t>(event));
  for (int shift = 0; shift < 32; shift += 8) mix(static_cast<uint8_t>(static_cast<uint32_t>(code) >> shift));
  return hash;
}

// Whether the event is the first of its key in this scan: true for a new
// key, which is stored while the set has room, and for every event of a
// key that found no room.
bool firstOfItsKind(Event event, std::string_view path, int code) {
  uint64_t hash = hashOf(event, path, code);
  std::size_t mask = List.slots.size() - 1;
  std::size_t at = static_cast<std::size_t>(hash ^ (hash >> 32)) & mask;
  for (; List.slots[at] != 0; at = (at + 1) & mask) {
    const FoldKey& key = List.keys[List.slots[at] - 1];
    if (key.hash == hash && key.event == event && key.code == code &&
        std::string_view(List.keyPaths).substr(key.pathStart, key.pathLength) == path) {
      return false;
    }
  }
  if (List.keys.size() == kMostKeys || List.keyPaths.size() + path.size() > kMostKeyBytes) return true;
  List.keys.push_back({hash, List.keyPaths.size(), path.size(), code, event});
  List.keyPaths.append(path);
  List.slots[at] = static_cast<uint32_t>(List.keys.size());
  return true;
}

void appendNumber(std::string* line, int64_t value) {
  char digits[24];
  char* end = std::to_chars(digits, digits + sizeof digits, value).ptr;
  line->append(digits, static_cast<std::size_t>(end - digits));
}

void appendPadded(std::string* line, int value, int width) {
  char digits[8];
  for (int i = width - 1; i >= 0; --i) {
    digits[i] = static_cast<char>('0' + value % 10);
    value /= 10;
  }
  line->append(digits, static_cast<std::size_t>(width));
}

// "YYYY-MM-DD hh:mm:ss.mmm"
void appendTime(std::string* line, const LocalTime& t) {
  appendPadded(line, t.year, 4);
  *line += '-';
  appendPadded(line, t.month, 2);
  *line += '-';
  appendPadded(line, t.day, 2);
  *line += ' ';
  appendPadded(line, t.hour, 2);
  *line += ':';
  appendPadded(line, t.minute, 2);
  *line += ':';
  appendPadded(line, t.second, 2);
  *line += '.';
  appendPadded(line, t.millisecond, 3);
}

// The text with each byte that is not part of a UTF-8 character written as
// U+FFFD (a Latin-1 name on Linux, a lone surrogate from Windows), as the
// JSON result writes it: the list as a whole stays UTF-8. Double quotes are
// doubled when `quoted`.
void appendUtf8(std::string* line, std::string_view text, bool quoted) {
  if (!quoted && isValidUtf8(text)) {
    line->append(text);
    return;
  }
  while (!text.empty()) {
    std::size_t length = characterLength(text);
    if (length == 0) {
      line->append("\xEF\xBF\xBD");
      text.remove_prefix(1);
      continue;
    }
    if (quoted && text[0] == '"') *line += '"';
    line->append(text.substr(0, length));
    text.remove_prefix(length);
  }
}

// A field holding a comma, a double quote, CR or LF goes in double quotes,
// with its own double quotes doubled.
void appendField(std::string* line, std::string_view text) {
  bool quoted = text.find_first_of(",\"\r\n") != std::string_view::npos;
  if (quoted) *line += '"';
  appendUtf8(line, text, quoted);
  if (quoted) *line += '"';
}

void composeLine(Event event, std::string_view path, int64_t offset, int64_t requested, int64_t obtained,
                 int64_t code, std::string_view message) {
  std::string& line = List.line;
  line.clear();
  appendTime(&line, localTime());
  line += ',';
  line += nameOf(event);
  line += ',';
  appendField(&line, path);
  for (int64_t number : {offset, requested, obtained, code}) {
    line += ',';
    if (number != kEmpty) appendNumber(&line, number);
  }
  line += ',';
  appendField(&line, message);
  line += kLineEnd;
}

// Writes the composed line in one call. A failure is kept for the front
// end, and the list is closed: nothing more is written to it. A line that
// went out only in part (a full disk, a file size limit) is cut off again,
// so that the list always ends at a line end and the next scan's first
// line starts a line of its own.
int writeLine() {
  int64_t before = 0;
  int lengthError = fileLength(List.file, &before);
  int error = writeFile(List.file, List.line.data(), static_cast<uint32_t>(List.line.size()));
  if (error == 0) return 0;
  if (lengthError == 0) {
    // A list that cannot be cut (a FIFO) keeps what it got; the failure
    // reported is the write's either way.
    int cutError = truncateFile(List.file, before);
    static_cast<void>(cutError);
  }
  List.failure = failureText("cannot write the error list ", error);
  closeList();
  return error;
}

void writeEvent(Event event, std::string_view path, int64_t offset, int64_t requested, int64_t obtained, int64_t code,
                std::string_view message) {
  composeLine(event, path, offset, requested, obtained, code, message);
  if (writeLine() != 0) requestScanStop(StopReason::ErrorList);
}

// Whether an event of the key is written: false, and counted, for a repeat.
bool firstWritten(Event event, std::string_view path, int code) {
  if (List.file == kNoFile) return false;
  if (firstOfItsKind(event, path, code)) return true;
  ++List.repeated;
  return false;
}

void listFailure(Event event, std::string_view path, int64_t offset, int64_t requested, int64_t obtained, int code) {
  if (!firstWritten(event, path, code)) return;
  Text message = event == Event::ShortRead && code == 0 ? Text("end of file") : errorText(code);
  writeEvent(event, path, offset, requested, obtained, code, message.view());
}

}  // namespace

int openErrorList(const Text& path, Text* failure) {
  Held held(listing);
  closeList();
  List.path = path;
  List.failure.clear();
  List.repeated = 0;
  List.keys.clear();
  List.keyPaths.clear();
  int error = 0;
  if (!path.empty()) {
    List.line.reserve(kLineReserve);
    List.slots.assign(kSlots, 0);
    bool empty = false;
    error = openFileForAppending(path.c_str(), &List.file, &empty);
    if (error != 0) {
      List.file = kNoFile;
      List.failure = failureText("cannot open the error list ", error);
    } else if (empty) {
      List.line.assign(kByteOrderMark).append(kHeader).append(kLineEnd);
      error = writeLine();
    }
  }
  if (failure != nullptr) *failure = List.failure;
  return error;
}

// A worker ended by force may have died holding the turn: the list is then
// closed without it. Nothing else runs then.
void closeErrorList() {
  std::unique_lock<std::mutex> held(listing, std::try_to_lock);
  closeList();
}

Text errorListFailure() {
  Held held(listing);
  return List.failure;
}

int64_t repeatedEvents() {
  Held held(listing);
  return List.repeated;
}

void listScanStart(std::string_view root, const Settings& s) {
  Held held(listing);
  if (List.file == kNoFile) return;
  Settings shown = s;
  shown.showSetup = true;
  std::string message(versionText().view());
  message += "; ";
  message += composeSettingsSummary(shown).view();
  writeEvent(Event::ScanStart, root, kEmpty, kEmpty, kEmpty, kEmpty, message);
}

void listScanEnd(std::string_view root, const ScanResult& result) {
  Held held(listing);
  if (List.file == kNoFile) return;
  std::string message(composeScanEndMessage(result).view());
  message += ", ";
  appendNumber(&message, List.repeated);
  message += " repeated events not listed";
  writeEvent(Event::ScanEnd, root, kEmpty, kEmpty, kEmpty, kEmpty, message);
}

void listOpenFailed(std::string_view path, int code) {
  Held held(listing);
  listFailure(Event::OpenFailed, path, kEmpty, kEmpty, kEmpty, code);
}

void listFolderFailed(std::string_view folder, int code) {
  Held held(listing);
  listFailure(Event::ListFailed, folder, kEmpty, kEmpty, kEmpty, code);
}

void listBlockRead(std::string_view path, int64_t offset, int64_t requested, int64_t obtained, int seekError,
                   int readError) {
  Held held(listing);
  if (seekError != 0) listFailure(Event::SeekFailed, path, offset, requested, obtained, seekError);
  // A failed read that also came back short is one line: the shortfall
  // follows from the failure.
  if (readError != 0) {
    listFailure(Event::ReadFailed, path, offset, requested, obtained, readError);
  } else if (obtained != requested) {
    listFailure(Event::ShortRead, path, offset, requested, obtained, 0);
  }
}

void listSlowRead(std::string_view path, int64_t offset, int64_t requested, int64_t obtained, int64_t milliseconds) {
  if (!firstWritten(Event::SlowRead, path, 0)) return;
  Text message("took ");
  message.appendInt(milliseconds);
  message.append(" ms");
  writeEvent(Event::SlowRead, path, offset, requested, obtained, 0, message.view());
}
