// The scan worker's view of the window: the calls land in the controls of
// the GUI thread, which the window system runs on that thread.
// The control names are declared before the handles of the same names.
#include "platform/window.h"
// (keep this order)
#include "app/shell.h"

namespace {

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

}  // namespace

Text readControlText(Control control) {
  char buffer[260] = {};
  GetWindowTextA(handleOf(control), buffer, sizeof buffer);
  return textToString(buffer);
}

void setControlText(Control control, const Text& text) {
  SetWindowTextA(handleOf(control), text.c_str());
}

void enableControl(Control control, bool enabled) {
  EnableWindow(handleOf(control), enabled ? TRUE : FALSE);
}

void showMainWindowNormal() { ShowWindow(MainWindow, SW_SHOWNORMAL); }
