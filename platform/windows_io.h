#ifndef USERS_PLATFORM_WINDOWS_IO_H_
#define USERS_PLATFORM_WINDOWS_IO_H_

// File helpers that the Windows implementation files share; not part of the
// platform interface.

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <cstdint>
#include <string>
#include <string_view>

namespace platform::windows {

inline HANDLE Handle(std::intptr_t handle) { return reinterpret_cast<HANDLE>(handle); }
inline std::intptr_t Stored(HANDLE handle) { return reinterpret_cast<std::intptr_t>(handle); }
inline const std::intptr_t kNoHandle = Stored(INVALID_HANDLE_VALUE);

// CreateFileA that leaves other processes free to read, write, rename and
// delete the file, as a password file shared by several tools must be.
HANDLE Open(const std::string& path, DWORD access, DWORD disposition);

// The path of the file itself, when `path` names it through a link; `path`
// when it names nothing.
std::string FinalPath(const std::string& path);

// Reads the whole file from its start into `bytes`. False on a read error.
bool ReadAll(HANDLE file, std::string* bytes);

// Writes all of `bytes` from `offset` on. False on a write error.
bool WriteAllAt(HANDLE file, std::string_view bytes, std::uint64_t offset);

// Locks the whole file, shared or exclusive, waiting up to kWaitSeconds.
// The lock goes with the handle. False when the wait ran out.
bool LockWholeFile(HANDLE file, bool exclusive);

}  // namespace platform::windows

#endif  // USERS_PLATFORM_WINDOWS_IO_H_
