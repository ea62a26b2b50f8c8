#include <mutex>

#include "platform/window.h"
#include "scan/engine.h"
#include "scan/scan.h"

namespace {

constexpr std::size_t kLineLimit = 64;  // characters the status lines show at most
constexpr int64_t kKilo = int64_t{1} << 10;
constexpr int64_t kMega = int64_t{1} << 20;
constexpr int64_t kGiga = int64_t{1} << 30;

Text valueWithUnit(int64_t value, int shift, const char* unit) {
  Text text;
  text.appendInt(shift == 0 ? value : scaledRound(value, shift));
  text.append(unit);
  return text;
}

void appendSeparator(Text& text) {
  if (!text.empty()) text.append(", ");
}

// The window's status texts have one writer at a time: several readers take
// turns. Uncontended with one reader, and it allocates nothing.
std::mutex showing;

}  // namespace

int64_t scaledRound(int64_t value, int shift) {
  if (shift == 0) return value;
  int64_t divisor = int64_t{1} << shift;
  int64_t quotient = value / divisor;
  int64_t twiceRest = (value % divisor) * 2;
  if (twiceRest > divisor || (twiceRest == divisor && (quotient & 1))) ++quotient;
  return quotient;
}

Text formatFileSize(int64_t bytes) {
  if (bytes < kKilo) return valueWithUnit(bytes, 0, "B");
  if (bytes < kMega) return valueWithUnit(bytes, 10, "kB");
  if (bytes < kGiga) return valueWithUnit(bytes, 20, "MB");
  return valueWithUnit(bytes, 30, "GB");
}

// Counts and speeds move to the next unit only above the step itself, so
// exactly 1024 checked bytes still read "1024B".
Text formatCheckedBytes(int64_t bytes) {
  if (bytes <= kKilo) return valueWithUnit(bytes, 0, "B");
  if (bytes <= kMega) return valueWithUnit(bytes, 10, "kB");
  if (bytes <= kGiga) return valueWithUnit(bytes, 20, "MB");
  return valueWithUnit(bytes, 30, "GB");
}

Text formatSpeed(int64_t bytesPerSecond) {
  if (bytesPerSecond <= kKilo) return valueWithUnit(bytesPerSecond, 0, "B/s");
  if (bytesPerSecond <= kMega) return valueWithUnit(bytesPerSecond, 10, "kB/s");
  return valueWithUnit(bytesPerSecond, 20, "MB/s");
}

int64_t percentOf(int64_t checked, int64_t limit) {
  // Whole hundreds of the limit first, then the rest, whose product with
  // 100 stays far below the 64-bit range because it is below the limit.
  int64_t whole = checked / limit;
  int64_t rest = (checked % limit) * 100;
  int64_t percent = rest / limit;
  int64_t twiceRemainder = (rest % limit) * 2;
  if (twiceRemainder > limit || (twiceRemainder == limit && (percent & 1))) ++percent;
  return whole * 100 + percent;
}

Text composeFileLine(const Reader& r, std::string_view name, int64_t size) {
  const Settings& s = Scan.settings;
  Text line;
  if (s.showReadByte) {
    line.append("byte: ");
    line.appendInt(r.readPosition);
    line.append(" of ");
  }
  line += '"';
  line += Scan.rootFolder;
  line += r.subPath;
  line += name;
  line += '"';
  if (s.showFileSize && size > 0) {
    line.append(" (");
    if (s.showFullFileSize) {
      line.appendInt(size);
      line.append("B");
    } else {
      line += formatFileSize(size);
    }
    line.append(")");
  }
  if (countCharacters(line.view()) > kLineLimit) {
    line = "\"";
    line += Scan.rootFolder;
    line += r.subPath;
    line += name;
    line += '"';
  }
  if (countCharacters(line.view()) > kLineLimit) {
    line = "\"";
    line += name;
    line += '"';
  }
  return line;
}

void showFileLine(const Reader& r, std::string_view name, int64_t size) {
  Text line = composeFileLine(r, name, size);
  std::lock_guard<std::mutex> turn(showing);
  setControlText(Control::FileLine, line);
}

void showInFileLine(const Text& text) {
  std::lock_guard<std::mutex> turn(showing);
  setControlText(Control::FileLine, text);
}

// The percentage is taken under the turn, so the title never goes back.
void updateTitlePercent() {
  std::lock_guard<std::mutex> turn(showing);
  int64_t percent = percentOf(Scan.checkedBytes, Scan.settings.stopAfterChecked);
  if (percent <= Scan.titlePercent) return;
  Text title("Readsweeper ");
  title.appendInt(percent);
  title.append("%");
  setControlText(Control::MainWindow, title);
  Scan.titlePercent = percent;
}

Text composeCountersLine(const Reader& r) {
  const Settings& s = Scan.settings;
  // One reading of each count, so that both compositions show the same.
  const int64_t checkedBytes = Scan.checkedBytes;
  const int64_t cycle = Scan.cycle;
  const int64_t coveredFiles = Scan.coveredFiles;
  const int64_t indexedFiles = Scan.indexedFiles;
  const int64_t openErrors = Scan.openErrors;
  const int64_t readErrors = Scan.readErrors;
  Text line;
  // A line that would run past what the window shows is composed a second
  // time with scaled values in place of the full byte counts.
  for (int compact = 0; compact <= 1; ++compact) {
    bool full = s.showFullFileSize && compact == 0;
    line.clear();
    if (s.showCheckedBytes) {
      line.append("checked ");
      if (full) {
        line.appendInt(checkedBytes);
        line.append("B");
      } else {
        line += formatCheckedBytes(checkedBytes);
      }
      if (s.stopAfterChecked > 0 && s.showCheckedBytesInPercents) {
        line.append(" (");
        line.appendInt(percentOf(checkedBytes, s.stopAfterChecked));
        line.append("%)");
      }
    }
    if (s.checkEveryFile) {
      appendSeparator(line);
      if (cycle > 1) {
        line.append("cycle ");
        line.appendInt(cycle);
        line.append(": ");
      }
      line.append("covered ");
      line.appendInt(coveredFiles);
      line.append("/");
      line.appendInt(indexedFiles);
    }
    if (s.readWholeFiles && r.fileSize > 0) {
      appendSeparator(line);
      line.appendInt(percentOf(r.fileDone, r.fileSize));
      line.append(" % of ");
      if (full) {
        line.appendInt(r.fileSize);
        line.append("B");
      } else {
        line += formatFileSize(r.fileSize);
      }
    }
    if (s.measureReadingSpeed) {
      int64_t speed = takeSpeedForDisplay();
      if (speed > 0) {
        appendSeparator(line);
        if (full) {
          line.appendInt(speed);
          line.append("B/s");
        } else {
          line += formatSpeed(speed);
        }
      }
    }
    if (s.showOpenErrors) {
      appendSeparator(line);
      line.append("opening errors: ");
      line.appendInt(openErrors);
    }
    if (s.showReadErrors) {
      appendSeparator(line);
      line.append("reading errors: ");
      line.appendInt(readErrors);
    }
    if (s.slowReadLimit > 0 && (s.showReadErrors || s.showOpenErrors)) {
      appendSeparator(line);
      line.append("slow reads: ");
      line.appendInt(Scan.slowReads);
    }
    if (countCharacters(line.view()) <= kLineLimit) break;
  }
  return line;
}

// Composed under the turn: a line composed earlier never replaces a newer one.
void showCountersLine(const Reader& r) {
  std::lock_guard<std::mutex> turn(showing);
  setControlText(Control::CountersLine, composeCountersLine(r));
}
