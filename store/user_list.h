#ifndef USERS_STORE_USER_LIST_H_
#define USERS_STORE_USER_LIST_H_

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <functional>
#include <list>
#include <memory>
#include <string>
#include <string_view>

#include "platform/system.h"
#include "safe_file/held_file.h"
#include "store/file_snapshot.h"
#include "store/record_arena.h"
#include "store/user_record.h"

// The password file held in memory: its records in file order and the path
// it was loaded from. Records are found by the first exactly equal name.
// The records and their strings come from the list's own arena, a base so
// that it is there before `records` is made and until it is gone: a list may
// allocate even while it is empty.
//
// A load reads the file once, whole, into a snapshot that the list owns,
// and the records of its lines refer to their bytes there. Nothing is read
// from the file after the load, so every view that the list hands out stays
// valid, and unchanged, for the life of the list, and its const calls read
// only memory: many threads may make them at once.
class UserList : private RecordArena {
 public:
  using Records = std::list<UserRecord, RecordArena::Allocator<UserRecord>>;
  // The input of ReadRecords.
  using ReadFunction = FileSnapshot::ReadFunction;
  // Takes the next bytes of the output; false on a write error.
  using WriteFunction = std::function<bool(std::string_view bytes)>;

  std::string path;
  Records records{Records::allocator_type(this)};

  // `system` reaches the password file; tests give one that fails calls.
  explicit UserList(platform::System& system = platform::NativeSystem()) : file_(system) {}
  UserList(const UserList&) = delete;
  UserList& operator=(const UserList&) = delete;

  // Returns the first record whose user name equals `userName` byte for
  // byte, or records.end().
  Records::iterator Find(std::string_view userName);

  // The fields of `record`, one of `records`, as views valid for the life
  // of the list, whatever is loaded, changed or erased meanwhile.
  RecordFields FieldsOf(const UserRecord& record) const;

  // --- The password file (password_file.cc) ---

  // Opens the file at `filePath` for a change and holds it, and the turn of
  // the runs that change it, until Save or the list's end: Load then reads
  // that one file and Save writes it, whoever renames what meanwhile.
  // Returns false only when another run held the turn for all of the wait;
  // a file that cannot be opened is left to Load to report.
  bool Lock(const std::string& filePath);

  // Stores `filePath` in `path` first, whatever follows. On success returns
  // true and `records` holds the file's records in order. Returns false when
  // the file cannot be opened (records unchanged), cannot be read, changed
  // while it was read, or holds a line of 1, 2 or more than 3 fields
  // (records read before it are kept). Only a regular file is read, and no
  // further than the size it had when opened. The file is let go at once,
  // unless Lock holds it for a change.
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
  // untouched, when it cannot be written, is missing, its name no longer
  // holds the file that was held, or it is the file loaded but no longer
  // as it was loaded.
  bool Save(const std::string& filePath);

  // Empties `records` and appends one record per line of 3 fields; lines of
  // no field are skipped. Returns true at the end of input, false at an
  // invalid line or a read error. The input is read whole into a snapshot,
  // as Load reads the file; `sizeHint`, its expected size, only sizes it at
  // first.
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
  // digest of `record` for a new password, which keeps its salt and place;
  // a new record at the end.
  void SetPassword(Records::iterator record, std::string_view password);
  void AppendUser(std::string_view userName, std::string_view salt, std::string_view password);

  // The password digest of user name + salt + password; reads no member.
  static std::string ComputeDigest(std::string_view userName, std::string_view salt,
                                   std::string_view password);

 private:
  // Opens the file at `filePath` for `purpose` unless it is held already.
  bool Reach(const std::string& filePath, safe_file::HeldFile::Purpose purpose);
  // Empties `records` and gives a new snapshot for them, the current one.
  FileSnapshot& NewSnapshot();
  // Reads the current snapshot from `read`, as FileSnapshot::Read does,
  // and appends the records of its lines as they come; false at a read
  // error or an invalid line.
  bool ReadSnapshot(FileSnapshot& snapshot, const ReadFunction& read, std::size_t sizeHint,
                    std::size_t limit);
  // Adds the record of a line without its line end, split into `fields`;
  // `offset`: where the line stands in the snapshot.
  bool AddRecord(std::string_view line, std::uint64_t offset, const Fields& fields);
  // Notes the line that starts at `begin` in `bytes` as the invalid one;
  // false.
  bool Refused(std::string_view bytes, std::size_t begin);
  // "name:salt:digest" of `record`, without its line end.
  std::string_view TextOf(const UserRecord& record) const;

  safe_file::HeldFile file_;
  std::string lockedPath_;  // what Lock was given
  platform::FileInfo loadedFile_;
  std::uint64_t invalidLine_ = 0;
  // The snapshots of every load, the current one last: the views into an
  // earlier one stay valid while the list lives, as the arena's do.
  std::list<FileSnapshot> snapshots_;
  std::string_view snapshot_;  // the current one's bytes
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
