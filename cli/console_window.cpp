// The engine's window for a console: the path is the root folder handed
// over before the worker starts; the file line and the counters line go to
// the main thread through slots that never make the worker wait, each after
// the status-text hook (the monitoring's counts); the title, the button and
// the settings line have nowhere to go.
#include "cli/status_texts.h"
#include "common/text_slot.h"
#include "platform/window.h"

namespace {

Text scanPath;
void (*statusTextHook)() = nullptr;
TextSlot fileLineSlot;
TextSlot countersLineSlot;

bool takeInto(TextSlot& slot, Text* text) {
  const char* fresh = slot.take();
  if (!fresh) return false;
  *text = Text(fresh);
  return true;
}

}  // namespace

void setScanPath(const Text& path) { scanPath = path; }

void setStatusTextHook(void (*hook)()) { statusTextHook = hook; }

bool takeStatusTexts(Text* counters, Text* file) {
  bool taken = takeInto(countersLineSlot, counters);
  return takeInto(fileLineSlot, file) || taken;
}

Text readControlText(Control control) { return control == Control::PathEdit ? scanPath : Text(); }

// Each status text is also a moment to look at the counts: the worker is
// between checks, and the every-file mode hands one over at every cycle's
// start.
void setControlText(Control control, const Text& text) {
  if (statusTextHook) statusTextHook();
  if (control == Control::FileLine) fileLineSlot.put(text);
  if (control == Control::CountersLine) countersLineSlot.put(text);
}

void enableControl(Control, bool) {}

void showMainWindowNormal() {}
