#include "platform/legacy_text.h"

#include <windows.h>

#include "platform/win32/wide.h"

namespace {

// With the UTF-8 code page of the program's manifest, GetACP() answers
// 65001; the code page that "A" calls used before is the system's default
// ANSI code page. A system set to UTF-8 itself has no legacy one: its older
// files most likely hold Windows-1252.
UINT legacyCodePage() {
  DWORD codePage = 0;
  int got = GetLocaleInfoEx(LOCALE_NAME_SYSTEM_DEFAULT, LOCALE_IDEFAULTANSICODEPAGE | LOCALE_RETURN_NUMBER,
                            reinterpret_cast<LPWSTR>(&codePage), sizeof codePage / sizeof(WCHAR));
  if (got == 0 || codePage == CP_ACP || codePage == CP_UTF8) return 1252;
  return codePage;
}

}  // namespace

Text legacyTextToUtf8(std::string_view bytes) {
  // A code page the system cannot convert leaves the bytes as they are.
  return Text(codePageToUtf8(bytes, legacyCodePage()));
}
