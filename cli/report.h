// What the console program tells at the end of a scan, and while it runs:
// the JSON result, the summary line, the exit code and the status line.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "common/text.h"
#include "scan/scan.h"

// Exit codes besides those of a finished scan.
constexpr int kExitClean = 0;       // ended by a stop rule, no error found
constexpr int kExitErrors = 1;      // ended with an opening or reading error
constexpr int kExitUsage = 2;       // a usage error; nothing was scanned
constexpr int kExitUnlistable = 3;  // FOLDER cannot be listed at all
constexpr int kExitErrorList = 4;   // the error list could not be written during the scan

// The exit code of a scan that ran: 130 when the user stopped it, else 0
// or 1 by its error counts.
int exitCodeOf(const ScanResult& result);

// The stop reason as the JSON result names it: "checked", "errors",
// "time", "cycles" or "interrupt".
const char* stopReasonName(StopReason reason);

// Appends a JSON string: quotes, backslashes and control characters
// escaped, and every byte that is not part of a UTF-8 character as U+FFFD.
void appendJsonString(std::string* out, std::string_view bytes);

// The result as one JSON object on one line, with its line end. The
// every-file fields come only in that mode; the read times are null when
// they were not kept.
std::string composeJsonResult(const ScanResult& result, std::string_view root, bool everyFile);

// "checked <bytes> B, files checked <n>, ..., <seconds> s; stopped by <what>"
std::string composeSummaryLine(const ScanResult& result);

// The terminal's status line: the counters line, two blanks and the file
// line, with every control character and every byte that is not part of a
// UTF-8 character shown as "?", cut to `columns` - 1 terminal columns (the
// last column would make the terminal wrap); a wide character takes two.
std::string composeStatusLine(std::string_view counters, std::string_view file, int columns);

// The terminal columns a status line takes.
std::size_t terminalColumnsOf(std::string_view line);

// Bytes per second from bytes and milliseconds, rounded; 0 without time.
int64_t bytesPerSecond(int64_t bytes, int64_t milliseconds);
