#ifndef USERS_PLATFORM_PLATFORM_H_
#define USERS_PLATFORM_PLATFORM_H_

// Every call that the standard library cannot make lives behind this header;
// there is one implementation for POSIX systems and one for Windows. The
// rest of the program is plain standard C++.

#include <cstddef>
#include <string>
#include <string_view>

namespace platform {

// The line end that text files get on this platform ("\n" or "\r\n").
extern const std::string_view kFileLineEnd;

// How long a run waits for another run's hold on the password file (the
// lock of a changing run, or an in-place rewrite) before it gives up.
constexpr int kWaitSeconds = 30;

// Called first in main: a write to a closed pipe or past the file-size limit
// then fails instead of ending the process; closed standard streams are
// opened on the null device so that no file opened later takes their place;
// the process leaves no core dump and cannot be attached to (it holds a
// password); and an interrupt, hangup, termination or quit signal that ends
// the run during a save first removes the save's temporary file.
void PrepareProcess();

// Overwrites `size` bytes at `data` with zeros, in a way the compiler may not
// leave out although the bytes are never read again.
void Wipe(void* data, std::size_t size);

// Wipes the whole buffer of `bytes`, its spare capacity included, and
// leaves it empty. The buffer stays allocated.
inline void Wipe(std::string& bytes) {
  // Growing to the capacity never moves the buffer, and makes every byte of
  // it part of the string.
  bytes.resize(bytes.capacity());
  Wipe(bytes.data(), bytes.size());
  bytes.clear();
}

// Overwrites argument `index` of `argv`, the argument vector as main received
// it, so that the process list no longer shows it; the other arguments stay
// visible. On Windows the system's copies of the command line are
// overwritten too, as far as the process can reach them. Does nothing for an
// index of 0 or one past the vector.
void HideArgument(int argc, char** argv, int index);

// Asks the system to back [address, address + size) with large pages, which
// makes touching a big block far cheaper. A hint only; it may do nothing.
void AdviseLargePages(void* address, std::size_t size);

// A regular file opened for reading only, shared with other processes.
class InputFile {
 public:
  InputFile() = default;
  InputFile(const InputFile&) = delete;
  InputFile& operator=(const InputFile&) = delete;
  ~InputFile();

  // On success, returns true and the file is open for Read; while it is
  // open, no in-place rewrite by a FileReplacement can start, and Open waits
  // (up to kWaitSeconds) for one that runs to end. On failure (missing, not
  // readable, not a regular file once links are followed, or the wait ran
  // out), returns false.
  bool Open(const std::string& path);

  // The file's size in bytes when it was opened, or 0 when unknown.
  std::size_t SizeHint() const { return sizeHint_; }

  // Reads up to `capacity` bytes. Returns the count read, 0 at the end of
  // the file and -1 on a read error.
  std::ptrdiff_t Read(char* buffer, std::size_t capacity);

 private:
  std::intptr_t handle_ = -1;
  std::size_t sizeHint_ = 0;
};

// Replaces the content of a regular file so that a reader or a crash sees
// either the old content or the new one, whole. The new content goes to a
// new file beside it, which gets the old file's mode, owner, group, ACL and
// extended attributes, is synced and then renamed over the old file. Only
// where that is impossible (the directory refuses a new file, the rename is
// refused, or the new file cannot be given what the old one had) is the file
// rewritten where it lies: with room reserved first, signals held off, the
// old content written back if a write fails, and readers kept out. A
// symbolic link keeps pointing where it did; the file it names is replaced.
// Begin removes the new files that killed runs left beside the same file;
// a live save's new file is locked and stays.
class FileReplacement {
 public:
  FileReplacement() = default;
  FileReplacement(const FileReplacement&) = delete;
  FileReplacement& operator=(const FileReplacement&) = delete;
  // Removes the new file unless Commit succeeded.
  ~FileReplacement();

  // On success, returns true and Write may be called. On failure (the file
  // exists but cannot be opened for writing or is not a regular file, its
  // directory is missing, no new file can be made for another reason than
  // a refusal), returns false and nothing on disk has changed.
  bool Begin(const std::string& path);

  // Appends bytes to the new content. Returns false on a write error.
  bool Write(std::string_view bytes);

  // Makes the new content durable and puts it in place. On success the file
  // holds exactly what was written. On failure returns false and the file
  // holds its old content.
  bool Commit();

 private:
  // Writes to the new file at `offset`; false on a write error.
  bool WriteAt(std::string_view bytes, unsigned long long offset);
  bool CommitInPlace();
  void Discard();

  static constexpr std::intptr_t kNoFile = -1;

  std::string target_;     // the file that is replaced
  std::string temporary_;  // the new file beside it; empty when rewriting in place
  std::string content_;    // the new content, kept only when rewriting in place
  std::intptr_t handle_ = kNoFile;
  unsigned long long written_ = 0;
  bool inPlace_ = false;
  bool failed_ = false;
};

// An exclusive lock on a file that serialises the runs that change it. It is
// released by the destructor, and by the system when the process dies.
class FileLock {
 public:
  FileLock() = default;
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;
  ~FileLock();

  enum class Outcome {
    kHeld,  // this process holds the lock on the file `path` names now
    kNone,  // no lock can be had: the file is missing, or its file system
            // has no locks; the caller goes on without one
    kBusy,  // another process held it for all of kWaitSeconds
  };

  // Waits until this process holds the lock on the file that `path` names
  // now, at most kWaitSeconds. On kNone and kBusy no lock is held.
  Outcome Acquire(const std::string& path);

  // Lets the next run in; does nothing when no lock is held.
  void Release();

 private:
  std::intptr_t handle_ = -1;
};

}  // namespace platform

#endif  // USERS_PLATFORM_PLATFORM_H_
