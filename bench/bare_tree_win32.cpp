#include <windows.h>

#include <cwchar>

#include "bench/bare_tree.h"

namespace {

constexpr DWORD kOnlineOnly = 0x400000 | 0x40000 | 0x1000;

std::wstring wide(const std::string& utf8) {
  std::wstring out(utf8.size(), L'\0');
  int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), &out[0],
                              static_cast<int>(out.size()));
  out.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
  return out;
}

std::string utf8(const std::wstring& text) {
  std::string out(text.size() * 3, '\0');
  int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &out[0],
                              static_cast<int>(out.size()), nullptr, nullptr);
  out.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
  return out;
}

}  // namespace

int64_t bareListTree(const std::string& root, bool withEmpty, std::vector<BareFile>* files) {
  std::vector<std::wstring> folders = {wide(root)};
  int64_t count = 0;
  WIN32_FIND_DATAW found;
  for (std::size_t f = 0; f < folders.size(); ++f) {
    HANDLE search = FindFirstFileW((folders[f] + L"*.*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) continue;
    do {
      const wchar_t* name = found.cFileName;
      DWORD a = found.dwFileAttributes;
      if (a & FILE_ATTRIBUTE_DIRECTORY) {
        bool dot = name[0] == L'.' && (name[1] == L'\0' || (name[1] == L'.' && name[2] == L'\0'));
        if (!dot && !(a & (FILE_ATTRIBUTE_REPARSE_POINT | kOnlineOnly))) folders.push_back(folders[f] + name + L"\\");
        continue;
      }
      if (a & (FILE_ATTRIBUTE_DEVICE | kOnlineOnly)) continue;
      int64_t size = static_cast<int64_t>((static_cast<uint64_t>(found.nFileSizeHigh) << 32) | found.nFileSizeLow);
      if (size <= 0 && !withEmpty) continue;
      ++count;
      if (files != nullptr) files->push_back({utf8(folders[f] + name), size});
    } while (FindNextFileW(search, &found));
    FindClose(search);
  }
  return count;
}

intptr_t bareOpenFile(const std::string& path) {
  thread_local std::wstring buffer;
  buffer = wide(path);
  HANDLE h = CreateFileW(buffer.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                         nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return -1;
  return reinterpret_cast<intptr_t>(h);
}
