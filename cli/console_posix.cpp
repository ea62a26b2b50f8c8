#include <errno.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <unistd.h>


#include "cli/console.h"
#include "cli/interrupt.h"

namespace {

int writeAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    ssize_t n = write(fd, bytes.data(), bytes.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
  return 0;
}

// Runs on whichever thread the signal reaches; touches only atomics, and
// _exit is safe in a handler.
void onSignal(int) {
  if (noteInterrupt()) _exit(kInterruptExitCode);
}

}  // namespace

// A closed pipe on standard output or error (| head) is a failed write
// like any other, reported by its code, not a signal that ends the program.
void prepareProcess() { signal(SIGPIPE, SIG_IGN); }

std::vector<std::string> commandLineArguments(int argc, char** argv) {
  return std::vector<std::string>(argv + (argc > 0 ? 1 : 0), argv + argc);
}

int writeStandardOutput(std::string_view utf8) { return writeAll(STDOUT_FILENO, utf8); }

int writeStandardError(std::string_view utf8) { return writeAll(STDERR_FILENO, utf8); }

bool standardErrorIsTerminal() { return isatty(STDERR_FILENO) == 1; }

int terminalColumns() {
  winsize size{};
  if (ioctl(STDERR_FILENO, TIOCGWINSZ, &size) != 0) return 0;
  return size.ws_col;
}

int installInterruptHandlers() {
  struct sigaction action {};
  action.sa_handler = onSignal;
  sigemptyset(&action.sa_mask);
  // A read of the scan that the signal interrupts goes on: the stop comes
  // after the current block, as from the Stop button.
  action.sa_flags = SA_RESTART;
  if (sigaction(SIGINT, &action, nullptr) != 0) return errno;
  if (sigaction(SIGTERM, &action, nullptr) != 0) return errno;
  return 0;
}

bool listingFoundNothing(int) { return false; }

std::string systemFolderForm(std::string_view folder) { return std::string(folder); }
