// Reading and writing the password file: one record a line, the fields
// user name, salt and digest separated by ':'.

#include <cstring>
#include <list>
#include <string>
#include <string_view>
#include <vector>

#include "platform/platform.h"
#include "store/user_list.h"
#include "store/user_record.h"

namespace {

// Large enough that a big file takes few system calls, small enough that
// the reused buffer stays in the processor's cache.
constexpr std::size_t kBlockSize = 128 << 10;
// The first block for an input of unknown or small size.
constexpr std::size_t kSmallBlockSize = 4 << 10;

}  // namespace

bool UserList::Load(const std::string& filePath) {
  path = filePath;
  platform::InputFile file;
  if (!file.Open(path)) return false;
  return ReadRecords(
      [&file](char* buffer, std::size_t capacity) { return file.Read(buffer, capacity); },
      file.SizeHint());
}

bool UserList::Save(const std::string& filePath) {
  platform::FileReplacement replacement;
  if (!replacement.Begin(filePath)) return false;
  if (!WriteRecords([&replacement](std::string_view bytes) { return replacement.Write(bytes); })) {
    return false;
  }
  return replacement.Commit();
}

bool UserList::ReadRecords(const ReadFunction& read, std::size_t sizeHint) {
  records.clear();

  std::vector<std::string_view> fields;
  std::size_t blockSize = kSmallBlockSize;
  while (blockSize < kBlockSize && blockSize <= sizeHint) blockSize *= 2;
  std::string buffer(blockSize, '\0');
  std::size_t begin = 0;  // first byte of the line not yet taken
  std::size_t end = 0;    // end of the bytes read
  for (;;) {
    // Keep the unfinished line and make room behind it; a line longer than
    // the buffer doubles it.
    if (begin > 0) {
      std::memmove(buffer.data(), buffer.data() + begin, end - begin);
      end -= begin;
      begin = 0;
    }
    if (end == buffer.size()) buffer.resize(buffer.size() * 2);

    std::ptrdiff_t count = read(buffer.data() + end, buffer.size() - end);
    // A read error must not pass for the end of the file: the next save
    // would write back only the records read so far.
    if (count < 0) return false;
    end += static_cast<std::size_t>(count);

    const char* data = buffer.data();
    while (const void* found = std::memchr(data + begin, '\n', end - begin)) {
      std::size_t lineEnd = static_cast<std::size_t>(static_cast<const char*>(found) - data);
      if (!AddLine(std::string_view(data + begin, lineEnd - begin), fields)) return false;
      begin = lineEnd + 1;
    }
    if (count == 0) {
      // The bytes behind the last line feed are a last line.
      return begin == end || AddLine(std::string_view(data + begin, end - begin), fields);
    }
  }
}

bool UserList::AddLine(std::string_view line, std::vector<std::string_view>& fields) {
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  // Most lines are "name:salt:digest" with short fields, which need no
  // split: the line makes its record's block.
  std::size_t colon1 = line.find(':'), colon2 = line.find(':', colon1 + 1);
  if (line.size() < 0x80 && colon1 != 0 && colon2 != line.npos && colon2 > colon1 + 1 &&
      colon2 + 1 < line.size() && line.find(':', colon2 + 1) == line.npos) {
    records.emplace_back(line, colon1, colon2);
    return true;
  }
  SplitFields(line, fields);
  if (fields.empty()) return true;
  if (fields.size() != 3) return false;
  records.emplace_back(fields[0], fields[1], fields[2]);
  return true;
}

void UserList::SplitFields(std::string_view line, std::vector<std::string_view>& fields) {
  fields.clear();
  for (std::size_t start = 0; (start = line.find_first_not_of(':', start)) != line.npos;) {
    std::size_t stop = line.find(':', start);
    fields.push_back(line.substr(start, stop - start));
    start = stop;
  }
}

bool UserList::WriteRecords(const WriteFunction& write) const {
  // The save is atomic, so lines are gathered into large writes instead of
  // being flushed one by one.
  std::string buffer;
  for (const UserRecord& record : records) {
    std::string_view name = record.userName, salt = record.salt, digest = record.digest;
    // Strings that stand in order in one block, one-byte sizes between
    // them, take one copy, the sizes becoming the separators.
    if (salt.data() == name.data() + name.size() + 1 &&
        digest.data() == salt.data() + salt.size() + 1) {
      std::size_t start = buffer.size();
      buffer.append(name.data(),
                    static_cast<std::size_t>(digest.data() - name.data()) + digest.size());
      buffer[start + name.size()] = buffer[start + name.size() + 1 + salt.size()] = ':';
    } else {
      buffer.append(name).append(1, ':').append(salt).append(1, ':').append(digest);
    }
    buffer.append(platform::kFileLineEnd);
    if (buffer.size() >= kBlockSize) {
      if (!write(buffer)) return false;
      buffer.clear();
    }
  }
  return buffer.empty() || write(buffer);
}
