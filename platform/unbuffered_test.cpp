// Reads past the cache through the system's own layer (POSIX natively,
// Win32 under Wine): the alignment an open tells, reads of whole units up
// to and past the end of the file, the layer's refusal of a request out of
// line, and opens that fail as the usual ones do.
#include <algorithm>
#include <cstring>
#include <filesystem>
#include <string>

#include "common/test_support.h"
#include "platform/files.h"
#include "platform/memory.h"

// What the layer answers a misaligned request with: EINVAL, or 87 on
// Windows (the system's own test file defines it).
extern const int kRefusedRequest;

namespace {

constexpr int64_t kFileSize = 10000;

char patternAt(int64_t offset) { return static_cast<char>((offset * 131 + 7) & 0xFF); }

std::string patternFile() {
  std::string bytes(static_cast<std::size_t>(kFileSize), '\0');
  for (int64_t i = 0; i < kFileSize; ++i) bytes[static_cast<std::size_t>(i)] = patternAt(i);
  return bytes;
}

struct AlignedBuffer {
  int64_t size = 4 * int64_t{kLargestAlignment};
  char* bytes = allocateAlignedMemory(size);
  ~AlignedBuffer() { releaseAlignedMemory(bytes); }
};

TEST(Unbuffered, ReadsWholeUnitsUpToAndPastTheEnd) {
  ScopedTempDir dir;
  writeTestFile("data.bin", patternFile());
  UnbufferedFile file;
  ASSERT_EQ(openFileUnbuffered("data.bin", &file), 0);
  ASSERT_NE(file.handle, kNoFile);
  const int64_t a = file.alignment;
  EXPECT_GE(a, 4096);
  EXPECT_LE(a, int64_t{kLargestAlignment});
  EXPECT_EQ(a & (a - 1), 0) << a;
  AlignedBuffer buffer;
  ASSERT_NE(buffer.bytes, nullptr);
  EXPECT_EQ(reinterpret_cast<uintptr_t>(buffer.bytes) % kLargestAlignment, 0u);

  struct Case {
    int64_t offset, size;
  } cases[] = {{0, a}, {0, 3 * a}, {a, a}, {2 * a, a}, {kFileSize / a * a, 2 * a}, {4 * a, a}};
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << "offset " << c.offset << ", size " << c.size);
    uint32_t got = 12345;
    EXPECT_EQ(readFileUnbuffered(file, c.offset, buffer.bytes, static_cast<uint32_t>(c.size), &got), 0);
    int64_t expected = std::clamp<int64_t>(kFileSize - c.offset, 0, c.size);
    ASSERT_EQ(got, expected);
    for (int64_t i = 0; i < expected; ++i) ASSERT_EQ(buffer.bytes[i], patternAt(c.offset + i)) << i;
  }
  EXPECT_EQ(closeFile(file.handle), 0);
}

// The system would read these (Wine does, where Windows refuses them):
// the layer refuses them before, so the buffer stays as it was.
TEST(Unbuffered, MisalignedRequestsAreRefusedBeforeAnythingIsRead) {
  ScopedTempDir dir;
  writeTestFile("data.bin", patternFile());
  UnbufferedFile file;
  ASSERT_EQ(openFileUnbuffered("data.bin", &file), 0);
  const int64_t a = file.alignment;
  AlignedBuffer buffer;
  ASSERT_NE(buffer.bytes, nullptr);
  struct Case {
    const char* what;
    int64_t offset, size, bufferOffset;
  } cases[] = {
      {"offset within a unit", 1, a, 0},
      {"size of part of a unit", 0, 100, 0},
      {"buffer within a unit", 0, a, 1},
      {"buffer at half the alignment", 0, a, a / 2},
      {"negative offset", -a, a, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::memset(buffer.bytes, 0xEE, static_cast<std::size_t>(buffer.size));
    uint32_t got = 12345;
    EXPECT_EQ(readFileUnbuffered(file, c.offset, buffer.bytes + c.bufferOffset, static_cast<uint32_t>(c.size), &got),
              kRefusedRequest);
    EXPECT_EQ(got, 0u);
    EXPECT_TRUE(std::all_of(buffer.bytes, buffer.bytes + buffer.size, [](char b) { return b == '\xEE'; }));
  }
  EXPECT_EQ(closeFile(file.handle), 0);
}

// Whatever the unbuffered open met, a file that cannot be opened fails with
// the usual open's error, and a file the system refuses to open unbuffered
// is no failure at all.
TEST(Unbuffered, OpensFailAsTheUsualOpenFails) {
  ScopedTempDir dir;
  std::filesystem::create_directory("folder");
  for (const char* path : {"missing.bin", "folder", "no-such-folder/x.bin"}) {
    SCOPED_TRACE(path);
    FileHandle plain = 7;
    int usual = openListedFile(path, &plain);
    ASSERT_NE(usual, 0);
    UnbufferedFile file;
    file.handle = 7;
    EXPECT_EQ(openFileUnbuffered(path, &file), usual);
    EXPECT_EQ(file.handle, kNoFile);
  }
}

}  // namespace
