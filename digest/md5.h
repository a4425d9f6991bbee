#ifndef USERS_DIGEST_MD5_H_
#define USERS_DIGEST_MD5_H_

#include <cstdint>

// The working state of one MD5 computation (RFC 1321).
struct Md5Context {
  std::uint32_t state[4];     // chaining words A, B, C, D
  std::uint32_t bitCount[2];  // bits taken in, modulo 2^64, low word first
  unsigned char block[64];    // a block not yet complete
};

// The MD5 message digest of RFC 1321.
class Md5 {
 public:
  static constexpr int kDigestSize = 16;

  // Digests the bytes of `text` up to its terminating zero. Returns a pointer
  // to this object's 16 digest bytes, valid until the next DigestText or the
  // object's end.
  const unsigned char* DigestText(const char* text);

 private:
  unsigned char digest[kDigestSize];
};

#endif  // USERS_DIGEST_MD5_H_
