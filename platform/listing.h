// Folder listings. A pattern is a folder path followed by "*.*" (every entry)
// or by a name prefix and "*.*". Every kind of entry is listed, hidden and
// system ones included; in a folder that is not a drive root "." and ".."
// come first.
#pragma once

#include <cstdint>
#include <string>

struct ListEntry {
  std::string name;         // the entry's own name in UTF-8, whole, without any path
  int64_t size = 0;         // full size in bytes; 0 for folders
  uint32_t attributes = 0;  // the attribute word: 0x10 folder, 0x20 archive, ...
  uint32_t reparseTag = 0;  // with the 0x400 bit on Windows, the kind of reparse point; 0 otherwise
  // Which entry it is, where the listing tells (0 and 0 where it does not):
  // on POSIX systems the device and inode of the entry itself, a link not
  // followed, and for "." those of the folder actually listed.
  uint64_t device = 0;
  uint64_t inode = 0;
};

// Bits of the attribute word that the engine and the POSIX listing share.
constexpr uint32_t kFolderAttribute = 0x10;
constexpr uint32_t kReparsePointAttribute = 0x400;
// The reparse tag of a symbolic link on Windows.
constexpr uint32_t kSymbolicLinkTag = 0xA000000C;

using ListHandle = intptr_t;
constexpr ListHandle kNoListing = -1;

// Opens the listing and fills in its first entry. Returns 0, or the error
// code when the pattern matches nothing or cannot be listed.
int listFirst(const char* pattern, ListHandle* listing, ListEntry* entry);

// Moves to the next entry. Returns 0, or a non-zero code at the end of the
// listing or on failure, leaving `entry` as it was.
int listNext(ListHandle listing, ListEntry* entry);

// Whether a code of listNext marks the end of the listing, not a failure.
bool isEndOfListing(int error);

void listClose(ListHandle listing);
