#include "digest/base64.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <string>

namespace {

// Encodes `bytes`; the count that Encode leaves must match the text.
std::string Encode(const std::string& bytes, bool standard = true) {
  std::int32_t length = static_cast<std::int32_t>(bytes.size());
  std::unique_ptr<char[]> text =
      Base64(standard).Encode(reinterpret_cast<const unsigned char*>(bytes.data()), &length);
  std::string result(text.get());
  EXPECT_EQ(static_cast<std::size_t>(length), result.size());
  return result;
}

TEST(Base64Test, Rfc4648Vectors) {
  struct Case {
    const char* bytes;
    const char* text;
  } cases[] = {
      {"", ""},
      {"f", "Zg=="},
      {"fo", "Zm8="},
      {"foo", "Zm9v"},
      {"foob", "Zm9vYg=="},
      {"fooba", "Zm9vYmE="},
      {"foobar", "Zm9vYmFy"},
  };
  for (const Case& c : cases) EXPECT_EQ(Encode(c.bytes), c.text) << '"' << c.bytes << '"';
}

TEST(Base64Test, HighBytesAndTheTwoAlphabets) {
  struct Case {
    std::string bytes;
    bool standard;
    const char* text;
  } cases[] = {
      {"\xff\xff\xff", true, "////"},
      {"\xff\xff\xff", false, "----"},
      {"\xfb\xef\xbe", true, "++++"},
      {"\xfb\xef\xbe", false, "++++"},
      {std::string("\x80\x00\x7f", 3), true, "gAB/"},
      {std::string("\x00\x00\x00\x00", 4), true, "AAAAAA=="},
      {std::string(16, '\xff'), true, "/////////////////////w=="},
      {std::string(16, '\xff'), false, "---------------------w=="},
  };
  for (const Case& c : cases) EXPECT_EQ(Encode(c.bytes, c.standard), c.text);
}

TEST(Base64Test, NullInputsReturnNullAndKeepTheCount) {
  Base64 encoder(true);
  std::int32_t length = 7;
  unsigned char byte = 0;
  EXPECT_EQ(encoder.Encode(nullptr, &length), nullptr);
  EXPECT_EQ(length, 7);
  EXPECT_EQ(encoder.Encode(&byte, nullptr), nullptr);
  length = -1;
  EXPECT_EQ(encoder.Encode(&byte, &length), nullptr);
  EXPECT_EQ(length, -1);
}

}  // namespace
