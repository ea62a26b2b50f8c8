#include "scan/cycle_state.h"

#include <charconv>
#include <string>

#include "platform/files.h"

// The file, in the settings file's style:
//
//   readsweeper cycle state 1
//   root: /srv/photos/
//   cycle: 3
//   key: 0f1e2d3c4b5a69788796a5b4c3d2e1f0
//   reached: 8a3b0c2d4e5f6071
//   covered: 48210
//   began: 2026-12-09 22:00:03
//
// `reached` is "none" before the cycle's first file; every line is needed.
// A file that does not read back exactly so is not used: a new cycle
// begins, and the reason is told. A state is small, so it is rewritten
// whole through a file beside it and put in place in one step, as the
// settings file is: a crash at any moment leaves the old state or the new
// one, never half of one.

namespace {

constexpr std::string_view kFormatLine = "readsweeper cycle state";
constexpr int kVersion = 1;
// Far above any state; a larger file is no state file.
constexpr int64_t kLargestState = 64 * 1024;
// Room for a state's text beyond its root folder.
constexpr std::size_t kStateReserve = 512;

// Written by the front end while no worker runs, then by the worker alone.
struct CycleStateRecord {
  Text path;               // as the settings name it
  std::string tempPath;    // the new file beside it
  std::string root;
  bool inUse = false;
  bool stored = false;     // whether `state` was read from the file
  CycleState state;
  Text notice;
  Text failure;
  std::string text;        // the state being written
};

CycleStateRecord Record;

Text failureText(int code) {
  Text text("cannot write the cycle state ");
  text += Record.path;
  text += ": ";
  appendErrorAndCode(text, code);
  return text;
}

void appendUnsigned(std::string* out, uint64_t value) {
  char digits[24];
  auto end = std::to_chars(digits, digits + sizeof digits, value).ptr;
  out->append(digits, static_cast<std::size_t>(end - digits));
}

void appendHex(std::string* out, uint64_t value) {
  static const char kHex[] = "0123456789abcdef";
  for (int shift = 60; shift >= 0; shift -= 4) out->push_back(kHex[(value >> shift) & 15]);
}

void appendTwoDigits(std::string* out, int value) {
  out->push_back(static_cast<char>('0' + value / 10 % 10));
  out->push_back(static_cast<char>('0' + value % 10));
}

bool parseUnsigned(std::string_view text, uint64_t* value) {
  if (text.empty()) return false;
  auto result = std::from_chars(text.data(), text.data() + text.size(), *value);
  return result.ec == std::errc() && result.ptr == text.data() + text.size();
}

bool parseHex(std::string_view text, uint64_t* value) {
  if (text.size() != 16) return false;
  *value = 0;
  for (char c : text) {
    int digit = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
    if (digit < 0) return false;
    *value = *value << 4 | static_cast<uint64_t>(digit);
  }
  return true;
}

// "2026-12-09 22:00:03"
bool parseTime(std::string_view text, LocalTime* t) {
  if (text.size() != 19 || text[4] != '-' || text[7] != '-' || text[10] != ' ' || text[13] != ':' ||
      text[16] != ':') {
    return false;
  }
  uint64_t parts[6];
  const std::size_t starts[6] = {0, 5, 8, 11, 14, 17};
  const std::size_t lengths[6] = {4, 2, 2, 2, 2, 2};
  for (int i = 0; i < 6; ++i) {
    if (!parseUnsigned(text.substr(starts[i], lengths[i]), &parts[i])) return false;
  }
  if (parts[1] < 1 || parts[1] > 12 || parts[2] < 1 || parts[2] > 31 || parts[3] > 23 || parts[4] > 59 ||
      parts[5] > 60) {
    return false;
  }
  *t = LocalTime{static_cast<int>(parts[0]), static_cast<int>(parts[1]), static_cast<int>(parts[2]),
                 static_cast<int>(parts[3]), static_cast<int>(parts[4]), static_cast<int>(parts[5]), 0};
  return true;
}

Text reasonText(const char* what, std::string_view detail = {}) {
  Text reason(what);
  reason += detail;
  return reason;
}

}  // namespace

void composeCycleState(const CycleState& s, std::string_view root, std::string* out) {
  out->assign(kFormatLine);
  out->push_back(' ');
  appendUnsigned(out, kVersion);
  out->append(kLineEnd);
  out->append("root: ").append(root).append(kLineEnd);
  out->append("cycle: ");
  appendUnsigned(out, static_cast<uint64_t>(s.cycle));
  out->append(kLineEnd).append("key: ");
  appendHex(out, s.key.k0);
  appendHex(out, s.key.k1);
  out->append(kLineEnd).append("reached: ");
  if (s.started) {
    appendHex(out, s.reached);
  } else {
    out->append("none");
  }
  out->append(kLineEnd).append("covered: ");
  appendUnsigned(out, static_cast<uint64_t>(s.covered));
  out->append(kLineEnd).append("began: ");
  appendUnsigned(out, static_cast<uint64_t>(s.began.year));
  out->push_back('-');
  appendTwoDigits(out, s.began.month);
  out->push_back('-');
  appendTwoDigits(out, s.began.day);
  out->push_back(' ');
  appendTwoDigits(out, s.began.hour);
  out->push_back(':');
  appendTwoDigits(out, s.began.minute);
  out->push_back(':');
  appendTwoDigits(out, s.began.second);
  out->append(kLineEnd);
}

bool parseCycleState(std::string_view bytes, std::string_view root, CycleState* state, Text* reason) {
  static constexpr std::string_view kKeys[] = {"root", "cycle", "key", "reached", "covered", "began"};
  constexpr int kKeyCount = 6;
  std::string_view values[kKeyCount];
  bool seen[kKeyCount] = {};
  int lineNumber = 0;
  while (!bytes.empty()) {
    std::size_t end = bytes.find('\n');
    if (end == std::string_view::npos) {
      // Every line ends, the last one too: a file cut short does not.
      *reason = reasonText("truncated in its last line");
      return false;
    }
    std::string_view line = bytes.substr(0, end);
    bytes.remove_prefix(end + 1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    ++lineNumber;
    if (lineNumber == 1) {
      if (line.substr(0, kFormatLine.size()) != kFormatLine || line.size() <= kFormatLine.size() + 1 ||
          line[kFormatLine.size()] != ' ') {
        *reason = reasonText("not a cycle state file");
        return false;
      }
      std::string_view version = line.substr(kFormatLine.size() + 1);
      if (version != "1") {
        *reason = reasonText("format version ", version);
        *reason += ", this program reads 1";
        return false;
      }
      continue;
    }
    std::size_t colon = line.find(": ");
    int key = 0;
    while (key < kKeyCount && (colon == std::string_view::npos || line.substr(0, colon) != kKeys[key])) ++key;
    if (key == kKeyCount || seen[key]) {
      *reason = reasonText("corrupt at line ");
      reason->appendInt(lineNumber);
      return false;
    }
    seen[key] = true;
    values[key] = line.substr(colon + 2);
  }
  if (lineNumber == 0) {
    *reason = reasonText("empty");
    return false;
  }
  for (int key = 0; key < kKeyCount; ++key) {
    if (!seen[key]) {
      *reason = reasonText("truncated: no ", kKeys[key]);
      *reason += " line";
      return false;
    }
  }
  CycleState s;
  uint64_t number = 0;
  bool valid = parseUnsigned(values[1], &number) && number >= 1 && number <= INT64_MAX;
  s.cycle = static_cast<int64_t>(number);
  valid = valid && values[2].size() == 32 && parseHex(values[2].substr(0, 16), &s.key.k0) &&
          parseHex(values[2].substr(16), &s.key.k1);
  s.started = values[3] != "none";
  valid = valid && (!s.started || parseHex(values[3], &s.reached));
  valid = valid && parseUnsigned(values[4], &number) && number <= INT64_MAX;
  s.covered = static_cast<int64_t>(number);
  valid = valid && parseTime(values[5], &s.began);
  if (!valid) {
    *reason = reasonText("corrupt: a value out of its form");
    return false;
  }
  if (values[0] != root) {
    *reason = reasonText("of another root folder, ", values[0]);
    return false;
  }
  *state = s;
  return true;
}

namespace {

// The file's bytes, at most kLargestState of them; 0, or the code of the
// failed step (kFileTooLarge for a file too large to be a state).
int readStateFile(const char* path, std::string* bytes) {
  FileHandle file = kNoFile;
  int error = openFileForReading(path, &file);
  if (error != 0) return error;
  char chunk[4096];
  uint32_t got = 0;
  do {
    error = readFile(file, chunk, sizeof chunk, &got);
    if (error != 0) break;
    bytes->append(chunk, got);
    if (static_cast<int64_t>(bytes->size()) > kLargestState) error = kFileTooLarge;
  } while (error == 0 && got > 0);
  int closed = closeFile(file);
  return error != 0 ? error : closed;
}

// Whether a new file can be made beside the state: the one every write
// goes through, made and taken away again.
int probeWritable() {
  FileHandle file = kNoFile;
  int error = createFileForWriting(Record.tempPath.c_str(), &file);
  if (error != 0) return error;
  error = closeFile(file);
  int removed = removeFile(Record.tempPath.c_str());
  return error != 0 ? error : removed;
}

}  // namespace

int openCycleState(const Text& path, std::string_view root, Text* failure) {
  Record.path = path;
  Record.root.assign(root);
  Record.inUse = !path.empty();
  Record.stored = false;
  Record.notice.clear();
  Record.failure.clear();
  if (failure != nullptr) failure->clear();
  if (!Record.inUse) return 0;
  Record.tempPath.assign(path.view()).append(".tmp");
  Record.text.reserve(root.size() + kStateReserve);

  std::string bytes;
  int error = readStateFile(path.c_str(), &bytes);
  Text reason;
  if (error == 0) {
    Record.stored = parseCycleState(bytes, root, &Record.state, &reason);
  } else if (error == kFileTooLarge) {
    reason = "not a cycle state file: larger than 64 KiB";
  } else if (!isNotFoundError(error)) {
    reason = "cannot read it: ";
    appendErrorAndCode(reason, error);
  }
  if (!reason.empty()) {
    Record.notice = "cycle state ";
    Record.notice += path;
    Record.notice += " not used: ";
    Record.notice += reason;
  }

  error = probeWritable();
  if (error != 0) {
    Record.failure = failureText(error);
    Record.inUse = false;
  }
  if (failure != nullptr) *failure = Record.failure;
  return error;
}

Text cycleStateNotice() { return Record.notice; }

Text cycleStateFailure() { return Record.failure; }

bool cycleStateInUse() { return Record.inUse; }

bool storedCycleState(CycleState* state) {
  if (!Record.inUse || !Record.stored) return false;
  *state = Record.state;
  return true;
}

int writeCycleState(const CycleState& state) {
  composeCycleState(state, Record.root, &Record.text);
  FileHandle file = kNoFile;
  int error = createFileForWriting(Record.tempPath.c_str(), &file);
  if (error == 0) {
    error = writeFile(file, Record.text.data(), static_cast<uint32_t>(Record.text.size()));
    // Flushed before it takes the old file's place, so that a power cut
    // never leaves an empty state behind.
    if (error == 0) error = flushFile(file);
    int closed = closeFile(file);
    if (error == 0) error = closed;
    if (error == 0) error = replaceFile(Record.tempPath.c_str(), Record.path.c_str());
    // Whatever failed, the old state is still in place; the new file goes.
    if (error != 0) removeFile(Record.tempPath.c_str());
  }
  if (error != 0) Record.failure = failureText(error);
  return error;
}
