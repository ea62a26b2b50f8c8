// The scan engine's inner parts: the one record of the running scan and the
// procedures of the worker, the walk, the read check, the speed measurement
// and the texts. Everything here runs on the worker thread, except
// prepareScan and the summary, which run on the GUI thread before a worker
// exists.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "common/text.h"
#include "platform/files.h"
#include "platform/listing.h"
#include "settings/settings.h"

// --- random draws -----------------------------------------------------------

void seedRandom(uint64_t seed);
// Uniform in 0 .. n-1; for n < 0 uniform in n+1 .. 0; 0 for n of 0.
int64_t randomBelow(int64_t n);
// randomBelow(100) < percent: 0 never fires, 100 always does.
bool chancePercent(int percent);

// --- the record of the running scan -----------------------------------------

enum class PickResult { None, Picked, Exhausted };

struct ScanRecord {
  Settings settings;           // the scan's own copy, taken by prepareScan
  char* buffer = nullptr;      // readBuffer, owned by the shell
  int64_t bufferSize = 0;      // what buffer holds; no block is larger

  int64_t checkedBytes = 0;
  int64_t openErrors = 0;
  int64_t readErrors = 0;
  int64_t readPosition = 0;    // start of the block read last
  int64_t titlePercent = 0;    // last percentage written into the title

  // Speed measurement.
  int64_t speedStart = 0;      // monotonic hundredths at scan start
  int64_t speedBytes = 0;
  int64_t currentSpeed = 0;

  // Walk state. The strings are reserved once per scan and reused, so a
  // pass allocates nothing once they have grown to the tree's longest path.
  std::string rootFolder;
  std::string subPath;
  std::string pattern;         // the pattern of the listing opened last
  std::string path;            // the path handed to the read check
  ListHandle listing = kNoListing;
  ListEntry entry;
};

extern ScanRecord Scan;

// --- worker -------------------------------------------------------------------

// The folder prefix of a path text: everything up to and including its last
// backslash, empty when it has none.
Text takeRootFolder(const Text& path);
void setupScan();
void runPass();
void finishScan();
// Stop rules: each asks the scan to stop when its limit is reached.
void errorLimitReached();
void checkedLimitReached();

// --- walk ---------------------------------------------------------------------

// Walks from rootFolder to one entry (Scan.entry, Scan.subPath); leaves the
// listing it stopped in open. None when rootFolder cannot be listed.
PickResult pickEntry();
bool entryQualifies(PickResult result, const ListEntry& entry, const Settings& s);
void closeListing();

// --- read check ---------------------------------------------------------------

// Reads randomly placed blocks of the file at `path` of `size` bytes; `name`
// is the entry's own name for the file line.
void checkFile(const std::string& path, std::string_view name, int64_t size);

// --- speed --------------------------------------------------------------------

void startSpeedMeasurement();
void countRead(int64_t bytes);
int64_t takeSpeedForDisplay();
// Whether a status line is rewritten now (windowRefresh percent).
bool refreshDraw();
// Bytes over hundredths of a second, rounded ties to even; -1 when the time
// is not above 0 or the speed does not fit.
int64_t speedFrom(int64_t bytes, int64_t hundredths);

// --- texts --------------------------------------------------------------------

// Quantity divided by 2^shift, rounded to the nearest integer, ties to even.
int64_t scaledRound(int64_t value, int shift);
// Sizes of files and of the check limit: B below 1024, then kB, MB, GB.
Text formatFileSize(int64_t bytes);
// Checked bytes: B up to 1024, kB up to 1048576, MB up to 2^30, then GB.
Text formatCheckedBytes(int64_t bytes);
// Speeds: like checked bytes with "/s", MB/s the largest unit.
Text formatSpeed(int64_t bytesPerSecond);
// checked * 100 / limit rounded ties to even, without overflow; limit > 0.
int64_t percentOf(int64_t checked, int64_t limit);

Text composeFileLine(std::string_view name, int64_t size);
void showFileLine(std::string_view name, int64_t size);
void updateTitlePercent();
Text composeCountersLine();
void showCountersLine();
