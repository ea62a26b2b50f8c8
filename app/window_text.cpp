// The GUI thread's control texts, UTF-8 inside: the "A" window calls speak
// the process's code page, UTF-8 under the manifest from Windows 10 version
// 1903 on, the legacy one on older systems, converted from and to here.
#include "app/shell.h"
#include "platform/win32/wide.h"

// Control texts come through a buffer of 260 bytes and are cut to 255.
Text windowText(HWND window) {
  char buffer[260] = {};
  GetWindowTextA(window, buffer, sizeof buffer);
  return Text(codePageToUtf8(buffer, GetACP()));
}

void setWindowText(HWND window, const Text& text) {
  SetWindowTextA(window, utf8ToCodePage(text.view(), GetACP()).c_str());
}
