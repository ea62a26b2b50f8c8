// Readsweeper.exe in every-file mode over the test's own two files, or over
// a tree of 1,000,000 files made on the Linux side and named in
// READSWEEPER_BIG_TREE: with every display flag on, each status line's text, measured in the
// font the program gives that line, fits the line's rectangle, and the
// rectangle fits the window; the wider window still opens and is saved at
// the corner the settings hold.
#include <cstdlib>

#include "e2e_support.h"

namespace {

using namespace e2e;

// The big tree as this program sees it; empty when the test runs without it.
std::string bigTree() { return hostFolder("READSWEEPER_BIG_TREE"); }

// The controls' fonts as the program makes them. Fonts belong to their
// process, so they are made again here.
HFONT controlFont(LONG weight) {
  LOGFONTA font = {};
  font.lfHeight = 7;
  font.lfWidth = 5;
  font.lfWeight = weight;
  font.lfCharSet = ANSI_CHARSET;
  font.lfOutPrecision = OUT_DEFAULT_PRECIS;
  font.lfClipPrecision = CLIP_DEFAULT_PRECIS;
  font.lfQuality = PROOF_QUALITY;
  font.lfPitchAndFamily = DEFAULT_PITCH | FF_DONTCARE;
  lstrcpyA(font.lfFaceName, "MS Sans Serif");
  return CreateFontIndirectA(&font);
}

// Texts of another process, exactly: the wide-character message.
std::wstring wideTextOf(HWND window) {
  wchar_t buffer[512] = {};
  DWORD_PTR result = 0;
  SendMessageTimeoutW(window, WM_GETTEXT, 512, reinterpret_cast<LPARAM>(buffer), SMTO_ABORTIFHUNG, 2000,
                      &result);
  return buffer;
}

LONG extentOf(const std::wstring& text, HFONT font) {
  HDC dc = GetDC(nullptr);
  HGDIOBJ previous = SelectObject(dc, font);
  SIZE size = {};
  GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &size);
  SelectObject(dc, previous);
  ReleaseDC(nullptr, dc);
  return size.cx;
}

class WideWindow : public Readsweeper {
 protected:
  void SetUp() override {
    Readsweeper::SetUp();
    // Without the big tree, the two files of the test's own folder.
    tree = bigTree();
    indexed = "/1000000, ";
    if (tree.empty()) {
      tree = data;
      indexed = "/2, ";
    }
    normalFont = controlFont(0);
    boldFont = controlFont(900);
  }
  void TearDown() override {
    if (normalFont) DeleteObject(normalFont);
    if (boldFont) DeleteObject(boldFont);
    Readsweeper::TearDown();
  }

  // Each status line's text fits its control, and the control the window.
  void expectEveryLineFits(const char* when) {
    SCOPED_TRACE(when);
    RECT client = {};
    GetClientRect(main, &client);
    const struct {
      const char* what;
      HWND control;
      HFONT font;
    } lines[] = {{"file line", fileLine, boldFont},
                 {"settings line", settingsLine, normalFont},
                 {"counters line", countersLine, normalFont},
                 {"version line", versionLine, normalFont}};
    for (const auto& line : lines) {
      SCOPED_TRACE(line.what);
      RECT place = placeOf(line.control, main);
      std::wstring text = wideTextOf(line.control);
      EXPECT_FALSE(text.empty());
      EXPECT_LE(place.right, client.right);
      EXPECT_LE(extentOf(text, line.font), place.right - place.left) << textOf(line.control);
    }
  }

  std::string tree;
  std::string indexed;  // the index's size as the counters line shows it
  HFONT normalFont = nullptr;
  HFONT boldFont = nullptr;
};

TEST_F(WideWindow, EveryStatusLineFitsInEveryFileMode) {
  writeIni({"instant start", "check files: " + tree, "check every file", "show setup", "show file name",
            "show file size", "measure reading speed", "show checked bytes", "show checked bytes in percents",
            "stop after checked: 2147483647", "show open errors", "show read errors",
            "select next file: 100", "window horizontal position: 40", "window vertical position: 20"});
  start();
  // The controls are there before the window has its width.
  ASSERT_TRUE(waitUntil([&] { return textOf(countersLine).find(indexed) != std::string::npos; }, 300000))
      << "no coverage of the whole tree; the lines show " << textOf(fileLine) << " | " << textOf(countersLine);
  RECT outer = {};
  GetWindowRect(main, &outer);
  EXPECT_EQ(outer.left, 20);
  EXPECT_EQ(outer.top, 40);
  EXPECT_GT(outer.right - outer.left, 400);
  EXPECT_EQ(outer.bottom - outer.top, 140);

  ASSERT_TRUE(waitUntil([&] { return textOf(countersLine).find("B/s, ") != std::string::npos; }))
      << "no speed; the counters line shows " << textOf(countersLine);
  expectEveryLineFits("scanning");
  stopScanByButton();
  expectEveryLineFits("stopped");

  EXPECT_EQ(closeAndWait(), 0);
  std::string saved = ini();
  EXPECT_NE(saved.find("window horizontal position: 40\r\n"), std::string::npos) << saved;
  EXPECT_NE(saved.find("window vertical position: 20\r\n"), std::string::npos) << saved;
}

}  // namespace
