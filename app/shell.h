// The window side of the program: the main window and its controls, the
// window procedure, starting a scan, and the handles and state they share.
#pragma once

#include <windows.h>

#include <cstdint>

#include "common/text.h"

// Window handles, created once at start-up (main_window.cpp).
extern HWND MainWindow;
extern HWND PathEdit;
extern HWND FileLine;
extern HWND SettingsLine;
extern HWND CountersLine;
extern HWND VersionLine;
extern HWND StartButton;
extern HFONT NormalFont;
extern HFONT BoldFont;
// Client area of MainWindow as it was right after creation.
extern RECT ClientRect;

// The running scan's block buffer and the latest worker (window_proc.cpp).
extern char* readBuffer;
extern int64_t readBufferSize;
extern HANDLE WorkerHandle;

bool registerWindowClass();
HWND createMainWindow();
void createControls();
void destroyControls();
void deleteFonts();

HWND createEdit(int16_t x, int16_t y, int16_t width, int16_t height);
HWND createLabel(const char* text, int16_t x, int16_t y, int16_t width, int16_t height);
HWND createButton(const char* text, int16_t x, int16_t y, int16_t width, int16_t height,
                  bool enabled);
HFONT createControlFont(int32_t height, int32_t width, int32_t weight, const char* faceName,
                        bool underline);

// Control texts, UTF-8 inside (window_text.cpp). The "A" window calls speak
// the process's code page: UTF-8 under the manifest from Windows 10 version
// 1903 on; on older systems the legacy one, converted from and to here.
Text windowText(HWND window);
void setWindowText(HWND window, const Text& text);

// The scan worker's status texts (worker_window.cpp, status_texts.cpp):
// posted when a text waits after a quiet spell, sent when every text must
// be shown now. On these and on the ticks of the pacing timer (WM_TIMER)
// the main window shows the newest texts.
constexpr UINT kStatusTextsMessage = WM_APP + 1;
constexpr UINT kStatusTextsFlush = WM_APP + 2;

// The program's lifecycle (main.cpp): start-up up to the instant start, the
// one message loop, and everything after it. `next` is GetMessageA; the
// loop ends on the quit message, with the low byte of its parameter as the
// result, and on a failure, with the system's error code.
using MessageSource = BOOL(WINAPI*)(LPMSG, HWND, UINT, UINT);
void startProgram();
int runMessageLoop(MessageSource next);
void endProgram();

// How a worker asked to stop came to its end when the program closed.
enum class WorkerEnd { ByItself, ByForce, StillRunning };
// Waits up to `waitMs` for a worker asked to stop; one still running then
// is ended by force and waited for as long again, as the end by force is
// itself not instant. Only a worker that has ended may have what it used
// touched. `wait` is WaitForSingleObject.
using ThreadWait = DWORD(WINAPI*)(HANDLE, DWORD);
WorkerEnd endWorker(HANDLE worker, DWORD waitMs, ThreadWait wait);

// Where the window is to open next time: its top left corner, or, while it
// is minimized, that of the place it would be restored to. (A minimized
// window's own rectangle is its icon's, at -32000, -32000 on Windows.)
POINT closingPosition(HWND window);
// A point of a window placement, in the workspace coordinates of `monitor`
// (from the top left of its work area), in screen coordinates.
POINT workspaceToScreen(POINT point, const MONITORINFO& monitor);

LRESULT CALLBACK mainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
void startScan();
void releaseReadBuffer();
