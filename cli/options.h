// The console program's command line: the options, each the twin of a
// settings key with that key's accepted range, and the one FOLDER.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "common/text.h"
#include "settings/settings.h"

struct OptionRule;

// One setting given on the command line, to be applied over the settings
// file (or the defaults) in the order given.
struct SettingOption {
  const OptionRule* rule = nullptr;
  int64_t number = 0;
  Text text;
};

struct CommandLine {
  std::string folder;
  bool folderGiven = false;
  std::string settingsFile;  // --settings; empty: the defaults without a file
  bool settingsGiven = false;
  bool json = false;
  bool quiet = false;
  bool help = false;
  bool version = false;
  std::string prometheusFile;  // --prometheus; empty: no textfile
  bool eventLog = false;
  bool registerEventSource = false;
  std::vector<SettingOption> settings;
};

// Reads the arguments after the program name. Returns false with a one-line
// reason (naming the option or argument) when they are not a valid command
// line. --help, --version and --register-event-source need no FOLDER.
bool parseCommandLine(const std::vector<std::string>& arguments, CommandLine* line, std::string* problem);

// The settings of a scan: those of --settings or the window program's
// defaults without a settings file, with the options applied over them.
// Returns 0, or the system's code when the settings file cannot be read.
int settingsOf(const CommandLine& line, Settings* s);

// The scan's root: FOLDER in the system's form with the separator added when
// it is missing. False with the reason when FOLDER is empty or the root is
// longer than the engine's 255 bytes.
bool rootFolderOf(const std::string& folder, Text* root, std::string* problem);

// The text of --help.
const char* usageText();
