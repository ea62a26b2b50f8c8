// The scan engine's inner parts: the record of the running scan, the
// records of its readers, and the procedures of the worker, the readers, the
// walk, the read check, the rate limit, the speed measurement and the texts.
// Everything here runs on the worker thread and the readers' threads, except
// prepareScan and the summary, which run on the GUI thread before a worker
// exists.
#pragma once

#include <atomic>
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

// One generator: each reader draws from its own, the scan's order of a cycle
// of several readers from one of the scan's.
struct Random {
  uint64_t state = 0;
};

// The generator of reader `number` of a scan seeded with `seed`: reader 0's
// is seeded with the seed itself, as the one generator of a scan always was.
Random seededRandom(uint64_t seed, int number);
// Uniform in 0 .. n-1; for n < 0 uniform in n+1 .. 0; 0 for n of 0.
int64_t randomBelow(Random& random, int64_t n);
// randomBelow(100) < percent: 0 never fires, 100 always does.
bool chancePercent(Random& random, int percent);
// 64 bits of the generator, for a cycle's key.
uint64_t randomBits(Random& random);

// --- the records of the running scan -----------------------------------------

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

// A count that the readers add to at once: exact under concurrent adds,
// read and copied as its value. Sequentially consistent, as the cursor of a
// cycle and the readers' places are read together; on the machines the
// program runs on, an add costs the same either way.
class SharedCount {
 public:
  SharedCount() = default;
  SharedCount(int64_t value) : value_(value) {}  // NOLINT: a count is its value
  SharedCount(const SharedCount& other) : value_(other.load()) {}
  SharedCount& operator=(const SharedCount& other) {
    store(other.load());
    return *this;
  }
  SharedCount& operator=(int64_t value) {
    store(value);
    return *this;
  }
  operator int64_t() const { return load(); }  // NOLINT: a count is its value
  int64_t load() const { return value_.load(); }
  void store(int64_t value) { value_.store(value); }
  // The value before the add.
  int64_t fetchAdd(int64_t amount) { return value_.fetch_add(amount); }
  SharedCount& operator+=(int64_t amount) {
    fetchAdd(amount);
    return *this;
  }
  SharedCount& operator++() {
    fetchAdd(1);
    return *this;
  }

 private:
  std::atomic<int64_t> value_{0};
};

// The most readers a scan runs ("parallel reads:").
constexpr int kMostReaders = 64;

// What one reader works with on its own: its generator, its part of the
// scan's buffer, the strings of the path it checks and of the listing it
// has open, and the position of its last block. Nothing here is touched by
// another reader.
struct Reader {
  int number = 0;
  Random random;
  char* buffer = nullptr;
  int64_t readPosition = 0;  // start of the block read last
  // Reserved once per scan and reused, so that a pass allocates nothing
  // once they have grown to the tree's longest path.
  std::string subPath;
  std::string pattern;       // the pattern of the listing opened last
  std::string path;          // the path handed to the read check
  ListHandle listing = kNoListing;
  ListEntry entry;
  // When the walk ended on a folder it could not list: that listing's code.
  int unlistedFolderError = 0;
  // Several readers: the place in the cycle's order of the file this reader
  // checks, at most it while it is about to take one, kIdle otherwise. The
  // files below every reader's place and the cursor are done.
  static constexpr int64_t kIdle = INT64_MAX;
  SharedCount place{kIdle};
  // "read whole files": the size of the file under way and how far its
  // read has come, for the counters line's percentage.
  int64_t fileSize = 0;
  int64_t fileDone = 0;
  // The times of this reader's block reads, when they are timed.
  ReadTimes readTimes;
};

// Reader 0 runs on the worker thread itself; the others, with "check every
// file" and more than one reader, on threads of their own.
extern Reader Readers[kMostReaders];

// The scan as a whole: what every reader shares. The settings, the root,
// the buffer and the seed are handed over before any reader starts; the
// counts are added to by all readers at once; the index changes only while
// a single reader works (see every_file.cpp).
struct ScanRecord {
  Settings settings;           // the scan's own copy, taken by prepareScan
  char* buffer = nullptr;      // readBuffer, owned by the shell
  int64_t bufferSize = 0;      // each reader's part of it; no block is larger
  int readers = 1;             // readers of this scan
  uint32_t seed = 0;

  SharedCount checkedBytes;
  SharedCount filesChecked;    // files handed to the read check
  SharedCount openErrors;
  SharedCount readErrors;
  SharedCount slowReads;       // block reads over "slow read limit:"
  // Whether block reads are timed (the slow-read limit is on, or the front
  // end wants the figures); each reader keeps its own times.
  bool timeReads = false;
  int64_t titlePercent = 0;    // last percentage written into the title

  // Running time, on the monotonic clock in milliseconds: from the setup to
  // the end of the last pass (0 while the scan runs).
  int64_t startedAt = 0;
  int64_t finishedAt = 0;

  // "check every file": the tree as the cycle's listing found it, and the
  // cycle's place in it. The files before nextFile have been taken.
  FileIndex index;
  SharedCount nextFile;
  SharedCount finishedFiles;   // several readers: files of this cycle done with
  SharedCount cycle;           // the cycle under way, from 1
  SharedCount cyclesCompleted;
  SharedCount coveredFiles;    // files checked in this cycle
  SharedCount indexedFiles;    // files in its index
  Random order;                // several readers: draws each cycle's order
  // With a cycle state file, cycles go in the order of their key, and the
  // state is written at most every kCycleStateInterval.
  bool ordered = false;
  bool resumed = false;        // the first cycle was taken up from the file
  CycleState cycleState;       // the cycle under way, as the file will hold it
  int64_t stateWrittenAt = 0;  // monotonic milliseconds

  // Speed measurement.
  int64_t speedStart = 0;      // monotonic hundredths at scan start
  SharedCount speedBytes;
  SharedCount currentSpeed;

  std::string rootFolder;
};

extern ScanRecord Scan;

// How many readers a scan with these settings runs: "parallel reads:" with
// "check every file", else one.
int readersOf(const Settings& s);

// --- worker -------------------------------------------------------------------

// The folder prefix of a path text: everything up to and including its last
// separator, empty when it has none.
Text takeRootFolder(const Text& path);
// Readies the scan and its readers.
void setupScan();
// One pass of reader 0: a walk to one file, or the next file of the cycle.
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
void refreshCountersLine(Reader& reader);
// A reader's thread in the system's background mode when the settings ask
// for it; a refusal is shown once per scan in the file line.
void enterReaderPriority();

// --- several readers ------------------------------------------------------------

// Runs readers 1 .. Scan.readers-1 on threads of their own and reader 0 on
// this thread until the scan stops, then waits for every one of them.
// Called with the first cycle's index listed.
void runReaders();
// One reader's loop: files of the cycle's order taken one after another by
// the shared cursor; the reader that finds the order used up when all
// others are waiting lists the next cycle.
void runReader(Reader& reader);

// --- rate limit -------------------------------------------------------------------

// A token bucket in bytes, refilled at `rate` bytes a second and holding at
// most one second of it; a take beyond the credit leaves a debt that the
// taker waits off.
struct TokenBucket {
  int64_t rate = 0;          // bytes a second; 0: no limit
  int64_t credit = 0;        // thousandths of a byte; below 0 a debt
  int64_t refilledAt = 0;    // monotonic milliseconds
};
// Takes `bytes` at `now` milliseconds: how many milliseconds the taker
// must wait before reading them (0 when the credit covers them).
int64_t takeCredit(TokenBucket& bucket, int64_t bytes, int64_t now);
// Readies the scan's bucket: empty, so that the first second reads no more
// than the rate.
void startRateLimit(int64_t rate);
// Waits until `bytes` may be read under "read rate limit:"; returns at once
// without it, and early when the scan is asked to stop.
void awaitReadCredit(int64_t bytes);

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

// Walks from rootFolder to one entry (reader.entry, reader.subPath); leaves
// the listing it stopped in open. None when rootFolder cannot be listed. A
// subfolder that cannot be listed ends the walk on a placeholder entry: its
// name is the folder's own with a separator, and reader.unlistedFolderError
// holds the listing's code.
PickResult pickEntry(Reader& reader);
bool entryQualifies(PickResult result, const ListEntry& entry, const Settings& s);
void closeListing(Reader& reader);

// --- read check ---------------------------------------------------------------

// Reads randomly placed blocks of the file at `path` of `size` bytes; `name`
// is the entry's own name for the file line. False when the file was passed
// over: under "check every file", one that is no longer there. With a
// `listingError`, `path` is a folder the walk could not list: it is not
// opened, but counted as a file that failed to open and listed as the
// folder's failed listing with that code.
// With "read whole files" the file is read from its start to `size`, block
// after block, and no "select next file:" draw is made.
bool checkFile(Reader& reader, const std::string& path, std::string_view name, int64_t size,
               int listingError = 0);

// --- check every file -----------------------------------------------------------

// Lists the tree under rootFolder into Scan.index with the reader's strings;
// false when the scan was asked to stop meanwhile, which leaves the index
// empty.
bool listTree(Reader& reader);
// One pass of "check every file" with one reader: the next file of the
// cycle's index, after the listing when a cycle begins.
void runIndexPass(Reader& reader);
// Several readers: lists the next cycle and draws its whole order; false
// when the scan was asked to stop meanwhile.
bool beginCycle(Reader& reader);
// Several readers: checks file `i` of the cycle's order.
void checkIndexedFile(Reader& reader, int64_t i);

// --- a cycle kept across runs (cycle_order.cpp) ------------------------------

constexpr int64_t kCycleStateInterval = 10000;  // milliseconds

// After a cycle's listing: takes up the stored cycle or begins a new one
// (its key drawn from `keys`), puts the index in the order of its key with
// the reader's strings, and gives the place of the first file still to
// check.
int64_t orderCycle(Reader& reader, Random& keys);
// After the pass over the file at `place` of the ordered index: the state
// follows, and is written when its interval has passed.
void noteCycleProgress(int64_t place);
// Several readers: the same after any reader's file; the cycle is reached
// up to the first file not yet done by all readers.
void noteReadersProgress();
// The cycle is complete: every hash is reached.
void noteCycleComplete();
// Writes the state of the cycle under way, when there is one.
void saveCycleState();

// --- speed --------------------------------------------------------------------

void startSpeedMeasurement();
void countRead(Reader& reader, int64_t bytes);
int64_t takeSpeedForDisplay();
// Whether a status line is rewritten now (windowRefresh percent).
bool refreshDraw(Reader& reader);
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

// The status texts are shown by one reader at a time: the window's slots
// have one writer.
Text composeFileLine(const Reader& reader, std::string_view name, int64_t size);
void showFileLine(const Reader& reader, std::string_view name, int64_t size);
void updateTitlePercent();
// The counters line shows the sums of all readers, and under "read whole
// files" how far the file of `reader` has come.
Text composeCountersLine(const Reader& reader = Readers[0]);
void showCountersLine(const Reader& reader = Readers[0]);
// Any other text of the scan into the file line, as the status texts go.
void showInFileLine(const Text& text);
