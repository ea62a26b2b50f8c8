#include "platform/listing.h"

#include <windows.h>

#include <cwchar>

#include "platform/win32/wide.h"

namespace {

// Names come back in UTF-8, whole: a name of 255 UTF-16 units may take up to
// 765 bytes.
void takeEntry(const WIN32_FIND_DATAW& data, ListEntry* entry) {
  entry->name.clear();
  appendUtf8(&entry->name, data.cFileName, wcslen(data.cFileName));
  entry->size = static_cast<int64_t>((static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow);
  entry->attributes = data.dwFileAttributes;
  entry->reparseTag = (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) ? data.dwReserved0 : 0;
}

}  // namespace

int listFirst(const char* pattern, ListHandle* listing, ListEntry* entry) {
  WIN32_FIND_DATAW data;
  // In its prefixed form, so that names like AUX or "x." are listed in
  // their own folder and the listing reaches the folder itself.
  HANDLE search = FindFirstFileW(scannedPathFor(pattern), &data);
  if (search == INVALID_HANDLE_VALUE) {
    DWORD error = GetLastError();
    *listing = kNoListing;
    return error != 0 ? static_cast<int>(error) : ERROR_FILE_NOT_FOUND;
  }
  *listing = reinterpret_cast<ListHandle>(search);
  takeEntry(data, entry);
  return 0;
}

// On failure the entry is left as it was: the walk then stops on the last
// entry it had reached.
int listNext(ListHandle listing, ListEntry* entry) {
  WIN32_FIND_DATAW data;
  if (!FindNextFileW(reinterpret_cast<HANDLE>(listing), &data)) {
    DWORD error = GetLastError();
    return error != 0 ? static_cast<int>(error) : ERROR_NO_MORE_FILES;
  }
  takeEntry(data, entry);
  return 0;
}

bool isEndOfListing(int error) { return error == ERROR_NO_MORE_FILES; }

void listClose(ListHandle listing) { FindClose(reinterpret_cast<HANDLE>(listing)); }
