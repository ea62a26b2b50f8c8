// Threads of the scan's readers: started and waited for, nothing else.
#pragma once

#include <cstdint>

#ifdef _WIN32
using ThreadHandle = void*;
#else
using ThreadHandle = unsigned long;
#endif

// Runs `main(argument)` on a new thread. Returns 0, or the system's error
// code when no thread could be started.
int startThread(void (*main)(void*), void* argument, ThreadHandle* thread);

// Waits for a started thread to end and lets it go.
void joinThread(ThreadHandle thread);
