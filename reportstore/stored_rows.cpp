// The groups are hashed once; each stored row that holds key texts is
// hashed as it is read and compared with the groups of its hash. Texts are
// read without a copy.
#include "reportstore/stored_rows.h"

#include <cmath>
#include <limits>
#include <optional>

#include "absl/container/flat_hash_map.h"
#include "platform/automation/error_state.h"

namespace velnor {
namespace {

using automation::Variant;
using automation::VarType;

// The bucket of the current row of `rows` (column 4), or none when it can
// equal no bucket.
std::optional<int32_t> StoredBucket(const ado::Command& rows,
                                    const StoredKeyEquality& equality) {
  if (!equality.bucket_names.empty()) {
    const std::string_view name = rows.BorrowedText(4);
    for (size_t i = 0; i < equality.bucket_names.size(); ++i) {
      if (key_match::SameText(name, equality.bucket_names[i],
                              equality.bucket_caseless)) {
        return static_cast<int32_t>(i + 1);
      }
    }
    return std::nullopt;
  }
  const Variant bucket = rows.Value(4);
  if (bucket.Type() == VarType::kLong) return automation::CLng(bucket);
  // A number compares by its value: 10.0 is hour 10.
  if (bucket.Type() == VarType::kDouble) {
    const double value = automation::CDbl(bucket);
    if (value == std::trunc(value) && std::abs(value) < 1e9) {
      return static_cast<int32_t>(value);
    }
  }
  return std::nullopt;
}

}  // namespace

std::vector<StoredRow> MatchStoredRows(ado::Command& rows,
                                       const std::vector<RunTally::Key>& groups,
                                       const StoredKeyEquality& equality) {
  const key_match::Caseless& caseless = equality.caseless;
  // The first group of each hash, and after each group the next of its
  // hash (kNone ends the chain): groups of one hash are as rare as a
  // collision of 64-bit hashes.
  constexpr size_t kNone = std::numeric_limits<size_t>::max();
  absl::flat_hash_map<uint64_t, size_t> first_of_hash;
  first_of_hash.reserve(groups.size());
  std::vector<size_t> next(groups.size(), kNone);
  for (size_t seq = groups.size(); seq-- > 0;) {
    const RunTally::Key& key = groups[seq];
    auto [found, added] = first_of_hash.try_emplace(
        key_match::KeyHash(key.identifier, key.url, key.bucket, caseless), seq);
    if (!added) {
      next[seq] = found->second;
      found->second = seq;
    }
  }
  std::vector<StoredRow> matched;
  for (rows.Execute(); !rows.Eof(); rows.MoveNext()) {
    const std::optional<int32_t> bucket = StoredBucket(rows, equality);
    if (!bucket) continue;
    const std::string_view identifier = rows.BorrowedText(2);
    const std::string_view url = rows.BorrowedText(3);
    auto found = first_of_hash.find(
        key_match::KeyHash(identifier, url, *bucket, caseless));
    if (found == first_of_hash.end()) continue;
    for (size_t seq = found->second; seq != kNone; seq = next[seq]) {
      const RunTally::Key& key = groups[seq];
      if (key.bucket != *bucket ||
          !key_match::SameText(key.identifier, identifier, caseless[0]) ||
          !key_match::SameText(key.url, url, caseless[1])) {
        continue;
      }
      const Variant count = rows.Value(1);
      // Counting in memory was chosen because every stored count is a
      // positive 32-bit number (CanCountInMemory), and it keeps them so.
      if (count.Type() != VarType::kLong) {
        automation::Raise(automation::kErrTypeMismatch);
      }
      matched.push_back(
          {seq, automation::CLngLng(rows.Value(0)), automation::CLng(count)});
    }
  }
  rows.Close();
  return matched;
}

}  // namespace velnor
