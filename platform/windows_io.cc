#include "platform/windows_io.h"

#include "platform/wait.h"

namespace platform::windows {

namespace {

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
// ReadFile and WriteFile take a 32-bit count.
constexpr std::size_t kMaxTransfer = 1u << 30;

OVERLAPPED At(std::uint64_t offset) {
  OVERLAPPED position = {};
  position.Offset = static_cast<DWORD>(offset);
  position.OffsetHigh = static_cast<DWORD>(offset >> 32);
  return position;
}

}  // namespace

HANDLE Open(const std::string& path, DWORD access, DWORD disposition) {
  return ::CreateFileA(path.c_str(), access, kShareAll, nullptr, disposition,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
}

std::string FinalPath(const std::string& path) {
  HANDLE file = Open(path, 0, OPEN_EXISTING);
  if (file == INVALID_HANDLE_VALUE) return path;
  char buffer[MAX_PATH * 4];
  DWORD length = ::GetFinalPathNameByHandleA(file, buffer, sizeof buffer, FILE_NAME_NORMALIZED);
  ::CloseHandle(file);
  if (length == 0 || length >= sizeof buffer) return path;
  return std::string(buffer, length);
}

bool ReadAll(HANDLE file, std::string* bytes) {
  bytes->clear();
  char buffer[1 << 16];
  for (std::uint64_t offset = 0;;) {
    OVERLAPPED position = At(offset);
    DWORD count = 0;
    if (!::ReadFile(file, buffer, sizeof buffer, &count, &position)) {
      return ::GetLastError() == ERROR_HANDLE_EOF;
    }
    if (count == 0) return true;
    bytes->append(buffer, count);
    offset += count;
  }
}

bool WriteAllAt(HANDLE file, std::string_view bytes, std::uint64_t offset) {
  while (!bytes.empty()) {
    OVERLAPPED position = At(offset);
    DWORD count = 0;
    DWORD wanted = static_cast<DWORD>(bytes.size() < kMaxTransfer ? bytes.size() : kMaxTransfer);
    if (!::WriteFile(file, bytes.data(), wanted, &count, &position) || count == 0) return false;
    bytes.remove_prefix(count);
    offset += count;
  }
  return true;
}

bool LockWholeFile(HANDLE file, bool exclusive) {
  DWORD flags = LOCKFILE_FAIL_IMMEDIATELY | (exclusive ? LOCKFILE_EXCLUSIVE_LOCK : 0);
  return WaitFor([&] {
    OVERLAPPED start = At(0);
    return ::LockFileEx(file, flags, 0, MAXDWORD, MAXDWORD, &start) != 0;
  });
}

}  // namespace platform::windows
