#include "scan/engine.h"

namespace {

constexpr uint32_t kPlainFolder = 0x10;
constexpr uint32_t kPlaceholderAttributes = 0x3F;

// Opens the listing of rootFolder + subPath.
int openListing() {
  Scan.pattern.assign(Scan.rootFolder);
  Scan.pattern.append(Scan.subPath);
  Scan.pattern.append("*.*");
  int error = listFirst(Scan.pattern.c_str(), &Scan.listing, &Scan.entry);
  if (error != 0) Scan.listing = kNoListing;
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
PickResult pickEntry() {
  Scan.subPath.clear();
  Scan.unlistedFolderError = 0;
  if (openListing() != 0) return PickResult::None;
  const Settings& s = Scan.settings;
  for (;;) {
    if (chancePercent(s.skipFile)) return PickResult::Picked;
    if (listNext(Scan.listing, &Scan.entry) != 0) return PickResult::Exhausted;
    // Only folders with no other attribute bit are entered.
    if (Scan.entry.attributes != kPlainFolder || isDotEntry(Scan.entry.name)) continue;
    if (!chancePercent(s.selectSubfolder)) continue;
    Scan.subPath.append(Scan.entry.name);
    Scan.subPath.push_back(kPathSeparator);
    closeListing();
    int64_t folderSize = Scan.entry.size;
    uint64_t device = Scan.entry.device;
    uint64_t inode = Scan.entry.inode;
    int error = openListing();
    if (error != 0) {
      // The entry stands for the folder that could not be listed, named as
      // a path to a folder is; the check lists it with the listing's code.
      Scan.subPath.resize(Scan.subPath.size() - Scan.entry.name.size() - 1);
      Scan.entry.name.push_back(kPathSeparator);
      Scan.entry.attributes = kPlaceholderAttributes;
      Scan.entry.size = folderSize;
      Scan.unlistedFolderError = error;
      return PickResult::Exhausted;
    }
    // A folder that is no longer the one listed is passed over: nothing is
    // picked in this pass.
    if (!isListedFolder(device, inode, Scan.entry)) {
      closeListing();
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

void closeListing() {
  if (Scan.listing == kNoListing) return;
  listClose(Scan.listing);
  Scan.listing = kNoListing;
}
