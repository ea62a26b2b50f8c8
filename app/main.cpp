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
  bool ended = WorkerHandle && WaitForSingleObject(WorkerHandle, kWorkerExitWaitMs) == WAIT_OBJECT_0;
  if (!ended) {
    if (WorkerHandle) TerminateThread(WorkerHandle, 0);
    // A worker that ended by itself closed the error list; one ended by
    // force leaves it to us. Every line it reported is in the file already.
    closeErrorList();
  }
  // A killed worker may have died inside the heap; its buffer is then left
  // to the end of the process.
  if (ended) releaseReadBuffer();
  // The position lines keep what the file holds: the closing position of a
  // window that was scanning is not saved.
  loadSettings(settings);
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  loadSettings(settings);
  registerWindowClass();
  MainWindow = createMainWindow();
  GetClientRect(MainWindow, &ClientRect);
  createControls();
  ScanState.store(0);
  lastSpeed = 0;
  applyStartupSettings();

  MSG message = {};
  while (GetMessageA(&message, nullptr, 0, 0)) {
    TranslateMessage(&message);
    DispatchMessageA(&message);
    // While a scan stops, hand edits of the settings file come in for the
    // next one.
    if (ScanState.load() < 0) loadSettings(settings);
  }

  if (ScanState.load() != 0) endRunningScan();
  saveSettings(settings);
  destroyControls();
  deleteFonts();
  return static_cast<int>(message.wParam & 0xFF);
}
