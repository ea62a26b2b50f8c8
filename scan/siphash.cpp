#include "scan/siphash.h"

// After the paper's definition: the message in little-endian 64-bit words,
// two compression rounds per word, the last word padded with zeros and the
// length's low byte, four finalization rounds. Byte by byte, so that the
// result does not depend on the machine's byte order or on alignment.

namespace {

inline uint64_t rotateLeft(uint64_t x, int b) { return (x << b) | (x >> (64 - b)); }

struct SipState {
  uint64_t v0, v1, v2, v3;

  void round() {
    v0 += v1;
    v1 = rotateLeft(v1, 13);
    v1 ^= v0;
    v0 = rotateLeft(v0, 32);
    v2 += v3;
    v3 = rotateLeft(v3, 16);
    v3 ^= v2;
    v0 += v3;
    v3 = rotateLeft(v3, 21);
    v3 ^= v0;
    v2 += v1;
    v1 = rotateLeft(v1, 17);
    v1 ^= v2;
    v2 = rotateLeft(v2, 32);
  }

  void absorb(uint64_t word) {
    v3 ^= word;
    round();
    round();
    v0 ^= word;
  }
};

inline uint64_t littleEndianWord(const unsigned char* p, std::size_t count) {
  uint64_t word = 0;
  for (std::size_t i = 0; i < count; ++i) word |= static_cast<uint64_t>(p[i]) << (8 * i);
  return word;
}

}  // namespace

uint64_t sipHash24(const SipKey& key, const void* data, std::size_t size) {
  SipState s{key.k0 ^ 0x736f6d6570736575ull, key.k1 ^ 0x646f72616e646f6dull, key.k0 ^ 0x6c7967656e657261ull,
             key.k1 ^ 0x7465646279746573ull};
  const auto* bytes = static_cast<const unsigned char*>(data);
  std::size_t whole = size & ~std::size_t{7};
  for (std::size_t at = 0; at < whole; at += 8) s.absorb(littleEndianWord(bytes + at, 8));
  uint64_t last = littleEndianWord(bytes + whole, size - whole) | (static_cast<uint64_t>(size & 0xFF) << 56);
  s.absorb(last);
  s.v2 ^= 0xFF;
  for (int i = 0; i < 4; ++i) s.round();
  return s.v0 ^ s.v1 ^ s.v2 ^ s.v3;
}
