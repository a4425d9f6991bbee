#ifndef USERS_PLATFORM_WAIT_H_
#define USERS_PLATFORM_WAIT_H_

// The bounded wait for another run's hold on the password file.

#include <functional>

#include "platform/file_system.h"

namespace platform {

// How long a run waits for another run's hold on the password file (the
// turn of a changing run, or an in-place rewrite) before it gives up.
constexpr int kWaitSeconds = 30;

// Calls `tryOnce` until it returns true, pausing between tries, for at most
// kWaitSeconds. Returns false when the time ran out.
bool WaitFor(const std::function<bool()>& tryOnce);

// Repeats `call` while it fails with kBusy, for at most kWaitSeconds; its
// last result.
Error WaitWhileBusy(const std::function<Error()>& call);

}  // namespace platform

#endif  // USERS_PLATFORM_WAIT_H_
