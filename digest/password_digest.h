#ifndef USERS_DIGEST_PASSWORD_DIGEST_H_
#define USERS_DIGEST_PASSWORD_DIGEST_H_

#include <string>
#include <string_view>

// Returns the 24-character password digest: the Base64 text of the MD5
// digest of user name, salt and password joined without a separator. The
// joined bytes count only up to the first zero byte.
std::string ComputeDigest(std::string_view userName, std::string_view salt,
                          std::string_view password);

#endif  // USERS_DIGEST_PASSWORD_DIGEST_H_
