#ifndef USERS_PLATFORM_ENTRY_H_
#define USERS_PLATFORM_ENTRY_H_

// Where a program starts. The system's own entry point (platform/posix/main.cc,
// platform/windows/main.cc) prepares the process, makes the argument vector
// as the program parses it, and calls ProgramMain, which each program
// defines; so a program's own code holds nothing of any system.

namespace platform {

// The program's exit status for the argument vector `argv`.
int ProgramMain(int argc, char** argv);

}  // namespace platform

#endif  // USERS_PLATFORM_ENTRY_H_
