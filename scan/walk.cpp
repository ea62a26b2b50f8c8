#include "scan/engine.h"

namespace {

constexpr uint32_t kPlainFolder = 0x10;
constexpr uint32_t kPlaceholderAttributes = 0x3F;

// Opens the listing of rootFolder + subPath.
int openListing(Reader& r) {
  r.pattern.assign(Scan.rootFolder);
  r.pattern.append(r.subPath);
  r.pattern.append("*.*");
  int error = listFirst(r.pattern.c_str(), &r.listing, &r.entry);
  if (error != 0) r.listing = kNoListing;
  return error;
}

}  // namespace

bool isDotEntry(std::string_view name) { return name == "." || name == ".."; }

// A folder swapped for a link (to /sys, say) after its parent was listed is
// opened by its path all the same; its "." then names another folder. Only
// the folders below the root are compared: the root may be reached through
// a link of the user's.
bool isListedFolder(uint64_t device, uint64_t inode, const ListEntry& first) {
  if (inode == 0 || first.inode == 0 || first.name != ".") return true;
  return first.device == device && first.inode == inode;
}

// The walk keeps no stack: it moves forward through one listing or down
// into a subfolder, never back up. The pick draw comes before each advance,
// so the first entry of a listing can be picked but never descended into.
PickResult pickEntry(Reader& r) {
  r.subPath.clear();
  r.unlistedFolderError = 0;
  if (openListing(r) != 0) return PickResult::None;
  const Settings& s = Scan.settings;
  for (;;) {
    if (chancePercent(r.random, s.skipFile)) return PickResult::Picked;
    if (listNext(r.listing, &r.entry) != 0) return PickResult::Exhausted;
    // Only folders with no other attribute bit are entered.
    if (r.entry.attributes != kPlainFolder || isDotEntry(r.entry.name)) continue;
    if (!chancePercent(r.random, s.selectSubfolder)) continue;
    r.subPath.append(r.entry.name);
    r.subPath.push_back(kPathSeparator);
    closeListing(r);
    int64_t folderSize = r.entry.size;
    uint64_t device = r.entry.device;
    uint64_t inode = r.entry.inode;
    int error = openListing(r);
    if (error != 0) {
      // The entry stands for the folder that could not be listed, named as
      // a path to a folder is; the check lists it with the listing's code.
      r.subPath.resize(r.subPath.size() - r.entry.name.size() - 1);
      r.entry.name.push_back(kPathSeparator);
      r.entry.attributes = kPlaceholderAttributes;
      r.entry.size = folderSize;
      r.unlistedFolderError = error;
      return PickResult::Exhausted;
    }
    // A folder that is no longer the one listed is passed over: nothing is
    // picked in this pass.
    if (!isListedFolder(device, inode, r.entry)) {
      closeListing(r);
      return PickResult::None;
    }
  }
}

bool entryQualifies(PickResult result, const ListEntry& entry, const Settings& s) {
  if (result == PickResult::None) return false;
  // A checker must not make the system fetch a file: such an entry is left
  // alone like an empty one, whatever else is asked. Folders that carry the
  // bits are never entered either, as the walk enters only plain ones.
  if (entry.attributes & (kOnlineOnly | kDevice)) return false;
  if (s.scanAllFiles && !isDotEntry(entry.name)) {
    uint32_t a = entry.attributes;
    if (a != 0x10 && a != 0x12 && a != 0x15 && a != 0x16) return true;
  }
  if (entry.size <= 0) return false;
  if (result != PickResult::Picked) return false;
  if (entry.size <= s.bytesToReadAtOnce && s.skipSmallFiles) return false;
  return true;
}

void closeListing(Reader& r) {
  if (r.listing == kNoListing) return;
  listClose(r.listing);
  r.listing = kNoListing;
}
