#include "platform/win32/wide.h"

#include <windows.h>

#include <algorithm>
#include <cstdint>

#include "common/text.h"

namespace {

// Shorter paths work with every call: 248 is the shortest of the classic
// limits (MAX_PATH for files, less 12 for folders). Longer ones need the
// prefix, which lifts the limit to about 32767 characters.
constexpr std::size_t kClassicLimit = MAX_PATH - 12;

bool startsWith(std::wstring_view text, std::wstring_view prefix) { return text.substr(0, prefix.size()) == prefix; }

bool isSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

// "X:\..." or "\\server\...": nothing in it depends on a current folder.
bool isFullyQualified(const std::wstring& path) {
  if (path.size() >= 3 && path[1] == L':' && isSeparator(path[2])) return true;
  return path.size() >= 2 && isSeparator(path[0]) && isSeparator(path[1]);
}

void appendUnit(std::wstring* out, uint32_t c) {
  if (c >= 0x10000) {
    c -= 0x10000;
    *out += static_cast<wchar_t>(0xD800 + (c >> 10));
    *out += static_cast<wchar_t>(0xDC00 + (c & 0x3FF));
  } else {
    *out += static_cast<wchar_t>(c);
  }
}

}  // namespace

std::wstring wideFromUtf8(std::string_view text) {
  std::wstring wide;
  wideFromUtf8(text, &wide);
  return wide;
}

void wideFromUtf8(std::string_view text, std::wstring* out) {
  static constexpr unsigned char kLeadBits[5] = {0, 0x7F, 0x1F, 0x0F, 0x07};
  static constexpr uint32_t kSmallest[5] = {0, 0, 0x80, 0x800, 0x10000};
  std::wstring& wide = *out;
  wide.clear();
  wide.reserve(text.size());
  for (std::size_t at = 0; at < text.size();) {
    unsigned char lead = static_cast<unsigned char>(text[at]);
    std::size_t length = lead < 0x80 ? 1 : announcedLength(lead);
    uint32_t c = lead & kLeadBits[length];
    bool whole = length != 0 && length <= text.size() - at;
    for (std::size_t i = 1; whole && i < length; ++i) {
      unsigned char next = static_cast<unsigned char>(text[at + i]);
      whole = (next & 0xC0) == 0x80;
      c = (c << 6) | (next & 0x3F);
    }
    // Surrogates pass: they are how a lone one in a name comes back.
    if (!whole || c < kSmallest[length] || c > 0x10FFFF) {
      wide += static_cast<wchar_t>(0xFFFD);
      ++at;
      continue;
    }
    appendUnit(&wide, c);
    at += length;
  }
}

void appendUtf8(std::string* out, const wchar_t* text, std::size_t length) {
  for (std::size_t i = 0; i < length; ++i) {
    uint32_t c = static_cast<uint16_t>(text[i]);
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < length) {
      uint32_t low = static_cast<uint16_t>(text[i + 1]);
      if (low >= 0xDC00 && low <= 0xDFFF) {
        c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
        ++i;
      }
    }
    if (c < 0x80) {
      *out += static_cast<char>(c);
    } else if (c < 0x800) {
      *out += static_cast<char>(0xC0 | (c >> 6));
      *out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      *out += static_cast<char>(0xE0 | (c >> 12));
      *out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      *out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      *out += static_cast<char>(0xF0 | (c >> 18));
      *out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
      *out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      *out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
}

std::string utf8ToCodePage(std::string_view utf8, unsigned codePage) {
  if (codePage == CP_UTF8 || utf8.empty()) return std::string(utf8);
  std::wstring wide = wideFromUtf8(utf8);
  int units = static_cast<int>(wide.size());
  // No look-alikes: "Łódź" must not turn into the name of another folder.
  DWORD flags = WC_NO_BEST_FIT_CHARS;
  int length = WideCharToMultiByte(codePage, flags, wide.data(), units, nullptr, 0, nullptr, nullptr);
  if (length <= 0) return std::string(utf8);
  std::string bytes(static_cast<std::size_t>(length), '\0');
  WideCharToMultiByte(codePage, flags, wide.data(), units, &bytes[0], length, nullptr, nullptr);
  return bytes;
}

std::string codePageToUtf8(std::string_view bytes, unsigned codePage) {
  if (codePage == CP_UTF8 || bytes.empty()) return std::string(bytes);
  int count = static_cast<int>(bytes.size());
  int length = MultiByteToWideChar(codePage, 0, bytes.data(), count, nullptr, 0);
  if (length <= 0) return std::string(bytes);
  std::wstring wide(static_cast<std::size_t>(length), L'\0');
  MultiByteToWideChar(codePage, 0, bytes.data(), count, &wide[0], length);
  std::string utf8;
  appendUtf8(&utf8, wide.data(), wide.size());
  return utf8;
}

void longPathForm(std::wstring_view fullPath, std::wstring* out) {
  if (startsWith(fullPath, L"\\\\?\\")) {
    out->assign(fullPath);
  } else if (startsWith(fullPath, L"\\\\")) {
    out->assign(L"\\\\?\\UNC\\");
    out->append(fullPath.substr(2));
  } else {
    out->assign(L"\\\\?\\");
    out->append(fullPath);
  }
}

std::wstring systemPath(const char* utf8Path) {
  std::wstring path;
  systemPath(utf8Path, &path);
  return path;
}

const wchar_t* pathFor(const char* utf8Path, int which) {
  thread_local std::wstring buffers[2];
  systemPath(utf8Path, &buffers[which]);
  return buffers[which].c_str();
}

namespace {

// The length of the part of a fully qualified path that ".." never climbs
// above: "X:\" or "\\server\share\" (separators already "\").
std::size_t headLength(const std::wstring& path) {
  if (path.size() >= 3 && path[1] == L':') return 3;
  std::size_t server = path.find(L'\\', 2);
  if (server == std::wstring::npos) return path.size();
  std::size_t share = path.find(L'\\', server + 1);
  return share == std::wstring::npos ? path.size() : share + 1;
}

// The full form of a path that is not fully qualified, made by the system
// from the folder it starts from ("." for "dir\x", "\" for "\dir\x", "X:."
// for "X:dir\x") and the rest appended as it is: the system's own full form
// of the whole path would cut trailing dots and blanks and turn reserved
// names into devices. False when the system cannot tell the folder.
bool completed(const std::wstring& path, std::wstring* out) {
  thread_local std::wstring base(MAX_PATH, L'\0');
  wchar_t start[4] = {L'.', 0, 0, 0};
  std::size_t rest = 0;
  if (!path.empty() && path[0] == L'\\') {
    start[0] = L'\\';
  } else if (path.size() >= 2 && path[1] == L':') {
    start[0] = path[0];
    start[1] = L':';
    start[2] = L'.';
    rest = 2;
  }
  DWORD length = GetFullPathNameW(start, static_cast<DWORD>(base.size()), &base[0], nullptr);
  if (length >= base.size()) {
    base.resize(length);
    length = GetFullPathNameW(start, static_cast<DWORD>(base.size()), &base[0], nullptr);
  }
  if (length == 0 || length >= base.size()) return false;
  out->assign(base.data(), length);
  if (out->back() != L'\\') out->push_back(L'\\');
  out->append(path, rest, std::wstring::npos);
  return true;
}

}  // namespace

void scannedPath(const char* utf8Path, std::wstring* out) {
  thread_local std::wstring given;
  thread_local std::wstring full;
  wideFromUtf8(utf8Path, &given);
  if (startsWith(given, L"\\\\?\\") || startsWith(given, L"\\\\.\\")) {
    out->assign(given);
    return;
  }
  for (wchar_t& c : given) {
    if (c == L'/') c = L'\\';
  }
  const std::wstring* path = &given;
  if (!isFullyQualified(given)) {
    // On failure the file call itself tells what is wrong.
    if (!completed(given, &full)) {
      out->assign(given);
      return;
    }
    path = &full;
  }
  bool unc = (*path)[1] == L'\\';
  std::size_t head = headLength(*path);
  out->assign(unc ? L"\\\\?\\UNC\\" : L"\\\\?\\");
  out->append(*path, unc ? 2 : 0, head - (unc ? 2 : 0));
  std::size_t floor = out->size();
  // Each step between separators: an empty one or "." goes, ".." takes the
  // one before it back, any other is a name and stays exactly as it is.
  for (std::size_t at = head; at < path->size();) {
    std::size_t end = path->find(L'\\', at);
    if (end == std::wstring::npos) end = path->size();
    std::wstring_view step(path->data() + at, end - at);
    if (step == L"..") {
      std::size_t cut = out->size() > floor ? out->rfind(L'\\', out->size() - 2) + 1 : floor;
      out->resize(std::max(cut, floor));
    } else if (!step.empty() && step != L".") {
      out->append(step);
      if (end < path->size()) out->push_back(L'\\');
    }
    at = end + 1;
  }
}

const wchar_t* scannedPathFor(const char* utf8Path) {
  thread_local std::wstring buffer;
  scannedPath(utf8Path, &buffer);
  return buffer.c_str();
}

void systemPath(const char* utf8Path, std::wstring* out) {
  std::wstring& path = *out;
  wideFromUtf8(utf8Path, &path);
  if (startsWith(path, L"\\\\?\\") || startsWith(path, L"\\\\.\\")) return;
  if (path.size() < kClassicLimit && isFullyQualified(path)) return;
  // A relative path may be short and its full form long; the full form is
  // what the limit applies to. It is made in a buffer of the thread that
  // only grows, so that a scan of a relative or a deep root allocates
  // nothing at its every listing and open. Too small a buffer gets the size
  // needed, its terminating zero included.
  thread_local std::wstring full(MAX_PATH, L'\0');
  DWORD length = GetFullPathNameW(path.c_str(), static_cast<DWORD>(full.size()), &full[0], nullptr);
  if (length >= full.size()) {
    full.resize(length);
    length = GetFullPathNameW(path.c_str(), static_cast<DWORD>(full.size()), &full[0], nullptr);
  }
  // On failure the file call itself tells what is wrong.
  if (length == 0 || length >= full.size()) return;
  if (length < kClassicLimit) return;
  longPathForm(std::wstring_view(full.data(), length), &path);
}
