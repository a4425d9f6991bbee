#ifndef USERS_PLATFORM_TEMPORARY_NAME_H_
#define USERS_PLATFORM_TEMPORARY_NAME_H_

// How a save names the new file it writes beside the old one: "<stem>.tmp-"
// and six letters or digits that make it unique. The stem is the old file's
// name, so that what a killed run left is known by its name. Not part of the
// platform interface.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace platform {

// The length of the unique part.
constexpr std::size_t kUniqueLength = 6;

// The stem for the file named `name` where names hold at most `nameMax`
// bytes: the name itself, or for a name too long to leave room behind it,
// its start and a hash of the whole name.
std::string TemporaryStem(std::string_view name, std::size_t nameMax);

// "<stem>.tmp-" and the unique part made from `seed`.
std::string TemporaryName(std::string_view stem, std::uint64_t seed);

// Whether `candidate` is a name that TemporaryName gives for `stem`.
bool IsTemporaryName(std::string_view candidate, std::string_view stem);

}  // namespace platform

#endif  // USERS_PLATFORM_TEMPORARY_NAME_H_
