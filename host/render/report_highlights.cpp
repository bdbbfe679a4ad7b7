// Finding and naming the busiest buckets.
#include "host/render/report_highlights.h"

#include <fmt/format.h>

namespace velnor::host {
namespace {

constexpr size_t kMostNamed = 4;

// Adds bucket `name` with `hits` to `busiest`: a larger count starts over,
// an equal one joins.
void Consider(Busiest& busiest, std::string name, int64_t hits) {
  if (hits <= 0 || hits < busiest.hits) return;
  if (hits > busiest.hits) {
    busiest.names.clear();
    busiest.hits = hits;
  }
  busiest.names.push_back(std::move(name));
}

}  // namespace

Busiest BusiestDays(const reportdb::SiteReport& site) {
  Busiest busiest;
  for (const reportdb::Bucket& day : site.weekdays) {
    Consider(busiest, day.label, day.hits);
  }
  return busiest;
}

Busiest BusiestHours(const reportdb::SiteReport& site) {
  Busiest busiest;
  for (size_t hour = 0; hour < site.hours.size(); ++hour) {
    Consider(busiest, fmt::format("{:02}:00", hour), site.hours[hour]);
  }
  return busiest;
}

std::string JoinNames(const std::vector<std::string>& names) {
  if (names.empty()) return "none";
  std::vector<std::string> shown = names;
  if (names.size() > kMostNamed) {
    shown.resize(kMostNamed - 1);
    shown.push_back(fmt::format("{} more", names.size() - shown.size()));
  }
  std::string text = shown.front();
  for (size_t i = 1; i < shown.size(); ++i) {
    text += (i + 1 == shown.size() ? " and " : ", ") + shown[i];
  }
  return text;
}

std::string DescribeBusiest(const Busiest& busiest) {
  if (busiest.names.empty()) return "none (no hits)";
  std::string hits =
      fmt::format("{} hit{}", busiest.hits, busiest.hits == 1 ? "" : "s");
  if (!busiest.tie()) return fmt::format("{} ({})", busiest.names[0], hits);
  return fmt::format("{} (a tie, {} each)", JoinNames(busiest.names), hits);
}

}  // namespace velnor::host
