// The settings file "Readsweeper.ini" in the current directory: loading it
// into a record and rewriting its path and window position lines.
#pragma once

#include <cstdint>

#include "common/text.h"
#include "settings/settings.h"

// The defaults, then every acceptable line of the file; without a file, the
// defaults with the display flags of applyNoFileDefaults. A failed file
// operation ends the program through fatalError.
void loadSettings(Settings& s);

// The defaults, then every acceptable line of the file at `path`, which is
// only read (the console program's --settings). Returns 0, or the system's
// code of the open, read or close that failed; nothing is fatal here.
int loadSettingsFrom(const char* path, Settings& s);

// Rewrites the "check files:" and the two window position lines from `s`,
// keeping every other line, through "Readsweeper.tmp" and one atomic
// replace that keeps what the file was (attributes, security, mode, owner).
// A settings file that is a symbolic link stays one: the link's target is
// rewritten, through a temporary file beside it. Does nothing when there is
// no settings file. A failed file operation ends the program through
// fatalError.
void saveSettings(const Settings& s);

// The places that a fatal report names, one per file operation.
enum SettingsFilePlace : uint32_t {
  kPlaceLoadOpen = 0x00000101,
  kPlaceLoadRead = 0x00000102,
  kPlaceLoadClose = 0x00000103,
  kPlaceSaveOpen = 0x00000201,
  kPlaceSaveRead = 0x00000202,
  kPlaceSaveClose = 0x00000203,
  kPlaceSaveTarget = 0x00000204,
  kPlaceTempCreate = 0x00000211,
  kPlaceTempWrite = 0x00000212,
  kPlaceTempFlush = 0x00000213,
  kPlaceTempClose = 0x00000214,
  kPlaceReplace = 0x00000221,
};
