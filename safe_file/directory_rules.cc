#include "safe_file/directory_rules.h"

namespace safe_file {

using platform::FileInfo;
using platform::kSuperuser;
using platform::LinkLimit;

namespace {

bool Grants(const FileInfo& file, std::uint32_t bits) { return (file.permissions & bits) == bits; }

// Whether everyone who controls `directory`, besides `user`, could have
// given `file` a second name where the kernel protects hard links: its owner
// and those who may read and write it. A name that one of them made gains
// them nothing.
bool EveryControllerCouldLink(const FileInfo& directory, const FileInfo& file, std::uint64_t user) {
  bool everyone = Grants(file, platform::kOtherRead | platform::kOtherWrite);
  bool group = everyone || (file.group == directory.group &&
                            Grants(file, platform::kGroupRead | platform::kGroupWrite));
  bool owner = everyone || directory.owner == file.owner || directory.owner == kSuperuser ||
               directory.owner == user;
  return owner && (group || (directory.permissions & platform::kGroupWrite) == 0) &&
         (everyone || (directory.permissions & platform::kOtherWrite) == 0);
}

}  // namespace

bool ControlledByOthers(const FileInfo& directory, std::uint64_t user) {
  return (directory.owner != user && directory.owner != kSuperuser) ||
         (directory.permissions &
          (platform::kGroupWrite | platform::kOtherWrite | platform::kSticky)) != 0;
}

LinkLimit MayFollow(const FileInfo& directory, const FileInfo& link, std::uint64_t user) {
  if (!ControlledByOthers(directory, user)) return LinkLimit::kFollow;
  if (link.links > 1) return LinkLimit::kRefuse;
  return link.owner == user ? LinkLimit::kFollow : LinkLimit::kToItsOwnersOwn;
}

bool MayChange(const FileInfo& directory, const FileInfo& file, std::uint64_t user) {
  if (!ControlledByOthers(directory, user)) return true;
  if (file.links > 1 && !EveryControllerCouldLink(directory, file, user)) return false;
  return user != kSuperuser || (directory.permissions & platform::kSticky) == 0 ||
         file.owner == user || file.owner == directory.owner;
}

}  // namespace safe_file
