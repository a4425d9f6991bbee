// Any bytes as a password file, loaded as the program loads it for a change
// and as the library loads it: both load or neither, and they find, check
// and save alike, byte for byte.
// Input: name, a zero byte, password, a zero byte, the file.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>

#include "fuzz/scratch_file.h"
#include "library/loaded_users.h"
#include "store/user_list.h"

namespace {

std::string Written(const UserList& list) {
  std::string written;
  if (!list.WriteRecords(
          [&written](std::string_view bytes) { return written.append(bytes), true; }))
    std::abort();
  return written;
}

// The library's answer for the program's message.
users_result AsLibrary(const std::string& message, bool emptyPassword) {
  if (message == " User entry not found.") return USERS_UNKNOWN_USER;
  // The library never lets an empty password in.
  if (message == " Username and password match." && !emptyPassword) return USERS_OK;
  return USERS_NO_MATCH;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string name, password, content;
  if (!TakeInput(data, size, &name, &password, &content)) return 0;

  UserList program;
  bool programLoaded = program.Lock(ScratchFilePath()) && program.Load(ScratchFilePath());
  LoadedUsers library;
  bool libraryLoaded = library.Load(ScratchFilePath());
  if (programLoaded != libraryLoaded) std::abort();
  if (!programLoaded) return 0;

  auto found = program.Find(name);
  if ((found != program.records.end()) != (library.Find(name) == USERS_OK)) std::abort();
  std::string message;
  program.CheckUser(name, password, message);
  if (AsLibrary(message, password.empty()) != library.Check(name, password)) std::abort();

  // The program's save, through the file it holds, writes what the library
  // loaded, and what it writes loads as the same records.
  std::string loaded = Written(*library.list());
  if (Written(program) != loaded || !program.Save(ScratchFilePath())) std::abort();
  std::ifstream in(ScratchFilePath(), std::ios::binary);
  std::string saved((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (saved != loaded) std::abort();
  return 0;
}
