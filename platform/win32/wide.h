// The Win32 layer's texts at the wide-character calls: the program's UTF-8
// becomes UTF-16 on the way in, and names that come back become UTF-8.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// UTF-16 of UTF-8 text. A byte that starts no character becomes U+FFFD. The
// three-byte form of a surrogate, which appendUtf8 writes for a name holding
// a lone one, becomes that surrogate again, so every listed name opens.
std::wstring wideFromUtf8(std::string_view text);
// The same into `out`, whose room is kept from call to call.
void wideFromUtf8(std::string_view text, std::wstring* out);

// Appends the UTF-8 of `length` UTF-16 units. A lone surrogate, which NTFS
// names may hold, gets the three-byte form of its value.
void appendUtf8(std::string* out, const wchar_t* text, std::size_t length);

// Text in a code page, for the "A" window calls: UTF-8 passes as it is when
// the code page is UTF-8; otherwise a character that the code page lacks
// becomes "?", never a look-alike.
std::string utf8ToCodePage(std::string_view utf8, unsigned codePage);

// UTF-8 of text in a code page; UTF-8 passes as it is.
std::string codePageToUtf8(std::string_view bytes, unsigned codePage);

// The prefixed form of a full path into `out`: \\?\C:\... or, for
// \\server\share\..., \\?\UNC\server\share\...; one already prefixed stays as
// it is. `fullPath` must not lie in `out`.
void longPathForm(std::wstring_view fullPath, std::wstring* out);

// A path ready for a wide-character file call. While its full form is
// shorter than the classic limit it goes as it is; a longer one goes in its
// full form with the long-path prefix. Paths that already begin with \\?\ or
// \\.\ go as they are.
std::wstring systemPath(const char* utf8Path);
// The same into `out`. Once `out` and a buffer of the calling thread for
// full forms have grown, no path costs an allocation: the scan's every
// listing and open, relative and long ones included.
void systemPath(const char* utf8Path, std::wstring* out);

// A scanned entry's path for a wide-character file call, always in its
// prefixed form (\\?\C:\... or \\?\UNC\server\share\...), whatever its
// length, so that every name reaches the file system as it is: a file named
// AUX, CON or NUL, or one ending in a dot or a blank, is that file. A relative
// path is completed from the current folder; "/" becomes "\", and doubled
// separators and "." and ".." steps go; nothing else of a name changes.
// Paths that already begin with \\?\ or \\.\ go as they are.
void scannedPath(const char* utf8Path, std::wstring* out);
// The same in a buffer of the calling thread that lives until its next call.
const wchar_t* scannedPathFor(const char* utf8Path);

// systemPath for one file call, in a buffer of the calling thread (the scan
// worker and the GUI thread each have their own) that lives until the next
// pathFor with the same `which`; a call that takes two paths uses 0 and 1.
const wchar_t* pathFor(const char* utf8Path, int which = 0);
