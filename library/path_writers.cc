#include "library/path_writers.h"

namespace {

using platform::Error;
using platform::FileInfo;

constexpr std::uint32_t kOthersWrite = platform::kGroupWrite | platform::kOtherWrite;

PathWriters FromError(Error error) {
  return error == Error::kMissing  ? PathWriters::kMissing
         : error == Error::kDenied ? PathWriters::kDenied
                                   : PathWriters::kUnknown;
}

bool OwnersOnly(const FileInfo& directory, std::uint64_t fileOwner) {
  if (directory.owner != platform::kSuperuser && directory.owner != fileOwner) return false;
  return (directory.permissions & kOthersWrite) == 0 ||
         (directory.permissions & platform::kSticky) != 0;
}

// What `path` names, links followed, and the directory that holds it.
Error Look(platform::System& system, const std::string& path, FileInfo* named,
           FileInfo* directory) {
  platform::Handle handle = platform::kNoHandle;
  std::string name;
  // Links are only looked through here; the read judges them.
  Error error = system.OpenDirectory(
      path, [](const FileInfo&, const FileInfo&) { return platform::LinkLimit::kFollow; }, &handle,
      &name);
  if (error != Error::kNone) return error;
  error = system.Inspect(handle, name, named);
  if (error == Error::kNone) error = system.Describe(handle, directory);
  system.Close(handle);
  return error;
}

}  // namespace

PathWriters WhoMayWrite(const std::string& path, platform::System& system) {
  FileInfo file, directory;
  if (Error error = Look(system, path, &file, &directory); error != Error::kNone) {
    return FromError(error);
  }
  if ((file.permissions & kOthersWrite) != 0 || !OwnersOnly(directory, file.owner)) {
    return PathWriters::kOthers;
  }
  // Each directory named on the way, and the one that holds it: where a
  // link leads off the path, the directories it leads to.
  for (std::string::size_type slash = path.find('/', 1); slash != std::string::npos;
       slash = path.find('/', slash + 1)) {
    if (slash == 0 || path[slash - 1] == '/') continue;
    FileInfo step;
    if (Error error = Look(system, path.substr(0, slash), &step, &directory);
        error != Error::kNone) {
      return FromError(error);
    }
    if (!OwnersOnly(step, file.owner) || !OwnersOnly(directory, file.owner)) {
      return PathWriters::kOthers;
    }
  }
  // And every directory above the one that holds it, up to the root, as
  // the links led: one of them that others may write lets them rename what
  // lies below.
  platform::Handle at = platform::kNoHandle;
  std::string name;
  Error error = system.OpenDirectory(
      path, [](const FileInfo&, const FileInfo&) { return platform::LinkLimit::kFollow; }, &at,
      &name);
  PathWriters writers = error == Error::kNone ? PathWriters::kOwners : FromError(error);
  for (int depth = 0; writers == PathWriters::kOwners; ++depth) {
    FileInfo here, above;
    platform::Handle parent = platform::kNoHandle;
    if ((error = system.Describe(at, &here)) != Error::kNone ||
        (error = system.OpenParent(at, &parent)) != Error::kNone ||
        (error = system.Describe(parent, &above)) != Error::kNone) {
      // Where a system cannot go up, what the path names was looked at.
      if (error != Error::kUnsupported) writers = FromError(error);
    } else if (!OwnersOnly(above, file.owner)) {
      writers = PathWriters::kOthers;
    }
    system.Close(at);
    at = parent;
    if (error != Error::kNone || platform::SameFile(here, above) || depth > 4096) break;
  }
  if (at != platform::kNoHandle) system.Close(at);
  return writers;
}
