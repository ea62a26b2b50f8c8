// The real readsweeper-cli.exe run by the Windows tests under Wine: its
// path as Wine sees it, command lines quoted as the C runtime reads them
// back, a run to its end with both output streams on pipes, and a fresh
// folder of files for it to scan.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "platform/win32/wide.h"

namespace cli_test {

struct Finished {
  DWORD exitCode = 0;
  std::string out;
  std::string err;
};

inline std::wstring programPath() {
  std::string path = READSWEEPER_CLI;
  // CMake names the program by its host path; Wine sees the host's root as Z:.
  if (!path.empty() && path[0] == '/') path = "Z:" + path;
  for (char& c : path) {
    if (c == '/') c = '\\';
  }
  return wideFromUtf8(path);
}

// An argument as the C runtime's command-line parser reads it back.
inline std::wstring quotedArgument(const std::wstring& argument) {
  std::wstring quoted = L"\"";
  std::size_t backslashes = 0;
  for (wchar_t c : argument) {
    if (c == L'\\') {
      ++backslashes;
      continue;
    }
    quoted.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
    backslashes = 0;
    quoted.push_back(c);
  }
  quoted.append(backslashes * 2, L'\\');
  return quoted + L"\"";
}

inline void readAll(HANDLE pipe, std::string* into) {
  char buffer[4096];
  DWORD got = 0;
  while (ReadFile(pipe, buffer, sizeof buffer, &got, nullptr) && got > 0) into->append(buffer, got);
  CloseHandle(pipe);
}

// Runs the program to its end with both output streams on pipes; `rawTail`
// goes at the end of the command line as it is, unquoted by this helper.
inline Finished run(const std::vector<std::string>& args, const std::wstring& rawTail = L"") {
  Finished f;
  SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
  HANDLE outRead, outWrite, errRead, errWrite;
  EXPECT_TRUE(CreatePipe(&outRead, &outWrite, &inherit, 0));
  EXPECT_TRUE(CreatePipe(&errRead, &errWrite, &inherit, 0));
  SetHandleInformation(outRead, HANDLE_FLAG_INHERIT, 0);
  SetHandleInformation(errRead, HANDLE_FLAG_INHERIT, 0);
  std::wstring command = quotedArgument(programPath());
  for (const std::string& a : args) command += L" " + quotedArgument(wideFromUtf8(a));
  if (!rawTail.empty()) command += L" " + rawTail;
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  startup.hStdOutput = outWrite;
  startup.hStdError = errWrite;
  PROCESS_INFORMATION process = {};
  BOOL started = CreateProcessW(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                                &process);
  CloseHandle(outWrite);
  CloseHandle(errWrite);
  std::thread outReader(readAll, outRead, &f.out);
  std::thread errReader(readAll, errRead, &f.err);
  EXPECT_TRUE(started) << GetLastError();
  if (started) {
    EXPECT_EQ(WaitForSingleObject(process.hProcess, 120000), WAIT_OBJECT_0);
    GetExitCodeProcess(process.hProcess, &f.exitCode);
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
  }
  outReader.join();
  errReader.join();
  return f;
}

// A fresh folder under the temporary folder, removed with what it holds.
struct TempTree {
  std::wstring root;
  TempTree() {
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    root = std::wstring(temp) + L"rs-cli-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
           std::to_wstring(GetTickCount()) + L"\\";
    EXPECT_TRUE(CreateDirectoryW(root.c_str(), nullptr));
  }
  ~TempTree() { remove(root); }
  void folder(const std::wstring& name) { EXPECT_TRUE(CreateDirectoryW((root + name).c_str(), nullptr)); }
  void file(const std::wstring& name, std::size_t size) {
    HANDLE h = CreateFileW((root + name).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    std::string bytes(size, 'x');
    DWORD written = 0;
    EXPECT_TRUE(WriteFile(h, bytes.data(), static_cast<DWORD>(size), &written, nullptr));
    CloseHandle(h);
  }
  std::string read(const std::wstring& name) {
    std::string text;
    HANDLE h = CreateFileW((root + name).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) return text;
    readAll(h, &text);
    return text;
  }
  static void remove(const std::wstring& folder) {
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((folder + L"*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
      do {
        std::wstring name = found.cFileName;
        if (name == L"." || name == L"..") continue;
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
          remove(folder + name + L"\\");
        } else {
          DeleteFileW((folder + name).c_str());
        }
      } while (FindNextFileW(search, &found));
      FindClose(search);
    }
    RemoveDirectoryW(folder.c_str());
  }
};

inline std::string utf8(const std::wstring& wide) {
  std::string text;
  appendUtf8(&text, wide.data(), wide.size());
  return text;
}

}  // namespace cli_test
