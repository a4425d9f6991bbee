// What a save does alike on every system.

#include "platform/platform.h"

namespace platform {

bool FileReplacement::Write(std::string_view bytes) {
  if (failed_ || (!inPlace_ && handle_ == kNoFile)) return false;
  if (inPlace_) {
    // Written over the old content only once it is whole, at Commit.
    content_.append(bytes);
    return true;
  }
  if (!WriteAt(bytes, written_)) {
    failed_ = true;
    return false;
  }
  written_ += bytes.size();
  return true;
}

}  // namespace platform
