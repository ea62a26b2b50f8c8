#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "app/e2e_support.h"
#include "bench/program.h"

namespace {

constexpr DWORD kScanPatienceMs = 300000;

double now() {
  LARGE_INTEGER frequency, counter;
  QueryPerformanceFrequency(&frequency);
  QueryPerformanceCounter(&counter);
  return static_cast<double>(counter.QuadPart) / static_cast<double>(frequency.QuadPart);
}

// The program in a working folder of its own, with its settings file.
struct Session {
  std::string dir;
  PROCESS_INFORMATION process = {};
  HWND main = nullptr, countersLine = nullptr, button = nullptr;

  bool start(const std::vector<std::string>& ini) {
    char temp[MAX_PATH] = {};
    GetTempPathA(sizeof temp, temp);
    static int serial = 0;
    dir = std::string(temp) + "rs-bench-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(++serial) +
          "\\";
    e2e::removeTree(dir);
    if (!CreateDirectoryA(dir.c_str(), nullptr)) return false;
    e2e::writeFileBytes(dir + "Readsweeper.ini", e2e::lines(ini));
    if (!e2e::exists(dir + "Readsweeper.ini")) return false;
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    std::string program = e2e::programPath();
    if (!CreateProcessA(program.c_str(), nullptr, nullptr, nullptr, FALSE, 0, nullptr, dir.c_str(), &startup,
                        &process)) {
      std::fprintf(stderr, "bench: cannot start %s (error %lu)\n", program.c_str(), GetLastError());
      process = {};
      return false;
    }
    bool shown = e2e::waitUntil([&] {
      e2e::FindArgs args{process.dwProcessId, "Readsweeper", nullptr};
      EnumWindows(e2e::findTopLevel, reinterpret_cast<LPARAM>(&args));
      main = args.found;
      return main && e2e::childrenOf(main).size() == 6;
    });
    if (!shown) return false;
    std::vector<HWND> children = e2e::childrenOf(main);
    countersLine = children[3];
    button = children[5];
    WaitForInputIdle(process.hProcess, e2e::kPatienceMs);
    return true;
  }

  // A press sent, not posted: it returns once the start (or the stop
  // request) has been made.
  void press() {
    DWORD_PTR result = 0;
    SendMessageTimeoutA(button, BM_CLICK, 0, 0, SMTO_NORMAL, e2e::kPatienceMs, &result);
  }

  bool waitIdle(DWORD timeoutMs) {
    return e2e::waitUntil([&] { return e2e::textOf(button) == "Start"; }, timeoutMs);
  }

  ~Session() {
    if (process.hProcess) {
      if (main) PostMessageA(main, WM_CLOSE, 0, 0);
      if (WaitForSingleObject(process.hProcess, e2e::kPatienceMs) != WAIT_OBJECT_0) {
        TerminateProcess(process.hProcess, 99);
        WaitForSingleObject(process.hProcess, e2e::kPatienceMs);
      }
      CloseHandle(process.hProcess);
      CloseHandle(process.hThread);
    }
    if (!dir.empty()) e2e::removeTree(dir);
  }
};

std::vector<std::string> settingsLines(const std::string& root, int windowRefresh, int32_t blockSize,
                                       int32_t limit) {
  std::vector<std::string> ini = {"show checked bytes", "show read errors", "show open errors", "show file name",
                                  "show full file size"};
  ini.push_back("window refresh: " + std::to_string(windowRefresh));
  ini.push_back("bytes to read at once: " + std::to_string(blockSize));
  ini.push_back("stop after checked: " + std::to_string(limit));
  ini.push_back("check files: " + root);
  return ini;
}

// "checked 123456B, ..." gives 123456; -1 when the line holds no full count.
int64_t checkedBytesOf(const std::string& line) {
  const std::string lead = "checked ";
  if (line.compare(0, lead.size(), lead) != 0) return -1;
  char* end = nullptr;
  long long value = std::strtoll(line.c_str() + lead.size(), &end, 10);
  if (end == line.c_str() + lead.size() || *end != 'B') return -1;
  return value;
}

}  // namespace

bool programAvailable() { return true; }

ProgramRun runProgram(const std::string& root, int windowRefresh, int32_t blockSize, int32_t limit) {
  ProgramRun run;
  Session session;
  if (!session.start(settingsLines(root, windowRefresh, blockSize, limit))) return run;
  double begin = now();
  session.press();
  if (!session.waitIdle(kScanPatienceMs)) return run;
  run.seconds = now() - begin;
  run.bytes = checkedBytesOf(e2e::textOf(session.countersLine));
  run.ok = run.bytes >= limit;
  if (!run.ok) std::fprintf(stderr, "bench: counters line \"%s\"\n", e2e::textOf(session.countersLine).c_str());
  return run;
}

Responsiveness measureResponsiveness(const std::string& root) {
  constexpr int kSamples = 1000;
  Responsiveness r;
  Session session;
  if (!session.start(settingsLines(root, 100, 1, 0))) return r;
  session.press();
  std::vector<double> trips;
  trips.reserve(kSamples);
  for (int i = 0; i < kSamples; ++i) {
    DWORD_PTR result = 0;
    double sent = now();
    if (!SendMessageTimeoutA(session.main, WM_NULL, 0, 0, SMTO_NORMAL, 5000, &result)) return r;
    trips.push_back((now() - sent) * 1000.0);
    Sleep(2);
  }
  // The samples must come from a running scan.
  if (e2e::textOf(session.button) != "Stop") return r;
  session.press();
  if (!session.waitIdle(e2e::kPatienceMs)) return r;
  std::sort(trips.begin(), trips.end());
  r.samples = kSamples;
  r.medianMs = trips[kSamples / 2];
  r.p99Ms = trips[kSamples * 99 / 100];
  // Nothing may touch the program while it idles: no polling here.
  Sleep(500);
  r.idleSeconds = 3;
  double before = e2e::cpuMs(session.process.hProcess);
  Sleep(3000);
  double after = e2e::cpuMs(session.process.hProcess);
  if (before < 0 || after < 0) return r;
  r.idleCpuMs = after - before;
  r.ok = true;
  return r;
}
