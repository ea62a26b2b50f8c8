// The console program's side of the engine's window: the root folder goes
// in as the path text, and the worker's two status lines come out.
#pragma once

#include "common/text.h"

// The text that the scan reads as its path; set before the worker starts.
void setScanPath(const Text& path);

// Called on the worker thread at each text the worker hands over, before
// it is handed over; set before the worker starts (nullptr: none).
void setStatusTextHook(void (*hook)());

// Main thread: the newest counters line and file line the worker wrote.
// Each is changed only when a newer one came; returns whether one did.
bool takeStatusTexts(Text* counters, Text* file);
