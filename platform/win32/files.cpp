#include "platform/files.h"

#include <windows.h>

#include <cwchar>
#include <string>

#include "platform/win32/wide.h"

// Paths arrive in UTF-8 and go to the wide-character calls, long ones with
// the long-path prefix (wide.h). Handles travel through the core as integers; INVALID_HANDLE_VALUE is -1,
// the same as kNoFile. Every failure returns GetLastError() as it was right
// after the failing call, never 0.

namespace {

int lastError() {
  DWORD error = GetLastError();
  return error != 0 ? static_cast<int>(error) : static_cast<int>(ERROR_GEN_FAILURE);
}

HANDLE handleOf(FileHandle file) { return reinterpret_cast<HANDLE>(file); }
FileHandle fileOf(HANDLE handle) { return reinterpret_cast<FileHandle>(handle); }

}  // namespace

const int kFileTooLarge = ERROR_FILE_TOO_LARGE;

int findEntryByName(const char* name, Text* storedName) {
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW(pathFor(name), &found);
  if (search == INVALID_HANDLE_VALUE) return lastError();
  // The directory may store the name in another letter case; that spelling
  // is the one to open and to replace.
  std::string stored;
  appendUtf8(&stored, found.cFileName, wcslen(found.cFileName));
  *storedName = Text(stored);
  if (!FindClose(search)) return lastError();
  return 0;
}

int openFileForReading(const char* path, FileHandle* file) {
  HANDLE h = CreateFileW(pathFor(path), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                         nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    int error = lastError();
    *file = kNoFile;
    return error;
  }
  *file = fileOf(h);
  return 0;
}

int createFileForWriting(const char* path, FileHandle* file) {
  HANDLE h = CreateFileW(pathFor(path), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    int error = lastError();
    *file = kNoFile;
    return error;
  }
  *file = fileOf(h);
  return 0;
}

int readFile(FileHandle file, void* buffer, uint32_t size, uint32_t* got) {
  DWORD n = 0;
  BOOL ok = ReadFile(handleOf(file), buffer, size, &n, nullptr);
  if (!ok) {
    int error = lastError();
    *got = 0;
    return error;
  }
  *got = n;
  return 0;
}

int writeFile(FileHandle file, const void* bytes, uint32_t size) {
  DWORD n = 0;
  BOOL ok = WriteFile(handleOf(file), bytes, size, &n, nullptr);
  if (!ok) return lastError();
  // A synchronous write to a file writes everything or fails; a short one
  // means the disk is full.
  if (n != size) return static_cast<int>(ERROR_DISK_FULL);
  return 0;
}

int flushFile(FileHandle file) {
  if (!FlushFileBuffers(handleOf(file))) return lastError();
  return 0;
}

int positionFile(FileHandle file, int64_t offset) {
  LARGE_INTEGER distance;
  distance.QuadPart = offset;
  if (!SetFilePointerEx(handleOf(file), distance, nullptr, FILE_BEGIN)) return lastError();
  return 0;
}

int closeFile(FileHandle file) {
  if (!CloseHandle(handleOf(file))) return lastError();
  return 0;
}

int deleteFile(const char* path) {
  if (!DeleteFileW(pathFor(path))) return lastError();
  return 0;
}

int replaceFile(const char* from, const char* to) {
  DWORD flags = MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH;
  if (!MoveFileExW(pathFor(from, 0), pathFor(to, 1), flags)) return lastError();
  return 0;
}
