// The run's URL texts, each held once.
#include "statistics/url_pool.h"

#include <algorithm>
#include <numeric>

namespace velnor::statistics {

UrlPool::Id UrlPool::Intern(std::string_view url) {
  auto found = ids_.find(url);
  if (found != ids_.end()) return found->second;
  const auto id = static_cast<Id>(texts_.size());
  texts_.emplace_back(url);
  ids_.emplace(texts_.back(), id);
  return id;
}

std::vector<uint32_t> UrlPool::Ranks() const {
  std::vector<Id> order(texts_.size());
  std::iota(order.begin(), order.end(), Id{0});
  std::sort(order.begin(), order.end(),
            [this](Id a, Id b) { return texts_[a] < texts_[b]; });
  std::vector<uint32_t> ranks(order.size());
  for (size_t rank = 0; rank < order.size(); ++rank) {
    ranks[order[rank]] = static_cast<uint32_t>(rank);
  }
  return ranks;
}

}  // namespace velnor::statistics
