// Reading and writing the password file: one record a line, the fields
// user name, salt and digest separated by ':'.

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <list>
#include <string>
#include <string_view>
#include <vector>

#include "platform/platform.h"
#include "safe_file/file_replacement.h"
#include "store/record_lines.h"
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

FileSnapshot& UserList::NewSnapshot() {
  records.clear();
  FileSnapshot& snapshot = snapshots_.emplace_back();
  snapshot_ = snapshot.bytes();
  return snapshot;
}

bool UserList::Load(const std::string& filePath) {
  path = filePath;
  loadedFile_ = platform::FileInfo();
  invalidLine_ = 0;
  if (!Reach(path, safe_file::HeldFile::Purpose::kRead)) return false;
  file_.Rewind();
  FileSnapshot& snapshot = NewSnapshot();
  // No further than the file's size when it was opened, and only a file
  // that no one changed while it was read: else the bytes may be part old,
  // part new.
  const std::size_t size = file_.SizeHint();
  bool read =
      ReadSnapshot(
          snapshot,
          [this](char* buffer, std::size_t capacity) { return file_.Read(buffer, capacity); }, size,
          size) &&
      snapshot.bytes().size() == size && file_.Unchanged();
  // Described before the content was read: a change made meanwhile shows
  // as a change later, never the other way round. Taken before the file is
  // let go, which forgets it.
  if (read) loadedFile_ = file_.info();
  // A run that only reads lets the file go at once; one that changes it
  // keeps it, and its turn, for its save.
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
  // The file this list loaded is written only as it was loaded: a writer
  // that does not take turns may have changed it since, and its change is
  // not to be undone unseen.
  const platform::FileInfo& held = file_.info();
  const bool loadedHere =
      loadedFile_.type == platform::FileType::kRegular && platform::SameFile(held, loadedFile_);
  if (loadedHere && !(held.size == loadedFile_.size && held.modified == loadedFile_.modified)) {
    file_.Close();
    return false;
  }
  bool saved;
  {
    safe_file::FileReplacement replacement(file_);
    saved =
        replacement.Begin() &&
        WriteRecords([&replacement](std::string_view bytes) { return replacement.Write(bytes); }) &&
        (!loadedHere || file_.Unchanged()) && replacement.Commit();
  }
  // The change is over: the next run may take its turn. The list now holds
  // what it wrote, not what it loaded.
  file_.Close();
  if (saved) loadedFile_ = platform::FileInfo();
  return saved;
}

bool UserList::ReadRecords(const ReadFunction& read, std::size_t sizeHint) {
  FileSnapshot& snapshot = NewSnapshot();
  return ReadSnapshot(snapshot, read, sizeHint, ~std::size_t{0});
}

bool UserList::ReadSnapshot(FileSnapshot& snapshot, const ReadFunction& read, std::size_t sizeHint,
                            std::size_t limit) {
  // Lines are split as each part is read, while it is in the processor's
  // cache; a line is whole at its line feed, or at the end.
  std::size_t begin = 0, searched = 0;
  auto addRecord = [this](std::string_view line, std::size_t offset, const Fields& fields) {
    return AddRecord(line, offset, fields);
  };
  auto addLines = [&](std::string_view bytes) {
    snapshot_ = bytes;  // the memory may have moved as it grew
    return ForEachRecordLineSoFar(bytes, begin, searched, addRecord) || Refused(bytes, begin);
  };
  bool whole = snapshot.Read(read, sizeHint, limit, addLines);
  snapshot_ = snapshot.bytes();
  if (!whole) return false;
  return begin == snapshot_.size() || TakeLastLine(snapshot_.substr(begin), begin, addRecord) ||
         Refused(snapshot_, begin);
}

bool UserList::Refused(std::string_view bytes, std::size_t begin) {
  invalidLine_ = 1 + static_cast<std::uint64_t>(std::count(
                         bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(begin), '\n'));
  return false;
}

bool UserList::AddRecord(std::string_view line, std::uint64_t offset, const Fields& fields) {
  if (fields.count == 0) return true;
  if (fields.count != 3) return false;
  const auto& [name, salt, digest] = fields.first;
  // A line that is nothing but its fields joined by single ':' is its own
  // text: the record refers to it. Any other is copied in that form.
  if (fields.joinedBySingleColons && UserRecord::Fits(offset, line.size())) {
    records.emplace_back(UserRecord::InSnapshot{offset, line.size(), name});
  } else {
    records.emplace_back(name, salt, digest);
  }
  return true;
}

bool UserList::WriteRecords(const WriteFunction& write) const {
  // The save is atomic, so lines are gathered into large writes instead of
  // being flushed one by one. Lines that follow each other in the snapshot
  // with this system's line end, as most do, are written from it as one
  // span.
  const std::string_view lineEnd = platform::kFileLineEnd;
  std::string buffer;
  std::size_t spanStart = 0, spanEnd = 0;
  auto flush = [&](std::size_t atLeast) {
    if (buffer.size() < atLeast) return true;
    bool written = write(buffer);
    buffer.clear();
    return written;
  };
  auto writeSpan = [&] {
    // A short span joins the buffer, so that scattered changes make few writes.
    if (spanEnd - spanStart < kBlockSize) {
      buffer.append(snapshot_.substr(spanStart, spanEnd - spanStart));
      spanStart = spanEnd;
      return flush(kBlockSize);
    }
    if (!flush(1)) return false;
    for (; spanStart < spanEnd; spanStart += kBlockSize) {
      if (!write(snapshot_.substr(spanStart, std::min(spanEnd - spanStart, kBlockSize)))) {
        return false;
      }
    }
    spanStart = spanEnd;
    return true;
  };
  for (const UserRecord& record : records) {
    if (record.inSnapshot()) {
      const std::size_t start = static_cast<std::size_t>(record.offset());
      const std::size_t end = start + record.length();
      if (snapshot_.substr(end, lineEnd.size()) == lineEnd) {
        if (start != spanEnd || spanStart == spanEnd) {
          if (!writeSpan()) return false;
          spanStart = start;
        }
        spanEnd = end + lineEnd.size();
        continue;
      }
    }
    if (!writeSpan()) return false;
    buffer.append(TextOf(record)).append(lineEnd);
    if (!flush(kBlockSize)) return false;
  }
  return writeSpan() && flush(1);
}
