#ifndef USERS_DIGEST_BASE64_H_
#define USERS_DIGEST_BASE64_H_

#include <cstdint>
#include <memory>

// Encodes bytes as Base64 text with "=" fill and no line breaks. The
// standard alphabet is that of RFC 4648; the variant has "-" in place of "/".
class Base64 {
 public:
  explicit Base64(bool standardAlphabet);
  virtual ~Base64() = default;

  // `*length` holds the number of bytes at `data` on entry and the number of
  // characters produced on return. Returns a new zero-terminated buffer of
  // 4 * n bytes (at least the text's length plus one).
  // Returns null, allocating nothing and leaving the count alone, when
  // `data` or `length` is null or the count is negative.
  std::unique_ptr<char[]> Encode(const unsigned char* data, std::int32_t* length) const;

 private:
  const char* alphabet;
};

#endif  // USERS_DIGEST_BASE64_H_
