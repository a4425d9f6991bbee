// The file calls on Windows: wide calls on long paths, files known by
// their volume and index, never a reparse point followed after the start,
// the writers' turn a mutex named after the file's identity.

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
// After windows.h.
#include <aclapi.h>
#include <bcrypt.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "platform/system.h"
#include "platform/windows/signals.h"
#include "platform/windows/wide.h"

namespace platform {

namespace {

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
// ReadFile and WriteFile take a 32-bit count.
constexpr std::size_t kMaxTransfer = 1u << 30;
// FILE_INFO_BY_HANDLE_CLASS's FileRenameInfoEx and its flags (Windows 10
// 1709 on), which replace a file that others hold open with sharing.
constexpr auto kRenameInfoEx = static_cast<FILE_INFO_BY_HANDLE_CLASS>(22);
constexpr DWORD kReplaceIfExists = 0x1, kPosixSemantics = 0x2;

// Not in every SDK's headers.
constexpr DWORD kQuotaExceeded = 1295;  // ERROR_DISK_QUOTA_EXCEEDED

HANDLE AsHandle(Handle handle) { return reinterpret_cast<HANDLE>(handle); }
Handle Stored(HANDLE handle) { return reinterpret_cast<Handle>(handle); }

Error FromError(DWORD error) {
  static constexpr struct {
    Error error;
    DWORD codes[4];
  } kKinds[] = {
      {Error::kMissing, {ERROR_FILE_NOT_FOUND, ERROR_PATH_NOT_FOUND, ERROR_BAD_NETPATH}},
      {Error::kExists, {ERROR_FILE_EXISTS, ERROR_ALREADY_EXISTS}},
      {Error::kDenied, {ERROR_ACCESS_DENIED, ERROR_INVALID_OWNER, ERROR_PRIVILEGE_NOT_HELD}},
      {Error::kReadOnly, {ERROR_WRITE_PROTECT}},
      {Error::kBusy, {ERROR_SHARING_VIOLATION, ERROR_LOCK_VIOLATION}},
      {Error::kCrossDevice, {ERROR_NOT_SAME_DEVICE}},
      {Error::kTooLong, {ERROR_FILENAME_EXCED_RANGE, ERROR_BUFFER_OVERFLOW}},
      {Error::kNoSpace,
       {ERROR_DISK_FULL, ERROR_HANDLE_DISK_FULL, kQuotaExceeded, ERROR_FILE_TOO_LARGE}},
      {Error::kUnsupported,
       {ERROR_NOT_SUPPORTED, ERROR_INVALID_FUNCTION, ERROR_CALL_NOT_IMPLEMENTED,
        ERROR_INVALID_PARAMETER}},
  };
  if (error == ERROR_SUCCESS) return Error::kNone;
  for (const auto& kind : kKinds) {
    for (DWORD code : kind.codes) {
      if (code == error) return kind.error;
    }
  }
  return Error::kIo;
}

Error LastError() { return FromError(::GetLastError()); }
Error Checked(BOOL done) { return done ? Error::kNone : LastError(); }

OVERLAPPED At(std::uint64_t offset) {
  OVERLAPPED position = {};
  position.Offset = static_cast<DWORD>(offset);
  position.OffsetHigh = static_cast<DWORD>(offset >> 32);
  return position;
}

// The full path of an open file or directory, in the long form.
std::wstring PathOf(HANDLE handle) {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    DWORD size = ::GetFinalPathNameByHandleW(handle, path.data(), static_cast<DWORD>(path.size()),
                                             FILE_NAME_NORMALIZED);
    if (size == 0) return L"";
    if (size < path.size()) {
      path.resize(size);
      return windows::LongPath(path);
    }
    path.resize(size);
  }
}

// The path of `name` in the open directory; empty when the directory's own
// path cannot be had, which OpenPath refuses.
std::wstring PathIn(Handle directory, const std::string& name) {
  std::wstring path = PathOf(AsHandle(directory));
  return path.empty() ? path : path + L"\\" + windows::Widen(name);
}

Error OpenPath(const std::wstring& path, DWORD access, DWORD share, DWORD disposition, DWORD flags,
               SECURITY_ATTRIBUTES* security, Handle* handle) {
  *handle = kNoHandle;
  if (path.empty()) return Error::kIo;
  HANDLE opened = ::CreateFileW(path.c_str(), access, share, security, disposition, flags, nullptr);
  *handle = Stored(opened);
  return opened == INVALID_HANDLE_VALUE ? LastError() : Error::kNone;
}

// Whether the reparse point `file` names another file (a symbolic link, a
// junction), unlike one that only stores its data elsewhere (deduplicated,
// in the cloud), which is the file itself.
bool NamesAnother(HANDLE file) {
  FILE_ATTRIBUTE_TAG_INFO tag;
  return !::GetFileInformationByHandleEx(file, FileAttributeTagInfo, &tag, sizeof tag) ||
         IsReparseTagNameSurrogate(tag.ReparseTag);
}

Error InfoOf(HANDLE file, FileInfo* info) {
  BY_HANDLE_FILE_INFORMATION about;
  if (!::GetFileInformationByHandle(file, &about)) return LastError();
  bool link = (about.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 && NamesAnother(file);
  info->type = link                                                       ? FileType::kLink
               : (about.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? FileType::kDirectory
               : ::GetFileType(file) != FILE_TYPE_DISK                    ? FileType::kOther
                                                                          : FileType::kRegular;
  info->volume = about.dwVolumeSerialNumber;
  info->index = (std::uint64_t{about.nFileIndexHigh} << 32) | about.nFileIndexLow;
  info->size = (std::uint64_t{about.nFileSizeHigh} << 32) | about.nFileSizeLow;
  info->links = about.nNumberOfLinks;
  // In 100-nanosecond steps since 1601.
  constexpr std::int64_t kUnixEpoch = 116444736000000000;
  auto written =
      static_cast<std::int64_t>((std::uint64_t{about.ftLastWriteTime.dwHighDateTime} << 32) |
                                about.ftLastWriteTime.dwLowDateTime);
  info->modified = (written - kUnixEpoch) * 100;
  return Error::kNone;
}

template <typename Info>
Error SetInfo(Handle file, FILE_INFO_BY_HANDLE_CLASS what, Info info) {
  return Checked(::SetFileInformationByHandle(AsHandle(file), what, &info, sizeof info));
}

class WindowsSystem final : public System {
 public:
  // The system follows links and junctions itself (a link needs a privilege
  // to make; whether others may write a folder is its access-control list's
  // to say, which is not judged here).
  Error OpenDirectory(const std::string& path, const LinkRule&, Handle* directory,
                      std::string* name) override {
    std::wstring target = windows::LongPath(windows::Widen(path));
    // The file that links and junctions name, when there is one.
    Handle file;
    if (OpenPath(target, 0, kShareAll, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr, &file) ==
        Error::kNone) {
      std::wstring final = PathOf(AsHandle(file));
      ::CloseHandle(AsHandle(file));
      if (!final.empty()) target = final;
    }
    std::wstring::size_type separator = target.find_last_of(L"\\/");
    if (separator == std::wstring::npos || separator + 1 == target.size()) return Error::kMissing;
    *name = windows::Narrow(target.substr(separator + 1));
    return OpenPath(target.substr(0, separator), FILE_LIST_DIRECTORY, kShareAll, OPEN_EXISTING,
                    FILE_FLAG_BACKUP_SEMANTICS, nullptr, directory);
  }

  Error OpenParent(Handle, Handle* parent) override {
    *parent = kNoHandle;
    return Error::kUnsupported;
  }

  Error Inspect(Handle directory, const std::string& name, FileInfo* info) override {
    // No right to read or write: only what it is, without acting on it.
    Handle file;
    Error error =
        OpenPath(PathIn(directory, name), 0, kShareAll, OPEN_EXISTING,
                 FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr, &file);
    if (error != Error::kNone) return error;
    error = InfoOf(AsHandle(file), info);
    ::CloseHandle(AsHandle(file));
    return error;
  }

  Error Open(Handle directory, const std::string& name, Access access, Handle* file) override {
    DWORD rights = GENERIC_READ | (access == Access::kReadWrite ? GENERIC_WRITE : 0);
    return OpenPath(PathIn(directory, name), rights, kShareAll, OPEN_EXISTING,
                    FILE_FLAG_OPEN_REPARSE_POINT, nullptr, file);
  }

  Error Describe(Handle file, FileInfo* info) override { return InfoOf(AsHandle(file), info); }

  Error LockContent(Handle file, ContentLock lock) override {
    OVERLAPPED start = At(0);
    if (lock == ContentLock::kUnlock) {
      return Checked(::UnlockFileEx(AsHandle(file), 0, MAXDWORD, MAXDWORD, &start));
    }
    DWORD flags =
        LOCKFILE_FAIL_IMMEDIATELY | (lock == ContentLock::kExclusive ? LOCKFILE_EXCLUSIVE_LOCK : 0);
    return Checked(::LockFileEx(AsHandle(file), flags, 0, MAXDWORD, MAXDWORD, &start));
  }

  Error TakeTurn(Handle file, Handle* turn) override {
    // A lock on the file itself would stand in the way of its replacement,
    // so the turn is a mutex named after the file's identity, which every
    // name of the file shares; the system lets it go when its holder dies.
    FileInfo info;
    if (Error error = Describe(file, &info); error != Error::kNone) return error;
    std::wstring name =
        L"users-password-file-" + std::to_wstring(info.volume) + L"-" + std::to_wstring(info.index);
    // Open to every user (no access-control list), so that runs of different
    // users, or of one user with and without elevation, share one mutex; and
    // where another user made it first, opened rather than made.
    SECURITY_DESCRIPTOR descriptor;
    ::InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION);
    ::SetSecurityDescriptorDacl(&descriptor, TRUE, nullptr, FALSE);
    SECURITY_ATTRIBUTES everyone = {sizeof everyone, &descriptor, FALSE};
    HANDLE mutex = nullptr;
    for (const wchar_t* scope : {L"Global\\", L"Local\\"}) {
      std::wstring scoped = scope + name;
      mutex = ::CreateMutexW(&everyone, FALSE, scoped.c_str());
      if (mutex == nullptr && ::GetLastError() == ERROR_ACCESS_DENIED) {
        mutex = ::OpenMutexW(SYNCHRONIZE | MUTEX_MODIFY_STATE, FALSE, scoped.c_str());
      }
      if (mutex != nullptr) break;
    }
    if (mutex == nullptr) return Error::kUnsupported;
    DWORD waited = ::WaitForSingleObject(mutex, 0);
    if (waited != WAIT_OBJECT_0 && waited != WAIT_ABANDONED) {
      ::CloseHandle(mutex);
      return waited == WAIT_TIMEOUT ? Error::kBusy : Error::kUnsupported;
    }
    *turn = Stored(mutex);
    turns_.push_back(mutex);
    return Error::kNone;
  }

  Error ReadAt(Handle file, std::uint64_t offset, char* buffer, std::size_t capacity,
               std::size_t* count) override {
    OVERLAPPED position = At(offset);
    DWORD read = 0;
    DWORD wanted = static_cast<DWORD>(capacity < kMaxTransfer ? capacity : kMaxTransfer);
    *count = 0;
    if (!::ReadFile(AsHandle(file), buffer, wanted, &read, &position)) {
      return ::GetLastError() == ERROR_HANDLE_EOF ? Error::kNone : LastError();
    }
    *count = read;
    return Error::kNone;
  }

  Error WriteAt(Handle file, std::uint64_t offset, std::string_view bytes) override {
    while (!bytes.empty()) {
      OVERLAPPED position = At(offset);
      DWORD count = 0;
      DWORD wanted = static_cast<DWORD>(bytes.size() < kMaxTransfer ? bytes.size() : kMaxTransfer);
      if (!::WriteFile(AsHandle(file), bytes.data(), wanted, &count, &position)) return LastError();
      if (count == 0) return Error::kIo;
      bytes.remove_prefix(count);
      offset += count;
    }
    return Error::kNone;
  }

  Error Truncate(Handle file, std::uint64_t size) override {
    FILE_END_OF_FILE_INFO end;
    end.EndOfFile.QuadPart = static_cast<LONGLONG>(size);
    return SetInfo(file, FileEndOfFileInfo, end);
  }

  Error Reserve(Handle file, std::uint64_t size) override {
    LARGE_INTEGER now;
    if (!::GetFileSizeEx(AsHandle(file), &now)) return LastError();
    // A smaller allocation would cut the file.
    if (size <= static_cast<std::uint64_t>(now.QuadPart)) return Error::kNone;
    FILE_ALLOCATION_INFO allocation;
    allocation.AllocationSize.QuadPart = static_cast<LONGLONG>(size);
    return SetInfo(file, FileAllocationInfo, allocation);
  }

  Error Sync(Handle file) override { return Checked(::FlushFileBuffers(AsHandle(file))); }

  // Rename made itself durable.
  Error SyncDirectory(Handle) override { return Error::kNone; }

  Error Create(Handle directory, const std::string& name, Handle model, Handle* file) override {
    // The old file's owner, group and access-control list from the start,
    // so that nobody the old file shuts out can open the new one meanwhile;
    // and no sharing but reading, so that nobody can change, rename or
    // remove it while this process holds it.
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    DWORD error = ::GetSecurityInfo(
        AsHandle(model), SE_FILE_OBJECT,
        OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
        nullptr, nullptr, nullptr, nullptr, &descriptor);
    if (error != ERROR_SUCCESS) return FromError(error);
    SECURITY_ATTRIBUTES security = {sizeof security, descriptor, FALSE};
    Error created = OpenPath(PathIn(directory, name), GENERIC_READ | GENERIC_WRITE | DELETE,
                             FILE_SHARE_READ, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, &security, file);
    ::LocalFree(descriptor);
    return created;
  }

  Error CopyAttributes(Handle from, Handle to, Attributes what) override {
    // Owner, group and access-control list came with the creation.
    if (what != Attributes::kMode) return Error::kNone;
    FILE_BASIC_INFO basic;
    if (!::GetFileInformationByHandleEx(AsHandle(from), FileBasicInfo, &basic, sizeof basic)) {
      return LastError();
    }
    // Times left as they are; read-only is what a save is refused for.
    basic.CreationTime.QuadPart = basic.LastAccessTime.QuadPart = 0;
    basic.LastWriteTime.QuadPart = basic.ChangeTime.QuadPart = 0;
    basic.FileAttributes &= ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY);
    if (basic.FileAttributes == 0) basic.FileAttributes = FILE_ATTRIBUTE_NORMAL;
    return SetInfo(to, FileBasicInfo, basic);
  }

  Error Rename(Handle directory, const std::string&, Handle file, const std::string& to) override {
    std::wstring target = PathIn(directory, to);
    if (target.empty()) return Error::kIo;
    std::size_t nameBytes = target.size() * sizeof(wchar_t);
    std::string buffer(sizeof(FILE_RENAME_INFO) + nameBytes, '\0');
    auto* rename = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
    rename->RootDirectory = nullptr;
    rename->FileNameLength = static_cast<DWORD>(nameBytes);
    std::memcpy(rename->FileName, target.data(), nameBytes);
    // First as POSIX does it, which replaces a file that readers hold open;
    // where the system cannot, as Windows always did.
    DWORD flags = kReplaceIfExists | kPosixSemantics;
    std::memcpy(buffer.data(), &flags, sizeof flags);
    auto size = static_cast<DWORD>(buffer.size());
    Error error =
        Checked(::SetFileInformationByHandle(AsHandle(file), kRenameInfoEx, rename, size));
    if (error == Error::kUnsupported) {
      std::memset(buffer.data(), 0, sizeof flags);
      rename->ReplaceIfExists = TRUE;
      error = Checked(::SetFileInformationByHandle(AsHandle(file), FileRenameInfo, rename, size));
    }
    // Flushing the renamed file commits the file system's log, and the
    // rename in it, as a write-through move does.
    return error == Error::kNone ? Sync(file) : error;
  }

  Error Remove(Handle, const std::string&, Handle file) override {
    FILE_DISPOSITION_INFO remove = {TRUE};
    return SetInfo(file, FileDispositionInfo, remove);
  }

  Error RemoveUnused(Handle directory, const std::string& name) override {
    // Opened unshared, it cannot be open elsewhere, a live save's new file
    // least of all; read-only, it is made writable first.
    Handle file;
    Error error =
        OpenPath(PathIn(directory, name), DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES, 0,
                 OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr, &file);
    if (error != Error::kNone) return error;
    FileInfo info;
    error = Describe(file, &info);
    if (error == Error::kNone && info.type == FileType::kDirectory) error = Error::kDenied;
    FILE_BASIC_INFO basic = {};
    if (error == Error::kNone) {
      basic.FileAttributes = FILE_ATTRIBUTE_NORMAL;
      error = SetInfo(file, FileBasicInfo, basic);
    }
    if (error == Error::kNone) error = Remove(directory, name, file);
    ::CloseHandle(AsHandle(file));
    return error;
  }

  Error List(Handle directory, std::vector<std::string>* names) override {
    names->clear();
    std::wstring path = PathOf(AsHandle(directory));
    if (path.empty()) return Error::kIo;
    WIN32_FIND_DATAW entry;
    HANDLE listing = ::FindFirstFileW((path + L"\\*").c_str(), &entry);
    if (listing == INVALID_HANDLE_VALUE) return LastError();
    do {
      names->push_back(windows::Narrow(entry.cFileName));
    } while (::FindNextFileW(listing, &entry));
    ::FindClose(listing);
    return Error::kNone;
  }

  std::size_t NameMax(Handle) override { return 255; }

  Error Random(std::uint64_t* value) override {
    NTSTATUS status = ::BCryptGenRandom(nullptr, reinterpret_cast<PUCHAR>(value), sizeof *value,
                                        BCRYPT_USE_SYSTEM_PREFERRED_RNG);
    return status >= 0 ? Error::kNone : Error::kIo;
  }

  std::uint64_t User() override { return 0; }

  std::int64_t Now() override { return static_cast<std::int64_t>(::GetTickCount64()) * 1000; }

  void Sleep(std::int64_t microseconds) override {
    ::Sleep(static_cast<DWORD>((microseconds + 999) / 1000));
  }

  void Close(Handle handle) override {
    // A turn is owned until released: closing its handle alone would not
    // let the next run in until this thread ended.
    auto turn = std::find(turns_.begin(), turns_.end(), AsHandle(handle));
    if (turn != turns_.end()) {
      ::ReleaseMutex(*turn);
      turns_.erase(turn);
    }
    ::CloseHandle(AsHandle(handle));
  }

  void HoldSignals(SignalHold hold) override { windows::HoldCtrl(hold != SignalHold::kNone); }

  void RemoveOnSignal(Handle, const std::string& name, Handle file) override {
    windows::SetFileToRemove(name.empty() ? kNoHandle : file);
  }

 private:
  std::vector<HANDLE> turns_;  // held, and released when closed
};

}  // namespace

System& NativeSystem() {
  static WindowsSystem files;
  return files;
}

}  // namespace platform
