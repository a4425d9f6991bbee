#include "platform/temporary_name.h"

#include <cstdio>

namespace platform {

namespace {

constexpr std::string_view kMark = ".tmp-";
constexpr std::string_view kSymbols =
    "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
// "~" and eight hexadecimal digits.
constexpr std::size_t kHashLength = 9;

}  // namespace

std::string TemporaryStem(std::string_view name, std::size_t nameMax) {
  std::size_t room = nameMax - kMark.size() - kUniqueLength;
  if (name.size() <= room) return std::string(name);
  std::uint32_t hash = 2166136261u;
  for (char byte : name) hash = (hash ^ static_cast<unsigned char>(byte)) * 16777619u;
  char tail[kHashLength + 1];
  std::snprintf(tail, sizeof tail, "~%08x", static_cast<unsigned>(hash));
  return std::string(name.substr(0, room - kHashLength)) + tail;
}

std::string TemporaryName(std::string_view stem, std::uint64_t seed) {
  std::string name = std::string(stem) + std::string(kMark);
  for (std::size_t i = 0; i < kUniqueLength; ++i, seed /= kSymbols.size()) {
    name += kSymbols[seed % kSymbols.size()];
  }
  return name;
}

bool IsTemporaryName(std::string_view candidate, std::string_view stem) {
  if (candidate.size() != stem.size() + kMark.size() + kUniqueLength ||
      candidate.substr(0, stem.size()) != stem ||
      candidate.substr(stem.size(), kMark.size()) != kMark) {
    return false;
  }
  return candidate.substr(stem.size() + kMark.size()).find_first_not_of(kSymbols) ==
         std::string_view::npos;
}

}  // namespace platform
