// Program entry: start-up, the one message loop, shutdown.
#include "app/shell.h"
#include "scan/error_list.h"
#include "scan/scan.h"
#include "settings/settings.h"
#include "settings/settings_file.h"

namespace {

// How long closing lets a running worker wind down before it is ended by
// force. The worker stops within one block read, so this bound is only met
// when something is badly stuck.
constexpr DWORD kWorkerExitWaitMs = 2000;

void applyStartupSettings() {
  // The edit box's change notification copies the text straight back into
  // checkFiles.
  if (!settings.checkFiles.empty()) setWindowText(PathEdit, settings.checkFiles);
  if (settings.instantStart) startScan();
}

// Closing while a scan runs or stops. The windows are gone, so the worker's
// last window calls find nothing and it ends within a block read. It is
// asked to stop and waited for a short while rather than killed at once: a
// thread killed inside the heap or a system call could leave a lock held,
// and the reload and the save below would then hang.
void endRunningScan() {
  requestScanStop();
  WorkerEnd end = WorkerHandle ? endWorker(WorkerHandle, kWorkerExitWaitMs, WaitForSingleObject) : WorkerEnd::ByForce;
  // A worker that ended by itself closed the error list; one ended by
  // force leaves it to us. Every line it reported is in the file already.
  // One that has not ended even so may still write: the list is left to
  // the end of the process, which closes it.
  if (end == WorkerEnd::ByForce) closeErrorList();
  // A killed worker may have died inside the heap; its buffer is then left
  // to the end of the process.
  if (end == WorkerEnd::ByItself) releaseReadBuffer();
  // The position lines keep what the file holds: the closing position of a
  // window that was scanning is not saved.
  loadSettings(settings);
}

}  // namespace

// TerminateThread only starts the end of the thread: it returns while the
// thread may still run, inside a write to the error list, say.
WorkerEnd endWorker(HANDLE worker, DWORD waitMs, ThreadWait wait) {
  if (wait(worker, waitMs) == WAIT_OBJECT_0) return WorkerEnd::ByItself;
  TerminateThread(worker, 0);
  return wait(worker, waitMs) == WAIT_OBJECT_0 ? WorkerEnd::ByForce : WorkerEnd::StillRunning;
}

void startProgram() {
  // A drive without a medium (a card reader, an optical drive) must fail a
  // probe or an open with an error code like any other: the system's "no
  // disk" box would stall the worker until someone clicked it.
  SetErrorMode(GetErrorMode() | SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
  loadSettings(settings);
  registerWindowClass();
  MainWindow = createMainWindow();
  GetClientRect(MainWindow, &ClientRect);
  createControls();
  ScanState.store(0);
  lastSpeed = 0;
  applyStartupSettings();
}

int runMessageLoop(MessageSource next) {
  MSG message = {};
  for (;;) {
    BOOL got = next(&message, nullptr, 0, 0);
    // 0 is the quit message. -1 is a failure, after which no message would
    // come: taken for one, it would spin the loop for ever.
    if (got == 0) return static_cast<int>(message.wParam & 0xFF);
    if (got < 0) {
      DWORD error = GetLastError();
      return error != 0 ? static_cast<int>(error) : 1;
    }
    TranslateMessage(&message);
    DispatchMessageA(&message);
    // While a scan stops, hand edits of the settings file come in for the
    // next one.
    if (ScanState.load() < 0) loadSettings(settings);
  }
}

void endProgram() {
  if (ScanState.load() != 0) endRunningScan();
  saveSettings(settings);
  destroyControls();
  deleteFonts();
}

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  startProgram();
  int exitCode = runMessageLoop(GetMessageA);
  endProgram();
  return exitCode;
}
