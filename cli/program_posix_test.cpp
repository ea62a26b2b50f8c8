// The real readsweeper-cli on real trees: exit codes, the JSON result, the
// summary, signals, the status line on a terminal, entries that are no
// files, and names that only POSIX systems allow.
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <map>
#include <mutex>
#include <nlohmann/json.hpp>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "common/test_support.h"
#include "common/text.h"
#include "platform/posix/resident_pages.h"
#include "scan/fault_fs_support.h"
#include "scan/siphash.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

constexpr auto kPatience = std::chrono::seconds(60);

struct Finished {
  int exitCode = -1;  // -1 when ended by a signal
  std::string out;
  std::string err;
  double seconds = 0;
};

// The program started with its standard output on a pipe and its standard
// error on a pipe or, with `terminalColumns` above 0, on a terminal of that
// width. A thread gathers both streams as they come. `output` and `error`,
// when not -1, are descriptors that take the place of the pipes.
class Program {
 public:
  explicit Program(const std::vector<std::string>& args, int terminalColumns = 0, int output = -1, int error = -1) {
    int out[2] = {-1, output}, err[2] = {-1, error};
    if (output < 0) {
      EXPECT_EQ(pipe2(out, O_CLOEXEC), 0);
    }
    if (error < 0 && terminalColumns > 0) {
      winsize size{};
      size.ws_row = 24;
      size.ws_col = static_cast<unsigned short>(terminalColumns);
      EXPECT_EQ(openpty(&err[0], &err[1], nullptr, nullptr, &size), 0);
      fcntl(err[0], F_SETFD, FD_CLOEXEC);
      fcntl(err[1], F_SETFD, FD_CLOEXEC);
    } else if (error < 0) {
      EXPECT_EQ(pipe2(err, O_CLOEXEC), 0);
    }
    std::vector<std::string> argv{READSWEEPER_CLI};
    argv.insert(argv.end(), args.begin(), args.end());
    std::vector<char*> pointers;
    for (std::string& a : argv) pointers.push_back(a.data());
    pointers.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_adddup2(&actions, err[1], 2);
    started_ = Clock::now();
    EXPECT_EQ(posix_spawn(&pid_, pointers[0], &actions, nullptr, pointers.data(), environ), 0);
    posix_spawn_file_actions_destroy(&actions);
    if (output < 0) close(out[1]);
    if (error < 0) close(err[1]);
    reader_ = std::thread([this, o = out[0], e = err[0]] { gather(o, e); });
  }
  ~Program() {
    if (reader_.joinable()) finish();
  }

  pid_t pid() const { return pid_; }

  // Whether the program has its handlers for SIGINT and SIGTERM in place.
  bool catchesInterrupts() const {
    std::ifstream status("/proc/" + std::to_string(pid_) + "/status");
    std::string line;
    while (std::getline(status, line)) {
      if (line.rfind("SigCgt:", 0) != 0) continue;
      unsigned long long mask = std::stoull(line.substr(7), nullptr, 16);
      unsigned long long wanted = (1ull << (SIGINT - 1)) | (1ull << (SIGTERM - 1));
      return (mask & wanted) == wanted;
    }
    return false;
  }

  bool waitUntil(const std::function<bool()>& condition) {
    auto deadline = Clock::now() + kPatience;
    while (!condition()) {
      if (Clock::now() > deadline) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
  }

  // Waits until standard error holds `text`.
  bool waitForError(const std::string& text) {
    std::unique_lock<std::mutex> lock(mutex_);
    return grown_.wait_for(lock, kPatience, [&] { return err_.find(text) != std::string::npos || eof_; }) &&
           err_.find(text) != std::string::npos;
  }

  Finished finish() {
    Finished f;
    int status = 0;
    waitpid(pid_, &status, 0);
    f.seconds = std::chrono::duration<double>(Clock::now() - started_).count();
    reader_.join();
    f.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    f.out = out_;
    f.err = err_;
    return f;
  }

 private:
  void gather(int out, int err) {
    pollfd fds[2] = {{out, POLLIN, 0}, {err, POLLIN, 0}};
    int open = (out >= 0) + (err >= 0);
    char buffer[4096];
    while (open > 0) {
      if (poll(fds, 2, -1) < 0) continue;
      for (int i = 0; i < 2; ++i) {
        if (fds[i].fd < 0 || fds[i].revents == 0) continue;
        ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
        if (n <= 0) {  // the end, or EIO from a terminal whose other side closed
          close(fds[i].fd);
          fds[i].fd = -1;
          --open;
          continue;
        }
        std::lock_guard<std::mutex> lock(mutex_);
        (i == 0 ? out_ : err_).append(buffer, static_cast<std::size_t>(n));
        grown_.notify_all();
      }
    }
    std::lock_guard<std::mutex> lock(mutex_);
    eof_ = true;
    grown_.notify_all();
  }

  pid_t pid_ = -1;
  Clock::time_point started_;
  std::thread reader_;
  std::mutex mutex_;
  std::condition_variable grown_;
  std::string out_, err_;
  bool eof_ = false;
};

Finished run(const std::vector<std::string>& args) { return Program(args).finish(); }

void writeBytes(const fs::path& path, std::size_t size, char fill) {
  std::ofstream file(path, std::ios::binary);
  file << std::string(size, fill);
  ASSERT_TRUE(file.good()) << path;
}

// A small healthy tree: files of 0 to 40 kB in three levels.
fs::path makeTree(const fs::path& at) {
  fs::create_directories(at / "one" / "two");
  int i = 0;
  for (const fs::path& folder : {at, at / "one", at / "one" / "two"}) {
    for (int k = 0; k < 4; ++k, ++i) writeBytes(folder / ("file" + std::to_string(i)), 10000 * k, 'a' + i);
  }
  return at;
}

// Every entry's name and size below a folder.
std::vector<std::string> contentOf(const fs::path& folder) {
  std::vector<std::string> entries;
  for (const auto& e : fs::recursive_directory_iterator(folder)) {
    entries.push_back(e.path().string() + " " +
                      (e.is_regular_file() ? std::to_string(e.file_size()) : std::string("-")));
  }
  std::sort(entries.begin(), entries.end());
  return entries;
}

// The counts of the summary line on standard error, as the JSON names them.
nlohmann::json summaryCounts(const std::string& err) {
  std::smatch m;
  std::regex line("checked (\\d+) B, files checked (\\d+), opening errors (\\d+), reading errors (\\d+), \\d+ s; ");
  if (!std::regex_search(err, m, line)) return nullptr;
  return {{"checked_bytes", std::stoll(m[1])},
          {"files_checked", std::stoll(m[2])},
          {"opening_errors", std::stoll(m[3])},
          {"reading_errors", std::stoll(m[4])}};
}

nlohmann::json resultOf(const Finished& f) {
  nlohmann::json j = nlohmann::json::parse(f.out, nullptr, false);
  EXPECT_FALSE(j.is_discarded()) << "not JSON: " << f.out;
  EXPECT_EQ(f.out.find('\n'), f.out.size() - 1) << "one line: " << f.out;
  if (!j.is_object()) return nlohmann::json::object();
  nlohmann::json summary = summaryCounts(f.err);
  EXPECT_FALSE(summary.is_null()) << "no summary: " << f.err;
  for (const char* count : {"checked_bytes", "files_checked", "opening_errors", "reading_errors"}) {
    if (!summary.is_null()) {
      EXPECT_EQ(j[count], summary[count]) << count;
    }
  }
  return j;
}

}  // namespace

// The settings file of the current folder is neither read (it would stop
// the scan after one byte) nor written; the tree is left as it was.
TEST(Program, AHealthyTreeEndsCleanlyAtTheCheckedLimit) {
  ScopedTempDir dir;
  fs::path tree = makeTree(dir.path() / "tree");
  const std::string ini = "stop after checked: 1\r\ncheck files: /elsewhere/\r\n";
  writeTestFile("Readsweeper.ini", ini);
  std::vector<std::string> before = contentOf(tree);

  Finished f = run({"--checked", "64k", "--block", "4k", "--json", tree.string()});
  EXPECT_EQ(f.exitCode, 0) << f.err;
  nlohmann::json j = resultOf(f);
  EXPECT_EQ(j["stopped_by"], "checked");
  EXPECT_GE(j["checked_bytes"], 65536);
  EXPECT_GT(j["files_checked"], 0);
  EXPECT_EQ(j["opening_errors"], 0);
  EXPECT_EQ(j["reading_errors"], 0);
  EXPECT_EQ(j["root"], tree.string() + "/");
  EXPECT_EQ(j["version"], "0.03.4");
  EXPECT_GE(j["bytes_per_second"], 0);
  EXPECT_FALSE(j.contains("cycles_completed"));
  // Not a terminal: the summary alone.
  EXPECT_EQ(std::count(f.err.begin(), f.err.end(), '\n'), 1) << f.err;
  EXPECT_EQ(f.err.rfind("readsweeper-cli: checked ", 0), 0u) << f.err;
  EXPECT_NE(f.err.find("; stopped by the checked-bytes limit\n"), std::string::npos) << f.err;

  EXPECT_EQ(contentOf(tree), before);
  EXPECT_EQ(readTestFile("Readsweeper.ini"), ini);
  EXPECT_FALSE(fs::exists("Readsweeper.tmp"));
}

// One cycle of whole-file reads reads every byte of the tree once; with a
// slow-read limit the summary counts the slow reads, and the JSON result
// tells how long the block reads took.
TEST(Program, OneCycleOfWholeFilesReadsEveryByteOnce) {
  ScopedTempDir dir;
  fs::path tree = makeTree(dir.path() / "tree");
  Finished f = run({"--every-file", "--cycles", "1", "--whole-files", "--slow", "60000", "--json", tree.string()});
  EXPECT_EQ(f.exitCode, 0) << f.err;
  nlohmann::json j = nlohmann::json::parse(f.out, nullptr, false);
  ASSERT_TRUE(j.is_object()) << f.out;
  EXPECT_EQ(j["checked_bytes"], 3 * (10000 + 20000 + 30000));
  EXPECT_EQ(j["files_checked"], 9);
  EXPECT_EQ(j["reading_errors"], 0);
  EXPECT_EQ(j["slow_reads"], 0);
  ASSERT_TRUE(j["read_ms_p50"].is_number() && j["read_ms_p99"].is_number() && j["read_ms_max"].is_number()) << f.out;
  EXPECT_LE(j["read_ms_p50"].get<double>(), j["read_ms_p99"].get<double>());
  EXPECT_LE(j["read_ms_p99"].get<double>(), j["read_ms_max"].get<double>());
  EXPECT_NE(f.err.find(", reading errors 0, slow reads 0, "), std::string::npos) << f.err;
}

// As root, permissions stop no read: a file that is cut short and grown
// again while the scan reads it gives reading errors.
TEST(Program, AFileTruncatedDuringTheScanEndsWithErrors) {
  ScopedTempDir dir;
  fs::create_directory("tree");
  int fd = open("tree/changing.bin", O_CREAT | O_WRONLY, 0644);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(ftruncate(fd, 1 << 20), 0);
  std::atomic<bool> stop{false};
  std::thread cutter([&] {
    for (bool whole = false; !stop.load(); whole = !whole) {
      if (ftruncate(fd, whole ? 1 << 20 : 0) != 0) return;
      std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
  });
  Finished f = run({"--errors", "1", "--time", "120", "--block", "64k", "--json", "--error-list", "errors.csv", "tree"});
  stop.store(true);
  cutter.join();
  close(fd);
  EXPECT_EQ(f.exitCode, 1) << f.err;
  nlohmann::json j = resultOf(f);
  EXPECT_EQ(j["stopped_by"], "errors");
  EXPECT_GE(j["reading_errors"], 1);
  EXPECT_EQ(j["root"], "tree/");

  // The list names the file and how its reads failed, and ends with the
  // counts of the result, on lines that end in LF alone.
  std::string list = readTestFile("errors.csv");
  EXPECT_EQ(list.rfind("\xEF\xBB\xBFtime,event,path,offset,requested,obtained,code,message\n", 0), 0u) << list;
  EXPECT_EQ(list.find('\r'), std::string::npos);
  EXPECT_NE(list.find(",scan start,tree/,,,,,\"version "), std::string::npos) << list;
  EXPECT_TRUE(std::regex_search(list, std::regex(",(short read|read failed),tree/changing\\.bin,\\d+,65536,\\d+,")))
      << list;
  std::string end = "\"checked " + std::to_string(j["checked_bytes"].get<int64_t>()) + " B, files checked " +
                    std::to_string(j["files_checked"].get<int64_t>()) + ", opening errors 0, reading errors " +
                    std::to_string(j["reading_errors"].get<int64_t>()) + ", ";
  EXPECT_NE(list.find(",scan end,tree/,,,,," + end), std::string::npos) << list;
}

// Past the cache the reads go to the disk (here an ext4 folder): they need
// the aligned buffer, or every one would fail, and they leave none of the
// file's pages in the cache, where a scan through the cache leaves many.
TEST(Program, ReadsPastTheCacheLeaveNothingCached) {
  ScopedTempDir dir;
  fs::create_directory("tree");
  writeTestFile("tree/big.bin", std::string(4 << 20, 'b'));
  auto residentCount = [] {
    std::vector<bool> pages = residentPages("tree/big.bin");
    return std::count(pages.begin(), pages.end(), true);
  };
  auto dropPages = [] {
    int fd = open("tree/big.bin", O_RDONLY);
    ASSERT_GE(fd, 0);
    fdatasync(fd);
    posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
    close(fd);
  };
  dropPages();
  ASSERT_EQ(residentCount(), 0) << "this file system keeps the pages; the test needs one that drops them";
  const std::vector<std::string> scan = {"--checked", "1M", "--errors", "1", "--block", "4k", "--next-file", "1",
                                         "--json", "tree"};
  std::vector<std::string> pastCache = scan;
  pastCache.insert(pastCache.begin(), "--past-cache");

  Finished f = run(pastCache);
  EXPECT_EQ(f.exitCode, 0) << f.err;
  nlohmann::json j = resultOf(f);
  EXPECT_EQ(j["reading_errors"], 0);
  EXPECT_GE(j["checked_bytes"], 1 << 20);
  EXPECT_EQ(residentCount(), 0);

  f = run(scan);
  EXPECT_EQ(f.exitCode, 0) << f.err;
  EXPECT_GT(residentCount(), 0);
}

// A list that cannot be opened ends the run before anything is scanned.
TEST(Program, AnErrorListThatCannotBeOpenedEndsWith2) {
  ScopedTempDir dir;
  fs::create_directory("tree");
  writeTestFile("tree/a.bin", "abc");
  Finished f = run({"--json", "--time", "5", "--error-list", "missing/errors.csv", "tree"});
  EXPECT_EQ(f.exitCode, 2);
  EXPECT_EQ(f.err, "readsweeper-cli: cannot open the error list missing/errors.csv: No such file or directory (code 2)\n");
  EXPECT_EQ(f.out, "");
  EXPECT_FALSE(fs::exists("missing"));
}

// A JSON result that cannot be written is no clean end, whatever the scan
// found: exit 1, and standard error tells why after the summary.
TEST(Program, AJsonResultThatCannotBeWrittenEndsWith1) {
  ScopedTempDir dir;
  makeTree("tree");
  int full = open("/dev/full", O_WRONLY | O_CLOEXEC);
  ASSERT_GE(full, 0);
  Finished f = Program({"--checked", "64k", "--block", "4k", "--json", "tree"}, 0, full).finish();
  close(full);
  EXPECT_EQ(f.exitCode, 1) << f.err;
  EXPECT_FALSE(summaryCounts(f.err).is_null()) << f.err;
  EXPECT_NE(f.err.find("; stopped by the checked-bytes limit\n"
                       "readsweeper-cli: cannot write the JSON result: No space left on device (error 28)\n"),
            std::string::npos)
      << f.err;
  EXPECT_EQ(std::count(f.err.begin(), f.err.end(), '\n'), 2) << f.err;
}

TEST(Program, ARootThatCannotBeListedEndsWith3) {
  ScopedTempDir dir;
  writeTestFile("plain", "x");
  const struct {
    const char* folder;
    const char* message;
  } cases[] = {
      {"missing", "readsweeper-cli: cannot list \"missing/\": No such file or directory (error 2)\n"},
      {"plain", "readsweeper-cli: cannot list \"plain/\": Not a directory (error 20)\n"},
  };
  for (const auto& c : cases) {
    Finished f = run({"--json", "--time", "5", c.folder});
    EXPECT_EQ(f.exitCode, 3) << c.folder;
    EXPECT_EQ(f.err, c.message);
    EXPECT_EQ(f.out, "");
  }
}

TEST(Program, UsageErrorsEndWith2AndScanNothing) {
  ScopedTempDir dir;
  fs::create_directory("folder.ini");
  writeTestFile("a.bin", "abc");
  const struct {
    std::vector<std::string> args;
    std::string message;
  } cases[] = {
      {{"--skip-file", "101", "."}, "readsweeper-cli: --skip-file: \"101\" is out of range (0 to 100)\n"},
      {{"--frobnicate", "."}, "readsweeper-cli: \"--frobnicate\" is not an option (see --help)\n"},
      // With a checked limit, so that a value taken by mistake ends the scan.
      {{"--checked", "1", "--cycles", "2147483648", "."},
       "readsweeper-cli: --cycles: \"2147483648\" is out of range (0 to 2147483647)\n"},
      {{"--checked", "1", "--cycles", "18446744073709551617", "."},
       "readsweeper-cli: --cycles: \"18446744073709551617\" is out of range (0 to 2147483647)\n"},
      {{"--checked", "1", "--time", "2147483648", "."},
       "readsweeper-cli: --time: \"2147483648\" is out of range (0 to 2147483647)\n"},
      {{"--checked", "1", "--time", "18446744073709551616", "."},
       "readsweeper-cli: --time: \"18446744073709551616\" is out of range (0 to 2147483647)\n"},
      {{"--json"}, "readsweeper-cli: no FOLDER given (see --help)\n"},
      {{"--settings", "missing.ini", "."},
       "readsweeper-cli: --settings: cannot read \"missing.ini\": No such file or directory (error 2)\n"},
      {{"--settings", "folder.ini", "."},
       "readsweeper-cli: --settings: cannot read \"folder.ini\": Is a directory (error 21)\n"},
      {{"--json", std::string(300, 'd')},
       "readsweeper-cli: FOLDER \"" + std::string(300, 'd') +
           "\" is too long: the root folder holds at most 255 bytes\n"},
  };
  for (const auto& c : cases) {
    Finished f = run(c.args);
    EXPECT_EQ(f.exitCode, 2) << c.args.front();
    EXPECT_EQ(f.err, c.message);
    EXPECT_EQ(f.out, "");
  }
}

TEST(Program, HelpAndVersion) {
  Finished help = run({"--help"});
  EXPECT_EQ(help.exitCode, 0);
  EXPECT_EQ(help.out.rfind("Usage: readsweeper-cli [OPTIONS] FOLDER\n", 0), 0u) << help.out;
  EXPECT_EQ(help.err, "");
  Finished version = run({"--version"});
  EXPECT_EQ(version.exitCode, 0);
  EXPECT_EQ(version.out, "readsweeper-cli version 0.03.4\n");
}

// Without a terminal no status line is written, however long the scan:
// standard error on a pipe or in a file holds the summary alone, not the
// carriage-return lines a terminal would show ten times a second.
TEST(Program, TheTimeLimitEndsTheScanWithOnlyTheSummaryOffATerminal) {
  ScopedTempDir dir;
  makeTree("tree");
  int file = open("stderr.txt", O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  ASSERT_GE(file, 0);
  // Both at once: the scans run for their time, whatever the machine does.
  Program onAPipe({"--time", "2", "--json", "tree"});
  Program inAFile({"--time", "2", "--json", "tree"}, 0, -1, file);
  close(file);
  Finished piped = onAPipe.finish();
  Finished filed = inAFile.finish();
  filed.err = readTestFile("stderr.txt");
  for (const Finished* f : {&piped, &filed}) {
    SCOPED_TRACE(f == &piped ? "a pipe" : "a file");
    EXPECT_EQ(f->exitCode, 0) << f->err;
    nlohmann::json j = resultOf(*f);
    EXPECT_EQ(j["stopped_by"], "time");
    EXPECT_GE(j["elapsed_seconds"].get<double>(), 2.0);
    // Generous: the machine may be loaded; the scan must not run on.
    EXPECT_GE(f->seconds, 1.9);
    EXPECT_LT(f->seconds, 30.0);
    EXPECT_EQ(f->err.rfind("readsweeper-cli: checked ", 0), 0u) << f->err;
    EXPECT_EQ(std::count(f->err.begin(), f->err.end(), '\n'), 1) << f->err;
    EXPECT_EQ(f->err.find('\r'), std::string::npos) << f->err;
  }
}

// On a terminal the status line is rewritten in place, never wider than
// the terminal; SIGINT then stops the scan: 130, the summary and the JSON.
TEST(Program, AStatusLineOnATerminalAndSigint) {
  ScopedTempDir dir;
  makeTree("tree");
  Program p({"--json", "tree"}, 40);
  ASSERT_TRUE(p.waitForError("\rchecked ")) << "no status line";
  ASSERT_TRUE(p.waitUntil([&] { return p.catchesInterrupts(); }));
  kill(p.pid(), SIGINT);
  Finished f = p.finish();
  EXPECT_EQ(f.exitCode, 130) << f.err;
  nlohmann::json j = resultOf(f);
  EXPECT_EQ(j["stopped_by"], "interrupt");
  // The terminal turns "\n" into "\r\n"; each rewrite starts with "\r".
  std::string summaryStart = "readsweeper-cli: checked ";
  std::size_t summary = f.err.find(summaryStart);
  ASSERT_NE(summary, std::string::npos) << f.err;
  std::stringstream status(f.err.substr(0, summary));
  std::string piece;
  int rewrites = 0;
  while (std::getline(status, piece, '\r')) {
    if (piece.empty()) continue;
    EXPECT_LE(piece.size(), 39u) << piece;
    ++rewrites;
  }
  EXPECT_GE(rewrites, 1);
  EXPECT_NE(f.err.find("stopped by an interrupt"), std::string::npos) << f.err;
}

TEST(Program, SigtermStopsTheScanLikeSigint) {
  ScopedTempDir dir;
  makeTree("tree");
  Program p({"--json", "--quiet", "tree"});
  ASSERT_TRUE(p.waitUntil([&] { return p.catchesInterrupts(); }));
  kill(p.pid(), SIGTERM);
  Finished f = p.finish();
  EXPECT_EQ(f.exitCode, 130);
  EXPECT_EQ(f.err, "");  // --quiet
  nlohmann::json j = nlohmann::json::parse(f.out, nullptr, false);
  ASSERT_TRUE(j.is_object()) << f.out;
  EXPECT_EQ(j["stopped_by"], "interrupt");
}

// FIFOs, sockets and device nodes are passed over: every walk that ends on
// one of them is a pass without a check, and none is ever opened (an open
// would fail, as none is a regular file, and count; a FIFO's could hang).
TEST(Program, OnlyRegularFilesAreOpened) {
  ScopedTempDir dir;
  fs::create_directories("tree/sub");
  writeBytes("tree/data.bin", 3000, 'd');
  writeBytes("tree/sub/more.bin", 3000, 'm');
  ASSERT_EQ(mkfifo("tree/fifo", 0644), 0);
  ASSERT_EQ(mkfifo("tree/sub/fifo2", 0644), 0);
  int s = socket(AF_UNIX, SOCK_STREAM, 0);
  ASSERT_GE(s, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strcpy(address.sun_path, "tree/socket");
  ASSERT_EQ(bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  bool device = mknod("tree/null-device", S_IFCHR | 0666, makedev(1, 3)) == 0;
  if (!device) std::cerr << "no device node could be made here (" << std::strerror(errno) << ")\n";
  Finished f = run({"--scan-all", "--skip-file", "30", "--subfolder", "100", "--next-file", "100", "--block", "1k",
                    "--checked", "200k", "--time", "60", "--json", "tree"});
  close(s);
  EXPECT_EQ(f.exitCode, 0) << f.err;
  nlohmann::json j = resultOf(f);
  EXPECT_EQ(j["stopped_by"], "checked");
  EXPECT_EQ(j["opening_errors"], 0);
  EXPECT_EQ(j["reading_errors"], 0);
}

// A backslash is a letter of a name here, a newline too; bytes that are not
// UTF-8 are scanned as they are and shown in the JSON as U+FFFD.
TEST(Program, NamesThatOnlyPosixSystemsAllow) {
  ScopedTempDir dir;
  const std::string root = "we\\ird\nname\xff";
  fs::create_directories(root + "/sub\\dir");
  writeBytes(root + "/a\\b", 500, 'a');
  writeBytes(root + "/new\nline", 500, 'n');
  writeBytes(root + "/bad\xfe.bin", 500, 'b');
  writeBytes(root + "/sub\\dir/\xe6\x97\xa5\xe6\x9c\xac", 500, 'j');
  Finished f = run({"--scan-all", "--subfolder", "60", "--block", "10", "--checked", "5000", "--time", "60", "--json",
                    root});
  EXPECT_EQ(f.exitCode, 0) << f.err;
  nlohmann::json j = resultOf(f);
  EXPECT_EQ(j["stopped_by"], "checked");
  EXPECT_EQ(j["opening_errors"], 0);
  EXPECT_EQ(j["reading_errors"], 0);
  EXPECT_EQ(j["root"], "we\\ird\nname\xef\xbf\xbd/");
  EXPECT_NE(f.out.find("\"root\":\"we\\\\ird\\nname\xef\xbf\xbd/\""), std::string::npos) << f.out;
}

// The error list's own failures and guards.
namespace {

// The list's lines, each with its line end.
std::vector<std::string> linesOf(const std::string& text) {
  std::vector<std::string> lines;
  for (std::size_t at = 0; at < text.size();) {
    std::size_t end = text.find('\n', at);
    end = end == std::string::npos ? text.size() : end + 1;
    lines.push_back(text.substr(at, end - at));
    at = end;
  }
  return lines;
}

}  // namespace

// The last line of the list ("scan end") fails to go out whole: a file size
// limit with SIGXFSZ ignored stands for a full disk. The failure is told
// and gives exit code 4 whatever stopped the scan, and the list is cut back
// to its last whole line.
TEST(ErrorListFailures, AFailedLastWriteEndsWith4AndLeavesNoTornLine) {
  ScopedTempDir dir;
  makeTree(dir.path() / "tree");
  const std::vector<std::string> args = {"--checked", "64k", "--block", "4k", "--json", "--error-list", "errors.csv",
                                         "tree"};
  // A first scan gives the list its header and the length of a start line.
  Finished first = run(args);
  ASSERT_EQ(first.exitCode, 0) << first.err;
  std::string before = readTestFile("errors.csv");
  std::vector<std::string> lines = linesOf(before);
  ASSERT_EQ(lines.size(), 3u) << before;  // header, scan start, scan end
  ASSERT_EQ(lines[1].find(",scan start,"), 23u) << lines[1];
  const std::size_t room = before.size() + lines[1].size() + 20;

  rlimit old{};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
  rlimit limited = old;
  limited.rlim_cur = room;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limited), 0);
  auto previous = signal(SIGXFSZ, SIG_IGN);
  Program program(args);  // inherits both
  signal(SIGXFSZ, previous);
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &old), 0);
  Finished f = program.finish();

  EXPECT_EQ(f.exitCode, 4) << f.err;
  EXPECT_NE(f.err.find("readsweeper-cli: cannot write the error list errors.csv: File too large (code 27)\n"),
            std::string::npos)
      << f.err;
  nlohmann::json j = resultOf(f);
  EXPECT_EQ(j["stopped_by"], "checked");
  std::string after = readTestFile("errors.csv");
  ASSERT_LT(after.size(), room);
  EXPECT_EQ(after.back(), '\n');
  EXPECT_EQ(after.substr(0, before.size()), before);
  std::vector<std::string> added = linesOf(after.substr(before.size()));
  ASSERT_EQ(added.size(), 1u) << after;
  EXPECT_NE(added[0].find(",scan start,"), std::string::npos) << added[0];

  // The next scan's first line starts a line of its own.
  EXPECT_EQ(run(args).exitCode, 0);
  std::vector<std::string> all = linesOf(readTestFile("errors.csv"));
  ASSERT_EQ(all.size(), 6u);
  EXPECT_NE(all[4].find(",scan start,"), std::string::npos) << all[4];
}

// A standard output whose reader has gone (| head -c 10) is the failed
// JSON write it is, exit code 1, not death by SIGPIPE.
TEST(ErrorListFailures, AClosedPipeOnStandardOutputEndsWith1) {
  ScopedTempDir dir;
  makeTree(dir.path() / "tree");
  int out[2];
  ASSERT_EQ(pipe2(out, O_CLOEXEC), 0);
  close(out[0]);
  int err = open("err.txt", O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  ASSERT_GE(err, 0);
  std::vector<std::string> argv{READSWEEPER_CLI, "--checked", "64k", "--block", "4k", "--json", "tree"};
  std::vector<char*> pointers;
  for (std::string& a : argv) pointers.push_back(a.data());
  pointers.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out[1], 1);
  posix_spawn_file_actions_adddup2(&actions, err, 2);
  pid_t pid = -1;
  ASSERT_EQ(posix_spawn(&pid, pointers[0], &actions, nullptr, pointers.data(), environ), 0);
  posix_spawn_file_actions_destroy(&actions);
  close(out[1]);
  close(err);
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status);
  EXPECT_EQ(WEXITSTATUS(status), 1);
  EXPECT_NE(readTestFile("err.txt").find("readsweeper-cli: cannot write the JSON result: Broken pipe (error 32)\n"),
            std::string::npos)
      << readTestFile("err.txt");
}

// A link planted at the list's path would make a scan run as root append
// to whatever it leads to: the start is refused and the target untouched.
TEST(ErrorListFailures, AListThatIsALinkIsRefused) {
  ScopedTempDir dir;
  makeTree(dir.path() / "tree");
  writeTestFile("victim", "precious\n");
  fs::create_symlink("victim", "errors.csv");
  fs::create_symlink("nowhere", "dangling.csv");
  for (const char* list : {"errors.csv", "dangling.csv"}) {
    Finished f = run({"--checked", "64k", "--block", "4k", "--error-list", list, "tree"});
    EXPECT_EQ(f.exitCode, 2);
    EXPECT_EQ(f.err, std::string("readsweeper-cli: cannot open the error list ") + list +
                         ": Too many levels of symbolic links (code 40)\n");
  }
  EXPECT_EQ(readTestFile("victim"), "precious\n");
  EXPECT_FALSE(fs::exists("nowhere"));
}

// A root whose name is not UTF-8 (Latin-1) still gives a list that decodes
// as UTF-8: each such byte is U+FFFD.
TEST(ErrorListFailures, ANameThatIsNotUtf8GivesAUtf8List) {
  ScopedTempDir dir;
  makeTree(dir.path() / "caf\xe9");
  Finished f = run({"--checked", "64k", "--block", "4k", "--error-list", "errors.csv", "caf\xe9"});
  EXPECT_EQ(f.exitCode, 0) << f.err;
  std::string list = readTestFile("errors.csv");
  EXPECT_NE(list.find(",scan start,caf\xef\xbf\xbd/,"), std::string::npos) << list;
  EXPECT_EQ(list.find('\xe9'), std::string::npos);
  EXPECT_TRUE(isValidUtf8(list));
}

// --- a cycle kept across runs ------------------------------------------------

namespace {

// A tree of the fault file system whose every file fails to read: every
// check is a failed read, and the error list names each file once per
// scan. So the list tells which files each run checked. `stallMs` makes
// each read wait that long first, which sets how long a cycle takes at the
// least.
struct FailingTree {
  FaultFsMount mount;
  std::vector<std::string> files;  // below root
  std::string root;                // the mount point with its separator

  bool make(int folders, int perFolder, int stallMs) {
    std::string config;
    for (int d = 0; d < folders; ++d) {
      for (int i = 0; i < perFolder; ++i) {
        std::string file = "d" + std::to_string(d) + "/f" + std::to_string(i);
        config += "file " + file + " 4096\n";
        if (stallMs > 0) config += "stall " + file + " 0 4096 " + std::to_string(stallMs) + "\n";
        config += "eio " + file + " 0 4096\n";
        files.push_back(file);
      }
    }
    if (!mount.start(READSWEEPER_FAULT_FS, fs::current_path().string(), config)) return false;
    root = mount.mountPoint() + "/";
    // One listing here puts the names and attributes in the kernel's cache,
    // so that a run's listing takes a fraction of its slice.
    std::error_code ec;
    for (const auto& entry : fs::recursive_directory_iterator(mount.mountPoint(), ec)) entry.is_regular_file(ec);
    return !ec;
  }
};

// The files that each scan of the error list checked, in order, below `root`.
std::vector<std::vector<std::string>> checksPerScan(const std::string& list, const std::string& root) {
  std::vector<std::vector<std::string>> scans;
  std::istringstream lines(list);
  std::string line;
  while (std::getline(lines, line)) {
    std::vector<std::string> fields;
    std::stringstream split(line);
    for (std::string field; std::getline(split, field, ',');) fields.push_back(field);
    if (fields.size() < 3) continue;
    if (fields[1] == "scan start") scans.emplace_back();
    if (fields[1] == "read failed" && !scans.empty()) scans.back().push_back(fields[2].substr(root.size()));
  }
  return scans;
}

struct StoredCycle {
  bool valid = false;
  int64_t cycle = 0;
  SipKey key;
  uint64_t reached = 0;  // 0 also for "none": no file has a hash below 0
};

StoredCycle storedCycle(const std::string& text) {
  StoredCycle c;
  std::smatch m;
  std::regex form("^readsweeper cycle state 1\nroot: [^\n]*\ncycle: (\\d+)\nkey: ([0-9a-f]{16})([0-9a-f]{16})\n"
                  "reached: ([0-9a-f]{16}|none)\ncovered: \\d+\nbegan: [0-9: -]{19}\n$");
  if (!std::regex_match(text, m, form)) return c;
  c.valid = true;
  c.cycle = std::stoll(m[1]);
  c.key = SipKey{std::stoull(m[2], nullptr, 16), std::stoull(m[3], nullptr, 16)};
  c.reached = m[4] == "none" ? 0 : std::stoull(m[4], nullptr, 16);
  return c;
}

uint64_t hashOf(const SipKey& key, const std::string& file) { return sipHash24(key, file.data(), file.size()); }

}  // namespace

// Slices of one second, each run taking the cycle up where the last one
// stopped, until it is complete: every file checked exactly once.
TEST(Program, ACycleInSlicesOfOneSecondChecksEveryFileOnce) {
#ifndef READSWEEPER_FAULT_FS
  GTEST_SKIP() << "fault_fs was not built (libfuse3 is missing)";
#else
  std::string unavailable = faultFsUnavailable();
  if (!unavailable.empty()) GTEST_SKIP() << unavailable;
  ScopedTempDir dir;
  FailingTree tree;
  ASSERT_TRUE(tree.make(20, 1000, 0)) << tree.mount.failure();
  const std::vector<std::string>& files = tree.files;
  const std::vector<std::string> slice = {"--every-file", "--cycles", "1", "--time", "1", "--block", "4096",
                                          "--next-file", "100", "--state", "state",
                                          "--error-list", "errors.csv", "--json", tree.root};
  int slices = 0;
  int64_t checked = 0;
  for (;;) {
    Finished f = run(slice);
    ++slices;
    ASSERT_EQ(f.exitCode, 1) << f.err;  // failed reads are reading errors
    nlohmann::json j = resultOf(f);
    checked += j["files_checked"].get<int64_t>();
    EXPECT_EQ(j["cycle"], 1);
    EXPECT_EQ(j["resumed"], slices > 1);
    EXPECT_EQ(j["covered_files"], checked) << "the covered count goes on from the stored one";
    if (j["stopped_by"] == "cycles") break;
    ASSERT_EQ(j["stopped_by"], "time");
    ASSERT_LT(slices, 1000) << "the cycle does not advance";
  }
  RecordProperty("slices", slices);
  std::map<std::string, int> times;
  for (const auto& scan : checksPerScan(readTestFile("errors.csv"), tree.root)) {
    for (const std::string& file : scan) ++times[file];
  }
  EXPECT_EQ(checked, 20000);
  EXPECT_EQ(times.size(), files.size());
  for (const std::string& file : files) EXPECT_EQ(times[file], 1) << file;
  StoredCycle done = storedCycle(readTestFile("state"));
  ASSERT_TRUE(done.valid) << readTestFile("state");
  EXPECT_EQ(done.reached, UINT64_MAX);
#endif
}

// Runs ended by SIGKILL some time after a state write: what each lost is
// the files it checked after its last write, and only those are checked
// again; every other file once.
TEST(Program, ACycleEndedByKillRedoesOnlyTheFilesSinceTheLastWrite) {
#ifndef READSWEEPER_FAULT_FS
  GTEST_SKIP() << "fault_fs was not built (libfuse3 is missing)";
#else
  std::string unavailable = faultFsUnavailable();
  if (!unavailable.empty()) GTEST_SKIP() << unavailable;
  ScopedTempDir dir;
  // Each read waits 3 ms: the cycle takes 18 s at the least, so the first
  // run is killed after its first state write, and later ones may be.
  FailingTree tree;
  ASSERT_TRUE(tree.make(6, 1000, 3)) << tree.mount.failure();
  const std::vector<std::string>& files = tree.files;
  const std::vector<std::string> args = {"--every-file", "--cycles", "1", "--block", "4096", "--next-file", "100",
                                         "--state", "state", "--error-list", "errors.csv", "--json", tree.root};
  auto checksSoFar = [&tree] {
    auto scans = checksPerScan(readTestFile("errors.csv"), tree.root);
    return scans.empty() ? std::size_t{0} : scans.back().size();
  };
  std::vector<bool> killed;
  std::vector<StoredCycle> afterwards;
  for (;;) {
    std::string before = readTestFile("state");
    Program p(args);
    auto endedByItself = [&p] {
      return readTestFile("/proc/" + std::to_string(p.pid()) + "/stat").find(") Z ") != std::string::npos;
    };
    bool ended = false;
    std::size_t written = 0;
    std::string seen;
    ASSERT_TRUE(p.waitUntil([&] {
      ended = endedByItself();
      seen = readTestFile("state");
      if (seen != before && storedCycle(seen).valid) written = checksSoFar();
      return ended || written > 0;
    }));
    // A thousand files after the write, then the end without a word.
    if (!ended) {
      p.waitUntil([&] { return checksSoFar() >= written + 1000 || readTestFile("state") != seen || endedByItself(); });
      kill(p.pid(), SIGKILL);
    }
    Finished f = p.finish();
    killed.push_back(f.exitCode == -1);
    afterwards.push_back(storedCycle(readTestFile("state")));
    ASSERT_TRUE(afterwards.back().valid) << readTestFile("state");
    if (!killed.back()) {
      EXPECT_EQ(resultOf(f)["stopped_by"], "cycles");
      break;
    }
    ASSERT_LT(killed.size(), 100u);
  }
  EXPECT_GE(std::count(killed.begin(), killed.end(), true), 1);
  RecordProperty("kills", static_cast<int>(std::count(killed.begin(), killed.end(), true)));

  auto scans = checksPerScan(readTestFile("errors.csv"), tree.root);
  ASSERT_EQ(scans.size(), killed.size());
  std::map<std::string, int> kept, redone;
  for (std::size_t i = 0; i < scans.size(); ++i) {
    for (const std::string& file : scans[i]) {
      // A killed run keeps what its last write reached.
      bool lost = killed[i] && hashOf(afterwards[i].key, file) > afterwards[i].reached;
      ++(lost ? redone : kept)[file];
    }
  }
  for (const std::string& file : files) EXPECT_EQ(kept[file], 1) << file;
  EXPECT_EQ(kept.size(), files.size());
  RecordProperty("redone", static_cast<int>(redone.size()));
#endif
}

// A state that cannot be used begins a new cycle and says why on standard
// error; one that cannot be written refuses the start.
TEST(Program, ACycleStateThatCannotBeUsedOrWritten) {
  ScopedTempDir dir;
  makeTree("tree");
  writeTestFile("state", "[not a state]\n");
  const std::vector<std::string> args = {"--every-file", "--cycles", "1", "--state", "state", "--json", "tree"};
  Finished f = run(args);
  EXPECT_EQ(f.exitCode, 0) << f.err;
  EXPECT_EQ(f.err.rfind("readsweeper-cli: cycle state state not used: not a cycle state file\n", 0), 0u) << f.err;
  nlohmann::json j = resultOf(f);
  EXPECT_EQ(j["cycle"], 1);
  EXPECT_EQ(j["resumed"], false);
  EXPECT_EQ(j["covered_files"], 9);  // the twelve files but the three empty ones
  StoredCycle stored = storedCycle(readTestFile("state"));
  ASSERT_TRUE(stored.valid) << readTestFile("state");
  EXPECT_EQ(stored.reached, UINT64_MAX);
  EXPECT_FALSE(fs::exists("state.tmp"));

  // The complete cycle is followed by the next one, without a word.
  f = run(args);
  EXPECT_EQ(f.err.find("not used"), std::string::npos) << f.err;
  j = resultOf(f);
  EXPECT_EQ(j["cycle"], 2);
  EXPECT_EQ(j["resumed"], false);

  f = run({"--every-file", "--state", "missing/state", "--json", "tree"});
  EXPECT_EQ(f.exitCode, 2);
  EXPECT_EQ(f.err, "readsweeper-cli: cannot write the cycle state missing/state: No such file or directory (code 2)\n");
  EXPECT_EQ(f.out, "");
}

namespace {

// The threads of a process whose I/O class is idle and whose nice value is
// the lowest priority, by thread id.
std::vector<pid_t> backgroundThreads(pid_t pid) {
  std::vector<pid_t> found;
  std::error_code ec;
  for (const auto& task : fs::directory_iterator("/proc/" + std::to_string(pid) + "/task", ec)) {
    pid_t tid = static_cast<pid_t>(std::stol(task.path().filename().string()));
    long priority = syscall(SYS_ioprio_get, 1 /* IOPRIO_WHO_PROCESS */, tid);
    errno = 0;
    int nice = getpriority(PRIO_PROCESS, static_cast<id_t>(tid));
    if (priority >= 0 && (priority >> 13) == 3 /* IOPRIO_CLASS_IDLE */ && errno == 0 && nice == 19) {
      found.push_back(tid);
    }
  }
  return found;
}

}  // namespace

// Every reader's thread, and only the readers', runs in the idle I/O class at
// the lowest processor priority. (The idle class is honoured only by the
// BFQ scheduler; this test sees what the system records for the threads.)
TEST(Program, BackgroundReadersCarryTheIdleIoClass) {
  ScopedTempDir dir;
  makeTree("tree");
  Program p({"--every-file", "--readers", "4", "--background", "--block", "4k", "--json", "tree"});
  ASSERT_TRUE(p.waitUntil([&] { return backgroundThreads(p.pid()).size() >= 4; }))
      << "idle threads: " << backgroundThreads(p.pid()).size();
  std::vector<pid_t> idle = backgroundThreads(p.pid());
  EXPECT_EQ(idle.size(), 4u);
  // The main thread, which shows the status and reports, keeps its priority.
  EXPECT_EQ(std::count(idle.begin(), idle.end(), p.pid()), 0);
  kill(p.pid(), SIGINT);
  Finished f = p.finish();
  EXPECT_EQ(f.exitCode, 130) << f.err;
  EXPECT_EQ(f.err.find("refused"), std::string::npos) << f.err;
  nlohmann::json j = resultOf(f);
  EXPECT_GT(j["files_checked"], 0);

  // Without the flag no thread is lowered: the main thread, the worker and
  // three more readers all run at their normal priority.
  Program plain({"--every-file", "--readers", "4", "--quiet", "tree"});
  auto threads = [&] {
    std::error_code ec;
    fs::directory_iterator tasks("/proc/" + std::to_string(plain.pid()) + "/task", ec);
    return std::distance(tasks, fs::directory_iterator());
  };
  ASSERT_TRUE(plain.waitUntil([&] { return threads() >= 5; }));
  EXPECT_TRUE(backgroundThreads(plain.pid()).empty());
  kill(plain.pid(), SIGINT);
  EXPECT_EQ(plain.finish().exitCode, 130);
}

// Eight readers with a rate: every file once per cycle, the sums in the
// JSON and the summary alike, the settings' pieces in the error list.
TEST(Program, ReadersCheckEveryFileOncePerCycle) {
  ScopedTempDir dir;
  makeTree("tree");
  Finished f = run({"--every-file", "--readers", "8", "--rate", "64M", "--cycles", "3", "--block", "4k",
                    "--error-list", "errors.csv", "--json", "tree"});
  EXPECT_EQ(f.exitCode, 0) << f.err;
  nlohmann::json j = resultOf(f);
  EXPECT_EQ(j["stopped_by"], "cycles");
  EXPECT_EQ(j["cycles_completed"], 3);
  EXPECT_EQ(j["indexed_files"], 9);  // the empty files are not indexed
  EXPECT_EQ(j["covered_files"], 9);
  EXPECT_EQ(j["files_checked"], 27);
  EXPECT_EQ(j["opening_errors"], 0);
  EXPECT_EQ(j["reading_errors"], 0);
  EXPECT_NE(readTestFile("errors.csv").find("every file, 8 readers, at most 67108864B/s, "), std::string::npos);
}
