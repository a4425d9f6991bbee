#include "digest/password_digest.h"

#include <cstdint>

#include "digest/base64.h"
#include "digest/md5.h"

std::string ComputeDigest(std::string_view userName, std::string_view salt,
                          std::string_view password) {
  std::string joined;
  joined.reserve(userName.size() + salt.size() + password.size());
  joined.append(userName).append(salt).append(password);

  Md5 md5;
  const unsigned char* digest = md5.DigestText(joined.c_str());
  std::int32_t length = Md5::kDigestSize;
  std::unique_ptr<char[]> text = Base64(true).Encode(digest, &length);
  return std::string(text.get());
}
