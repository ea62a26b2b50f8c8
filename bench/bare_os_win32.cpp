#include <windows.h>

#include <cstring>

#include "bench/bare_os.h"

const char kBareSeparator = '\\';

namespace {

HANDLE search = INVALID_HANDLE_VALUE;
WIN32_FIND_DATAA found;

void describe(BareEntry* entry) {
  entry->name = found.cFileName;
  entry->size = static_cast<int64_t>((static_cast<uint64_t>(found.nFileSizeHigh) << 32) | found.nFileSizeLow);
  entry->attributes = found.dwFileAttributes;
}

}  // namespace

bool bareListFirst(char* folder, std::size_t length, BareEntry* entry) {
  std::memcpy(folder + length, "*.*", 4);
  search = FindFirstFileA(folder, &found);
  if (search == INVALID_HANDLE_VALUE) return false;
  describe(entry);
  return true;
}

bool bareListNext(BareEntry* entry) {
  if (!FindNextFileA(search, &found)) return false;
  describe(entry);
  return true;
}

void bareListClose() {
  FindClose(search);
  search = INVALID_HANDLE_VALUE;
}

intptr_t bareOpen(const char* path) {
  HANDLE h = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                         OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return -1;
  return reinterpret_cast<intptr_t>(h);
}

bool barePosition(intptr_t file, int64_t offset) {
  LARGE_INTEGER distance;
  distance.QuadPart = offset;
  return SetFilePointerEx(reinterpret_cast<HANDLE>(file), distance, nullptr, FILE_BEGIN) != 0;
}

int64_t bareRead(intptr_t file, char* buffer, int64_t length, bool* failed) {
  *failed = false;
  int64_t got = 0;
  while (got < length) {
    DWORD n = 0;
    if (!ReadFile(reinterpret_cast<HANDLE>(file), buffer + got, static_cast<DWORD>(length - got), &n, nullptr)) {
      *failed = true;
      break;
    }
    if (n == 0) break;
    got += n;
  }
  return got;
}

void bareClose(intptr_t file) { CloseHandle(reinterpret_cast<HANDLE>(file)); }

double bareSeconds() {
  LARGE_INTEGER frequency, now;
  QueryPerformanceFrequency(&frequency);
  QueryPerformanceCounter(&now);
  return static_cast<double>(now.QuadPart) / static_cast<double>(frequency.QuadPart);
}
