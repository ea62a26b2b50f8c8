// The settings record: every setting the user can change, with its defaults
// and the values that loading accepts.
#pragma once

#include <cstdint>

#include "common/text.h"
#include "settings/setting_line.h"

struct Settings {
  bool instantStart = false;
  bool showCheckedBytes = false;
  bool showReadErrors = false;
  bool showOpenErrors = false;
  bool showFileName = false;
  bool showFileSize = false;
  bool measureReadingSpeed = false;
  bool showCheckedBytesInPercents = false;
  bool skipSmallFiles = false;
  bool showFullFileSize = false;
  bool runMinimized = false;
  bool scanAllFiles = false;
  bool showSetup = false;
  bool showReadByte = false;
  Text checkFiles;
  Text defaultInitPath;
  int32_t stopAfterChecked = 0;
  int32_t stopAfterErrors = 0;
  uint8_t windowRefresh = 25;
  uint8_t selectNextFile = 50;
  uint8_t skipFile = 50;
  int32_t bytesToReadAtOnce = 1;
  int32_t repeatRead = 1;
  uint8_t selectSubfolder = 25;
  int16_t windowY = -1;  // top edge, under "window horizontal position:"
  int16_t windowX = -1;  // left edge, under "window vertical position:"
};

// The process-wide record. Only the GUI thread writes it; a scan works from
// its own copy.
extern Settings settings;

// Every field to its default.
void setDefaultSettings(Settings& s);

// The display flags that are on when there is no settings file.
void applyNoFileDefaults(Settings& s);

// Applies one line of the settings file, already split by parseSettingLine:
// a flag line turns its flag on, a key line sets its field when the value is
// acceptable. Every other line, and every unacceptable value, changes nothing.
void applySettingLine(Settings& s, const Text& line, const ParsedSettingLine& parsed);
