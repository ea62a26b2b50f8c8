#include "platform/threads.h"

#include <windows.h>

namespace {

struct Start {
  void (*main)(void*);
  void* argument;
};

DWORD WINAPI threadMain(LPVOID start) {
  Start* s = static_cast<Start*>(start);
  Start copy = *s;
  delete s;
  copy.main(copy.argument);
  return 0;
}

}  // namespace

int startThread(void (*main)(void*), void* argument, ThreadHandle* thread) {
  Start* start = new Start{main, argument};
  HANDLE handle = CreateThread(nullptr, 0, threadMain, start, 0, nullptr);
  if (handle == nullptr) {
    DWORD error = GetLastError();
    delete start;
    return error != 0 ? static_cast<int>(error) : 1;
  }
  *thread = handle;
  return 0;
}

void joinThread(ThreadHandle thread) {
  WaitForSingleObject(static_cast<HANDLE>(thread), INFINITE);
  CloseHandle(static_cast<HANDLE>(thread));
}
