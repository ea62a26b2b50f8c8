#include "platform/listing.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <string>
#include <string_view>

// Listings that behave like the Win32 ones under "*.*": "." and ".." first,
// then every entry in the order readdir gives; 0x10 for a directory and 0x20
// for anything else.

namespace {

constexpr uint32_t kDirectory = 0x10;
constexpr uint32_t kArchive = 0x20;

struct Listing {
  DIR* dir = nullptr;
  std::string prefix;  // names must start with it
  int dotsGiven = 0;   // "." and ".." come before the directory's own entries
};

bool matches(const Listing& l, std::string_view name) {
  return name.substr(0, l.prefix.size()) == l.prefix;
}

void describe(Listing& l, const char* name, ListEntry* entry) {
  entry->name = name;
  entry->size = 0;
  entry->attributes = kArchive;
  struct stat st;
  // Links are followed; a dangling one stays a 0-byte file.
  if (fstatat(dirfd(l.dir), name, &st, 0) != 0) return;
  if (S_ISDIR(st.st_mode)) {
    entry->attributes = kDirectory;
  } else {
    entry->size = static_cast<int64_t>(st.st_size);
  }
}

// The next matching entry; false at the end of the directory.
bool advance(Listing& l, ListEntry* entry) {
  while (l.dotsGiven < 2) {
    const char* dot = l.dotsGiven == 0 ? "." : "..";
    ++l.dotsGiven;
    if (!matches(l, dot)) continue;
    entry->name = dot;
    entry->size = 0;
    entry->attributes = kDirectory;
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
  std::string folder(pattern);
  for (char& c : folder) {
    if (c == '\\') c = '/';
  }
  std::string::size_type slash = folder.rfind('/');
  std::string mask = slash == std::string::npos ? folder : folder.substr(slash + 1);
  folder.erase(slash == std::string::npos ? 0 : slash + 1);
  if (folder.empty()) folder = ".";
  static constexpr std::string_view kAll = "*.*";
  if (mask.size() >= kAll.size() && std::string_view(mask).substr(mask.size() - kAll.size()) == kAll) {
    mask.erase(mask.size() - kAll.size());
  }

  DIR* dir = opendir(folder.c_str());
  if (dir == nullptr) {
    int error = errno;
    return error != 0 ? error : ENOENT;
  }
  Listing* l = new Listing;
  l->dir = dir;
  l->prefix = mask;
  ListEntry first;
  if (!advance(*l, &first)) {
    closedir(dir);
    delete l;
    return ENOENT;
  }
  *entry = first;
  *listing = reinterpret_cast<ListHandle>(l);
  return 0;
}

int listNext(ListHandle listing, ListEntry* entry) {
  Listing* l = reinterpret_cast<Listing*>(listing);
  ListEntry next;
  errno = 0;
  if (!advance(*l, &next)) return errno != 0 ? errno : ENOENT;
  *entry = next;
  return 0;
}

void listClose(ListHandle listing) {
  Listing* l = reinterpret_cast<Listing*>(listing);
  closedir(l->dir);
  delete l;
}
