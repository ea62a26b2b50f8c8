// The error list on a FIFO, which only POSIX systems put in a file's place:
// a reader slower than the scan holds it up, and loses no line.
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "common/test_support.h"
#include "platform/fake/fake.h"
#include "scan/error_list.h"
#include "scan/test_support.h"

namespace {

using Clock = std::chrono::steady_clock;

// More than any line of this scan takes.
constexpr int kLongestLine = 512;

// Everything the FIFO holds now; false once its writer has closed it and
// it is empty.
bool drain(int fifo, std::string* got) {
  char buffer[1 << 16];
  for (;;) {
    ssize_t n = read(fifo, buffer, sizeof buffer);
    if (n > 0) {
      got->append(buffer, static_cast<std::size_t>(n));
    } else {
      return n < 0;  // EAGAIN: the writer is still there
    }
  }
}

struct ErrorListOnAFifo : ScanFixture {
  ScopedTempDir dir;
  void SetUp() override {
    resetFakeWindow();
    resetScan();
    FakePathText = dir.path().string() + "/";
  }
  void TearDown() override { openErrorList(Text(), nullptr); }
};

// The FIFO holds one page. The reader takes nothing until the scan cannot
// add its next line, so that every few lines the scan's write waits for
// room; then it takes what is there. Every line arrives, in order, and the
// scan is never stopped.
TEST_F(ErrorListOnAFifo, ASlowReaderGetsEveryLineAndTheScanGoesOn) {
  ASSERT_EQ(mkfifo("errors.fifo", 0600), 0);
  int fifo = open("errors.fifo", O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  ASSERT_GE(fifo, 0);
  int room = fcntl(fifo, F_SETPIPE_SZ, 4096);
  ASSERT_GT(room, kLongestLine);
  prepare();
  ASSERT_EQ(openErrorList(Text("errors.fifo"), nullptr), 0);

  // A scan of files that all fail to open: a line each.
  constexpr int kFiles = 2000;
  const std::string root = FakePathText;
  std::thread worker([&] {
    setupScan();
    for (int i = 0; i < kFiles; ++i) {
      std::string name = "gone-" + std::to_string(i) + ".bin";
      checkFile(Readers[0], root + name, name, 10);
    }
    endScan();  // the last line, and the list is closed
  });

  std::string got;
  const auto deadline = Clock::now() + std::chrono::seconds(60);
  bool late = false;
  for (bool open = true; open;) {
    // Waits until the next line cannot fit, or the writer has gone.
    for (;;) {
      pollfd p{fifo, POLLIN, 0};
      ASSERT_GE(poll(&p, 1, 0), 0);
      int held = 0;
      ASSERT_EQ(ioctl(fifo, FIONREAD, &held), 0);
      if ((p.revents & POLLHUP) || held > room - kLongestLine || late) break;
      if (Clock::now() > deadline) {
        // From here on the reader keeps up, so that the scan can end.
        ADD_FAILURE() << "the scan wrote nothing for a minute";
        late = true;
        break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    open = drain(fifo, &got);
  }
  worker.join();
  close(fifo);

  EXPECT_EQ(ScanState.load(), 1);
  EXPECT_EQ(scanResult().stoppedBy, StopReason::None);
  EXPECT_EQ(errorListFailure(), Text());
  EXPECT_EQ(Scan.openErrors, kFiles);
  std::vector<std::string> lines;
  for (std::size_t at = 0, end; at < got.size(); at = end + 1) {
    end = got.find('\n', at);
    if (end == std::string::npos) end = got.size();
    lines.push_back(got.substr(at, end - at));
    EXPECT_LT(lines.back().size(), static_cast<std::size_t>(kLongestLine)) << lines.back();
  }
  ASSERT_EQ(lines.size(), kFiles + 2u) << "the last line that came: " << (lines.empty() ? "" : lines.back());
  // After each line's time: "YYYY-MM-DD hh:mm:ss.mmm,"
  const std::size_t time = 24;
  const std::string start = "scan start," + root + ",";
  EXPECT_EQ(lines.front().compare(time, start.size(), start), 0) << lines.front();
  for (int i = 0; i < kFiles; ++i) {
    const std::string& line = lines[static_cast<std::size_t>(i) + 1];
    ASSERT_EQ(line.substr(time), "open failed," + root + "gone-" + std::to_string(i) + ".bin,,,,2," +
                                     std::string(errorText(2).view()));
  }
  const std::string end = "scan end," + root + ",,,,,\"checked 0 B, files checked " + std::to_string(kFiles) +
                          ", opening errors " +
                          std::to_string(kFiles) + ", ";
  EXPECT_EQ(lines.back().compare(time, end.size(), end), 0) << lines.back();
}

}  // namespace
