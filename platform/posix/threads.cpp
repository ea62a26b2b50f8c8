#include "platform/threads.h"

#include <pthread.h>

#include <type_traits>

static_assert(std::is_same<pthread_t, ThreadHandle>::value, "a thread handle holds a pthread_t");

namespace {

struct Start {
  void (*main)(void*);
  void* argument;
};

// The start record goes to the new thread as its argument, which copies it
// and lets it go.
void* threadMain(void* start) {
  Start* s = static_cast<Start*>(start);
  Start copy = *s;
  delete s;
  copy.main(copy.argument);
  return nullptr;
}

}  // namespace

int startThread(void (*main)(void*), void* argument, ThreadHandle* thread) {
  Start* start = new Start{main, argument};
  pthread_t id;
  int error = pthread_create(&id, nullptr, threadMain, start);
  if (error != 0) {
    delete start;
    return error;
  }
  *thread = id;
  return 0;
}

void joinThread(ThreadHandle thread) { pthread_join(thread, nullptr); }
