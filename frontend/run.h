#ifndef USERS_FRONTEND_RUN_H_
#define USERS_FRONTEND_RUN_H_

// One run of the program: parse, load, one operation, one result line.
// Returns the exit status, 0 for success and 1 for every failure.
int Run(int argc, const char* const* argv);

#endif  // USERS_FRONTEND_RUN_H_
