// The worker's status texts reach the window without the worker waiting for
// it, paced by a timer: they keep coming during a scan, the last counts are
// on screen by the time the button reads "Start", and the timer stops with
// the scan.
#include "app/e2e_support.h"

namespace e2e {
namespace {

void makeFiles(const std::string& folder, int count) {
  for (int i = 0; i < count; ++i) writeFileBytes(folder + "f" + std::to_string(i) + ".bin", std::string(700, 'x'));
}

TEST_F(Readsweeper, StatusTextsFollowAScanAndEndWithItsLastCounts) {
  makeFiles(data, 40);
  // One-byte blocks: the scan stops at exactly the limit.
  writeIni({"check files: " + data, "stop after checked: 3000", "window refresh: 100", "show checked bytes", "show full file size",
            "show open errors", "show read errors", "show file name"});
  start();
  press();
  // Texts change while the scan runs.
  std::string first;
  ASSERT_TRUE(waitUntil([&] { return !(first = textOf(countersLine)).empty(); }));
  EXPECT_TRUE(waitUntil([&] { return idle() || textOf(countersLine) != first; }));
  EXPECT_TRUE(waitUntil([&] { return textOf(fileLine).rfind('"' + data, 0) == 0; })) << textOf(fileLine);
  ASSERT_TRUE(waitUntil([&] { return idle(); }, 60000));
  // The first look after the button reads "Start" again.
  EXPECT_EQ(textOf(countersLine), "checked 3000B, opening errors: 0, reading errors: 0");
  EXPECT_EQ(closeAndWait(), 0);
}

TEST_F(Readsweeper, IdleAfterAScanUsesNoProcessorTime) {
  makeFiles(data, 40);
  writeIni({"check files: " + data, "window refresh: 100", "show checked bytes", "show file name"});
  start();
  startScanByButton();
  Sleep(500);
  stopScanByButton();
  // The last tick of the pacing timer comes within a few hundredths.
  Sleep(300);
  double before = cpuMs(process.hProcess);
  Sleep(1500);
  double after = cpuMs(process.hProcess);
  ASSERT_GE(before, 0);
  // Wine counts a process's time in ticks of 10 ms, and its own threads may
  // take one; a window that polled or a worker left running takes hundreds.
  EXPECT_LE(after - before, 20);
  EXPECT_EQ(closeAndWait(), 0);
}

}  // namespace
}  // namespace e2e
