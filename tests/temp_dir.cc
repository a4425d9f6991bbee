#include "tests/temp_dir.h"

#ifndef _WIN32
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>
#endif

#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <random>
#include <sstream>
#include <system_error>

namespace {

namespace fs = std::filesystem;

#ifndef _WIN32
// True when a user other than the owner may enter `dir` (each directory on
// the way has the search bit for others), and for programs, start one there.
bool OthersCanEnter(const fs::path& dir, TempDir::Use use) {
  std::error_code error;
  fs::path path = fs::canonical(dir, error);
  if (error) return false;
  for (fs::path step = path;; step = step.parent_path()) {
    struct stat info;
    if (::stat(step.c_str(), &info) != 0 || !S_ISDIR(info.st_mode) ||
        (info.st_mode & S_IXOTH) == 0) {
      return false;
    }
    if (step == step.parent_path()) break;
  }
  struct statvfs mount;
  return use == TempDir::Use::kFiles ||
         (::statvfs(path.c_str(), &mount) == 0 && (mount.f_flag & ST_NOEXEC) == 0);
}
#endif

// Where a TempDir goes; empty when a run as root finds no place others reach.
fs::path ReachableBase([[maybe_unused]] TempDir::Use use) {
  fs::path preferred = fs::temp_directory_path();
#ifndef _WIN32
  if (::geteuid() == 0) {
    for (const fs::path& candidate :
         {preferred, fs::path("/tmp"), fs::path("/var/tmp"), fs::path("/dev/shm")}) {
      if (OthersCanEnter(candidate, use)) return candidate;
    }
    return {};
  }
#endif
  return preferred;
}

}  // namespace

bool TempDir::OthersCanReach(Use use) { return !ReachableBase(use).empty(); }

TempDir::TempDir(Use use) {
  fs::path base = ReachableBase(use);
  if (base.empty()) base = fs::temp_directory_path();
  std::random_device random;
  for (;;) {
    fs::path candidate = base / ("users-test-" + std::to_string(random()));
    // Throws when no directory can be made there at all.
    if (fs::create_directory(candidate)) {
      path_ = candidate.string();
      break;
    }
  }
  fs::permissions(path_, fs::perms{0755});
}

TempDir::~TempDir() {
  std::error_code ignored;
  fs::remove_all(path_, ignored);
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return "<missing>";
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

void WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}
