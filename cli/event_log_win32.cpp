// The Windows side of --event-log: the Application log, source
// "Readsweeper". The message table (events.mc) is in this executable's
// resources; each of its three messages is the event's one string.
#include <windows.h>

#include "cli/event_log.h"
#include "platform/win32/wide.h"

namespace {

constexpr wchar_t kSourceKey[] = L"SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\Readsweeper";

int lastError() {
  DWORD error = GetLastError();
  return error != 0 ? static_cast<int>(error) : static_cast<int>(ERROR_GEN_FAILURE);
}

// This executable's full path; empty when it cannot be had.
std::wstring ownPath() {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    DWORD length = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (length == 0) return std::wstring();
    if (length < path.size()) {
      path.resize(length);
      return path;
    }
    if (path.size() >= 32768) return std::wstring();
    path.resize(path.size() * 2);
  }
}

}  // namespace

// Without the registration the system still takes the event; Event Viewer
// then shows the string without the message file.
int writeEvent(EventKind kind, const std::string& text) {
  HANDLE source = RegisterEventSourceW(nullptr, L"Readsweeper");
  if (source == nullptr) return lastError();
  WORD type = kind == EventKind::Errors       ? EVENTLOG_ERROR_TYPE
              : kind == EventKind::Incomplete ? EVENTLOG_WARNING_TYPE
                                              : EVENTLOG_INFORMATION_TYPE;
  std::wstring wide = wideFromUtf8(text);
  LPCWSTR strings[1] = {wide.c_str()};
  BOOL written = ReportEventW(source, type, 0, static_cast<DWORD>(kind), nullptr, 1, 0, strings, nullptr);
  int error = written ? 0 : lastError();
  DeregisterEventSource(source);
  return error;
}

int registerEventSource(std::string* done) {
  std::wstring path = ownPath();
  if (path.empty()) return lastError();
  HKEY key = nullptr;
  LSTATUS status = RegCreateKeyExW(HKEY_LOCAL_MACHINE, kSourceKey, 0, nullptr, REG_OPTION_NON_VOLATILE,
                                   KEY_SET_VALUE, nullptr, &key, nullptr);
  if (status != ERROR_SUCCESS) return static_cast<int>(status);
  auto bytes = static_cast<DWORD>((path.size() + 1) * sizeof(wchar_t));
  status = RegSetValueExW(key, L"EventMessageFile", 0, REG_EXPAND_SZ, reinterpret_cast<const BYTE*>(path.c_str()),
                          bytes);
  if (status == ERROR_SUCCESS) {
    DWORD types = EVENTLOG_ERROR_TYPE | EVENTLOG_WARNING_TYPE | EVENTLOG_INFORMATION_TYPE;
    status = RegSetValueExW(key, L"TypesSupported", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&types),
                            sizeof types);
  }
  RegCloseKey(key);
  if (status != ERROR_SUCCESS) return static_cast<int>(status);
  std::string utf8;
  appendUtf8(&utf8, path.data(), path.size());
  *done = "event source \"Readsweeper\" registered with the message file " + utf8;
  return 0;
}
