// A tree that someone else writes to while it is scanned: entries replaced
// between the listing and their check are never opened unless they are
// still regular files, so no device is read, no FIFO writer released and
// nothing outside the tree counted.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>

#include "common/test_support.h"
#include "platform/fake/fake.h"
#include "scan/error_list.h"
#include "scan/test_support.h"

namespace {

namespace fs = std::filesystem;

struct HostileTree : ScanFixture {
  ScopedTempDir dir;
  std::string root;
  pid_t writer = -1;

  void SetUp() override {
    resetFakeWindow();
    resetScan();
    root = dir.path().string() + "/tree/";
    fs::create_directories(root + "sub");
    fs::create_directories(dir.path() / "outside");
    for (const char* name : {"a.bin", "fifo.bin", "zero.bin", "device.bin", "out.bin", "sub/e.bin"}) {
      writeTestFile(root + name, std::string(100, 'h'));
    }
    writeTestFile((dir.path() / "outside" / "secret.bin").string(), std::string(100, 's'));
    FakePathText = root;
    s.checkEveryFile = true;
    s.stopAfterCycles = 1;
    s.selectNextFile = 100;
    s.bytesToReadAtOnce = 100;
  }
  void TearDown() override {
    openErrorList(Text(), nullptr);
    if (writer > 0) {
      int reader = open((root + "fifo.bin").c_str(), O_RDONLY | O_NONBLOCK);
      int status = 0;
      waitpid(writer, &status, 0);
      if (reader >= 0) close(reader);
    }
  }
};

TEST_F(HostileTree, EntriesReplacedAfterTheListingAreNeverOpened) {
  prepare();
  ASSERT_EQ(openErrorList(Text("errors.csv"), nullptr), 0);
  setupScan();
  ASSERT_TRUE(listTree(Readers[0]));
  ASSERT_EQ(Scan.index.fileCount(), 6u);

  // The listed files give way: to a FIFO with a writer blocked in its open,
  // to a link to /dev/zero, to a device node (only a privileged process
  // makes one; /dev/null's numbers), and to a link to a file outside the
  // tree.
  fs::remove(root + "fifo.bin");
  ASSERT_EQ(mkfifo((root + "fifo.bin").c_str(), 0600), 0);
  writer = fork();
  if (writer == 0) {
    int fd = open((root + "fifo.bin").c_str(), O_WRONLY);
    _exit(fd >= 0 ? 0 : 1);
  }
  fs::remove(root + "zero.bin");
  fs::create_symlink("/dev/zero", root + "zero.bin");
  fs::remove(root + "device.bin");
  if (mknod((root + "device.bin").c_str(), S_IFCHR | 0666, makedev(1, 3)) != 0) {
    fs::create_symlink("/dev/null", root + "device.bin");
  }

  fs::remove(root + "out.bin");
  fs::create_symlink(dir.path() / "outside" / "secret.bin", root + "out.bin");
  // And a listed folder gives way to a link to a folder outside the tree
  // that holds a file of the listed file's name.
  writeTestFile((dir.path() / "outside" / "e.bin").string(), std::string(100, 's'));
  fs::rename(root + "sub", dir.path() / "moved");
  fs::create_directory_symlink(dir.path() / "outside", root + "sub");

  for (int pass = 0; pass < 100 && ScanState.load() > 0; ++pass) runPass();
  endScan();
  ASSERT_EQ(ScanState.load(), -1) << "the cycle did not end";
  finishScan();

  // Only a.bin, the one file still reached as it was listed.
  EXPECT_EQ(Scan.coveredFiles, 1);
  EXPECT_EQ(Scan.filesChecked, 1);
  EXPECT_EQ(Scan.checkedBytes, 100);
  EXPECT_EQ(Scan.openErrors, 0);
  EXPECT_EQ(Scan.readErrors, 0);
  int status = 0;
  EXPECT_EQ(waitpid(writer, &status, WNOHANG), 0) << "the FIFO's writer was released";
  std::string list = readTestFile("errors.csv");
  EXPECT_NE(list.find(",scan end,"), std::string::npos) << list;
  for (const char* event : {"open failed", "read failed", "short read", "list failed"}) {
    EXPECT_EQ(list.find(event), std::string::npos) << list;
  }
}

// The next cycle lists the tree again: a folder that became a link is not
// entered, and a link to a file is not taken in.
TEST_F(HostileTree, LinksFoundByTheListingAreNotTakenIn) {
  fs::rename(root + "sub", dir.path() / "moved");
  fs::create_directory_symlink(dir.path() / "outside", root + "sub");
  fs::create_symlink(dir.path() / "outside" / "secret.bin", root + "secret.bin");
  prepare();
  setupScan();
  ASSERT_TRUE(listTree(Readers[0]));
  EXPECT_EQ(Scan.index.fileCount(), 5u);  // a, fifo, zero, device and out.bin
  std::string subPath;
  for (std::size_t i = 0; i < Scan.index.fileCount(); ++i) {
    const IndexedFile& f = Scan.index.file(i);
    EXPECT_NE(std::string(f.name, f.nameLength), "secret.bin");
  }
  requestScanStop();
  endScan();
  finishScan();
}

}  // namespace
