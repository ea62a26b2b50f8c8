#include "scan/engine.h"

// Bucket i below 16 holds exactly i microseconds. Above, a time t with its
// highest bit at e (4 or more) goes by its three bits after that one: the
// bucket 16 + (e - 4) * 8 + those bits, which spans 2^(e-3) microseconds.
// Times are spread over five decades in a few hundred counters, and the
// figures drawn from them are never more than an eighth too high.

namespace {

constexpr int64_t kLongest = (int64_t{1} << 48) - 1;

int bucketOf(int64_t micros) {
  if (micros < 16) return static_cast<int>(micros);
  int e = 4;
  while ((micros >> (e + 1)) != 0) ++e;
  return 16 + (e - 4) * 8 + static_cast<int>((micros >> (e - 3)) & 7);
}

int64_t upperEdge(int bucket) {
  if (bucket < 16) return bucket;
  int e = 4 + (bucket - 16) / 8;
  int64_t low = int64_t{8 + (bucket - 16) % 8} << (e - 3);
  return low + (int64_t{1} << (e - 3)) - 1;
}

}  // namespace

void addReadTime(ReadTimes* times, int64_t micros) {
  micros = micros < 0 ? 0 : (micros > kLongest ? kLongest : micros);
  ++times->counts[bucketOf(micros)];
  ++times->total;
  if (micros > times->longest) times->longest = micros;
}

int64_t readTimeQuantile(const ReadTimes& times, int permille) {
  if (times.total == 0) return -1;
  // The rank of the read asked for, from 1: the smallest that has at least
  // `permille` thousandths of the reads at or below it.
  int64_t rank = (times.total / 1000) * permille + ((times.total % 1000) * permille + 999) / 1000;
  if (rank < 1) rank = 1;
  int64_t seen = 0;
  for (int bucket = 0; bucket < ReadTimes::kBuckets; ++bucket) {
    seen += times.counts[bucket];
    if (seen >= rank) return upperEdge(bucket) < times.longest ? upperEdge(bucket) : times.longest;
  }
  return times.longest;
}
