#include "cli/console_win32.h"

#include <windows.h>

#include <shellapi.h>

#include <cwchar>

#include "cli/console.h"
#include "cli/interrupt.h"
#include "platform/win32/wide.h"

namespace {

int lastError() {
  DWORD error = GetLastError();
  return error != 0 ? static_cast<int>(error) : static_cast<int>(ERROR_GEN_FAILURE);
}

bool isConsole(HANDLE handle) {
  DWORD mode = 0;
  return GetConsoleMode(handle, &mode) != 0;
}

// A console takes characters, so that names in every script show whatever
// its code page; a pipe or a file takes the UTF-8 bytes.
int writeAll(DWORD which, std::string_view utf8) {
  HANDLE handle = GetStdHandle(which);
  if (handle == INVALID_HANDLE_VALUE) return lastError();
  if (handle == nullptr) return 0;  // no such stream: a program started without one
  if (isConsole(handle)) {
    std::wstring wide = wideFromUtf8(utf8);
    std::size_t done = 0;
    while (done < wide.size()) {
      DWORD written = 0;
      DWORD ask = static_cast<DWORD>(wide.size() - done < 16384 ? wide.size() - done : 16384);
      if (!WriteConsoleW(handle, wide.data() + done, ask, &written, nullptr)) return lastError();
      done += written;
    }
    return 0;
  }
  while (!utf8.empty()) {
    DWORD written = 0;
    DWORD ask = static_cast<DWORD>(utf8.size() < (1u << 30) ? utf8.size() : (1u << 30));
    if (!WriteFile(handle, utf8.data(), ask, &written, nullptr)) return lastError();
    utf8.remove_prefix(written);
  }
  return 0;
}

}  // namespace

// Runs on a thread that the system starts for the event.
BOOL WINAPI onConsoleControl(DWORD event) {
  if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) return FALSE;
  if (noteInterrupt()) TerminateProcess(GetCurrentProcess(), kInterruptExitCode);
  return TRUE;
}

void prepareProcess() { SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX); }

// The wide command line, whatever the code page: argv would hold the names
// that the legacy code page cannot write as "?".
std::vector<std::string> commandLineArguments(int, char**) {
  std::vector<std::string> arguments;
  int count = 0;
  LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &count);
  if (wide == nullptr) return arguments;
  for (int i = 1; i < count; ++i) {
    std::string argument;
    appendUtf8(&argument, wide[i], wcslen(wide[i]));
    arguments.push_back(argument);
  }
  LocalFree(wide);
  return arguments;
}

int writeStandardOutput(std::string_view utf8) { return writeAll(STD_OUTPUT_HANDLE, utf8); }

int writeStandardError(std::string_view utf8) { return writeAll(STD_ERROR_HANDLE, utf8); }

bool standardErrorIsTerminal() { return isConsole(GetStdHandle(STD_ERROR_HANDLE)); }

int terminalColumns() {
  CONSOLE_SCREEN_BUFFER_INFO info;
  if (!GetConsoleScreenBufferInfo(GetStdHandle(STD_ERROR_HANDLE), &info)) return 0;
  return info.srWindow.Right - info.srWindow.Left + 1;
}

int installInterruptHandlers() {
  if (!SetConsoleCtrlHandler(onConsoleControl, TRUE)) return lastError();
  return 0;
}

bool listingFoundNothing(int error) { return error == ERROR_FILE_NOT_FOUND; }

// "D:\My photos\" typed with its final backslash arrives as D:\My photos":
// the C runtime takes \" for a quote inside the argument. No Windows name
// holds a quote, so a final one can only be that backslash.
std::string systemFolderForm(std::string_view folder) {
  std::string form(folder);
  for (char& c : form) {
    if (c == '/') c = '\\';
  }
  if (!form.empty() && form.back() == '"') form.back() = '\\';
  return form;
}
