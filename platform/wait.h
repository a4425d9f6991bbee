#ifndef USERS_PLATFORM_WAIT_H_
#define USERS_PLATFORM_WAIT_H_

// The bounded wait of the platform implementations; not part of the
// platform interface.

#include <functional>

namespace platform {

// Calls `tryOnce` until it returns true, pausing between tries, for at most
// kWaitSeconds. Returns false when the time ran out.
bool WaitFor(const std::function<bool()>& tryOnce);

}  // namespace platform

#endif  // USERS_PLATFORM_WAIT_H_
