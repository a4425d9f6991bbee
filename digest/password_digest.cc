#include "digest/password_digest.h"

#include <cstddef>
#include <cstdint>
#include <memory>

#include "digest/base64.h"
#include "digest/md5.h"
#include "platform/platform.h"

std::string ComputeDigest(std::string_view userName, std::string_view salt,
                          std::string_view password) {
  // Reserved in full, so that appending never moves the bytes and leaves an
  // old buffer behind unwiped.
  std::string joined;
  joined.reserve(userName.size() + salt.size() + password.size());
  joined.append(userName).append(salt).append(password);

  Md5 md5;
  const unsigned char* digest = md5.DigestText(joined.c_str());
  platform::Wipe(joined);
  std::int32_t length = Md5::kDigestSize;
  std::unique_ptr<char[]> text = Base64(true).Encode(digest, &length);
  return std::string(text.get());
}

bool DigestsEqual(std::string_view computed, std::string_view stored) {
  if (computed.size() != stored.size()) return false;
  // Every byte is looked at, whatever came before it.
  volatile unsigned char differences = 0;
  for (std::size_t i = 0; i < computed.size(); ++i) {
    differences = static_cast<unsigned char>(differences | (computed[i] ^ stored[i]));
  }
  return differences == 0;
}
