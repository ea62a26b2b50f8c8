// What the user does to the window: typing a path, pressing Start or Stop,
// closing. And the start of a scan.

// The control names are declared before the handles of the same names.
#include "app/status_texts.h"
// (keep this order)
#include "app/shell.h"
#include "platform/listing.h"
#include "platform/memory.h"
#include "scan/cycle_state.h"
#include "scan/error_list.h"
#include "scan/scan.h"
#include "settings/settings.h"
#include "settings/settings_file.h"

char* readBuffer;
int64_t readBufferSize;
HANDLE WorkerHandle;

namespace {

Text pathEditText() { return windowText(PathEdit); }

// A path naming a drive is used only when that drive shows at least one
// entry under its first three characters: "C:\data" looks at "C:\*.*",
// "C:x" at "C:x*.*", "C:" at "C:*.*".
bool drivePathReachable(const Text& path) {
  if (path.size() < 2 || path[1] != ':') return true;
  Text mask(path.view().substr(0, bytesOfCharacters(path.view(), 3)));
  mask += "*.*";
  ListHandle listing = kNoListing;
  ListEntry first;
  if (listFirst(mask.c_str(), &listing, &first) != 0) return false;
  listClose(listing);
  return true;
}

DWORD WINAPI scanWorkerMain(LPVOID) {
  runScan();
  return 0;
}

// A start that cannot have its buffer or its worker leaves the window as
// an idle one, like a refused drive.
void refuseStart() {
  closeErrorList();
  releaseReadBuffer();
  ScanState.store(0);
  SetWindowTextA(StartButton, "Start");
  EnableWindow(PathEdit, TRUE);
  if (IsIconic(MainWindow)) ShowWindow(MainWindow, SW_SHOWNORMAL);
}

}  // namespace

void releaseReadBuffer() {
  releaseAlignedMemory(readBuffer);
  readBuffer = nullptr;
  readBufferSize = 0;
}

void startScan() {
  Text path = pathEditText();
  if (!drivePathReachable(path)) return;
  saveSettings(settings);
  refreshSettingsLine(settings);
  // Settings reloaded since the last scan may want another width; it is
  // taken now, before the scan writes a line.
  applyLayout(settings);
  // A list that cannot be opened refuses the start and says why; what an
  // earlier failure left in the file line goes once a start gets past it.
  bool failureShown = !errorListFailure().empty() || !cycleStateFailure().empty();
  Text failure;
  if (openErrorList(settings.errorList, &failure) != 0) {
    setWindowText(FileLine, failure);
    return;
  }
  // So does a cycle state that cannot be written; one that cannot be used
  // begins a new cycle, and the file line says why until the scan's first
  // text takes its place.
  Text root = scanRootFolder(path, settings);
  if (openCycleState(settings.checkEveryFile ? settings.cycleState : Text(), root.view(), &failure) != 0) {
    closeErrorList();
    setWindowText(FileLine, failure);
    return;
  }
  Text notice = cycleStateNotice();
  if (!notice.empty()) {
    setWindowText(FileLine, notice);
  } else if (failureShown) {
    setWindowText(FileLine, Text());
  }
  EnableWindow(PathEdit, FALSE);
  SetWindowTextA(StartButton, "Stop");

  releaseReadBuffer();
  // One kind of buffer for every scan, aligned whether or not its reads
  // need it, so that giving it back needs no record of which it was.
  ScanBufferNeed need = scanBufferNeed(settings);
  readBuffer = allocateAlignedMemory(need.size);
  if (!readBuffer) {
    refuseStart();
    return;
  }
  readBufferSize = need.size;

  ScanState.store(1);
  // The scan works from its own copy of the settings, so the reloads while
  // it stops never change what it reads, and never the buffer's size.
  prepareScan(settings, readBuffer, readBufferSize, GetTickCount());
  if (settings.runMinimized) ShowWindow(MainWindow, SW_MINIMIZE);

  // The previous worker has ended (it set the idle state as its last act);
  // only its handle is left.
  if (WorkerHandle) CloseHandle(WorkerHandle);
  WorkerHandle = CreateThread(nullptr, 0, scanWorkerMain, nullptr, 0, nullptr);
  if (!WorkerHandle) refuseStart();
}

POINT workspaceToScreen(POINT point, const MONITORINFO& monitor) {
  return {point.x + monitor.rcWork.left - monitor.rcMonitor.left,
          point.y + monitor.rcWork.top - monitor.rcMonitor.top};
}

POINT closingPosition(HWND window) {
  WINDOWPLACEMENT placement = {};
  placement.length = sizeof placement;
  if (IsIconic(window) && GetWindowPlacement(window, &placement)) {
    POINT corner = {placement.rcNormalPosition.left, placement.rcNormalPosition.top};
    // A placement counts from the work area of the window's monitor (which
    // a task bar at the top or the left moves); a window position from
    // the monitor's corner.
    MONITORINFO monitor = {};
    monitor.cbSize = sizeof monitor;
    if (GetMonitorInfoA(MonitorFromWindow(window, MONITOR_DEFAULTTONEAREST), &monitor)) {
      corner = workspaceToScreen(corner, monitor);
    }
    return corner;
  }
  RECT outer = {};
  GetWindowRect(window, &outer);
  return {outer.left, outer.top};
}

LRESULT CALLBACK mainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_DESTROY: {
      POINT corner = closingPosition(window);
      settings.windowX = static_cast<int16_t>(corner.x);
      settings.windowY = static_cast<int16_t>(corner.y);
      PostQuitMessage(0);
      return 0;
    }
    case kStatusTextsMessage:
      showStatusTexts(StatusTextsEvent::Posted);
      return 0;
    case kStatusTextsFlush:
      showStatusTexts(StatusTextsEvent::Flush);
      return 0;
    case WM_TIMER:
      showStatusTexts(StatusTextsEvent::Tick);
      return 0;
    case WM_COMMAND: {
      HWND control = reinterpret_cast<HWND>(lParam);
      WORD notification = HIWORD(wParam);
      if (notification == EN_CHANGE && control == PathEdit && PathEdit) {
        settings.checkFiles = pathEditText();
      } else if (notification == BN_CLICKED && control == StartButton && StartButton) {
        int16_t state = ScanState.load();
        if (state == 0) {
          startScan();
        } else if (state == 1) {
          requestScanStop();
        }
      }
      break;
    }
    default:
      break;
  }
  return DefWindowProcA(window, message, wParam, lParam);
}
