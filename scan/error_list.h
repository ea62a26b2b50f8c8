// The error list: a CSV file, appended to, that names every file a scan
// found failing and how. A front end opens it before the worker exists;
// then only the worker writes it, one line per event with one write call,
// and closes it at the scan's end.
#pragma once

#include <cstdint>
#include <string_view>

#include "common/text.h"
#include "scan/scan.h"
#include "settings/settings.h"

// Opens the list at `path` for the next scan, creating it with a byte-order
// mark and the header line when it is missing or empty; an empty path opens
// nothing. Returns 0, or the system's error code with `*failure` (when
// given) set to "cannot open the error list <path>: <message> (code <n>)",
// or "cannot write ..." when the header could not be written.
int openErrorList(const Text& path, Text* failure);

// Closes the list; nothing when none is open. Frees nothing, so it is safe
// after a worker was ended by force.
void closeErrorList();

// What went wrong with the list last: its open, or the write that stopped
// the scan since; empty when nothing did.
Text errorListFailure();

// The worker's events. The failures are folded: within a scan, only the
// first event of each (path, event, code) is written and later ones are
// counted, for the first 100,000 such keys and 64 MiB of their paths; past
// either bound every event is written. A write that fails asks the scan to
// stop (StopReason::ErrorList) and closes the list; a line written in part
// is cut off again.
void listScanStart(std::string_view root, const Settings& s);
void listScanEnd(std::string_view root, const ScanResult& result);
void listOpenFailed(std::string_view path, int code);
void listFolderFailed(std::string_view folder, int code);
// One block read that failed somewhere: "seek failed" for the positioning,
// then "read failed" for the read, or "short read" when the read succeeded
// but brought fewer than `requested` bytes.
void listBlockRead(std::string_view path, int64_t offset, int64_t requested, int64_t obtained, int seekError,
                   int readError);

// A block read that took longer than "slow read limit:": "slow read", code
// 0, the message "took <ms> ms"; folded like the failures.
void listSlowRead(std::string_view path, int64_t offset, int64_t requested, int64_t obtained, int64_t milliseconds);

// Events of this scan counted instead of written.
int64_t repeatedEvents();
