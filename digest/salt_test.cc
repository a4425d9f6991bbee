#include "digest/salt.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <set>
#include <string>
#include <string_view>

#include "digest/random.h"

namespace {

// The symbols each position of a salt can hold, by the bits the value can
// put there (15 bits, low byte first, two zero bytes).
bool HasSaltForm(const std::string& salt) {
  constexpr std::string_view kAlphabet =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  if (salt.size() != 8 || salt.substr(3) != "AAA==") return false;
  std::size_t second = kAlphabet.find(salt[1]);
  std::size_t third = kAlphabet.find(salt[2]);
  return kAlphabet.find(salt[0]) != std::string_view::npos && second != std::string_view::npos &&
         (second & 0x8) == 0 && third != std::string_view::npos && third % 4 == 0;
}

TEST(SaltTest, EveryValueHasTheSaltFormAndItsOwnSalt) {
  std::set<std::string> salts;
  for (int value = 0; value <= kRandomMax; ++value) {
    std::string salt = SaltFromValue(value);
    ASSERT_TRUE(HasSaltForm(salt)) << value << ": " << salt;
    salts.insert(salt);
  }
  EXPECT_EQ(salts.size(), 32768u);
  EXPECT_EQ(SaltFromValue(0), "AAAAAA==");
  EXPECT_EQ(SaltFromValue(32767), "/38AAA==");
}

TEST(SaltTest, RandomSaltsTakeFifteenOfEverySixteenBits) {
  std::uint64_t draws[] = {0x7fff'0001'8002'0003u, 0xffff'ffff'ffff'8000u};
  int drawn = 0;
  RandomSalts salts([&](std::uint64_t* bits) {
    if (drawn == 2) return false;
    *bits = draws[drawn++];
    return true;
  });
  std::string salt;
  for (int value : {3, 2, 1, 32767, 0, 32767, 32767, 32767}) {
    ASSERT_TRUE(salts.Next(salt));
    EXPECT_EQ(salt, SaltFromValue(value));
  }
  EXPECT_FALSE(salts.Next(salt)) << "a failed source gives no salt";
}

TEST(SaltTest, GeneratorIsTheClassicLinearCongruentialOne) {
  SeedRandom(1);
  EXPECT_EQ(DrawRandom(), 41);
  EXPECT_EQ(DrawRandom(), 18467);
  EXPECT_EQ(DrawRandom(), 6334);
  SeedRandom(0xffffffffu);
  for (int i = 0; i < 1000; ++i) {
    int value = DrawRandom();
    ASSERT_GE(value, 0);
    ASSERT_LE(value, kRandomMax);
  }
}

TEST(SaltTest, SaltDependsOnlyOnTheSecond) {
  using std::chrono::seconds;
  for (;;) {
    auto before =
        std::chrono::duration_cast<seconds>(std::chrono::system_clock::now().time_since_epoch());
    std::string first = MakeSalt();
    std::string second = MakeSalt();
    auto after =
        std::chrono::duration_cast<seconds>(std::chrono::system_clock::now().time_since_epoch());
    if (before != after) continue;  // a second boundary fell in between
    EXPECT_EQ(first, second);
    SeedRandom(static_cast<std::uint32_t>(before.count()));
    EXPECT_EQ(first, SaltFromValue(DrawRandom()));
    return;
  }
}

}  // namespace
