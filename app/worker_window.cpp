// The scan worker's view of the window: the calls land in the controls of
// the GUI thread, which the window system runs on that thread.
// The control names are declared before the handles of the same names.
#include "platform/window.h"
// (keep this order)
#include "app/shell.h"
#include "platform/win32/wide.h"

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

// Control texts come through a buffer of 260 bytes and are cut to 255.
Text windowText(HWND window) {
  char buffer[260] = {};
  GetWindowTextA(window, buffer, sizeof buffer);
  return Text(codePageToUtf8(buffer, GetACP()));
}

void setWindowText(HWND window, const Text& text) {
  SetWindowTextA(window, utf8ToCodePage(text.view(), GetACP()).c_str());
}

Text readControlText(Control control) { return windowText(handleOf(control)); }

void setControlText(Control control, const Text& text) { setWindowText(handleOf(control), text); }

void enableControl(Control control, bool enabled) {
  EnableWindow(handleOf(control), enabled ? TRUE : FALSE);
}

void showMainWindowNormal() { ShowWindow(MainWindow, SW_SHOWNORMAL); }
