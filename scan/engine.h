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
#include "scan/cycle_state.h"
#include "scan/file_index.h"
#include "settings/settings.h"

// --- random draws -----------------------------------------------------------

void seedRandom(uint64_t seed);
// Uniform in 0 .. n-1; for n < 0 uniform in n+1 .. 0; 0 for n of 0.
int64_t randomBelow(int64_t n);
// randomBelow(100) < percent: 0 never fires, 100 always does.
bool chancePercent(int percent);
// 64 bits of the generator, for a cycle's key.
uint64_t randomBits();

// --- the record of the running scan -----------------------------------------

enum class PickResult { None, Picked, Exhausted };

// Block-read times in microseconds, in fixed buckets: one to a microsecond
// below 16, then eight to each power of two (an eighth off at most), up to
// 2^48 us. Counting a time allocates nothing.
struct ReadTimes {
  static constexpr int kBuckets = 16 + 8 * 44;
  int64_t counts[kBuckets] = {};
  int64_t total = 0;
  int64_t longest = 0;
};

void addReadTime(ReadTimes* times, int64_t micros);
// The time that `permille` thousandths of the reads took at most: the upper
// edge of its bucket, never above the longest; -1 when no read was timed.
int64_t readTimeQuantile(const ReadTimes& times, int permille);

struct ScanRecord {
  Settings settings;           // the scan's own copy, taken by prepareScan
  char* buffer = nullptr;      // readBuffer, owned by the shell
  int64_t bufferSize = 0;      // what buffer holds; no block is larger

  int64_t checkedBytes = 0;
  int64_t filesChecked = 0;    // files handed to the read check
  int64_t openErrors = 0;
  int64_t readErrors = 0;
  int64_t slowReads = 0;       // block reads over "slow read limit:"
  int64_t readPosition = 0;    // start of the block read last
  // "read whole files": the size of the file under way and how far its
  // read has come, for the counters line's percentage.
  int64_t fileSize = 0;
  int64_t fileDone = 0;
  // Whether block reads are timed (the slow-read limit is on, or the front
  // end wants the figures), and their times.
  bool timeReads = false;
  ReadTimes readTimes;
  int64_t titlePercent = 0;    // last percentage written into the title

  // Running time, on the monotonic clock in milliseconds: from the setup to
  // the end of the last pass (0 while the scan runs).
  int64_t startedAt = 0;
  int64_t finishedAt = 0;

  // "check every file": the tree as the cycle's listing found it, and the
  // cycle's place in it. The files before nextFile have had their pass.
  FileIndex index;
  int64_t nextFile = 0;
  int64_t cycle = 0;           // the cycle under way, from 1
  int64_t cyclesCompleted = 0;
  int64_t coveredFiles = 0;    // files checked in this cycle
  int64_t indexedFiles = 0;    // files in its index
  // With a cycle state file, cycles go in the order of their key, and the
  // state is written at most every kCycleStateInterval.
  bool ordered = false;
  bool resumed = false;        // the first cycle was taken up from the file
  CycleState cycleState;       // the cycle under way, as the file will hold it
  int64_t stateWrittenAt = 0;  // monotonic milliseconds

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
  // When the walk ended on a folder it could not list: that listing's code.
  int unlistedFolderError = 0;
};

extern ScanRecord Scan;

// --- worker -------------------------------------------------------------------

// The folder prefix of a path text: everything up to and including its last
// separator, empty when it has none.
Text takeRootFolder(const Text& path);
void setupScan();
void runPass();
// Marks the end of the scan's work: the time it took stops here, and the
// error list gets its last line and is closed.
void endScan();
// Gives the window back, naming an error list that failed in FileLine.
void finishScan();
// Stop rules: each asks the scan to stop when its limit is reached.
void errorLimitReached();
void checkedLimitReached();
void timeLimitReached();
// Whether the counters line has any piece to show.
bool countersShown(const Settings& s);
// After a file's check: the counters line, by chance while the scan runs
// and always when it stops, when any of its pieces is shown.
void refreshCountersLine();

// --- walk ---------------------------------------------------------------------

// Attribute bits the scan never opens: recall on data access, recall on
// open, offline (a cloud-sync client keeps the content online, and reading
// it would download it); a device (on POSIX systems a FIFO, a socket or a
// device node, whose open may wait for ever or reach a device).
constexpr uint32_t kOnlineOnly = 0x400000 | 0x40000 | 0x1000;
constexpr uint32_t kDevice = 0x40;

bool isDotEntry(std::string_view name);
// Whether a listing just opened, whose first entry is `first`, lists the
// folder that an earlier listing described by `device` and `inode`; true
// where either listing does not tell.
bool isListedFolder(uint64_t device, uint64_t inode, const ListEntry& first);

// Walks from rootFolder to one entry (Scan.entry, Scan.subPath); leaves the
// listing it stopped in open. None when rootFolder cannot be listed. A
// subfolder that cannot be listed ends the walk on a placeholder entry: its
// name is the folder's own with a separator, and Scan.unlistedFolderError
// holds the listing's code.
PickResult pickEntry();
bool entryQualifies(PickResult result, const ListEntry& entry, const Settings& s);
void closeListing();

// --- read check ---------------------------------------------------------------

// Reads randomly placed blocks of the file at `path` of `size` bytes; `name`
// is the entry's own name for the file line. False when the file was passed
// over: under "check every file", one that is no longer there. With a
// `listingError`, `path` is a folder the walk could not list: it is not
// opened, but counted as a file that failed to open and listed as the
// folder's failed listing with that code.
// With "read whole files" the file is read from its start to `size`, block
// after block, and no "select next file:" draw is made.
bool checkFile(const std::string& path, std::string_view name, int64_t size, int listingError = 0);

// --- check every file -----------------------------------------------------------

// Lists the tree under rootFolder into Scan.index; false when the scan was
// asked to stop meanwhile, which leaves the index empty.
bool listTree();
// One pass of "check every file": the next file of the cycle's index, after
// the listing when a cycle begins.
void runIndexPass();

// --- a cycle kept across runs (cycle_order.cpp) ------------------------------

constexpr int64_t kCycleStateInterval = 10000;  // milliseconds

// After a cycle's listing: takes up the stored cycle or begins a new one,
// puts the index in the order of its key, and gives the place of the first
// file still to check.
int64_t orderCycle();
// After the pass over the file at `place` of the ordered index: the state
// follows, and is written when its interval has passed.
void noteCycleProgress(int64_t place);
// The cycle is complete: every hash is reached.
void noteCycleComplete();
// Writes the state of the cycle under way, when there is one.
void saveCycleState();

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
