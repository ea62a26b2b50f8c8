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
  bool checkEveryFile = false;  // passes take their files from an index of the whole tree
  bool readPastCache = false;   // reads go past the system's file cache to the disk
  bool readWholeFiles = false;  // a file's check reads it from start to end, block after block
  bool backgroundPriority = false;  // readers in the system's background mode
  Text checkFiles;
  Text defaultInitPath;
  Text errorList;               // the CSV file that names what failed; empty: none
  Text cycleState;              // where a cycle of "check every file" is kept across runs; empty: none
  // 64 bits wide for the console program's sizes; the settings file's
  // number syntax still gives at most 2147483647.
  int64_t stopAfterChecked = 0;
  int32_t stopAfterErrors = 0;
  uint8_t windowRefresh = 25;
  uint8_t selectNextFile = 50;
  uint8_t skipFile = 50;
  int32_t bytesToReadAtOnce = 1;
  int32_t repeatRead = 1;
  uint8_t selectSubfolder = 25;
  int16_t windowY = -1;  // top edge, under "window horizontal position:"
  int16_t windowX = -1;  // left edge, under "window vertical position:"
  int32_t stopAfterCycles = 0;   // complete cycles of "check every file"; 0 = no limit
  int32_t stopAfterSeconds = 0;  // running time of a scan; 0 = no limit
  int32_t slowReadLimit = 0;     // milliseconds a block read may take before it is slow; 0 = off
  int32_t parallelReads = 1;     // readers of "check every file", 1 to 64
  // Bytes a second all readers together read at most; 0 = no limit. 64 bits
  // wide for the console program's sizes.
  int64_t readRateLimit = 0;
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
