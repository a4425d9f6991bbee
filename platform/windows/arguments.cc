#include "platform/windows/arguments.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <cwchar>

#include "platform/platform.h"
#include "platform/windows/wide.h"

namespace platform::windows {

namespace {

int wideCount = 0;
wchar_t** wideArguments = nullptr;

// `wide` in the ANSI code page, each character it cannot hold as "?".
std::string InCodePage(const wchar_t* wide) {
  UINT page = ::GetACP();
  // A UTF-8 code page holds every character and takes neither option.
  bool utf8 = page == CP_UTF8;
  DWORD flags = utf8 ? 0 : WC_NO_BEST_FIT_CHARS;
  const char* unheld = utf8 ? nullptr : "?";
  int size = ::WideCharToMultiByte(page, flags, wide, -1, nullptr, 0, unheld, nullptr);
  std::string bytes(size > 0 ? static_cast<std::size_t>(size) : 1, '\0');
  ::WideCharToMultiByte(page, flags, wide, -1, bytes.data(), size, unheld, nullptr);
  bytes.resize(bytes.size() - 1);  // the terminating zero
  return bytes;
}

}  // namespace

Arguments::Arguments(int argc, wchar_t** argv, bool allUtf8) {
  wideCount = argc;
  wideArguments = argv;
  for (int i = 0; i < argc; ++i) {
    strings_.push_back(i == 0 || allUtf8 ? Narrow(argv[i]) : InCodePage(argv[i]));
  }
  for (std::string& argument : strings_) pointers_.push_back(argument.data());
  pointers_.push_back(nullptr);
}

Arguments::~Arguments() {
  for (std::string& argument : strings_) Wipe(argument);
}

void WipeWideArgument(int index) {
  if (wideArguments == nullptr || index <= 0 || index >= wideCount) return;
  Wipe(wideArguments[index], std::wcslen(wideArguments[index]) * sizeof(wchar_t));
}

}  // namespace platform::windows
