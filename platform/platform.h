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

// Called first in main: a write to a closed pipe then fails quietly instead
// of ending the process, closed standard streams are opened on the null
// device so that no file opened later takes their place, and the process
// leaves no core dump and cannot be attached to (it holds a password).
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

// A file opened for reading only, shared with other processes.
class InputFile {
 public:
  InputFile() = default;
  InputFile(const InputFile&) = delete;
  InputFile& operator=(const InputFile&) = delete;
  ~InputFile();

  // On success, returns true and the file is open for Read.
  // On failure (missing, not readable), returns false.
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

// Replaces the content of a file as one step: the new content goes to a
// new file beside it, which is synced and then put in the old file's place,
// so that a reader or a crash sees either the old content or the new one,
// whole. A symbolic link keeps pointing where it did; the file it names is
// replaced.
class FileReplacement {
 public:
  FileReplacement() = default;
  FileReplacement(const FileReplacement&) = delete;
  FileReplacement& operator=(const FileReplacement&) = delete;
  // Removes the new file unless Commit succeeded.
  ~FileReplacement();

  // On success, returns true and Write may be called. On failure (the file
  // exists but cannot be opened for writing, its directory is missing, no
  // file can be made), returns false and nothing on disk has changed.
  bool Begin(const std::string& path);

  // Appends bytes to the new content. Returns false on a write error.
  bool Write(std::string_view bytes);

  // Makes the new content durable and puts it in place. On success the file
  // holds exactly what was written. On failure returns false and the old
  // file is as it was (except when no new file could be made beside it and
  // the file had to be rewritten where it lies).
  bool Commit();

 private:
  void Discard();

  std::string target_;     // the file that is replaced
  std::string temporary_;  // the new file beside it; empty when rewriting in place
  std::intptr_t handle_ = -1;
  bool inPlace_ = false;
  bool failed_ = false;
  unsigned long long written_ = 0;
};

// An exclusive lock on a file that serialises the runs that change it. It is
// released by the destructor, and by the system when the process dies.
class FileLock {
 public:
  FileLock() = default;
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;
  ~FileLock();

  // Waits until this process holds the lock on the file that `path` names
  // now. Returns false when the file cannot be opened (it is missing, for
  // instance); the caller then goes on without a lock.
  bool Acquire(const std::string& path);

  // Lets the next run in; does nothing when no lock is held.
  void Release();

 private:
  std::intptr_t handle_ = -1;
};

}  // namespace platform

#endif  // USERS_PLATFORM_PLATFORM_H_
