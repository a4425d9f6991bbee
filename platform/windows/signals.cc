#include "platform/windows/signals.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

namespace platform::windows {

namespace {

// The system runs the handler on a thread of its own while the program goes
// on, so the two meet at this lock.
SRWLOCK lock = SRWLOCK_INIT;
HANDLE fileToRemove = INVALID_HANDLE_VALUE;

BOOL WINAPI RemoveFileAndEnd(DWORD) {
  // Entered and never left: the process ends once this returns, and the
  // file goes with the handle.
  ::AcquireSRWLockExclusive(&lock);
  if (fileToRemove != INVALID_HANDLE_VALUE) {
    FILE_DISPOSITION_INFO remove = {TRUE};
    ::SetFileInformationByHandle(fileToRemove, FileDispositionInfo, &remove, sizeof remove);
  }
  return FALSE;  // on to the system's own handling, which ends the process
}

}  // namespace

void SetFileToRemove(std::intptr_t file) {
  // Installed when a save first makes a file, not at every start.
  static bool installed = false;
  if (file != -1 && !installed) installed = ::SetConsoleCtrlHandler(RemoveFileAndEnd, TRUE);
  fileToRemove = reinterpret_cast<HANDLE>(file);
}

void HoldCtrl(bool hold) {
  if (hold) {
    ::AcquireSRWLockExclusive(&lock);
  } else {
    ::ReleaseSRWLockExclusive(&lock);
  }
}

}  // namespace platform::windows
