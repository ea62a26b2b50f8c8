#include "platform/files.h"

#include <windows.h>

#include <algorithm>
#include <cwchar>
#include <string>

#include "platform/win32/unbuffered.h"
#include "platform/win32/wide.h"

// Paths arrive in UTF-8 and go to the wide-character calls, long ones with
// the long-path prefix (wide.h); a scanned file's path always has it, so
// that its name is never taken for a device or cut at a trailing dot or
// blank. Handles travel through the core as integers; INVALID_HANDLE_VALUE
// is -1, the same as kNoFile. Every failure returns GetLastError() as it was right
// after the failing call, never 0.

const char kPathSeparator = '\\';
const char kLineEnd[] = "\r\n";

namespace {

int lastError() {
  DWORD error = GetLastError();
  return error != 0 ? static_cast<int>(error) : static_cast<int>(ERROR_GEN_FAILURE);
}

HANDLE handleOf(FileHandle file) { return reinterpret_cast<HANDLE>(file); }
FileHandle fileOf(HANDLE handle) { return reinterpret_cast<FileHandle>(handle); }

// A scanned file, for reading only, with every sharing allowed.
HANDLE openScannedFile(const char* path, DWORD flags) {
  return CreateFileW(scannedPathFor(path), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                     OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | flags, nullptr);
}

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

uint32_t sectorSizeOf(HANDLE file, const char* path) {
  FILE_STORAGE_INFO storage;
  if (GetFileInformationByHandleEx(file, FileStorageInfo, &storage, sizeof storage)) {
    return std::max(storage.LogicalBytesPerSector, storage.PhysicalBytesPerSectorForPerformance);
  }
  // Windows 7 does not know the class (87), Wine does not have it (120).
  wchar_t volume[MAX_PATH + 1];
  if (!GetVolumePathNameW(scannedPathFor(path), volume, MAX_PATH + 1)) return 0;
  DWORD sectorsPerCluster = 0, bytesPerSector = 0, freeClusters = 0, clusters = 0;
  if (!GetDiskFreeSpaceW(volume, &sectorsPerCluster, &bytesPerSector, &freeClusters, &clusters)) return 0;
  return bytesPerSector;
}

int openFileForReading(const char* path, FileHandle* file) {
  HANDLE h = openScannedFile(path, 0);
  if (h == INVALID_HANDLE_VALUE) {
    int error = lastError();
    *file = kNoFile;
    return error;
  }
  *file = fileOf(h);
  return 0;
}

bool isNotFoundError(int error) { return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND; }

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

namespace {

// A file for appending: every write goes to its end. `flags` may ask for
// a reparse point itself rather than what it leads to.
HANDLE openForAppending(const wchar_t* path, DWORD flags) {
  return CreateFileW(path, FILE_APPEND_DATA | FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                     OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL | flags, nullptr);
}

bool sameFile(HANDLE a, HANDLE b) {
  BY_HANDLE_FILE_INFORMATION first, second;
  if (!GetFileInformationByHandle(a, &first) || !GetFileInformationByHandle(b, &second)) return false;
  return first.dwVolumeSerialNumber == second.dwVolumeSerialNumber && first.nFileIndexHigh == second.nFileIndexHigh &&
         first.nFileIndexLow == second.nFileIndexLow;
}

// The list may lie in a tree that others can write to: a symbolic link,
// junction or mount point planted at its place would make the program
// append to whatever it leads to. The place is opened without following
// any, and a link there is refused. Other reparse points (a file kept by a
// cloud-sync client, a deduplicated file) are the file itself, which is
// then opened the usual way, through its filter, and kept only when it is
// still the file first found.
HANDLE openListWithoutLinks(const wchar_t* path) {
  HANDLE h = openForAppending(path, FILE_FLAG_OPEN_REPARSE_POINT);
  if (h == INVALID_HANDLE_VALUE) return h;
  FILE_ATTRIBUTE_TAG_INFO tag = {};
  if (!GetFileInformationByHandleEx(h, FileAttributeTagInfo, &tag, sizeof tag)) {
    DWORD error = GetLastError();
    CloseHandle(h);
    SetLastError(error);
    return INVALID_HANDLE_VALUE;
  }
  if (!(tag.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) return h;
  if (IsReparseTagNameSurrogate(tag.ReparseTag)) {
    CloseHandle(h);
    SetLastError(ERROR_CANT_RESOLVE_FILENAME);
    return INVALID_HANDLE_VALUE;
  }
  HANDLE through = openForAppending(path, 0);
  DWORD error = GetLastError();
  bool same = through != INVALID_HANDLE_VALUE && sameFile(h, through);
  CloseHandle(h);
  if (same) return through;
  if (through != INVALID_HANDLE_VALUE) CloseHandle(through);
  SetLastError(through == INVALID_HANDLE_VALUE ? error : ERROR_CANT_RESOLVE_FILENAME);
  return INVALID_HANDLE_VALUE;
}

}  // namespace

int removeFile(const char* path) { return DeleteFileW(pathFor(path)) ? 0 : lastError(); }

int openFileForAppending(const char* path, FileHandle* file, bool* empty) {
  *file = kNoFile;
  *empty = false;
  // Appending data is all this handle may do to the content: the system
  // puts every write at the end.
  HANDLE h = openListWithoutLinks(pathFor(path));
  if (h == INVALID_HANDLE_VALUE) return lastError();
  LARGE_INTEGER size;
  if (!GetFileSizeEx(h, &size)) {
    int error = lastError();
    CloseHandle(h);
    return error;
  }
  *empty = size.QuadPart == 0;
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

int openFileUnbuffered(const char* path, UnbufferedFile* file, std::size_t) {
  *file = UnbufferedFile{};
  HANDLE h = openScannedFile(path, FILE_FLAG_NO_BUFFERING);
  if (h != INVALID_HANDLE_VALUE) {
    uint32_t alignment = std::max<uint32_t>(4096, sectorSizeOf(h, path));
    if (alignment <= kLargestAlignment && (alignment & (alignment - 1)) == 0) {
      *file = {fileOf(h), alignment, true};
      return 0;
    }
    CloseHandle(h);
  }
  // Some network and virtual file systems will not open a file unbuffered,
  // each with its own error; whatever the refusal, the usual open decides,
  // and the file is read through the cache.
  file->alignment = 4096;
  return openFileForReading(path, &file->handle);
}

int readFileUnbuffered(const UnbufferedFile& file, int64_t offset, void* buffer, uint32_t size, uint32_t* got) {
  *got = 0;
  // Windows itself fails a misaligned unbuffered read with 87; Wine reads
  // it, so only this check keeps the requests honest there.
  if (!alignedRequest(file.alignment, offset, buffer, size)) return ERROR_INVALID_PARAMETER;
  OVERLAPPED at = {};
  at.Offset = static_cast<DWORD>(static_cast<uint64_t>(offset));
  at.OffsetHigh = static_cast<DWORD>(static_cast<uint64_t>(offset) >> 32);
  DWORD n = 0;
  if (!ReadFile(handleOf(file.handle), buffer, size, &n, &at)) {
    int error = lastError();
    // Given an offset, a read at or past the end reports the end as an error.
    if (error == ERROR_HANDLE_EOF) return 0;
    return error;
  }
  *got = n;
  return 0;
}

int findLinkTarget(const char* path, std::string* target) {
  // No access is asked for: only the name of what the path leads to.
  HANDLE h = CreateFileW(pathFor(path), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                         OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (h == INVALID_HANDLE_VALUE) return lastError();
  // Too small a buffer gets the size needed, its terminating zero included.
  std::wstring final(MAX_PATH, L'\0');
  DWORD length = 0;
  for (;;) {
    length = GetFinalPathNameByHandleW(h, &final[0], static_cast<DWORD>(final.size()), VOLUME_NAME_DOS);
    if (length < final.size()) break;
    final.resize(length);
  }
  int error = length == 0 ? lastError() : 0;
  if (!CloseHandle(h) && error == 0) error = lastError();
  if (error != 0) return error;
  target->clear();
  appendUtf8(target, final.data(), length);
  return 0;
}

int replaceFile(const char* from, const char* to) {
  const wchar_t* wideFrom = pathFor(from, 0);
  const wchar_t* wideTo = pathFor(to, 1);
  // ReplaceFileW keeps the replaced file's attributes and security
  // descriptor. The attributes go onto the new file beforehand as well, so
  // that they stay where ReplaceFileW refuses and the plain move below
  // takes over, and under Wine, whose ReplaceFileW keeps none. When they
  // cannot be read, there is nothing to keep: the replace tells what is
  // wrong.
  DWORD attributes = GetFileAttributesW(wideTo);
  if (attributes != INVALID_FILE_ATTRIBUTES) {
    DWORD kept = attributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE |
                               FILE_ATTRIBUTE_NOT_CONTENT_INDEXED);
    if (!SetFileAttributesW(wideFrom, kept != 0 ? kept : FILE_ATTRIBUTE_NORMAL)) return lastError();
  }
  DWORD replaceFlags = REPLACEFILE_IGNORE_MERGE_ERRORS | REPLACEFILE_IGNORE_ACL_ERRORS;
  if (ReplaceFileW(wideTo, wideFrom, nullptr, replaceFlags, nullptr, nullptr)) return 0;
  // Whatever ReplaceFileW refused, the move finishes the replacement as the
  // program always made it; its code is the one reported.
  DWORD moveFlags = MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH;
  if (!MoveFileExW(wideFrom, wideTo, moveFlags)) {
    int error = lastError();
    // The new file stays behind; hidden, the next rewrite could not empty it
    // (CREATE_ALWAYS refuses a hidden file). Whether this succeeds changes
    // nothing of what is reported.
    SetFileAttributesW(wideFrom, FILE_ATTRIBUTE_NORMAL);
    return error;
  }
  return 0;
}

// The system's messages end in a line break and a few hold more; each run
// of line-break characters becomes one blank, and trailing blanks go.
Text errorText(int code) {
  wchar_t wide[512];
  DWORD length = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                                static_cast<DWORD>(code), 0, wide, sizeof wide / sizeof wide[0], nullptr);
  if (length == 0) return Text("unknown error");
  DWORD kept = 0;
  for (DWORD i = 0; i < length; ++i) {
    bool lineBreak = wide[i] == L'\r' || wide[i] == L'\n';
    if (!lineBreak) {
      wide[kept++] = wide[i];
    } else if (kept > 0 && wide[kept - 1] != L' ') {
      wide[kept++] = L' ';
    }
  }
  while (kept > 0 && wide[kept - 1] == L' ') --kept;
  if (kept == 0) return Text("unknown error");
  char utf8[4 * sizeof wide / sizeof wide[0]];
  int bytes = WideCharToMultiByte(CP_UTF8, 0, wide, static_cast<int>(kept), utf8, sizeof utf8, nullptr, nullptr);
  if (bytes <= 0) return Text("unknown error");
  return Text(std::string_view(utf8, static_cast<std::size_t>(bytes)));
}

// Windows opens a listed file the usual way: the listing already leaves
// devices alone, and what a link in the tree leads to is the system's rule.
int openListedFile(const char* path, FileHandle* file, std::size_t) { return openFileForReading(path, file); }

int fileLength(FileHandle file, int64_t* length) {
  *length = 0;
  LARGE_INTEGER size;
  if (!GetFileSizeEx(handleOf(file), &size)) return lastError();
  *length = size.QuadPart;
  return 0;
}

int truncateFile(FileHandle file, int64_t length) {
  FILE_END_OF_FILE_INFO end;
  end.EndOfFile.QuadPart = length;
  if (!SetFileInformationByHandle(handleOf(file), FileEndOfFileInfo, &end, sizeof end)) return lastError();
  return 0;
}
