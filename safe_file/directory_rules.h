#ifndef USERS_SAFE_FILE_DIRECTORY_RULES_H_
#define USERS_SAFE_FILE_DIRECTORY_RULES_H_

#include <cstdint>

#include "platform/system.h"

namespace safe_file {

// Whoever controls a directory on the way to the password file chooses
// nothing there that they could not reach themselves. A directory is
// controlled by someone else when its owner is neither the running user nor
// the superuser, or when others may write it (group- or other-writable, or
// sticky). The superuser's own directories are trusted: what they name is
// the superuser's choice. So a run on someone else's behalf (sudo, in the
// caller's working directory) reaches only what its caller could reach.

// Whether someone besides `user` and the superuser may choose what
// `directory` names.
bool ControlledByOthers(const platform::FileInfo& directory, std::uint64_t user);

// Whether a run of `user` follows the symbolic link `link` found in
// `directory`: where others control the directory, only the user's own
// link, or a link to what its own owner owns; never a link with a second
// name, which anyone could have given a link of another's.
platform::LinkLimit MayFollow(const platform::FileInfo& directory, const platform::FileInfo& link,
                              std::uint64_t user);

// Whether a run of `user` may change `file` in `directory`. Where others
// control the directory: not a file with a second name that one of them
// could not have made under the kernel's hard-link rule (protected_hardlinks:
// only the file's owner and those who may read and write it), since the name
// could be theirs for a file of someone else's; and, for the superuser in a
// sticky directory, only its own files or the directory owner's
// (protected_regular).
bool MayChange(const platform::FileInfo& directory, const platform::FileInfo& file,
               std::uint64_t user);

}  // namespace safe_file

#endif  // USERS_SAFE_FILE_DIRECTORY_RULES_H_
