#include "platform/platform.h"

#include <cstdint>
#include <cstring>
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

// The span [begin, end) of argument `index` in a command line, split as the
// C runtime splits it into argv. False when there are fewer arguments.
template <typename Char>
bool FindArgument(const Char* line, int index, std::size_t* begin, std::size_t* end) {
  auto blank = [](Char c) { return c == Char(' ') || c == Char('\t'); };
  const Char quote = Char('"'), backslash = Char('\\');
  std::size_t i = 0;
  // The program's name: quotes group, backslashes are plain.
  bool quoted = false;
  for (; line[i] != 0 && (quoted || !blank(line[i])); ++i) {
    if (line[i] == quote) quoted = !quoted;
  }
  for (int argument = 1;; ++argument) {
    while (line[i] != 0 && blank(line[i])) ++i;
    if (line[i] == 0) return false;
    std::size_t start = i;
    quoted = false;
    while (line[i] != 0 && (quoted || !blank(line[i]))) {
      std::size_t backslashes = 0;
      for (; line[i] == backslash; ++i) ++backslashes;
      if (line[i] != quote) {
        if (backslashes == 0) ++i;
        continue;
      }
      // An even run of backslashes lets the quote through as a delimiter; a
      // doubled quote inside quotes is a literal one.
      if (backslashes % 2 == 0) {
        if (quoted && line[i + 1] == quote) {
          ++i;
        } else {
          quoted = !quoted;
        }
      }
      ++i;
    }
    if (argument == index) {
      *begin = start;
      *end = i;
      return true;
    }
  }
}

// Blanks out argument `index` of the command line that `line` holds.
template <typename Char>
void BlankArgument(Char* line, int index) {
  std::size_t begin, end;
  if (line == nullptr || !FindArgument<Char>(line, index, &begin, &end)) return;
  for (std::size_t i = begin; i < end; ++i) line[i] = Char(' ');
}

}  // namespace

void Wipe(void* data, std::size_t size) { ::SecureZeroMemory(data, size); }

void HideArgument(int argc, char** argv, int index) {
  if (argv == nullptr || index <= 0 || index >= argc || argv[index] == nullptr) return;
  Wipe(argv[index], std::strlen(argv[index]));
  // Other processes read the command line from the process's own block,
  // which GetCommandLineW returns; GetCommandLineA is a copy made at start.
  // What the system recorded when the process was created stays as it was.
  BlankArgument(::GetCommandLineW(), index);
  BlankArgument(::GetCommandLineA(), index);
}

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
  // Open to every user (no access-control list), so that runs of different
  // users, or of one user with and without elevation, share one mutex; and
  // where another user made it first, opened rather than made.
  SECURITY_DESCRIPTOR descriptor;
  ::InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION);
  ::SetSecurityDescriptorDacl(&descriptor, TRUE, nullptr, FALSE);
  SECURITY_ATTRIBUTES everyone = {sizeof everyone, &descriptor, FALSE};
  HANDLE mutex = nullptr;
  for (const char* scope : {"Global\\", "Local\\"}) {
    std::string scoped = scope + name;
    mutex = ::CreateMutexA(&everyone, FALSE, scoped.c_str());
    if (mutex == nullptr && ::GetLastError() == ERROR_ACCESS_DENIED) {
      mutex = ::OpenMutexA(SYNCHRONIZE | MUTEX_MODIFY_STATE, FALSE, scoped.c_str());
    }
    if (mutex != nullptr) break;
  }
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
