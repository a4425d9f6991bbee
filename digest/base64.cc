#include "digest/base64.h"

#include <cstddef>

namespace {

// Both alphabets back to back: the standard one, then the variant.
constexpr char kAlphabets[129] =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/"
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+-";
constexpr std::size_t kAlphabetSize = 64;

}  // namespace

Base64::Base64(bool standardAlphabet)
    : alphabet(standardAlphabet ? kAlphabets : kAlphabets + kAlphabetSize) {}

std::unique_ptr<char[]> Base64::Encode(const unsigned char* data, std::int32_t* length) const {
  if (data == nullptr || length == nullptr || *length < 0) return nullptr;
  std::size_t n = static_cast<std::size_t>(*length);
  std::size_t textLength = (n + 2) / 3 * 4;
  std::size_t bufferSize = 4 * n > textLength ? 4 * n : textLength + 1;
  // The () value-initialises: the zero fill terminates the text.
  std::unique_ptr<char[]> text(new char[bufferSize]());

  char* out = text.get();
  const unsigned char* in = data;
  for (; n >= 3; n -= 3, in += 3) {
    *out++ = alphabet[in[0] >> 2];
    *out++ = alphabet[((in[0] & 3) << 4) | (in[1] >> 4)];
    *out++ = alphabet[((in[1] & 15) << 2) | (in[2] >> 6)];
    *out++ = alphabet[in[2] & 63];
  }
  if (n == 2) {
    *out++ = alphabet[in[0] >> 2];
    *out++ = alphabet[((in[0] & 3) << 4) | (in[1] >> 4)];
    *out++ = alphabet[(in[1] & 15) << 2];
    *out++ = '=';
  } else if (n == 1) {
    *out++ = alphabet[in[0] >> 2];
    *out++ = alphabet[(in[0] & 3) << 4];
    *out++ = '=';
    *out++ = '=';
  }
  *length = static_cast<std::int32_t>(textLength);
  return text;
}
