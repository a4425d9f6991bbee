#ifndef USERS_STORE_USER_RECORD_H_
#define USERS_STORE_USER_RECORD_H_

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>
#include <utility>

#include "store/record_arena.h"

// A byte string of a user record, the size of a pointer: it points to a
// header (the size and whether the string owns its block, in 7-bit groups)
// with the bytes behind it. A record's three strings may share one block of
// its list's arena; a string made alone, copied or assigned owns its block.
class RecordField {
 public:
  RecordField() = default;
  RecordField(std::string_view bytes) {
    char* block = new char[BlockSize(bytes.size())];
    Put(block, bytes, true);
    header_ = block;
  }
  RecordField(const RecordField& other) : RecordField(other.view()) {}
  RecordField& operator=(const RecordField& other) { return *this = other.view(); }
  RecordField& operator=(std::string_view bytes) {
    RecordField fresh(bytes);
    std::swap(header_, fresh.header_);
    return *this;
  }
  ~RecordField() {
    if (OwnsBlock()) delete[] header_;
  }

  std::string_view view() const {
    const auto* p = reinterpret_cast<const unsigned char*>(header_);
    std::size_t value = *p & 0x7fu;
    for (int shift = 7; (*p++ & 0x80) != 0; shift += 7) value |= std::size_t{*p & 0x7fu} << shift;
    return {reinterpret_cast<const char*>(p), value >> 1};
  }
  operator std::string_view() const { return view(); }
  std::size_t size() const { return view().size(); }
  bool empty() const { return size() == 0; }
  char back() const { return view().back(); }
  // False for a string that shares its record's block.
  bool OwnsBlock() const { return (*header_ & 1) != 0; }
  friend bool operator==(const RecordField& a, std::string_view b) { return a.view() == b; }
  friend bool operator==(const RecordField& a, const RecordField& b) { return a == b.view(); }

 private:
  friend struct UserRecord;

  static std::size_t BlockSize(std::size_t size) {
    std::size_t header = 1;
    for (std::size_t value = size >> 6; value != 0; value >>= 7) ++header;
    return header + size;
  }
  // Writes the header and, when `copy`, the bytes at `out`; returns the end.
  static char* Put(char* out, std::string_view bytes, bool owned, bool copy = true) {
    std::size_t value = bytes.size() * 2 + (owned ? 1 : 0);
    for (; value >= 0x80; value >>= 7) *out++ = static_cast<char>((value & 0x7f) | 0x80);
    *out++ = static_cast<char>(value);
    if (copy && !bytes.empty()) std::memcpy(out, bytes.data(), bytes.size());
    return out + bytes.size();
  }

  const char* header_ = "";  // size 0, owns nothing
};

// One user of the password file.
struct UserRecord {
  using allocator_type = RecordArena::Allocator<char>;

  UserRecord() = default;
  UserRecord(std::string_view name, std::string_view salt, std::string_view digest)
      : userName(name), salt(salt), digest(digest) {}
  // The three strings in one block of the arena, which frees it.
  UserRecord(std::string_view name, std::string_view salt, std::string_view digest,
             const allocator_type& allocator)
      : UserRecord(name, salt, digest, {}, allocator) {}
  // The same for fields that `SplitFields` took from `line`.
  UserRecord(std::string_view name, std::string_view salt, std::string_view digest,
             std::string_view line, const allocator_type& allocator) {
    std::size_t size = RecordField::BlockSize(name.size()) + RecordField::BlockSize(salt.size()) +
                       RecordField::BlockSize(digest.size());
    char* out = static_cast<char*>(allocator.arena->Allocate(size, 1));
    // Short fields that stand in their line as "name:salt:digest" take one
    // copy, and their one-byte headers then take the separators' places.
    auto at = [](std::string_view bytes) { return reinterpret_cast<std::uintptr_t>(bytes.data()); };
    bool oneCopy = size == name.size() + salt.size() + digest.size() + 3 && at(line) <= at(name) &&
                   at(name) + name.size() + 1 == at(salt) &&
                   at(salt) + salt.size() + 1 == at(digest) &&
                   at(digest) + digest.size() <= at(line) + line.size();
    if (oneCopy) std::memcpy(out + 1, name.data(), size - 1);
    userName.header_ = out;
    this->salt.header_ = out = RecordField::Put(out, name, false, !oneCopy);
    this->digest.header_ = out = RecordField::Put(out, salt, false, !oneCopy);
    RecordField::Put(out, digest, false, !oneCopy);
  }
  bool operator==(const UserRecord& other) const = default;

  RecordField userName;
  RecordField salt;
  RecordField digest;
};

#endif  // USERS_STORE_USER_RECORD_H_
