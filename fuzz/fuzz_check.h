// What the fuzz targets share: a property check that stops the run with the
// input's failing property (libFuzzer then keeps the input as a crash), and
// a reader that takes typed values off the front of the input.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#define FUZZ_CHECK(condition)                                                          \
  do {                                                                                 \
    if (!(condition)) {                                                                \
      std::fprintf(stderr, "%s:%d: property failed: %s\n", __FILE__, __LINE__, #condition); \
      std::abort();                                                                    \
    }                                                                                  \
  } while (0)

// Hands out the input's bytes front to back; past the end it gives zeros
// and empty strings, so every input makes a whole case.
class FuzzInput {
 public:
  FuzzInput(const uint8_t* data, std::size_t size) : data_(data), size_(size) {}

  template <typename T>
  T take() {
    T value{};
    std::size_t n = sizeof value < size_ - at_ ? sizeof value : size_ - at_;
    std::memcpy(&value, data_ + at_, n);
    at_ += n;
    return value;
  }
  bool takeBool() { return (take<uint8_t>() & 1) != 0; }
  // A string of up to `most` bytes, its length taken first.
  std::string takeString(std::size_t most) {
    std::size_t n = take<uint8_t>() % (most + 1);
    if (n > size_ - at_) n = size_ - at_;
    std::string s(reinterpret_cast<const char*>(data_ + at_), n);
    at_ += n;
    return s;
  }
  std::string_view rest() {
    std::string_view r(reinterpret_cast<const char*>(data_ + at_), size_ - at_);
    at_ = size_;
    return r;
  }

 private:
  const uint8_t* data_;
  std::size_t size_;
  std::size_t at_ = 0;
};
