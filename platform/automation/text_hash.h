// The hash of texts that the hash maps of counting and statistics are keyed
// by: one looked up by a view of a log line allocates nothing, and
// abseil's string hash is cheaper than std's.
#ifndef VELNOR_PLATFORM_AUTOMATION_TEXT_HASH_H_
#define VELNOR_PLATFORM_AUTOMATION_TEXT_HASH_H_

#include <cstddef>
#include <string_view>

#include "absl/hash/hash.h"
#include "absl/strings/string_view.h"

namespace velnor::automation {

// Hashes texts and views of them alike (a transparent hash), through
// abseil's own string_view, which is not std's in this abseil.
struct TextHash {
  using is_transparent = void;
  size_t operator()(std::string_view text) const {
    return absl::Hash<absl::string_view>{}(
        absl::string_view(text.data(), text.size()));
  }
};

}  // namespace velnor::automation

#endif  // VELNOR_PLATFORM_AUTOMATION_TEXT_HASH_H_
