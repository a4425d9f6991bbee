#include "frontend/command_line.h"

#include <gtest/gtest.h>

#include <vector>

#include "platform/platform.h"

namespace {

CommandLine Parse(std::vector<const char*> arguments) {
  arguments.insert(arguments.begin(), "users");
  return ParseCommandLine(static_cast<int>(arguments.size()), arguments.data());
}

constexpr ParseOutcome kRun = ParseOutcome::kRun;
constexpr ParseOutcome kHelp = ParseOutcome::kHelp;
constexpr ParseOutcome kError = ParseOutcome::kUsageError;

TEST(CommandLineTest, Outcomes) {
  struct Case {
    std::vector<const char*> arguments;
    ParseOutcome outcome;
  } cases[] = {
      {{"add", "-u", "a", "-p", "b"}, kRun},
      {{"add", "-p", "b", "-r", "-u", "a"}, kRun},
      {{"remove", "-u", "a"}, kRun},
      {{"remove", "-u", "a", "-p", ""}, kRun},
      {{"check", "-u", "a", "-p", "b"}, kRun},
      {{"add"}, kRun},  // missing values are caught after the load
      {{"-h"}, kHelp},
      {{"-?"}, kHelp},
      {{"add", "-u", "a", "-h", "junk"}, kHelp},
      {{"add", "-r", "-r", "-h"}, kError},  // parsing stops at the first error
      {{"junk", "-h"}, kError},
      {{"-r", "add", "-u", "a", "-p", "b"}, kError},
      {{"ADD", "-u", "a", "-p", "b"}, kError},
      {{"add ", "-u", "a", "-p", "b"}, kError},
      {{"add", "-U", "a", "-p", "b"}, kError},
      {{"add", "-ua", "-p", "b"}, kError},
      {{"add", "-u", "a", "-p", "b", "add"}, kError},
      {{"add", "-u", "a", "-p", "b", ""}, kError},
      {{"add", "-u"}, kError},
      {{"add", "-u", "a", "-p"}, kError},
      {{"add", "-u", "a", "-u", "b"}, kError},
      {{"add", "-u", "", "-u", "b", "-p", "c"}, kRun},
      {{"add", "-p", "", "-p", "b", "-u", "c"}, kRun},
      {{"remove", "-u", "a", "-p", "b"}, kError},
      {{"remove", "-r", "-u", "a"}, kError},
      {{"check", "-r", "-u", "a", "-p", "b"}, kError},
      {{"-u", "a", "-p", "b"}, kError},
      {{}, ParseOutcome::kNoArguments},
  };
  for (const Case& c : cases) {
    std::string shown;
    for (const char* a : c.arguments) shown += std::string("[") + a + "]";
    EXPECT_EQ(Parse(c.arguments).outcome, c.outcome) << shown;
  }
}

TEST(CommandLineTest, ValueLimits) {
  struct Case {
    const char* value;
    bool nameAccepted;
    bool passwordAccepted;
  } cases[] = {
      {"sixteen-bytes-16", true, true},
      {"seventeen-bytes17", false, false},
      {"\xc3\xa9\xc3\xa9\xc3\xa9\xc3\xa9\xc3\xa9\xc3\xa9\xc3\xa9\xc3\xa9", true, true},
      {"\xc3\xa9\xc3\xa9\xc3\xa9\xc3\xa9\xc3\xa9\xc3\xa9\xc3\xa9\xc3\xa9x", false, false},
      {"a?", false, false},
      {"%a", false, false},
      {"a b", true, true},
      {"a:b", false, true},
      {"a\nb", false, true},
      {"a\rb", true, true},
      {"-p", true, true},
      {"-h", true, true},
  };
  for (const Case& c : cases) {
    CommandLine name = Parse({"add", "-u", c.value, "-p", "pw"});
    EXPECT_EQ(name.outcome == kRun, c.nameAccepted) << c.value;
    if (c.nameAccepted) {
      EXPECT_EQ(name.userName, c.value);
    }
    CommandLine password = Parse({"add", "-u", "user", "-p", c.value});
    EXPECT_EQ(password.outcome == kRun, c.passwordAccepted) << c.value;
    if (c.passwordAccepted) {
      EXPECT_EQ(password.password, c.value);
    } else {
      EXPECT_EQ(password.password, "") << "a refused password is never copied";
    }
    EXPECT_EQ(password.passwordArgument, 5) << "a refused password is hidden too";
  }
}

TEST(CommandLineTest, ValuesAndFlags) {
  CommandLine command = Parse({"add", "-u", "-p", "-p", "secret", "-r"});
  EXPECT_EQ(command.outcome, kRun);
  EXPECT_EQ(command.operation, Operation::kAdd);
  EXPECT_EQ(command.userName, "-p");
  EXPECT_EQ(command.password, "secret");
  EXPECT_TRUE(command.replace);
  EXPECT_EQ(command.passwordArgument, 5);
}

// The password goes from the argument vector, and its copy is wiped in
// place rather than only let go. (On Windows this also blanks argument 5 of
// the test's own command line, should it have one.)
TEST(CommandLineTest, PasswordIsHiddenAndWiped) {
  std::string arguments[] = {"users", "check", "-u", "alice", "-p", "sixteen-bytes-16"};
  char* argv[] = {arguments[0].data(), arguments[1].data(), arguments[2].data(),
                  arguments[3].data(), arguments[4].data(), arguments[5].data()};
  CommandLine command = ParseCommandLine(6, argv);
  platform::HideArgument(6, argv, command.passwordArgument);
  EXPECT_EQ(arguments[5], std::string(16, '\0'));
  EXPECT_EQ(arguments[3], "alice");

  const char* buffer = command.password.data();
  platform::Wipe(command.password);
  EXPECT_EQ(command.password.data(), buffer);
  EXPECT_EQ(std::string(buffer, 16), std::string(16, '\0'));
}

TEST(CommandLineTest, EmptyArgumentVector) {
  EXPECT_EQ(ParseCommandLine(0, nullptr).outcome, ParseOutcome::kNoArguments);
  const char* none[] = {nullptr};
  EXPECT_EQ(ParseCommandLine(0, none).outcome, ParseOutcome::kNoArguments);
}

TEST(CommandLineTest, PasswordFilePath) {
  struct Case {
    const char* programPath;
    const char* path;
  } cases[] = {
      {"/opt/tools/users.exe", "/opt/tools/users.dat"},
      {"users", "users.dat"},
      {"users.exe", "users.dat"},
      {"USERS.EXE", "USERS.EXE.dat"},
      {"a.exe.d/users", "a.dat"},
      {"ab", "ab.dat"},
      {"", ".dat"},
      {".exe", ".dat"},
      {"x.exe.exe", "x.exe.dat"},
      {"Z:\\tools\\users.exe", "Z:\\tools\\users.dat"},
  };
  for (const Case& c : cases) EXPECT_EQ(PasswordFilePath(c.programPath), c.path) << c.programPath;
}

}  // namespace
