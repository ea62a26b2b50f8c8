// The scan worker's view of the window.
//
// The three status texts (the file line, the counters line and the title)
// are handed to the GUI thread without the worker waiting for it: the
// worker leaves the newest text in a slot, and the GUI thread puts the
// newest text of each slot into its control, at once for the first text
// after a quiet spell (the worker posts a message) and then on the ticks of
// a pacing timer, at most kTextsPerSecond times a second, for as long as
// new texts come. A worker that waited for every text would run at the pace
// of the GUI thread's scheduling and painting, which costs more than the
// reads themselves when files are read from the cache; and a window
// repainted thousands of times a second shows nothing more than one
// repainted at the pace of the eye. Texts that come between two ticks
// replace each other, so the window always shows the newest; an idle window
// has no timer.
//
// The other calls (the path, the button, the edit box, showing the window)
// are made once per scan and stay synchronous. Before them the GUI thread
// takes the slots' newest texts, so the last counts of a scan are on screen
// before the button reads "Start" again.
//
// The control names are declared before the handles of the same names.
#include "platform/window.h"
// (keep this order)
#include <atomic>
#include <cstring>

#include "app/shell.h"
#include "platform/win32/wide.h"

namespace {

// Triple buffering between one writer (the worker) and one reader (the GUI
// thread), with no lock: the writer fills its own buffer and swaps it into
// the middle, marked fresh; the reader swaps a fresh middle out for its own.
// Neither ever touches the buffer the other holds.
struct TextSlot {
  static constexpr uint8_t kFresh = 4;
  char buffers[3][Text::kMax + 1] = {};
  std::atomic<uint8_t> middle{0};
  uint8_t back = 1;   // the worker's
  uint8_t front = 2;  // the GUI thread's

  // Worker: the newest text, in place of one not taken yet.
  void put(const Text& text) {
    std::memcpy(buffers[back], text.c_str(), text.size() + 1);
    uint8_t previous = middle.exchange(static_cast<uint8_t>(back | kFresh), std::memory_order_acq_rel);
    back = previous & 3;
  }

  // GUI thread: the newest text when one came since the last take.
  const char* take() {
    if ((middle.load(std::memory_order_acquire) & kFresh) == 0) return nullptr;
    uint8_t previous = middle.exchange(front, std::memory_order_acq_rel);
    front = previous & 3;
    return buffers[front];
  }
};

TextSlot fileLineSlot, countersLineSlot, titleSlot;

constexpr UINT kTextsPerSecond = 25;
constexpr UINT_PTR kPacingTimer = 1;

// Set by the worker when it posts the message, cleared by the GUI thread
// when a tick finds nothing new: while it is set, a message or a tick is
// on its way, and the worker posts nothing.
std::atomic<bool> textsAwaited{false};

TextSlot* slotOf(Control control) {
  switch (control) {
    case Control::FileLine: return &fileLineSlot;
    case Control::CountersLine: return &countersLineSlot;
    case Control::MainWindow: return &titleSlot;
    default: return nullptr;
  }
}

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

bool applySlot(TextSlot& slot, HWND window) {
  const char* text = slot.take();
  if (!text) return false;
  setWindowText(window, Text(text));
  return true;
}

// GUI thread: the newest texts into their controls; whether there was one.
bool applySlots() {
  bool applied = applySlot(fileLineSlot, FileLine);
  applied = applySlot(countersLineSlot, CountersLine) || applied;
  applied = applySlot(titleSlot, MainWindow) || applied;
  return applied;
}

// Worker: has the GUI thread take every text put so far, and waits for it.
void flushStatusTexts() { SendMessageA(MainWindow, kStatusTextsFlush, 0, 0); }

}  // namespace

void showStatusTexts(UINT message) {
  bool applied = applySlots();
  if (message == kStatusTextsFlush) return;
  // The worker's message always (re)starts the pacing, even when a tick took
  // its text first: the worker has set the flag, and only a tick clears it.
  if (applied || message == kStatusTextsMessage) {
    // The next texts wait for the next tick.
    SetTimer(MainWindow, kPacingTimer, 1000 / kTextsPerSecond, nullptr);
    return;
  }
  // A tick with nothing new: the pacing ends. A text put after the take
  // above found the flag still set and posted nothing; it is shown now.
  KillTimer(MainWindow, kPacingTimer);
  textsAwaited.store(false);
  if (applySlots() && !textsAwaited.exchange(true)) {
    SetTimer(MainWindow, kPacingTimer, 1000 / kTextsPerSecond, nullptr);
  }
}

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

void setControlText(Control control, const Text& text) {
  TextSlot* slot = slotOf(control);
  if (!slot) {
    flushStatusTexts();
    setWindowText(handleOf(control), text);
    return;
  }
  slot->put(text);
  if (!textsAwaited.exchange(true)) PostMessageA(MainWindow, kStatusTextsMessage, 0, 0);
}

void enableControl(Control control, bool enabled) {
  flushStatusTexts();
  EnableWindow(handleOf(control), enabled ? TRUE : FALSE);
}

void showMainWindowNormal() {
  flushStatusTexts();
  ShowWindow(MainWindow, SW_SHOWNORMAL);
}
