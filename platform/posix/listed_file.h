// How the POSIX layer opens a listed file of a scan, with its two ways of
// reaching the inode it examined; openListedFile and openFileUnbuffered
// take the first, the tests take both.
#pragma once

#include <sys/stat.h>

#include <cstddef>

enum class ListedFileReopen {
  ThroughProc,    // /proc/self/fd/<n> of the examined entry; ThroughFolder where /proc is missing
  ThroughFolder,  // openat on the entry's folder with O_NOFOLLOW, kept only when the same inode
};

// Opens `path` for reading with `flags` added when the entry itself, not
// followed, is a regular file; a folder gives EISDIR, anything else ENOENT,
// and nothing of it is opened for reading. `*st` describes the file. Below
// its first `rootLength` bytes the path is resolved without following any
// link (ENOENT when one is on the way), where the system can (openat2).
int openListedRegularFile(const char* path, std::size_t rootLength, int flags, ListedFileReopen how, int* fd,
                          struct stat* st);
