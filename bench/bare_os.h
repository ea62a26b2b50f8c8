// The operating system's own listing and file calls with nothing around
// them: no texts, no status words, no copies of names. Only the reference
// sampler uses them. One listing is open at a time.
#pragma once

#include <cstddef>
#include <cstdint>

// What a listing tells of one entry; `name` lives until the next call.
struct BareEntry {
  const char* name = nullptr;
  int64_t size = 0;
  uint32_t attributes = 0;  // 0x10 folder, 0x20 anything else
};

// The separator between folders in paths of this system.
extern const char kBareSeparator;

// Opens the listing of the folder whose path (ending in the separator) is
// `folder[0 .. length)`; the buffer has room for a few more characters and
// may be written beyond `length`. False when it cannot be listed.
bool bareListFirst(char* folder, std::size_t length, BareEntry* entry);
bool bareListNext(BareEntry* entry);
void bareListClose();

// -1 when the file cannot be opened.
intptr_t bareOpen(const char* path);
bool barePosition(intptr_t file, int64_t offset);
// Reads until `length` bytes came, the end of the file or a failure; the
// bytes obtained.
int64_t bareRead(intptr_t file, char* buffer, int64_t length, bool* failed);
void bareClose(intptr_t file);

// Seconds on a clock that never goes back.
double bareSeconds();
