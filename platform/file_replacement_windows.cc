// Saving a file on Windows: a new file with the old one's security and
// attributes renamed into its place, and the careful in-place rewrite for
// where that cannot be done.

#include <cstdint>
#include <string>

#include "platform/platform.h"
#include "platform/temporary_name.h"
#include "platform/windows_io.h"
#include "platform/windows_signals.h"

namespace platform {

namespace {

using windows::Handle;
using windows::kNoHandle;
using windows::Stored;

// Tries at a unique name before giving up on a new file.
constexpr int kUniqueNameTries = 100;
// A file that another process has open may refuse to be replaced until it
// closes it, which a reader does within moments: retry for two seconds.
constexpr int kReplaceTries = 200;
constexpr DWORD kReplacePauseMs = 10;
// The longest name of a file in a directory.
constexpr std::size_t kNameMax = 255;

std::string::size_type LastSeparator(const std::string& path) {
  return path.find_last_of("\\/");
}

std::string DirectoryOf(const std::string& path) {
  std::string::size_type separator = LastSeparator(path);
  return separator == std::string::npos ? "." : path.substr(0, separator);
}

std::string NameOf(const std::string& path) {
  std::string::size_type separator = LastSeparator(path);
  return separator == std::string::npos ? path : path.substr(separator + 1);
}

// Removes the new files that runs killed during a save of the same file
// left: files named exactly as this save names its own, which no live save
// holds open.
void RemoveLeftovers(const std::string& directory, const std::string& stem) {
  WIN32_FIND_DATAA entry;
  HANDLE listing = ::FindFirstFileA((directory + "\\" + stem + ".tmp-*").c_str(), &entry);
  if (listing == INVALID_HANDLE_VALUE) return;
  do {
    const DWORD notPlain = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT;
    if ((entry.dwFileAttributes & notPlain) != 0 || !IsTemporaryName(entry.cFileName, stem)) {
      continue;
    }
    // Opened unshared, it cannot be open elsewhere; it goes when closed.
    HANDLE file = ::CreateFileA((directory + "\\" + entry.cFileName).c_str(), DELETE, 0,
                                nullptr, OPEN_EXISTING, FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (file != INVALID_HANDLE_VALUE) ::CloseHandle(file);
  } while (::FindNextFileA(listing, &entry));
  ::FindClose(listing);
}

// Grows the space that the file of `oldSize` bytes holds to `size` bytes
// without changing its size or content, so that a full disk or a quota shows
// before any write. (A smaller allocation would cut the file.)
bool ReserveRoom(HANDLE file, std::uint64_t oldSize, std::uint64_t size) {
  if (size <= oldSize) return true;
  FILE_ALLOCATION_INFO allocation;
  allocation.AllocationSize.QuadPart = static_cast<LONGLONG>(size);
  if (::SetFileInformationByHandle(file, FileAllocationInfo, &allocation, sizeof allocation)) {
    return true;
  }
  // Where reservations are not to be had, a write that fails is undone.
  DWORD error = ::GetLastError();
  return error == ERROR_INVALID_PARAMETER || error == ERROR_INVALID_FUNCTION ||
         error == ERROR_NOT_SUPPORTED || error == ERROR_CALL_NOT_IMPLEMENTED;
}

// Gives the new file `to` the old file's owner, group and access-control
// list, and its attributes but read-only. False where it cannot have them:
// another user's file, for one, whose owner only an administrator may set.
bool CopySecurity(const std::string& from, const std::string& to) {
  const SECURITY_INFORMATION what =
      OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;
  DWORD size = 0;
  ::GetFileSecurityA(from.c_str(), what, nullptr, 0, &size);
  std::string descriptor(size, '\0');
  DWORD attributes = ::GetFileAttributesA(from.c_str());
  return size > 0 &&
         ::GetFileSecurityA(from.c_str(), what, descriptor.data(), size, &size) &&
         ::SetFileSecurityA(to.c_str(), what, descriptor.data()) &&
         attributes != INVALID_FILE_ATTRIBUTES &&
         ::SetFileAttributesA(to.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
}

bool SetEnd(HANDLE file, std::uint64_t size) {
  LARGE_INTEGER end;
  end.QuadPart = static_cast<LONGLONG>(size);
  return ::SetFilePointerEx(file, end, nullptr, FILE_BEGIN) && ::SetEndOfFile(file);
}

}  // namespace

FileReplacement::~FileReplacement() { Discard(); }

void FileReplacement::Discard() {
  if (handle_ != kNoHandle) ::CloseHandle(Handle(handle_));
  handle_ = kNoHandle;
  if (!temporary_.empty()) {
    windows::SaveHold hold;
    ::DeleteFileA(temporary_.c_str());
    windows::SetTemporaryToRemove("");
    temporary_.clear();
  }
}

bool FileReplacement::Begin(const std::string& path) {
  target_ = windows::FinalPath(path);

  // The file must be writable as it is: read-only means "do not change".
  bool exists = false;
  HANDLE probe = windows::Open(target_, GENERIC_WRITE, OPEN_EXISTING);
  if (probe != INVALID_HANDLE_VALUE) {
    exists = ::GetFileType(probe) == FILE_TYPE_DISK;
    ::CloseHandle(probe);
    if (!exists) return false;
  } else if (::GetLastError() != ERROR_FILE_NOT_FOUND) {
    return false;
  }

  std::string directory = DirectoryOf(target_);
  std::string stem = TemporaryStem(NameOf(target_), kNameMax);
  RemoveLeftovers(directory, stem);
  std::uint64_t seed = ::GetTickCount64() * 2654435761u + ::GetCurrentProcessId();
  DWORD error = ERROR_FILE_EXISTS;
  for (int attempt = 0; error == ERROR_FILE_EXISTS && attempt < kUniqueNameTries; ++attempt) {
    seed = seed * 6364136223846793005u + 1442695040888963407u;
    std::string name = directory + "\\" + TemporaryName(stem, seed >> 16);
    windows::SaveHold hold;
    HANDLE file = windows::Open(name, GENERIC_READ | GENERIC_WRITE, CREATE_NEW);
    error = ::GetLastError();
    if (file != INVALID_HANDLE_VALUE) {
      handle_ = Stored(file);
      temporary_ = name;
      windows::SetTemporaryToRemove(temporary_);
      break;
    }
  }
  if (handle_ != kNoHandle) {
    if (!exists || CopySecurity(target_, temporary_)) return true;
    Discard();  // the new file cannot have what the old one has
    error = ERROR_ACCESS_DENIED;
  }
  // The directory refuses a new file, or the new file cannot have what the
  // old one has: the old one is rewritten, with care.
  inPlace_ = exists && error == ERROR_ACCESS_DENIED;
  return inPlace_;
}

bool FileReplacement::WriteAt(std::string_view bytes, unsigned long long offset) {
  return windows::WriteAllAt(Handle(handle_), bytes, offset);
}

bool FileReplacement::Commit() {
  if (failed_) return false;
  if (inPlace_) return CommitInPlace();
  if (handle_ == kNoHandle) return false;
  bool flushed = ::FlushFileBuffers(Handle(handle_));
  ::CloseHandle(Handle(handle_));
  handle_ = kNoHandle;
  if (!flushed) return false;

  DWORD error = ERROR_SUCCESS;
  for (int attempt = 1; attempt <= kReplaceTries; ++attempt) {
    if (attempt > 1) ::Sleep(kReplacePauseMs);
    windows::SaveHold hold;
    // One rename, so that a reader never finds the file missing, as it may
    // in the steps of ReplaceFile.
    if (::MoveFileExA(temporary_.c_str(), target_.c_str(),
                      MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
      windows::SetTemporaryToRemove("");
      temporary_.clear();
      return true;
    }
    error = ::GetLastError();
    if (error != ERROR_SHARING_VIOLATION && error != ERROR_ACCESS_DENIED) return false;
  }
  // The replacement is refused; the file itself may still be writable.
  HANDLE file = windows::Open(temporary_, GENERIC_READ, OPEN_EXISTING);
  if (file == INVALID_HANDLE_VALUE) return false;
  bool read = windows::ReadAll(file, &content_);
  ::CloseHandle(file);
  if (!read) return false;
  Discard();
  inPlace_ = true;
  return CommitInPlace();
}

bool FileReplacement::CommitInPlace() {
  HANDLE file = windows::Open(target_, GENERIC_READ | GENERIC_WRITE, OPEN_EXISTING);
  if (file == INVALID_HANDLE_VALUE) return false;
  handle_ = Stored(file);
  // The exclusive lock keeps readers out until the new content is whole;
  // the old content is kept to be put back if a write fails.
  std::string old;
  if (!windows::LockWholeFile(file, true) || !windows::ReadAll(file, &old) ||
      !ReserveRoom(file, old.size(), content_.size())) {
    return false;
  }
  windows::SaveHold hold;
  bool written = windows::WriteAllAt(file, content_, 0) && SetEnd(file, content_.size()) &&
                 ::FlushFileBuffers(file);
  if (!written) {
    windows::WriteAllAt(file, old, 0);
    SetEnd(file, old.size());
    ::FlushFileBuffers(file);
  }
  ::CloseHandle(file);
  handle_ = kNoHandle;
  return written;
}

}  // namespace platform
