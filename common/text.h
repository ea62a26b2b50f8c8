// The program's one text type: a UTF-8 byte string of at most 255 bytes.
// Appending never grows a text past its 255th byte: whatever does not fit is
// dropped, so no caller can build a longer text by accident, and a cut never
// leaves part of a multi-byte character behind.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

class Text {
 public:
  static constexpr std::size_t kMax = 255;

  Text() = default;
  Text(const char* zeroTerminated) { append(zeroTerminated); }  // NOLINT(runtime/explicit)
  Text(std::string_view bytes) { append(bytes); }               // NOLINT(runtime/explicit)

  Text& append(std::string_view bytes);
  Text& append(char c);
  Text& appendInt(int64_t value);  // plain decimal, "-" only when negative
  Text& operator+=(std::string_view bytes) { return append(bytes); }
  Text& operator+=(const char* zeroTerminated) { return append(zeroTerminated); }
  Text& operator+=(const Text& other) { return append(other.view()); }
  Text& operator+=(char c) { return append(c); }

  // Drops everything from position `count` on (no effect when shorter).
  void truncate(std::size_t count);
  // Removes the character at `index` (no effect when out of range).
  void erase(std::size_t index);
  void clear() { truncate(0); }

  std::size_t size() const { return size_; }
  bool empty() const { return size_ == 0; }
  char operator[](std::size_t index) const { return bytes_[index]; }
  char back() const { return size_ ? bytes_[size_ - 1] : '\0'; }
  std::string_view view() const { return {bytes_, size_}; }
  // Always zero-terminated, ready for the window system.
  const char* c_str() const { return bytes_; }

  friend bool operator==(const Text& a, const Text& b) { return a.view() == b.view(); }
  friend bool operator!=(const Text& a, const Text& b) { return !(a == b); }
  friend bool operator==(const Text& a, std::string_view b) { return a.view() == b; }
  friend bool operator!=(const Text& a, std::string_view b) { return a.view() != b; }
  // A literal converts both to a Text and to a string_view; these take it
  // directly.
  friend bool operator==(const Text& a, const char* b) { return a.view() == std::string_view(b); }
  friend bool operator!=(const Text& a, const char* b) { return a.view() != std::string_view(b); }

 private:
  uint8_t size_ = 0;
  char bytes_[kMax + 1] = {};
};

inline Text operator+(Text a, std::string_view b) { return a.append(b); }
inline Text operator+(Text a, const Text& b) { return a.append(b.view()); }
inline Text operator+(Text a, const char* b) { return a.append(b); }

// The length of the UTF-8 sequence that a lead byte announces, 2 to 4; 0 for
// a byte that starts no multi-byte sequence.
std::size_t announcedLength(unsigned char lead);

// The length of the well-formed UTF-8 character at the start of `bytes`;
// 0 when the first byte starts none (or `bytes` is empty).
std::size_t characterLength(std::string_view bytes);

// Whether the bytes are well-formed UTF-8: shortest forms only, no
// surrogates, nothing above U+10FFFF.
bool isValidUtf8(std::string_view bytes);

// The number of characters: each well-formed UTF-8 sequence counts as one,
// and so does each byte that is not part of one.
std::size_t countCharacters(std::string_view bytes);

// The number of bytes that the first `characters` characters take (all of
// the text when it has fewer), counted as countCharacters does.
std::size_t bytesOfCharacters(std::string_view bytes, std::size_t characters);
