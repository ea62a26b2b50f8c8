#include "cli/prometheus.h"

#include <cstring>

#include "common/text.h"
#include "platform/files.h"

namespace {

// A textfile never grows near this; an earlier file larger than it is not
// one of ours, and nothing is carried over from it.
constexpr uint32_t kLargestEarlierFile = 1 << 20;

constexpr std::string_view kCleanCycleMetric = "readsweeper_last_clean_cycle_timestamp_seconds";

// Milliseconds as seconds with three decimals: the format's floats.
std::string secondsOf(int64_t milliseconds) {
  if (milliseconds < 0) milliseconds = 0;
  std::string fraction = std::to_string(milliseconds % 1000);
  return std::to_string(milliseconds / 1000) + "." + std::string(3 - fraction.size(), '0') + fraction;
}

class Exposition {
 public:
  explicit Exposition(std::string_view root) {
    label_ = "{root=";
    appendLabelValue(&label_, root);
  }

  void metric(const char* name, const char* help, const std::string& value, std::string_view extraLabel = {}) {
    text_ += "# HELP ";
    text_ += name;
    text_ += ' ';
    text_ += help;
    text_ += "\n# TYPE ";
    text_ += name;
    text_ += " gauge\n";
    text_ += name;
    text_ += label_;
    text_ += extraLabel;
    text_ += "} ";
    text_ += value;
    text_ += '\n';
  }
  void metric(const char* name, const char* help, int64_t value) { metric(name, help, std::to_string(value)); }

  std::string take() { return std::move(text_); }

 private:
  std::string label_;
  std::string text_;
};

}  // namespace

void appendLabelValue(std::string* out, std::string_view bytes) {
  out->push_back('"');
  while (!bytes.empty()) {
    char c = bytes[0];
    std::size_t length = characterLength(bytes);
    if (length == 0) {
      out->append("\xEF\xBF\xBD");  // U+FFFD: the format is UTF-8
      length = 1;
    } else if (c == '"' || c == '\\') {
      out->push_back('\\');
      out->push_back(c);
    } else if (c == '\n') {
      out->append("\\n");
    } else {
      out->append(bytes.substr(0, length));
    }
    bytes.remove_prefix(length);
  }
  out->push_back('"');
}

std::string composeMetrics(const ScanMetrics& m) {
  const ScanResult& r = m.result;
  Exposition e(m.root);
  e.metric("readsweeper_scan_running", "Whether a scan is running: 1 during a scan, 0 after it.", m.running ? 1 : 0);
  e.metric("readsweeper_checked_bytes", "Bytes read by the current or last scan.", r.checkedBytes);
  e.metric("readsweeper_files_checked", "Files checked by the current or last scan.", r.filesChecked);
  e.metric("readsweeper_opening_errors", "Opening errors of the current or last scan: files that could not be opened.",
           r.openErrors);
  e.metric("readsweeper_reading_errors",
           "Reading errors of the current or last scan: failed positionings, failed and short reads.", r.readErrors);
  if (r.slowReadsCounted) {
    e.metric("readsweeper_slow_reads", "Block reads of the current or last scan that took longer than the slow read limit.",
             r.slowReads);
  }
  if (m.everyFile) {
    e.metric("readsweeper_cycles_completed", "Cycles of the every-file mode completed by the current or last scan.",
             r.cyclesCompleted);
    e.metric("readsweeper_cycle_covered_files", "Files checked of the current cycle's index.", r.coveredFiles);
    e.metric("readsweeper_cycle_indexed_files", "Files in the current cycle's index.", r.indexedFiles);
  }
  e.metric("readsweeper_last_scan_start_timestamp_seconds",
           "When the current or last scan started, in seconds since the Unix epoch.", secondsOf(m.startedAtMs));
  if (!m.running) {
    e.metric("readsweeper_last_scan_end_timestamp_seconds",
             "When the last scan ended, in seconds since the Unix epoch.", secondsOf(m.endedAtMs));
  }
  e.metric("readsweeper_last_scan_duration_seconds", "How long the current or last scan has run.",
           secondsOf(r.elapsedMilliseconds));
  if (!m.running) {
    e.metric("readsweeper_last_scan_exit_code",
             "The exit code of the last scan: 0 no error, 1 errors found, 3 folder not listable, 4 error list "
             "failed, 130 interrupted.",
             m.exitCode);
  }
  if (m.lastCleanCycleMs > 0) {
    e.metric(kCleanCycleMetric.data(),
             "When a cycle last completed without an opening or reading error, in seconds since the Unix epoch.",
             secondsOf(m.lastCleanCycleMs));
  }
  Text version = versionText();
  std::string_view number = version.view();
  number.remove_prefix(number.find(' ') + 1);  // "version 0.03.4"
  std::string versionLabel = ",version=";
  appendLabelValue(&versionLabel, number);
  e.metric("readsweeper_build_info", "The program's version, in the label version; always 1.", "1", versionLabel);
  return e.take();
}

int64_t lastCleanCycleIn(std::string_view exposition, std::string_view root) {
  std::string wanted(kCleanCycleMetric);
  wanted += "{root=";
  appendLabelValue(&wanted, root);
  wanted += "} ";
  std::size_t at = 0;
  while ((at = exposition.find(wanted, at)) != std::string_view::npos) {
    bool lineStart = at == 0 || exposition[at - 1] == '\n';
    at += wanted.size();
    if (!lineStart) continue;
    // Seconds, and up to three decimals: what composeMetrics writes.
    int64_t seconds = 0;
    std::size_t digits = 0;
    while (at < exposition.size() && exposition[at] >= '0' && exposition[at] <= '9' && digits < 15) {
      seconds = seconds * 10 + (exposition[at++] - '0');
      ++digits;
    }
    if (digits == 0) return 0;
    int64_t milliseconds = 0;
    int decimals = 0;
    if (at < exposition.size() && exposition[at] == '.') {
      ++at;
      while (at < exposition.size() && exposition[at] >= '0' && exposition[at] <= '9' && decimals < 3) {
        milliseconds = milliseconds * 10 + (exposition[at++] - '0');
        ++decimals;
      }
    }
    for (; decimals < 3; ++decimals) milliseconds *= 10;
    if (at < exposition.size() && exposition[at] != '\n') return 0;
    return seconds * 1000 + milliseconds;
  }
  return 0;
}

int64_t readLastCleanCycle(const std::string& path, std::string_view root) {
  FileHandle file = kNoFile;
  if (openFileForReading(path.c_str(), &file) != 0) return 0;
  std::string text(kLargestEarlierFile, '\0');
  std::size_t filled = 0;
  int error = 0;
  while (filled < text.size()) {
    uint32_t got = 0;
    error = readFile(file, text.data() + filled, static_cast<uint32_t>(text.size() - filled), &got);
    if (error != 0 || got == 0) break;
    filled += got;
  }
  closeFile(file);
  if (error != 0 || filled == text.size()) return 0;
  text.resize(filled);
  return lastCleanCycleIn(text, root);
}

int writeMetricsFile(const std::string& path, std::string_view text) {
  std::string temporary = path + ".tmp";
  FileHandle file = kNoFile;
  int error = createFileForWriting(temporary.c_str(), &file);
  if (error != 0) return error;
  error = writeFile(file, text.data(), static_cast<uint32_t>(text.size()));
  // On the disk before it takes the old file's place: after a crash the
  // name holds the old text or the new one, never an empty file.
  if (error == 0) error = flushFile(file);
  int closed = closeFile(file);
  if (error == 0) error = closed;
  // A new file left behind by a failure is emptied by the next write.
  if (error == 0) error = replaceFile(temporary.c_str(), path.c_str());
  return error;
}
