// The real readsweeper-cli.exe under Wine: a file held open without
// sharing, names outside the legacy code page on the command line, and the
// exit codes with their messages.
#include <windows.h>

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "cli/program_win32_support.h"
#include "platform/win32/wide.h"

namespace {

using namespace cli_test;

nlohmann::json resultOf(const Finished& f) {
  nlohmann::json j = nlohmann::json::parse(f.out, nullptr, false);
  EXPECT_TRUE(j.is_object()) << "not JSON: " << f.out;
  std::smatch m;
  std::regex summary("checked (\\d+) B, files checked (\\d+), opening errors (\\d+), reading errors (\\d+), ");
  EXPECT_TRUE(std::regex_search(f.err, m, summary)) << f.err;
  if (!j.is_object() || m.empty()) return nlohmann::json::object();
  EXPECT_EQ(j["checked_bytes"], std::stoll(m[1]));
  EXPECT_EQ(j["files_checked"], std::stoll(m[2]));
  EXPECT_EQ(j["opening_errors"], std::stoll(m[3]));
  EXPECT_EQ(j["reading_errors"], std::stoll(m[4]));
  return j;
}

}  // namespace

// The file held open without sharing fails to open; the error rule stops
// the scan there: one opening error and the three reading errors of the
// block the check still tries. The root is typed with forward slashes and
// no final separator, in a script that no legacy code page holds.
TEST(ProgramWin32, AFileHeldOpenWithoutSharingEndsWithErrors) {
  TempTree tree;
  const std::wstring top = L"\u65e5\u672c\u8a9e \u0141\u00f3d\u017a";
  tree.folder(top);
  tree.folder(top + L"\\sub");
  tree.file(top + L"\\healthy.bin", 5000);
  tree.file(top + L"\\sub\\also healthy.bin", 3000);
  tree.file(top + L"\\locked.bin", 4000);
  HANDLE locked = CreateFileW((tree.root + top + L"\\locked.bin").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                              0, nullptr);
  ASSERT_NE(locked, INVALID_HANDLE_VALUE);
  std::string typed = utf8(tree.root + top);
  for (char& c : typed) {
    if (c == '\\') c = '/';
  }

  const std::string list = utf8(tree.root) + "errors.csv";
  Finished f = run({"--errors", "1", "--time", "120", "--json", "--error-list", list, typed});
  CloseHandle(locked);
  EXPECT_EQ(f.exitCode, 1u) << f.err;
  nlohmann::json j = resultOf(f);
  EXPECT_EQ(j["stopped_by"], "errors");
  EXPECT_EQ(j["opening_errors"], 1);
  EXPECT_EQ(j["reading_errors"], 3);
  const std::string root = utf8(tree.root + top + L"\\");
  EXPECT_EQ(j["root"], root);
  EXPECT_NE(f.err.find("; stopped by the error limit\n"), std::string::npos) << f.err;

  // The list: the scan's start, the one file that failed with the sharing
  // violation's code and the system's text, and the end with the result's
  // counts; the reading errors of the unopened file get no lines.
  std::string csv;
  {
    HANDLE file = CreateFileW((tree.root + L"errors.csv").c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    char buffer[8192];
    DWORD got = 0;
    while (ReadFile(file, buffer, sizeof buffer, &got, nullptr) && got > 0) csv.append(buffer, got);
    CloseHandle(file);
  }
  std::vector<std::string> rows;
  for (std::size_t at = 0; at < csv.size();) {
    std::size_t end = csv.find("\r\n", at);
    ASSERT_NE(end, std::string::npos) << "a line without CR LF: " << csv.substr(at);
    rows.push_back(csv.substr(at, end - at));
    at = end + 2;
  }
  ASSERT_EQ(rows.size(), 4u) << csv;
  EXPECT_EQ(rows[0], "\xEF\xBB\xBFtime,event,path,offset,requested,obtained,code,message");
  EXPECT_NE(rows[1].find(",scan start," + root + ",,,,,"), std::string::npos) << rows[1];
  EXPECT_NE(rows[2].find(",open failed," + root + "locked.bin,,,,32,"), std::string::npos) << rows[2];
  EXPECT_NE(rows[3].find(",scan end," + root + ",,,,,\"checked " + std::to_string(j["checked_bytes"].get<int64_t>()) +
                         " B, files checked " + std::to_string(j["files_checked"].get<int64_t>()) +
                         ", opening errors 1, reading errors 3, "),
            std::string::npos)
      << rows[3];
}

TEST(ProgramWin32, AHealthyTreeEndsCleanly) {
  TempTree tree;
  tree.file(L"a.bin", 5000);
  tree.file(L"b.bin", 7000);
  Finished f = run({"--checked", "20k", "--block", "1k", "--time", "120", "--json", utf8(tree.root)});
  EXPECT_EQ(f.exitCode, 0u) << f.err;
  nlohmann::json j = resultOf(f);
  EXPECT_EQ(j["stopped_by"], "checked");
  EXPECT_GE(j["checked_bytes"], 20480);
  EXPECT_EQ(j["opening_errors"], 0);
  EXPECT_EQ(j["reading_errors"], 0);
}

// "D:\My photos\" as typed at a prompt: the C runtime takes the final \"
// for a quote in the argument, which arrives as D:\My photos". The quote is
// taken for the backslash it was.
TEST(ProgramWin32, AFolderTypedWithItsFinalBackslashInQuotes) {
  TempTree tree;
  tree.folder(L"My photos");
  tree.file(L"My photos\\a.bin", 5000);
  const std::wstring typed = L"\"" + tree.root + L"My photos\\\"";
  Finished f = run({"--checked", "2k", "--block", "1k", "--time", "120", "--json"}, typed);
  EXPECT_EQ(f.exitCode, 0u) << f.err;
  nlohmann::json j = resultOf(f);
  EXPECT_EQ(j["root"], utf8(tree.root) + "My photos\\");
  EXPECT_EQ(j["stopped_by"], "checked");
  EXPECT_EQ(j["opening_errors"], 0);
}

TEST(ProgramWin32, ExitCodesOfARunThatCannotScan) {
  TempTree tree;
  const std::string missing = utf8(tree.root) + "missing";
  const struct {
    std::vector<std::string> args;
    DWORD exitCode;
    std::string message;
  } cases[] = {
      {{"--json", missing}, 3, "readsweeper-cli: cannot list \"" + missing + "\\\": "},
      {{"--next-file", "0", missing}, 2, "readsweeper-cli: --next-file: \"0\" is out of range (1 to 100)\n"},
  };
  for (const auto& c : cases) {
    Finished f = run(c.args);
    EXPECT_EQ(f.exitCode, c.exitCode) << c.args.front();
    EXPECT_EQ(f.err.rfind(c.message, 0), 0u) << f.err;
    EXPECT_EQ(f.out, "");
  }
}
