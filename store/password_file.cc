// Reading and writing the password file: one record a line, the fields
// user name, salt and digest separated by ':'.

#include <cstring>
#include <list>
#include <string>
#include <string_view>
#include <vector>

#include "platform/platform.h"
#include "safe_file/file_replacement.h"
#include "store/line_reader.h"
#include "store/user_list.h"
#include "store/user_record.h"

namespace {

// Lines are gathered into writes of about this size: few system calls, and
// a buffer that stays in the processor's cache.
constexpr std::size_t kBlockSize = 128 << 10;

}  // namespace

bool UserList::Lock(const std::string& filePath) {
  lockedPath_ = filePath;
  return file_.Open(filePath, safe_file::HeldFile::Purpose::kChange) !=
         safe_file::HeldFile::Outcome::kBusy;
}

bool UserList::Reach(const std::string& filePath, safe_file::HeldFile::Purpose purpose) {
  if (file_.HeldForChange() && file_.path() == filePath) return true;
  // A locked file is loaded only as it is held for its change, and saved
  // only if it was held since its load.
  if (filePath == lockedPath_) {
    if (purpose == safe_file::HeldFile::Purpose::kChange) return false;
    purpose = safe_file::HeldFile::Purpose::kChange;
  }
  return file_.Open(filePath, purpose) == safe_file::HeldFile::Outcome::kOpen;
}

bool UserList::Load(const std::string& filePath) {
  path = filePath;
  loadedFile_ = platform::FileInfo();
  if (!Reach(path, safe_file::HeldFile::Purpose::kRead)) return false;
  file_.Rewind();
  bool read = ReadRecords(
      [this](char* buffer, std::size_t capacity) { return file_.Read(buffer, capacity); },
      file_.SizeHint());
  // Described before the content was read: a change made meanwhile shows
  // as a change later, never the other way round.
  if (read) loadedFile_ = file_.info();
  // A run that only reads lets the file go at once; one that changes it
  // keeps it for its save.
  if (!file_.HeldForChange()) file_.Close();
  return read;
}

bool UserList::StillLoaded() const {
  platform::FileInfo now;
  return loadedFile_.type == platform::FileType::kRegular && file_.Look(path, &now) &&
         platform::SameFile(now, loadedFile_) && now.size == loadedFile_.size &&
         now.modified == loadedFile_.modified;
}

bool UserList::Save(const std::string& filePath) {
  if (!Reach(filePath, safe_file::HeldFile::Purpose::kChange)) return false;
  bool saved;
  {
    safe_file::FileReplacement replacement(file_);
    saved =
        replacement.Begin() &&
        WriteRecords([&replacement](std::string_view bytes) { return replacement.Write(bytes); }) &&
        replacement.Commit();
  }
  // The change is over: the next run may take its turn.
  file_.Close();
  return saved;
}

bool UserList::ReadRecords(const ReadFunction& read, std::size_t sizeHint) {
  records.clear();
  return LineReader(read, sizeHint).ForEachLine([this](std::string_view line) {
    return AddLine(line);
  });
}

bool UserList::AddLine(std::string_view line) {
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  Fields fields = SplitFields(line);
  if (fields.count == 0) return true;
  if (fields.count != 3) return false;
  const auto& [name, salt, digest] = fields.first;
  // Most lines are "name:salt:digest" and short enough for one-byte sizes:
  // the line itself makes its record's block, in one copy.
  if (fields.joinedBySingleColons && line.size() < 0x80) {
    records.emplace_back(line, name.size(), name.size() + 1 + salt.size());
  } else {
    records.emplace_back(name, salt, digest);
  }
  return true;
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
