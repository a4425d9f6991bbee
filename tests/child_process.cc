#include "tests/child_process.h"

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <utility>

namespace {

constexpr uid_t kNobody = 65534;

// Reads both pipes to their ends at once: a child that fills one while the
// other is being waited on would otherwise block for ever.
void Drain(int out, int err, ChildResult& result) {
  pollfd fds[2] = {{out, POLLIN, 0}, {err, POLLIN, 0}};
  std::string* sinks[2] = {&result.output, &result.errors};
  int open = 2;
  while (open > 0) {
    if (::poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      return;
    }
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || fds[i].revents == 0) continue;
      char buffer[4096];
      ssize_t n = ::read(fds[i].fd, buffer, sizeof buffer);
      if (n > 0) {
        sinks[i]->append(buffer, static_cast<std::size_t>(n));
      } else if (n == 0 || errno != EINTR) {
        fds[i].fd = -1;  // poll skips it from now on
        --open;
      }
    }
  }
}

void SetUpChild(const ChildSetup& setup, int out[2], int err[2]) {
  ::dup2(err[1], 2);
  switch (setup.stdoutMode) {
    case ChildSetup::Stdout::kCapture:
      ::dup2(out[1], 1);
      break;
    case ChildSetup::Stdout::kClosed:
      ::close(1);
      break;
    case ChildSetup::Stdout::kBrokenPipe: {
      int pipe[2];
      if (::pipe(pipe) != 0) std::_Exit(125);
      ::close(pipe[0]);
      ::dup2(pipe[1], 1);
      ::close(pipe[1]);
      // A shell would leave SIGPIPE at its default; so do we.
      ::signal(SIGPIPE, SIG_DFL);
      break;
    }
  }
  ::close(out[0]);
  ::close(out[1]);
  ::close(err[0]);
  ::close(err[1]);
  if (!setup.standardInput.empty()) {
    int in = ::open(setup.standardInput.c_str(), O_RDONLY);
    if (in < 0 || ::dup2(in, 0) < 0) std::_Exit(125);
    ::close(in);
  }
  if (!setup.workingDirectory.empty() && ::chdir(setup.workingDirectory.c_str()) != 0) {
    std::_Exit(125);
  }
  if (setup.beforeStart && !setup.beforeStart()) std::_Exit(125);
  for (auto [resource, bytes] :
       {std::pair{RLIMIT_FSIZE, setup.fileSizeLimit}, std::pair{RLIMIT_AS, setup.memoryLimit}}) {
    rlimit limit{static_cast<rlim_t>(bytes), static_cast<rlim_t>(bytes)};
    if (bytes >= 0 && ::setrlimit(resource, &limit) != 0) std::_Exit(125);
  }
  if (setup.asNobody && ::geteuid() == 0) {
    // Root's supplementary groups would otherwise still open group-readable
    // and group-writable files; only the groups asked for stay.
    std::vector<gid_t> groups(setup.groups.begin(), setup.groups.end());
    if (::setgroups(groups.size(), groups.data()) != 0 || ::setgid(kNobody) != 0 ||
        ::setuid(kNobody) != 0) {
      std::_Exit(125);
    }
  }
}

}  // namespace

bool RunningAsRoot() { return ::geteuid() == 0; }

ChildResult RunInChild(const std::function<int()>& body, const ChildSetup& setup) {
  int out[2], err[2];
  ChildResult result;
  if (::pipe(out) != 0) return result;
  if (::pipe(err) != 0) {
    ::close(out[0]);
    ::close(out[1]);
    return result;
  }
  pid_t pid = ::fork();
  if (pid == 0) {
    SetUpChild(setup, out, err);
    std::_Exit(body());
  }
  ::close(out[1]);
  ::close(err[1]);
  if (pid > 0) Drain(out[0], err[0], result);
  ::close(out[0]);
  ::close(err[0]);
  if (pid < 0) return result;
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  if (WIFEXITED(status)) result.exitStatus = WEXITSTATUS(status);
  if (WIFSIGNALED(status)) result.signal = WTERMSIG(status);
  return result;
}

ChildResult RunProgram(const std::string& program, const std::vector<std::string>& argv,
                       const ChildSetup& setup) {
  return RunInChild(
      [&] {
        std::vector<char*> args;
        for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
        args.push_back(nullptr);
        ::execv(program.c_str(), args.data());
        return 127;
      },
      setup);
}
