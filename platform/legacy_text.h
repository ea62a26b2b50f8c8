// Settings files written before the program's texts became UTF-8 hold their
// paths in the system's legacy ANSI code page.
#pragma once

#include <string_view>

#include "common/text.h"

// The UTF-8 form of text in the legacy ANSI code page, cut at 255 bytes.
// Windows: the system's default ANSI code page (Windows-1252 when the system
// itself is set to UTF-8); POSIX: Windows-1252 always.
Text legacyTextToUtf8(std::string_view bytes);
