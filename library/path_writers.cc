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
  return PathWriters::kOwners;
}
