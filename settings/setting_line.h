// One line of the settings file split into its key and its value, and the
// value read as a number: the file's only syntax, which both the settings
// record and the settings file build on.
#pragma once

#include <cstdint>

#include "common/text.h"

struct ParsedSettingLine {
  Text key;        // up to and including the first colon; the whole line without one
  Text valueText;  // after the colon, less one separator when two or more characters follow
  int32_t number = 0;        // valueText as a number; 0 when not read or invalid
  int16_t numberError = -1;  // 0: valid; -1: not read; else where reading failed
};

ParsedSettingLine parseSettingLine(const Text& line);
