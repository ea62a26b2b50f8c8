// The window program started inside a test program, below the window
// system: its start-up and shutdown run on the test's own thread, with a
// settings file the test writes in a folder of its own.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/shell.h"
#include "common/test_support.h"

// The lines of a settings file as the program writes them.
inline std::string lines(const std::vector<std::string>& content) {
  std::string text;
  for (const std::string& line : content) text += line + "\r\n";
  return text;
}

struct InProcessProgram : ::testing::Test {
  ScopedTempDir dir;

  void startWith(const std::vector<std::string>& settingsFile) {
    writeTestFile("Readsweeper.ini", lines(settingsFile));
    startProgram();
    ASSERT_NE(MainWindow, nullptr);
  }

  // Closes the window as the user would, runs the loop to its end and
  // shuts the program down; returns the loop's result.
  int closeProgram() {
    PostMessageA(MainWindow, WM_CLOSE, 0, 0);
    int result = runMessageLoop(GetMessageA);
    endProgram();
    return result;
  }
};
