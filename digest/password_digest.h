#ifndef USERS_DIGEST_PASSWORD_DIGEST_H_
#define USERS_DIGEST_PASSWORD_DIGEST_H_

#include <string>
#include <string_view>

// Returns the 24-character password digest: the Base64 text of the MD5
// digest of user name, salt and password joined without a separator. The
// joined bytes count only up to the first zero byte. The joined copy is
// wiped before it returns.
std::string ComputeDigest(std::string_view userName, std::string_view salt,
                          std::string_view password);

// Returns whether the two digests are equal byte for byte, length included.
// For equal lengths the time taken does not depend on where they differ;
// different lengths return at once.
bool DigestsEqual(std::string_view computed, std::string_view stored);

#endif  // USERS_DIGEST_PASSWORD_DIGEST_H_
