#include "bench/program.h"

// Readsweeper.exe is a Windows program; this system has only the engine.

bool programAvailable() { return false; }

ProgramRun runProgram(const std::string&, int, int32_t, int32_t) { return ProgramRun(); }

Responsiveness measureResponsiveness(const std::string&) { return Responsiveness(); }
