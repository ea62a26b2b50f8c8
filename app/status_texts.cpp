// The hand-over of the status texts and its pacing.
//
// A worker that waited for every text would run at the pace of the GUI
// thread's scheduling and painting, which costs more than the reads
// themselves when files come from the cache; and a window repainted
// thousands of times a second shows nothing more than one repainted at the
// pace of the eye. So the worker only leaves texts in slots, and wakes the
// GUI thread when none is awaited: the first text after a quiet spell shows
// at once, the next ones on the ticks of a pacing timer, which stops at the
// first tick that finds nothing new. Texts that come between two ticks
// replace each other, so the window always shows the newest; an idle window
// has no timer.
#include "app/status_texts.h"

#include <atomic>

#include "common/text_slot.h"

namespace {

TextSlot fileLineSlot, countersLineSlot, titleSlot;

// Set by the worker when it wakes the GUI thread, cleared by the GUI thread
// when a tick finds nothing new: while it is set, a wake-up or a tick is on
// its way, and the worker wakes no one.
std::atomic<bool> textsAwaited{false};

TextSlot* slotOf(Control control) {
  switch (control) {
    case Control::FileLine: return &fileLineSlot;
    case Control::CountersLine: return &countersLineSlot;
    case Control::MainWindow: return &titleSlot;
    default: return nullptr;
  }
}

bool showSlot(TextSlot& slot, Control control) {
  const char* text = slot.take();
  if (!text) return false;
  showStatusText(control, text);
  return true;
}

// The newest texts into their controls; whether there was one.
bool showSlots() {
  bool shown = showSlot(fileLineSlot, Control::FileLine);
  shown = showSlot(countersLineSlot, Control::CountersLine) || shown;
  shown = showSlot(titleSlot, Control::MainWindow) || shown;
  return shown;
}

}  // namespace

bool hasStatusSlot(Control control) { return slotOf(control) != nullptr; }

void putStatusText(Control control, const Text& text) {
  TextSlot* slot = slotOf(control);
  if (!slot) return;
  slot->put(text);
  if (!textsAwaited.exchange(true)) postStatusTexts();
}

void showStatusTexts(StatusTextsEvent event) {
  bool shown = showSlots();
  if (event == StatusTextsEvent::Flush) return;
  // The worker's wake-up always (re)starts the pacing, even when a tick took
  // its text first: the worker has set the flag, and only a tick clears it.
  if (shown || event == StatusTextsEvent::Posted) {
    startPacingTimer();  // the next texts wait for the next tick
    return;
  }
  // A tick with nothing new: the pacing ends. A text put after the take
  // above found the flag still set and woke no one; it is shown now.
  stopPacingTimer();
  textsAwaited.store(false);
  if (showSlots() && !textsAwaited.exchange(true)) startPacingTimer();
}
