// Readsweeper.exe on the names of a modern disk: files named in many
// scripts, a path typed in them, a settings file from the days of the
// legacy code page, and a file deeper than 260 characters. Files are made
// with the wide-character calls, and window texts are read with the wide
// WM_GETTEXT: an "A" read from this process would go through its own legacy
// code page.
#include <set>

#include "e2e_support.h"

namespace {

using namespace e2e;

std::wstring wide(const std::string& utf8) {
  int length = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
  std::wstring text(static_cast<std::size_t>(length), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), &text[0], length);
  return text;
}

std::string utf8(const std::wstring& text) {
  int length =
      WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
  std::string bytes(static_cast<std::size_t>(length), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &bytes[0], length, nullptr, nullptr);
  return bytes;
}

// Characters, not UTF-16 units: a surrogate pair counts once.
std::size_t characters(const std::string& text) {
  std::size_t count = 0;
  for (wchar_t c : wide(text)) count += (c < 0xDC00 || c > 0xDFFF) ? 1 : 0;
  return count;
}

// Every path here is absolute, so the long form works at any length.
std::wstring longForm(const std::string& path) { return L"\\\\?\\" + wide(path); }

void makeFolder(const std::string& path) {
  ASSERT_TRUE(CreateDirectoryW(longForm(path).c_str(), nullptr)) << path << " error " << GetLastError();
}

void makeFile(const std::string& path, std::size_t size) {
  HANDLE file = CreateFileW(longForm(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE) << path << " error " << GetLastError();
  std::string bytes(size, 'n');
  DWORD written = 0;
  EXPECT_TRUE(WriteFile(file, bytes.data(), static_cast<DWORD>(size), &written, nullptr));
  CloseHandle(file);
}

void removeWideTree(const std::wstring& folder) {
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW((folder + L"\\*").c_str(), &found);
  if (search != INVALID_HANDLE_VALUE) {
    do {
      std::wstring name = found.cFileName;
      if (name == L"." || name == L"..") continue;
      if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        removeWideTree(folder + L"\\" + name);
      } else {
        DeleteFileW((folder + L"\\" + name).c_str());
      }
    } while (FindNextFileW(search, &found));
    FindClose(search);
  }
  RemoveDirectoryW(folder.c_str());
}

std::string wideTextOf(HWND window) {
  wchar_t buffer[1024] = {};
  DWORD_PTR result = 0;
  SendMessageTimeoutW(window, WM_GETTEXT, 1024, reinterpret_cast<LPARAM>(buffer), SMTO_ABORTIFHUNG, 2000, &result);
  return utf8(buffer);
}

const char kNoErrors[] = "opening errors: 0, reading errors: 0";

class Names : public Readsweeper {
 protected:
  void TearDown() override {
    Readsweeper::TearDown();
    // What the "A" calls of the shared tear-down could not reach.
    std::string folder = dir.substr(0, dir.size() - 1);
    removeWideTree(longForm(folder));
  }

  void typeWide(const std::string& text) {
    std::wstring w = wide(text);
    DWORD_PTR result = 0;
    SendMessageTimeoutW(pathEdit, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(w.c_str()), SMTO_ABORTIFHUNG, 2000,
                        &result);
  }

  // Waits for the stop rule to end the scan and returns the counters line.
  std::string countersAfterStopRule() {
    EXPECT_TRUE(waitUntil([&] { return idle() && !wideTextOf(countersLine).empty(); })) << "no end";
    return wideTextOf(countersLine);
  }
};

// Every file is checked, none fails to open, and the file line shows each
// name as it is. With the root "names\" the quoted path of the Japanese
// file takes 33 characters but 75 bytes: it is shown whole.
TEST_F(Names, TreeInManyScriptsIsCheckedWithoutErrors) {
  const std::string sub = "\xD0\x9F\xD0\xB0\xD0\xBF\xD0\xBA\xD0\xB0 \xE6\x96\x87\xE4\xBB\xB6\\";  // Папка 文件
  const std::vector<std::string> files = {
      "\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E\xE3\x81\xAE\xE3\x83\x86\xE3\x82\xAD\xE3\x82\xB9\xE3\x83\x88"
      "\xE3\x83\x95\xE3\x82\xA1\xE3\x82\xA4\xE3\x83\xAB\xE3\x81\xA7\xE3\x81\x99\xE9\x95\xB7\xE3\x81\x84"
      "\xE5\x90\x8D\xE5\x89\x8D\xE3\x81\xAE\xE8\xA6\x8B\xE6\x9C\xAC.txt",                  // 日本語のテキストファイルです長い名前の見本
      "\xCE\x95\xCE\xBB\xCE\xBB\xCE\xB7\xCE\xBD\xCE\xB9\xCE\xBA\xCE\xAC.txt",               // Ελληνικά
      "Caf\xC3\xA9 cr\xC3\xA8me br\xC3\xBBl\xC3\xA9" "e.txt",                               // Café crème brûlée
      "\xC5\x81\xC3\xB3" "d\xC5\xBA \xC5\xBB\xC3\xB3\xC5\x82\xC4\x87.txt",                  // Łódź Żółć
      sub + "\xD0\x9A\xD0\xB8\xD1\x80\xD0\xB8\xD0\xBB\xD0\xBB\xD0\xB8\xD1\x86\xD0\xB0.txt",  // Кириллица
      sub + "\xF0\x9F\x98\x80 smile.bin",                                                   // 😀
  };
  makeFolder(dir + "names");
  makeFolder(dir + "names\\" + sub);
  std::set<std::string> expected;
  for (const std::string& name : files) {
    makeFile(dir + "names\\" + name, 3000);
    std::string line = "\"names\\" + name + "\"";
    ASSERT_LE(characters(line), 64u) << line;
    expected.insert(line);
  }
  ASSERT_GT(files[0].size() + 8, 64u);  // too long in bytes

  writeIni({"instant start", "check files: names\\", "scan all files", "skip file: 30", "select subfolder: 50",
            "bytes to read at once: 100", "show file name", "show checked bytes", "show open errors",
            "show read errors", "window refresh: 100"});
  start();
  std::set<std::string> seen;
  waitUntil([&] {
    std::string line = wideTextOf(fileLine);
    if (!line.empty()) seen.insert(line);
    return seen.size() >= expected.size();
  }, 30000);
  stopScanByButton();
  EXPECT_EQ(seen, expected);
  std::string counters = wideTextOf(countersLine);
  EXPECT_EQ(counters.substr(counters.find(", ") + 2), kNoErrors) << counters;
  EXPECT_EQ(closeAndWait(), 0);
}

// A folder typed in several scripts is scanned, saved in UTF-8 and shown
// again at the next start.
TEST_F(Names, TypedPathIsScannedSavedInUtf8AndShownAgain) {
  const std::string folder = dir + "\xC5\x9A" "cie\xC5\xBCka \xD0\x9F\xD1\x83\xD1\x82\xD1\x8C "
                                   "\xE8\xB7\xAF\xE5\xBE\x84 \xF0\x9F\x93\x81\\";  // Ścieżka Путь 路径 📁
  makeFolder(folder);
  makeFile(folder + "plik \xC4\x85\xC4\x99.bin", 5000);  // plik ąę
  const std::vector<std::string> rest = {"bytes to read at once: 100", "stop after checked: 1000",
                                         "show checked bytes", "show open errors", "show read errors",
                                         "window refresh: 100"};
  std::vector<std::string> content = {"check files: old"};
  content.insert(content.end(), rest.begin(), rest.end());
  writeIni(content);
  start();
  typeWide(folder);
  press();
  EXPECT_EQ(countersAfterStopRule(), std::string("checked 1000B, ") + kNoErrors);
  content[0] = "check files: " + folder;
  EXPECT_EQ(ini(), lines(content));
  EXPECT_EQ(closeAndWait(), 0);
  EXPECT_EQ(ini(), lines(content));

  CloseHandle(process.hProcess);
  CloseHandle(process.hThread);
  process = {};
  start();
  EXPECT_EQ(wideTextOf(pathEdit), folder);
  EXPECT_EQ(closeAndWait(), 0);
}

// A settings file written in the legacy code page: its path is loaded,
// shown and scanned; the refreshed path line is then UTF-8, and a line that
// is not refreshed keeps its bytes.
TEST_F(Names, LegacySettingsFileIsLoadedShownAndScanned) {
  const std::string folder = dir + "Caf\xC3\xA9 d\xC3\xA9j\xC3\xA0 vu\\";
  makeFolder(folder);
  makeFile(folder + "a.bin", 5000);
  const std::string note = "note: Gr\xFC\xDF" "e aus K\xF6ln";  // Windows-1252
  const std::vector<std::string> rest = {note, "bytes to read at once: 100", "stop after checked: 1000",
                                         "show checked bytes", "show open errors", "show read errors",
                                         "window refresh: 100"};
  std::vector<std::string> content = {"check files: " + dir + "Caf\xE9 d\xE9j\xE0 vu\\"};
  content.insert(content.end(), rest.begin(), rest.end());
  writeIni(content);
  start();
  EXPECT_EQ(wideTextOf(pathEdit), folder);
  press();
  EXPECT_EQ(countersAfterStopRule(), std::string("checked 1000B, ") + kNoErrors);
  content[0] = "check files: " + folder;
  EXPECT_EQ(ini(), lines(content));
  EXPECT_EQ(closeAndWait(), 0);
}

// Five folders of 60 characters: the file's full path is over 300.
TEST_F(Names, FileDeeperThan300CharactersIsChecked) {
  std::string folder = dir + "long\\";
  makeFolder(folder);
  for (char level = 'a'; level < 'f'; ++level) {
    folder += std::string(58, level) + "\xC3\xA9\\";
    makeFolder(folder);
  }
  const std::string name = "deep \xE2\x9C\x93.bin";  // deep ✓
  makeFile(folder + name, 5000);
  ASSERT_GT(characters(folder + name), 300u);

  writeIni({"instant start", "check files: " + dir + "long\\", "skip file: 0", "select subfolder: 100",
            "scan all files", "bytes to read at once: 100", "stop after checked: 1000", "show file name",
            "show checked bytes", "show open errors", "show read errors", "window refresh: 100"});
  start();
  EXPECT_EQ(countersAfterStopRule(), std::string("checked 1000B, ") + kNoErrors);
  EXPECT_EQ(wideTextOf(fileLine), "\"" + name + "\"");
  EXPECT_EQ(closeAndWait(), 0);
}

}  // namespace
