#include "digest/md5.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

namespace {

std::string Hex(const unsigned char* digest) {
  std::string hex;
  char byte[3];
  for (int i = 0; i < Md5::kDigestSize; ++i) {
    std::snprintf(byte, sizeof byte, "%02x", digest[i]);
    hex += byte;
  }
  return hex;
}

std::string DigestHex(const std::string& text) {
  Md5 md5;
  return Hex(md5.DigestText(text.c_str()));
}

TEST(Md5Test, Rfc1321TestSuite) {
  struct Case {
    const char* text;
    const char* digest;
  } cases[] = {
      {"", "d41d8cd98f00b204e9800998ecf8427e"},
      {"a", "0cc175b9c0f1b6a831c399e269772661"},
      {"abc", "900150983cd24fb0d6963f7d28e17f72"},
      {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
      {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
      {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789",
       "d174ab98d277d9f5a5611c2c9f419d9f"},
      {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
       "57edf4a22be3c955ac49da2e2107b67a"},
  };
  for (const Case& c : cases) EXPECT_EQ(DigestHex(c.text), c.digest) << '"' << c.text << '"';
}

// Lengths at the edges of the fill and of the 64-byte block, against
// digests computed by another tool (md5sum) over that many 'a' bytes.
TEST(Md5Test, BlockEdges) {
  struct Case {
    std::size_t length;
    const char* digest;
  } cases[] = {
      {55, "ef1772b6dff9a122358552954ad0df65"},  {56, "3b0c8ac703f828b04c6c197006d17218"},
      {63, "b06521f39153d618550606be297466d5"},  {64, "014842d480b571495a4a0363793f7367"},
      {65, "c743a45e0d2e6a95cb859adae0248435"},  {119, "8a7bd0732ed6a28ce75f6dabc90e1613"},
      {120, "5f61c0ccad4cac44c75ff505e1f1e537"}, {128, "e510683b3f5ffe4093d021808bc6ff70"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(DigestHex(std::string(c.length, 'a')), c.digest) << c.length << " bytes";
  }
}

TEST(Md5Test, HighBytesAreUnsigned) {
  EXPECT_EQ(DigestHex("\x80\xff\xfe"), "8863ba4be8d270433ae4579b131106fe");
}

TEST(Md5Test, StopsAtFirstZeroByte) {
  EXPECT_EQ(DigestHex(std::string("abc\0def", 7)), "900150983cd24fb0d6963f7d28e17f72");
}

TEST(Md5Test, SecondDigestReplacesFirst) {
  Md5 md5;
  const unsigned char* first = md5.DigestText("a");
  const unsigned char* second = md5.DigestText("abc");
  EXPECT_EQ(first, second);
  EXPECT_EQ(Hex(second), "900150983cd24fb0d6963f7d28e17f72");
}

}  // namespace
