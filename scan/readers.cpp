// Several readers: threads that take the files of one cycle's order by a
// shared cursor, and meet at the end of each cycle so that the next one is
// listed by exactly one of them while the others wait.
#include <condition_variable>
#include <mutex>

#include "platform/threads.h"
#include "scan/engine.h"
#include "scan/scan.h"

namespace {

// The meeting at the end of a cycle. `active` readers run; `waiting` of them
// have found the order used up. The last to arrive lists the next cycle,
// then `cycles` moves on and the others go back to work. A reader that
// leaves (the scan stops) wakes the waiting ones, which then leave too:
// every stop ends in a notification, so nobody waits for a time.
struct CycleMeeting {
  std::mutex lock;
  std::condition_variable turn;
  int active = 0;
  int waiting = 0;
  int64_t cycles = 0;
};

CycleMeeting Meeting;

// False when the scan stops instead of going on with a new cycle.
bool awaitNextCycle(Reader& r) {
  std::unique_lock<std::mutex> held(Meeting.lock);
  if (ScanState.load() <= 0) return false;
  if (++Meeting.waiting == Meeting.active) {
    // Every other reader waits here: the index is this reader's alone.
    bool listed = beginCycle(r);
    Meeting.waiting = 0;
    ++Meeting.cycles;
    Meeting.turn.notify_all();
    return listed;
  }
  int64_t cycle = Meeting.cycles;
  Meeting.turn.wait(held, [cycle] { return Meeting.cycles != cycle || ScanState.load() <= 0; });
  // A reader that leaves while others wait is no longer counted, and a
  // stop ends the meeting for all.
  if (Meeting.cycles == cycle) --Meeting.waiting;
  return ScanState.load() > 0;
}

void leaveReaders() {
  std::lock_guard<std::mutex> held(Meeting.lock);
  --Meeting.active;
  Meeting.turn.notify_all();
}

void readerMain(void* reader) {
  Reader& r = *static_cast<Reader*>(reader);
  enterReaderPriority();
  runReader(r);
}

}  // namespace

// The time limit is looked at after each file as after each pass, and the
// stop after each block by the read check.
void runReader(Reader& r) {
  while (ScanState.load() > 0) {
    // The place is held at most the one about to be taken before it is
    // taken, so that no file is seen done before its reader has it.
    r.place.store(Scan.nextFile.load());
    int64_t i = Scan.nextFile.fetchAdd(1);
    r.place.store(i);
    if (i < Scan.indexedFiles) {
      checkIndexedFile(r, i);
      timeLimitReached();
      continue;
    }
    r.place.store(Reader::kIdle);
    if (!awaitNextCycle(r)) break;
  }
  r.place.store(Reader::kIdle);
  leaveReaders();
}

// A thread that cannot be started leaves its reader out: the scan goes on
// with the others.
void runReaders() {
  ThreadHandle threads[kMostReaders];
  {
    std::lock_guard<std::mutex> held(Meeting.lock);
    Meeting.active = 1;
    Meeting.waiting = 0;
  }
  int started = 0;
  for (int i = 1; i < Scan.readers; ++i) {
    // Counted before it starts, so that no meeting ends without it.
    {
      std::lock_guard<std::mutex> held(Meeting.lock);
      ++Meeting.active;
    }
    int error = startThread(readerMain, &Readers[i], &threads[started]);
    if (error != 0) {
      leaveReaders();
      continue;
    }
    ++started;
  }
  runReader(Readers[0]);
  for (int i = 0; i < started; ++i) joinThread(threads[i]);
}
