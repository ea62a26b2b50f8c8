// The window's layout below the window system, in this test program: every
// counters line the scan can compose, with counts of 7 digits and sizes in
// every unit, measured in the line's own font, fits the line, and the line
// fits the window; and without the keys that lengthen a line the window is
// laid out as it always was.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/in_process_test_support.h"
#include "app/shell.h"
#include "common/test_support.h"
#include "scan/engine.h"
#include "scan/scan.h"

namespace {

RECT placeOf(HWND control) {
  RECT rect = {};
  GetWindowRect(control, &rect);
  MapWindowPoints(nullptr, MainWindow, reinterpret_cast<POINT*>(&rect), 2);
  return rect;
}

RECT outerOf(HWND window) {
  RECT rect = {};
  GetWindowRect(window, &rect);
  return rect;
}

// What the text takes in the control's font, as the control draws it.
LONG extentIn(HWND control, const Text& text) {
  HDC dc = GetDC(control);
  HFONT font = reinterpret_cast<HFONT>(SendMessageW(control, WM_GETFONT, 0, 0));
  HGDIOBJ previous = SelectObject(dc, font ? static_cast<HGDIOBJ>(font) : GetStockObject(SYSTEM_FONT));
  std::wstring wide(text.view().begin(), text.view().end());  // the texts are ASCII
  SIZE size = {};
  EXPECT_TRUE(GetTextExtentPoint32W(dc, wide.c_str(), static_cast<int>(wide.size()), &size));
  SelectObject(dc, previous);
  ReleaseDC(control, dc);
  return size.cx;
}

struct Layout : InProcessProgram {};

// The display flags that decide the counters line's pieces.
const char* const kDisplayFlags[] = {"show checked bytes", "show checked bytes in percents",
                                     "measure reading speed", "show open errors",
                                     "show read errors", "show full file size"};
constexpr int kFlagCount = sizeof kDisplayFlags / sizeof kDisplayFlags[0];

void setDisplayFlag(Settings& s, int flag, bool on) {
  bool* fields[] = {&s.showCheckedBytes, &s.showCheckedBytesInPercents, &s.measureReadingSpeed,
                    &s.showOpenErrors,   &s.showReadErrors,             &s.showFullFileSize};
  *fields[flag] = on;
}

std::string flagNames(int mask) {
  std::string names;
  for (int flag = 0; flag < kFlagCount; ++flag) {
    if (mask & (1 << flag)) names += std::string(kDisplayFlags[flag]) + "; ";
  }
  return names.empty() ? "no display flag" : names;
}

// Checked bytes and speeds at the top of each unit (9999GB and 9999MB/s
// the largest: 14 digits in exact bytes), of 10 and 11 digits, and no
// speed yet; counts of 1 and of 7 digits.
constexpr int64_t kGiB = int64_t{1} << 30;
const int64_t kCheckedBytes[] = {1024, 1048576, kGiB, 9999 * kGiB, 2147483647, 99999999999};
const int64_t kSpeeds[] = {0, 1024, 1048576, 9999 * (int64_t{1} << 20), 2147483647};
const int64_t kCounts[] = {9, 9999999};

// For each combination of the display flags, as a scan start with them
// lays the window out: every counters line the scan composes fits.
void expectEveryCountersLineFits(Settings base) {
  RECT client = {};
  GetClientRect(MainWindow, &client);
  int checkedLines = 0;
  for (int mask = 0; mask < (1 << kFlagCount); ++mask) {
    SCOPED_TRACE(flagNames(mask));
    Settings s = base;
    for (int flag = 0; flag < kFlagCount; ++flag) setDisplayFlag(s, flag, (mask & (1 << flag)) != 0);
    settings = s;
    applyLayout(settings);
    GetClientRect(MainWindow, &client);
    RECT line = placeOf(CountersLine);
    ASSERT_LE(line.right, client.right) << "the counters line runs past the window";
    RECT lineClient = {};
    GetClientRect(CountersLine, &lineClient);
    ASSERT_LE(extentIn(SettingsLine, composeSettingsSummary(s)), lineClient.right);

    for (int64_t checked : kCheckedBytes) {
      for (int64_t speed : kSpeeds) {
        for (int64_t count : kCounts) {
          Scan.settings = s;
          // The limit just reached: 100 %.
          Scan.settings.stopAfterChecked = checked;
          Scan.checkedBytes = checked;
          Scan.currentSpeed = speed;
          lastSpeed = 0;
          Scan.openErrors = Scan.readErrors = count;
          Scan.cycle = Scan.coveredFiles = Scan.indexedFiles = count;
          Scan.slowReads = count;
          // A whole-file read two thirds through a file of that size.
          Readers[0].fileSize = checked;
          Readers[0].fileDone = checked / 3 * 2;
          Text text = composeCountersLine();
          EXPECT_LE(extentIn(CountersLine, text), lineClient.right) << text.view();
          ++checkedLines;
        }
      }
    }
  }
  EXPECT_EQ(checkedLines, 64 * 6 * 5 * 2);
}

// The settings of the window with everything in every-file mode: the
// summary line, and the limits it names at their longest.
std::vector<std::string> everyFileSettings() {
  return {"check every file",
          "show setup",
          "scan all files",
          "read past cache",
          "repeat read: 2147483647",
          "bytes to read at once: 2147483647",
          "stop after errors: 2147483647",
          "stop after cycles: 2147483647",
          "stop after seconds: 2147483647",
          "stop after checked: 2147483647",
          "window horizontal position: 40",
          "window vertical position: 60"};
}

TEST_F(Layout, EveryFileModeFitsEveryCountersLineInTheControlsFont) {
  startWith(everyFileSettings());
  ASSERT_TRUE(needsLongLayout(settings));
  EXPECT_GT(outerOf(MainWindow).right - outerOf(MainWindow).left, 400);
  expectEveryCountersLineFits(settings);
  EXPECT_EQ(closeProgram(), 0);
}

// Without its own font a static control draws in the system font, which
// is larger: the width is measured in whichever font the lines have.
TEST_F(Layout, EveryFileModeFitsEveryCountersLineInTheSystemFont) {
  // A summary that leaves the window within a screen 1280 pixels wide.
  startWith({"check every file", "show setup", "stop after checked: 2147483647", "show checked bytes"});
  LONG usual = outerOf(MainWindow).right - outerOf(MainWindow).left;
  for (HWND line : {FileLine, SettingsLine, CountersLine, VersionLine}) SendMessageA(line, WM_SETFONT, 0, 1);
  applyLayout(settings);
  EXPECT_GT(outerOf(MainWindow).right - outerOf(MainWindow).left, usual);
  expectEveryCountersLineFits(settings);
  EXPECT_EQ(closeProgram(), 0);
}

struct Place {
  const char* what;
  HWND control;
  LONG x, y, width, height;
};

void expectPlaces(const std::vector<Place>& places) {
  for (const Place& p : places) {
    SCOPED_TRACE(p.what);
    RECT r = placeOf(p.control);
    EXPECT_EQ(r.left, p.x);
    EXPECT_EQ(r.top, p.y);
    EXPECT_EQ(r.right - r.left, p.width);
    EXPECT_EQ(r.bottom - r.top, p.height);
  }
}

// Without the keys that lengthen a line, the window of 400 by 140 pixels
// and its controls are where they always were, at the program's start and
// at each scan start; a scan start after a reload that turned "check every
// file" on and then off again brings that window back.
TEST_F(Layout, WithoutTheLengtheningKeysTheWindowIsAsItAlwaysWas) {
  startWith({"show setup", "show checked bytes", "measure reading speed", "show open errors",
             "show read errors", "show checked bytes in percents", "stop after checked: 1000",
             "window horizontal position: 120", "window vertical position: 300"});
  ASSERT_FALSE(needsLongLayout(settings));
  auto expectUsualWindow = [&] {
    RECT outer = outerOf(MainWindow);
    EXPECT_EQ(outer.left, 300);
    EXPECT_EQ(outer.top, 120);
    EXPECT_EQ(outer.right - outer.left, 400);
    EXPECT_EQ(outer.bottom - outer.top, 140);
    expectPlaces({{"PathEdit", PathEdit, 10, 20, 300, 20},
                  {"FileLine", FileLine, 10, 50, 450, 15},
                  {"SettingsLine", SettingsLine, 10, 65, 450, 15},
                  {"CountersLine", CountersLine, 10, 80, 450, 15},
                  {"VersionLine", VersionLine, 10, ClientRect.bottom - 17, 400, 15},
                  {"StartButton", StartButton, 320, 20, 60, 20}});
  };
  expectUsualWindow();

  settings.checkEveryFile = true;
  applyLayout(settings);
  RECT wide = outerOf(MainWindow);
  EXPECT_GT(wide.right - wide.left, 400);
  // Wider to the right only: the corner the settings keep and the button
  // under the pointer stay.
  EXPECT_EQ(wide.left, 300);
  EXPECT_EQ(wide.top, 120);
  EXPECT_EQ(wide.bottom - wide.top, 140);
  RECT client = {};
  GetClientRect(MainWindow, &client);
  LONG lineWidth = client.right - 10;
  expectPlaces({{"PathEdit", PathEdit, 10, 20, 300, 20},
                {"FileLine", FileLine, 10, 50, lineWidth, 15},
                {"SettingsLine", SettingsLine, 10, 65, lineWidth, 15},
                {"CountersLine", CountersLine, 10, 80, lineWidth, 15},
                {"VersionLine", VersionLine, 10, ClientRect.bottom - 17, lineWidth, 15},
                {"StartButton", StartButton, 320, 20, 60, 20}});

  settings.checkEveryFile = false;
  applyLayout(settings);
  expectUsualWindow();

  // The walk's lines grow too with whole-file reads or slow reads.
  settings.readWholeFiles = true;
  applyLayout(settings);
  EXPECT_GT(outerOf(MainWindow).right - outerOf(MainWindow).left, 400);
  expectEveryCountersLineFits(settings);
  settings.readWholeFiles = false;
  settings.slowReadLimit = 100;
  applyLayout(settings);
  EXPECT_GT(outerOf(MainWindow).right - outerOf(MainWindow).left, 400);
  expectEveryCountersLineFits(settings);
  // Every piece at once: the cycle's coverage, the file's share and the
  // slow reads.
  settings.checkEveryFile = true;
  settings.readWholeFiles = true;
  applyLayout(settings);
  expectEveryCountersLineFits(settings);
  settings.checkEveryFile = false;
  settings.readWholeFiles = false;
  settings.slowReadLimit = 0;
  applyLayout(settings);
  expectUsualWindow();
  EXPECT_EQ(closeProgram(), 0);
}

// A scan start while the window is minimized widens the place it comes
// back to, not its icon.
TEST_F(Layout, AMinimizedWindowIsWidenedWhereItIsRestored) {
  startWith({"show checked bytes", "show open errors", "show read errors", "window horizontal position: 120",
             "window vertical position: 300"});
  ShowWindow(MainWindow, SW_MINIMIZE);
  ASSERT_TRUE(IsIconic(MainWindow));
  settings.checkEveryFile = true;
  applyLayout(settings);
  ASSERT_TRUE(IsIconic(MainWindow));
  ShowWindow(MainWindow, SW_SHOWNORMAL);
  RECT outer = outerOf(MainWindow);
  EXPECT_EQ(outer.left, 300);
  EXPECT_EQ(outer.top, 120);
  EXPECT_GT(outer.right - outer.left, 400);
  EXPECT_EQ(outer.bottom - outer.top, 140);
  EXPECT_EQ(closeProgram(), 0);
}

}  // namespace
