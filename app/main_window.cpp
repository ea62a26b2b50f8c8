// The one window of the program: its class, the window itself, the six
// controls and their two fonts, and the width its status lines need.
#include <algorithm>
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

// The window of 400 by 140 pixels and the widths of its status lines, as
// the window has always been laid out.
constexpr int kWindowWidth = 400;
constexpr int kWindowHeight = 140;
constexpr int kStatusLineWidth = 450;
constexpr int kVersionLineWidth = 400;
// Every control starts 10 pixels from the left; the long layout keeps as
// much room right of its longest line.
constexpr int kMargin = 10;
constexpr int kLineHeight = 15;

// The counters line at its widest, built the way the scan composes it but
// with figures of the given widths. Figures are strings of nines: digits
// are of one width in the controls' fonts, so the count of them is all
// that matters.
struct FigureWidths {
  int checked;  // digits of the checked bytes
  const char* checkedUnit;
  int percent;
  int cycle, covered, indexed;
  int filePercent;  // whole-file reads: the share of the file under way
  int fileSize;     // and its size, in fileSizeUnit
  const char* fileSizeUnit;
  int speed;
  const char* speedUnit;
  int openErrors, readErrors, slowReads;
};

void appendNines(Text& text, int digits) {
  for (int i = 0; i < digits; ++i) text += '9';
}

void appendSeparator(Text& text) {
  if (!text.empty()) text.append(", ");
}

Text countersText(const Settings& s, const FigureWidths& w) {
  Text line;
  if (s.showCheckedBytes) {
    line.append("checked ");
    appendNines(line, w.checked);
    line.append(w.checkedUnit);
    if (s.stopAfterChecked > 0 && s.showCheckedBytesInPercents) {
      line.append(" (");
      appendNines(line, w.percent);
      line.append("%)");
    }
  }
  if (s.checkEveryFile) {
    appendSeparator(line);
    line.append("cycle ");
    appendNines(line, w.cycle);
    line.append(": covered ");
    appendNines(line, w.covered);
    line.append("/");
    appendNines(line, w.indexed);
  }
  if (s.readWholeFiles) {
    appendSeparator(line);
    appendNines(line, w.filePercent);
    line.append(" % of ");
    appendNines(line, w.fileSize);
    line.append(w.fileSizeUnit);
  }
  if (s.measureReadingSpeed) {
    appendSeparator(line);
    appendNines(line, w.speed);
    line.append(w.speedUnit);
  }
  if (s.showOpenErrors) {
    appendSeparator(line);
    line.append("opening errors: ");
    appendNines(line, w.openErrors);
  }
  if (s.showReadErrors) {
    appendSeparator(line);
    line.append("reading errors: ");
    appendNines(line, w.readErrors);
  }
  if (s.slowReadLimit > 0 && (s.showReadErrors || s.showOpenErrors)) {
    appendSeparator(line);
    line.append("slow reads: ");
    appendNines(line, w.slowReads);
  }
  return line;
}

// Counts of up to 7 digits, scaled sizes and speeds of up to 4 digits in
// any unit, percentages of up to 3.
constexpr int kCountDigits = 7;
constexpr int kScaledDigits = 4;
constexpr int kPercentDigits = 3;
// Exact byte counts and speeds are 64-bit numbers.
constexpr int kExactDigits = 19;
// A line with exact byte counts is shown only up to this many characters;
// a longer one is composed again with scaled values.
constexpr std::size_t kExactLineLimit = 64;

// The longest exact-bytes line the settings can show: as many digits as
// fit in the 64 characters, grown one figure after the other.
Text longestExactCountersText(const Settings& s) {
  FigureWidths w = {1, "B", 1, 1, 1, 1, 1, 1, "B", 1, "B/s", 1, 1, 1};
  if (countersText(s, w).size() > kExactLineLimit) return Text();
  int* figures[] = {&w.checked, &w.speed,   &w.fileSize, &w.openErrors,  &w.readErrors, &w.slowReads,
                    &w.cycle,   &w.covered, &w.indexed,  &w.filePercent, &w.percent};
  const int caps[] = {kExactDigits, kExactDigits, kExactDigits, kCountDigits,   kCountDigits,  kCountDigits,
                      kCountDigits, kCountDigits, kCountDigits, kPercentDigits, kPercentDigits};
  for (std::size_t i = 0; i < sizeof caps / sizeof caps[0]; ++i) {
    while (*figures[i] < caps[i]) {
      ++*figures[i];
      if (countersText(s, w).size() > kExactLineLimit) {
        --*figures[i];
        break;
      }
    }
  }
  return countersText(s, w);
}

// Pixels a text takes in a control's font: the font the control was given,
// or the system font a control has without one.
int textWidth(HWND control, const Text& text) {
  HDC dc = GetDC(control);
  if (!dc) return 0;
  HFONT font = reinterpret_cast<HFONT>(SendMessageA(control, WM_GETFONT, 0, 0));
  HGDIOBJ previous = SelectObject(dc, font ? static_cast<HGDIOBJ>(font) : GetStockObject(SYSTEM_FONT));
  SIZE size = {};
  GetTextExtentPoint32A(dc, text.c_str(), static_cast<int>(text.size()), &size);
  SelectObject(dc, previous);
  ReleaseDC(control, dc);
  return size.cx;
}

// The widest text the settings can put into the counters line or the
// settings line during a scan.
int widestStatusText(const Settings& s) {
  int widest = textWidth(SettingsLine, composeSettingsSummary(s));
  for (const char* checkedUnit : {"kB", "MB", "GB"}) {
    for (const char* speedUnit : {"kB/s", "MB/s"}) {
      for (const char* fileSizeUnit : {"B", "kB", "MB", "GB"}) {
        FigureWidths w = {kScaledDigits, checkedUnit,  kPercentDigits, kCountDigits,  kCountDigits,
                          kCountDigits,  kPercentDigits, kScaledDigits, fileSizeUnit, kScaledDigits,
                          speedUnit,     kCountDigits,   kCountDigits,  kCountDigits};
        widest = std::max(widest, textWidth(CountersLine, countersText(s, w)));
      }
    }
  }
  if (s.showFullFileSize) widest = std::max(widest, textWidth(CountersLine, longestExactCountersText(s)));
  return widest;
}

void resizeControl(HWND control, int width, int height) {
  RECT place = {};
  GetWindowRect(control, &place);
  if (place.right - place.left == width && place.bottom - place.top == height) return;
  SetWindowPos(control, nullptr, 0, 0, width, height, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

}  // namespace

bool needsLongLayout(const Settings& s) { return s.checkEveryFile || s.readWholeFiles || s.slowReadLimit > 0; }

void applyLayout(const Settings& s) {
  // The frame's share of the width, as the system draws it; a minimized
  // window's own rectangle is its icon's.
  RECT frame = {};
  AdjustWindowRectEx(&frame, static_cast<DWORD>(GetWindowLongA(MainWindow, GWL_STYLE)), FALSE,
                     static_cast<DWORD>(GetWindowLongA(MainWindow, GWL_EXSTYLE)));
  int frameWidth = frame.right - frame.left;
  int windowWidth = kWindowWidth;
  int statusWidth = kStatusLineWidth;
  int versionWidth = kVersionLineWidth;
  if (needsLongLayout(s)) {
    // Never narrower than the usual window; the lines reach its right edge.
    int clientWidth = std::max(kWindowWidth - frameWidth, kMargin + widestStatusText(s) + kMargin);
    windowWidth = clientWidth + frameWidth;
    statusWidth = clientWidth - kMargin;
    versionWidth = statusWidth;
  }
  resizeControl(FileLine, statusWidth, kLineHeight);
  resizeControl(SettingsLine, statusWidth, kLineHeight);
  resizeControl(CountersLine, statusWidth, kLineHeight);
  resizeControl(VersionLine, versionWidth, kLineHeight);

  // Wider to the right only: the top left corner, which the settings
  // keep, and the button under the pointer stay where they are.
  WINDOWPLACEMENT placement = {};
  placement.length = sizeof placement;
  if (IsIconic(MainWindow) && GetWindowPlacement(MainWindow, &placement)) {
    RECT& normal = placement.rcNormalPosition;
    if (normal.right - normal.left == windowWidth) return;
    normal.right = normal.left + windowWidth;
    SetWindowPlacement(MainWindow, &placement);
    return;
  }
  RECT outer = {};
  GetWindowRect(MainWindow, &outer);
  if (outer.right - outer.left == windowWidth) return;
  SetWindowPos(MainWindow, nullptr, 0, 0, windowWidth, outer.bottom - outer.top,
               SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

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
                                settings.windowX, settings.windowY, kWindowWidth, kWindowHeight, nullptr, nullptr,
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
  // Measured in the fonts the lines have now.
  applyLayout(settings);
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
