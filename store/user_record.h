#ifndef USERS_STORE_USER_RECORD_H_
#define USERS_STORE_USER_RECORD_H_

#include <cstddef>
#include <cstring>
#include <string_view>

#include "store/record_arena.h"

// A byte string of a user record, the size of a pointer: it points to the
// string's size, in 7-bit groups, with the bytes behind it. The bytes never
// change and live in the arena of the record's list, which frees them all at
// once: a field is valid while its list lives, and a record needs no
// destructor, so that a list has nothing to do record by record when it
// ends.
class RecordField {
 public:
  RecordField() = default;
  // Moved only: a copy could outlive its list's arena unnoticed.
  RecordField(RecordField&&) = default;
  RecordField& operator=(RecordField&&) = default;
  RecordField(std::string_view bytes, const RecordArena::Allocator<char>& allocator) {
    Put(static_cast<char*>(allocator.arena->Allocate(BlockSize(bytes.size()), 1)), bytes);
  }

  std::string_view view() const {
    const auto* p = reinterpret_cast<const unsigned char*>(header_);
    std::size_t size = *p & 0x7fu;
    for (int shift = 7; (*p++ & 0x80) != 0; shift += 7) size |= std::size_t{*p & 0x7fu} << shift;
    return {reinterpret_cast<const char*>(p), size};
  }
  operator std::string_view() const { return view(); }
  std::size_t size() const { return view().size(); }
  bool empty() const { return size() == 0; }
  char back() const { return view().back(); }
  friend bool operator==(const RecordField& a, std::string_view b) { return a.view() == b; }
  friend bool operator==(const RecordField& a, const RecordField& b) { return a == b.view(); }

 private:
  friend struct UserRecord;

  static std::size_t BlockSize(std::size_t size) {
    std::size_t header = 1;
    for (std::size_t value = size >> 7; value != 0; value >>= 7) ++header;
    return header + size;
  }
  // Points the field at `out` and writes the header and the bytes there;
  // returns the end.
  char* Put(char* out, std::string_view bytes) {
    header_ = out;
    std::size_t value = bytes.size();
    for (; value >= 0x80; value >>= 7) *out++ = static_cast<char>((value & 0x7f) | 0x80);
    *out++ = static_cast<char>(value);
    if (!bytes.empty()) std::memcpy(out, bytes.data(), bytes.size());
    return out + bytes.size();
  }

  const char* header_ = "";  // size 0
};

// One user of the password file.
struct UserRecord {
  using allocator_type = RecordArena::Allocator<char>;

  // The three strings in one block of the arena.
  UserRecord(std::string_view nameBytes, std::string_view saltBytes, std::string_view digestBytes,
             const allocator_type& allocator) {
    char* out = static_cast<char*>(allocator.arena->Allocate(
        RecordField::BlockSize(nameBytes.size()) + RecordField::BlockSize(saltBytes.size()) +
            RecordField::BlockSize(digestBytes.size()),
        1));
    digest.Put(salt.Put(userName.Put(out, nameBytes), saltBytes), digestBytes);
  }
  // The record of `line`, "name:salt:digest" with ':' at `colon1` and
  // `colon2`, shorter than 128 bytes: one copy of the line makes the block,
  // each field's one-byte size taking the place of the byte before it.
  UserRecord(std::string_view line, std::size_t colon1, std::size_t colon2,
             const allocator_type& allocator) {
    char* out = static_cast<char*>(allocator.arena->Allocate(line.size() + 1, 1));
    std::memcpy(out + 1, line.data(), line.size());
    userName.header_ = out;
    salt.header_ = out + colon1 + 1;
    digest.header_ = out + colon2 + 1;
    out[0] = static_cast<char>(colon1);
    out[colon1 + 1] = static_cast<char>(colon2 - colon1 - 1);
    out[colon2 + 1] = static_cast<char>(line.size() - colon2 - 1);
  }
  // A copy into a list copies the three strings into its arena; a copy
  // anywhere else could outlive them unnoticed.
  UserRecord(const UserRecord& other, const allocator_type& allocator)
      : UserRecord(other.userName, other.salt, other.digest, allocator) {}
  UserRecord(const UserRecord&) = delete;
  UserRecord& operator=(const UserRecord&) = delete;
  bool operator==(const UserRecord& other) const = default;

  RecordField userName;
  RecordField salt;
  RecordField digest;
};

#endif  // USERS_STORE_USER_RECORD_H_
