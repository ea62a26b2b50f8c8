// The window program inside this test program, below the window system:
// start-up and shutdown run here on the test's own thread, so that the
// window's class and fonts, where it is saved when closed minimized, the
// process's error mode and the message loop can be looked at directly.
// (Under Wine no process sees another's fonts or error mode, and a
// minimized window seen from outside keeps its normal rectangle.)
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/in_process_test_support.h"
#include "app/shell.h"
#include "common/test_support.h"

namespace {

struct Shell : InProcessProgram {};

TEST_F(Shell, StartUpTurnsTheSystemsErrorBoxesOff) {
  SetErrorMode(0);
  startWith({});
  const UINT quiet = SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX;
  EXPECT_EQ(GetErrorMode() & quiet, quiet);
  EXPECT_EQ(closeProgram(), 0);
}

TEST_F(Shell, WindowClass) {
  startWith({});
  WNDCLASSEXA windowClass = {};
  windowClass.cbSize = sizeof windowClass;
  ASSERT_TRUE(GetClassInfoExA(GetModuleHandleA(nullptr), "Readsweeper", &windowClass));
  EXPECT_EQ(windowClass.style, static_cast<UINT>(CS_VREDRAW | CS_HREDRAW | CS_DBLCLKS | CS_CLASSDC | CS_PARENTDC));
  EXPECT_EQ(windowClass.style, 0xCBu);
  EXPECT_EQ(windowClass.lpfnWndProc, mainWindowProc);
  EXPECT_EQ(windowClass.cbClsExtra, 0);
  EXPECT_EQ(windowClass.cbWndExtra, 0);
  EXPECT_EQ(windowClass.hIcon, nullptr);  // no instance and no name: no icon
  EXPECT_EQ(windowClass.hCursor, LoadCursorA(nullptr, IDC_ARROW));
  EXPECT_EQ(windowClass.hbrBackground, reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_BTNFACE + 1)));
  EXPECT_EQ(windowClass.lpszMenuName, nullptr);
  EXPECT_EQ(closeProgram(), 0);
}

TEST_F(Shell, EachControlHasItsFont) {
  startWith({"show setup"});
  const struct {
    const char* what;
    HWND control;
    LONG weight;
  } controls[] = {
      {"PathEdit", PathEdit, 900},       {"FileLine", FileLine, 900}, {"SettingsLine", SettingsLine, 0},
      {"CountersLine", CountersLine, 0}, {"VersionLine", VersionLine, 0}, {"StartButton", StartButton, 900},
  };
  for (const auto& c : controls) {
    SCOPED_TRACE(c.what);
    HFONT font = reinterpret_cast<HFONT>(SendMessageA(c.control, WM_GETFONT, 0, 0));
    ASSERT_NE(font, nullptr);
    EXPECT_EQ(font, c.weight == 900 ? BoldFont : NormalFont);
    LOGFONTA described = {};
    ASSERT_EQ(GetObjectA(font, sizeof described, &described), static_cast<int>(sizeof described));
    EXPECT_EQ(described.lfWeight, c.weight);
    EXPECT_EQ(described.lfHeight, 7);
    EXPECT_EQ(described.lfWidth, 5);
    EXPECT_EQ(described.lfItalic, 0);
    EXPECT_EQ(described.lfUnderline, 0);
    EXPECT_EQ(described.lfCharSet, ANSI_CHARSET);
    EXPECT_EQ(described.lfQuality, PROOF_QUALITY);
    EXPECT_EQ(described.lfPitchAndFamily, DEFAULT_PITCH | FF_DONTCARE);
    EXPECT_STREQ(described.lfFaceName, "MS Sans Serif");
  }
  EXPECT_NE(NormalFont, BoldFont);
  EXPECT_EQ(closeProgram(), 0);
}

// Closed while minimized, the window keeps the place it had before: the
// place it would be restored to, not its icon's.
TEST_F(Shell, AWindowClosedWhileMinimizedIsSavedWhereItWasRestored) {
  const struct {
    const char* what;
    bool minimize;
    bool moveWhileMinimized;
    const char* top;
    const char* left;
  } cases[] = {
      {"shown", false, false, "120", "300"},
      {"minimized", true, false, "120", "300"},
      // Where it would come back after a move made to its restored place.
      {"minimized, its restored place moved", true, true, "220", "500"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    startWith({"window horizontal position: 120", "window vertical position: 300"});
    if (c.minimize) {
      ShowWindow(MainWindow, SW_MINIMIZE);
      ASSERT_TRUE(IsIconic(MainWindow));
    }
    if (c.moveWhileMinimized) {
      WINDOWPLACEMENT placement = {};
      placement.length = sizeof placement;
      ASSERT_TRUE(GetWindowPlacement(MainWindow, &placement));
      OffsetRect(&placement.rcNormalPosition, 200, 100);
      ASSERT_TRUE(SetWindowPlacement(MainWindow, &placement));
      ASSERT_TRUE(IsIconic(MainWindow));
    }
    EXPECT_EQ(closeProgram(), 0);
    EXPECT_EQ(readTestFile("Readsweeper.ini"), lines({std::string("window horizontal position: ") + c.top,
                                                      std::string("window vertical position: ") + c.left}));
  }
}

TEST(ClosingPosition, WorkspaceCoordinatesCountFromTheWorkArea) {
  const struct {
    const char* what;
    RECT monitor;
    RECT work;
    POINT workspace;
    POINT screen;
  } cases[] = {
      {"task bar at the bottom", {0, 0, 1920, 1080}, {0, 0, 1920, 1040}, {300, 120}, {300, 120}},
      {"task bar at the left", {0, 0, 1920, 1080}, {48, 0, 1920, 1080}, {300, 120}, {348, 120}},
      {"task bar at the top of a second monitor", {1920, 0, 3840, 1080}, {1920, 40, 3840, 1080}, {0, 0},
       {0, 40}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    MONITORINFO monitor = {};
    monitor.cbSize = sizeof monitor;
    monitor.rcMonitor = c.monitor;
    monitor.rcWork = c.work;
    POINT screen = workspaceToScreen(c.workspace, monitor);
    EXPECT_EQ(screen.x, c.screen.x);
    EXPECT_EQ(screen.y, c.screen.y);
  }
}

// The loop's messages come from a script: a message, then what the script
// says, then the quit message should the loop still be asking.
BOOL scriptedAnswer = 0;
int questions = 0;

BOOL WINAPI scriptedMessages(LPMSG message, HWND, UINT, UINT) {
  ++questions;
  *message = {};
  if (questions == 1) return TRUE;  // a thread message that goes nowhere
  if (questions == 2) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return scriptedAnswer;
  }
  message->message = WM_QUIT;
  message->wParam = 77;
  return 0;
}

TEST(MessageLoop, EndsOnTheQuitMessageAndOnAFailure) {
  const struct {
    const char* what;
    BOOL second;
    int questions;
    int result;
  } cases[] = {
      {"the quit message", 0, 2, 0},
      {"a failure", -1, 2, ERROR_INVALID_WINDOW_HANDLE},
      {"a second message", TRUE, 3, 77},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    scriptedAnswer = c.second;
    questions = 0;
    EXPECT_EQ(runMessageLoop(scriptedMessages), c.result);
    EXPECT_EQ(questions, c.questions);
  }
}

// Closing during a scan: a worker that stops by itself is waited for; one
// that does not is ended by force and waited for again, and one that has not
// ended even then is reported as running, so that nothing it uses is
// touched. The stuck worker says it runs, then waits on an event that is
// never set. It is ended only once it runs its own code: with a thread
// killed while the system was still starting it, the test program could
// hang in its exit after every test had passed.
struct StuckWorkerEvents {
  HANDLE running;
  HANDLE never;
};

DWORD WINAPI stuckWorker(LPVOID parameter) {
  auto* events = static_cast<StuckWorkerEvents*>(parameter);
  SetEvent(events->running);
  return WaitForSingleObject(events->never, INFINITE);
}

HANDLE startStuckWorker(StuckWorkerEvents* events) {
  ResetEvent(events->running);
  HANDLE thread = CreateThread(nullptr, 0, stuckWorker, events, 0, nullptr);
  if (thread != nullptr) WaitForSingleObject(events->running, INFINITE);
  return thread;
}
DWORD WINAPI quickWorker(LPVOID) { return 0; }

// Every wait times out, as for a thread stuck where the system cannot end
// it at once; the calls are counted.
int timedOutWaits = 0;
DWORD WINAPI neverEnds(HANDLE, DWORD) {
  ++timedOutWaits;
  return WAIT_TIMEOUT;
}

TEST(EndWorker, WaitsForTheEndBeforeAnythingTheWorkerUsedIsTouched) {
  StuckWorkerEvents events = {CreateEventA(nullptr, TRUE, FALSE, nullptr), CreateEventA(nullptr, TRUE, FALSE, nullptr)};
  ASSERT_NE(events.running, nullptr);
  ASSERT_NE(events.never, nullptr);

  HANDLE quick = CreateThread(nullptr, 0, quickWorker, nullptr, 0, nullptr);
  EXPECT_EQ(endWorker(quick, 5000, WaitForSingleObject), WorkerEnd::ByItself);
  CloseHandle(quick);

  HANDLE stuck = startStuckWorker(&events);
  ASSERT_NE(stuck, nullptr);
  EXPECT_EQ(endWorker(stuck, 50, WaitForSingleObject), WorkerEnd::ByForce);
  EXPECT_EQ(WaitForSingleObject(stuck, 0), static_cast<DWORD>(WAIT_OBJECT_0));
  CloseHandle(stuck);

  stuck = startStuckWorker(&events);
  ASSERT_NE(stuck, nullptr);
  EXPECT_EQ(endWorker(stuck, 50, neverEnds), WorkerEnd::StillRunning);
  EXPECT_EQ(timedOutWaits, 2);  // before and after the end by force
  WaitForSingleObject(stuck, 5000);
  CloseHandle(stuck);
  CloseHandle(events.running);
  CloseHandle(events.never);
}

}  // namespace
