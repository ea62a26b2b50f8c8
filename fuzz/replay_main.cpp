// Runs a fuzz target over saved inputs without libFuzzer: every file of the
// folders (or the files) named on the command line, once each. A failed
// property aborts, which fails the test.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size);

namespace {

int replay(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (!in.eof() && in.fail()) {
    std::fprintf(stderr, "cannot read %s\n", file.string().c_str());
    return 1;
  }
  LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  int inputs = 0;
  int failures = 0;
  for (int i = 1; i < argc; ++i) {
    std::error_code ec;
    std::filesystem::path path(argv[i]);
    if (std::filesystem::is_directory(path, ec)) {
      for (const auto& entry : std::filesystem::directory_iterator(path, ec)) {
        if (!entry.is_regular_file()) continue;
        failures += replay(entry.path());
        ++inputs;
      }
    } else {
      failures += replay(path);
      ++inputs;
    }
  }
  std::printf("%d inputs replayed\n", inputs);
  // A corpus that went missing must not pass as a clean run.
  return inputs == 0 || failures != 0 ? 1 : 0;
}
