// A window that is not there: every call does nothing and every text reads
// empty, so a scan started on it takes its folder from "default init path:".
// The engine runs headless on it, at the cost of its own work alone.
#include "platform/window.h"

Text readControlText(Control) { return Text(); }

void setControlText(Control, const Text&) {}

void enableControl(Control, bool) {}

void showMainWindowNormal() {}
