#ifndef USERS_SAFE_FILE_FILE_REPLACEMENT_H_
#define USERS_SAFE_FILE_FILE_REPLACEMENT_H_

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/system.h"
#include "safe_file/held_file.h"

namespace safe_file {

// Replaces the content of a held file so that a reader, a crash or a power
// cut finds either the old content or the new one, whole. The new content
// goes to a new file beside it, which is given the old one's group, owner,
// extended attributes, ACL and mode, synced, and renamed over it. Where that
// cannot be (the file has a second name, the directory refuses a new file,
// the rename is refused, or the new file cannot have what the old one has),
// the file is rewritten where it lies: room reserved first, every signal
// held off, readers kept out, and the old content written back if a write
// fails. Begin removes the new files that killed runs left beside the same
// file. Nothing is written unless the name still holds the held file.
class FileReplacement {
 public:
  // `file` must be held for a change and outlive the replacement.
  explicit FileReplacement(HeldFile& file) : file_(file), system_(file.system()) {}
  FileReplacement(const FileReplacement&) = delete;
  FileReplacement& operator=(const FileReplacement&) = delete;
  // Removes the new file unless Commit succeeded.
  ~FileReplacement() { Discard(); }

  // On success, returns true and Write may be called. Returns false, with
  // nothing on disk changed, when the file may not be changed: this user
  // cannot write it, its name no longer holds it, or no new file can be
  // made for another reason than a refusal.
  bool Begin();

  // Appends bytes to the new content. Returns false on a write error.
  bool Write(std::string_view bytes);

  // Makes the new content durable and puts it in place. On success the file
  // holds exactly what was written; on failure, its old content (unless,
  // rewriting in place, writing the old content back failed as well).
  bool Commit();

 private:
  platform::Error MakeNewFile();
  void RemoveLeftovers(const std::string& stem);
  bool CommitInPlace();
  void Discard();

  HeldFile& file_;
  platform::System& system_;
  std::string temporary_;                          // the new file's name; empty when there is none
  platform::Handle handle_ = platform::kNoHandle;  // the new file
  std::string content_;        // the new content, kept only when rewriting in place
  std::uint64_t written_ = 0;  // to the new file
  bool inPlace_ = false;
  bool failed_ = false;
};

}  // namespace safe_file

#endif  // USERS_SAFE_FILE_FILE_REPLACEMENT_H_
