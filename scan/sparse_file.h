// Test helper: a sparse file of the given size, made by the system's own
// calls so that no disk space is used.
#pragma once

#include <cstdint>

bool makeSparseFile(const char* path, int64_t size);
