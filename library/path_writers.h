#ifndef USERS_LIBRARY_PATH_WRITERS_H_
#define USERS_LIBRARY_PATH_WRITERS_H_

#include <string>

#include "platform/system.h"

// Who may change a password file that a login trusts: whoever may write the
// file, or any directory on its path, may put users of their own in it.
enum class PathWriters {
  kOwners,   // only root and the file's owner
  kOthers,   // someone else may
  kMissing,  // the file, or a directory on the way, is not there
  kDenied,   // a directory on the way may not be searched
  kUnknown,  // it cannot be told
};

// Looks at the file that `path` names, where its links lead, and at every
// directory on the way. Someone else may write when the file is group- or
// other-writable, or when a directory is, or is owned by a user other than
// root and the file's owner. A sticky directory that others may write, owned
// by root or the file's owner (/tmp), is allowed: there nobody may rename or
// remove what is not theirs. Group-writable counts whoever is in the group;
// an access-control list shows in the group bits as its mask.
PathWriters WhoMayWrite(const std::string& path,
                        platform::System& system = platform::NativeSystem());

#endif  // USERS_LIBRARY_PATH_WRITERS_H_
