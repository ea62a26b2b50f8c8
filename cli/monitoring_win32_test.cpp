// The real readsweeper-cli.exe under Wine: --event-log's calls, the message
// table in the program's resources, the registration of the event source,
// and the --prometheus file through the Win32 layer.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "cli/program_win32_support.h"
#include "platform/win32/wide.h"

namespace {

using namespace cli_test;

constexpr wchar_t kSourceKey[] = L"SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\Readsweeper";

// The summary line the program told, without its prefix and line end.
std::string summaryOf(const std::string& err) {
  const std::string prefix = "readsweeper-cli: checked ";
  std::size_t at = err.find(prefix);
  if (at == std::string::npos) return std::string();
  at += prefix.size() - 8;
  return err.substr(at, err.find('\n', at) - at);
}

}  // namespace

TEST(EventLog, TheMessageTableIsInTheProgram) {
  HMODULE program = LoadLibraryExW(programPath().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
  ASSERT_NE(program, nullptr) << GetLastError();
  for (DWORD id : {1, 2, 3}) {
    wchar_t text[256] = {};
    wchar_t argument[] = L"checked 1 B, C:\\x";
    DWORD_PTR strings[] = {reinterpret_cast<DWORD_PTR>(argument)};
    DWORD length = FormatMessageW(FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_ARGUMENT_ARRAY, program, id,
                                  MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US), text, 256,
                                  reinterpret_cast<va_list*>(strings));
    EXPECT_EQ(std::wstring(text, length), L"checked 1 B, C:\\x") << id;
  }
  wchar_t text[256] = {};
  EXPECT_EQ(FormatMessageW(FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_IGNORE_INSERTS, program, 4, 0, text, 256,
                           nullptr),
            0u);
  FreeLibrary(program);
}

// A file held open without sharing cannot be opened: the event calls of an
// error event succeed. (Wine traces the event on the program's Unix standard
// error, out of this test's reach: event_log_wine_test.sh reads it.)
TEST(EventLog, AScanWithErrorsWritesItsEvent) {
  TempTree tree;
  tree.file(L"healthy.bin", 5000);
  tree.file(L"locked.bin", 4000);
  HANDLE locked = CreateFileW((tree.root + L"locked.bin").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(locked, INVALID_HANDLE_VALUE);
  const std::string list = utf8(tree.root) + "errors.csv";
  Finished f = run({"--every-file", "--cycles", "1", "--error-list", list, "--event-log", utf8(tree.root)});
  CloseHandle(locked);
  EXPECT_EQ(f.exitCode, 1u) << f.err;
  EXPECT_NE(summaryOf(f.err).find(", opening errors 1, "), std::string::npos) << f.err;
  EXPECT_EQ(f.err.find("cannot write the event"), std::string::npos) << f.err;
}

TEST(EventLog, RegisteringTheSourceNamesTheProgramAsItsMessageFile) {
  RegDeleteKeyW(HKEY_LOCAL_MACHINE, kSourceKey);
  Finished f = run({"--register-event-source"});
  EXPECT_EQ(f.exitCode, 0u) << f.err;
  EXPECT_NE(f.out.find("event source \"Readsweeper\" registered"), std::string::npos) << f.out;
  wchar_t messageFile[1024] = {};
  DWORD size = sizeof messageFile;
  EXPECT_EQ(RegGetValueW(HKEY_LOCAL_MACHINE, kSourceKey, L"EventMessageFile", RRF_RT_REG_EXPAND_SZ | RRF_NOEXPAND,
                         nullptr, messageFile, &size),
            ERROR_SUCCESS);
  EXPECT_EQ(CompareStringOrdinal(messageFile, -1, programPath().c_str(), -1, TRUE), CSTR_EQUAL)
      << utf8(messageFile);
  DWORD types = 0;
  size = sizeof types;
  EXPECT_EQ(RegGetValueW(HKEY_LOCAL_MACHINE, kSourceKey, L"TypesSupported", RRF_RT_REG_DWORD, nullptr, &types, &size),
            ERROR_SUCCESS);
  EXPECT_EQ(types, 7u);
  EXPECT_EQ(RegDeleteKeyW(HKEY_LOCAL_MACHINE, kSourceKey), ERROR_SUCCESS);
}

TEST(PrometheusFileWin32, WrittenWholeWithTheRootEscaped) {
  TempTree tree;
  tree.file(L"healthy.bin", 5000);
  const std::string file = utf8(tree.root) + "out.prom";
  Finished first = run({"--checked", "1k", "--prometheus", file, utf8(tree.root)});
  EXPECT_EQ(first.exitCode, 0u) << first.err;
  // Again over the file of the first run.
  Finished f = run({"--checked", "2k", "--prometheus", file, utf8(tree.root)});
  EXPECT_EQ(f.exitCode, 0u) << f.err;
  std::string root;
  for (char c : utf8(tree.root)) {
    if (c == '\\') root += '\\';
    root += c;
  }
  std::string text = tree.read(L"out.prom");
  EXPECT_NE(text.find("readsweeper_checked_bytes{root=\"" + root + "\"} 2048\n"), std::string::npos) << text;
  EXPECT_NE(text.find("readsweeper_last_scan_exit_code{root=\"" + root + "\"} 0\n"), std::string::npos) << text;
  EXPECT_EQ(text.find('\r'), std::string::npos);
  EXPECT_EQ(text.back(), '\n');
}
