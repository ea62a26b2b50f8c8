// The real readsweeper-cli with --prometheus: the file as a reader polling
// it sees it, a write that fails during the scan, and the figures as a real
// node exporter serves them.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>
#include <vector>

#include "common/test_support.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

constexpr auto kPatience = std::chrono::seconds(60);

bool waitUntil(const std::function<bool()>& condition) {
  auto deadline = Clock::now() + kPatience;
  while (!condition()) {
    if (Clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return true;
}

// A started process, ended by SIGKILL when the test leaves it running (a
// failed assertion included), so that nothing outlives the test.
class Process {
 public:
  // Standard output and standard error go to the files named.
  Process(const std::vector<std::string>& argv, const std::string& out, const std::string& err) {
    std::vector<std::string> args = argv;
    std::vector<char*> pointers;
    for (std::string& a : args) pointers.push_back(a.data());
    pointers.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    EXPECT_EQ(posix_spawn(&pid_, pointers[0], &actions, nullptr, pointers.data(), environ), 0) << argv[0];
    posix_spawn_file_actions_destroy(&actions);
  }
  ~Process() {
    if (pid_ <= 0 || ended_) return;
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }
  Process(const Process&) = delete;
  Process& operator=(const Process&) = delete;

  bool running() {
    if (ended_ || pid_ <= 0) return false;
    int status = 0;
    if (waitpid(pid_, &status, WNOHANG) != pid_) return true;
    ended_ = true;
    exitCode_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return false;
  }
  // The exit code; -1 after a signal or when it has not ended in time.
  int finish() {
    if (!waitUntil([this] { return !running(); })) return -1;
    return exitCode_;
  }

 private:
  pid_t pid_ = -1;
  bool ended_ = false;
  int exitCode_ = -1;
};

// The test hook of the interval between two writes during a scan.
class MetricsInterval {
 public:
  explicit MetricsInterval(const char* milliseconds) {
    setenv("READSWEEPER_TEST_METRICS_INTERVAL_MS", milliseconds, 1);
  }
  ~MetricsInterval() { unsetenv("READSWEEPER_TEST_METRICS_INTERVAL_MS"); }
};

void makeTree(const fs::path& at, int files) {
  fs::create_directories(at / "sub");
  for (int i = 0; i < files; ++i) {
    writeTestFile((at / (i % 2 ? "sub" : "") / ("file" + std::to_string(i))).string(), std::string(20000, 'a' + i % 26));
  }
}

// A free TCP port on the loopback address, as the system hands one out.
int freeLoopbackPort() {
  int s = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  int port = 0;
  if (bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
      getsockname(s, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
    port = ntohs(address.sin_port);
  }
  close(s);
  return port;
}

// The body of GET `path` from 127.0.0.1:port; empty when nothing answers.
std::string httpGet(int port, const std::string& path) {
  int s = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  std::string reply;
  if (connect(s, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
    std::string request = "GET " + path + " HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n";
    if (write(s, request.data(), request.size()) == static_cast<ssize_t>(request.size())) {
      char buffer[65536];
      ssize_t n;
      while ((n = read(s, buffer, sizeof buffer)) > 0) reply.append(buffer, static_cast<std::size_t>(n));
    }
  }
  close(s);
  std::size_t body = reply.find("\r\n\r\n");
  return reply.rfind("HTTP/1.", 0) == 0 && reply.find(" 200 ") != std::string::npos && body != std::string::npos
             ? reply.substr(body + 4)
             : std::string();
}

std::string nodeExporter() {
  for (const char* candidate : {"/usr/bin/prometheus-node-exporter", "/usr/local/bin/node_exporter"}) {
    if (access(candidate, X_OK) == 0) return candidate;
  }
  return std::string();
}

}  // namespace

// Each version of the file is complete: the reader finds the old one or the
// new one, never a file being written.
TEST(PrometheusFile, AReaderPollingItNeverSeesAPartialFile) {
  ScopedTempDir dir;
  makeTree("tree", 12);
  MetricsInterval often("1");
  std::atomic<bool> done{false};
  int reads = 0, partial = 0, versions = 0;
  bool sawRunning = false, sawCountsWhileRunning = false;
  std::string previous, badExample;
  const std::string ending = ",version=\"0.03.4\"} 1\n";
  std::thread reader([&] {
    while (!done.load()) {
      std::string text = readTestFile("out.prom");
      // Not there yet; once there, it is never missing nor empty again.
      if (text.empty() && reads == 0) continue;
      ++reads;
      bool whole = text.rfind("# HELP readsweeper_scan_running ", 0) == 0 && text.size() > ending.size() &&
                   text.compare(text.size() - ending.size(), ending.size(), ending) == 0;
      if (!whole) {
        ++partial;
        badExample = text;
      }
      if (text != previous) ++versions;
      previous = text;
      bool running = text.find("readsweeper_scan_running{root=\"tree/\"} 1\n") != std::string::npos;
      sawRunning = sawRunning || running;
      sawCountsWhileRunning = sawCountsWhileRunning ||
          (running && text.find("readsweeper_checked_bytes{root=\"tree/\"} 0\n") == std::string::npos &&
           text.find("readsweeper_checked_bytes{root=\"tree/\"} ") != std::string::npos);
    }
  });
  Process scan({READSWEEPER_CLI, "--time", "3", "--block", "4k", "--quiet", "--prometheus", "out.prom", "tree"},
               "out.txt", "err.txt");
  int exitCode = scan.finish();
  done.store(true);
  reader.join();
  EXPECT_EQ(exitCode, 0) << readTestFile("err.txt");
  EXPECT_EQ(partial, 0) << "of " << reads << " reads, e.g.:\n" << badExample;
  // It was read while the scan ran, in several versions.
  EXPECT_TRUE(sawRunning);
  EXPECT_TRUE(sawCountsWhileRunning) << "the counts grow during the scan";
  EXPECT_GE(versions, 3) << "versions seen";
  EXPECT_NE(readTestFile("out.prom").find("readsweeper_scan_running{root=\"tree/\"} 0\n"), std::string::npos);
  EXPECT_EQ(readTestFile("err.txt"), "");
}

TEST(PrometheusFile, AWriteThatFailsDuringTheScanIsToldOnceAndTheScanGoesOn) {
  ScopedTempDir dir;
  makeTree("tree", 6);
  MetricsInterval often("1");
  Process scan({READSWEEPER_CLI, "--time", "2", "--json", "--prometheus", "out.prom", "tree"}, "out.txt", "err.txt");
  ASSERT_TRUE(waitUntil([] { return testEntryExists("out.prom"); }));
  // The next new file cannot be made beside it.
  fs::create_directory("out.prom.tmp");
  int exitCode = scan.finish();
  EXPECT_EQ(exitCode, 0);
  std::string err = readTestFile("err.txt");
  const std::string told = "readsweeper-cli: cannot write \"out.prom\": Is a directory (error 21)\n";
  EXPECT_EQ(err.find(told), err.rfind(told)) << err;
  EXPECT_NE(err.find(told), std::string::npos) << err;
  EXPECT_NE(err.find("; stopped by the time limit\n"), std::string::npos) << err;
  EXPECT_EQ(nlohmann::json::parse(readTestFile("out.txt"))["stopped_by"], "time");
  // What was written first is still there, whole.
  EXPECT_NE(readTestFile("out.prom").find("readsweeper_scan_running{root=\"tree/\"} 1\n"), std::string::npos);
}

TEST(PrometheusFile, AFileThatCannotBeWrittenAtTheStartIsAUsageError) {
  ScopedTempDir dir;
  makeTree("tree", 2);
  Process scan({READSWEEPER_CLI, "--time", "60", "--prometheus", "missing/out.prom", "tree"}, "out.txt", "err.txt");
  EXPECT_EQ(scan.finish(), 2);
  EXPECT_EQ(readTestFile("err.txt"),
            "readsweeper-cli: --prometheus: cannot write \"missing/out.prom\": No such file or directory (error 2)\n");
}

// The node exporter's textfile collector reads the file as the program
// writes it; a link to itself cannot be opened, so the count is exactly 1.
TEST(PrometheusFile, ARealNodeExporterServesTheFigures) {
  std::string exporter = nodeExporter();
  if (exporter.empty()) GTEST_SKIP() << "prometheus-node-exporter is not installed";
  ScopedTempDir dir;
  makeTree("tree", 4);
  fs::create_symlink("loop", "tree/loop");
  fs::create_directory("textfiles");
  ASSERT_EQ(std::system((std::string(READSWEEPER_CLI) + " --quiet --every-file --cycles 1 --scan-all --json "
                         "--prometheus textfiles/readsweeper.prom tree >result.json")
                            .c_str()) >> 8,
            1);
  nlohmann::json result = nlohmann::json::parse(readTestFile("result.json"));
  ASSERT_EQ(result["opening_errors"], 1);

  std::string page;
  for (int attempt = 0; attempt < 5 && page.empty(); ++attempt) {
    int port = freeLoopbackPort();
    ASSERT_NE(port, 0);
    Process server({exporter, "--web.listen-address=127.0.0.1:" + std::to_string(port),
                    "--collector.disable-defaults", "--collector.textfile",
                    "--collector.textfile.directory=" + (dir.path() / "textfiles").string()},
                   "exporter.out", "exporter.err");
    // Up when it answers; gone when another took the port meanwhile.
    waitUntil([&] {
      page = httpGet(port, "/metrics");
      return !page.empty() || !server.running();
    });
  }
  ASSERT_FALSE(page.empty()) << readTestFile("exporter.err");
  EXPECT_NE(page.find("readsweeper_opening_errors{root=\"tree/\"} 1\n"), std::string::npos) << page;
  EXPECT_NE(page.find("readsweeper_scan_running{root=\"tree/\"} 0\n"), std::string::npos);
  EXPECT_NE(page.find("readsweeper_cycles_completed{root=\"tree/\"} 1\n"), std::string::npos);
  EXPECT_NE(page.find("readsweeper_build_info{root=\"tree/\",version=\"0.03.4\"} 1\n"), std::string::npos);
  // The collector took the file without complaint.
  EXPECT_NE(page.find("node_textfile_scrape_error 0\n"), std::string::npos);
}
