#ifndef USERS_STORE_USER_RECORD_H_
#define USERS_STORE_USER_RECORD_H_

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "store/record_arena.h"

// The three fields of a user record, as views.
struct RecordFields {
  std::string_view userName;
  std::string_view salt;
  std::string_view digest;

  // The fields of `text`, "name:salt:digest" without a line end.
  static RecordFields Of(std::string_view text) {
    std::size_t colon1 = text.find(':');
    std::size_t colon2 = text.find(':', colon1 + 1);
    return {text.substr(0, colon1), text.substr(colon1 + 1, colon2 - colon1 - 1),
            text.substr(colon2 + 1)};
  }
  bool operator==(const RecordFields&) const = default;

  // Whether `text`, "name:salt:digest", is a line of the user `userName`.
  static bool NameIs(std::string_view text, std::string_view userName) {
    return text.size() > userName.size() && text[userName.size()] == ':' &&
           text.starts_with(userName);
  }
};

// One user of the password file, the size of one pointer: where its line
// stands. A line that the file holds in the usual form ("name:salt:digest"
// and this system's line end, just as a save writes it) stays in the file,
// and the record holds its place and length there, with a few bits of its
// name's hash that spare a lookup most reads of the file, so that a run's
// memory follows its records rather than the file's bytes. Any other record holds
// its fields, joined as "name:salt:digest" and a line feed, in its list's
// arena, which frees them all at once: a record needs no destructor. Its
// list reads either kind (UserList::FieldsOf).
class UserRecord {
 public:
  using allocator_type = RecordArena::Allocator<char>;

  // The record of the usual line at `offset` of its list's file, `length`
  // bytes with its line end, for the user `userName`. Only a line that
  // Fits can be kept there.
  struct InFile {
    std::uint64_t offset;
    std::size_t length;
    std::string_view userName;
  };
  static bool Fits(std::uint64_t offset, std::size_t length) {
    return offset < kLargestOffset && length <= kLongestLine;
  }
  UserRecord(InFile line, const allocator_type&)
      : place_(kInFile | std::uint64_t{NameTag(line.userName)} << 48 |
               std::uint64_t{line.length} << 40 | line.offset) {}

  // A few bits of a hash of `userName`, cheap to make for every line.
  static std::uint32_t NameTag(std::string_view userName) {
    std::uint64_t head = 0, tail = 0;
    std::size_t size = userName.size();
    if (size >= 8) {
      std::memcpy(&head, userName.data(), 8);
      std::memcpy(&tail, userName.data() + size - 8, 8);
    } else if (size > 0) {
      std::memcpy(&head, userName.data(), size);
    }
    std::uint64_t hash = (head * 0x9e3779b97f4a7c15u) ^ (tail * 0xc2b2ae3d27d4eb4fu) ^ size;
    return static_cast<std::uint32_t>((hash ^ (hash >> 29)) * 0x94d049bb133111ebu >> 49);
  }

  // A record of these fields, copied into the arena.
  UserRecord(std::string_view userName, std::string_view salt, std::string_view digest,
             const allocator_type& allocator) {
    std::size_t size = userName.size() + salt.size() + digest.size() + 3;
    char* out = static_cast<char*>(allocator.arena->Allocate(size, 1));
    place_ = reinterpret_cast<std::uintptr_t>(out);
    for (std::string_view field : {userName, salt, digest}) {
      if (!field.empty()) std::memcpy(out, field.data(), field.size());
      out += field.size();
      *out++ = ':';
    }
    out[-1] = '\n';
  }
  // Moved only, within its list: a copy could outlive the arena unnoticed.
  UserRecord(UserRecord&&) = default;
  UserRecord& operator=(UserRecord&&) = default;

  bool inFile() const { return (place_ & kInFile) != 0; }
  std::uint64_t offset() const { return place_ & (kLargestOffset - 1); }
  std::size_t length() const { return static_cast<std::size_t>(place_ >> 40 & kLongestLine); }
  std::uint32_t nameTag() const { return static_cast<std::uint32_t>((place_ & ~kInFile) >> 48); }
  // For a record in the arena: "name:salt:digest", without its line feed.
  std::string_view text() const {
    const char* start = reinterpret_cast<const char*>(static_cast<std::uintptr_t>(place_));
    const char* end = start;
    while (*end != '\n') ++end;  // no field holds a line feed
    return {start, static_cast<std::size_t>(end - start)};
  }

 private:
  static constexpr std::uint64_t kInFile = std::uint64_t{1} << 63;
  static constexpr std::uint64_t kLargestOffset = std::uint64_t{1} << 40;
  static constexpr std::size_t kLongestLine = 255;
  // A pointer into the arena; or kInFile, then 15 bits of NameTag, 8 of
  // the length and 40 of the offset.
  std::uint64_t place_;
};

#endif  // USERS_STORE_USER_RECORD_H_
