// What the user does to the window: typing a path, pressing Start or Stop,
// closing. And the start of a scan.
#include <cstdlib>

#include "app/shell.h"
#include "platform/listing.h"
#include "scan/error_list.h"
#include "platform/memory.h"
#include "scan/scan.h"
#include "settings/settings.h"
#include "settings/settings_file.h"

char* readBuffer;
int64_t readBufferSize;
HANDLE WorkerHandle;

namespace {

// Whether readBuffer came from allocateAlignedMemory rather than malloc.
bool readBufferAligned;

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
  if (readBufferAligned) {
    releaseAlignedMemory(readBuffer);
  } else {
    std::free(readBuffer);
  }
  readBuffer = nullptr;
  readBufferSize = 0;
  readBufferAligned = false;
}

void startScan() {
  Text path = pathEditText();
  if (!drivePathReachable(path)) return;
  saveSettings(settings);
  refreshSettingsLine(settings);
  // A list that cannot be opened refuses the start and says why; what an
  // earlier failure left in the file line goes once a start gets past it.
  bool failureShown = !errorListFailure().empty();
  Text failure;
  if (openErrorList(settings.errorList, &failure) != 0) {
    setWindowText(FileLine, failure);
    return;
  }
  if (failureShown) setWindowText(FileLine, Text());
  EnableWindow(PathEdit, FALSE);
  SetWindowTextA(StartButton, "Stop");

  releaseReadBuffer();
  ScanBufferNeed need = scanBufferNeed(settings);
  readBufferAligned = need.aligned;
  readBuffer = need.aligned ? allocateAlignedMemory(need.size)
                            : static_cast<char*>(std::malloc(static_cast<std::size_t>(need.size)));
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

LRESULT CALLBACK mainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_DESTROY: {
      RECT outer = {};
      GetWindowRect(window, &outer);
      settings.windowX = static_cast<int16_t>(outer.left);
      settings.windowY = static_cast<int16_t>(outer.top);
      PostQuitMessage(0);
      return 0;
    }
    case kStatusTextsMessage:
    case kStatusTextsFlush:
    case WM_TIMER:
      showStatusTexts(message);
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
