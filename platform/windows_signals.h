#ifndef USERS_PLATFORM_WINDOWS_SIGNALS_H_
#define USERS_PLATFORM_WINDOWS_SIGNALS_H_

// Ctrl-C, Ctrl-Break and the closing of the console, which end a run from
// outside, as the Windows implementation files handle them; not part of the
// platform interface.

#include <string>

namespace platform::windows {

// Has those events remove the file named by SetTemporaryToRemove, once no
// SaveHold lives, before the process ends as it would have without it.
void RemoveTemporaryOnCtrl();

// The file those events remove; empty for none. Call it while a SaveHold
// lives.
void SetTemporaryToRemove(const std::string& path);

// Holds off the ending of the process by those events while it lives. Not
// to be nested.
class SaveHold {
 public:
  SaveHold();
  ~SaveHold();
  SaveHold(const SaveHold&) = delete;
  SaveHold& operator=(const SaveHold&) = delete;
};

}  // namespace platform::windows

#endif  // USERS_PLATFORM_WINDOWS_SIGNALS_H_
