#include "platform/legacy_text.h"

#include <windows.h>

#include <string>

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
  if (bytes.empty()) return Text();
  // A text has at most 255 bytes, and no code page makes more characters
  // than bytes.
  int count = static_cast<int>(bytes.size() < Text::kMax ? bytes.size() : Text::kMax);
  wchar_t wide[Text::kMax];
  int length = MultiByteToWideChar(legacyCodePage(), 0, bytes.data(), count, wide, Text::kMax);
  // A code page the system cannot convert leaves the bytes as they are.
  if (length <= 0) return Text(bytes);
  std::string utf8;
  appendUtf8(&utf8, wide, static_cast<std::size_t>(length));
  return Text(utf8);
}
