// Interrupts of the console program (Ctrl-C, termination signals), counted
// on whichever thread the system runs the handler: only lock-free atomics
// are touched, so the count is safe in a signal handler.
#pragma once

// Counts one interrupt. The first asks the scan to stop, as the Stop button
// does; returns true from the second on, when the caller must end the
// program at once.
bool noteInterrupt();

// Whether an interrupt came: a scan started afterwards is stopped at once.
bool interruptRequested();

// The exit code of a program ended by an interrupt.
constexpr int kInterruptExitCode = 130;
