#include "digest/md5.h"

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "platform/platform.h"

namespace {

// The working state of one MD5 computation (RFC 1321).
struct Md5Context {
  std::uint32_t state[4];     // chaining words A, B, C, D
  std::uint32_t bitCount[2];  // bits taken in, modulo 2^64, low word first
  unsigned char block[64];    // a block not yet complete
};

// Shift amounts of the four rounds.
constexpr int S11 = 7, S12 = 12, S13 = 17, S14 = 22;
constexpr int S21 = 5, S22 = 9, S23 = 14, S24 = 20;
constexpr int S31 = 4, S32 = 11, S33 = 16, S34 = 23;
constexpr int S41 = 6, S42 = 10, S43 = 15, S44 = 21;

constexpr unsigned char kPadding[64] = {0x80};

inline std::uint32_t F(std::uint32_t x, std::uint32_t y, std::uint32_t z) {
  return (x & y) | (~x & z);
}
inline std::uint32_t G(std::uint32_t x, std::uint32_t y, std::uint32_t z) {
  return (x & z) | (y & ~z);
}
inline std::uint32_t H(std::uint32_t x, std::uint32_t y, std::uint32_t z) { return x ^ y ^ z; }
inline std::uint32_t I(std::uint32_t x, std::uint32_t y, std::uint32_t z) { return y ^ (x | ~z); }

inline std::uint32_t RotateLeft(std::uint32_t x, int n) { return (x << n) | (x >> (32 - n)); }

template <std::uint32_t (*Fn)(std::uint32_t, std::uint32_t, std::uint32_t)>
inline void Step(std::uint32_t& a, std::uint32_t b, std::uint32_t c, std::uint32_t d,
                 std::uint32_t x, int s, std::uint32_t ac) {
  a += Fn(b, c, d) + x + ac;
  a = RotateLeft(a, s) + b;
}

// Words are little-endian whatever the host's byte order.
void Encode(unsigned char* out, const std::uint32_t* in, std::size_t length) {
  for (std::size_t i = 0, j = 0; j < length; ++i, j += 4) {
    out[j] = static_cast<unsigned char>(in[i] & 0xff);
    out[j + 1] = static_cast<unsigned char>((in[i] >> 8) & 0xff);
    out[j + 2] = static_cast<unsigned char>((in[i] >> 16) & 0xff);
    out[j + 3] = static_cast<unsigned char>((in[i] >> 24) & 0xff);
  }
}

void Decode(std::uint32_t* out, const unsigned char* in, std::size_t length) {
  for (std::size_t i = 0, j = 0; j < length; ++i, j += 4) {
    out[i] = static_cast<std::uint32_t>(in[j]) | (static_cast<std::uint32_t>(in[j + 1]) << 8) |
             (static_cast<std::uint32_t>(in[j + 2]) << 16) |
             (static_cast<std::uint32_t>(in[j + 3]) << 24);
  }
}

void Transform(std::uint32_t state[4], const unsigned char block[64]) {
  std::uint32_t a = state[0], b = state[1], c = state[2], d = state[3], x[16];
  Decode(x, block, 64);

  Step<F>(a, b, c, d, x[0], S11, 0xd76aa478);
  Step<F>(d, a, b, c, x[1], S12, 0xe8c7b756);
  Step<F>(c, d, a, b, x[2], S13, 0x242070db);
  Step<F>(b, c, d, a, x[3], S14, 0xc1bdceee);
  Step<F>(a, b, c, d, x[4], S11, 0xf57c0faf);
  Step<F>(d, a, b, c, x[5], S12, 0x4787c62a);
  Step<F>(c, d, a, b, x[6], S13, 0xa8304613);
  Step<F>(b, c, d, a, x[7], S14, 0xfd469501);
  Step<F>(a, b, c, d, x[8], S11, 0x698098d8);
  Step<F>(d, a, b, c, x[9], S12, 0x8b44f7af);
  Step<F>(c, d, a, b, x[10], S13, 0xffff5bb1);
  Step<F>(b, c, d, a, x[11], S14, 0x895cd7be);
  Step<F>(a, b, c, d, x[12], S11, 0x6b901122);
  Step<F>(d, a, b, c, x[13], S12, 0xfd987193);
  Step<F>(c, d, a, b, x[14], S13, 0xa679438e);
  Step<F>(b, c, d, a, x[15], S14, 0x49b40821);

  Step<G>(a, b, c, d, x[1], S21, 0xf61e2562);
  Step<G>(d, a, b, c, x[6], S22, 0xc040b340);
  Step<G>(c, d, a, b, x[11], S23, 0x265e5a51);
  Step<G>(b, c, d, a, x[0], S24, 0xe9b6c7aa);
  Step<G>(a, b, c, d, x[5], S21, 0xd62f105d);
  Step<G>(d, a, b, c, x[10], S22, 0x02441453);
  Step<G>(c, d, a, b, x[15], S23, 0xd8a1e681);
  Step<G>(b, c, d, a, x[4], S24, 0xe7d3fbc8);
  Step<G>(a, b, c, d, x[9], S21, 0x21e1cde6);
  Step<G>(d, a, b, c, x[14], S22, 0xc33707d6);
  Step<G>(c, d, a, b, x[3], S23, 0xf4d50d87);
  Step<G>(b, c, d, a, x[8], S24, 0x455a14ed);
  Step<G>(a, b, c, d, x[13], S21, 0xa9e3e905);
  Step<G>(d, a, b, c, x[2], S22, 0xfcefa3f8);
  Step<G>(c, d, a, b, x[7], S23, 0x676f02d9);
  Step<G>(b, c, d, a, x[12], S24, 0x8d2a4c8a);

  Step<H>(a, b, c, d, x[5], S31, 0xfffa3942);
  Step<H>(d, a, b, c, x[8], S32, 0x8771f681);
  Step<H>(c, d, a, b, x[11], S33, 0x6d9d6122);
  Step<H>(b, c, d, a, x[14], S34, 0xfde5380c);
  Step<H>(a, b, c, d, x[1], S31, 0xa4beea44);
  Step<H>(d, a, b, c, x[4], S32, 0x4bdecfa9);
  Step<H>(c, d, a, b, x[7], S33, 0xf6bb4b60);
  Step<H>(b, c, d, a, x[10], S34, 0xbebfbc70);
  Step<H>(a, b, c, d, x[13], S31, 0x289b7ec6);
  Step<H>(d, a, b, c, x[0], S32, 0xeaa127fa);
  Step<H>(c, d, a, b, x[3], S33, 0xd4ef3085);
  Step<H>(b, c, d, a, x[6], S34, 0x04881d05);
  Step<H>(a, b, c, d, x[9], S31, 0xd9d4d039);
  Step<H>(d, a, b, c, x[12], S32, 0xe6db99e5);
  Step<H>(c, d, a, b, x[15], S33, 0x1fa27cf8);
  Step<H>(b, c, d, a, x[2], S34, 0xc4ac5665);

  Step<I>(a, b, c, d, x[0], S41, 0xf4292244);
  Step<I>(d, a, b, c, x[7], S42, 0x432aff97);
  Step<I>(c, d, a, b, x[14], S43, 0xab9423a7);
  Step<I>(b, c, d, a, x[5], S44, 0xfc93a039);
  Step<I>(a, b, c, d, x[12], S41, 0x655b59c3);
  Step<I>(d, a, b, c, x[3], S42, 0x8f0ccc92);
  Step<I>(c, d, a, b, x[10], S43, 0xffeff47d);
  Step<I>(b, c, d, a, x[1], S44, 0x85845dd1);
  Step<I>(a, b, c, d, x[8], S41, 0x6fa87e4f);
  Step<I>(d, a, b, c, x[15], S42, 0xfe2ce6e0);
  Step<I>(c, d, a, b, x[6], S43, 0xa3014314);
  Step<I>(b, c, d, a, x[13], S44, 0x4e0811a1);
  Step<I>(a, b, c, d, x[4], S41, 0xf7537e82);
  Step<I>(d, a, b, c, x[11], S42, 0xbd3af235);
  Step<I>(c, d, a, b, x[2], S43, 0x2ad7d2bb);
  Step<I>(b, c, d, a, x[9], S44, 0xeb86d391);

  state[0] += a;
  state[1] += b;
  state[2] += c;
  state[3] += d;

  // The message words are a copy of secret input.
  platform::Wipe(x, sizeof x);
}

void Init(Md5Context* context) {
  context->bitCount[0] = context->bitCount[1] = 0;
  context->state[0] = 0x67452301;
  context->state[1] = 0xefcdab89;
  context->state[2] = 0x98badcfe;
  context->state[3] = 0x10325476;
}

void Update(Md5Context* context, const unsigned char* input, std::uint32_t length) {
  std::uint32_t index = (context->bitCount[0] >> 3) & 0x3F;
  context->bitCount[0] += length << 3;
  if (context->bitCount[0] < (length << 3)) context->bitCount[1]++;
  context->bitCount[1] += length >> 29;

  std::uint32_t partLength = 64 - index;
  std::uint32_t i = 0;
  if (length >= partLength) {
    std::memcpy(&context->block[index], input, partLength);
    Transform(context->state, context->block);
    // Further complete blocks are transformed straight from the input.
    for (i = partLength; i + 63 < length; i += 64) Transform(context->state, &input[i]);
    index = 0;
  }
  std::memcpy(&context->block[index], &input[i], length - i);
}

void Final(unsigned char digest[16], Md5Context* context) {
  unsigned char bits[8];
  Encode(bits, context->bitCount, 8);
  std::uint32_t index = (context->bitCount[0] >> 3) & 0x3f;
  std::uint32_t padLength = (index < 56) ? (56 - index) : (120 - index);
  Update(context, kPadding, padLength);
  Update(context, bits, 8);
  Encode(digest, context->state, 16);

  // The block holds input bytes.
  platform::Wipe(context, sizeof *context);
}

}  // namespace

const unsigned char* Md5::DigestText(const char* text) {
  Md5Context context;
  Init(&context);
  Update(&context, reinterpret_cast<const unsigned char*>(text),
         static_cast<std::uint32_t>(std::strlen(text)));
  Final(digest, &context);
  return digest;
}
