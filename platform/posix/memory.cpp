#include "platform/memory.h"

#include <cstdint>
#include <cstdlib>

#include "platform/files.h"

char* allocateAlignedMemory(int64_t size) {
  if (size <= 0 || static_cast<uint64_t>(size) > SIZE_MAX) return nullptr;
  void* memory = nullptr;
  if (posix_memalign(&memory, kLargestAlignment, static_cast<std::size_t>(size)) != 0) return nullptr;
  return static_cast<char*>(memory);
}

void releaseAlignedMemory(char* memory) { std::free(memory); }
