// The POSIX file layer's own rules: a replaced file keeps its mode and
// owner, links are followed to their final target, and a scanned file is
// opened only when the entry itself is a regular file.
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "common/test_support.h"
#include "platform/files.h"
#include "platform/posix/listed_file.h"

namespace {

namespace fs = std::filesystem;

struct stat statOf(const char* path) {
  struct stat st = {};
  EXPECT_EQ(stat(path, &st), 0) << path;
  return st;
}

TEST(PosixFiles, AReplacedFileKeepsItsModeAndOwner) {
  ScopedTempDir dir;
  // Another owner can be given only by a privileged process; the tests may
  // run as one.
  const bool privileged = geteuid() == 0;
  const struct {
    mode_t mode;
    bool otherOwner;
  } cases[] = {{0640, false}, {0444, false}, {0600, privileged}, {0664, privileged}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.mode);
    writeTestFile("s.ini", "old");
    ASSERT_EQ(chmod("s.ini", c.mode), 0);
    if (c.otherOwner) {
      ASSERT_EQ(chown("s.ini", 4321, 4322), 0);
    }
    struct stat before = statOf("s.ini");
    writeTestFile("s.tmp", "new");
    ASSERT_EQ(replaceFile("s.tmp", "s.ini"), 0);
    struct stat after = statOf("s.ini");
    EXPECT_EQ(after.st_mode & 07777, c.mode);
    EXPECT_EQ(after.st_uid, before.st_uid);
    EXPECT_EQ(after.st_gid, before.st_gid);
    EXPECT_NE(after.st_ino, before.st_ino);  // replaced, not written into
    EXPECT_EQ(readTestFile("s.ini"), "new");
  }
}

TEST(PosixFiles, LinksAreFollowedToTheirFinalTarget) {
  ScopedTempDir dir;
  ASSERT_TRUE(fs::create_directories("a/b"));
  writeTestFile("a/b/file", "x");
  fs::create_symlink("b/file", "a/first");
  fs::create_symlink("a/first", "second");
  fs::create_symlink("nowhere", "dangling");
  const std::string real = fs::canonical("a/b/file").string();
  std::string target;
  for (const char* path : {"second", "a/first", "a/b/file"}) {
    ASSERT_EQ(findLinkTarget(path, &target), 0) << path;
    EXPECT_EQ(target, real) << path;
  }
  EXPECT_EQ(findLinkTarget("dangling", &target), ENOENT);
}

// A process blocked in opening a FIFO for writing, as a writer waiting for
// its reader is; any open of the FIFO for reading releases it.
struct BlockedWriter {
  pid_t pid = -1;
  std::string fifo;
  explicit BlockedWriter(const std::string& path) : fifo(path) {
    pid = fork();
    if (pid == 0) {
      int fd = open(path.c_str(), O_WRONLY);
      _exit(fd >= 0 ? 0 : 1);
    }
  }
  // Still waiting: no reader ever came. An open that had released it would
  // have come before, so the answer is final for what came before.
  bool stillBlocked() const {
    int status = 0;
    return waitpid(pid, &status, WNOHANG) == 0;
  }
  ~BlockedWriter() {
    int reader = open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
    int status = 0;
    waitpid(pid, &status, 0);
    if (reader >= 0) close(reader);
  }
};

// Both ways to the examined inode: through /proc, and by the folder where
// /proc is missing. A regular file opens and reads, a folder fails as it
// always did, and links, FIFOs and device nodes are passed over as missing
// without being opened: the writer at the FIFO stays blocked.
TEST(PosixListedFiles, OnlyARegularFileItselfIsOpened) {
  ScopedTempDir dir;
  writeTestFile("plain.bin", "plain");
  fs::create_directory("folder");
  fs::create_symlink("plain.bin", "link-to-file");
  fs::create_symlink("/dev/zero", "link-to-zero");
  fs::create_symlink("missing", "dangling");
  ASSERT_EQ(mkfifo("fifo", 0600), 0);
  // Only a privileged process makes device nodes; /dev/null's numbers.
  const bool device = mknod("null-device", S_IFCHR | 0666, makedev(1, 3)) == 0;
  BlockedWriter writer(fs::absolute("fifo").string());
  for (ListedFileReopen how : {ListedFileReopen::ThroughProc, ListedFileReopen::ThroughFolder}) {
    SCOPED_TRACE(how == ListedFileReopen::ThroughProc ? "through /proc" : "through the folder");
    int fd = -1;
    struct stat st;
    for (std::string prefix : {std::string(), fs::current_path().string() + "/"}) {
      ASSERT_EQ(openListedRegularFile((prefix + "plain.bin").c_str(), 0, 0, how, &fd, &st), 0) << prefix;
      char bytes[8] = {};
      EXPECT_EQ(read(fd, bytes, sizeof bytes), 5);
      EXPECT_EQ(std::string(bytes), "plain");
      EXPECT_EQ(fcntl(fd, F_GETFL) & O_NONBLOCK, 0);
      close(fd);
    }
    EXPECT_EQ(openListedRegularFile("folder", 0, 0, how, &fd, &st), EISDIR);
    std::vector<const char*> passedOver = {"link-to-file", "link-to-zero", "dangling", "fifo", "missing"};
    if (device) passedOver.push_back("null-device");
    for (const char* name : passedOver) {
      fd = 7;
      EXPECT_EQ(openListedRegularFile(name, 0, 0, how, &fd, &st), ENOENT) << name;
      EXPECT_EQ(fd, -1) << name;
    }
  }
  EXPECT_TRUE(writer.stillBlocked());
  // The scan's own entry points take the /proc way.
  FileHandle file = kNoFile;
  EXPECT_EQ(openListedFile("plain.bin", &file), 0);
  EXPECT_EQ(closeFile(file), 0);
  UnbufferedFile unbuffered;
  EXPECT_EQ(openFileUnbuffered("plain.bin", &unbuffered), 0);
  EXPECT_EQ(closeFile(unbuffered.handle), 0);
  for (const char* name : {"link-to-file", "fifo"}) {
    EXPECT_EQ(openListedFile(name, &file), ENOENT) << name;
    EXPECT_EQ(openFileUnbuffered(name, &unbuffered), ENOENT) << name;
    EXPECT_TRUE(isNotFoundError(ENOENT));
  }
  EXPECT_TRUE(writer.stillBlocked());
  // The settings file may be a link: that open still follows it.
  EXPECT_EQ(openFileForReading("link-to-file", &file), 0);
  EXPECT_EQ(closeFile(file), 0);
}

bool systemHasOpenat2() {
#ifdef SYS_openat2
  struct {
    uint64_t flags, mode, resolve;
  } how = {O_PATH | O_CLOEXEC, 0, 0};
  int fd = static_cast<int>(syscall(SYS_openat2, AT_FDCWD, ".", &how, sizeof how));
  if (fd >= 0) close(fd);
  return fd >= 0 || errno != ENOSYS;
#else
  return false;
#endif
}

// A folder of the tree put in the place of a link to a folder outside it,
// after the listing: below the root no link is followed and no way leads
// out, while the root itself may be reached through links.
TEST(PosixListedFiles, BelowTheRootNoLinkIsFollowed) {
  if (!systemHasOpenat2()) GTEST_SKIP() << "the system has no openat2";
  ScopedTempDir dir;
  fs::create_directories("outside");
  fs::create_directories("tree/kept");
  writeTestFile("outside/x.bin", "outside");
  writeTestFile("tree/kept/x.bin", "inside");
  fs::create_directory_symlink("../outside", "tree/swapped");
  fs::create_directory_symlink("tree", "root-link");
  for (std::string root : {std::string("root-link/"), fs::current_path().string() + "/root-link/"}) {
    SCOPED_TRACE(root);
    auto inTree = [&](const char* below) { return root + below; };
    for (ListedFileReopen how : {ListedFileReopen::ThroughProc, ListedFileReopen::ThroughFolder}) {
      int fd = -1;
      struct stat st;
      ASSERT_EQ(openListedRegularFile(inTree("kept/x.bin").c_str(), root.size(), 0, how, &fd, &st), 0);
      char bytes[8] = {};
      EXPECT_EQ(read(fd, bytes, sizeof bytes), 6);
      EXPECT_EQ(std::string(bytes), "inside");
      close(fd);
      for (const char* below : {"swapped/x.bin", "kept/../../outside/x.bin"}) {
        fd = 7;
        EXPECT_EQ(openListedRegularFile(inTree(below).c_str(), root.size(), 0, how, &fd, &st), ENOENT) << below;
        EXPECT_EQ(fd, -1) << below;
      }
    }
    FileHandle file = kNoFile;
    UnbufferedFile unbuffered;
    EXPECT_EQ(openListedFile(inTree("kept/x.bin").c_str(), &file, root.size()), 0);
    EXPECT_EQ(closeFile(file), 0);
    EXPECT_EQ(openFileUnbuffered(inTree("kept/x.bin").c_str(), &unbuffered, root.size()), 0);
    EXPECT_EQ(closeFile(unbuffered.handle), 0);
    EXPECT_EQ(openListedFile(inTree("swapped/x.bin").c_str(), &file, root.size()), ENOENT);
    EXPECT_EQ(openFileUnbuffered(inTree("swapped/x.bin").c_str(), &unbuffered, root.size()), ENOENT);
  }
}

}  // namespace
