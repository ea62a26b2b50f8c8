// Helpers shared by the test programs, for the native and the Windows build.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <system_error>

// A fresh, empty folder that is the current directory for the life of the
// object; the previous current directory comes back and the folder goes
// away with everything in it.
class ScopedTempDir {
 public:
  ScopedTempDir() {
    namespace fs = std::filesystem;
    std::error_code ec;
    previous_ = fs::current_path(ec);
    fs::path base = fs::temp_directory_path(ec);
    std::mt19937 draw(static_cast<unsigned>(std::chrono::steady_clock::now().time_since_epoch().count()));
    for (int attempt = 0; attempt < 100; ++attempt) {
      fs::path candidate = base / ("rs-test-" + std::to_string(draw()));
      if (fs::create_directory(candidate, ec)) {
        path_ = candidate;
        break;
      }
    }
    if (path_.empty()) {
      ADD_FAILURE() << "no temporary folder could be made under " << base.string();
      return;
    }
    fs::current_path(path_, ec);
    if (ec) ADD_FAILURE() << "cannot enter " << path_.string() << ": " << ec.message();
  }
  ~ScopedTempDir() {
    std::error_code ec;
    std::filesystem::current_path(previous_, ec);
    if (!path_.empty()) std::filesystem::remove_all(path_, ec);
  }
  ScopedTempDir(const ScopedTempDir&) = delete;
  ScopedTempDir& operator=(const ScopedTempDir&) = delete;

  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path previous_;
  std::filesystem::path path_;
};

// Writes the bytes as they are, creating or emptying the file.
inline void writeTestFile(const std::string& name, const std::string& bytes) {
  std::ofstream out(name, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  ASSERT_TRUE(out.good()) << "cannot write " << name;
}

// The bytes of the file; empty when it cannot be read.
inline std::string readTestFile(const std::string& name) {
  std::ifstream in(name, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline bool testEntryExists(const std::string& name) {
  std::error_code ec;
  return std::filesystem::exists(std::filesystem::symlink_status(name, ec));
}
