#include "frontend/import_input.h"

#include <string_view>

namespace {

// Reads in blocks this large: few system calls for a list of a million.
constexpr std::size_t kBlockSize = 128 << 10;

// Takes line number `line`; false when the reading ends at it.
bool TakeLine(std::uint64_t line, std::string_view text, bool removals, UserBatch& batch,
              std::vector<Problem>& problems) {
  if (line > kMaxImportLines) {
    problems.push_back({line, LineProblem::kTooManyLines});
    return false;
  }
  if (text.size() > kMaxImportLineLength) {
    problems.push_back({line, LineProblem::kTooLong});
    return false;
  }
  if (!text.empty() && text.back() == '\r') text.remove_suffix(1);
  if (text.empty()) return true;

  std::string_view::size_type colon = text.find(':');
  std::string_view name = text.substr(0, colon);
  bool validName = !name.empty() && ValidUserName(name);
  if (colon == std::string_view::npos) {
    if (!removals) {
      problems.push_back({line, LineProblem::kNoColon});
    } else if (!validName) {
      problems.push_back({line, LineProblem::kInvalidName});
    } else {
      batch.Remove(line, name);
    }
    return true;
  }
  std::string_view password = text.substr(colon + 1);
  bool validPassword = !password.empty() && ValidPassword(password);
  if (!validName) problems.push_back({line, LineProblem::kInvalidName});
  if (!validPassword) problems.push_back({line, LineProblem::kInvalidPassword});
  if (validName && validPassword) batch.Add(line, name, password);
  return true;
}

}  // namespace

void ReadImport(const LineReader::ReadFunction& read, bool removals, UserBatch& batch,
                std::vector<Problem>& problems) {
  std::uint64_t line = 0;
  bool stopped = false;
  bool reachedEnd =
      LineReader(read, kBlockSize, kMaxImportLineLength).ForEachLine([&](std::string_view text) {
        stopped = !TakeLine(++line, text, removals, batch, problems);
        return !stopped;
      });
  if (!reachedEnd && !stopped) problems.push_back({line + 1, LineProblem::kReadError});
}
