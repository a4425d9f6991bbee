#ifndef USERS_PLATFORM_POSIX_SIGNALS_H_
#define USERS_PLATFORM_POSIX_SIGNALS_H_

// The signals that end a run, as the POSIX implementation handles them; not
// part of the platform interface.

#include "platform/system.h"

namespace platform::posix {

// The file that every catchable signal whose default action ends the
// process (and that the caller did not set to be ignored) removes first,
// before it ends the process as it would have: `name` in the directory open
// as `directory`; an empty name for none. The first file installs the
// handlers. Call it while those signals are held, so that none sees a file
// made but not yet named here.
void SetFileToRemove(int directory, const std::string& name);

// Holds off the signals that end the process from outside (kEnding), or
// every signal that can be held (kAll), until called again with kNone.
void HoldSignals(SignalHold hold);

}  // namespace platform::posix

#endif  // USERS_PLATFORM_POSIX_SIGNALS_H_
