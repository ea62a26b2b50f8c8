// What a POSIX listing makes of entries that a Windows one does not have:
// links are reparse points and devices (with the folder bit when they lead
// to a folder), so that no scan follows one into a folder or reads a file
// through it; FIFOs, sockets and device nodes are devices, which no scan
// opens (a FIFO's open would wait for a writer for ever, a device node's
// reaches the device).
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>

#include "platform/fake/fake.h"
#include "platform/listing.h"
#include "scan/test_support.h"

namespace fs = std::filesystem;

namespace {

struct SpecialTree {
  fs::path dir;
  std::string root;
  explicit SpecialTree(bool linksThatFail = true) {
    dir = fs::temp_directory_path() /
          ("readsweeper-special-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "-" +
           ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir);
    fs::create_directories(dir / "folder");
    std::ofstream(dir / "folder" / "inside.bin") << std::string(50, 'i');
    std::ofstream(dir / "file.bin") << std::string(100, 'f');
    fs::create_symlink(dir / "file.bin", dir / "link-to-file");
    if (linksThatFail) {
      fs::create_directory_symlink(dir / "folder", dir / "link-to-folder");
      fs::create_symlink(dir / "missing", dir / "dangling");
    }
    mkfifo((dir / "fifo").c_str(), 0644);
    int s = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::string socketPath = (dir / "socket").string();
    if (s >= 0 && socketPath.size() < sizeof address.sun_path) {
      std::copy(socketPath.begin(), socketPath.end(), address.sun_path);
      socketOk = bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    }
    if (s >= 0) close(s);
    root = dir.string() + "/";
  }
  ~SpecialTree() {
    std::error_code ignored;
    fs::remove_all(dir, ignored);
  }
  bool socketOk = false;
};

TEST(SpecialEntries, LinksAndDevicesInAListing) {
  SpecialTree tree;
  std::map<std::string, std::pair<uint32_t, int64_t>> seen;
  ListHandle listing = kNoListing;
  ListEntry entry;
  ASSERT_EQ(listFirst((tree.root + "*.*").c_str(), &listing, &entry), 0);
  do {
    seen[entry.name] = {entry.attributes, entry.size};
    // Each entry names itself, a link not followed; "." names the folder.
    struct stat st;
    ASSERT_EQ(lstat((entry.name == "." ? tree.root : tree.root + entry.name).c_str(), &st), 0) << entry.name;
    if (entry.name != "..") {
      EXPECT_EQ(entry.inode, static_cast<uint64_t>(st.st_ino)) << entry.name;
      EXPECT_EQ(entry.device, static_cast<uint64_t>(st.st_dev)) << entry.name;
    }
  } while (listNext(listing, &entry) == 0);
  listClose(listing);
  EXPECT_EQ(seen["folder"], std::make_pair(0x10u, int64_t{0}));
  EXPECT_EQ(seen["file.bin"], std::make_pair(0x20u, int64_t{100}));
  EXPECT_EQ(seen["link-to-folder"], std::make_pair(0x450u, int64_t{0}));
  EXPECT_EQ(seen["link-to-file"], std::make_pair(0x440u, int64_t{0}));
  EXPECT_EQ(seen["dangling"], std::make_pair(0x440u, int64_t{0}));
  EXPECT_EQ(seen["fifo"], std::make_pair(0x40u, int64_t{0}));
  if (tree.socketOk) {
    EXPECT_EQ(seen["socket"].first, 0x40u);
  }
}

// Every entry is reached and checked, but the FIFO and the socket, which
// are never opened: nothing fails to open.
TEST(SpecialEntries, AScanOfAllFilesLeavesDevicesAlone) {
  SpecialTree tree(false);
  resetFakeWindow();
  Scan = ScanRecord{};
  ScanState.store(1);
  Settings s;
  s.scanAllFiles = true;
  s.skipFile = 20;
  s.selectSubfolder = 100;
  s.selectNextFile = 100;
  s.stopAfterChecked = 5000;
  FakePathText = tree.root;
  std::vector<char> buffer(1);
  prepareScan(s, buffer.data(), 1, 17);
  setupScan();
  for (int pass = 0; pass < 100000 && ScanState.load() > 0; ++pass) runPass();
  ASSERT_EQ(ScanState.load(), -1) << "the scan did not reach its limit";
  EXPECT_EQ(Scan.openErrors, 0);
  EXPECT_EQ(Scan.readErrors, 0);
  EXPECT_GE(Scan.checkedBytes, 5000);
  requestScanStop();
  finishScan();
}

// The index follows no link, to a folder or to a file, and takes in no
// device, even under "scan all files": only the two regular files count.
TEST(SpecialEntries, EveryFileIndexesNeitherLinkedFoldersNorDevices) {
  SpecialTree tree;
  resetFakeWindow();
  Scan = ScanRecord{};
  ScanState.store(1);
  Settings s;
  s.checkEveryFile = true;
  s.scanAllFiles = true;
  s.selectNextFile = 100;
  s.stopAfterCycles = 1;
  FakePathText = tree.root;
  std::vector<char> buffer(1);
  prepareScan(s, buffer.data(), 1, 19);
  setupScan();
  for (int pass = 0; pass < 100 && ScanState.load() > 0; ++pass) runPass();
  ASSERT_EQ(ScanState.load(), -1) << "the cycle did not end";
  // file.bin, folder/inside.bin.
  EXPECT_EQ(Scan.indexedFiles, 2);
  EXPECT_EQ(Scan.coveredFiles, 2);
  EXPECT_EQ(Scan.openErrors, 0);
  EXPECT_EQ(Scan.readErrors, 0);
  EXPECT_EQ(Scan.checkedBytes, 2);
  requestScanStop();
  finishScan();
}

}  // namespace
