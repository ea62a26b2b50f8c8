// What the scan worker does to the main window. The worker's calls are
// carried over to the GUI thread by the window system and wait for it.
#pragma once

#include "common/text.h"

enum class Control { MainWindow, PathEdit, StartButton, FileLine, SettingsLine, CountersLine };

// The text of a control (at most its first 255 characters); for MainWindow
// its title.
Text readControlText(Control control);

// Sets the text of a control; for MainWindow its title.
void setControlText(Control control, const Text& text);

void enableControl(Control control, bool enabled);

// Shows the main window normally, restoring it when it is minimized.
void showMainWindowNormal();
