#include "settings/settings.h"

#include <cstdint>
#include <string_view>

Settings settings;

void setDefaultSettings(Settings& s) { s = Settings(); }

void applyNoFileDefaults(Settings& s) {
  s.showCheckedBytes = true;
  s.showReadErrors = true;
  s.showOpenErrors = true;
  s.showFileName = true;
  s.showFullFileSize = true;
}

namespace {

struct FlagKey {
  std::string_view key;
  bool Settings::*field;
};

// In the order in which lines are tested against them.
constexpr FlagKey kFlagKeys[] = {
    {"instant start", &Settings::instantStart},
    {"show checked bytes", &Settings::showCheckedBytes},
    {"show read errors", &Settings::showReadErrors},
    {"show open errors", &Settings::showOpenErrors},
    {"show file name", &Settings::showFileName},
    {"show file size", &Settings::showFileSize},
    {"measure reading speed", &Settings::measureReadingSpeed},
    {"show checked bytes in percents", &Settings::showCheckedBytesInPercents},
    {"skip small files", &Settings::skipSmallFiles},
    {"show full file size", &Settings::showFullFileSize},
    {"run minimized", &Settings::runMinimized},
    {"scan all files", &Settings::scanAllFiles},
    {"show setup", &Settings::showSetup},
    {"show read byte", &Settings::showReadByte},
    {"check every file", &Settings::checkEveryFile},
    {"read past cache", &Settings::readPastCache},
    {"read whole files", &Settings::readWholeFiles},
    {"background priority", &Settings::backgroundPriority},
};

struct TextKey {
  std::string_view key;
  Text Settings::*field;
};

constexpr TextKey kTextKeys[] = {
    {"check files:", &Settings::checkFiles},
    {"default init path:", &Settings::defaultInitPath},
    {"error list:", &Settings::errorList},
    {"cycle state:", &Settings::cycleState},
};

// A number key names exactly one field, of one of four widths.
struct NumberKey {
  std::string_view key;
  int32_t low;
  int32_t high;
  int32_t Settings::*int32Field;
  uint8_t Settings::*uint8Field;
  int16_t Settings::*int16Field;
  int64_t Settings::*int64Field;
};

constexpr int32_t kMax = INT32_MAX;

constexpr NumberKey kNumberKeys[] = {
    {"stop after checked:", 0, kMax, nullptr, nullptr, nullptr, &Settings::stopAfterChecked},
    {"stop after errors:", 0, kMax, &Settings::stopAfterErrors, nullptr, nullptr, nullptr},
    {"window refresh:", 1, 100, nullptr, &Settings::windowRefresh, nullptr, nullptr},
    {"select next file:", 1, 100, nullptr, &Settings::selectNextFile, nullptr, nullptr},
    {"skip file:", 0, 100, nullptr, &Settings::skipFile, nullptr, nullptr},
    {"bytes to read at once:", 1, kMax, &Settings::bytesToReadAtOnce, nullptr, nullptr, nullptr},
    {"repeat read:", 1, kMax, &Settings::repeatRead, nullptr, nullptr, nullptr},
    {"select subfolder:", 1, 100, nullptr, &Settings::selectSubfolder, nullptr, nullptr},
    {"window horizontal position:", 0, kMax, nullptr, nullptr, &Settings::windowY, nullptr},
    {"window vertical position:", 0, kMax, nullptr, nullptr, &Settings::windowX, nullptr},
    {"stop after cycles:", 0, kMax, &Settings::stopAfterCycles, nullptr, nullptr, nullptr},
    {"stop after seconds:", 0, kMax, &Settings::stopAfterSeconds, nullptr, nullptr, nullptr},
    {"slow read limit:", 0, kMax, &Settings::slowReadLimit, nullptr, nullptr, nullptr},
    {"parallel reads:", 1, 64, &Settings::parallelReads, nullptr, nullptr, nullptr},
    {"read rate limit:", 0, kMax, nullptr, nullptr, nullptr, &Settings::readRateLimit},
};

}  // namespace

void applySettingLine(Settings& s, const Text& line, const ParsedSettingLine& parsed) {
  for (const FlagKey& k : kFlagKeys) {
    if (line == k.key) {
      s.*k.field = true;
      return;
    }
  }
  for (const TextKey& k : kTextKeys) {
    if (parsed.key == k.key) {
      s.*k.field = parsed.valueText;
      return;
    }
  }
  for (const NumberKey& k : kNumberKeys) {
    if (parsed.key != k.key) continue;
    // A rejected value leaves the field as it was: the default, or what an
    // earlier line of the same file set.
    if (parsed.numberError != 0 || parsed.number < k.low || parsed.number > k.high) return;
    if (k.int32Field) {
      s.*k.int32Field = parsed.number;
    } else if (k.int64Field) {
      s.*k.int64Field = parsed.number;
    } else if (k.uint8Field) {
      s.*k.uint8Field = static_cast<uint8_t>(parsed.number);
    } else {
      // Positions above 32767 keep their low 16 bits and so turn negative;
      // window creation then puts the window at 0.
      s.*k.int16Field = static_cast<int16_t>(static_cast<uint16_t>(parsed.number & 0xFFFF));
    }
    return;
  }
}
