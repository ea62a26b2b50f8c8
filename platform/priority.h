// The system's background mode for the calling thread: the lowest disk and
// processor priority it gives, so that a scan stays out of the way of the
// programs in use.
#pragma once

// Puts the calling thread in the background mode for the rest of its life.
// Returns 0, or the system's error code when it refused; the thread then
// goes on at its normal priority.
int enterBackgroundMode();
