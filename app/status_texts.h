// The worker's status texts on their way to the window: the file line, the
// counters line and the title. The worker leaves the newest text of each in
// a slot and never waits for the window; the GUI thread shows the newest
// ones at once after a quiet spell and then at most kStatusTextsPerSecond
// times a second, for as long as new ones come. Portable: the front end
// supplies the four hooks at the bottom.
#pragma once

#include "common/text.h"
#include "platform/window.h"

constexpr unsigned kStatusTextsPerSecond = 25;

// Whether the control's texts go through a slot: FileLine, CountersLine and
// MainWindow (the title).
bool hasStatusSlot(Control control);

// Worker: the newest text of a control that has a slot. Wakes the GUI
// thread (postStatusTexts) unless a wake-up or a tick is on its way.
void putStatusText(Control control, const Text& text);

// GUI thread: what woke it.
enum class StatusTextsEvent {
  Posted,  // the worker's wake-up
  Tick,    // the pacing timer
  Flush,   // the worker waits until every text put so far is shown
};

// GUI thread: shows the newest texts and paces the next ones.
void showStatusTexts(StatusTextsEvent event);

// --- hooks, defined by the front end --------------------------------------------

// Worker: has showStatusTexts(Posted) run on the GUI thread soon.
void postStatusTexts();
// GUI thread: has showStatusTexts(Tick) run every 1/kStatusTextsPerSecond
// seconds from now on, restarting the period when it runs already.
void startPacingTimer();
void stopPacingTimer();
// GUI thread: the text into its control.
void showStatusText(Control control, const char* text);
