#ifndef USERS_FRONTEND_CONSOLE_H_
#define USERS_FRONTEND_CONSOLE_H_

#include <string_view>

// All output goes to standard output, a line at a time: the text, a
// newline and a flush, so that every line is whole the moment it is out.
// A failed write is lost quietly and changes nothing else.
void WriteLine(std::string_view text);

// Writes the eleven lines of the usage text.
void PrintUsage();

// Writes "Operation Successful: " or "Operation failed: " and the message.
void PrintResult(bool succeeded, std::string_view message);

#endif  // USERS_FRONTEND_CONSOLE_H_
