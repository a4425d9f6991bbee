// Holds a file open as another Windows program might, so that the tests
// see runs wait for it: hold_file PATH read|none MILLISECONDS. Prints
// "held" once it holds the file.

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <cstdio>
#include <cwchar>

int wmain(int argc, wchar_t** argv) {
  if (argc != 4) return 2;
  DWORD share = std::wcscmp(argv[2], L"read") == 0 ? FILE_SHARE_READ : 0;
  HANDLE file = ::CreateFileW(argv[1], GENERIC_READ, share, nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return 1;
  std::puts("held");
  std::fflush(stdout);
  ::Sleep(static_cast<DWORD>(std::wcstoul(argv[3], nullptr, 10)));
  ::CloseHandle(file);
  return 0;
}
