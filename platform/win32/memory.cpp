#include "platform/memory.h"

#include <windows.h>

#include <cstdint>

#include "platform/files.h"

// VirtualAlloc hands out whole pages at the allocation granularity, 64 KiB
// on every Windows so far; a system with a finer one is refused rather than
// given a buffer that its unbuffered reads would reject.
char* allocateAlignedMemory(int64_t size) {
  if (size <= 0 || static_cast<uint64_t>(size) > SIZE_MAX) return nullptr;
  void* memory = VirtualAlloc(nullptr, static_cast<SIZE_T>(size), MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
  if (memory == nullptr) return nullptr;
  if (reinterpret_cast<uintptr_t>(memory) % kLargestAlignment != 0) {
    VirtualFree(memory, 0, MEM_RELEASE);
    return nullptr;
  }
  return static_cast<char*>(memory);
}

void releaseAlignedMemory(char* memory) {
  if (memory != nullptr) VirtualFree(memory, 0, MEM_RELEASE);
}
