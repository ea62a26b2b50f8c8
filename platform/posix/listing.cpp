#include "platform/listing.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <atomic>
#include <climits>
#include <cstring>
#include <string_view>

// Listings that behave like the Win32 ones under "*.*": "." and ".." first,
// then every entry in the order readdir gives. The attribute word is the
// Windows one: 0x10 for a folder, 0x20 for a regular file; anything else (a
// FIFO, a socket, a device node) is 0x40, a device, which the scan never
// opens. A symbolic link is a device too, with 0x400 (a reparse point), and
// 0x10 when it leads to a folder: a scan neither follows it into a folder
// nor reads a file through it, which could lie anywhere outside the tree.

namespace {

constexpr uint32_t kArchive = 0x20;
constexpr uint32_t kDevice = 0x40;

struct Listing {
  DIR* dir = nullptr;
  char prefix[NAME_MAX + 1] = {};  // names must start with it
  std::size_t prefixLength = 0;
  int dotsGiven = 0;   // "." and ".." come before the directory's own entries
};

// A walk opens and closes a listing at every step: the record of a closed
// listing is kept for the next one, so that steady walking allocates nothing
// of its own.
std::atomic<Listing*> spare{nullptr};

Listing* newListing() {
  Listing* l = spare.exchange(nullptr);
  if (l == nullptr) return new Listing;
  return l;
}

void dropListing(Listing* l) {
  delete spare.exchange(l);
}

bool matches(const Listing& l, std::string_view name) {
  return name.substr(0, l.prefixLength) == std::string_view(l.prefix, l.prefixLength);
}

void describe(Listing& l, const char* name, ListEntry* entry) {
  entry->name = name;
  entry->size = 0;
  entry->attributes = kArchive;
  entry->device = 0;
  entry->inode = 0;
  struct stat st;
  if (fstatat(dirfd(l.dir), name, &st, AT_SYMLINK_NOFOLLOW) != 0) return;
  entry->device = static_cast<uint64_t>(st.st_dev);
  entry->inode = static_cast<uint64_t>(st.st_ino);
  if (S_ISLNK(st.st_mode)) {
    entry->attributes = kDevice | kReparsePointAttribute;
    if (fstatat(dirfd(l.dir), name, &st, 0) == 0 && S_ISDIR(st.st_mode)) entry->attributes |= kFolderAttribute;
  } else if (S_ISDIR(st.st_mode)) {
    entry->attributes = kFolderAttribute;
  } else if (S_ISREG(st.st_mode)) {
    entry->size = static_cast<int64_t>(st.st_size);
  } else {
    entry->attributes = kDevice;
  }
}

// The next matching entry; false at the end of the directory, with `entry`
// untouched.
bool advance(Listing& l, ListEntry* entry) {
  while (l.dotsGiven < 2) {
    const char* dot = l.dotsGiven == 0 ? "." : "..";
    ++l.dotsGiven;
    if (!matches(l, dot)) continue;
    entry->name = dot;
    entry->size = 0;
    entry->attributes = kFolderAttribute;
    entry->device = 0;
    entry->inode = 0;
    struct stat st;
    if (l.dotsGiven == 1 && fstat(dirfd(l.dir), &st) == 0) {
      entry->device = static_cast<uint64_t>(st.st_dev);
      entry->inode = static_cast<uint64_t>(st.st_ino);
    }
    return true;
  }
  for (;;) {
    const dirent* d = readdir(l.dir);
    if (d == nullptr) return false;
    std::string_view name(d->d_name);
    if (name == "." || name == "..") continue;
    if (!matches(l, name)) continue;
    describe(l, d->d_name, entry);
    return true;
  }
}

}  // namespace

int listFirst(const char* pattern, ListHandle* listing, ListEntry* entry) {
  *listing = kNoListing;
  // The folder part, and the name prefix before "*.*".
  char folder[PATH_MAX];
  std::size_t length = std::strlen(pattern);
  if (length >= sizeof folder) return ENAMETOOLONG;
  std::size_t maskStart = 0;
  for (std::size_t i = 0; i < length; ++i) {
    folder[i] = pattern[i];
    if (folder[i] == '/') maskStart = i + 1;
  }
  std::string_view mask(pattern + maskStart, length - maskStart);
  static constexpr std::string_view kAll = "*.*";
  if (mask.size() >= kAll.size() && mask.substr(mask.size() - kAll.size()) == kAll) {
    mask.remove_suffix(kAll.size());
  }
  // No name is longer than NAME_MAX, so a longer prefix matches nothing.
  if (mask.size() > NAME_MAX) return ENOENT;
  if (maskStart == 0) {
    folder[0] = '.';
    folder[1] = '\0';
  } else {
    folder[maskStart] = '\0';
  }

  DIR* dir = opendir(folder);
  if (dir == nullptr) {
    int error = errno;
    return error != 0 ? error : ENOENT;
  }
  Listing* l = newListing();
  l->dir = dir;
  std::memcpy(l->prefix, mask.data(), mask.size());
  l->prefixLength = mask.size();
  l->dotsGiven = 0;
  if (!advance(*l, entry)) {
    closedir(dir);
    dropListing(l);
    return ENOENT;
  }
  *listing = reinterpret_cast<ListHandle>(l);
  return 0;
}

int listNext(ListHandle listing, ListEntry* entry) {
  Listing* l = reinterpret_cast<Listing*>(listing);
  errno = 0;
  if (!advance(*l, entry)) return errno != 0 ? errno : ENOENT;
  return 0;
}

// readdir tells its end by leaving errno alone, which listNext reports as
// ENOENT.
bool isEndOfListing(int error) { return error == ENOENT; }

void listClose(ListHandle listing) {
  Listing* l = reinterpret_cast<Listing*>(listing);
  closedir(l->dir);
  dropListing(l);
}
