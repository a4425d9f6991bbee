#ifndef USERS_PLATFORM_WINDOWS_WIDE_H_
#define USERS_PLATFORM_WINDOWS_WIDE_H_

// Paths between the program, which holds them as UTF-8, and the wide calls
// of Windows, which take any name at any length; not part of the platform
// interface.

#include <string>
#include <string_view>

namespace platform::windows {

std::wstring Widen(std::string_view utf8);
std::string Narrow(std::wstring_view wide);

// `path` as the wide calls take it at any length: whole, and behind "\\?\".
std::wstring LongPath(const std::wstring& path);

}  // namespace platform::windows

#endif  // USERS_PLATFORM_WINDOWS_WIDE_H_
