// A bare recursive listing of a tree with the system's own calls (readdir
// and a stat per entry, FindFirstFileW and FindNextFileW), breadth first in
// the order the listings give, as the engine's index is listed: the floor
// for the every-file mode's listing and cycle.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct BareFile {
  std::string path;  // UTF-8, as the engine writes paths
  int64_t size;
};

// Lists every folder under `root` (ending in the system's separator) that
// the index would enter, and counts the files it would take in: those above
// 0 bytes, or all with `withEmpty`. With `files`, also collects them.
int64_t bareListTree(const std::string& root, bool withEmpty, std::vector<BareFile>* files);

// Opens a file for reading as the engine does (the wide call on Windows);
// -1 when it cannot be opened.
intptr_t bareOpenFile(const std::string& path);
