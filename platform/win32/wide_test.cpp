// The Win32 layer's wide-character side: UTF-8 to UTF-16 and back, the
// long-path prefix, and real files with names outside any legacy code page
// and with paths far beyond 260 characters.
#include "platform/win32/wide.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <string>
#include <vector>

#include "platform/files.h"
#include "platform/legacy_text.h"
#include "platform/listing.h"

namespace {

std::string utf8Of(const std::wstring& wide) {
  std::string utf8;
  appendUtf8(&utf8, wide.data(), wide.size());
  return utf8;
}

TEST(Wide, Utf8AndUtf16BothWays) {
  const struct {
    const char* what;
    std::string utf8;
    std::wstring wide;
  } cases[] = {
      {"ASCII", "C:\\data\\a.bin", L"C:\\data\\a.bin"},
      {"Polish", "\xC5\x81\xC3\xB3" "d\xC5\xBA", L"\x0141\x00F3" L"d\x017A"},
      {"Japanese", "\xE6\x97\xA5\xE6\x9C\xAC", L"\x65E5\x672C"},
      {"an emoji takes a surrogate pair", "\xF0\x9F\x98\x80", L"\xD83D\xDE00"},
      {"the highest character", "\xF4\x8F\xBF\xBF", L"\xDBFF\xDFFF"},
      // NTFS names may hold a lone surrogate: it keeps its value both ways.
      {"a lone high surrogate", "a\xED\xA0\xBD" "b", L"a\xD83D" L"b"},
      {"a lone low surrogate", "\xED\xB8\x80", L"\xDE00"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(wideFromUtf8(c.utf8), c.wide);
    EXPECT_EQ(utf8Of(c.wide), c.utf8);
  }
}

TEST(Wide, BytesThatAreNotUtf8BecomeReplacementCharacters) {
  EXPECT_EQ(wideFromUtf8("Caf\xE9"), L"Caf\xFFFD");
  EXPECT_EQ(wideFromUtf8("\xC0\xAF" "x"), L"\xFFFD\xFFFD" L"x");                 // overlong
  EXPECT_EQ(wideFromUtf8("\xE6\x97"), L"\xFFFD\xFFFD");                         // cut short
  EXPECT_EQ(wideFromUtf8("\xF4\x90\x80\x80"), L"\xFFFD\xFFFD\xFFFD\xFFFD");     // above U+10FFFF
}

// What the "A" window calls get on a system that ignores the UTF-8 code
// page of the manifest: its legacy code page, with "?" for what it lacks.
TEST(Wide, WindowTextsInACodePage) {
  const std::string utf8 = "Caf\xC3\xA9 \xE2\x82\xAC \xC5\x81\xC3\xB3" "d\xC5\xBA \xE6\x97\xA5";  // Café € Łódź 日
  EXPECT_EQ(utf8ToCodePage(utf8, 1252), "Caf\xE9 \x80 ?\xF3" "d? ?");
  EXPECT_EQ(codePageToUtf8("Caf\xE9 \x80", 1252), "Caf\xC3\xA9 \xE2\x82\xAC");
  EXPECT_EQ(codePageToUtf8(utf8ToCodePage(utf8, 1250), 1250), "Caf\xC3\xA9 \xE2\x82\xAC \xC5\x81\xC3\xB3" "d\xC5\xBA ?");
  // Under the UTF-8 code page nothing changes, whatever the bytes.
  EXPECT_EQ(utf8ToCodePage(utf8, CP_UTF8), utf8);
  EXPECT_EQ(codePageToUtf8("Caf\xE9", CP_UTF8), "Caf\xE9");
}

TEST(Wide, LongPathForm) {
  const struct {
    const wchar_t* full;
    const wchar_t* prefixed;
  } cases[] = {
      {L"C:\\a\\b", L"\\\\?\\C:\\a\\b"},
      {L"\\\\server\\share\\a", L"\\\\?\\UNC\\server\\share\\a"},
      {L"\\\\?\\C:\\a", L"\\\\?\\C:\\a"},
  };
  std::wstring out = L"left from before";
  for (const auto& c : cases) {
    longPathForm(c.full, &out);
    EXPECT_EQ(out, c.prefixed);
  }
}

std::wstring currentFolder() {
  wchar_t buffer[MAX_PATH] = {};
  GetCurrentDirectoryW(MAX_PATH, buffer);
  return buffer;
}

TEST(Wide, SystemPathPrefixesOnlyWhatTheClassicLimitRefuses) {
  const std::string deep(300, 'd');
  const std::wstring wideDeep(300, L'd');
  const std::string at247 = "C:\\" + std::string(244, 'x');
  const std::string at248 = "C:\\" + std::string(245, 'x');
  std::wstring here = currentFolder();
  if (here.back() != L'\\') here += L'\\';
  const struct {
    const char* what;
    std::string path;
    std::wstring system;
  } cases[] = {
      {"short and absolute", "C:\\data\\a.bin", L"C:\\data\\a.bin"},
      {"short and relative", "Readsweeper.ini", L"Readsweeper.ini"},
      {"short with other separators", "C:/data/../a.bin", L"C:/data/../a.bin"},
      {"247 characters", at247, wideFromUtf8(at247)},
      {"248 characters", at248, L"\\\\?\\" + wideFromUtf8(at248)},
      {"long and absolute", "C:\\" + deep + "\\*.*", L"\\\\?\\C:\\" + wideDeep + L"\\*.*"},
      {"long, made plain on the way", "C:/x/../" + deep, L"\\\\?\\C:\\" + wideDeep},
      {"long network path", "\\\\server\\share\\" + deep, L"\\\\?\\UNC\\server\\share\\" + wideDeep},
      {"long and relative", deep, L"\\\\?\\" + here + wideDeep},
      {"already prefixed", "\\\\?\\C:\\" + deep, L"\\\\?\\C:\\" + wideDeep},
      {"a device path", "\\\\.\\" + deep, L"\\\\.\\" + wideDeep},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(utf8Of(systemPath(c.path.c_str())), utf8Of(c.system));
  }
}

// A scanned path reaches the file system with every name as it is:
// reserved device names and trailing dots and blanks stay, whatever the
// length; only the steps that are no names go.
TEST(Wide, ScannedPathsAlwaysGoPrefixedWithTheirNamesWhole) {
  std::wstring here = currentFolder();
  if (here.back() != L'\\') here += L'\\';
  const std::string drive(1, static_cast<char>(here[0]));
  const struct {
    const char* what;
    std::string path;
    std::wstring system;
  } cases[] = {
      {"a reserved name", "C:\\data\\AUX", L"\\\\?\\C:\\data\\AUX"},
      {"a trailing dot", "C:\\data\\x.", L"\\\\?\\C:\\data\\x."},
      {"a trailing blank in a folder and a file", "C:\\x \\y ", L"\\\\?\\C:\\x \\y "},
      {"a listing pattern", "C:\\data\\*.*", L"\\\\?\\C:\\data\\*.*"},
      {"a drive root", "C:\\", L"\\\\?\\C:\\"},
      {"steps that are no names", "C:/data/./sub//../NUL", L"\\\\?\\C:\\data\\NUL"},
      {"dots that are part of a name", "C:\\...\\..x\\x..", L"\\\\?\\C:\\...\\..x\\x.."},
      {"never above the drive", "C:\\..\\..\\a", L"\\\\?\\C:\\a"},
      {"a network path", "\\\\server\\share\\..\\CON", L"\\\\?\\UNC\\server\\share\\CON"},
      {"relative", "sub\\COM1", L"\\\\?\\" + here + L"sub\\COM1"},
      {"relative with a step up", "sub\\..\\x.", L"\\\\?\\" + here + L"x."},
      {"from the drive's root", "\\top\\x.", L"\\\\?\\" + here.substr(0, 3) + L"top\\x."},
      {"drive-relative", drive + ":sub\\x ", L"\\\\?\\" + here + L"sub\\x "},
      {"already prefixed", "\\\\?\\C:\\a.", L"\\\\?\\C:\\a."},
      {"a device path", "\\\\.\\COM1", L"\\\\.\\COM1"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(utf8Of(scannedPathFor(c.path.c_str())), utf8Of(c.system));
  }
}

// Files that the plain path rules would take for devices or cut short, as
// Linux tools and file shares make them: listed and opened as the files
// they are. A read of AUX through the plain rules would wait on the serial
// port, so the reserved names are only opened and measured.
TEST(Wide, ReservedNamesAndTrailingDotsAreListedAndOpenedAsFiles) {
  wchar_t temp[MAX_PATH] = {};
  GetTempPathW(MAX_PATH, temp);
  const std::wstring folder = std::wstring(L"\\\\?\\") + temp + L"rs-reserved-" + std::to_wstring(GetCurrentProcessId());
  const std::vector<std::string> names = {"AUX", "COM1", "CON", "NUL", "PRN", "x ", "x."};  // sorted
  // Also what a run that failed half-way left behind.
  struct Removal {
    const std::wstring& folder;
    const std::vector<std::string>& names;
    void operator()() const {
      for (const std::string& name : names) DeleteFileW((folder + L"\\" + wideFromUtf8(name)).c_str());
      RemoveDirectoryW(folder.c_str());
    }
    ~Removal() { (*this)(); }
  } removal{folder, names};
  removal();
  ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr)) << GetLastError();
  for (const std::string& name : names) {
    HANDLE h = CreateFileW((folder + L"\\" + wideFromUtf8(name)).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE) << name;
    std::string content = "[" + name + "]";  // each file holds its own name
    DWORD written = 0;
    EXPECT_TRUE(WriteFile(h, content.data(), static_cast<DWORD>(content.size()), &written, nullptr));
    CloseHandle(h);
  }
  const std::string plain = utf8Of(folder.substr(4)) + "\\";  // the layer adds the prefix

  ListHandle listing = kNoListing;
  ListEntry entry;
  std::vector<std::string> listed;
  ASSERT_EQ(listFirst((plain + "*.*").c_str(), &listing, &entry), 0);
  do {
    if (entry.name != "." && entry.name != "..") listed.push_back(entry.name);
  } while (listNext(listing, &entry) == 0);
  listClose(listing);
  std::sort(listed.begin(), listed.end());
  EXPECT_EQ(listed, names);

  for (const std::string& name : names) {
    SCOPED_TRACE(name);
    FileHandle file = kNoFile;
    ASSERT_EQ(openFileForReading((plain + name).c_str(), &file), 0);
    LARGE_INTEGER size = {};
    EXPECT_TRUE(GetFileSizeEx(reinterpret_cast<HANDLE>(file), &size));
    EXPECT_EQ(size.QuadPart, static_cast<LONGLONG>(name.size() + 2));
    if (name.size() == 2 || name == "NUL") {
      char buffer[16] = {};
      uint32_t got = 0;
      EXPECT_EQ(readFile(file, buffer, sizeof buffer, &got), 0);
      EXPECT_EQ(std::string(buffer, got), "[" + name + "]");
    }
    EXPECT_EQ(closeFile(file), 0);
  }
}

TEST(Wide, LegacyTextComesFromTheSystemsAnsiCodePage) {
  // Wine's and an English Windows' legacy code page is Windows-1252.
  EXPECT_EQ(legacyTextToUtf8("Caf\xE9 \x80").view(), "Caf\xC3\xA9 \xE2\x82\xAC");
  EXPECT_EQ(legacyTextToUtf8(std::string(255, '\xE9')).size(), 254u);  // 127 whole characters
}

// Real files through the layer: names the "A" calls could not open, in a
// folder whose path is far longer than 260 characters. (Wine's wide calls
// take long paths with or without the prefix, so under Wine this shows the
// wide calls and the prefixed paths at work; the rule is tested above.)
struct LongTree : ::testing::Test {
  void SetUp() override {
    wchar_t temp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, temp);
    std::wstring base = std::wstring(L"\\\\?\\") + temp + L"rs-wide-" + std::to_wstring(GetCurrentProcessId());
    root = base;
    ASSERT_TRUE(CreateDirectoryW(root.c_str(), nullptr));
    made.push_back(base);
    // Five levels of 60 characters: over 300 in all.
    for (int level = 0; level < 5; ++level) {
      root += L"\\" + std::wstring(59, static_cast<wchar_t>(L'a' + level)) + L"\x00E9";
      ASSERT_TRUE(CreateDirectoryW(root.c_str(), nullptr)) << GetLastError();
      made.push_back(root);
    }
    folder = utf8Of(root.substr(4)) + "\\";  // without the prefix: the layer adds it
  }
  void TearDown() override {
    for (const std::wstring& name : files) DeleteFileW((root + L"\\" + name).c_str());
    for (auto it = made.rbegin(); it != made.rend(); ++it) RemoveDirectoryW(it->c_str());
  }
  std::wstring root;
  std::vector<std::wstring> made;
  std::vector<std::wstring> files;
  std::string folder;
};

TEST_F(LongTree, CreateListOpenReadReplaceAndDelete) {
  ASSERT_GT(folder.size(), 300u);
  const std::string names[] = {"\xE6\x97\xA5\xE6\x9C\xAC.txt", "\xC5\x81\xC3\xB3" "d\xC5\xBA.txt",
                               "\xF0\x9F\x98\x80.bin"};
  for (const std::string& name : names) {
    files.push_back(wideFromUtf8(name));
    FileHandle file = kNoFile;
    ASSERT_EQ(createFileForWriting((folder + name).c_str(), &file), 0) << name;
    ASSERT_EQ(writeFile(file, name.data(), static_cast<uint32_t>(name.size())), 0);
    ASSERT_EQ(closeFile(file), 0);
  }

  ListHandle listing = kNoListing;
  ListEntry entry;
  ASSERT_EQ(listFirst((folder + "*.*").c_str(), &listing, &entry), 0);
  std::vector<std::string> listed;
  do {
    if (entry.name != "." && entry.name != "..") listed.push_back(entry.name);
  } while (listNext(listing, &entry) == 0);
  listClose(listing);
  std::sort(listed.begin(), listed.end());
  std::vector<std::string> expected(std::begin(names), std::end(names));
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(listed, expected);

  for (const std::string& name : listed) {
    FileHandle file = kNoFile;
    ASSERT_EQ(openFileForReading((folder + name).c_str(), &file), 0) << name;
    char buffer[64] = {};
    uint32_t got = 0;
    EXPECT_EQ(positionFile(file, 0), 0);
    EXPECT_EQ(readFile(file, buffer, sizeof buffer, &got), 0);
    EXPECT_EQ(std::string(buffer, got), name);  // each file holds its own name
    EXPECT_EQ(closeFile(file), 0);
  }

  EXPECT_EQ(replaceFile((folder + names[0]).c_str(), (folder + names[1]).c_str()), 0);
  Text stored;
  EXPECT_NE(findEntryByName((folder + names[0]).c_str(), &stored), 0);
  EXPECT_TRUE(DeleteFileW(systemPath((folder + names[1]).c_str()).c_str()));
  EXPECT_TRUE(DeleteFileW(systemPath((folder + names[2]).c_str()).c_str()));
  EXPECT_EQ(listFirst((folder + "*.bin").c_str(), &listing, &entry), ERROR_FILE_NOT_FOUND);
}

}  // namespace
