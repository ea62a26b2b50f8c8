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

Text composeFileLine(std::string_view name, int64_t size) {
  const Settings& s = Scan.settings;
  Text line;
  if (s.showReadByte) {
    line.append("byte: ");
    line.appendInt(Scan.readPosition);
    line.append(" of ");
  }
  line += '"';
  line += Scan.rootFolder;
  line += Scan.subPath;
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
    line += Scan.subPath;
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

void showFileLine(std::string_view name, int64_t size) {
  setControlText(Control::FileLine, composeFileLine(name, size));
}

void updateTitlePercent() {
  int64_t percent = percentOf(Scan.checkedBytes, Scan.settings.stopAfterChecked);
  if (percent <= Scan.titlePercent) return;
  Text title("Readsweeper ");
  title.appendInt(percent);
  title.append("%");
  setControlText(Control::MainWindow, title);
  Scan.titlePercent = percent;
}

Text composeCountersLine() {
  const Settings& s = Scan.settings;
  Text line;
  // A line that would run past what the window shows is composed a second
  // time with scaled values in place of the full byte counts.
  for (int compact = 0; compact <= 1; ++compact) {
    bool full = s.showFullFileSize && compact == 0;
    line.clear();
    if (s.showCheckedBytes) {
      line.append("checked ");
      if (full) {
        line.appendInt(Scan.checkedBytes);
        line.append("B");
      } else {
        line += formatCheckedBytes(Scan.checkedBytes);
      }
      if (s.stopAfterChecked > 0 && s.showCheckedBytesInPercents) {
        line.append(" (");
        line.appendInt(percentOf(Scan.checkedBytes, s.stopAfterChecked));
        line.append("%)");
      }
    }
    if (s.checkEveryFile) {
      appendSeparator(line);
      if (Scan.cycle > 1) {
        line.append("cycle ");
        line.appendInt(Scan.cycle);
        line.append(": ");
      }
      line.append("covered ");
      line.appendInt(Scan.coveredFiles);
      line.append("/");
      line.appendInt(Scan.indexedFiles);
    }
    if (s.readWholeFiles && Scan.fileSize > 0) {
      appendSeparator(line);
      line.appendInt(percentOf(Scan.fileDone, Scan.fileSize));
      line.append(" % of ");
      if (full) {
        line.appendInt(Scan.fileSize);
        line.append("B");
      } else {
        line += formatFileSize(Scan.fileSize);
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
      line.appendInt(Scan.openErrors);
    }
    if (s.showReadErrors) {
      appendSeparator(line);
      line.append("reading errors: ");
      line.appendInt(Scan.readErrors);
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

void showCountersLine() { setControlText(Control::CountersLine, composeCountersLine()); }
