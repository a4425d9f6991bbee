#ifndef USERS_DIGEST_SALT_H_
#define USERS_DIGEST_SALT_H_

#include <string>

// Returns a new 8-character salt, drawn once from the generator seeded with
// the current second. Two salts made in the same second are equal.
std::string MakeSalt();

// The salt for one generator value (0 to 32767): the Base64 text of the
// value as 4 bytes, low byte first.
std::string SaltFromValue(int value);

#endif  // USERS_DIGEST_SALT_H_
