#include "cli/options.h"

#include <cstdint>
#include <string_view>

#include "cli/console.h"
#include "platform/files.h"
#include "settings/settings_file.h"

namespace {

constexpr int64_t kInt32Max = INT32_MAX;
// A rate of 1T a second is no limit on any disk; above it the engine's
// credit arithmetic would leave 64 bits.
constexpr int64_t kMostRate = int64_t{1} << 40;

// How an option's value is written.
enum class ValueKind {
  None,      // a flag
  Count,     // decimal digits
  Size,      // decimal digits and an optional k, M, G or T (powers of 1024)
  Duration,  // decimal digits and an optional s, m, h or d
  File,      // any text but an empty one
};

}  // namespace

// One option that sets one field of the settings record.
struct OptionRule {
  std::string_view name;
  ValueKind kind;
  int64_t low;
  int64_t high;
  bool Settings::*flag;
  int32_t Settings::*int32Field;
  int64_t Settings::*int64Field;
  uint8_t Settings::*uint8Field;
  Text Settings::*textField;
};

namespace {

constexpr OptionRule kRules[] = {
    {"--every-file", ValueKind::None, 0, 0, &Settings::checkEveryFile, nullptr, nullptr, nullptr, nullptr},
    {"--past-cache", ValueKind::None, 0, 0, &Settings::readPastCache, nullptr, nullptr, nullptr, nullptr},
    {"--whole-files", ValueKind::None, 0, 0, &Settings::readWholeFiles, nullptr, nullptr, nullptr, nullptr},
    {"--readers", ValueKind::Count, 1, 64, nullptr, &Settings::parallelReads, nullptr, nullptr, nullptr},
    {"--rate", ValueKind::Size, 0, kMostRate, nullptr, nullptr, &Settings::readRateLimit, nullptr, nullptr},
    {"--background", ValueKind::None, 0, 0, &Settings::backgroundPriority, nullptr, nullptr, nullptr, nullptr},
    {"--scan-all", ValueKind::None, 0, 0, &Settings::scanAllFiles, nullptr, nullptr, nullptr, nullptr},
    {"--skip-small", ValueKind::None, 0, 0, &Settings::skipSmallFiles, nullptr, nullptr, nullptr, nullptr},
    {"--cycles", ValueKind::Count, 0, kInt32Max, nullptr, &Settings::stopAfterCycles, nullptr, nullptr, nullptr},
    {"--errors", ValueKind::Count, 0, kInt32Max, nullptr, &Settings::stopAfterErrors, nullptr, nullptr, nullptr},
    {"--repeat", ValueKind::Count, 1, kInt32Max, nullptr, &Settings::repeatRead, nullptr, nullptr, nullptr},
    {"--checked", ValueKind::Size, 0, INT64_MAX, nullptr, nullptr, &Settings::stopAfterChecked, nullptr, nullptr},
    {"--block", ValueKind::Size, 1, kInt32Max, nullptr, &Settings::bytesToReadAtOnce, nullptr, nullptr, nullptr},
    {"--time", ValueKind::Duration, 0, kInt32Max, nullptr, &Settings::stopAfterSeconds, nullptr, nullptr, nullptr},
    {"--slow", ValueKind::Count, 0, kInt32Max, nullptr, &Settings::slowReadLimit, nullptr, nullptr, nullptr},
    {"--skip-file", ValueKind::Count, 0, 100, nullptr, nullptr, nullptr, &Settings::skipFile, nullptr},
    {"--subfolder", ValueKind::Count, 1, 100, nullptr, nullptr, nullptr, &Settings::selectSubfolder, nullptr},
    {"--next-file", ValueKind::Count, 1, 100, nullptr, nullptr, nullptr, &Settings::selectNextFile, nullptr},
    {"--error-list", ValueKind::File, 0, 0, nullptr, nullptr, nullptr, nullptr, &Settings::errorList},
    {"--state", ValueKind::File, 0, 0, nullptr, nullptr, nullptr, nullptr, &Settings::cycleState},
};

const OptionRule* ruleNamed(std::string_view name) {
  for (const OptionRule& rule : kRules) {
    if (rule.name == name) return &rule;
  }
  return nullptr;
}

// The factor of a value's suffix; 0 for a suffix the kind does not know.
int64_t suffixFactor(ValueKind kind, std::string_view suffix) {
  if (suffix.empty()) return 1;
  if (suffix.size() != 1) return 0;
  char c = suffix[0];
  if (kind == ValueKind::Size) {
    switch (c) {
      case 'k': case 'K': return int64_t{1} << 10;
      case 'm': case 'M': return int64_t{1} << 20;
      case 'g': case 'G': return int64_t{1} << 30;
      case 't': case 'T': return int64_t{1} << 40;
      default: return 0;
    }
  }
  if (kind == ValueKind::Duration) {
    switch (c) {
      case 's': return 1;
      case 'm': return 60;
      case 'h': return 60 * 60;
      case 'd': return 24 * 60 * 60;
      default: return 0;
    }
  }
  return 0;
}

std::string quoted(std::string_view text) { return "\"" + std::string(text) + "\""; }

std::string range(const OptionRule& rule) {
  return std::to_string(rule.low) + " to " + std::to_string(rule.high);
}

// The value of a numeric option, checked against its rule.
bool readNumber(const OptionRule& rule, std::string_view value, int64_t* number, std::string* problem) {
  std::size_t digits = 0;
  while (digits < value.size() && value[digits] >= '0' && value[digits] <= '9') ++digits;
  int64_t factor = suffixFactor(rule.kind, value.substr(digits));
  if (digits == 0 || factor == 0) {
    const char* form = rule.kind == ValueKind::Size       ? " is not a size (digits, then k, M, G or T)"
                       : rule.kind == ValueKind::Duration ? " is not a duration (digits, then s, m, h or d)"
                                                          : " is not a whole number";
    *problem = std::string(rule.name) + ": " + quoted(value) + form;
    return false;
  }
  // Any value above the limit is refused, however many digits it has.
  const uint64_t limit = static_cast<uint64_t>(rule.high);
  uint64_t magnitude = 0;
  bool over = false;
  for (std::size_t i = 0; i < digits && !over; ++i) {
    uint64_t digit = static_cast<uint64_t>(value[i] - '0');
    over = magnitude > (limit - digit) / 10;
    magnitude = magnitude * 10 + digit;
  }
  over = over || magnitude > limit / static_cast<uint64_t>(factor);
  int64_t result = over ? 0 : static_cast<int64_t>(magnitude) * factor;
  if (over || result < rule.low) {
    *problem = std::string(rule.name) + ": " + quoted(value) + " is out of range (" + range(rule) + ")";
    return false;
  }
  *number = result;
  return true;
}

bool readSettingOption(const OptionRule& rule, std::string_view value, SettingOption* option,
                       std::string* problem) {
  option->rule = &rule;
  if (rule.kind == ValueKind::None) return true;
  if (rule.kind == ValueKind::File) {
    if (value.empty()) {
      *problem = std::string(rule.name) + ": needs a file name";
      return false;
    }
    if (value.size() > Text::kMax) {
      *problem = std::string(rule.name) + ": the name is longer than 255 bytes";
      return false;
    }
    option->text = Text(value);
    return true;
  }
  return readNumber(rule, value, &option->number, problem);
}

void applySettingOption(const SettingOption& option, Settings* s) {
  const OptionRule& rule = *option.rule;
  if (rule.flag) s->*rule.flag = true;
  if (rule.int32Field) s->*rule.int32Field = static_cast<int32_t>(option.number);
  if (rule.int64Field) s->*rule.int64Field = option.number;
  if (rule.uint8Field) s->*rule.uint8Field = static_cast<uint8_t>(option.number);
  if (rule.textField) s->*rule.textField = option.text;
}

// The options of the program itself, not of a setting.
struct ProgramFlag {
  std::string_view name;
  bool CommandLine::*field;
};

constexpr ProgramFlag kProgramFlags[] = {
    {"--json", &CommandLine::json},
    {"--quiet", &CommandLine::quiet},
    {"--help", &CommandLine::help},
    {"--version", &CommandLine::version},
    {"--event-log", &CommandLine::eventLog},
    {"--register-event-source", &CommandLine::registerEventSource},
};

// The options of the program that take a file name.
struct ProgramFile {
  std::string_view name;
  std::string CommandLine::*field;
};

constexpr ProgramFile kProgramFiles[] = {
    {"--settings", &CommandLine::settingsFile},
    {"--prometheus", &CommandLine::prometheusFile},
};

}  // namespace

bool parseCommandLine(const std::vector<std::string>& arguments, CommandLine* line, std::string* problem) {
  *line = CommandLine();
  bool optionsEnded = false;
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    std::string_view argument = arguments[i];
    if (optionsEnded || argument.size() < 2 || argument[0] != '-') {
      if (line->folderGiven) {
        *problem = "only one FOLDER can be scanned: " + quoted(argument) + " is one too many";
        return false;
      }
      line->folder = std::string(argument);
      line->folderGiven = true;
      continue;
    }
    if (argument == "--") {
      optionsEnded = true;
      continue;
    }
    // --name=value or --name value.
    std::size_t equals = argument.find('=');
    std::string_view name = argument.substr(0, equals);
    bool inlineValue = equals != std::string_view::npos;
    std::string_view value = inlineValue ? argument.substr(equals + 1) : std::string_view();

    const ProgramFlag* programFlag = nullptr;
    for (const ProgramFlag& f : kProgramFlags) {
      if (f.name == name) programFlag = &f;
    }
    const ProgramFile* programFile = nullptr;
    for (const ProgramFile& f : kProgramFiles) {
      if (f.name == name) programFile = &f;
    }
    const OptionRule* rule = ruleNamed(name);
    bool takesValue = programFile || (rule && rule->kind != ValueKind::None);
    if (!programFlag && !rule && !programFile) {
      *problem = quoted(name) + " is not an option (see --help)";
      return false;
    }
    if (!takesValue && inlineValue) {
      *problem = std::string(name) + ": takes no value";
      return false;
    }
    if (takesValue && !inlineValue) {
      if (i + 1 == arguments.size()) {
        *problem = std::string(name) + ": needs a value";
        return false;
      }
      value = arguments[++i];
    }

    if (programFlag) {
      line->*programFlag->field = true;
    } else if (programFile) {
      if (value.empty()) {
        *problem = std::string(name) + ": needs a file name";
        return false;
      }
      line->*programFile->field = std::string(value);
      if (name == "--settings") line->settingsGiven = true;
    } else {
      SettingOption option;
      if (!readSettingOption(*rule, value, &option, problem)) return false;
      line->settings.push_back(option);
    }
  }
  if (!line->folderGiven && !line->help && !line->version && !line->registerEventSource) {
    *problem = "no FOLDER given (see --help)";
    return false;
  }
  return true;
}

int settingsOf(const CommandLine& line, Settings* s) {
  if (line.settingsGiven) {
    int error = loadSettingsFrom(line.settingsFile.c_str(), *s);
    if (error != 0) return error;
  } else {
    setDefaultSettings(*s);
    applyNoFileDefaults(*s);
  }
  for (const SettingOption& option : line.settings) applySettingOption(option, s);
  return 0;
}

bool rootFolderOf(const std::string& folder, Text* root, std::string* problem) {
  std::string form = systemFolderForm(folder);
  if (form.empty()) {
    *problem = "FOLDER is empty";
    return false;
  }
  if (form.back() != kPathSeparator) form.push_back(kPathSeparator);
  if (form.size() > Text::kMax) {
    *problem = "FOLDER " + quoted(folder) + " is too long: the root folder holds at most 255 bytes";
    return false;
  }
  *root = Text(form);
  return true;
}

const char* usageText() {
  return R"(Usage: readsweeper-cli [OPTIONS] FOLDER

Checks that the files under FOLDER can still be opened and read, by reading
files picked at random at random places, until a stop rule ends the scan or
it is interrupted (Ctrl-C). Without --settings the settings are those of the
window program without a settings file.

Settings (each the twin of a key of the settings file):
  --settings FILE     read every key from FILE (never written); the options
                      below override it
  --every-file        check every file of the tree once per cycle
  --cycles N          with --every-file: stop after N complete cycles
  --state FILE        with --every-file: keep the cycle in FILE, so that the
                      next run takes it up where this one stopped
  --past-cache        read from the disk itself, past the system's cache
  --whole-files       read each checked file from start to end, in blocks of
                      --block from 64k up, else of 1M
  --slow MS           count and list block reads that take over MS ms
  --readers N         with --every-file: N files read at once (1 to 64)
  --rate SIZE         all readers together read at most SIZE bytes a second
  --background        read in the system's background mode (lowest disk
                      and processor priority)
  --error-list FILE   append a CSV line to FILE for every file that failed
  --checked SIZE      stop after SIZE bytes checked (k, M, G, T: 1024^n)
  --errors N          stop when opening plus reading errors reach N
  --time DURATION     stop after DURATION: 90, 90s, 30m, 2h, 1d
  --block SIZE        bytes read at once (default 1)
  --repeat N          times each block is read (default 1)
  --skip-file P       chance in percent that the walk stops at an entry (50)
  --subfolder P       chance in percent of entering a folder (25)
  --next-file P       chance in percent of leaving a file after a read (50)
  --scan-all          check the entry where a walk ends, whatever it is
  --skip-small        leave out files not larger than the block
  A limit of 0 means no limit.

Output:
  --json              at the end, the result as one JSON object on stdout
  --quiet             no progress line and no summary on stderr
  --prometheus FILE   the scan's figures in FILE for the node exporter's
                      textfile collector: at the start, every minute and at
                      the end, replaced whole each time
  --event-log         at the end, one event with the summary: the Windows
                      Application log (source Readsweeper), syslog elsewhere
  --register-event-source
                      Windows: register the event source (once, as an
                      administrator); needs no FOLDER
  --help              this text
  --version           the version

Exit codes: 0 no error found, 1 opening or reading errors found, 2 usage
error (also an error list or a cycle state that cannot be written at the
start), 3 FOLDER cannot be listed, 4 the error list could not be written,
130 interrupted.
)";
}
