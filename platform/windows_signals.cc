#include "platform/windows_signals.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

namespace platform::windows {

namespace {

// The system runs the handler on a thread of its own while the program goes
// on, so the two meet at this lock.
SRWLOCK lock = SRWLOCK_INIT;
std::string temporaryToRemove;

BOOL WINAPI RemoveTemporaryAndEnd(DWORD) {
  // Entered and never left: the process ends once this returns.
  ::AcquireSRWLockExclusive(&lock);
  if (!temporaryToRemove.empty()) ::DeleteFileA(temporaryToRemove.c_str());
  return FALSE;  // on to the system's own handling, which ends the process
}

}  // namespace

void RemoveTemporaryOnCtrl() { ::SetConsoleCtrlHandler(RemoveTemporaryAndEnd, TRUE); }

void SetTemporaryToRemove(const std::string& path) { temporaryToRemove = path; }

SaveHold::SaveHold() { ::AcquireSRWLockExclusive(&lock); }

SaveHold::~SaveHold() { ::ReleaseSRWLockExclusive(&lock); }

}  // namespace platform::windows
