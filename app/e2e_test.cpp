// Readsweeper.exe driven from outside, the way a user drives it: each test
// starts the real program in a fresh working folder with a prepared
// settings file and file tree, then finds its window, types, presses the
// button, reads what the window shows, closes it and looks at the settings
// file it leaves behind.
#include <windows.h>

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace {

constexpr DWORD kPatienceMs = 8000;

std::string programPath() {
  std::string path = READSWEEPER_EXE;
  // CMake names the program by its host path; Wine sees the host's root as Z:.
  if (!path.empty() && path[0] == '/') path = "Z:" + path;
  for (char& c : path) {
    if (c == '/') c = '\\';
  }
  return path;
}

bool waitUntil(const std::function<bool()>& condition, DWORD timeoutMs = kPatienceMs) {
  DWORD start = GetTickCount();
  for (;;) {
    if (condition()) return true;
    if (GetTickCount() - start > timeoutMs) return false;
    Sleep(10);
  }
}

std::string lines(const std::vector<std::string>& content) {
  std::string text;
  for (const std::string& line : content) text += line + "\r\n";
  return text;
}

void writeFileBytes(const std::string& path, const std::string& bytes) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                            nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE) << path;
  DWORD written = 0;
  ASSERT_TRUE(WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr));
  CloseHandle(file);
}

bool exists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

std::string readFileBytes(const std::string& path) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return "<missing>";
  std::string bytes;
  char buffer[4096];
  DWORD got = 0;
  while (ReadFile(file, buffer, sizeof buffer, &got, nullptr) && got > 0) bytes.append(buffer, got);
  CloseHandle(file);
  return bytes;
}

void removeTree(const std::string& folder) {
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA((folder + "*.*").c_str(), &found);
  if (search != INVALID_HANDLE_VALUE) {
    do {
      std::string name = found.cFileName;
      if (name == "." || name == "..") continue;
      if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        removeTree(folder + name + "\\");
      } else {
        DeleteFileA((folder + name).c_str());
      }
    } while (FindNextFileA(search, &found));
    FindClose(search);
  }
  RemoveDirectoryA(folder.c_str());
}

struct FindArgs {
  DWORD processId;
  const char* className;
  HWND found;
};

BOOL CALLBACK findTopLevel(HWND window, LPARAM param) {
  auto* args = reinterpret_cast<FindArgs*>(param);
  DWORD owner = 0;
  GetWindowThreadProcessId(window, &owner);
  char className[64] = {};
  GetClassNameA(window, className, sizeof className);
  if (owner == args->processId && std::string(className) == args->className) {
    args->found = window;
    return FALSE;
  }
  return TRUE;
}

BOOL CALLBACK collectChild(HWND window, LPARAM param) {
  reinterpret_cast<std::vector<HWND>*>(param)->push_back(window);
  return TRUE;
}

std::vector<HWND> childrenOf(HWND window) {
  std::vector<HWND> children;
  EnumChildWindows(window, collectChild, reinterpret_cast<LPARAM>(&children));
  return children;
}

// Texts of another process come by message: GetWindowText would give only
// what the window system keeps of a caption.
std::string textOf(HWND window) {
  char buffer[512] = {};
  DWORD_PTR result = 0;
  SendMessageTimeoutA(window, WM_GETTEXT, sizeof buffer, reinterpret_cast<LPARAM>(buffer),
                      SMTO_ABORTIFHUNG, 2000, &result);
  return buffer;
}

std::string classOf(HWND window) {
  char name[64] = {};
  GetClassNameA(window, name, sizeof name);
  return name;
}

// A control's place in the client area of its parent.
RECT placeOf(HWND control, HWND parent) {
  RECT rect = {};
  GetWindowRect(control, &rect);
  MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&rect), 2);
  return rect;
}

class Readsweeper : public ::testing::Test {
 protected:
  void SetUp() override {
    static int serial = 0;
    char temp[MAX_PATH] = {};
    GetTempPathA(sizeof temp, temp);
    dir = std::string(temp) + "rs-e2e-" + std::to_string(GetCurrentProcessId()) + "-" +
          std::to_string(++serial) + "\\";
    removeTree(dir);
    ASSERT_TRUE(CreateDirectoryA(dir.c_str(), nullptr)) << dir;
    data = dir + "data\\";
    CreateDirectoryA(data.c_str(), nullptr);
    CreateDirectoryA((data + "sub\\").c_str(), nullptr);
    writeFileBytes(data + "a.bin", std::string(5000, 'a'));
    writeFileBytes(data + "sub\\b.bin", std::string(3000, 'b'));
  }

  void TearDown() override {
    if (process.hProcess) {
      if (WaitForSingleObject(process.hProcess, 0) == WAIT_TIMEOUT) {
        TerminateProcess(process.hProcess, 99);
        WaitForSingleObject(process.hProcess, 5000);
      }
      CloseHandle(process.hProcess);
      CloseHandle(process.hThread);
      process = {};
    }
    removeTree(dir);
  }

  std::string iniPath() const { return dir + "Readsweeper.ini"; }
  void writeIni(const std::vector<std::string>& content) { writeFileBytes(iniPath(), lines(content)); }
  std::string ini() const { return readFileBytes(iniPath()); }

  void launch() {
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    std::string program = programPath();
    ASSERT_TRUE(CreateProcessA(program.c_str(), nullptr, nullptr, nullptr, FALSE, 0, nullptr,
                               dir.c_str(), &startup, &process))
        << program << " error " << GetLastError();
  }

  HWND topLevel(const char* className) {
    FindArgs args{process.dwProcessId, className, nullptr};
    EnumWindows(findTopLevel, reinterpret_cast<LPARAM>(&args));
    return args.found;
  }

  // Starts the program and waits for its window with all six controls.
  void start() {
    launch();
    ASSERT_TRUE(waitUntil([&] {
      main = topLevel("Readsweeper");
      return main && childrenOf(main).size() == 6;
    })) << "no window";
    std::vector<HWND> children = childrenOf(main);
    pathEdit = children[0];
    fileLine = children[1];
    settingsLine = children[2];
    countersLine = children[3];
    versionLine = children[4];
    button = children[5];
  }

  void type(const std::string& text) {
    DWORD_PTR result = 0;
    SendMessageTimeoutA(pathEdit, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()),
                        SMTO_ABORTIFHUNG, 2000, &result);
  }
  void press() { PostMessageA(button, BM_CLICK, 0, 0); }

  bool scanning() { return textOf(button) == "Stop" && !IsWindowEnabled(pathEdit); }
  bool idle() { return textOf(button) == "Start" && IsWindowEnabled(pathEdit); }

  void startScanByButton() {
    press();
    ASSERT_TRUE(waitUntil([&] { return scanning(); })) << "no scan started";
  }
  void stopScanByButton() {
    press();
    ASSERT_TRUE(waitUntil([&] { return idle(); })) << "the scan did not stop";
  }

  // Closes the window and returns the exit code, or -1 when the program
  // did not end in time.
  int closeAndWait(DWORD timeoutMs = kPatienceMs) {
    PostMessageA(main, WM_CLOSE, 0, 0);
    if (WaitForSingleObject(process.hProcess, timeoutMs) != WAIT_OBJECT_0) return -1;
    DWORD code = 0;
    GetExitCodeProcess(process.hProcess, &code);
    return static_cast<int>(code);
  }

  // Waits a moment in which a wrong reaction would show.
  void settle() { Sleep(300); }

  std::string dir, data;
  PROCESS_INFORMATION process = {};
  HWND main = nullptr, pathEdit = nullptr, fileLine = nullptr, settingsLine = nullptr,
       countersLine = nullptr, versionLine = nullptr, button = nullptr;
};

TEST_F(Readsweeper, LayoutWithoutSettingsSummary) {
  writeIni({"window horizontal position: 120", "window vertical position: 300"});
  start();

  EXPECT_EQ(textOf(main), "Readsweeper");
  RECT outer = {};
  GetWindowRect(main, &outer);
  // The crossed keys: the "horizontal" one holds the top edge.
  EXPECT_EQ(outer.left, 300);
  EXPECT_EQ(outer.top, 120);
  EXPECT_EQ(outer.right - outer.left, 400);
  EXPECT_EQ(outer.bottom - outer.top, 140);
  LONG style = GetWindowLongA(main, GWL_STYLE);
  EXPECT_EQ(style & (WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_MAXIMIZEBOX | WS_THICKFRAME),
            WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX);

  const char* classes[] = {"Edit", "Static", "Static", "Static", "Static", "Button"};
  std::vector<HWND> children = childrenOf(main);
  for (size_t i = 0; i < 6; ++i) {
    EXPECT_EQ(classOf(children[i]), classes[i]) << "control " << i;
    EXPECT_TRUE(IsWindowVisible(children[i])) << "control " << i;
    EXPECT_EQ(GetWindowLongA(children[i], GWL_ID), 0) << "control " << i;
  }
  EXPECT_EQ(GetWindowLongA(pathEdit, GWL_EXSTYLE) & 0x10200, 0x10200);
  EXPECT_EQ(GetWindowLongA(pathEdit, GWL_STYLE) & (WS_TABSTOP | ES_AUTOHSCROLL), 0);
  EXPECT_EQ(GetWindowLongA(button, GWL_STYLE) & (WS_TABSTOP | BS_CENTER), WS_TABSTOP | BS_CENTER);

  RECT client = {};
  GetClientRect(main, &client);
  struct Expected { HWND control; LONG x, y, width, height; } places[] = {
      {pathEdit, 10, 20, 300, 20},
      {fileLine, 10, 50, 450, 15},
      {settingsLine, 10, 65, 450, 15},
      {countersLine, 10, 65, 450, 15},  // over the empty summary line
      {versionLine, 10, client.bottom - 17, 400, 15},
      {button, 320, 20, 60, 20},
  };
  for (const Expected& e : places) {
    RECT r = placeOf(e.control, main);
    EXPECT_EQ(r.left, e.x);
    EXPECT_EQ(r.top, e.y);
    EXPECT_EQ(r.right - r.left, e.width);
    EXPECT_EQ(r.bottom - r.top, e.height);
  }

  EXPECT_EQ(textOf(pathEdit), "");
  EXPECT_EQ(textOf(fileLine), "");
  EXPECT_EQ(textOf(settingsLine), "");
  EXPECT_EQ(textOf(countersLine), "");
  EXPECT_EQ(textOf(versionLine), "version 0.03.4");
  EXPECT_EQ(textOf(button), "Start");
  EXPECT_TRUE(IsWindowEnabled(pathEdit));
  EXPECT_TRUE(IsWindowEnabled(button));

  EXPECT_EQ(closeAndWait(), 0);
  EXPECT_EQ(ini(), lines({"window horizontal position: 120", "window vertical position: 300"}));
}

TEST_F(Readsweeper, LayoutWithSettingsSummaryAndSavedPath) {
  writeIni({"show setup", "check files: " + data, "bytes to read at once: 512",
            "stop after checked: 10485760"});
  start();
  EXPECT_EQ(textOf(settingsLine), "settings: 512 bytes at once, check 10MB");
  RECT counters = placeOf(countersLine, main);
  EXPECT_EQ(counters.top, 80);
  EXPECT_EQ(placeOf(settingsLine, main).top, 65);
  // The saved path waits for Start.
  EXPECT_EQ(textOf(pathEdit), data);
  settle();
  EXPECT_TRUE(idle());
  EXPECT_EQ(closeAndWait(), 0);
}

TEST_F(Readsweeper, StartAndStopReturnToIdle) {
  writeIni({"show checked bytes", "check files: old", "bytes to read at once: 100"});
  start();
  EXPECT_EQ(textOf(pathEdit), "old");
  type(data);
  startScanByButton();
  // The start saved the path.
  EXPECT_EQ(ini(), lines({"show checked bytes", "check files: " + data, "bytes to read at once: 100"}));
  ASSERT_TRUE(waitUntil([&] { return textOf(countersLine).rfind("checked ", 0) == 0; }));
  stopScanByButton();
  // Idle again: the button starts the next scan, and stops it.
  startScanByButton();
  stopScanByButton();
  EXPECT_EQ(closeAndWait(), 0);
}

TEST_F(Readsweeper, DriveProbe) {
  const std::string original = lines({"check files: before", "window horizontal position: 0",
                                      "window vertical position: 0"});
  writeFileBytes(iniPath(), original);
  start();

  // Drives that do not exist: silently refused, nothing saved.
  for (const char* path : {"Q:\\", "Q:\\data\\", "Q:"}) {
    type(path);
    press();
    settle();
    EXPECT_TRUE(idle()) << path;
    EXPECT_EQ(ini(), original) << path;
  }

  // A drive with entries in its root starts.
  type("C:\\");
  startScanByButton();
  EXPECT_EQ(ini(), lines({"check files: C:\\", "window horizontal position: 0",
                          "window vertical position: 0"}));
  stopScanByButton();

  // A drive letter and a colon alone look into that drive's current
  // folder, which is the working folder here.
  type("C:");
  startScanByButton();
  stopScanByButton();
  EXPECT_EQ(closeAndWait(), 0);
}

TEST_F(Readsweeper, InstantStartRefusedStaysIdle) {
  writeIni({"instant start", "check files: Q:\\"});
  start();
  settle();
  EXPECT_TRUE(idle());
  EXPECT_EQ(textOf(pathEdit), "Q:\\");
  EXPECT_EQ(closeAndWait(), 0);
  EXPECT_EQ(ini(), lines({"instant start", "check files: Q:\\"}));
}

TEST_F(Readsweeper, InstantStartMinimizedAndRestoredAtTheEnd) {
  writeIni({"instant start", "run minimized", "check files: " + data});
  start();
  ASSERT_TRUE(waitUntil([&] { return scanning() && IsIconic(main); }));
  stopScanByButton();
  EXPECT_TRUE(waitUntil([&] { return !IsIconic(main); }));
  EXPECT_EQ(closeAndWait(), 0);
}

TEST_F(Readsweeper, StopRuleEndsScanWithExactCountersAndTitle) {
  // One file of 5000 bytes read in blocks of 100: the limit of 1000 is met
  // exactly at the tenth read.
  removeTree(data + "sub\\");
  writeIni({"instant start", "check files: " + data, "bytes to read at once: 100",
            "stop after checked: 1000", "show checked bytes", "show checked bytes in percents",
            "show open errors", "show read errors", "window refresh: 1"});
  start();
  ASSERT_TRUE(waitUntil([&] { return idle() && !textOf(countersLine).empty(); }));
  EXPECT_EQ(textOf(countersLine), "checked 1000B (100%), opening errors: 0, reading errors: 0");
  EXPECT_EQ(textOf(main), "Readsweeper 100%");
  EXPECT_EQ(closeAndWait(), 0);
}

TEST_F(Readsweeper, TypedPathIsSavedAtClose) {
  writeIni({"note: kept as it is", "check files: old", "window horizontal position: 40",
            "window vertical position: 60", "check files: duplicate"});
  start();
  type("C:\\typed\\");
  // The window moved by the user: the closing place is what is saved.
  SetWindowPos(main, nullptr, 250, 90, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  ASSERT_TRUE(waitUntil([&] {
    RECT r;
    GetWindowRect(main, &r);
    return r.left == 250 && r.top == 90;
  }));
  EXPECT_EQ(closeAndWait(), 0);
  EXPECT_EQ(ini(), lines({"note: kept as it is", "check files: C:\\typed\\",
                          "window horizontal position: 90", "window vertical position: 250",
                          "check files: C:\\typed\\"}));
}

TEST_F(Readsweeper, NoSavedPositionOpensAtTheCorner) {
  writeIni({"window horizontal position: -1", "window vertical position: x"});
  start();
  RECT outer = {};
  GetWindowRect(main, &outer);
  EXPECT_EQ(outer.left, 0);
  EXPECT_EQ(outer.top, 0);
  EXPECT_EQ(closeAndWait(), 0);
  EXPECT_EQ(ini(), lines({"window horizontal position: 0", "window vertical position: 0"}));
}

TEST_F(Readsweeper, WithoutSettingsFileNothingIsCreated) {
  start();
  EXPECT_EQ(textOf(pathEdit), "");
  type(data);
  startScanByButton();
  stopScanByButton();
  EXPECT_EQ(closeAndWait(), 0);
  EXPECT_FALSE(exists(iniPath()));
  EXPECT_FALSE(exists(dir + "Readsweeper.tmp"));
}

TEST_F(Readsweeper, SettingsEditedDuringScanApplyToTheNextOne) {
  writeIni({"show setup", "check files: " + data});
  start();
  EXPECT_EQ(textOf(settingsLine), "settings: 1 bytes at once ");
  startScanByButton();
  // Edited by hand while the scan runs.
  writeIni({"show setup", "check files: " + data, "bytes to read at once: 512", "repeat read: 2"});
  settle();
  EXPECT_EQ(textOf(settingsLine), "settings: 1 bytes at once ");
  stopScanByButton();
  startScanByButton();
  EXPECT_EQ(textOf(settingsLine), "settings: 2x repeat read, 512 bytes at once ");
  stopScanByButton();
  EXPECT_EQ(closeAndWait(), 0);
}

TEST_F(Readsweeper, ClosingDuringBusyScanNeverHangsAndKeepsFilePosition) {
  // Many small files and reads: the worker is always busy with the window.
  for (int i = 0; i < 20; ++i) {
    writeFileBytes(data + "f" + std::to_string(i) + ".bin", std::string(20000 + i, 'x'));
  }
  const std::vector<std::string> content = {
      "instant start", "check files: " + data, "show file name", "show checked bytes",
      "show read errors", "window refresh: 100", "bytes to read at once: 64",
      "window horizontal position: 120", "window vertical position: 300"};
  for (int round = 0; round < 10; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    writeIni(content);
    start();
    ASSERT_TRUE(waitUntil([&] { return scanning() && !textOf(fileLine).empty(); }));
    SetWindowPos(main, nullptr, 500, 400, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    DWORD before = GetTickCount();
    EXPECT_EQ(closeAndWait(5000), 0);
    EXPECT_LT(GetTickCount() - before, 3000u);
    EXPECT_EQ(ini(), lines(content));
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
    process = {};
  }
}

class FatalReport : public Readsweeper {
 protected:
  // Waits for the report, checks its first line, dismisses it and returns
  // the program's exit code.
  int dismissReport(const std::string& expectedStart) {
    HWND box = nullptr;
    EXPECT_TRUE(waitUntil([&] { return (box = topLevel("#32770")) != nullptr; })) << "no report";
    if (!box) return -1;
    EXPECT_EQ(textOf(box), "Error");
    std::string message;
    HWND okButton = nullptr;
    for (HWND child : childrenOf(box)) {
      std::string cls = classOf(child);
      if (cls == "Static" && !textOf(child).empty()) message = textOf(child);
      if (cls == "Button") okButton = child;
    }
    EXPECT_EQ(message.substr(0, expectedStart.size()), expectedStart) << message;
    EXPECT_EQ(message.size(), expectedStart.size() + 8) << message;
    PostMessageA(okButton, BM_CLICK, 0, 0);
    if (WaitForSingleObject(process.hProcess, kPatienceMs) != WAIT_OBJECT_0) return -1;
    DWORD code = 0;
    GetExitCodeProcess(process.hProcess, &code);
    return static_cast<int>(code);
  }
};

TEST_F(FatalReport, SettingsFileThatIsAFolder) {
  ASSERT_TRUE(CreateDirectoryA(iniPath().c_str(), nullptr));
  launch();
  EXPECT_EQ(dismissReport("Runtime error 5 at 0x"), 5);
  EXPECT_EQ(topLevel("Readsweeper"), nullptr);
}

TEST_F(FatalReport, SettingsFileLockedAtStartUp) {
  const std::string content = lines({"show setup", "check files: C:\\"});
  writeFileBytes(iniPath(), content);
  HANDLE lock = CreateFileA(iniPath().c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(lock, INVALID_HANDLE_VALUE);
  launch();
  EXPECT_EQ(dismissReport("Runtime error 32 at 0x"), 32);
  CloseHandle(lock);
  EXPECT_EQ(ini(), content);
}

TEST_F(FatalReport, SettingsFileLockedAtScanStart) {
  const std::string content = lines({"check files: " + data});
  writeFileBytes(iniPath(), content);
  start();
  HANDLE lock = CreateFileA(iniPath().c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(lock, INVALID_HANDLE_VALUE);
  press();
  EXPECT_EQ(dismissReport("Runtime error 32 at 0x"), 32);
  CloseHandle(lock);
  EXPECT_EQ(ini(), content);
  EXPECT_FALSE(exists(dir + "Readsweeper.tmp"));
}

}  // namespace
