#ifndef USERS_PLATFORM_WINDOWS_SIGNALS_H_
#define USERS_PLATFORM_WINDOWS_SIGNALS_H_

// Ctrl-C, Ctrl-Break and the closing of the console, which end a run from
// outside, as the Windows implementation handles them; not part of the
// platform interface.

#include <cstdint>

namespace platform::windows {

// The file those events remove, once no hold is on, before the process ends
// as it would have: an open handle with the right to delete it; -1 for
// none. The first file installs the handler. Call it while they are held.
void SetFileToRemove(std::intptr_t file);

// Holds off, or lets go of, the ending of the process by those events.
void HoldCtrl(bool hold);

}  // namespace platform::windows

#endif  // USERS_PLATFORM_WINDOWS_SIGNALS_H_
