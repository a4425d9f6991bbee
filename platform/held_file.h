#ifndef USERS_PLATFORM_HELD_FILE_H_
#define USERS_PLATFORM_HELD_FILE_H_

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/file_system.h"

namespace platform {

// The password file of one run, from before its load to after its save.
// Its path is resolved once, at Open; from then on the file is reached only
// through its open directory and its name there, and known by its identity.
// So the file that is locked is the file that is loaded and the one that a
// save replaces or rewrites, whoever renames what in the directory meanwhile.
class HeldFile {
 public:
  enum class Purpose {
    kRead,    // a shared lock on the content, which waits out an in-place rewrite
    kChange,  // the writers' turn, held until Close
  };
  enum class Outcome {
    kOpen,
    kUnavailable,  // missing, not a regular file, or not readable
    kBusy,         // another run held the turn, or the content, for kWaitSeconds
  };

  explicit HeldFile(FileSystem& files) : files_(files) {}
  HeldFile(const HeldFile&) = delete;
  HeldFile& operator=(const HeldFile&) = delete;
  ~HeldFile() { Close(); }

  // Opens the file that `path` names now. Only a regular file is opened,
  // and one that this user cannot write is opened for reading only: a
  // change of it then fails without writing anything.
  Outcome Open(const std::string& path, Purpose purpose);
  void Close();

  bool IsOpen() const { return handle_ != kNoHandle; }
  bool HeldForChange() const { return IsOpen() && purpose_ == Purpose::kChange; }
  const std::string& path() const { return path_; }

  // Reads the next bytes: the count, 0 at the end, -1 on a read error.
  std::ptrdiff_t Read(char* buffer, std::size_t capacity);
  // Makes the next Read start at the beginning.
  void Rewind() { readOffset_ = 0; }
  // The file's size when it was opened.
  std::size_t SizeHint() const { return static_cast<std::size_t>(info_.size); }

  // Whether the name still names the file that was opened.
  bool StillNamed() const;

  // For the save of the file.
  FileSystem& files() const { return files_; }
  Handle directory() const { return directory_; }
  const std::string& name() const { return name_; }
  Handle handle() const { return handle_; }
  const FileInfo& info() const { return info_; }
  bool writable() const { return writable_; }

 private:
  Outcome OpenNamed(Purpose purpose);
  // Closes the file and its turn; the directory stays open.
  void CloseFile();

  FileSystem& files_;
  std::string path_;
  Purpose purpose_ = Purpose::kRead;
  Handle directory_ = kNoHandle;
  std::string name_;
  Handle handle_ = kNoHandle;
  Handle turn_ = kNoHandle;
  FileInfo info_;
  bool writable_ = false;
  std::uint64_t readOffset_ = 0;
};

}  // namespace platform

#endif  // USERS_PLATFORM_HELD_FILE_H_
