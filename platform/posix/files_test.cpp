// The POSIX file layer's own rules: a replaced file keeps its mode and
// owner, and links are followed to their final target.
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <string>

#include "common/test_support.h"
#include "platform/files.h"

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

}  // namespace
