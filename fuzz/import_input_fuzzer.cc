// Any bytes as the input of users-import, read in odd block sizes: the
// reader never crashes, tells its problems in line order, and what it lets
// through is written as records that read back the same.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "frontend/import_input.h"
#include "store/user_batch.h"
#include "store/user_list.h"
#include "tests/memory_input.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string bytes(reinterpret_cast<const char*>(data), size);
  UserBatch batch(false);
  std::vector<Problem> problems;
  ReadImport(MemoryInput(bytes, 1 + size % 7), size % 2 == 1, batch, problems);
  for (std::size_t i = 1; i < problems.size(); ++i) {
    if (problems[i].line < problems[i - 1].line) std::abort();
  }

  UserList list;
  if (!batch.Check(list).empty()) return 0;  // removals, or a name twice
  RandomSalts salts([](std::uint64_t* bits) { return *bits = 0x1234'5678'9abc'def0u, true; });
  UserBatch::Counts counts;
  if (!batch.Apply(list, salts, counts) || counts.added != list.records.size()) std::abort();
  std::string written;
  list.WriteRecords([&written](std::string_view part) {
    written.append(part);
    return true;
  });
  UserList reread;
  auto fields = [](const UserList& of) {
    std::vector<RecordFields> all;
    for (const UserRecord& record : of.records) all.push_back(of.FieldsOf(record));
    return all;
  };
  if (!reread.ReadRecords(MemoryInput(written)) || fields(reread) != fields(list)) std::abort();
  return 0;
}
