// Readsweeper.exe with an error list: which files it names and how, while
// other programs read, rename and hold the files; and lists that cannot be
// opened or written.
#include <cstdio>
#include <cstdlib>

#include "e2e_support.h"

namespace {

using namespace e2e;

const std::string kStart = "\xEF\xBB\xBFtime,event,path,offset,requested,obtained,code,message\r\n";

enum Column { kTime, kEvent, kPath, kOffset, kRequested, kObtained, kCode, kMessage, kColumns };
using Row = std::vector<std::string>;

// The system's own text for a code, on one line, as the list gives it.
std::string systemText(DWORD code) {
  wchar_t wide[512];
  DWORD length = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0, wide,
                                512, nullptr);
  char utf8[2048];
  int bytes = WideCharToMultiByte(CP_UTF8, 0, wide, static_cast<int>(length), utf8, sizeof utf8, nullptr, nullptr);
  std::string text(utf8, bytes > 0 ? static_cast<std::size_t>(bytes) : 0);
  for (char& c : text) {
    if (c == '\r' || c == '\n') c = ' ';
  }
  while (!text.empty() && text.back() == ' ') text.pop_back();
  return text;
}

// One CSV line after RFC 4180 (its quoted fields hold no line ends here).
Row fieldsOf(const std::string& line) {
  Row fields(1);
  bool quoted = false;
  for (std::size_t i = 0; i < line.size(); ++i) {
    char c = line[i];
    if (quoted && c == '"' && i + 1 < line.size() && line[i + 1] == '"') {
      fields.back() += '"';
      ++i;
    } else if (c == '"') {
      quoted = !quoted;
    } else if (c == ',' && !quoted) {
      fields.emplace_back();
    } else {
      fields.back() += c;
    }
  }
  return fields;
}

bool isTime(const std::string& text) {
  const std::string form = "dddd-dd-dd dd:dd:dd.ddd";
  if (text.size() != form.size()) return false;
  for (std::size_t i = 0; i < form.size(); ++i) {
    bool digit = text[i] >= '0' && text[i] <= '9';
    if (form[i] == 'd' ? !digit : text[i] != form[i]) return false;
  }
  return true;
}

// "opening errors: 3" in a counters line gives "3".
std::string numberAfter(const std::string& line, const std::string& label) {
  std::size_t at = line.find(label);
  if (at == std::string::npos) return "?";
  at += label.size();
  std::size_t end = line.find_first_not_of("0123456789", at);
  return line.substr(at, end - at);
}

// Whether the checked bytes of a counters line are `exact`: the line gives
// them whole ("123B"), or scaled to kB, MB or GB and rounded, ties to even,
// when it would run past the window.
bool checkedAgrees(const std::string& counters, long long exact) {
  std::string digits = numberAfter(counters, "checked ");
  std::size_t at = counters.find("checked ") + 8 + digits.size();
  std::string unit = counters.substr(at, counters.find(',', at) - at);
  const char* const units[] = {"B", "kB", "MB", "GB"};
  for (int shift = 0; shift < 4; ++shift) {
    if (unit != units[shift]) continue;
    long long whole = exact >> (10 * shift);
    if (shift > 0) {
      long long rest = exact - (whole << (10 * shift));
      long long half = 1LL << (10 * shift - 1);
      if (rest > half || (rest == half && (whole & 1))) ++whole;
    }
    return digits == std::to_string(whole);
  }
  return false;
}

bool resize(const std::string& path, LONGLONG size) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                            nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  LARGE_INTEGER end;
  end.QuadPart = size;
  bool done = SetFilePointerEx(file, end, nullptr, FILE_BEGIN) && SetEndOfFile(file);
  CloseHandle(file);
  return done;
}

class ErrorList : public Readsweeper {
 protected:
  void SetUp() override {
    Readsweeper::SetUp();
    tree = dir + "tree\\";
    ASSERT_TRUE(CreateDirectoryA(tree.c_str(), nullptr));
  }

  std::string listPath() const { return dir + "errors.csv"; }

  // The list's rows after its byte-order mark and header; every line ends
  // in CR LF and starts with its time.
  std::vector<Row> rows(const std::string& path) {
    std::string all = readFileBytes(path);
    std::vector<Row> result;
    if (all.compare(0, kStart.size(), kStart) != 0) return result;
    for (std::size_t at = kStart.size(); at < all.size();) {
      std::size_t end = all.find("\r\n", at);
      if (end == std::string::npos) break;  // a line still being written
      std::string line = all.substr(at, end - at);
      EXPECT_EQ(line.find('\n'), std::string::npos) << line;
      result.push_back(fieldsOf(line));
      EXPECT_EQ(result.back().size(), static_cast<std::size_t>(kColumns)) << line;
      result.back().resize(kColumns);
      EXPECT_TRUE(isTime(result.back()[kTime])) << line;
      at = end + 2;
    }
    return result;
  }
  std::vector<Row> rows() { return rows(listPath()); }

  static bool has(const std::vector<Row>& all, const std::string& event, const std::string& path) {
    for (const Row& row : all) {
      if (row[kEvent] == event && row[kPath] == path) return true;
    }
    return false;
  }
  static int count(const std::vector<Row>& all, const std::string& event) {
    int n = 0;
    for (const Row& row : all) n += row[kEvent] == event;
    return n;
  }

  // The scan end row against the window's last counters.
  void expectScanEnd(const Row& row, const std::string& counters) {
    EXPECT_EQ(row[kEvent], "scan end");
    EXPECT_EQ(row[kPath], tree);
    const std::string& m = row[kMessage];
    EXPECT_EQ(m.rfind("checked ", 0), 0u) << m;
    EXPECT_TRUE(checkedAgrees(counters, std::atoll(m.c_str() + 8))) << m << " against " << counters;
    EXPECT_NE(m.find(", opening errors " + numberAfter(counters, "opening errors: ") + ", reading errors " +
                     numberAfter(counters, "reading errors: ") + ", "),
              std::string::npos)
        << m << " against " << counters;
    EXPECT_NE(m.find(" repeated events not listed"), std::string::npos) << m;
  }

  std::string tree;
};

// A file held without sharing, a file cut short while the scan reads it,
// and a healthy one. The list names the first two, each once, while another
// program reads it during the scan; a second scan appends to it.
TEST_F(ErrorList, NamesTheFilesThatFailedAndHow) {
  writeFileBytes(tree + "good.bin", std::string(3000, 'g'));
  writeFileBytes(tree + "locked.bin", std::string(1000, 'l'));
  const LONGLONG kLong = 2 << 20;
  writeFileBytes(tree + "shrinks.bin", std::string(static_cast<std::size_t>(kLong), 's'));
  HANDLE lock = CreateFileA((tree + "locked.bin").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(lock, INVALID_HANDLE_VALUE);
  // Many positions per visit, each read many times: the scan stays in a
  // file for a good while, and the file line names it.
  writeIni({"instant start", "check files: " + tree, "error list: errors.csv", "show file name",
            "show checked bytes", "show open errors", "show read errors", "show full file size",
            "window refresh: 100", "bytes to read at once: 512", "select next file: 1", "repeat read: 100"});
  ASSERT_NO_FATAL_FAILURE(start());
  ASSERT_TRUE(waitUntil([&] { return scanning(); }));
  ASSERT_TRUE(waitUntil([&] { return has(rows(), "open failed", tree + "locked.bin"); })) << readFileBytes(listPath());

  // Cut the file while the scan is inside it: the positions it draws from
  // the listed size then lie past the end. A cut that comes between two
  // visits shows nothing; the file then gets its length back for another try.
  bool cut = false;
  for (int attempt = 0; attempt < 20 && !cut; ++attempt) {
    ASSERT_TRUE(waitUntil([&] { return textOf(fileLine).find("shrinks.bin") != std::string::npos; }));
    ASSERT_TRUE(resize(tree + "shrinks.bin", 100));
    cut = waitUntil([&] { return has(rows(), "short read", tree + "shrinks.bin"); }, 1000);
    if (!cut) {
      ASSERT_TRUE(resize(tree + "shrinks.bin", kLong));
    }
  }
  ASSERT_TRUE(cut) << "the scan never read past the new end";
  stopScanByButton();
  std::string counters = textOf(countersLine);

  std::vector<Row> first = rows();
  ASSERT_EQ(first.size(), 4u) << readFileBytes(listPath());
  EXPECT_EQ(first[0][kEvent], "scan start");
  EXPECT_EQ(first[0][kPath], tree);
  EXPECT_EQ(first[0][kMessage], "version 0.03.4; settings: 100x repeat read, 512 bytes at once ");
  for (int column : {kOffset, kRequested, kObtained, kCode}) EXPECT_EQ(first[0][column], "");
  for (const Row& row : {first[1], first[2]}) {
    if (row[kEvent] == "open failed") {
      EXPECT_EQ(row, (Row{row[kTime], "open failed", tree + "locked.bin", "", "", "", "32", systemText(32)}));
    } else {
      EXPECT_EQ(row[kEvent], "short read");
      EXPECT_EQ(row[kPath], tree + "shrinks.bin");
      EXPECT_EQ(row[kOffset].find_first_not_of("0123456789"), std::string::npos) << row[kOffset];
      EXPECT_EQ(row[kRequested], "512");
      EXPECT_LT(std::atoll(row[kObtained].c_str()), 512) << row[kObtained];
      EXPECT_EQ(row[kCode], "0");
      EXPECT_EQ(row[kMessage], "end of file");
    }
  }
  EXPECT_NE(first[1][kEvent], first[2][kEvent]);
  expectScanEnd(first[3], counters);

  // The second scan appends, and lists the locked file again: each scan
  // has its own set of repeats. The file cut to 100 bytes now reads whole.
  startScanByButton();
  ASSERT_TRUE(waitUntil([&] { return count(rows(), "open failed") == 2; })) << readFileBytes(listPath());
  stopScanByButton();
  counters = textOf(countersLine);
  EXPECT_EQ(closeAndWait(), 0);
  CloseHandle(lock);
  std::string all = readFileBytes(listPath());
  EXPECT_EQ(all.find("time,event", kStart.size()), std::string::npos) << "a second header";
  std::vector<Row> both = rows();
  ASSERT_EQ(both.size(), 7u) << all;
  EXPECT_EQ(std::vector<Row>(both.begin(), both.begin() + 4), first);
  EXPECT_EQ(both[4][kEvent], "scan start");
  EXPECT_EQ(both[5], (Row{both[5][kTime], "open failed", tree + "locked.bin", "", "", "", "32", systemText(32)}));
  expectScanEnd(both[6], counters);
  std::printf("the list after two scans:\n%s", all.substr(3).c_str());
}

// One locked file, failing to open in every pass: one line, and the
// repeats counted in the scan end.
TEST_F(ErrorList, RepeatedFailuresAreFolded) {
  writeFileBytes(tree + "locked.bin", std::string(1000, 'l'));
  HANDLE lock = CreateFileA((tree + "locked.bin").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(lock, INVALID_HANDLE_VALUE);
  writeIni({"instant start", "check files: " + tree, "error list: errors.csv", "show open errors",
            "show read errors", "scan all files", "skip file: 0", "select next file: 100",
            "stop after errors: 4000"});
  ASSERT_NO_FATAL_FAILURE(start());
  ASSERT_TRUE(waitUntil([&] { return idle() && !textOf(countersLine).empty(); }, 60000));
  EXPECT_EQ(textOf(countersLine), "opening errors: 1000, reading errors: 3000");
  EXPECT_EQ(closeAndWait(), 0);
  CloseHandle(lock);
  std::vector<Row> all = rows();
  ASSERT_EQ(all.size(), 3u) << readFileBytes(listPath());
  EXPECT_EQ(all[0][kEvent], "scan start");
  EXPECT_EQ(all[0][kMessage], "version 0.03.4; settings: scan all files, 1 bytes at once, stop after 4000 error bytes ");
  EXPECT_EQ(all[1], (Row{all[1][kTime], "open failed", tree + "locked.bin", "", "", "", "32", systemText(32)}));
  std::string end = all[2][kMessage];
  std::size_t seconds = end.find(", reading errors 3000, ");
  ASSERT_NE(seconds, std::string::npos) << end;
  EXPECT_EQ(end.substr(0, seconds), "checked 0 B, files checked 1000, opening errors 1000");
  EXPECT_EQ(end.substr(end.find(" s, ")), " s, 999 repeated events not listed");
  std::printf("the list of 1000 failed opens:\n%s", readFileBytes(listPath()).substr(3).c_str());
}

// Closing during a scan ends the list with the scan's last line, in the
// file the list has become after a rename during the scan.
TEST_F(ErrorList, RenamedDuringTheScanAndClosedWithIt) {
  writeFileBytes(tree + "a.bin", std::string(3000, 'a'));
  writeIni({"instant start", "check files: " + tree, "error list: errors.csv"});
  ASSERT_NO_FATAL_FAILURE(start());
  ASSERT_TRUE(waitUntil([&] { return scanning(); }));
  ASSERT_TRUE(waitUntil([&] { return count(rows(), "scan start") == 1; }));
  ASSERT_TRUE(MoveFileA(listPath().c_str(), (dir + "renamed.csv").c_str())) << GetLastError();
  EXPECT_EQ(closeAndWait(), 0);
  EXPECT_FALSE(exists(listPath()));
  std::vector<Row> all = rows(dir + "renamed.csv");
  ASSERT_EQ(all.size(), 2u) << readFileBytes(dir + "renamed.csv");
  EXPECT_EQ(all[1][kEvent], "scan end");
  EXPECT_NE(all[1][kMessage].find(", opening errors 0, reading errors 0, "), std::string::npos) << all[1][kMessage];
}

// A list that cannot be opened, or whose header cannot be written, refuses
// the start and says why in the file line; the settings are saved all the
// same. Once the list can be opened, a start goes ahead and the text goes.
TEST_F(ErrorList, AListThatCannotBeOpenedRefusesTheStart) {
  ASSERT_TRUE(CreateDirectoryA((dir + "afolder").c_str(), nullptr));
  const struct {
    const char* list;
    DWORD code;
    const char* what;
  } cases[] = {
      {"missing\\errors.csv", 3, "open"},
      {"afolder", 5, "open"},
      {"Z:\\dev\\full", 112, "write"},  // opens empty, and every write fails
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.list);
    writeIni({"check files: C:\\old\\", std::string("error list: ") + c.list});
    ASSERT_NO_FATAL_FAILURE(start());
    type(tree);
    press();
    std::string expected = std::string("cannot ") + c.what + " the error list " + c.list + ": " + systemText(c.code) +
                           " (code " + std::to_string(c.code) + ")";
    EXPECT_TRUE(waitUntil([&] { return textOf(fileLine) == expected; })) << textOf(fileLine);
    settle();
    EXPECT_TRUE(idle());
    EXPECT_EQ(ini(), lines({"check files: " + tree, std::string("error list: ") + c.list}));
    EXPECT_EQ(closeAndWait(), 0);
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
    process = {};
  }
  EXPECT_FALSE(exists(dir + "missing"));

  writeIni({"check files: " + tree, "error list: missing\\errors.csv"});
  ASSERT_NO_FATAL_FAILURE(start());
  press();
  ASSERT_TRUE(waitUntil([&] { return !textOf(fileLine).empty(); }));
  ASSERT_TRUE(CreateDirectoryA((dir + "missing").c_str(), nullptr));
  startScanByButton();
  EXPECT_EQ(textOf(fileLine), "");
  stopScanByButton();
  EXPECT_EQ(closeAndWait(), 0);
  EXPECT_EQ(count(rows(dir + "missing\\errors.csv"), "scan end"), 1);
}

}  // namespace
