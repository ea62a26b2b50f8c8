// Interrupts and the status texts' way to the main thread: the two places
// where the console program's threads meet.
#include "cli/interrupt.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <string>
#include <thread>

#include "cli/console.h"
#include "cli/status_texts.h"
#include "platform/window.h"
#include "scan/engine.h"
#include "scan/scan.h"

#ifndef _WIN32
#include <signal.h>
#endif

// The count lasts for the life of the process, so one test sees it all.
TEST(Interrupt, TheFirstStopsTheScanTheSecondEndsTheProgram) {
  Scan = ScanRecord{};
  prepareScan(Settings(), nullptr, 0, 1);
  ScanState.store(1);
  EXPECT_FALSE(interruptRequested());
  EXPECT_FALSE(noteInterrupt());
  EXPECT_EQ(ScanState.load(), -1);
  EXPECT_EQ(scanResult().stoppedBy, StopReason::User);
  EXPECT_TRUE(interruptRequested());
  EXPECT_TRUE(noteInterrupt());
  ScanState.store(0);
}

#ifndef _WIN32
// In a fresh process: SIGINT stops the scan and the program goes on; the
// second ends it with 130. SIGTERM counts the same.
TEST(InterruptDeathTest, SignalsStopTheScanThenEndTheProgram) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  const struct {
    int first;
    int second;
  } cases[] = {{SIGINT, SIGINT}, {SIGINT, SIGTERM}, {SIGTERM, SIGINT}};
  for (const auto& c : cases) {
    EXPECT_EXIT(
        {
          if (installInterruptHandlers() != 0) _exit(3);
          ScanState.store(1);
          raise(c.first);
          if (ScanState.load() != -1) _exit(4);
          raise(c.second);
          _exit(5);
        },
        testing::ExitedWithCode(130), "")
        << c.first << " then " << c.second;
  }
}
#endif

// The worker writes texts as fast as it can while the main thread takes
// them: every text taken is whole, one that was written, and none comes
// back older than one taken before. The last one written is always taken.
TEST(StatusTexts, TheMainThreadGetsTheNewestWholeTexts) {
  constexpr int kTexts = 20000;
  auto counters = [](int i) {
    Text t("checked ");
    t.appendInt(i);
    return t;
  };
  auto file = [](int i) {
    Text t("\"/file ");
    t.appendInt(i);
    t.append(std::string(200, 'x'));
    return t;
  };
  std::atomic<bool> done{false};
  std::thread worker([&] {
    for (int i = 1; i <= kTexts; ++i) {
      setControlText(Control::CountersLine, counters(i));
      setControlText(Control::FileLine, file(i));
      setControlText(Control::MainWindow, "ignored");
    }
    done.store(true);
  });
  Text c, f;
  int lastCounters = 0;
  int lastFile = 0;
  // The number in a text taken, after its `prefix`; 0 while none came.
  auto numberIn = [](const Text& text, std::size_t prefix) {
    return text.size() > prefix ? std::atoi(text.c_str() + prefix) : 0;
  };
  auto check = [&] {
    if (!takeStatusTexts(&c, &f)) return;
    int i = numberIn(c, 8);
    int j = numberIn(f, 7);
    if (i > 0) {
      ASSERT_EQ(c, counters(i));
    }
    if (j > 0) {
      ASSERT_EQ(f, file(j));
    }
    ASSERT_GE(i, lastCounters);
    ASSERT_GE(j, lastFile);
    lastCounters = i;
    lastFile = j;
  };
  while (!done.load()) check();
  worker.join();
  check();
  EXPECT_EQ(lastCounters, kTexts);
  EXPECT_EQ(lastFile, kTexts);
  EXPECT_FALSE(takeStatusTexts(&c, &f));  // nothing new
}

TEST(StatusTexts, ThePathIsTheRootHandedOver) {
  setScanPath("/srv/share/");
  EXPECT_EQ(readControlText(Control::PathEdit), "/srv/share/");
  EXPECT_EQ(readControlText(Control::MainWindow), "");
}
