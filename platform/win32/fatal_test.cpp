// The Win32 fatal report, seen from outside: the test program starts itself
// again in a mode that fails at once, finds the report box, checks its title
// and text, closes it and checks the exit code.
#include "platform/fatal.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <stdlib.h>

#include <filesystem>
#include <string>

#include "common/test_support.h"
#include "settings/settings_file.h"

namespace {

const char* kChildVariable = "READSWEEPER_FATAL_CHILD";

struct Report {
  DWORD process = 0;
  HWND box = nullptr;
  std::string text;
  HWND button = nullptr;
};

BOOL CALLBACK findBox(HWND window, LPARAM param) {
  Report* r = reinterpret_cast<Report*>(param);
  DWORD owner = 0;
  GetWindowThreadProcessId(window, &owner);
  char title[64] = {};
  GetWindowTextA(window, title, sizeof title);
  if (owner == r->process && std::string(title) == "Error") {
    r->box = window;
    return FALSE;
  }
  return TRUE;
}

BOOL CALLBACK readBox(HWND child, LPARAM param) {
  Report* r = reinterpret_cast<Report*>(param);
  char className[32] = {};
  GetClassNameA(child, className, sizeof className);
  char text[256] = {};
  GetWindowTextA(child, text, sizeof text);
  if (std::string(className) == "Static" && text[0] != '\0') r->text = text;
  // The box holds a hidden button for every other answer; OK is the visible one.
  if (std::string(className) == "Button" && IsWindowVisible(child)) r->button = child;
  return TRUE;
}

// Starts this test program again, running only `test` in `folder` with the
// child variable set, and returns the first line of its report box (empty
// when none came) after closing the box; `exitCode` is the child's.
std::string reportOfChild(const char* test, const std::string& folder, DWORD* exitCode) {
  *exitCode = 0;
  char self[MAX_PATH] = {};
  if (GetModuleFileNameA(nullptr, self, MAX_PATH) == 0) return "no module name";
  std::string command = std::string("\"") + self + "\" --gtest_filter=" + test;
  SetEnvironmentVariableA(kChildVariable, "1");
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION child = {};
  BOOL started = CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, folder.c_str(),
                                &startup, &child);
  SetEnvironmentVariableA(kChildVariable, nullptr);
  if (!started) return "CreateProcess failed with " + std::to_string(GetLastError());

  // The box may be found before its text and button exist: wait for both.
  Report report;
  report.process = child.dwProcessId;
  for (int i = 0; i < 200; ++i) {
    if (report.box == nullptr) EnumWindows(findBox, reinterpret_cast<LPARAM>(&report));
    if (report.box != nullptr) {
      report.text.clear();
      report.button = nullptr;
      EnumChildWindows(report.box, readBox, reinterpret_cast<LPARAM>(&report));
      if (!report.text.empty() && report.button != nullptr) break;
    }
    Sleep(50);
  }
  if (report.button != nullptr) PostMessageA(report.button, BM_CLICK, 0, 0);
  if (WaitForSingleObject(child.hProcess, 10000) != WAIT_OBJECT_0) {
    TerminateProcess(child.hProcess, 1);
    WaitForSingleObject(child.hProcess, 10000);
  }
  GetExitCodeProcess(child.hProcess, exitCode);
  CloseHandle(child.hThread);
  CloseHandle(child.hProcess);
  return report.text.substr(0, report.text.find('\n'));
}

}  // namespace

TEST(FatalReport, MessageBoxAndExitCode) {
  if (getenv(kChildVariable) != nullptr) fatalError(1234, 0x00ABCDEF);
  DWORD code = 0;
  EXPECT_EQ(reportOfChild("FatalReport.MessageBoxAndExitCode", ".", &code), "Runtime error 1234 at 0x00ABCDEF");
  EXPECT_EQ(code, 1234u);
}

// A folder named like the settings file: found, but it cannot be opened.
TEST(FatalReport, AFolderInPlaceOfTheSettingsFile) {
  if (getenv(kChildVariable) != nullptr) {
    Settings s;
    loadSettings(s);
    return;  // not reached when the report comes
  }
  ScopedTempDir dir;
  ASSERT_TRUE(std::filesystem::create_directory("Readsweeper.ini"));
  DWORD code = 0;
  EXPECT_EQ(reportOfChild("FatalReport.AFolderInPlaceOfTheSettingsFile", dir.path().string(), &code),
            "Runtime error 5 at 0x00000101");
  EXPECT_EQ(code, 5u);  // ERROR_ACCESS_DENIED
}

// A file far larger than any settings file is refused with its own code,
// before reading it could exhaust the memory.
TEST(FatalReport, AHugeSettingsFile) {
  if (getenv(kChildVariable) != nullptr) {
    Settings s;
    loadSettings(s);
    return;  // not reached when the report comes
  }
  ScopedTempDir dir;
  writeTestFile("Readsweeper.ini", std::string(16 * 1024 * 1024 + 1, 'x'));
  DWORD code = 0;
  EXPECT_EQ(reportOfChild("FatalReport.AHugeSettingsFile", dir.path().string(), &code),
            "Runtime error 223 at 0x00000102");
  EXPECT_EQ(code, 223u);  // ERROR_FILE_TOO_LARGE
}
