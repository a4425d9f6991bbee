#include "store/user_index.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

namespace {

// Names chosen to share one slot of 1024 under a key that someone knows
// spread, under an index's own key, as any names do; and no two indexes
// share a key.
TEST(UserIndexTest, NamesChosenForOneKeyDoNotShareASlotUnderAnIndexsKey) {
  const UserIndex::Key known{1, 2};
  UserList list;
  std::vector<std::string> chosen;
  for (int i = 0; chosen.size() < 64; ++i) {
    std::string name = "user" + std::to_string(i);
    if ((UserIndex::Hash(name, known) & 1023) == 0) {
      chosen.push_back(name);
      list.records.emplace_back(name, "salt", "digest");
    }
  }
  UserIndex index(list), other(list);
  EXPECT_FALSE(index.key().k0 == other.key().k0 && index.key().k1 == other.key().k1);
  std::map<std::uint64_t, int> slots;
  for (const std::string& name : chosen) {
    ++slots[UserIndex::Hash(name, index.key()) & 1023];
    EXPECT_NE(index.Find(name), list.records.end()) << name;
  }
  int fullest = 0;
  for (const auto& [slot, count] : slots) fullest = std::max(fullest, count);
  EXPECT_LT(fullest, 8);
}

}  // namespace
