// Files: the settings file, its temporary file and the scanned files.
// Every operation returns the operating system's error code, 0 on success.
// Paths are the program's own texts with backslashes between folders; the
// POSIX layer turns them into slashes.
#pragma once

#include <cstdint>
#include <string>

#include "common/text.h"

using FileHandle = intptr_t;
constexpr FileHandle kNoFile = -1;

// Searches the current directory for an entry of exactly this name, admitting
// every kind of entry (hidden, system, read-only, folders). Returns 0 and the
// name as the directory stores it, or a non-zero code when nothing was found
// or the search failed.
int findEntryByName(const char* name, Text* storedName);

// Opens an existing file for reading only. Others may go on reading, writing
// and deleting it meanwhile; a file held open without sharing fails, and so
// does a folder.
int openFileForReading(const char* path, FileHandle* file);

// Creates a file for writing, or empties it when it exists.
int createFileForWriting(const char* path, FileHandle* file);

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
