// SipHash-2-4: a keyed 64-bit hash, random to whoever does not know the
// key. The order of a resumable cycle is its files sorted by it.
#pragma once

#include <cstddef>
#include <cstdint>

struct SipKey {
  uint64_t k0 = 0;  // the key's bytes 0 to 7, little-endian
  uint64_t k1 = 0;  // its bytes 8 to 15
};

// The hash of `size` bytes at `data` under `key`.
uint64_t sipHash24(const SipKey& key, const void* data, std::size_t size);
