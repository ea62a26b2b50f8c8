// The Windows side of the console: Ctrl-C and Ctrl-Break cannot be sent to
// a program under Wine, so the handler's own code is called here.
#include "cli/console_win32.h"

#include <gtest/gtest.h>

#include "cli/console.h"
#include "cli/interrupt.h"
#include "scan/scan.h"

TEST(ConsoleWin32, OnlyCtrlCAndCtrlBreakAreHandled) {
  for (DWORD event : {CTRL_CLOSE_EVENT, CTRL_LOGOFF_EVENT, CTRL_SHUTDOWN_EVENT}) {
    EXPECT_FALSE(onConsoleControl(event)) << event;
  }
  EXPECT_FALSE(interruptRequested());
}

TEST(ConsoleWin32, CtrlBreakStopsTheScan) {
  prepareScan(Settings(), nullptr, 0, 1);
  ScanState.store(1);
  EXPECT_TRUE(onConsoleControl(CTRL_BREAK_EVENT));
  EXPECT_EQ(ScanState.load(), -1);
  EXPECT_TRUE(interruptRequested());
  ScanState.store(0);
}

TEST(ConsoleWin32, NoDialogForMissingMedia) {
  prepareProcess();
  EXPECT_EQ(GetErrorMode(), static_cast<UINT>(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX));
}

TEST(ConsoleWin32, AnEmptyDriveRootCanBeListed) {
  EXPECT_TRUE(listingFoundNothing(ERROR_FILE_NOT_FOUND));
  EXPECT_FALSE(listingFoundNothing(ERROR_PATH_NOT_FOUND));
  EXPECT_FALSE(listingFoundNothing(ERROR_ACCESS_DENIED));
}
