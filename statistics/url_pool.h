// The URLs of a run's statistics, each text held once. A day refers to its
// URLs by id, so that a URL drawn on every day of a year-long window costs
// one copy of its text and a small figure per day, not a string per day:
// the figures of a long first collection would otherwise grow with days
// times URLs.
#ifndef VELNOR_STATISTICS_URL_POOL_H_
#define VELNOR_STATISTICS_URL_POOL_H_

#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "absl/container/flat_hash_map.h"
#include "platform/automation/text_hash.h"

namespace velnor::statistics {

class UrlPool {
 public:
  // Ids are dense: the first text interned is 0, the next 1, ...
  using Id = uint32_t;

  UrlPool() = default;
  // The views in the index point into the texts, which a copy would not
  // carry along; a pool moves, but is never copied.
  UrlPool(const UrlPool&) = delete;
  UrlPool& operator=(const UrlPool&) = delete;
  UrlPool(UrlPool&&) = default;
  UrlPool& operator=(UrlPool&&) = default;

  // The id of `url`, which is added when the pool does not hold it yet.
  Id Intern(std::string_view url);
  // The text of `id`, an id this pool gave.
  std::string_view Text(Id id) const { return texts_[id]; }
  size_t size() const { return texts_.size(); }
  // Each id's place among the pool's texts in byte order (as std::string
  // compares them): the rank of id i is ranks[i].
  std::vector<uint32_t> Ranks() const;

 private:
  // A deque, so that the texts stay where they are as it grows and the
  // index's views remain valid.
  std::deque<std::string> texts_;
  absl::flat_hash_map<std::string_view, Id, automation::TextHash,
                      std::equal_to<>>
      ids_;
};

}  // namespace velnor::statistics

#endif  // VELNOR_STATISTICS_URL_POOL_H_
