// The scan worker's view of the window, over Win32: the status texts go
// through their slots (status_texts.cpp), woken by a posted message and
// paced by a timer of the main window; the other calls (the path, the
// button, the edit box, showing the window) are made once per scan and stay
// synchronous. Before them the GUI thread takes the slots' newest texts, so
// the last counts of a scan are on screen before the button reads "Start"
// again.
//
// The control names are declared before the handles of the same names.
#include "platform/window.h"
// (keep this order)
#include "app/shell.h"
#include "app/status_texts.h"

namespace {

constexpr UINT_PTR kPacingTimer = 1;

HWND handleOf(Control control) {
  switch (control) {
    case Control::MainWindow: return MainWindow;
    case Control::PathEdit: return PathEdit;
    case Control::StartButton: return StartButton;
    case Control::FileLine: return FileLine;
    case Control::SettingsLine: return SettingsLine;
    case Control::CountersLine: return CountersLine;
  }
  return nullptr;
}

// Worker: has the GUI thread show every text put so far, and waits for it.
void flushStatusTexts() { SendMessageA(MainWindow, kStatusTextsFlush, 0, 0); }

}  // namespace

void postStatusTexts() { PostMessageA(MainWindow, kStatusTextsMessage, 0, 0); }

void startPacingTimer() { SetTimer(MainWindow, kPacingTimer, 1000 / kStatusTextsPerSecond, nullptr); }

void stopPacingTimer() { KillTimer(MainWindow, kPacingTimer); }

void showStatusText(Control control, const char* text) { setWindowText(handleOf(control), Text(text)); }

Text readControlText(Control control) { return windowText(handleOf(control)); }

void setControlText(Control control, const Text& text) {
  if (hasStatusSlot(control)) {
    putStatusText(control, text);
    return;
  }
  flushStatusTexts();
  setWindowText(handleOf(control), text);
}

void enableControl(Control control, bool enabled) {
  flushStatusTexts();
  EnableWindow(handleOf(control), enabled ? TRUE : FALSE);
}

void showMainWindowNormal() {
  flushStatusTexts();
  ShowWindow(MainWindow, SW_SHOWNORMAL);
}
