// readsweeper-cli: the scan engine for unattended runs. The same engine as
// the window program, on a window of its own (console_window.cpp): the main
// thread hands the worker its settings, its buffer and its root, runs it,
// shows the newest status texts while it runs, and reports at the end.
#include <chrono>
#include <future>
#include <string>
#include <thread>

#include "cli/console.h"
#include "cli/event_log.h"
#include "cli/interrupt.h"
#include "cli/monitoring.h"
#include "cli/options.h"
#include "cli/report.h"
#include "cli/status_texts.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "platform/listing.h"
#include "platform/memory.h"
#include "scan/cycle_state.h"
#include "scan/error_list.h"
#include "scan/scan.h"

namespace {

constexpr auto kStatusInterval = std::chrono::milliseconds(100);  // ten lines a second at most
constexpr int kDefaultColumns = 80;

void tell(const std::string& message) { writeStandardError("readsweeper-cli: " + message + "\n"); }

int usageError(const std::string& problem) {
  tell(problem);
  return kExitUsage;
}

// The system's words for a code, without their closing full stop, and the code.
std::string errorWords(int code) {
  std::string words(errorText(code).view());
  if (!words.empty() && words.back() == '.') words.pop_back();
  return words + " (error " + std::to_string(code) + ")";
}

// Whether the root can be listed at all: once, before the scan, which would
// otherwise spin through empty passes.
int listRoot(const Text& root) {
  std::string pattern(root.view());
  pattern += "*.*";
  ListHandle listing = kNoListing;
  ListEntry first;
  int error = listFirst(pattern.c_str(), &listing, &first);
  if (error == 0) {
    listClose(listing);
    return 0;
  }
  return listingFoundNothing(error) ? 0 : error;
}

// The status line, rewritten in place: "\r", the line, and blanks over what
// is left of a longer line before it.
class StatusLine {
 public:
  void show(std::string_view counters, std::string_view file) {
    int columns = terminalColumns();
    std::string line = composeStatusLine(counters, file, columns > 0 ? columns : kDefaultColumns);
    std::size_t columnsUsed = terminalColumnsOf(line);
    std::string out = "\r" + line;
    if (columnsUsed < shown_) out.append(shown_ - columnsUsed, ' ');
    shown_ = columnsUsed;
    writeStandardError(out);
  }
  void clear() {
    if (shown_ == 0) return;
    writeStandardError("\r" + std::string(shown_, ' ') + "\r");
    shown_ = 0;
  }

 private:
  std::size_t shown_ = 0;
};

// Runs the worker to its end; with a status line, shows the newest texts
// at most ten times a second meanwhile, and looks in on the monitoring.
void runWorker(bool statusLine) {
  std::promise<void> ended;
  std::future<void> scanEnded = ended.get_future();
  std::thread worker([&ended] {
    runScan();
    ended.set_value();
  });
  if (statusLine || monitoringDuringScan()) {
    StatusLine line;
    Text counters, file;
    while (scanEnded.wait_for(kStatusInterval) != std::future_status::ready) {
      if (statusLine && takeStatusTexts(&counters, &file)) line.show(counters.view(), file.view());
      updateMonitoring();
    }
    line.clear();
  }
  worker.join();
}

int run(const std::vector<std::string>& arguments) {
  CommandLine line;
  std::string problem;
  if (!parseCommandLine(arguments, &line, &problem)) return usageError(problem);
  if (line.help) return writeStandardOutput(usageText()) == 0 ? kExitClean : kExitErrors;
  if (line.version) {
    std::string version = "readsweeper-cli " + std::string(versionText().view()) + "\n";
    return writeStandardOutput(version) == 0 ? kExitClean : kExitErrors;
  }
  if (line.registerEventSource) {
    std::string done;
    int failed = registerEventSource(&done);
    if (failed != 0) {
      return usageError("--register-event-source: " + errorWords(failed) + " (run it as an administrator)");
    }
    return writeStandardOutput(done + "\n") == 0 ? kExitClean : kExitErrors;
  }

  Settings s;
  int error = settingsOf(line, &s);
  if (error != 0) return usageError("--settings: cannot read \"" + line.settingsFile + "\": " + errorWords(error));
  Text root;
  if (!rootFolderOf(line.folder, &root, &problem)) return usageError(problem);

  error = installInterruptHandlers();
  if (error != 0) tell("Ctrl-C will end the program at once: " + errorWords(error));
  error = listRoot(root);
  if (error != 0) {
    std::string message = "cannot list \"" + std::string(root.view()) + "\": " + errorWords(error);
    tell(message);
    reportUnlistableRoot(line, root, message);
    return kExitUnlistable;
  }

  // Reads past the cache need a buffer aligned for the system's unbuffered
  // reads and wide enough for a block's aligned span; every scan gets one.
  ScanBufferNeed need = scanBufferNeed(s);
  char* buffer = allocateAlignedMemory(need.size);
  if (!buffer) return usageError("no memory for a buffer of " + std::to_string(need.size) + " bytes");
  // The worker writes the list's "scan start" and "scan end" lines and
  // closes it; a list that cannot be opened is a usage error.
  Text failure;
  if (openErrorList(s.errorList, &failure) != 0) {
    releaseAlignedMemory(buffer);
    return usageError(std::string(failure.view()));
  }
  // A state file that cannot be written refuses the start as the list
  // does; one that cannot be used only begins a new cycle, and says why.
  if (openCycleState(s.checkEveryFile ? s.cycleState : Text(), root.view(), &failure) != 0) {
    closeErrorList();
    releaseAlignedMemory(buffer);
    return usageError(std::string(failure.view()));
  }
  Text notice = cycleStateNotice();
  if (!notice.empty()) tell(std::string(notice.view()));
  if (!startMonitoring(line, root, s, &problem)) {
    closeErrorList();
    releaseAlignedMemory(buffer);
    return usageError(problem);
  }

  // An interrupt may already have come. prepareScan clears the stop reason,
  // so it goes first; then the state goes to 1, so that a stop asked for
  // from now on sticks; then the count tells of one asked for before.
  setScanPath(root);
  // The JSON result tells how long block reads took; only then are they
  // timed without a slow-read limit.
  keepReadTimes(line.json);
  prepareScan(s, buffer, need.size, tickCount());
  ScanState.store(1);
  if (interruptRequested()) requestScanStop(StopReason::User);
  runWorker(!line.quiet && standardErrorIsTerminal());
  releaseAlignedMemory(buffer);

  ScanResult result = scanResult();
  // The list may fail at its last line or at its close, after the scan has
  // stopped by a rule of its own: that failure is told and decides the
  // exit code all the same, unless the user interrupted.
  Text listFailure = errorListFailure();
  if (!listFailure.empty()) tell(std::string(listFailure.view()));
  if (result.backgroundRefusal != 0) {
    tell("background priority refused, the scan read at normal priority: " + errorWords(result.backgroundRefusal));
  }
  Text stateFailure = cycleStateFailure();
  if (!stateFailure.empty()) tell(std::string(stateFailure.view()));
  if (!line.quiet) tell(composeSummaryLine(result));
  int exitCode = exitCodeOf(result);
  if (!listFailure.empty() && exitCode != kInterruptExitCode) exitCode = kExitErrorList;
  if (line.json) {
    error = writeStandardOutput(composeJsonResult(result, root.view(), s.checkEveryFile));
    if (error != 0) {
      tell("cannot write the JSON result: " + errorWords(error));
      if (exitCode == kExitClean) exitCode = kExitErrors;
    }
  }
  finishMonitoring(result, exitCode);
  return exitCode;
}

}  // namespace

int main(int argc, char** argv) {
  prepareProcess();
  return run(commandLineArguments(argc, argv));
}
