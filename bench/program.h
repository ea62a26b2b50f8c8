// The whole program, Readsweeper.exe with its window, driven from outside
// as a user would: only where the program exists (the Windows build).
#pragma once

#include <cstdint>
#include <string>

struct ProgramRun {
  bool ok = false;
  double seconds = 0;  // from the press of Start until the button reads "Start" again
  int64_t bytes = 0;   // the checked bytes the counters line shows at the end
};

struct Responsiveness {
  bool ok = false;
  int samples = 0;
  double medianMs = 0;  // round trip of a message sent to the main window
  double p99Ms = 0;
  double idleCpuMs = 0;  // CPU time of the idle program over `idleSeconds`
  double idleSeconds = 0;
};

// Whether this build can start the program.
bool programAvailable();

// One scan of `root` (ending in a backslash) with the display flags of a
// program without settings file, the given refresh chance and block size,
// ended by "stop after checked:" `limit`.
ProgramRun runProgram(const std::string& root, int windowRefresh, int32_t blockSize, int32_t limit);

// Round trips while a scan of `root` runs at "window refresh:" 100, then the
// program's CPU time while it sits idle after the scan.
Responsiveness measureResponsiveness(const std::string& root);
