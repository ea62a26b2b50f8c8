// The every-file rows of the benchmark, a table of their own:
//
//   readsweeper_bench --every-file [--header] PLATFORM EVERY_ROOT MILLION_ROOT
//
// EVERY_ROOT is a copy of the benchmark's tree with one file planted that
// cannot be opened; MILLION_ROOT holds 1,000,000 empty files.
#pragma once

#include <string>
#include <vector>

// The arguments after "--every-file"; the exit code.
int everyFileBench(std::vector<std::string> args);
