// The process-wide calls on POSIX systems.

#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <unistd.h>
#ifdef __linux__
#include <sys/prctl.h>
#endif

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstring>

#include "platform/platform.h"

namespace platform {

const std::string_view kFileLineEnd = "\n";

void PrepareProcess() {
  ::signal(SIGPIPE, SIG_IGN);
  // Past the file-size limit a write then fails with EFBIG, which a save
  // reports, instead of killing the run halfway through it.
  ::signal(SIGXFSZ, SIG_IGN);
  // A standard stream that was closed by the caller would otherwise hand its
  // number to the next file opened, and output meant for the console could
  // end up in the password file.
  for (int fd = 0; fd <= 2; ++fd) {
    if (::fcntl(fd, F_GETFD) < 0 && errno == EBADF) {
      int null = ::open("/dev/null", O_RDWR | O_CLOEXEC);
      if (null >= 0 && null != fd) {
        ::dup2(null, fd);
        ::close(null);
      }
    }
  }
  // A core dump would hold the password; so would the memory of a process
  // that another one of the same user attaches to.
#ifdef __linux__
  ::prctl(PR_SET_DUMPABLE, 0, 0, 0, 0);
#endif
  rlimit noCore{0, 0};
  ::setrlimit(RLIMIT_CORE, &noCore);
}

void Wipe(void* data, std::size_t size) {
#ifdef __GLIBC__
  ::explicit_bzero(data, size);
#else
  volatile unsigned char* bytes = static_cast<volatile unsigned char*>(data);
  for (std::size_t i = 0; i < size; ++i) bytes[i] = 0;
#endif
}

void HideArgument(int argc, char** argv, int index) {
  if (argv == nullptr || index <= 0 || index >= argc || argv[index] == nullptr) return;
  // The process list reads the argument area itself; zeros leave the
  // argument there, empty.
  Wipe(argv[index], std::strlen(argv[index]));
}

void* AllocatePages(std::size_t size, std::size_t alignment) {
  // A mapping one alignment larger, of which the unaligned ends go back.
  if (size == 0 || size > SIZE_MAX - alignment) return nullptr;
  void* mapped =
      ::mmap(nullptr, size + alignment, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (mapped == MAP_FAILED) return nullptr;
  const auto start = reinterpret_cast<std::uintptr_t>(mapped);
  const std::uintptr_t aligned = (start + alignment - 1) & ~(std::uintptr_t{alignment} - 1);
  if (aligned > start) ::munmap(mapped, aligned - start);
  if (const std::size_t after = start + alignment - aligned; after > 0) {
    ::munmap(reinterpret_cast<void*>(aligned + size), after);
  }
  void* memory = reinterpret_cast<void*>(aligned);
#ifdef MADV_HUGEPAGE
  ::madvise(memory, size, MADV_HUGEPAGE);
#endif
  return memory;
}

void FreePages(void* address, std::size_t size) { ::munmap(address, size); }

}  // namespace platform
