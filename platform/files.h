// Files: the settings file, its temporary file and the scanned files.
// Every operation returns the operating system's error code, 0 on success.
// Paths are UTF-8 texts with the system's own separator between folders.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "common/text.h"

using FileHandle = intptr_t;
constexpr FileHandle kNoFile = -1;

// The separator between folders: '\\' on Windows, '/' on POSIX systems,
// where a backslash is an ordinary character of a name.
extern const char kPathSeparator;

// The end of a line in the system's text files: "\r\n" on Windows, "\n" on
// POSIX systems.
extern const char kLineEnd[];

// The system's own text for an error code, in UTF-8 on one line (line ends
// become blanks); "unknown error" when the system has none.
Text errorText(int code);

// Appends "<the system's text> (code <n>)", the way failures are told.
inline void appendErrorAndCode(Text& text, int code) {
  text += errorText(code);
  text += " (code ";
  text.appendInt(code);
  text += ")";
}

// Searches the current directory for an entry of exactly this name, admitting
// every kind of entry (hidden, system, read-only, folders). Returns 0 and the
// name as the directory stores it, or a non-zero code when nothing was found
// or the search failed.
int findEntryByName(const char* name, Text* storedName);

// Opens an existing file for reading only. Others may go on reading, writing
// and deleting it meanwhile; a file held open without sharing fails, and so
// does a folder.
int openFileForReading(const char* path, FileHandle* file);

// Opens a listed file of a scan for reading, as openFileForReading does,
// but only when the entry itself is a regular file: in the place of a link,
// a FIFO, a socket or a device node nothing is opened and the code is that
// of a missing entry (isNotFoundError), as for a file deleted since it was
// listed. A folder fails as openFileForReading fails on it.
// The first `rootLength` bytes of `path` are the scan's root folder, which
// may itself be reached through links; below it, a POSIX layer follows no
// link, so that a folder of the tree put in the place of a link to one
// outside it after the listing leads nowhere (a missing entry again).
int openListedFile(const char* path, FileHandle* file, std::size_t rootLength = 0);

// Whether the code of a failed open or listing says that the entry, or a
// folder on its way, is not there (rather than there but unreadable).
bool isNotFoundError(int error);

// Creates a file for writing, or empties it when it exists.
int createFileForWriting(const char* path, FileHandle* file);

// Removes a file (not a folder).
int removeFile(const char* path);

// Opens a file for appending, creating it when it is missing: every write
// goes to its end. Others may go on reading, deleting and renaming it
// meanwhile. `*empty` tells whether it holds nothing yet. A symbolic link
// at `path` is refused on POSIX systems, not followed.
int openFileForAppending(const char* path, FileHandle* file, bool* empty);

// Reads at most `size` bytes at the current position; `*got` is what came
// (0 at the end of the file).
int readFile(FileHandle file, void* buffer, uint32_t size, uint32_t* got);

// Writes all `size` bytes or fails.
int writeFile(FileHandle file, const void* bytes, uint32_t size);

// Writes what was written so far through to the disk (before a file is put
// in the place of another, so that the replacement is never found empty).
int flushFile(FileHandle file);

// Moves the position to `offset` bytes from the start of the file.
int positionFile(FileHandle file, int64_t offset);

int closeFile(FileHandle file);

// The length of an open file in bytes.
int fileLength(FileHandle file, int64_t* length);

// Cuts an open file written to back to `length` bytes, no more than it holds.
int truncateFile(FileHandle file, int64_t length);

// --- reads past the system's file cache -----------------------------------

// No file read past the cache asks for a coarser alignment than this, so a
// buffer aligned to it (allocateAlignedMemory) serves every file.
constexpr uint32_t kLargestAlignment = 65536;

// A scanned file opened to be read past the system's file cache. Closed
// with closeFile(handle).
struct UnbufferedFile {
  FileHandle handle = kNoFile;
  // The offset, the size and the buffer address of every read must be
  // multiples of it: a power of two from 4096 to kLargestAlignment.
  uint32_t alignment = 0;
  // Whether the system itself reads past its cache. A file it would not
  // open so is open as openFileForReading opens it: a POSIX layer then drops
  // the cached pages of each read's span before and after the read, the
  // Win32 layer reads it through the cache.
  bool direct = false;
};

// Whether a read of `size` bytes at `offset` into `buffer` keeps the
// alignment.
inline bool alignedRequest(uint32_t alignment, int64_t offset, const void* buffer, uint32_t size) {
  return alignment != 0 && offset >= 0 && offset % alignment == 0 && size % alignment == 0 &&
         reinterpret_cast<uintptr_t>(buffer) % alignment == 0;
}

// Opens a listed file as openListedFile does, to be read past the
// cache. When the system will not open the file so, it is opened the usual
// way instead, and the result is that open's: the refusal is no failure.
int openFileUnbuffered(const char* path, UnbufferedFile* file, std::size_t rootLength = 0);

// Reads at most `size` bytes at `offset`, whatever the file position;
// `*got` is what came (0 at or past the end of the file). A request whose
// offset, size or buffer address is not a multiple of the file's alignment
// is refused here (EINVAL, or 87 on Windows), before the system sees it.
int readFileUnbuffered(const UnbufferedFile& file, int64_t offset, void* buffer, uint32_t size, uint32_t* got);

// The full path of the file that `path` leads to, every symbolic link on
// the way followed: a link's final target, or the file's own path.
int findLinkTarget(const char* path, std::string* target);

// Puts `from` in the place of `to` in one atomic step, replacing `to`. The
// new file keeps what `to` was: its attributes and security descriptor on
// Windows, its mode and (where the system lets it) its owner on POSIX.
int replaceFile(const char* from, const char* to);

// The system's code for a file too large for a program that reads it whole:
// ERROR_FILE_TOO_LARGE on Windows, EFBIG on POSIX.
extern const int kFileTooLarge;
