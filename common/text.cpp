#include "common/text.h"

#include <cstring>

Text& Text::append(std::string_view bytes) {
  std::size_t room = kMax - size_;
  std::size_t count = bytes.size() < room ? bytes.size() : room;
  std::memcpy(bytes_ + size_, bytes.data(), count);
  size_ = static_cast<uint8_t>(size_ + count);
  bytes_[size_] = '\0';
  return *this;
}

Text& Text::append(char c) {
  return append(std::string_view(&c, 1));
}

Text& Text::appendInt(int64_t value) {
  char digits[24];
  char* end = digits + sizeof digits;
  char* p = end;
  // Work on the unsigned magnitude so that the most negative value is exact.
  uint64_t magnitude = value < 0 ? 0 - static_cast<uint64_t>(value) : static_cast<uint64_t>(value);
  do {
    *--p = static_cast<char>('0' + magnitude % 10);
    magnitude /= 10;
  } while (magnitude != 0);
  if (value < 0) *--p = '-';
  return append(std::string_view(p, static_cast<std::size_t>(end - p)));
}

void Text::truncate(std::size_t count) {
  if (count >= size_) return;
  size_ = static_cast<uint8_t>(count);
  bytes_[size_] = '\0';
}

void Text::erase(std::size_t index) {
  if (index >= size_) return;
  std::memmove(bytes_ + index, bytes_ + index + 1, size_ - index - 1);
  --size_;
  bytes_[size_] = '\0';
}

Text textToString(const char* buffer) {
  return Text(std::string_view(buffer, strnlen(buffer, Text::kMax)));
}
