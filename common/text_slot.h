// The newest text handed from one thread to another without a lock and
// without either waiting: triple buffering between one writer and one
// reader. The writer fills its own buffer and swaps it into the middle,
// marked fresh; the reader swaps a fresh middle out for its own. Neither
// ever touches the buffer the other holds, and a text put before the last
// take is never lost: the reader always gets the newest one.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstring>

#include "common/text.h"

struct TextSlot {
  static constexpr uint8_t kFresh = 4;
  char buffers[3][Text::kMax + 1] = {};
  std::atomic<uint8_t> middle{0};
  uint8_t back = 1;   // the writer's
  uint8_t front = 2;  // the reader's

  // Writer: the newest text, in place of one not taken yet.
  void put(const Text& text) {
    std::memcpy(buffers[back], text.c_str(), text.size() + 1);
    uint8_t previous = middle.exchange(static_cast<uint8_t>(back | kFresh), std::memory_order_acq_rel);
    back = previous & 3;
  }

  // Reader: the newest text when one came since the last take, else null.
  // It stays valid until the next take.
  const char* take() {
    if ((middle.load(std::memory_order_acquire) & kFresh) == 0) return nullptr;
    uint8_t previous = middle.exchange(front, std::memory_order_acq_rel);
    front = previous & 3;
    return buffers[front];
  }
};
