// --event-log: one event at the end of a scan, where the system's monitoring
// already looks: the Application event log on Windows (source
// "Readsweeper", with the program's own message table), syslog(3) on POSIX
// systems. event_log_win32.cpp and event_log_posix.cpp hold the system's
// side; the kinds and texts are portable.
#pragma once

#include <string>
#include <string_view>

#include "scan/scan.h"

// The event's identifier, also its kind: Information, Error, Warning.
enum class EventKind { Clean = 1, Errors = 2, Incomplete = 3 };

// Errors found come first, whatever ended the scan; then an interrupt or a
// failed error list; else a clean scan.
EventKind eventKindOf(const ScanResult& result);

// The summary line; for an event of errors with an error list, followed by
// "; error list: <path>".
std::string composeEventText(const ScanResult& result, std::string_view errorList);

// Writes one event; returns 0 or the system's code.
int writeEvent(EventKind kind, const std::string& text);

// --register-event-source: makes the event source known to the system, with
// this program as its message file. Returns 0 or the system's code; `done`
// says in a line what was done.
int registerEventSource(std::string* done);
