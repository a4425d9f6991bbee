#include "platform/wait.h"

#include <algorithm>
#include <chrono>
#include <thread>

namespace platform {

namespace {

// Pauses between tries: short at first, so that a hold of a moment costs
// little, then longer, so that a long wait costs no processor time.
constexpr std::chrono::milliseconds kFirstPause{1};
constexpr std::chrono::milliseconds kLongestPause{32};

}  // namespace

bool WaitFor(const std::function<bool()>& tryOnce) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(kWaitSeconds);
  std::chrono::milliseconds pause = kFirstPause;
  while (!tryOnce()) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(pause);
    pause = std::min(pause * 2, kLongestPause);
  }
  return true;
}

Error WaitWhileBusy(const std::function<Error()>& call) {
  Error error = Error::kNone;
  WaitFor([&] { return (error = call()) != Error::kBusy; });
  return error;
}

}  // namespace platform
