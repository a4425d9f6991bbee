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

// One user of the password file, the size of one pointer: where its text
// ("name:salt:digest") stands. A line of the file in that form refers to its
// bytes in the snapshot that its list loaded, by their place and length,
// with a few bits of its name's hash that spare a lookup most reads of the
// snapshot. Any other record, and every record the run makes or changes,
// holds its fields, joined as "name:salt:digest" and a line feed, in its
// list's arena. Both live as long as the list and are freed all at once: a
// record needs no destructor. Its list reads either kind (UserList::FieldsOf).
class UserRecord {
 public:
  using allocator_type = RecordArena::Allocator<char>;

  // The record of the text at `offset` of its list's snapshot, `length`
  // bytes without its line end, for the user `userName`. Only a text that
  // Fits can be kept there.
  struct InSnapshot {
    std::uint64_t offset;
    std::size_t length;
    std::string_view userName;
  };
  static bool Fits(std::uint64_t offset, std::size_t length) {
    return offset < kLargestOffset && length <= kLongestText;
  }
  UserRecord(InSnapshot text, const allocator_type&)
      : place_(kInSnapshot | std::uint64_t{NameTag(text.userName)} << 48 |
               std::uint64_t{text.length} << 40 | text.offset) {}

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

  bool inSnapshot() const { return (place_ & kInSnapshot) != 0; }
  std::uint64_t offset() const { return place_ & (kLargestOffset - 1); }
  std::size_t length() const { return static_cast<std::size_t>(place_ >> 40 & kLongestText); }
  std::uint32_t nameTag() const {
    return static_cast<std::uint32_t>((place_ & ~kInSnapshot) >> 48);
  }
  // For a record in the arena: "name:salt:digest", without its line feed.
  std::string_view text() const {
    const char* start = reinterpret_cast<const char*>(static_cast<std::uintptr_t>(place_));
    const char* end = start;
    while (*end != '\n') ++end;  // no field holds a line feed
    return {start, static_cast<std::size_t>(end - start)};
  }

 private:
  static constexpr std::uint64_t kInSnapshot = std::uint64_t{1} << 63;
  static constexpr std::uint64_t kLargestOffset = std::uint64_t{1} << 40;
  static constexpr std::size_t kLongestText = 255;
  // A pointer into the arena; or kInSnapshot, then 15 bits of NameTag, 8 of
  // the length and 40 of the offset.
  std::uint64_t place_;
};

#endif  // USERS_STORE_USER_RECORD_H_
