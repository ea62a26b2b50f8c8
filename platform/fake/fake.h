// Controls of the scripted platform that the engine's tests link instead of
// the real one: a file system of listings and files with injected failures,
// whole files held in memory, a recording window and a clock the test sets.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "common/text.h"
#include "platform/clock.h"
#include "platform/listing.h"
#include "platform/window.h"

// --- listings -----------------------------------------------------------------

struct FakeFolder {
  std::vector<ListEntry> entries;  // in listing order; empty lists nothing
  int openError = 0;               // non-zero: listFirst fails with it
  int failNextAt = -1;             // listNext fails when it would reach this index
};

// Keyed by the exact pattern the engine asks for, e.g. "R:\\sub\\*.*".
extern std::map<std::string, FakeFolder> FakeFolders;

ListEntry fakeEntry(const char* name, int64_t size, uint32_t attributes = 0x20);
ListEntry fakeFolderEntry(const char* name, uint32_t attributes = 0x10);

// --- files --------------------------------------------------------------------

struct FakeFile {
  int64_t size = 0;
  int openError = 0;          // non-zero: the open fails with it
  bool failPositioning = false;
  int64_t failReadAfter = -1; // a read fails once the position reaches this
  int64_t maxPerRead = 0;     // more than 0: no platform read returns more
  uint32_t alignment = 4096;  // what an unbuffered open of it reports
  // A bad range: a read that reaches into it delivers the bytes before it
  // and fails.
  int64_t badFrom = -1;
  int64_t badLength = 0;
  // A read that delivers the byte at stallAt moves the clock on by
  // stallHundredths, as a read that takes that long.
  int64_t stallAt = -1;
  int64_t stallHundredths = 0;
};

// Keyed by the exact path the engine opens.
extern std::map<std::string, FakeFile> FakeFiles;

struct FakeRead {
  std::string path;
  int64_t position;  // where the read started
  uint32_t asked;
  uint32_t got;
  bool unbuffered = false;  // a read past the cache, at an offset of its own
};

extern std::vector<FakeRead> FakeReads;
extern std::vector<std::string> FakeOpens;  // every open attempt, in order
// Files and listings open now; both are 0 after a scan that closed all.
extern int FakeOpenFiles;
extern int FakeOpenListings;
// The root length that the last open of a listed file was given.
extern std::atomic<std::size_t> FakeListedRootLength;
// Platform reads and entries listed so far; safe to watch from another
// thread.
extern std::atomic<int64_t> FakeReadCount;
// Reads past the cache refused for a misaligned offset, size or buffer.
extern int FakeMisalignedReads;
extern std::atomic<int64_t> FakeListedCount;

// --- whole files ----------------------------------------------------------------

// Files with content, keyed by name: the settings file and its temporary
// file. They are found, read, created, written and replaced in memory, so
// the settings file's load and save run without a disk. A failed operation
// on them reaches fatalError, which here aborts: the scripted disk never
// fails.
extern std::map<std::string, std::string> FakeDisk;

// The error list is a whole file too, opened for appending. Both are 0
// after a reset.
extern int FakeAppendOpenError;  // non-zero: opening for appending fails with it
extern int FakeWriteError;       // non-zero: every write to a whole file fails with it
extern int FakeWriteCount;       // writes to whole files that succeeded
// Non-zero: creating a file for writing, putting one in the place of
// another, removing one fails with it. 0 after a reset.
extern int FakeCreateError;
extern int FakeReplaceError;
extern int FakeRemoveError;

// --- window -------------------------------------------------------------------

// Every call on the window, in order: "text <control>: <text>",
// "enable <control>: 1", "show normal".
extern std::vector<std::string> WindowLog;
extern std::string FakePathText;  // what readControlText(PathEdit) returns
const char* controlName(Control control);
// Empties the log and the path text.
void resetFakeWindow();

// --- clock --------------------------------------------------------------------

extern uint32_t FakeTickCount;
extern int64_t FakeHundredths;
// Added to FakeHundredths at every reading of the monotonic clock, so that
// time passes as a scan looks at it; 0 keeps the clock still.
extern int64_t FakeClockStep;

// pauseMilliseconds sleeps not: it moves FakeHundredths by the pause
// (rounded up to hundredths), adds it here, and then calls the hook, when
// there is one.
extern int64_t FakePausedMilliseconds;
extern std::function<void()> FakePauseHook;

// What localTime() returns: 2026-01-02 03:04:05.006 after a reset.
extern LocalTime FakeLocalTime;

// --- priority -----------------------------------------------------------------

extern int FakeBackgroundError;  // non-zero: the background mode is refused with it
extern std::atomic<int> FakeBackgroundThreads;  // threads that asked for it

// Everything back to empty: no folders, no files, no log, clock at 0.
// The scripted system may be called from several threads at once; the
// tests read and set its tables while no scan runs.
void resetFakePlatform();
