#include "digest/password_digest.h"

#include <gtest/gtest.h>

namespace {

// Expected texts computed independently: base64(md5(name + salt + password))
// with openssl and base64.
TEST(PasswordDigestTest, KnownDigestsAndJoining) {
  struct Case {
    std::string userName, salt, password;
    const char* digest;
  } cases[] = {
      {"alice", "4hsAAA==", "new", "9O5WqgNDt1hxrwP0OBQOIA=="},
      // Only the joined bytes count.
      {"alice4", "hsAAA==", "new", "9O5WqgNDt1hxrwP0OBQOIA=="},
      {"alice", "4hsAAA==n", "ew", "9O5WqgNDt1hxrwP0OBQOIA=="},
      // A hand-edited salt of another form is used as it stands.
      {"", "", "", "1B2M2Y8AsgTpgAmY7PhCfg=="},
      // The joined text counts up to its first zero byte.
      {"alice", std::string("4hsAAA==new\0xyz", 15), "tail", "9O5WqgNDt1hxrwP0OBQOIA=="},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ComputeDigest(c.userName, c.salt, c.password), c.digest)
        << c.userName << "/" << c.salt << "/" << c.password;
  }
}

}  // namespace
