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
#include "store/line_reader.h"
#include "store/user_list.h"
#include "store/user_record.h"

namespace {

// Lines are gathered into writes of about this size, and read back from
// the file in reads of about this size: few system calls, and a buffer that
// stays in the processor's cache.
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
  invalidLine_ = 0;
  if (!Reach(path, safe_file::HeldFile::Purpose::kRead)) return false;
  file_.Rewind();
  records.clear();
  placed_ = lost_ = false;
  window_.clear();
  // Each line's place: where the one before it ended, and its line feed.
  std::uint64_t offset = 0, lineNumber = 0;
  const bool keepPlaces = keeping_ == Keeping::kPlaces;
  bool read = LineReader([this](char* buffer,
                                std::size_t capacity) { return file_.Read(buffer, capacity); },
                         file_.SizeHint())
                  .ForEachLine([&](std::string_view line) {
                    std::uint64_t at = offset;
                    offset += line.size() + 1;
                    ++lineNumber;
                    if (AddLine(line, keepPlaces ? at : kNoPlace)) return true;
                    invalidLine_ = lineNumber;
                    return false;
                  });
  // A file written while it was read (by someone who takes no turns) was
  // not read as any one state of it.
  if (read && !file_.Unchanged()) read = false;
  // Described before the content was read: a change made meanwhile shows
  // as a change later, never the other way round.
  if (read) loadedFile_ = file_.info();
  // A run that only reads lets the file go at once, unless its records are
  // still to be read there; one that changes it keeps it for its save.
  if (!file_.HeldForChange() && !placed_) file_.Close();
  return read;
}

bool UserList::StillLoaded() const {
  platform::FileInfo now;
  return loadedFile_.type == platform::FileType::kRegular && file_.Look(path, &now) &&
         platform::SameFile(now, loadedFile_) && now.size == loadedFile_.size &&
         now.modified == loadedFile_.modified;
}

bool UserList::Save(const std::string& filePath) {
  // A record read back wrong may have gone into the change.
  if (lost_ || !Reach(filePath, safe_file::HeldFile::Purpose::kChange)) return false;
  // Records in the file are written from the file that was loaded, as it
  // was; it may have been opened again for the save.
  const platform::FileInfo& held = file_.info();
  if (placed_ && !(platform::SameFile(held, loadedFile_) && held.size == loadedFile_.size &&
                   held.modified == loadedFile_.modified)) {
    file_.Close();
    return false;
  }
  bool saved;
  {
    safe_file::FileReplacement replacement(file_);
    // What was read from the file meanwhile is what was loaded only if no
    // one wrote it since.
    saved =
        replacement.Begin() &&
        WriteRecords([&replacement](std::string_view bytes) { return replacement.Write(bytes); }) &&
        !lost_ && (!placed_ || file_.Unchanged()) && replacement.Commit();
  }
  // The change is over: the next run may take its turn.
  file_.Close();
  return saved;
}

bool UserList::ReadRecords(const ReadFunction& read, std::size_t sizeHint) {
  records.clear();
  return LineReader(read, sizeHint).ForEachLine([this](std::string_view line) {
    return AddLine(line, kNoPlace);
  });
}

bool UserList::AddLine(std::string_view line, std::uint64_t offset) {
  const std::string_view raw = line;
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  Fields fields = SplitFields(line);
  if (fields.count == 0) return true;
  if (fields.count != 3) return false;
  const auto& [name, salt, digest] = fields.first;
  // A line just as a save would write it, line feed and all, stays where
  // it is (the last line of a file that ends without one is copied).
  const std::string_view lineEnd = platform::kFileLineEnd;
  if (offset != kNoPlace && fields.joinedBySingleColons &&
      raw.size() + 1 - line.size() == lineEnd.size() && offset + raw.size() < file_.info().size &&
      UserRecord::Fits(offset, raw.size() + 1)) {
    records.emplace_back(UserRecord::InFile{offset, raw.size() + 1, name});
    placed_ = true;
  } else {
    records.emplace_back(name, salt, digest);
  }
  return true;
}

std::string_view UserList::LineAt(const UserRecord& record) const {
  const std::uint64_t offset = record.offset();
  const std::size_t length = record.length();
  if (offset < windowStart_ || offset + length > windowStart_ + window_.size()) {
    window_.resize(kBlockSize);
    std::ptrdiff_t count = file_.ReadAt(offset, window_.data(), window_.size());
    window_.resize(count > 0 ? static_cast<std::size_t>(count) : 0);
    windowStart_ = offset;
  }
  // As loaded, a line of the usual form, which ends with this system's line
  // end: else the file is not the one loaded any more.
  std::string_view line;
  if (offset + length <= windowStart_ + window_.size()) {
    line =
        std::string_view(window_).substr(static_cast<std::size_t>(offset - windowStart_), length);
  }
  // The name it holds is the one whose tag was kept: a line rewritten in
  // place since, to the same size and time, shows most of the time.
  if (!line.ends_with(platform::kFileLineEnd) || line.size() == platform::kFileLineEnd.size() ||
      UserRecord::NameTag(line.substr(0, line.find(':'))) != record.nameTag()) {
    lost_ = true;
    return {};
  }
  return line;
}

RecordFields UserList::FieldsOf(const UserRecord& record) const {
  if (!record.inFile()) return RecordFields::Of(record.text());
  std::string_view line = LineAt(record);
  if (line.empty()) return {};
  return RecordFields::Of(line.substr(0, line.size() - platform::kFileLineEnd.size()));
}

bool UserList::Intact() const { return !lost_ && (!placed_ || file_.Unchanged()); }

bool UserList::WriteRecords(const WriteFunction& write) const {
  // The save is atomic, so lines are gathered into large writes instead of
  // being flushed one by one. Lines that follow each other in the file, as
  // most do, are copied from it as one span, in large reads.
  std::string buffer;
  std::uint64_t spanStart = 0, spanEnd = 0;
  auto flush = [&](std::size_t atLeast) {
    if (buffer.size() < atLeast) return true;
    bool written = write(buffer);
    buffer.clear();
    return written;
  };
  auto copySpan = [&] {
    while (spanStart < spanEnd) {
      std::size_t size = buffer.size();
      std::size_t wanted =
          static_cast<std::size_t>(std::min<std::uint64_t>(spanEnd - spanStart, kBlockSize));
      buffer.resize(size + wanted);
      if (file_.ReadAt(spanStart, buffer.data() + size, wanted) !=
          static_cast<std::ptrdiff_t>(wanted)) {
        lost_ = true;  // the file is shorter than when it was loaded
        return false;
      }
      spanStart += wanted;
      if (!flush(kBlockSize)) return false;
    }
    return true;
  };
  for (const UserRecord& record : records) {
    if (record.inFile() && record.offset() == spanEnd && spanEnd != spanStart) {
      spanEnd += record.length();
      continue;
    }
    if (!copySpan()) return false;
    if (record.inFile()) {
      spanStart = record.offset();
      spanEnd = spanStart + record.length();
      continue;
    }
    buffer.append(record.text()).append(platform::kFileLineEnd);
    if (!flush(kBlockSize)) return false;
  }
  return copySpan() && flush(1);
}
