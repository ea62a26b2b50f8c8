#include "common/text.h"

#include <cstring>

namespace {

bool isContinuation(unsigned char b) { return (b & 0xC0) == 0x80; }

// The length of the well-formed sequence that starts at `at`; 0 when none
// does.
std::size_t sequenceAt(std::string_view s, std::size_t at) {
  unsigned char lead = static_cast<unsigned char>(s[at]);
  if (lead < 0x80) return 1;
  std::size_t length = announcedLength(lead);
  if (length == 0 || length > s.size() - at) return 0;
  // The second byte's range is narrower after four lead bytes: that rules
  // out overlong forms (E0, F0), surrogates (ED) and values above U+10FFFF
  // (F4).
  unsigned char low = 0x80;
  unsigned char high = 0xBF;
  if (lead == 0xE0) low = 0xA0;
  if (lead == 0xED) high = 0x9F;
  if (lead == 0xF0) low = 0x90;
  if (lead == 0xF4) high = 0x8F;
  unsigned char second = static_cast<unsigned char>(s[at + 1]);
  if (second < low || second > high) return 0;
  for (std::size_t i = 2; i < length; ++i) {
    if (!isContinuation(static_cast<unsigned char>(s[at + i]))) return 0;
  }
  return length;
}

// One character: a well-formed sequence, or else a single byte.
std::size_t characterAt(std::string_view s, std::size_t at) {
  std::size_t length = sequenceAt(s, at);
  return length != 0 ? length : 1;
}

}  // namespace

std::size_t characterLength(std::string_view bytes) { return bytes.empty() ? 0 : sequenceAt(bytes, 0); }

std::size_t announcedLength(unsigned char b) {
  if (b >= 0xC2 && b <= 0xDF) return 2;
  if (b >= 0xE0 && b <= 0xEF) return 3;
  if (b >= 0xF0 && b <= 0xF4) return 4;
  return 0;
}

Text& Text::append(std::string_view bytes) {
  std::size_t room = kMax - size_;
  std::size_t count = bytes.size() < room ? bytes.size() : room;
  // An empty view may have no data at all, which memcpy must not be given.
  if (count > 0) std::memcpy(bytes_ + size_, bytes.data(), count);
  std::size_t size = size_ + count;
  // When the first byte left out continues a character, the bytes of that
  // character that did fit go too. Only a lead byte that announces more
  // bytes than fitted is taken back, so text in another encoding, where
  // such bytes are letters, loses nothing.
  if (count < bytes.size() && isContinuation(static_cast<unsigned char>(bytes[count]))) {
    for (std::size_t back = 1; back <= 3 && back <= size; ++back) {
      unsigned char b = static_cast<unsigned char>(bytes_[size - back]);
      if (isContinuation(b)) continue;
      if (announcedLength(b) > back) size -= back;
      break;
    }
  }
  size_ = static_cast<uint8_t>(size);
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

bool isValidUtf8(std::string_view bytes) {
  for (std::size_t at = 0; at < bytes.size();) {
    std::size_t length = sequenceAt(bytes, at);
    if (length == 0) return false;
    at += length;
  }
  return true;
}

std::size_t countCharacters(std::string_view bytes) {
  std::size_t count = 0;
  for (std::size_t at = 0; at < bytes.size(); at += characterAt(bytes, at)) ++count;
  return count;
}

std::size_t bytesOfCharacters(std::string_view bytes, std::size_t characters) {
  std::size_t at = 0;
  for (std::size_t count = 0; count < characters && at < bytes.size(); ++count) at += characterAt(bytes, at);
  return at;
}
