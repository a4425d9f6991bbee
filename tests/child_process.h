#ifndef USERS_TESTS_CHILD_PROCESS_H_
#define USERS_TESTS_CHILD_PROCESS_H_

#include <functional>
#include <string>
#include <vector>

// How a child process is set up before it runs.
struct ChildSetup {
  std::string workingDirectory;  // empty: the test's own
  std::string standardInput;     // a file to read it from; empty: the test's own
  long fileSizeLimit = -1;       // RLIMIT_FSIZE in bytes; -1: none
  long memoryLimit = -1;         // RLIMIT_AS in bytes; -1: none
  bool asNobody = false;         // drop root to uid/gid 65534 (no-op when not root)
  std::vector<unsigned> groups;  // with asNobody: its only supplementary groups
  // Runs in the child before root is dropped; false ends it with status 125.
  std::function<bool()> beforeStart;
  enum class Stdout { kCapture, kClosed, kBrokenPipe } stdoutMode = Stdout::kCapture;
};

struct ChildResult {
  int exitStatus = -1;  // -1 when the child did not exit normally
  int signal = 0;       // the signal that ended it, if any
  std::string output;   // standard output (kCapture)
  std::string errors;   // standard error, which must stay empty
};

// Runs `body` in a forked child set up as asked; its return value is the
// exit status. Standard output and standard error are read together, so
// the child may write any amount to either.
ChildResult RunInChild(const std::function<int()>& body, const ChildSetup& setup = {});

// Runs `program` with exactly `argv` (argv[0] included, which may differ
// from `program`).
ChildResult RunProgram(const std::string& program, const std::vector<std::string>& argv,
                       const ChildSetup& setup = {});

// True when the tests run as root, which ignores file permission bits.
bool RunningAsRoot();

#endif  // USERS_TESTS_CHILD_PROCESS_H_
