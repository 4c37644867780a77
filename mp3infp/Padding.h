// How much room a save leaves after a tag, the same for every container, so that a file's next
// save with somewhat longer values fits in place whichever format it is and however it was first
// tagged.
#pragma once

#include <algorithm>
#include <cstdint>

namespace mp3infp {

// The room after a tag that is written anew (the file had no room for it): a few values longer
// than today's fit at the next save without another rewrite.
constexpr uint64_t kFreshPadding = 4096;

// The most room a save keeps inside or right after a tag: a few KiB, up to a bounded share of
// the file. Room beyond it (another tagger's large reserve, a tag that shrank a lot) is not
// pulled into the tag, where it would make the tag's structure huge and slow to read; each
// container leaves the rest as room of its own kind apart from the tag (valid padding blocks, a
// top-level free box) or gives it back by writing the file anew.
constexpr uint64_t MostPadding(uint64_t fileSize) {
  return std::clamp<uint64_t>(fileSize / 32, 64 * 1024, 1024 * 1024);
}

}  // namespace mp3infp
