#ifndef USERS_PLATFORM_ENTRY_H_
#define USERS_PLATFORM_ENTRY_H_

// Where a program starts. The system's own entry point (platform/posix/main.cc,
// platform/windows/main.cc) prepares the process, makes the argument vector
// as the program parses it, and calls ProgramMain, which each program
// defines; so a program's own code holds nothing of any system.

namespace platform {

// The program's exit status for the argument vector `argv`.
int ProgramMain(int argc, char** argv);

// What the arguments after the program's own path are made of where the
// system's command line is wide (Windows): the bytes of the ANSI code page,
// exactly, as user names and passwords have always been made of; or UTF-8,
// as paths are held, so that a file may lie in a folder of any name. The
// program's own path is always UTF-8. Each program defines it.
enum class ArgumentBytes { kCodePage, kUtf8 };
extern const ArgumentBytes kArgumentBytes;

}  // namespace platform

#endif  // USERS_PLATFORM_ENTRY_H_
