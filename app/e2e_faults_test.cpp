// Readsweeper.exe against what goes wrong around it: trees with links that
// lead nowhere, a folder of 100,000 entries, a sparse file above 4 GiB, a
// tree deeper than 260 characters, files held open without sharing, files
// deleted, truncated and replaced under a running scan; scanned files that
// must come out untouched; and settings files that cannot be rewritten.
// The tree that Wine cannot make is made on the Linux side by
// e2e-fault-tree, which names it in READSWEEPER_FAULT_TREE.
#include <cstdio>
#include <cstdlib>

#include "e2e_support.h"

namespace {

using namespace e2e;

// The tree made on the Linux side, as this program sees it; empty when the
// test runs without it.
std::string faultTree() { return hostFolder("READSWEEPER_FAULT_TREE"); }

HANDLE holdWithoutSharing(const std::string& path) {
  return CreateFileA(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
}

class ScanFaults : public Readsweeper {
 protected:
  void SetUp() override {
    Readsweeper::SetUp();
    tree = faultTree();
    if (tree.empty()) GTEST_SKIP() << "needs the tree that e2e-fault-tree makes";
  }

  // Scans `folder` with the counters shown in exact bytes and the given
  // settings until a stop rule ends the scan; closes the program and
  // returns the last counters line.
  std::string scanUntilStopped(const std::string& folder, std::vector<std::string> settingLines,
                               DWORD timeoutMs = 60000) {
    settingLines.insert(settingLines.begin(),
                        {"instant start", "check files: " + folder, "show checked bytes",
                         "show open errors", "show read errors", "show full file size"});
    writeIni(settingLines);
    start();
    EXPECT_TRUE(waitUntil([&] { return idle() && !textOf(countersLine).empty(); }, timeoutMs))
        << "the scan did not end; it shows " << textOf(countersLine);
    std::string counters = textOf(countersLine);
    EXPECT_EQ(closeAndWait(), 0);
    return counters;
  }

  std::string tree;
};

TEST_F(ScanFaults, LinksThatLeadNowhereAreNotListed) {
  // Beside good.bin: a link to a missing target and two links to each other,
  // which the listing leaves out, and a link to its own folder, which the
  // walk never enters (its attribute word is not a plain folder's).
  EXPECT_EQ(scanUntilStopped(tree + "links\\", {"skip file: 30", "select subfolder: 100",
                                                "bytes to read at once: 100", "select next file: 100",
                                                "stop after checked: 1000"}),
            "checked 1000B, opening errors: 0, reading errors: 0");
}

TEST_F(ScanFaults, ALinkToItsOwnFolderCountsAsOneOpeningError) {
  // Every walk runs out on the last entry, the link; scanning all files hands
  // it to the read check, where it cannot be opened as a file.
  EXPECT_EQ(scanUntilStopped(tree + "links\\", {"scan all files", "skip file: 0", "stop after errors: 10"}),
            "checked 0B, opening errors: 10, reading errors: 0");
}

TEST_F(ScanFaults, FileHeldOpenWithoutSharing) {
  std::string folder = dir + "locked\\";
  ASSERT_TRUE(CreateDirectoryA(folder.c_str(), nullptr));
  writeFileBytes(folder + "locked.bin", std::string(1000, 'l'));
  HANDLE lock = holdWithoutSharing(folder + "locked.bin");
  ASSERT_NE(lock, INVALID_HANDLE_VALUE);
  // Each pass: one opening error, then the block read on no file: failed
  // positioning, failed read, short read. The limit of 20 is met by the
  // reads of the fifth pass.
  EXPECT_EQ(scanUntilStopped(folder, {"scan all files", "skip file: 0", "select next file: 100",
                                      "stop after errors: 20"}),
            "checked 0B, opening errors: 5, reading errors: 15");
  CloseHandle(lock);
}

TEST_F(ScanFaults, FolderOf100000Entries) {
  // Every walk goes through all 100,001 entries and runs out on the last,
  // the one file with content.
  EXPECT_EQ(scanUntilStopped(tree + "many\\", {"scan all files", "skip file: 0", "bytes to read at once: 100",
                                               "select next file: 100", "stop after checked: 500"},
                             120000),
            "checked 500B, opening errors: 0, reading errors: 0");
}

TEST_F(ScanFaults, SparseFileAbove4GiBIsReadInWholeBlocks) {
  // 4 GiB + 10 bytes: seen as a 10-byte file, it would be read in blocks of
  // 10 and stop at 40970 bytes; seen whole, eleven blocks of 4096 are read.
  // The empty files beside it are never checked.
  EXPECT_EQ(scanUntilStopped(tree + "big\\", {"skip file: 20", "bytes to read at once: 4096",
                                              "select next file: 100", "stop after checked: 40961"}),
            "checked 45056B, opening errors: 0, reading errors: 0");
}

TEST_F(ScanFaults, ReservedNamesAndTrailingDotsAreTheFilesTheyAre) {
  // AUX, CON, NUL, PRN, COM1, "x." and "x ", of 100 to 700 bytes: each is
  // read whole once, as the file it is; none opens a device, none is taken
  // for a vanished file, and the cycle ends the scan well within its time.
  EXPECT_EQ(scanUntilStopped(tree + "reserved\\", {"check every file", "select next file: 100",
                                                   "bytes to read at once: 1000", "stop after cycles: 1"},
                             10000),
            "checked 2800B, covered 7/7, opening errors: 0, reading errors: 0");
}

TEST_F(ScanFaults, TreeDeeperThan260Characters) {
  // The walk goes down the whole chain; every file it reaches opens and
  // reads, however deep (a folder too deep to list ends the walk there).
  EXPECT_EQ(scanUntilStopped(tree + "deep\\", {"skip file: 5", "select subfolder: 100", "bytes to read at once: 10",
                                               "select next file: 100", "stop after checked: 2000"}),
            "checked 2000B, opening errors: 0, reading errors: 0");
}

// --- files that change under a running scan ---------------------------------

constexpr int kChurnFiles = 6;
constexpr int kChurnSize = 20000;

std::string churnName(const std::string& folder, int i) { return folder + "c" + std::to_string(i) + ".bin"; }

// Writes a whole file, creating or emptying it; false when it cannot.
bool putFile(const std::string& path, const std::string& bytes) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                            nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  BOOL ok = WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
  CloseHandle(file);
  return ok && written == bytes.size();
}

// The helper process: deletes, recreates, truncates and replaces the files
// of `folder` in turn until `seconds` have passed. Operations that collide
// with the scan may fail; the next round tries again.
int churn(std::string folder, int seconds) {
  folder += '\\';
  const std::string content(kChurnSize, 'c');
  DWORD start = GetTickCount();
  for (int round = 0; GetTickCount() - start < static_cast<DWORD>(seconds) * 1000; ++round) {
    std::string name = churnName(folder, round % kChurnFiles);
    switch (round / kChurnFiles % 3) {
      case 0:
        DeleteFileA(name.c_str());
        Sleep(2);
        putFile(name, content);
        break;
      case 1: {
        HANDLE file = CreateFileA(name.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file != INVALID_HANDLE_VALUE) {
          LARGE_INTEGER end;
          end.QuadPart = 10;
          SetFilePointerEx(file, end, nullptr, FILE_BEGIN);
          SetEndOfFile(file);
          CloseHandle(file);
        }
        Sleep(2);
        putFile(name, content);
        break;
      }
      default: {
        std::string fresh = folder + "fresh.tmp";
        putFile(fresh, std::string(kChurnSize / 2, 'r'));
        MoveFileExA(fresh.c_str(), name.c_str(), MOVEFILE_REPLACE_EXISTING);
        Sleep(2);
        putFile(name, content);
        break;
      }
    }
  }
  return 0;
}

class ChurnHelper {
 public:
  ChurnHelper(const std::string& folder, int seconds) {
    char self[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, self, sizeof self);
    // No backslash before a closing quote: the command line parser would
    // take the pair for a quote inside the argument.
    std::string command = std::string("\"") + self + "\" --churn \"" + folder.substr(0, folder.size() - 1) +
                          "\" " + std::to_string(seconds);
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    started_ = CreateProcessA(self, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process_);
  }
  ~ChurnHelper() {
    if (!started_) return;
    if (WaitForSingleObject(process_.hProcess, 0) == WAIT_TIMEOUT) TerminateProcess(process_.hProcess, 99);
    CloseHandle(process_.hProcess);
    CloseHandle(process_.hThread);
  }
  bool started() const { return started_; }
  // The helper's exit code once it has ended, -1 when it did not end in time.
  int wait(DWORD timeoutMs) {
    if (WaitForSingleObject(process_.hProcess, timeoutMs) != WAIT_OBJECT_0) return -1;
    DWORD code = 0;
    GetExitCodeProcess(process_.hProcess, &code);
    return static_cast<int>(code);
  }

 private:
  bool started_ = false;
  PROCESS_INFORMATION process_ = {};
};

// "opening errors: 3" in a counters line gives 3; -1 when missing.
long long countAfter(const std::string& line, const std::string& label) {
  std::size_t at = line.find(label);
  if (at == std::string::npos) return -1;
  return std::atoll(line.c_str() + at + label.size());
}

TEST_F(Readsweeper, FilesDeletedTruncatedAndReplacedDuringTheScan) {
  std::string folder = dir + "churn\\";
  ASSERT_TRUE(CreateDirectoryA(folder.c_str(), nullptr));
  for (int i = 0; i < kChurnFiles; ++i) writeFileBytes(churnName(folder, i), std::string(kChurnSize, 'c'));
  writeIni({"instant start", "check files: " + folder, "show file name", "show checked bytes",
            "show open errors", "show read errors", "show full file size", "window refresh: 100",
            "bytes to read at once: 512", "select next file: 20", "skip file: 30"});
  ChurnHelper helper(folder, 6);
  ASSERT_TRUE(helper.started());
  start();
  ASSERT_TRUE(waitUntil([&] { return scanning(); }));
  EXPECT_EQ(helper.wait(20000), 0);
  // Still scanning after the storm, still answering, and stops on request.
  EXPECT_TRUE(scanning());
  stopScanByButton();
  std::string counters = textOf(countersLine);
  long long checked = countAfter(counters, "checked ");
  long long openErrors = countAfter(counters, "opening errors: ");
  long long readErrors = countAfter(counters, "reading errors: ");
  EXPECT_GT(checked, 0) << counters;
  // Files gone between listing and opening, and files cut short while read,
  // were met and counted.
  EXPECT_GT(openErrors + readErrors, 0) << counters;
  std::printf("after 6 s of files changing under the scan: %s\n", counters.c_str());
  EXPECT_EQ(closeAndWait(), 0);
}

// --- scanned files stay as they were ----------------------------------------

struct FileState {
  std::string bytes;
  ULONGLONG size = 0;
  FILETIME written = {};
};

FileState stateOf(const std::string& path) {
  FileState state;
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) {
    state.size = (static_cast<ULONGLONG>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    state.written = data.ftLastWriteTime;
  }
  state.bytes = readFileBytes(path);
  return state;
}

TEST_F(Readsweeper, ScannedFilesAreNeverWrittenAndStayReadableByOthers) {
  // A large file that the scan stays in for many positions, beside the two
  // small files of every test.
  std::string bigContent(4 << 20, '\0');
  for (std::size_t i = 0; i < bigContent.size(); ++i) bigContent[i] = static_cast<char>(i * 131 % 251);
  writeFileBytes(data + "big.bin", bigContent);
  const std::vector<std::string> files = {data + "a.bin", data + "sub\\b.bin", data + "big.bin"};
  std::vector<FileState> before;
  for (const std::string& f : files) before.push_back(stateOf(f));
  // The listing's times have whole-second steps on some file systems.
  Sleep(1100);

  writeIni({"instant start", "check files: " + data, "show file name", "show checked bytes",
            "window refresh: 100", "bytes to read at once: 4096", "repeat read: 2", "select next file: 1",
            "select subfolder: 50"});
  start();
  ASSERT_TRUE(waitUntil([&] { return scanning(); }));

  // Whenever the scan holds big.bin (an exclusive open fails), another
  // process still reads it whole, and can still open it for writing.
  int whileHeld = 0;
  DWORD begin = GetTickCount();
  while (whileHeld < 20 && GetTickCount() - begin < 15000) {
    HANDLE exclusive = holdWithoutSharing(data + "big.bin");
    if (exclusive != INVALID_HANDLE_VALUE) {
      CloseHandle(exclusive);
      Sleep(5);
      continue;
    }
    ASSERT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    ++whileHeld;
    HANDLE reader = CreateFileA((data + "big.bin").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(reader, INVALID_HANDLE_VALUE) << "error " << GetLastError();
    std::string got(bigContent.size(), '\0');
    DWORD n = 0;
    EXPECT_TRUE(ReadFile(reader, &got[0], static_cast<DWORD>(got.size()), &n, nullptr));
    EXPECT_EQ(n, got.size());
    EXPECT_TRUE(got == bigContent);
    CloseHandle(reader);
    HANDLE writer = CreateFileA((data + "big.bin").c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    EXPECT_NE(writer, INVALID_HANDLE_VALUE) << "error " << GetLastError();
    if (writer != INVALID_HANDLE_VALUE) CloseHandle(writer);
  }
  EXPECT_EQ(whileHeld, 20) << "the scan was seen holding big.bin only " << whileHeld << " times";
  EXPECT_TRUE(scanning());
  stopScanByButton();
  EXPECT_EQ(closeAndWait(), 0);

  for (std::size_t i = 0; i < files.size(); ++i) {
    FileState after = stateOf(files[i]);
    EXPECT_TRUE(after.bytes == before[i].bytes) << files[i];
    EXPECT_EQ(after.size, before[i].size) << files[i];
    EXPECT_EQ(CompareFileTime(&after.written, &before[i].written), 0) << files[i];
  }
}

// A settings file that is a symbolic link (made on the Linux side) stays
// one: the file it leads to is rewritten, through a temporary file beside
// that file; one beside the link could not be made, as a folder of its name
// is in the way.
TEST_F(ScanFaults, ASettingsFileThatIsALinkStaysOne) {
  const std::string folder = tree + "settings-link\\";
  const std::string target = tree + "settings-target\\linked.ini";
  start(folder);
  EXPECT_EQ(textOf(pathEdit), "old");
  type(data);
  EXPECT_EQ(closeAndWait(), 0);
  const std::string saved = lines({"show setup", "check files: " + data});
  EXPECT_EQ(readFileBytes(target), saved);
  EXPECT_EQ(readFileBytes(folder + "Readsweeper.ini"), saved);
  EXPECT_FALSE(exists(tree + "settings-target\\Readsweeper.tmp"));
}

// --- settings files that cannot be rewritten ----------------------------------
// A read-only settings file cannot be made here: the tests run as root, and
// Wine lets root write and replace a read-only file. Locks and a folder in
// the way are real.

TEST_F(FatalReport, TemporaryFileNameTakenByAFolder) {
  const std::string content = lines({"check files: old", "show setup"});
  writeFileBytes(iniPath(), content);
  ASSERT_TRUE(CreateDirectoryA((dir + "Readsweeper.tmp").c_str(), nullptr));
  start();
  type(data);
  press();
  EXPECT_EQ(dismissReport("Runtime error 5 at 0x"), 5);
  EXPECT_EQ(ini(), content);
  EXPECT_EQ(GetFileAttributesA((dir + "Readsweeper.tmp").c_str()) & FILE_ATTRIBUTE_DIRECTORY,
            static_cast<DWORD>(FILE_ATTRIBUTE_DIRECTORY));
}

TEST_F(FatalReport, TemporaryFileHeldOpenByAnotherProcess) {
  const std::string content = lines({"check files: old"});
  writeFileBytes(iniPath(), content);
  writeFileBytes(dir + "Readsweeper.tmp", "left over");
  HANDLE lock = holdWithoutSharing(dir + "Readsweeper.tmp");
  ASSERT_NE(lock, INVALID_HANDLE_VALUE);
  start();
  type(data);
  press();
  EXPECT_EQ(dismissReport("Runtime error 32 at 0x"), 32);
  CloseHandle(lock);
  EXPECT_EQ(ini(), content);
}

TEST_F(FatalReport, SettingsFileOpenInAReaderAtExit) {
  // An editor that keeps the file open for reading lets the program read it
  // but not replace it: the old content stays whole, the new one waits
  // whole in the temporary file.
  const std::string content = lines({"note", "check files: old", "window horizontal position: 10",
                                     "window vertical position: 20"});
  writeFileBytes(iniPath(), content);
  HANDLE reader = CreateFileA(iniPath().c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(reader, INVALID_HANDLE_VALUE);
  start();
  type("C:\\new\\");
  PostMessageA(main, WM_CLOSE, 0, 0);
  EXPECT_EQ(dismissReport("Runtime error 5 at 0x"), 5);
  CloseHandle(reader);
  EXPECT_EQ(ini(), content);
  EXPECT_EQ(readFileBytes(dir + "Readsweeper.tmp"),
            lines({"note", "check files: C:\\new\\", "window horizontal position: 10",
                   "window vertical position: 20"}));
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 1 && std::string(argv[1]) == "--churn") return argc == 4 ? churn(argv[2], std::atoi(argv[3])) : 2;
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
