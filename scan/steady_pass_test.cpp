// Once a scan has warmed up, its passes allocate nothing: not the walk, not
// the read check, not the texts, not the system layer around the listings
// and files. Every allocation through operator new in this program is
// counted while the passes run, for roots given in every way a user can
// give them.
#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <new>
#include <string>

#include "platform/window.h"
#include "scan/test_support.h"

namespace {

std::atomic<bool> counting{false};
std::atomic<long> allocations{0};

// What the window's path edit holds; the rest of the window does nothing.
std::string PathText;

}  // namespace

void* operator new(std::size_t size) {
  if (counting.load()) ++allocations;
  void* p = std::malloc(size != 0 ? size : 1);
  if (p == nullptr) std::abort();
  return p;
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }

Text readControlText(Control control) { return control == Control::PathEdit ? Text(PathText) : Text(); }
void setControlText(Control, const Text&) {}
void enableControl(Control, bool) {}
void showMainWindowNormal() {}

namespace {

namespace fs = std::filesystem;

// A path as the program writes paths: backslashes throughout, ending in one.
std::string programPath(const fs::path& path) {
  std::string text = path.string();
  for (char& c : text) {
    if (c == '/') c = '\\';
  }
  if (text.back() != '\\') text += '\\';
  return text;
}

// A few folders of files of a few sizes under `root`.
void makeTree(const fs::path& root) {
  for (const char* folder : {"a/b", "c"}) fs::create_directories(root / folder);
  int serial = 0;
  for (const char* folder : {"", "a", "a/b", "c"}) {
    for (int size : {1, 700, 5000, 70000}) {
      std::ofstream(root / folder / ("f" + std::to_string(++serial) + ".bin"), std::ios::binary)
          << std::string(static_cast<std::size_t>(size), 'x');
    }
  }
}

TEST(SteadyPasses, AllocateNothing) {
  fs::path dir = fs::temp_directory_path() /
                 ("readsweeper-steady-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()));
  fs::remove_all(dir);
  makeTree(dir / "tree");
  // Deeper than the classic path limit of 260 characters: its paths take
  // the long form on Windows.
  fs::path deep = dir / "deep";
  for (int level = 0; level < 5; ++level) deep /= std::string(59, static_cast<char>('a' + level));
  makeTree(deep);
  std::error_code ec;
  fs::path previous = fs::current_path(ec);
  fs::current_path(dir);

  const struct {
    const char* what;
    std::string typed;        // in the path edit
    std::string defaultPath;  // "default init path:"
  } cases[] = {
      {"an absolute default path", "", programPath(dir / "tree")},
      {"a relative path typed", "tree\\", ""},
      {"no folder typed and a relative default path", "", "tree\\"},
      {"an absolute path typed, deeper than 260 characters", programPath(deep), ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    // Every text shown for every file, and the speed measured.
    Settings s;
    s.showCheckedBytes = s.showReadErrors = s.showOpenErrors = true;
    s.showFileName = s.showFileSize = s.showReadByte = true;
    s.measureReadingSpeed = s.showCheckedBytesInPercents = true;
    s.stopAfterChecked = 2000000000;
    s.windowRefresh = 100;
    s.selectSubfolder = 50;
    s.bytesToReadAtOnce = 4096;
    s.defaultInitPath = Text(c.defaultPath);
    PathText = c.typed;
    std::vector<char> buffer(4096);
    prepareScan(s, buffer.data(), 4096, 11);
    ScanState.store(1);
    setupScan();
    for (int pass = 0; pass < 200; ++pass) runPass();
    int64_t checkedBefore = Scan.checkedBytes;

    allocations.store(0);
    counting.store(true);
    for (int pass = 0; pass < 2000; ++pass) runPass();
    counting.store(false);

    EXPECT_EQ(allocations.load(), 0);
    EXPECT_GT(Scan.checkedBytes, checkedBefore) << "the passes checked nothing";
    EXPECT_EQ(Scan.openErrors + Scan.readErrors, 0);
    requestScanStop();
    finishScan();
  }
  fs::current_path(previous, ec);
  fs::remove_all(dir, ec);
}

}  // namespace
