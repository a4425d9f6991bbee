#ifndef USERS_FUZZ_SCRATCH_FILE_H_
#define USERS_FUZZ_SCRATCH_FILE_H_

#include <unistd.h>

#include <cstdlib>
#include <string>

// The path of a password file in a scratch directory of the fuzz target's
// own, gone when the process ends.
inline const std::string& ScratchFilePath() {
  struct Scratch {
    Scratch() {
      char made[] = "/tmp/users_fuzzer.XXXXXX";
      if (::mkdtemp(made) == nullptr) std::abort();
      directory = made;
      file = directory + "/users.dat";
    }
    ~Scratch() {
      ::unlink(file.c_str());
      ::rmdir(directory.c_str());
    }
    std::string directory, file;
  };
  static const Scratch scratch;
  return scratch.file;
}

#endif  // USERS_FUZZ_SCRATCH_FILE_H_
