// Memory for the reads past the system's file cache, whose buffer must be
// aligned.
#pragma once

#include <cstdint>

// `size` bytes aligned to kLargestAlignment (platform/files.h); nullptr
// when they cannot be had.
char* allocateAlignedMemory(int64_t size);

// Gives back what allocateAlignedMemory gave; nullptr is ignored.
void releaseAlignedMemory(char* memory);
