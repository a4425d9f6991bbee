#ifndef USERS_STORE_USER_LIST_H_
#define USERS_STORE_USER_LIST_H_

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <functional>
#include <list>
#include <string>
#include <string_view>

#include "platform/system.h"
#include "safe_file/held_file.h"
#include "store/line_reader.h"
#include "store/record_arena.h"
#include "store/user_record.h"

// The password file held in memory: its records in file order and the path
// it was loaded from. Records are found by the first exactly equal name.
// The records and their strings come from the list's own arena, a base so
// that it is there before `records` is made and until it is gone: a list may
// allocate even while it is empty.
//
// A list keeps copies of its records' fields, or (Keeping::kPlaces) leaves
// the lines of the usual form in its file and reads them there: the file
// then stays open, under the lock or the turn of its load, until the list
// ends or saves, and a list that finds it changed meanwhile fails its
// operation (Intact) rather than use what it reads. Such a list serves one
// change, as a run does: after its save the file is let go, and its records
// there are read no more.
class UserList : private RecordArena {
 public:
  using Records = std::list<UserRecord, RecordArena::Allocator<UserRecord>>;
  // The input of ReadRecords, read as a LineReader reads it.
  using ReadFunction = LineReader::ReadFunction;
  // Takes the next bytes of the output; false on a write error.
  using WriteFunction = std::function<bool(std::string_view bytes)>;

  std::string path;
  Records records{Records::allocator_type(this)};

  enum class Keeping { kCopies, kPlaces };

  // `system` reaches the password file; tests give one that fails calls.
  explicit UserList(platform::System& system = platform::NativeSystem(),
                    Keeping keeping = Keeping::kCopies)
      : file_(system), keeping_(keeping) {}
  UserList(const UserList&) = delete;
  UserList& operator=(const UserList&) = delete;

  // Returns the first record whose user name equals `userName` byte for
  // byte, or records.end().
  Records::iterator Find(std::string_view userName);

  // The fields of `record`, one of `records`. Those of a record in the
  // arena stay valid while the list lives; those of a record in the file
  // until the next call that reads the file (FieldsOf, Find, WriteRecords),
  // and they are empty when it could not be read as it was loaded.
  RecordFields FieldsOf(const UserRecord& record) const;

  // False once the list found its file changed since the load: a line not
  // where it was, or the file of another size or time. Only a list that
  // keeps places in its file reads it again, and can find that.
  bool Intact() const;

  // --- The password file (password_file.cc) ---

  // Opens the file at `filePath` for a change and holds it, and the turn of
  // the runs that change it, until Save or the list's end: Load then reads
  // that one file and Save writes it, whoever renames what meanwhile.
  // Returns false only when another run held the turn for all of the wait;
  // a file that cannot be opened is left to Load to report.
  bool Lock(const std::string& filePath);

  // Stores `filePath` in `path` first, whatever follows. On success returns
  // true and `records` holds the file's records in order. Returns false when
  // the file cannot be opened (records unchanged), cannot be read, or holds
  // a line of 1, 2 or more than 3 fields (records read before it are kept).
  // Only a regular file is read.
  bool Load(const std::string& filePath);

  // The number of the line (the first is 1) at which the last Load found
  // the file invalid; 0 when it did not.
  std::uint64_t invalidLine() const { return invalidLine_; }

  // The file that the last successful Load read, as it was when opened:
  // identity, size and modification time. Type kOther when none was.
  const platform::FileInfo& loadedFile() const { return loadedFile_; }

  // Whether `path` still names the file that the last successful Load read,
  // with the same size and modification time. False when it cannot be told,
  // so that a reader that reloads on false never keeps a file it could not
  // look at. Opens nothing but the file's directory, for a moment.
  bool StillLoaded() const;

  // Replaces the file at `filePath` (the held one, when Lock held it) with
  // one line per record, atomically. Returns false, with the old file
  // untouched, when it cannot be written, is missing, or its name no longer
  // holds the file that was held.
  bool Save(const std::string& filePath);

  // Empties `records` and appends one record per line of 3 fields; lines of
  // no field are skipped. Returns true at the end of input, false at an
  // invalid line or a read error. `sizeHint`, the input's expected size,
  // only sizes the read buffer: memory follows the records read.
  bool ReadRecords(const ReadFunction& read, std::size_t sizeHint = 0);

  // Writes every record as "name:salt:digest" and a line end, in order.
  // Returns false when a write fails.
  bool WriteRecords(const WriteFunction& write) const;

  // The fields of a line: its maximal runs of bytes other than ':', in
  // order, as views into the line. A record takes three, so only the first
  // three are kept.
  struct Fields {
    std::size_t count = 0;  // all of them
    std::string_view first[3];
    // The line is nothing but its fields joined by single ':'.
    bool joinedBySingleColons = false;
  };
  static Fields SplitFields(std::string_view line);

  // --- The user operations (user_operations.cc) ---
  // Each empties `message`, leaves exactly one outcome text in it and
  // returns whether the operation succeeded. Add and remove save the list
  // to `path` after a change; a failed save replaces the message with
  // " Access Denied : Unable to update password file." and returns false.
  // An add with `replace` of the password the user has is no change: it
  // succeeds as an update and saves nothing.

  // The outcome text of a change that could not be saved.
  static constexpr std::string_view kSaveFailed =
      " Access Denied : Unable to update password file.";

  bool AddUser(const std::string& userName, const std::string& password, bool replace,
               std::string& message);
  bool RemoveUser(const std::string& userName, std::string& message);
  bool CheckUser(const std::string& userName, const std::string& password, std::string& message);

  // The two changes of an add, for those who make many at once: the
  // digest of `record` for a new password, which keeps its salt and place
  // (a record that cannot be read back stays, and the list does not save);
  // a new record at the end.
  void SetPassword(Records::iterator record, std::string_view password);
  void AppendUser(std::string_view userName, std::string_view salt, std::string_view password);

  // The password digest of user name + salt + password; reads no member.
  static std::string ComputeDigest(std::string_view userName, std::string_view salt,
                                   std::string_view password);

 private:
  // Opens the file at `filePath` for `purpose` unless it is held already.
  bool Reach(const std::string& filePath, safe_file::HeldFile::Purpose purpose);
  // `offset`: where the line stands in the held file; kNoPlace when it is
  // not to be kept there.
  bool AddLine(std::string_view line, std::uint64_t offset);
  // The line of `record`, one in the file, as the held file has it now, its
  // line end included; empty, and the list no longer intact, when that is
  // not a line of the usual form.
  std::string_view LineAt(const UserRecord& record) const;

  static constexpr std::uint64_t kNoPlace = ~std::uint64_t{0};

  safe_file::HeldFile file_;
  Keeping keeping_;
  std::string lockedPath_;  // what Lock was given
  platform::FileInfo loadedFile_;
  std::uint64_t invalidLine_ = 0;
  bool placed_ = false;  // some record's line is in the file
  // The bytes of the file from windowStart_ on, as LineAt read them last.
  mutable std::string window_;
  mutable std::uint64_t windowStart_ = 0;
  mutable bool lost_ = false;
};

// Inline, as the load splits every line with it.
inline UserList::Fields UserList::SplitFields(std::string_view line) {
  Fields fields;
  // An empty view may hold a null pointer, which memchr must not get.
  if (line.empty()) return fields;
  bool emptyGap = false;  // between two ':', or between one and an end
  const char* start = line.data();
  const char* const end = start + line.size();
  for (;;) {
    const void* found = std::memchr(start, ':', static_cast<std::size_t>(end - start));
    const char* stop = found != nullptr ? static_cast<const char*>(found) : end;
    if (stop == start) {
      emptyGap = true;
    } else {
      if (fields.count < 3)
        fields.first[fields.count] = {start, static_cast<std::size_t>(stop - start)};
      ++fields.count;
    }
    if (stop == end) break;
    start = stop + 1;
  }
  fields.joinedBySingleColons = fields.count > 0 && !emptyGap;
  return fields;
}

#endif  // USERS_STORE_USER_LIST_H_
