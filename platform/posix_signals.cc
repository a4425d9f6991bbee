#include "platform/posix_signals.h"

#include <unistd.h>

#include <atomic>

namespace platform::posix {

namespace {

constexpr int kEndingSignals[] = {SIGHUP, SIGINT, SIGQUIT, SIGTERM};

std::atomic<const char*> temporaryToRemove{nullptr};

sigset_t EndingSignals() {
  sigset_t set;
  sigemptyset(&set);
  for (int signal : kEndingSignals) sigaddset(&set, signal);
  return set;
}

extern "C" void RemoveTemporaryAndEnd(int signal) {
  const char* path = temporaryToRemove.load();
  if (path != nullptr) ::unlink(path);
  // Ends the process once this handler returns, as the signal would have.
  ::signal(signal, SIG_DFL);
  ::raise(signal);
}

}  // namespace

void RemoveTemporaryOnSignals() {
  struct sigaction action = {};
  action.sa_handler = RemoveTemporaryAndEnd;
  action.sa_mask = EndingSignals();
  action.sa_flags = SA_RESTART;
  for (int signal : kEndingSignals) {
    struct sigaction current;
    // A signal the caller chose to ignore (nohup, a background job) stays
    // ignored.
    if (::sigaction(signal, nullptr, &current) == 0 && current.sa_handler == SIG_DFL) {
      ::sigaction(signal, &action, nullptr);
    }
  }
}

void SetTemporaryToRemove(const char* path) { temporaryToRemove.store(path); }

SignalHold::SignalHold() {
  sigset_t set = EndingSignals();
  ::sigprocmask(SIG_BLOCK, &set, &previous_);
}

SignalHold::~SignalHold() { ::sigprocmask(SIG_SETMASK, &previous_, nullptr); }

}  // namespace platform::posix
