#ifndef USERS_FRONTEND_IMPORT_RUN_H_
#define USERS_FRONTEND_IMPORT_RUN_H_

// One run of users-import FILE [-r] [-d]: reads the changes from standard
// input, then under the writers' turn loads FILE, checks every change,
// makes them all and saves once; or, on any problem, writes nothing. Prints
// each problem by its line number, never a password, and one last line.
// Returns the exit status, 0 for success and 1 for every failure.
int RunImport(int argc, char** argv);

#endif  // USERS_FRONTEND_IMPORT_RUN_H_
