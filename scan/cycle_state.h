// The cycle state file of "check every file": where a cycle in the keyed
// order stands, so that the next run takes it up. A front end opens it
// before the worker exists; then only the worker writes it.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "common/text.h"
#include "platform/clock.h"
#include "scan/siphash.h"

// A cycle in the order of its key.
struct CycleState {
  int64_t cycle = 0;       // its number, from 1; 0: no cycle yet
  SipKey key;              // drawn when it began
  bool started = false;    // whether `reached` holds anything
  uint64_t reached = 0;    // every file whose hash is at or below it has had its check
  int64_t covered = 0;     // files checked in it so far
  LocalTime began;         // local time it began
};

// `reached` of a complete cycle: every hash is at or below it.
constexpr uint64_t kCycleComplete = UINT64_MAX;

// The file's text for the cycle under `root`: a first line naming the
// format and its version, then one "key: value" line each, in the
// system's line ends.
void composeCycleState(const CycleState& state, std::string_view root, std::string* out);

// Reads the file's text; true when it holds a cycle of this format and
// version under `root`. Otherwise `*reason` says why it is not used.
bool parseCycleState(std::string_view bytes, std::string_view root, CycleState* state, Text* reason);

// Takes the state file at `path` for the next scan of `root`; an empty
// path takes none. Reads what it holds and makes sure that a file can be
// written beside it. Returns 0, or the system's error code with `*failure`
// (when given) set to "cannot write the cycle state <path>: <message>
// (code <n>)": that refuses the start. A file that cannot be used is no
// failure: a new cycle begins, and cycleStateNotice() says why.
int openCycleState(const Text& path, std::string_view root, Text* failure);

// "cycle state <path> not used: <reason>" after an open that found a file
// it could not use; empty otherwise.
Text cycleStateNotice();

// What went wrong with the file last: its open, or a write during the
// scan; empty when nothing did.
Text cycleStateFailure();

// Whether the scan keeps a state file.
bool cycleStateInUse();

// The cycle the opened file holds; false when there is none to take up.
bool storedCycleState(CycleState* state);

// Writes the state through a new file beside the state file, flushed, then
// put in its place in one step; the old state stays whole until then. The
// text is composed into room reserved by openCycleState: a write
// allocates nothing. Returns 0 or the code of the step that failed, which
// cycleStateFailure() then names.
int writeCycleState(const CycleState& state);
