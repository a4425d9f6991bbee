#ifndef USERS_DIGEST_RANDOM_H_
#define USERS_DIGEST_RANDOM_H_

#include <cstdint>

// The linear congruential generator that salts come from. Its constants and
// its 15-bit output fix the form of every salt ever stored, so they are ours
// and not the C library's. The state belongs to the calling thread.

inline constexpr int kRandomMax = 32767;

void SeedRandom(std::uint32_t seed);

// Returns the next value, 0 to kRandomMax.
int DrawRandom();

#endif  // USERS_DIGEST_RANDOM_H_
