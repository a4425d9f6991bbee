#include "platform/platform.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <cstdint>
#include <cstring>
#include <string>

namespace platform {

const std::string_view kFileLineEnd = "\r\n";

namespace {

// Every open leaves other processes free to read, write, rename and delete
// the file, as a password file shared by several tools must be.
constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
// Tries at a unique name before giving up on a new file.
constexpr int kUniqueNameTries = 100;
// A file that another process has open cannot be replaced until it closes
// it, which a reader does within moments: retry for up to two seconds.
constexpr int kReplaceTries = 200;
constexpr DWORD kReplacePauseMs = 10;
// ReadFile and WriteFile take a 32-bit count.
constexpr std::size_t kMaxTransfer = 1u << 30;

HANDLE Handle(std::intptr_t handle) { return reinterpret_cast<HANDLE>(handle); }
std::intptr_t Stored(HANDLE handle) { return reinterpret_cast<std::intptr_t>(handle); }
const std::intptr_t kNoHandle = Stored(INVALID_HANDLE_VALUE);

HANDLE Open(const std::string& path, DWORD access, DWORD disposition, DWORD flags = 0) {
  return ::CreateFileA(path.c_str(), access, kShareAll, nullptr, disposition,
                       FILE_ATTRIBUTE_NORMAL | flags, nullptr);
}

// The path of the file itself, when `path` names it through a link.
std::string FinalPath(const std::string& path) {
  HANDLE file = Open(path, 0, OPEN_EXISTING);
  if (file == INVALID_HANDLE_VALUE) return path;
  char buffer[MAX_PATH * 4];
  DWORD length = ::GetFinalPathNameByHandleA(file, buffer, sizeof buffer, FILE_NAME_NORMALIZED);
  ::CloseHandle(file);
  if (length == 0 || length >= sizeof buffer) return path;
  return std::string(buffer, length);
}

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
  // Writes to a closed console or pipe fail quietly here; nothing to do.
}

void AdviseLargePages(void*, std::size_t) {}

InputFile::~InputFile() {
  if (handle_ != -1) ::CloseHandle(Handle(handle_));
}

bool InputFile::Open(const std::string& path) {
  HANDLE file = platform::Open(path, GENERIC_READ, OPEN_EXISTING);
  if (file == INVALID_HANDLE_VALUE) return false;
  handle_ = Stored(file);
  LARGE_INTEGER size;
  if (::GetFileSizeEx(file, &size) && size.QuadPart > 0) {
    sizeHint_ = static_cast<std::size_t>(size.QuadPart);
  }
  return true;
}

std::ptrdiff_t InputFile::Read(char* buffer, std::size_t capacity) {
  DWORD count = 0;
  DWORD wanted = static_cast<DWORD>(capacity < kMaxTransfer ? capacity : kMaxTransfer);
  if (!::ReadFile(Handle(handle_), buffer, wanted, &count, nullptr)) return -1;
  return static_cast<std::ptrdiff_t>(count);
}

FileReplacement::~FileReplacement() { Discard(); }

void FileReplacement::Discard() {
  if (handle_ != -1) ::CloseHandle(Handle(handle_));
  handle_ = -1;
  if (!temporary_.empty()) ::DeleteFileA(temporary_.c_str());
  temporary_.clear();
}

bool FileReplacement::Begin(const std::string& path) {
  target_ = FinalPath(path);

  // The file must be writable as it is: read-only means "do not change".
  DWORD attributes = INVALID_FILE_ATTRIBUTES;
  HANDLE probe = Open(target_, GENERIC_WRITE, OPEN_EXISTING);
  if (probe != INVALID_HANDLE_VALUE) {
    ::CloseHandle(probe);
    attributes = ::GetFileAttributesA(target_.c_str());
  } else if (::GetLastError() != ERROR_FILE_NOT_FOUND) {
    return false;
  }

  for (int attempt = 0; attempt < kUniqueNameTries; ++attempt) {
    std::uint64_t unique = ::GetTickCount64() * 2654435761u + ::GetCurrentProcessId() + attempt;
    std::string name = target_ + ".tmp-" + std::to_string(unique % 1000000000u);
    HANDLE file = Open(name, GENERIC_WRITE, CREATE_NEW);
    if (file != INVALID_HANDLE_VALUE) {
      handle_ = Stored(file);
      temporary_ = name;
      if (attributes != INVALID_FILE_ATTRIBUTES) {
        ::SetFileAttributesA(name.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
      }
      return true;
    }
    if (::GetLastError() != ERROR_FILE_EXISTS) break;
  }

  // No new file can be made beside it: rewrite the file where it lies.
  HANDLE file = Open(target_, GENERIC_WRITE, OPEN_ALWAYS);
  if (file == INVALID_HANDLE_VALUE) return false;
  handle_ = Stored(file);
  inPlace_ = true;
  return true;
}

bool FileReplacement::Write(std::string_view bytes) {
  if (handle_ == -1 || failed_) return false;
  while (!bytes.empty()) {
    DWORD count = 0;
    DWORD wanted = static_cast<DWORD>(bytes.size() < kMaxTransfer ? bytes.size() : kMaxTransfer);
    if (!::WriteFile(Handle(handle_), bytes.data(), wanted, &count, nullptr) || count == 0) {
      failed_ = true;
      return false;
    }
    bytes.remove_prefix(count);
    written_ += count;
  }
  return true;
}

bool FileReplacement::Commit() {
  if (handle_ == -1 || failed_) return false;
  HANDLE file = Handle(handle_);
  bool ok = true;
  if (inPlace_) {
    LARGE_INTEGER end;
    end.QuadPart = static_cast<LONGLONG>(written_);
    ok = ::SetFilePointerEx(file, end, nullptr, FILE_BEGIN) && ::SetEndOfFile(file);
  }
  ok = ::FlushFileBuffers(file) && ok;
  ok = ::CloseHandle(file) && ok;
  handle_ = -1;
  if (inPlace_) return ok;
  for (int attempt = 1; ok; ++attempt) {
    if (::MoveFileExA(temporary_.c_str(), target_.c_str(),
                      MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
      temporary_.clear();
      return true;
    }
    DWORD error = ::GetLastError();
    ok = (error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION) &&
         attempt < kReplaceTries;
    if (ok) ::Sleep(kReplacePauseMs);
  }
  Discard();
  return false;
}

FileLock::~FileLock() { Release(); }

void FileLock::Release() {
  if (handle_ != -1) {
    ::ReleaseMutex(Handle(handle_));
    ::CloseHandle(Handle(handle_));
  }
  handle_ = -1;
}

bool FileLock::Acquire(const std::string& path) {
  // A lock on the file itself would stand in the way of the rename that
  // replaces it, so the lock is a mutex named after the file; the system
  // releases it when its holder dies.
  if (::GetFileAttributesA(path.c_str()) == INVALID_FILE_ATTRIBUTES) return false;
  std::string name = "users-password-file-" + std::to_string(Fnv1a(FinalPath(path)));
  HANDLE mutex = ::CreateMutexA(nullptr, FALSE, ("Global\\" + name).c_str());
  if (mutex == nullptr) mutex = ::CreateMutexA(nullptr, FALSE, ("Local\\" + name).c_str());
  if (mutex == nullptr) return false;
  DWORD waited = ::WaitForSingleObject(mutex, INFINITE);
  if (waited != WAIT_OBJECT_0 && waited != WAIT_ABANDONED) {
    ::CloseHandle(mutex);
    return false;
  }
  handle_ = Stored(mutex);
  return true;
}

}  // namespace platform
