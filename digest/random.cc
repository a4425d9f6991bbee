#include "digest/random.h"

namespace {

thread_local std::uint32_t state = 1;

}  // namespace

void SeedRandom(std::uint32_t seed) { state = seed; }

int DrawRandom() {
  // Unsigned arithmetic wraps modulo 2^32, as the generator requires.
  state = state * 214013u + 2531011u;
  return static_cast<int>((state >> 16) & 32767u);
}
