#ifndef USERS_DIGEST_MD5_H_
#define USERS_DIGEST_MD5_H_

// The MD5 message digest of RFC 1321.
class Md5 {
 public:
  static constexpr int kDigestSize = 16;

  // Digests the bytes of `text` up to its terminating zero. Returns a pointer
  // to this object's 16 digest bytes, valid until the next DigestText or the
  // object's end. Every working copy of the text is wiped before it returns.
  const unsigned char* DigestText(const char* text);

 private:
  unsigned char digest[kDigestSize];
};

#endif  // USERS_DIGEST_MD5_H_
