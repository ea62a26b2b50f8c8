// The one window of the program: its class, the window itself, the six
// controls and their two fonts.
#include <cstring>

#include "app/shell.h"
#include "scan/scan.h"
#include "settings/settings.h"

HWND MainWindow;
HWND PathEdit;
HWND FileLine;
HWND SettingsLine;
HWND CountersLine;
HWND VersionLine;
HWND StartButton;
HFONT NormalFont;
HFONT BoldFont;
RECT ClientRect;

namespace {

const char kClassName[] = "Readsweeper";

// The controls carry no identifier of their own: they are told apart by
// their handles.
constexpr DWORD kLabelExStyle = WS_EX_CONTROLPARENT;
constexpr DWORD kLabelStyle = WS_CHILD | SS_LEFT;

}  // namespace

bool registerWindowClass() {
  WNDCLASSA windowClass = {};
  windowClass.style = CS_VREDRAW | CS_HREDRAW | CS_DBLCLKS | CS_CLASSDC | CS_PARENTDC;
  windowClass.lpfnWndProc = mainWindowProc;
  windowClass.cbClsExtra = 0;
  windowClass.cbWndExtra = 0;
  windowClass.hInstance = GetModuleHandleA(nullptr);
  // No instance and no name: no icon for the class.
  windowClass.hIcon = LoadIconA(nullptr, nullptr);
  windowClass.hCursor = LoadCursorA(nullptr, IDC_ARROW);
  windowClass.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_BTNFACE + 1));
  windowClass.lpszMenuName = nullptr;
  windowClass.lpszClassName = kClassName;
  return RegisterClassA(&windowClass) != 0;
}

HWND createMainWindow() {
  // No saved position yet: the top left corner, and 0 is what gets saved.
  if (settings.windowX < 0) settings.windowX = 0;
  if (settings.windowY < 0) settings.windowY = 0;
  HWND window = CreateWindowExA(0, kClassName, "Readsweeper",
                                WS_VISIBLE | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX,
                                settings.windowX, settings.windowY, 400, 140, nullptr, nullptr,
                                GetModuleHandleA(nullptr), nullptr);
  if (window) {
    ShowWindow(window, SW_SHOW);
    UpdateWindow(window);
  }
  return window;
}

HWND createEdit(int16_t x, int16_t y, int16_t width, int16_t height) {
  // Neither auto-scroll nor tab stop: typing ends at the box's right edge.
  HWND edit = CreateWindowExA(WS_EX_CLIENTEDGE | WS_EX_CONTROLPARENT, "EDIT", "",
                              WS_CHILD | WS_GROUP | ES_LEFT, x, y, width, height, MainWindow,
                              nullptr, GetModuleHandleA(nullptr), nullptr);
  EnableWindow(edit, TRUE);
  ShowWindow(edit, SW_SHOW);
  return edit;
}

HWND createLabel(const char* text, int16_t x, int16_t y, int16_t width, int16_t height) {
  HWND label = CreateWindowExA(kLabelExStyle, "STATIC", text, kLabelStyle, x, y, width, height,
                               MainWindow, nullptr, GetModuleHandleA(nullptr), nullptr);
  ShowWindow(label, SW_SHOW);
  return label;
}

HWND createButton(const char* text, int16_t x, int16_t y, int16_t width, int16_t height,
                  bool enabled) {
  HWND button = CreateWindowExA(WS_EX_CONTROLPARENT, "BUTTON", text,
                                WS_CHILD | WS_GROUP | WS_TABSTOP | BS_CENTER | BS_PUSHBUTTON, x, y,
                                width, height, MainWindow, nullptr, GetModuleHandleA(nullptr),
                                nullptr);
  if (!enabled) EnableWindow(button, FALSE);
  ShowWindow(button, SW_SHOW);
  return button;
}

HFONT createControlFont(int32_t height, int32_t width, int32_t weight, const char* faceName,
                        bool underline) {
  LOGFONTA font = {};
  font.lfHeight = height;
  font.lfWidth = width;
  font.lfEscapement = 0;
  font.lfOrientation = 0;
  font.lfWeight = weight;
  font.lfItalic = 0;
  font.lfUnderline = underline ? 1 : 0;
  font.lfStrikeOut = 0;
  font.lfCharSet = ANSI_CHARSET;
  font.lfOutPrecision = OUT_DEFAULT_PRECIS;
  font.lfClipPrecision = CLIP_DEFAULT_PRECIS;
  font.lfQuality = PROOF_QUALITY;
  font.lfPitchAndFamily = DEFAULT_PITCH | FF_DONTCARE;
  // The face field stays zero-filled behind the name.
  std::strncpy(font.lfFaceName, faceName, sizeof font.lfFaceName - 1);
  return CreateFontIndirectA(&font);
}

void createControls() {
  PathEdit = createEdit(10, 20, 300, 20);
  FileLine = createLabel("", 10, 50, 450, 15);
  Text summary = composeSettingsSummary(settings);
  SettingsLine = createLabel(summary.c_str(), 10, 65, 450, 15);
  // Without the summary the counters take its place, over the empty line.
  CountersLine = createLabel("", 10, settings.showSetup ? 80 : 65, 450, 15);
  Text version = versionText();
  VersionLine = createLabel(version.c_str(), 10, static_cast<int16_t>(ClientRect.bottom - 17),
                            400, 15);
  StartButton = createButton("Start", 320, 20, 60, 20, true);

  NormalFont = createControlFont(7, 5, 0, "MS Sans Serif", false);
  BoldFont = createControlFont(7, 5, 900, "MS Sans Serif", false);
  auto setFont = [](HWND control, HFONT font) {
    SendMessageA(control, WM_SETFONT, reinterpret_cast<WPARAM>(font), 1);
  };
  setFont(FileLine, BoldFont);
  setFont(CountersLine, NormalFont);
  setFont(VersionLine, NormalFont);
  setFont(StartButton, BoldFont);
  setFont(PathEdit, BoldFont);
  setFont(SettingsLine, NormalFont);
}

void destroyControls() {
  // They went with MainWindow already; these calls only make sure.
  DestroyWindow(PathEdit);
  DestroyWindow(FileLine);
  DestroyWindow(CountersLine);
  DestroyWindow(VersionLine);
  DestroyWindow(StartButton);
  DestroyWindow(SettingsLine);
}

void deleteFonts() {
  DeleteObject(NormalFont);
  DeleteObject(BoldFont);
}
