#include "platform/posix/signals.h"

#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <unistd.h>

#include <csignal>
#include <cstring>

namespace platform::posix {

namespace {

// The catchable signals whose default action ends the process; SIGPIPE
// and SIGXFSZ are ignored from the start, so that writes fail instead.
constexpr int kEndingSignals[] = {
    SIGHUP,  SIGINT,  SIGQUIT, SIGTERM, SIGUSR1, SIGUSR2, SIGALRM, SIGVTALRM, SIGPROF,
    SIGXCPU, SIGABRT, SIGBUS,  SIGFPE,  SIGILL,  SIGSEGV, SIGSYS,  SIGTRAP,
#ifdef SIGIO
    SIGIO,
#endif
#ifdef SIGPWR
    SIGPWR,
#endif
};

// Written only while the signals are held, read only by their handler.
int directoryToClean = -1;
char nameToRemove[NAME_MAX + 1];
volatile std::sig_atomic_t armed = 0;
sigset_t beforeHold;

template <typename Visit>
void ForEachEndingSignal(Visit visit) {
  for (int signal : kEndingSignals) visit(signal);
#ifdef SIGRTMIN
  for (int signal = SIGRTMIN; signal <= SIGRTMAX; ++signal) visit(signal);
#endif
}

sigset_t EndingSignals() {
  sigset_t set;
  sigemptyset(&set);
  ForEachEndingSignal([&set](int signal) { sigaddset(&set, signal); });
  return set;
}

extern "C" void RemoveFileAndEnd(int signal) {
  if (armed) ::unlinkat(directoryToClean, nameToRemove, 0);
  // Ends the process once this handler returns, as the signal would have.
  ::signal(signal, SIG_DFL);
  ::raise(signal);
}

// Has every catchable signal whose default action ends the process, and
// that the caller did not set to be ignored, first remove the file to
// remove, then end the process as it would have without it.
void RemoveFileOnSignals() {
  struct sigaction action = {};
  action.sa_handler = RemoveFileAndEnd;
  action.sa_mask = EndingSignals();
  action.sa_flags = SA_RESTART;
  ForEachEndingSignal([&action](int signal) {
    struct sigaction current;
    // A signal the caller chose to ignore (nohup, a background job) stays
    // ignored.
    if (::sigaction(signal, nullptr, &current) == 0 && current.sa_handler == SIG_DFL) {
      ::sigaction(signal, &action, nullptr);
    }
  });
}

}  // namespace

void SetFileToRemove(int directory, const std::string& name) {
  // Installed when a save first makes a file, not at every start: a run
  // that only reads, like the programs that load the file, never has them.
  static bool installed = false;
  if (!name.empty() && !installed) {
    RemoveFileOnSignals();
    installed = true;
  }
  armed = 0;
  if (name.empty() || name.size() >= sizeof nameToRemove) return;
  directoryToClean = directory;
  std::memcpy(nameToRemove, name.c_str(), name.size() + 1);
  armed = 1;
}

void HoldSignals(SignalHold hold) {
  if (hold == SignalHold::kNone) {
    ::sigprocmask(SIG_SETMASK, &beforeHold, nullptr);
    return;
  }
  sigset_t set = EndingSignals();
  if (hold == SignalHold::kAll) sigfillset(&set);
  ::sigprocmask(SIG_BLOCK, &set, &beforeHold);
}

}  // namespace platform::posix
