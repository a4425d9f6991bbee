#ifndef USERS_FUZZ_SCRATCH_FILE_H_
#define USERS_FUZZ_SCRATCH_FILE_H_

#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <string>
#include <string_view>

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

// An input of the form name, a zero byte, password, a zero byte, the file:
// its three parts, with the file written to ScratchFilePath(). False for an
// input without both zero bytes.
inline bool TakeInput(const std::uint8_t* data, std::size_t size, std::string* name,
                      std::string* password, std::string* content) {
  std::string_view input(reinterpret_cast<const char*>(data), size);
  std::size_t first = input.find('\0');
  std::size_t second = first == std::string_view::npos ? first : input.find('\0', first + 1);
  if (second == std::string_view::npos) return false;
  name->assign(input.substr(0, first));
  password->assign(input.substr(first + 1, second - first - 1));
  content->assign(input.substr(second + 1));
  std::ofstream(ScratchFilePath(), std::ios::binary | std::ios::trunc) << *content;
  return true;
}

#endif  // USERS_FUZZ_SCRATCH_FILE_H_
