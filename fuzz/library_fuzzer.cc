// Any bytes as a password file, opened and checked through the library's C
// entry: nothing crashes, and the index answers as a walk of the list does.
// Input: name, a zero byte, password, a zero byte, the file.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "digest/password_digest.h"
#include "fuzz/scratch_file.h"
#include "library/libusers.h"
#include "store/user_list.h"
#include "tests/memory_input.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string name, password, content;
  if (!TakeInput(data, size, &name, &password, &content)) return 0;

  users_file* file = nullptr;
  users_result opened = users_open(ScratchFilePath().c_str(), &file);
  UserList list;
  bool valid = list.ReadRecords(MemoryInput(content), content.size());
  if ((opened == USERS_OK) != valid) std::abort();
  if (opened != USERS_OK) return 0;

  auto record = list.Find(name);
  users_result expected = USERS_UNKNOWN_USER;
  if (record != list.records.end()) {
    RecordFields fields = list.FieldsOf(*record);
    expected = !password.empty() && ComputeDigest(name, fields.salt, password) == fields.digest
                   ? USERS_OK
                   : USERS_NO_MATCH;
  }
  if (users_check(file, name.c_str(), password.c_str()) != expected) std::abort();
  if (users_find(file, name.c_str()) != (expected == USERS_UNKNOWN_USER ? expected : USERS_OK))
    std::abort();
  users_close(file);
  return 0;
}
