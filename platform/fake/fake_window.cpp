#include <mutex>

#include "platform/fake/fake.h"

std::vector<std::string> WindowLog;
std::string FakePathText;

namespace {

// Several readers call the window at once.
std::mutex logLock;

void record(std::string line) {
  std::lock_guard<std::mutex> held(logLock);
  WindowLog.push_back(std::move(line));
}

}  // namespace

const char* controlName(Control control) {
  switch (control) {
    case Control::MainWindow: return "MainWindow";
    case Control::PathEdit: return "PathEdit";
    case Control::StartButton: return "StartButton";
    case Control::FileLine: return "FileLine";
    case Control::SettingsLine: return "SettingsLine";
    case Control::CountersLine: return "CountersLine";
  }
  return "?";
}

void resetFakeWindow() {
  std::lock_guard<std::mutex> held(logLock);
  WindowLog.clear();
  FakePathText.clear();
}

Text readControlText(Control control) {
  if (control == Control::PathEdit) return Text(FakePathText);
  return Text();
}

void setControlText(Control control, const Text& text) {
  record(std::string("text ") + controlName(control) + ": " + std::string(text.view()));
}

void enableControl(Control control, bool enabled) {
  record(std::string("enable ") + controlName(control) + ": " + (enabled ? "1" : "0"));
}

void showMainWindowNormal() { record("show normal"); }
