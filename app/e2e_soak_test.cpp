// Readsweeper.exe over long runs: a scan that rewrites its status lines for
// every file, and many scans started and stopped, keep the program's open
// handles and its memory flat; closing the window during a busy scan always
// ends the program at once with the settings file whole. READSWEEPER_SOAK_SECONDS sets the soak's length
// (default 60).
#include "e2e_support.h"
// (psapi.h needs windows.h first)
#include <psapi.h>
#include <tlhelp32.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace {

using namespace e2e;

// One entry of the system's handle table (SystemHandleInformation).
struct HandleEntry {
  USHORT processId;
  USHORT creatorBackTraceIndex;
  UCHAR objectType;
  UCHAR attributes;
  USHORT value;
  PVOID object;
  ULONG grantedAccess;
};

struct HandleTable {
  ULONG count;
  HandleEntry entries[1];
};

using QuerySystemInformation = LONG(WINAPI*)(ULONG, PVOID, ULONG, PULONG);
constexpr ULONG kSystemHandleInformation = 16;
constexpr LONG kInfoLengthMismatch = static_cast<LONG>(0xC0000004);

// The handles the process holds now, counted in the system's handle table;
// -1 when the table cannot be read. (GetProcessHandleCount reports nothing
// useful under Wine.)
long handleCount(DWORD processId) {
  static auto query = reinterpret_cast<QuerySystemInformation>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtQuerySystemInformation")));
  if (!query) return -1;
  static std::vector<char> buffer(1 << 20);
  for (;;) {
    ULONG needed = 0;
    LONG status = query(kSystemHandleInformation, buffer.data(), static_cast<ULONG>(buffer.size()), &needed);
    if (status == kInfoLengthMismatch) {
      buffer.resize(std::max<std::size_t>(buffer.size() * 2, needed));
      continue;
    }
    if (status < 0) return -1;
    break;
  }
  const auto* table = reinterpret_cast<const HandleTable*>(buffer.data());
  long count = 0;
  for (ULONG i = 0; i < table->count; ++i) {
    if (table->entries[i].processId == static_cast<USHORT>(processId)) ++count;
  }
  return count;
}

// The private memory the process has touched, in bytes; 0 when unknown.
SIZE_T memoryInUse(HANDLE process) {
  PROCESS_MEMORY_COUNTERS counters = {};
  counters.cb = sizeof counters;
  if (!GetProcessMemoryInfo(process, &counters, sizeof counters)) return 0;
  return counters.PagefileUsage;
}

// The threads the process runs now; -1 when they cannot be listed.
long threadCount(DWORD processId) {
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return -1;
  THREADENTRY32 entry = {};
  entry.dwSize = sizeof entry;
  long count = 0;
  for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry)) {
    if (entry.th32OwnerProcessID == processId) ++count;
  }
  CloseHandle(snapshot);
  return count;
}

int soakSeconds() {
  const char* text = std::getenv("READSWEEPER_SOAK_SECONDS");
  int seconds = text ? std::atoi(text) : 0;
  return seconds > 0 ? seconds : 60;
}

struct Sample {
  long handles;
  SIZE_T memory;
};

// The largest value of a third of the samples: the first after the warm-up,
// or the last.
template <typename T>
T peak(const std::vector<Sample>& samples, T Sample::*field, bool last) {
  std::size_t third = samples.size() / 3;
  auto from = last ? samples.end() - third : samples.begin();
  T most = 0;
  for (auto it = from; it != from + third; ++it) most = std::max(most, (*it).*field);
  return most;
}

TEST_F(Readsweeper, EndlessScanKeepsHandlesAndMemoryFlat) {
  // A tree of a few dozen files in three levels, one of them held open
  // without sharing so that failed opens are part of every minute too.
  for (int i = 0; i < 12; ++i) {
    writeFileBytes(data + "f" + std::to_string(i) + ".bin", std::string(1000 + 997 * i, 'f'));
    writeFileBytes(data + "sub\\g" + std::to_string(i) + ".bin", std::string(3000 + 13 * i, 'g'));
  }
  CreateDirectoryA((data + "sub\\deeper\\").c_str(), nullptr);
  for (int i = 0; i < 8; ++i) writeFileBytes(data + "sub\\deeper\\h" + std::to_string(i), std::string(70000, 'h'));
  HANDLE lock = CreateFileA((data + "f3.bin").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(lock, INVALID_HANDLE_VALUE);

  writeIni({"instant start", "check files: " + data, "window refresh: 100", "show file name", "show file size",
            "show read byte", "show checked bytes", "show open errors", "show read errors",
            "measure reading speed", "show setup", "bytes to read at once: 512", "select subfolder: 50"});
  start();
  ASSERT_TRUE(waitUntil([&] { return scanning(); }));
  ASSERT_GE(handleCount(process.dwProcessId), 0) << "the handle table cannot be read";

  const int seconds = soakSeconds();
  const int warmUp = std::min(10, seconds / 6);
  std::vector<Sample> samples;
  std::string firstCounters, lastCounters;
  DWORD begin = GetTickCount();
  for (int second = 1; second <= seconds; ++second) {
    while (GetTickCount() - begin < static_cast<DWORD>(second) * 1000) Sleep(20);
    if (second == warmUp) firstCounters = textOf(countersLine);
    if (second > warmUp) samples.push_back({handleCount(process.dwProcessId), memoryInUse(process.hProcess)});
  }
  lastCounters = textOf(countersLine);
  ASSERT_TRUE(scanning()) << "the scan ended by itself";
  EXPECT_NE(firstCounters, lastCounters) << "the scan made no progress";
  stopScanByButton();
  EXPECT_EQ(closeAndWait(), 0);
  CloseHandle(lock);

  ASSERT_GE(samples.size(), 3u);
  long handlesEarly = peak(samples, &Sample::handles, false);
  long handlesLate = peak(samples, &Sample::handles, true);
  SIZE_T memoryEarly = peak(samples, &Sample::memory, false);
  SIZE_T memoryLate = peak(samples, &Sample::memory, true);
  std::printf("soak of %d s, %zu samples after %d s of warm-up: handles %ld early, %ld late; "
              "memory %zu kB early, %zu kB late; counters at the end: %s\n",
              seconds, samples.size(), warmUp, handlesEarly, handlesLate, memoryEarly / 1024, memoryLate / 1024,
              lastCounters.c_str());
  // Thousands of files were checked in between: a handle or a few bytes
  // kept per file would show far beyond these margins.
  EXPECT_LE(handlesLate, handlesEarly + 2);
  EXPECT_LE(memoryLate, memoryEarly + 256 * 1024);
}

TEST_F(Readsweeper, StartAndStopCyclesKeepHandlesAndMemoryFlat) {
  // Every start saves the settings file, makes a buffer and a worker; every
  // stop reloads the file while the worker winds down.
  writeIni({"check files: " + data, "show file name", "show checked bytes", "window refresh: 100",
            "bytes to read at once: 4096", "window horizontal position: 50", "window vertical position: 60"});
  start();
  // The window shows Start again while the stopped worker still winds down,
  // its stack and handles not yet given back: each sample waits until the
  // process runs no more threads than before the first start.
  const long threadsIdle = threadCount(process.dwProcessId);
  ASSERT_GT(threadsIdle, 0) << "the threads cannot be listed";
  auto workerEnded = [&] { return waitUntil([&] { return threadCount(process.dwProcessId) <= threadsIdle; }); };
  long handlesEarly = 0;
  SIZE_T memoryEarly = 0;
  for (int cycle = 1; cycle <= 150; ++cycle) {
    SCOPED_TRACE("cycle " + std::to_string(cycle));
    startScanByButton();
    if (cycle == 1) {
      ASSERT_GT(threadCount(process.dwProcessId), threadsIdle) << "the worker is not seen";
    }
    stopScanByButton();
    if (cycle == 30) {
      ASSERT_TRUE(workerEnded()) << "the worker did not end";
      handlesEarly = handleCount(process.dwProcessId);
      memoryEarly = memoryInUse(process.hProcess);
    }
  }
  ASSERT_TRUE(workerEnded()) << "the worker did not end";
  long handlesLate = handleCount(process.dwProcessId);
  SIZE_T memoryLate = memoryInUse(process.hProcess);
  std::printf("150 starts and stops: handles %ld after 30, %ld after 150; memory %zu kB, %zu kB\n", handlesEarly,
              handlesLate, memoryEarly / 1024, memoryLate / 1024);
  ASSERT_GT(handlesEarly, 0);
  EXPECT_LE(handlesLate, handlesEarly + 2);
  EXPECT_LE(memoryLate, memoryEarly + 256 * 1024);
  EXPECT_EQ(closeAndWait(), 0);
  EXPECT_EQ(ini(), lines({"check files: " + data, "show file name", "show checked bytes", "window refresh: 100",
                          "bytes to read at once: 4096", "window horizontal position: 50",
                          "window vertical position: 60"}));
}

TEST_F(Readsweeper, FiftyClosesDuringABusyScan) {
  for (int i = 0; i < 20; ++i) writeFileBytes(data + "f" + std::to_string(i) + ".bin", std::string(20000 + i, 'x'));
  const std::vector<std::string> content = {
      "instant start", "check files: " + data, "show file name", "show checked bytes", "show read errors",
      "window refresh: 100", "bytes to read at once: 64", "repeat read: 3", "window horizontal position: 120",
      "window vertical position: 300"};
  DWORD slowest = 0;
  for (int round = 0; round < 50; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    writeIni(content);
    start();
    ASSERT_TRUE(waitUntil([&] { return scanning() && !textOf(fileLine).empty(); }));
    // A closing position that must not be saved: the scan still ran.
    SetWindowPos(main, nullptr, 500, 400, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    DWORD before = GetTickCount();
    ASSERT_EQ(closeAndWait(5000), 0);
    slowest = std::max(slowest, GetTickCount() - before);
    EXPECT_EQ(ini(), lines(content));
    EXPECT_FALSE(exists(dir + "Readsweeper.tmp"));
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
    process = {};
  }
  std::printf("fifty closes during a scan: the slowest took %lu ms\n", static_cast<unsigned long>(slowest));
  EXPECT_LT(slowest, 3000u);
}

// Closing stays bounded with eight readers, each of which ends after its
// block, and the worker after the last of them.
TEST_F(Readsweeper, TwentyClosesDuringAScanOfEightReaders) {
  for (int i = 0; i < 40; ++i) writeFileBytes(data + "f" + std::to_string(i) + ".bin", std::string(20000 + i, 'x'));
  const std::vector<std::string> content = {
      "instant start", "check files: " + data, "check every file", "parallel reads: 8", "show file name",
      "show checked bytes", "window refresh: 100", "bytes to read at once: 64", "repeat read: 3"};
  for (int round = 0; round < 20; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    writeIni(content);
    start();
    ASSERT_TRUE(waitUntil([&] { return scanning() && textOf(fileLine).find(".bin") != std::string::npos; }));
    ASSERT_EQ(closeAndWait(5000), 0);
    EXPECT_EQ(ini(), lines(content));
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
    process = {};
  }
}

}  // namespace
