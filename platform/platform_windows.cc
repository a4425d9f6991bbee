#include "platform/platform.h"

#include <cstdint>
#include <string>

#include "platform/wait.h"
#include "platform/windows_io.h"
#include "platform/windows_signals.h"

namespace platform {

const std::string_view kFileLineEnd = "\r\n";

namespace {

using windows::Handle;
using windows::kNoHandle;
using windows::Stored;

// ReadFile takes a 32-bit count.
constexpr std::size_t kMaxTransfer = 1u << 30;

std::uint64_t Fnv1a(const std::string& bytes) {
  std::uint64_t hash = 14695981039346656037ull;
  for (unsigned char byte : bytes) {
    hash ^= byte;
    hash *= 1099511628211ull;
  }
  return hash;
}

}  // namespace

void PrepareProcess() {
  // Writes to a closed console or pipe fail quietly here, and there is no
  // file-size signal; what is left is Ctrl-C during a save.
  windows::RemoveTemporaryOnCtrl();
}

void AdviseLargePages(void*, std::size_t) {}

InputFile::~InputFile() {
  if (handle_ != kNoHandle) ::CloseHandle(Handle(handle_));
}

bool InputFile::Open(const std::string& path) {
  HANDLE file = windows::Open(path, GENERIC_READ, OPEN_EXISTING);
  if (file == INVALID_HANDLE_VALUE) return false;
  handle_ = Stored(file);
  // A device (NUL, CON) would never end or always be empty.
  LARGE_INTEGER size;
  if (::GetFileType(file) != FILE_TYPE_DISK || !::GetFileSizeEx(file, &size) ||
      !windows::LockWholeFile(file, false)) {
    return false;
  }
  sizeHint_ = static_cast<std::size_t>(size.QuadPart);
  return true;
}

std::ptrdiff_t InputFile::Read(char* buffer, std::size_t capacity) {
  DWORD count = 0;
  DWORD wanted = static_cast<DWORD>(capacity < kMaxTransfer ? capacity : kMaxTransfer);
  if (!::ReadFile(Handle(handle_), buffer, wanted, &count, nullptr)) return -1;
  return static_cast<std::ptrdiff_t>(count);
}

FileLock::~FileLock() { Release(); }

void FileLock::Release() {
  if (handle_ != -1) {
    ::ReleaseMutex(Handle(handle_));
    ::CloseHandle(Handle(handle_));
  }
  handle_ = -1;
}

FileLock::Outcome FileLock::Acquire(const std::string& path) {
  // A lock on the file itself would stand in the way of the replacement, so
  // the lock is a mutex named after the file; the system releases it when
  // its holder dies.
  if (::GetFileAttributesA(path.c_str()) == INVALID_FILE_ATTRIBUTES) return Outcome::kNone;
  std::string name = "users-password-file-" + std::to_string(Fnv1a(windows::FinalPath(path)));
  HANDLE mutex = ::CreateMutexA(nullptr, FALSE, ("Global\\" + name).c_str());
  if (mutex == nullptr) mutex = ::CreateMutexA(nullptr, FALSE, ("Local\\" + name).c_str());
  if (mutex == nullptr) return Outcome::kNone;
  DWORD waited = ::WaitForSingleObject(mutex, kWaitSeconds * 1000);
  if (waited != WAIT_OBJECT_0 && waited != WAIT_ABANDONED) {
    ::CloseHandle(mutex);
    return waited == WAIT_TIMEOUT ? Outcome::kBusy : Outcome::kNone;
  }
  handle_ = Stored(mutex);
  return Outcome::kHeld;
}

}  // namespace platform
