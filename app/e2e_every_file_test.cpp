// Readsweeper.exe with "check every file": a tree whose every file is held
// open by a helper process gives exactly one opening error per file in one
// cycle, and a healthy tree with hidden and system folders is covered whole
// in each cycle. The program is also its own helper process.
#include <cstdio>
#include <cstdlib>
#include <regex>

#include "e2e_support.h"

namespace {

using namespace e2e;

// Opens every file under `folder` (ending in a backslash) without sharing.
void holdAll(const std::string& folder, std::vector<HANDLE>* held) {
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA((folder + "*.*").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return;
  do {
    std::string name = found.cFileName;
    if (name == "." || name == "..") continue;
    if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      holdAll(folder + name + "\\", held);
      continue;
    }
    HANDLE file = CreateFileA((folder + name).c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE) held->push_back(file);
  } while (FindNextFileA(search, &found));
  FindClose(search);
}

// The helper process: holds the files, tells the test through the event
// `ready`, and lets them go when the test sets `release`. Its exit code is
// the number of files it held.
int hold(const std::string& folder, const std::string& ready, const std::string& release) {
  HANDLE readyEvent = OpenEventA(EVENT_MODIFY_STATE, FALSE, ready.c_str());
  HANDLE releaseEvent = OpenEventA(SYNCHRONIZE, FALSE, release.c_str());
  if (readyEvent == nullptr || releaseEvent == nullptr) return -1;
  std::vector<HANDLE> held;
  holdAll(folder + "\\", &held);
  SetEvent(readyEvent);
  DWORD waited = WaitForSingleObject(releaseEvent, 120000);
  for (HANDLE file : held) CloseHandle(file);
  return waited == WAIT_OBJECT_0 ? static_cast<int>(held.size()) : -2;
}

class HoldingHelper {
 public:
  explicit HoldingHelper(const std::string& folder) {
    std::string tag = std::to_string(GetCurrentProcessId());
    std::string ready = "Local\\readsweeper-held-" + tag, release = "Local\\readsweeper-release-" + tag;
    ready_ = CreateEventA(nullptr, TRUE, FALSE, ready.c_str());
    release_ = CreateEventA(nullptr, TRUE, FALSE, release.c_str());
    char self[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, self, sizeof self);
    // No backslash before a closing quote: the command line parser would
    // take the pair for a quote inside the argument.
    std::string command = std::string("\"") + self + "\" --hold \"" + folder.substr(0, folder.size() - 1) + "\" " +
                          ready + " " + release;
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    started_ = ready_ && release_ &&
               CreateProcessA(self, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process_);
  }
  ~HoldingHelper() {
    if (started_) {
      SetEvent(release_);
      if (WaitForSingleObject(process_.hProcess, 10000) != WAIT_OBJECT_0) TerminateProcess(process_.hProcess, 99);
      CloseHandle(process_.hProcess);
      CloseHandle(process_.hThread);
    }
    if (ready_) CloseHandle(ready_);
    if (release_) CloseHandle(release_);
  }
  // Whether every file is held now.
  bool holding() { return started_ && WaitForSingleObject(ready_, kPatienceMs) == WAIT_OBJECT_0; }
  // Lets the files go; the number the helper held, -1 when it did not end.
  int release() {
    SetEvent(release_);
    if (WaitForSingleObject(process_.hProcess, kPatienceMs) != WAIT_OBJECT_0) return -1;
    DWORD code = 0;
    GetExitCodeProcess(process_.hProcess, &code);
    return static_cast<int>(code);
  }

 private:
  HANDLE ready_ = nullptr;
  HANDLE release_ = nullptr;
  bool started_ = false;
  PROCESS_INFORMATION process_ = {};
};

class EveryFile : public Readsweeper {
 protected:
  // `count` files of 100 bytes in a tree under `folder`: some at its top,
  // the rest in a plain folder, a folder below it, and a hidden system
  // folder, which the walk would never enter.
  void makeTree(const std::string& folder, int count) {
    const std::vector<std::string> folders = {folder, folder + "plain\\", folder + "plain\\deep\\",
                                              folder + "hidden\\"};
    for (const std::string& f : folders) ASSERT_TRUE(CreateDirectoryA(f.c_str(), nullptr)) << f;
    for (int i = 0; i < count; ++i) {
      writeFileBytes(folders[i % folders.size()] + "f" + std::to_string(i) + ".bin", std::string(100, 'e'));
    }
    ASSERT_TRUE(SetFileAttributesA((folder + "hidden").c_str(), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM));
    ASSERT_EQ(GetFileAttributesA((folder + "hidden").c_str()) & 0x16u, 0x16u);
  }

  // Runs a scan of `folder` that must end by itself; closes the program and
  // returns the last texts of the file line and the counters line.
  std::pair<std::string, std::string> scanUntilItStops(const std::string& folder,
                                                       const std::vector<std::string>& settingLines) {
    std::vector<std::string> ini = {"instant start", "check files: " + folder, "check every file",
                                    "show checked bytes", "show open errors", "show read errors",
                                    "show full file size", "select next file: 100"};
    ini.insert(ini.end(), settingLines.begin(), settingLines.end());
    writeIni(ini);
    start();
    EXPECT_TRUE(waitUntil([&] { return idle() && !textOf(countersLine).empty(); }, 60000))
        << "the scan did not end; it shows " << textOf(countersLine);
    std::pair<std::string, std::string> texts = {textOf(fileLine), textOf(countersLine)};
    EXPECT_EQ(closeAndWait(), 0);
    return texts;
  }
};

TEST_F(EveryFile, EachHeldFileIsOneOpeningErrorInOneCycle) {
  std::string folder = dir + "held\\";
  ASSERT_NO_FATAL_FAILURE(makeTree(folder, 300));
  HoldingHelper helper(folder);
  ASSERT_TRUE(helper.holding());
  HANDLE probe = CreateFileA((folder + "hidden\\f3.bin").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                             OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_EQ(probe, INVALID_HANDLE_VALUE);
  ASSERT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  // Each file: its opening error, then its one block read on no file, three
  // reading errors.
  EXPECT_EQ(scanUntilItStops(folder, {"stop after cycles: 1"}).second,
            "checked 0B, covered 300/300, opening errors: 300, reading errors: 900");
  EXPECT_EQ(helper.release(), 300);
}

// Four readers take the files of one order: still one opening error per
// file in the cycle, and every file covered once.
TEST_F(EveryFile, FourReadersMeetEachHeldFileOnce) {
  std::string folder = dir + "held\\";
  ASSERT_NO_FATAL_FAILURE(makeTree(folder, 300));
  HoldingHelper helper(folder);
  ASSERT_TRUE(helper.holding());
  EXPECT_EQ(scanUntilItStops(folder, {"stop after cycles: 1", "parallel reads: 4"}).second,
            "checked 0B, covered 300/300, opening errors: 300, reading errors: 900");
  EXPECT_EQ(helper.release(), 300);
}

TEST_F(EveryFile, EachFileOnceInEachCycle) {
  std::string folder = dir + "tree\\";
  ASSERT_NO_FATAL_FAILURE(makeTree(folder, 40));
  auto texts = scanUntilItStops(folder, {"stop after cycles: 2"});
  // Two cycles of one byte from each file; the file line was last written
  // by the second cycle's listing, as no file name is shown.
  EXPECT_EQ(texts.second, "checked 80B, cycle 2: covered 40/40, opening errors: 0, reading errors: 0");
  EXPECT_EQ(texts.first, "listing: 40 files");
}

// The files covered so far as the counters line shows them; -1 before it does.
int coveredOf(const std::string& counters) {
  std::size_t at = counters.find("covered ");
  return at == std::string::npos ? -1 : std::atoi(counters.c_str() + at + 8);
}

// A window closed during a scan leaves the cycle in its state file, and the
// next start takes it up: only the files not yet checked are read.
TEST_F(EveryFile, AWindowClosedDuringAScanTakesTheCycleUpAtTheNextStart) {
  std::string folder = dir + "slow\\";
  ASSERT_NO_FATAL_FAILURE(makeTree(folder, 200));
  // Each file's block read 5000 times: a cycle of seconds, long enough to
  // close the window in it.
  std::vector<std::string> ini = {"instant start", "check files: " + folder, "check every file",
                                  "show checked bytes", "show full file size", "select next file: 100",
                                  "bytes to read at once: 100", "repeat read: 5000", "window refresh: 100",
                                  "cycle state: cycle.txt"};
  writeIni(ini);
  start();
  ASSERT_TRUE(waitUntil([&] { return coveredOf(textOf(countersLine)) >= 20; }, 60000)) << textOf(countersLine);
  EXPECT_EQ(closeAndWait(), 0);

  std::string state = readFileBytes(dir + "cycle.txt");
  std::smatch m;
  ASSERT_TRUE(std::regex_search(state, m, std::regex("\r\ncycle: 1\r\n[\\s\\S]*\r\ncovered: (\\d+)\r\n"))) << state;
  int covered = std::stoi(m[1]);
  ASSERT_GE(covered, 20);
  ASSERT_LT(covered, 200) << "the cycle ended before the window closed";
  EXPECT_EQ(state.find("reached: none"), std::string::npos) << state;

  ini.push_back("stop after cycles: 1");
  writeIni(ini);
  start();
  EXPECT_TRUE(waitUntil([&] { return idle() && coveredOf(textOf(countersLine)) == 200; }, 60000))
      << textOf(countersLine);
  EXPECT_EQ(textOf(countersLine), "checked " + std::to_string((200 - covered) * 100 * 5000) + "B, covered 200/200");
  EXPECT_EQ(closeAndWait(), 0);
  state = readFileBytes(dir + "cycle.txt");
  EXPECT_NE(state.find("\r\nreached: ffffffffffffffff\r\ncovered: 200\r\n"), std::string::npos) << state;
}

// A state file that cannot be written refuses the start, as an error list
// that cannot be opened does.
TEST_F(EveryFile, ACycleStateThatCannotBeWrittenRefusesTheStart) {
  writeIni({"instant start", "check files: " + data, "check every file", "cycle state: missing\\cycle.txt"});
  start();
  std::string expected = "cannot write the cycle state missing\\cycle.txt: ";
  EXPECT_TRUE(waitUntil([&] { return textOf(fileLine).rfind(expected, 0) == 0; })) << textOf(fileLine);
  EXPECT_NE(textOf(fileLine).find("(code 3)"), std::string::npos) << textOf(fileLine);
  EXPECT_TRUE(idle());
  EXPECT_EQ(closeAndWait(), 0);
  EXPECT_FALSE(exists(dir + "missing"));
}

// The window program with both new keys: one cycle reads every byte of
// every file once, and the counters line carries the file's share and the
// slow reads (the line, too long for the window's width at full sizes,
// comes in its compact form).
TEST_F(EveryFile, OneCycleOfWholeFilesWithASlowReadLimit) {
  std::string folder = dir + "whole\\";
  ASSERT_NO_FATAL_FAILURE(makeTree(folder, 40));
  auto texts = scanUntilItStops(folder, {"stop after cycles: 1", "read whole files", "slow read limit: 60000"});
  EXPECT_EQ(texts.second,
            "checked 4kB, covered 40/40, 100 % of 100B, opening errors: 0, reading errors: 0, slow reads: 0");
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 1 && std::string(argv[1]) == "--hold") return argc == 5 ? hold(argv[2], argv[3], argv[4]) : -3;
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
