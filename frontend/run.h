#ifndef USERS_FRONTEND_RUN_H_
#define USERS_FRONTEND_RUN_H_

// One run of the program: parse, load, one operation, one result line.
// Returns the exit status, 0 for success and 1 for every failure. Once the
// arguments are parsed, the password's bytes in `argv` are overwritten, so
// that the process list no longer shows it.
int Run(int argc, char** argv);

#endif  // USERS_FRONTEND_RUN_H_
