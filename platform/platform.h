#ifndef USERS_PLATFORM_PLATFORM_H_
#define USERS_PLATFORM_PLATFORM_H_

// Every call that the standard library cannot make lives in platform/:
// these for the process, the calls of system.h that the safe save
// (safe_file/) is made of, and the program's start (entry.h). There is one
// implementation for POSIX systems and one for Windows; the rest of the
// program is plain standard C++.

#include <cstddef>
#include <string>
#include <string_view>

namespace platform {

// The line end that text files get on this platform ("\n" or "\r\n").
extern const std::string_view kFileLineEnd;

// Called first in main: a write to a closed pipe or past the file-size limit
// then fails instead of ending the process; closed standard streams are
// opened on the null device so that no file opened later takes their place;
// and the process leaves no core dump and cannot be attached to (it holds a
// password). A signal that ends the run during a save first removes the
// save's new file, from the moment the save makes one (System::RemoveOnSignal).
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

// `size` bytes of fresh, zeroed memory straight from the system, backed by
// large pages where the system gives them, which makes touching a big block
// far cheaper, and then aligned to `alignment` (a power of two, the size of
// such a page); null when there is none. FreePages, with the same size,
// gives it all back at once: a process that loads and lets go of big blocks
// again and again keeps none of them, as blocks of the heap may be kept.
void* AllocatePages(std::size_t size, std::size_t alignment);
void FreePages(void* address, std::size_t size);

}  // namespace platform

#endif  // USERS_PLATFORM_PLATFORM_H_
