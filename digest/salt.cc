#include "digest/salt.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>

#include "digest/base64.h"
#include "digest/random.h"

std::string SaltFromValue(int value) {
  std::uint32_t v = static_cast<std::uint32_t>(value);
  unsigned char bytes[4] = {
      static_cast<unsigned char>(v & 255), static_cast<unsigned char>((v >> 8) & 255),
      static_cast<unsigned char>((v >> 16) & 255), static_cast<unsigned char>((v >> 24) & 255)};
  std::int32_t length = 4;
  std::unique_ptr<char[]> text = Base64(true).Encode(bytes, &length);
  return std::string(text.get(), static_cast<std::size_t>(length));
}

std::string MakeSalt() {
  auto now = std::chrono::system_clock::now().time_since_epoch();
  auto seconds = std::chrono::duration_cast<std::chrono::seconds>(now).count();
  SeedRandom(static_cast<std::uint32_t>(static_cast<std::uint64_t>(seconds)));
  return SaltFromValue(DrawRandom());
}

bool RandomSalts::Next(std::string& salt) {
  // One draw makes four salts: a system call per salt would cost more than
  // the digest of a user.
  if (left_ == 0) {
    if (!source_(&bits_)) return false;
    left_ = 4;
  }
  salt = SaltFromValue(static_cast<int>(bits_ & static_cast<std::uint64_t>(kRandomMax)));
  bits_ >>= 16;
  --left_;
  return true;
}
