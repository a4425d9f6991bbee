// Who may choose what a run reaches, as table rows: the directory, what is
// found in it, and the user the run acts as.

#include "safe_file/directory_rules.h"

#include <gtest/gtest.h>

namespace {

using platform::FileInfo;
using platform::LinkLimit;

constexpr std::uint64_t kRoot = 0, kAlice = 1000, kBob = 1001;
constexpr std::uint64_t kStaff = 50, kAlices = 1000;

FileInfo Entry(std::uint64_t owner, std::uint32_t permissions, std::uint64_t links = 1,
               std::uint64_t group = kAlices) {
  FileInfo info;
  info.owner = owner;
  info.group = group;
  info.permissions = permissions;
  info.links = links;
  return info;
}

TEST(DirectoryRulesTest, Links) {
  struct Row {
    const char* name;
    FileInfo directory, link;
    std::uint64_t user;
    LinkLimit limit;
  } rows[] = {
      {"the user's own home", Entry(kAlice, 0755), Entry(kBob, 0777), kAlice, LinkLimit::kFollow},
      {"root's own directory", Entry(kRoot, 0755), Entry(kBob, 0777), kAlice, LinkLimit::kFollow},
      // sudo in the caller's home: the caller's link leads only to theirs.
      {"root in another user's home", Entry(kAlice, 0755), Entry(kAlice, 0777), kRoot,
       LinkLimit::kToItsOwnersOwn},
      {"another's link in a sticky directory", Entry(kRoot, 01777), Entry(kBob, 0777), kAlice,
       LinkLimit::kToItsOwnersOwn},
      {"a member's link in the user's team directory", Entry(kAlice, 0775, 2, kStaff),
       Entry(kBob, 0777), kAlice, LinkLimit::kToItsOwnersOwn},
      // A second name of a link is anyone's to make where hard links are not
      // protected, whoever owns the link.
      {"a link with a second name", Entry(kRoot, 01777), Entry(kAlice, 0777, 2), kAlice,
       LinkLimit::kRefuse},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(safe_file::MayFollow(row.directory, row.link, row.user), row.limit) << row.name;
  }
}

TEST(DirectoryRulesTest, Changes) {
  struct Row {
    const char* name;
    FileInfo directory, file;
    std::uint64_t user;
    bool mayChange;
  } rows[] = {
      {"a second name in the user's own directory", Entry(kAlice, 0755), Entry(kBob, 0600, 2),
       kAlice, true},
      {"root managing a service user's file in its home", Entry(kBob, 0755), Entry(kBob, 0600),
       kRoot, true},
      // sudo where the caller gave root's file a name of theirs.
      {"a second name of root's file in another user's directory", Entry(kBob, 0755),
       Entry(kRoot, 0600, 2), kRoot, false},
      {"a second name the directory's owner could make", Entry(kBob, 0755), Entry(kBob, 0600, 2),
       kRoot, true},
      {"a second name in a team's directory, the file the team's", Entry(kRoot, 0775, 1, kStaff),
       Entry(kRoot, 0660, 2, kStaff), kBob, true},
      {"a second name in a team's directory, the file not the team's",
       Entry(kRoot, 0775, 1, kStaff), Entry(kRoot, 0600, 2, kStaff), kBob, false},
      {"the directory owner's file in a sticky directory, for root", Entry(kBob, 01777),
       Entry(kBob, 0666), kRoot, true},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(safe_file::MayChange(row.directory, row.file, row.user), row.mayChange) << row.name;
  }
}

}  // namespace
