// What the end-to-end tests share: starting the real Readsweeper.exe in a
// fresh working folder, finding its window and controls, typing, pressing,
// reading texts back, closing it, and dismissing its fatal report.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

namespace e2e {

constexpr DWORD kPatienceMs = 8000;

inline std::string programPath() {
  std::string path = READSWEEPER_EXE;
  // CMake names the program by its host path; Wine sees the host's root as Z:.
  if (!path.empty() && path[0] == '/') path = "Z:" + path;
  for (char& c : path) {
    if (c == '/') c = '\\';
  }
  return path;
}

inline bool waitUntil(const std::function<bool()>& condition, DWORD timeoutMs = kPatienceMs) {
  DWORD start = GetTickCount();
  for (;;) {
    if (condition()) return true;
    if (GetTickCount() - start > timeoutMs) return false;
    Sleep(10);
  }
}

inline std::string lines(const std::vector<std::string>& content) {
  std::string text;
  for (const std::string& line : content) text += line + "\r\n";
  return text;
}

inline void writeFileBytes(const std::string& path, const std::string& bytes) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                            nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE) << path;
  DWORD written = 0;
  ASSERT_TRUE(WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr));
  CloseHandle(file);
}

// A folder made on the Linux side and named by the environment `variable`,
// as this program sees it (Wine shows the host's root as Z:); empty when
// the test runs without it.
inline std::string hostFolder(const char* variable) {
  const char* host = std::getenv(variable);
  if (host == nullptr || host[0] != '/') return "";
  std::string path = std::string("Z:") + host;
  for (char& c : path) {
    if (c == '/') c = '\\';
  }
  if (path.back() != '\\') path += '\\';
  return path;
}

inline bool exists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

inline std::string readFileBytes(const std::string& path) {
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

inline void removeTree(const std::string& folder) {
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

inline BOOL CALLBACK findTopLevel(HWND window, LPARAM param) {
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

inline BOOL CALLBACK collectChild(HWND window, LPARAM param) {
  reinterpret_cast<std::vector<HWND>*>(param)->push_back(window);
  return TRUE;
}

inline std::vector<HWND> childrenOf(HWND window) {
  std::vector<HWND> children;
  EnumChildWindows(window, collectChild, reinterpret_cast<LPARAM>(&children));
  return children;
}

// Texts of another process come by message: GetWindowText would give only
// what the window system keeps of a caption.
inline std::string textOf(HWND window) {
  char buffer[512] = {};
  DWORD_PTR result = 0;
  SendMessageTimeoutA(window, WM_GETTEXT, sizeof buffer, reinterpret_cast<LPARAM>(buffer),
                      SMTO_ABORTIFHUNG, 2000, &result);
  return buffer;
}

// The processor time a process has used so far, in milliseconds; -1 when
// it cannot be read.
inline double cpuMs(HANDLE process) {
  FILETIME created, exited, kernel, user;
  if (!GetProcessTimes(process, &created, &exited, &kernel, &user)) return -1;
  auto ticks = [](const FILETIME& t) {
    return static_cast<double>((static_cast<uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime);
  };
  return (ticks(kernel) + ticks(user)) / 10000.0;
}

inline std::string classOf(HWND window) {
  char name[64] = {};
  GetClassNameA(window, name, sizeof name);
  return name;
}

// A control's place in the client area of its parent.
inline RECT placeOf(HWND control, HWND parent) {
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

  // In `folder`, or in the test's own folder when none is given.
  void launch(const std::string& folder = "") {
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    std::string program = programPath();
    const std::string& workingFolder = folder.empty() ? dir : folder;
    ASSERT_TRUE(CreateProcessA(program.c_str(), nullptr, nullptr, nullptr, FALSE, 0, nullptr,
                               workingFolder.c_str(), &startup, &process))
        << program << " error " << GetLastError();
  }

  HWND topLevel(const char* className) {
    FindArgs args{process.dwProcessId, className, nullptr};
    EnumWindows(findTopLevel, reinterpret_cast<LPARAM>(&args));
    return args.found;
  }

  // Starts the program and waits for its window with all six controls.
  void start(const std::string& folder = "") {
    launch(folder);
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

  // The worker of a stopped scan shows "Start" and enables the edit box a
  // moment before its last act, setting the idle state; a click in that
  // moment is ignored like any click while a scan stops. So the click is
  // sent, not posted, and made again until the scan runs.
  void startScanByButton() {
    ASSERT_TRUE(waitUntil([&] {
      DWORD_PTR result = 0;
      return SendMessageTimeoutA(button, BM_CLICK, 0, 0, SMTO_NORMAL, kPatienceMs, &result) && scanning();
    })) << "no scan started";
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

}  // namespace e2e
