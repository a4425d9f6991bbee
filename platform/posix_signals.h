#ifndef USERS_PLATFORM_POSIX_SIGNALS_H_
#define USERS_PLATFORM_POSIX_SIGNALS_H_

// The signals that end a run from outside (interrupt, hangup, termination,
// quit), as the POSIX implementation files handle them; not part of the
// platform interface.

#include <signal.h>

namespace platform::posix {

// Has each of those signals that is not ignored remove the file named by
// SetTemporaryToRemove, then end the process as it would have without it.
void RemoveTemporaryOnSignals();

// The file those signals remove; null for none. Call it while a SignalHold
// lives, so that no signal sees the file made but not yet named here.
void SetTemporaryToRemove(const char* path);

// Holds off those signals while it lives; one that came meanwhile acts when
// it ends.
class SignalHold {
 public:
  SignalHold();
  ~SignalHold();
  SignalHold(const SignalHold&) = delete;
  SignalHold& operator=(const SignalHold&) = delete;

 private:
  sigset_t previous_;
};

}  // namespace platform::posix

#endif  // USERS_PLATFORM_POSIX_SIGNALS_H_
