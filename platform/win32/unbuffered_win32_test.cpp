// The Win32 layer's reads past the cache: the open asks for no buffering,
// and the alignment follows the sector size that the file or, where the
// system does not tell it so (Windows 7, Wine), its volume reports.
#include <windows.h>

#include <algorithm>
#include <filesystem>
#include <string>

#include "common/test_support.h"
#include "platform/files.h"
#include "platform/win32/unbuffered.h"

// Windows refuses a misaligned unbuffered read with this, and so does the
// layer, before the system sees the request: Wine would read it.
extern const int kRefusedRequest = ERROR_INVALID_PARAMETER;

namespace {

HANDLE handleOf(FileHandle file) { return reinterpret_cast<HANDLE>(file); }

// The FILE_NO_INTERMEDIATE_BUFFERING bit of a handle's mode, as the
// system records it; -1 when the mode cannot be had.
int noBufferingBit(FileHandle file) {
  using Query = LONG(WINAPI*)(HANDLE, void* status, void* info, ULONG length, int infoClass);
  constexpr int kFileModeInformation = 16;
  constexpr ULONG kNoIntermediateBuffering = 0x8;
  auto query = reinterpret_cast<Query>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtQueryInformationFile")));
  if (query == nullptr) return -1;
  ULONG_PTR status[2] = {};
  ULONG mode = 0;
  if (query(handleOf(file), status, &mode, sizeof mode, kFileModeInformation) != 0) return -1;
  return (mode & kNoIntermediateBuffering) != 0 ? 1 : 0;
}

TEST(UnbufferedWin32, TheOpenAsksForNoBuffering) {
  ScopedTempDir dir;
  writeTestFile("data.bin", std::string(10000, 'd'));
  UnbufferedFile file;
  ASSERT_EQ(openFileUnbuffered("data.bin", &file), 0);
  EXPECT_TRUE(file.direct);
  EXPECT_EQ(noBufferingBit(file.handle), 1);
  FileHandle plain = kNoFile;
  ASSERT_EQ(openFileForReading("data.bin", &plain), 0);
  EXPECT_EQ(noBufferingBit(plain), 0);
  EXPECT_EQ(closeFile(plain), 0);
  EXPECT_EQ(closeFile(file.handle), 0);
}

// Under Wine the file does not tell its sectors (120): the volume's bytes
// per sector, 512 on its drives, come instead, for a short path and for
// one beyond the classic limit alike.
TEST(UnbufferedWin32, SectorSizeFromTheFileElseFromItsVolume) {
  ScopedTempDir dir;
  writeTestFile("data.bin", std::string(100, 'd'));
  // The deep folders and their file are made through the long-path prefix.
  std::string deep = dir.path().string();
  for (char level : {'a', 'b'}) {
    deep += "\\" + std::string(150, level);
    ASSERT_TRUE(CreateDirectoryW((L"\\\\?\\" + std::filesystem::path(deep).wstring()).c_str(), nullptr));
  }
  std::wstring deepFile = L"\\\\?\\" + std::filesystem::path(deep + "\\data.bin").wstring();
  HANDLE made = CreateFileW(deepFile.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(made, INVALID_HANDLE_VALUE);
  DWORD written = 0;
  ASSERT_TRUE(WriteFile(made, "data", 4, &written, nullptr));
  CloseHandle(made);
  for (const std::string& path : {dir.path().string() + "\\data.bin", deep + "\\data.bin"}) {
    SCOPED_TRACE(path.size());
    UnbufferedFile file;
    ASSERT_EQ(openFileUnbuffered(path.c_str(), &file), 0);
    FILE_STORAGE_INFO storage;
    DWORD expected = 0;
    if (GetFileInformationByHandleEx(handleOf(file.handle), FileStorageInfo, &storage, sizeof storage)) {
      expected = std::max(storage.LogicalBytesPerSector, storage.PhysicalBytesPerSectorForPerformance);
    } else {
      DWORD sectorsPerCluster = 0, freeClusters = 0, clusters = 0;
      ASSERT_TRUE(GetDiskFreeSpaceA(path.substr(0, 3).c_str(), &sectorsPerCluster, &expected, &freeClusters, &clusters));
    }
    EXPECT_GE(expected, 512u);
    EXPECT_EQ(sectorSizeOf(handleOf(file.handle), path.c_str()), expected);
    EXPECT_EQ(file.alignment, std::max<DWORD>(4096, expected));
    EXPECT_EQ(closeFile(file.handle), 0);
  }
  EXPECT_TRUE(DeleteFileW(deepFile.c_str()));
  for (int level = 0; level < 2; ++level) {
    EXPECT_TRUE(RemoveDirectoryW((L"\\\\?\\" + std::filesystem::path(deep).wstring()).c_str()));
    deep.resize(deep.rfind('\\'));
  }
}

}  // namespace
