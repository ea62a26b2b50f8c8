// Readsweeper.exe driven from outside, the way a user drives it: each test
// starts the real program in a fresh working folder with a prepared
// settings file and file tree, then finds its window, types, presses the
// button, reads what the window shows, closes it and looks at the settings
// file it leaves behind.
#include "e2e_support.h"

namespace {

using namespace e2e;

TEST_F(Readsweeper, LayoutWithoutSettingsSummary) {
  writeIni({"window horizontal position: 120", "window vertical position: 300"});
  start();

  EXPECT_EQ(textOf(main), "Readsweeper");
  RECT outer = {};
  GetWindowRect(main, &outer);
  // The crossed keys: the "horizontal" one holds the top edge.
  EXPECT_EQ(outer.left, 300);
  EXPECT_EQ(outer.top, 120);
  EXPECT_EQ(outer.right - outer.left, 400);
  EXPECT_EQ(outer.bottom - outer.top, 140);
  LONG style = GetWindowLongA(main, GWL_STYLE);
  EXPECT_EQ(style & (WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_MAXIMIZEBOX | WS_THICKFRAME),
            WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX);

  const char* classes[] = {"Edit", "Static", "Static", "Static", "Static", "Button"};
  std::vector<HWND> children = childrenOf(main);
  for (size_t i = 0; i < 6; ++i) {
    EXPECT_EQ(classOf(children[i]), classes[i]) << "control " << i;
    EXPECT_TRUE(IsWindowVisible(children[i])) << "control " << i;
    EXPECT_EQ(GetWindowLongA(children[i], GWL_ID), 0) << "control " << i;
  }
  EXPECT_EQ(GetWindowLongA(pathEdit, GWL_EXSTYLE) & 0x10200, 0x10200);
  EXPECT_EQ(GetWindowLongA(pathEdit, GWL_STYLE) & (WS_TABSTOP | ES_AUTOHSCROLL), 0);
  EXPECT_EQ(GetWindowLongA(button, GWL_STYLE) & (WS_TABSTOP | BS_CENTER), WS_TABSTOP | BS_CENTER);

  RECT client = {};
  GetClientRect(main, &client);
  struct Expected { HWND control; LONG x, y, width, height; } places[] = {
      {pathEdit, 10, 20, 300, 20},
      {fileLine, 10, 50, 450, 15},
      {settingsLine, 10, 65, 450, 15},
      {countersLine, 10, 65, 450, 15},  // over the empty summary line
      {versionLine, 10, client.bottom - 17, 400, 15},
      {button, 320, 20, 60, 20},
  };
  for (const Expected& e : places) {
    RECT r = placeOf(e.control, main);
    EXPECT_EQ(r.left, e.x);
    EXPECT_EQ(r.top, e.y);
    EXPECT_EQ(r.right - r.left, e.width);
    EXPECT_EQ(r.bottom - r.top, e.height);
  }

  EXPECT_EQ(textOf(pathEdit), "");
  EXPECT_EQ(textOf(fileLine), "");
  EXPECT_EQ(textOf(settingsLine), "");
  EXPECT_EQ(textOf(countersLine), "");
  EXPECT_EQ(textOf(versionLine), "version 0.03.4");
  EXPECT_EQ(textOf(button), "Start");
  EXPECT_TRUE(IsWindowEnabled(pathEdit));
  EXPECT_TRUE(IsWindowEnabled(button));

  EXPECT_EQ(closeAndWait(), 0);
  EXPECT_EQ(ini(), lines({"window horizontal position: 120", "window vertical position: 300"}));
}

TEST_F(Readsweeper, LayoutWithSettingsSummaryAndSavedPath) {
  writeIni({"show setup", "check files: " + data, "bytes to read at once: 512",
            "stop after checked: 10485760"});
  start();
  EXPECT_EQ(textOf(settingsLine), "settings: 512 bytes at once, check 10MB");
  RECT counters = placeOf(countersLine, main);
  EXPECT_EQ(counters.top, 80);
  EXPECT_EQ(placeOf(settingsLine, main).top, 65);
  // The saved path waits for Start.
  EXPECT_EQ(textOf(pathEdit), data);
  settle();
  EXPECT_TRUE(idle());
  EXPECT_EQ(closeAndWait(), 0);
}

TEST_F(Readsweeper, StartAndStopReturnToIdle) {
  writeIni({"show checked bytes", "check files: old", "bytes to read at once: 100"});
  start();
  EXPECT_EQ(textOf(pathEdit), "old");
  type(data);
  startScanByButton();
  // The start saved the path.
  EXPECT_EQ(ini(), lines({"show checked bytes", "check files: " + data, "bytes to read at once: 100"}));
  ASSERT_TRUE(waitUntil([&] { return textOf(countersLine).rfind("checked ", 0) == 0; }));
  stopScanByButton();
  // Idle again: the button starts the next scan, and stops it.
  startScanByButton();
  stopScanByButton();
  EXPECT_EQ(closeAndWait(), 0);
}

TEST_F(Readsweeper, DriveProbe) {
  const std::string original = lines({"check files: before", "window horizontal position: 0",
                                      "window vertical position: 0"});
  writeFileBytes(iniPath(), original);
  start();

  // Drives that do not exist: silently refused, nothing saved.
  for (const char* path : {"Q:\\", "Q:\\data\\", "Q:"}) {
    type(path);
    press();
    settle();
    EXPECT_TRUE(idle()) << path;
    EXPECT_EQ(ini(), original) << path;
  }

  // A drive with entries in its root starts.
  type("C:\\");
  startScanByButton();
  EXPECT_EQ(ini(), lines({"check files: C:\\", "window horizontal position: 0",
                          "window vertical position: 0"}));
  stopScanByButton();

  // A drive letter and a colon alone look into that drive's current
  // folder, which is the working folder here.
  type("C:");
  startScanByButton();
  stopScanByButton();
  EXPECT_EQ(closeAndWait(), 0);
}

TEST_F(Readsweeper, InstantStartRefusedStaysIdle) {
  writeIni({"instant start", "check files: Q:\\"});
  start();
  settle();
  EXPECT_TRUE(idle());
  EXPECT_EQ(textOf(pathEdit), "Q:\\");
  EXPECT_EQ(closeAndWait(), 0);
  EXPECT_EQ(ini(), lines({"instant start", "check files: Q:\\"}));
}

TEST_F(Readsweeper, InstantStartMinimizedAndRestoredAtTheEnd) {
  writeIni({"instant start", "run minimized", "check files: " + data});
  start();
  ASSERT_TRUE(waitUntil([&] { return scanning() && IsIconic(main); }));
  stopScanByButton();
  EXPECT_TRUE(waitUntil([&] { return !IsIconic(main); }));
  EXPECT_EQ(closeAndWait(), 0);
}

TEST_F(Readsweeper, StopRuleEndsScanWithExactCountersAndTitle) {
  // One file of 5000 bytes read in blocks of 100: the limit of 1000 is met
  // exactly at the tenth read.
  removeTree(data + "sub\\");
  writeIni({"instant start", "check files: " + data, "bytes to read at once: 100",
            "stop after checked: 1000", "show checked bytes", "show checked bytes in percents",
            "show open errors", "show read errors", "window refresh: 1"});
  start();
  ASSERT_TRUE(waitUntil([&] { return idle() && !textOf(countersLine).empty(); }));
  EXPECT_EQ(textOf(countersLine), "checked 1000B (100%), opening errors: 0, reading errors: 0");
  EXPECT_EQ(textOf(main), "Readsweeper 100%");
  EXPECT_EQ(closeAndWait(), 0);
}

// Past the cache the blocks count as through it: whole blocks and no
// error. Each scan gets its buffer, the one before it released.
TEST_F(Readsweeper, ReadPastCacheChecksWholeBlocksWithoutErrors) {
  writeIni({"read past cache", "bytes to read at once: 100", "show checked bytes", "show open errors",
            "show read errors", "show full file size", "window refresh: 100"});
  start();
  type(data);
  for (int scan = 0; scan < 2; ++scan) {
    SCOPED_TRACE(scan);
    startScanByButton();
    ASSERT_TRUE(waitUntil([&] {
      std::string counters = textOf(countersLine);
      return counters.rfind("checked ", 0) == 0 && counters.rfind("checked 0B", 0) != 0;
    }));
    stopScanByButton();
    std::string counters = textOf(countersLine);
    const std::string tail = "00B, opening errors: 0, reading errors: 0";
    ASSERT_GT(counters.size(), tail.size());
    EXPECT_EQ(counters.substr(counters.size() - tail.size()), tail) << counters;
  }
  EXPECT_EQ(closeAndWait(), 0);
}

TEST_F(Readsweeper, TypedPathIsSavedAtClose) {
  writeIni({"note: kept as it is", "check files: old", "window horizontal position: 40",
            "window vertical position: 60", "check files: duplicate"});
  start();
  type("C:\\typed\\");
  // The window moved by the user: the closing place is what is saved.
  SetWindowPos(main, nullptr, 250, 90, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  ASSERT_TRUE(waitUntil([&] {
    RECT r;
    GetWindowRect(main, &r);
    return r.left == 250 && r.top == 90;
  }));
  EXPECT_EQ(closeAndWait(), 0);
  EXPECT_EQ(ini(), lines({"note: kept as it is", "check files: C:\\typed\\",
                          "window horizontal position: 90", "window vertical position: 250",
                          "check files: C:\\typed\\"}));
}

TEST_F(Readsweeper, NoSavedPositionOpensAtTheCorner) {
  writeIni({"window horizontal position: -1", "window vertical position: x"});
  start();
  RECT outer = {};
  GetWindowRect(main, &outer);
  EXPECT_EQ(outer.left, 0);
  EXPECT_EQ(outer.top, 0);
  EXPECT_EQ(closeAndWait(), 0);
  EXPECT_EQ(ini(), lines({"window horizontal position: 0", "window vertical position: 0"}));
}

TEST_F(Readsweeper, WithoutSettingsFileNothingIsCreated) {
  start();
  EXPECT_EQ(textOf(pathEdit), "");
  type(data);
  startScanByButton();
  stopScanByButton();
  EXPECT_EQ(closeAndWait(), 0);
  EXPECT_FALSE(exists(iniPath()));
  EXPECT_FALSE(exists(dir + "Readsweeper.tmp"));
}

TEST_F(Readsweeper, SettingsEditedDuringScanApplyToTheNextOne) {
  writeIni({"show setup", "check files: " + data});
  start();
  EXPECT_EQ(textOf(settingsLine), "settings: 1 bytes at once ");
  startScanByButton();
  // Edited by hand while the scan runs.
  writeIni({"show setup", "check files: " + data, "bytes to read at once: 512", "repeat read: 2"});
  settle();
  EXPECT_EQ(textOf(settingsLine), "settings: 1 bytes at once ");
  stopScanByButton();
  startScanByButton();
  EXPECT_EQ(textOf(settingsLine), "settings: 2x repeat read, 512 bytes at once ");
  stopScanByButton();
  EXPECT_EQ(closeAndWait(), 0);
}

// Edits made while the program is idle wait for the reload while the next
// scan stops: a start works with the settings the program holds.
TEST_F(Readsweeper, SettingsEditedWhileIdleWaitForTheNextStop) {
  writeIni({"show setup", "check files: " + data});
  start();
  writeIni({"show setup", "check files: " + data, "bytes to read at once: 512"});
  settle();
  startScanByButton();
  EXPECT_EQ(textOf(settingsLine), "settings: 1 bytes at once ");
  // The start rewrote the file and kept the edit in it.
  EXPECT_EQ(ini(), lines({"show setup", "check files: " + data, "bytes to read at once: 512"}));
  stopScanByButton();
  startScanByButton();
  EXPECT_EQ(textOf(settingsLine), "settings: 512 bytes at once ");
  stopScanByButton();
  EXPECT_EQ(closeAndWait(), 0);
}

TEST_F(FatalReport, SettingsFileThatIsAFolder) {
  ASSERT_TRUE(CreateDirectoryA(iniPath().c_str(), nullptr));
  launch();
  EXPECT_EQ(dismissReport("Runtime error 5 at 0x"), 5);
  EXPECT_EQ(topLevel("Readsweeper"), nullptr);
}

TEST_F(FatalReport, SettingsFileLockedAtStartUp) {
  const std::string content = lines({"show setup", "check files: C:\\"});
  writeFileBytes(iniPath(), content);
  HANDLE lock = CreateFileA(iniPath().c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(lock, INVALID_HANDLE_VALUE);
  launch();
  EXPECT_EQ(dismissReport("Runtime error 32 at 0x"), 32);
  CloseHandle(lock);
  EXPECT_EQ(ini(), content);
}

TEST_F(FatalReport, SettingsFileLockedAtScanStart) {
  const std::string content = lines({"check files: " + data});
  writeFileBytes(iniPath(), content);
  start();
  HANDLE lock = CreateFileA(iniPath().c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(lock, INVALID_HANDLE_VALUE);
  press();
  EXPECT_EQ(dismissReport("Runtime error 32 at 0x"), 32);
  CloseHandle(lock);
  EXPECT_EQ(ini(), content);
  EXPECT_FALSE(exists(dir + "Readsweeper.tmp"));
}

}  // namespace
