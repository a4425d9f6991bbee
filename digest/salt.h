#ifndef USERS_DIGEST_SALT_H_
#define USERS_DIGEST_SALT_H_

#include <cstdint>
#include <functional>
#include <string>
#include <utility>

// Returns a new 8-character salt, drawn once from the generator seeded with
// the current second. Two salts made in the same second are equal.
std::string MakeSalt();

// The salt for one generator value (0 to 32767): the Base64 text of the
// value as 4 bytes, low byte first.
std::string SaltFromValue(int value);

// Salts for many users made at once, each from 15 bits of a random source
// (the system's), so that the users of one batch do not all share the salt
// of their second, as MakeSalt's would. The salts have MakeSalt's form.
class RandomSalts {
 public:
  // Fills `*bits` with random bits; false when the source fails.
  using Source = std::function<bool(std::uint64_t* bits)>;

  explicit RandomSalts(Source source) : source_(std::move(source)) {}

  // Sets `salt` to the next salt; false when the source failed.
  bool Next(std::string& salt);

 private:
  Source source_;
  std::uint64_t bits_ = 0;
  int left_ = 0;  // salts still in bits_, 16 bits each
};

#endif  // USERS_DIGEST_SALT_H_
