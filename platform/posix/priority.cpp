#include "platform/priority.h"

#include <errno.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

// The I/O class is set with the system call itself: the C library has no
// wrapper for it. Linux honours the idle class only under the BFQ (and the
// former CFQ) scheduler; under mq-deadline, none or kyber it is accepted
// and has no effect. The processor priority is the thread's own nice value
// (setpriority on a thread id changes that thread alone).
int enterBackgroundMode() {
#ifdef SYS_ioprio_set
  constexpr int kWhoProcess = 1;  // IOPRIO_WHO_PROCESS: one thread, by its id
  constexpr int kClassIdle = 3;   // IOPRIO_CLASS_IDLE
  constexpr int kClassShift = 13;
  long tid = syscall(SYS_gettid);
  if (syscall(SYS_ioprio_set, kWhoProcess, static_cast<int>(tid), kClassIdle << kClassShift) != 0) return errno;
  if (setpriority(PRIO_PROCESS, static_cast<id_t>(tid), 19) != 0) return errno;
  return 0;
#else
  if (setpriority(PRIO_PROCESS, 0, 19) != 0) return errno;
  return ENOSYS;
#endif
}
