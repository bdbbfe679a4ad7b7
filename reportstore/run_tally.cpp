// Counting costs one hash look-up of the URL per record (the site is
// nearly always the one before) and a few array increments; a key's first
// count also appends to its report's first-seen list.
#include "reportstore/run_tally.h"

#include <algorithm>

namespace velnor {
namespace {

// What one new URL entry costs beyond its text: the counters, the hash
// node and its bucket.
constexpr size_t kUrlEntryBytes = 480;
constexpr size_t kFirstSeenBytes = 32;

}  // namespace

RunTally::Site& RunTally::SiteOf(std::string_view identifier) {
  if (site_ && site_->identifier == identifier) return *site_;
  auto found = sites_.find(identifier);
  if (found == sites_.end()) {
    auto site = std::make_unique<Site>();
    site->identifier = identifier;
    found = sites_.emplace(site->identifier, std::move(site)).first;
    memory_ += kUrlEntryBytes + 2 * identifier.size();
  }
  site_ = found->second.get();
  return *site_;
}

uint32_t RunTally::NameOf(std::string_view site_name) {
  if (!names_.empty() && names_[name_] == site_name) return name_;
  auto found = std::find(names_.begin(), names_.end(), site_name);
  if (found == names_.end()) {
    names_.emplace_back(site_name);
    memory_ += site_name.size() + 32;
    found = names_.end() - 1;
  }
  name_ = static_cast<uint32_t>(found - names_.begin());
  return name_;
}

void RunTally::Note(TallyKind kind, const UrlMap::value_type& url,
                    int32_t bucket) {
  first_seen_[static_cast<size_t>(kind)].push_back(
      {site_, &url, bucket, name_});
  memory_ += kFirstSeenBytes;
}

void RunTally::Count(std::string_view site_name, std::string_view identifier,
                     std::string_view url, int32_t weekday, int32_t month,
                     int32_t hour, int32_t status,
                     const std::array<bool, 4>& kinds) {
  Site& site = SiteOf(identifier);
  NameOf(site_name);
  auto found = site.urls.find(url);
  if (found == site.urls.end()) {
    found = site.urls.emplace(std::string(url), UrlCounts{}).first;
    memory_ += kUrlEntryBytes + url.size();
  }
  UrlCounts& counts = found->second;
  if (kinds[0] && counts.weekdays[weekday - 1]++ == 0) {
    Note(TallyKind::kDayOfWeek, *found, weekday);
  }
  if (kinds[1] && counts.months[month - 1]++ == 0) {
    Note(TallyKind::kMonth, *found, month);
  }
  if (kinds[2] && counts.hours[hour]++ == 0) {
    Note(TallyKind::kHour, *found, hour);
  }
  if (kinds[3]) {
    auto& statuses = counts.statuses;
    auto code =
        std::find_if(statuses.begin(), statuses.end(),
                     [status](const auto& s) { return s.first == status; });
    if (code == statuses.end()) {
      statuses.emplace_back(status, 1);
      memory_ += 16;
      Note(TallyKind::kStatus, *found, status);
    } else {
      ++code->second;
    }
  }
}

uint64_t& RunTally::CounterOf(TallyKind kind, UrlCounts& counts,
                              int32_t bucket) {
  switch (kind) {
    case TallyKind::kDayOfWeek:
      return counts.weekdays[bucket - 1];
    case TallyKind::kMonth:
      return counts.months[bucket - 1];
    case TallyKind::kHour:
      return counts.hours[bucket];
    case TallyKind::kStatus:
      break;
  }
  for (auto& [code, hits] : counts.statuses) {
    if (code == bucket) return hits;
  }
  memory_ += 16;
  return counts.statuses.emplace_back(bucket, 0).second;
}

// A site new here is taken over whole: its keys are all new, so appending
// its first-seen entries in order is all that adding them one by one would
// do, and its URL entries (which the entries point to) stay where they are.
// That keeps the merge of a part, on the run's thread, from costing a look-up
// per key.
std::unordered_set<const RunTally::Site*> RunTally::TakeNewSites(
    RunTally& part) {
  std::unordered_set<const Site*> taken;
  for (auto it = part.sites_.begin(); it != part.sites_.end();) {
    auto next = std::next(it);
    if (!sites_.contains(it->first)) {
      const Site& site = *it->second;
      memory_ += kUrlEntryBytes + 2 * site.identifier.size();
      for (const auto& [url, counts] : site.urls) {
        memory_ += kUrlEntryBytes + url.size() + 16 * counts.statuses.size();
      }
      taken.insert(&site);
      sites_.insert(part.sites_.extract(it));
    }
    it = next;
  }
  return taken;
}

void RunTally::Add(RunTally& part) {
  const std::unordered_set<const Site*> taken = TakeNewSites(part);
  for (size_t kind = 0; kind < first_seen_.size(); ++kind) {
    for (const FirstSeen& seen : part.first_seen_[kind]) {
      if (taken.contains(seen.site)) {
        first_seen_[kind].push_back(
            {seen.site, seen.url, seen.bucket, NameOf(part.names_[seen.name])});
        memory_ += kFirstSeenBytes;
        continue;
      }
      Site& site = SiteOf(seen.site->identifier);
      NameOf(part.names_[seen.name]);
      auto found = site.urls.find(seen.url->first);
      if (found == site.urls.end()) {
        found = site.urls.emplace(seen.url->first, UrlCounts{}).first;
        memory_ += kUrlEntryBytes + seen.url->first.size();
      }
      const auto tally_kind = static_cast<TallyKind>(kind);
      uint64_t& hits = CounterOf(tally_kind, found->second, seen.bucket);
      if (hits == 0) Note(tally_kind, *found, seen.bucket);
      hits += part.HitsOf(tally_kind, seen);
    }
  }
  part.Clear();
}

uint64_t RunTally::HitsOf(TallyKind kind, const FirstSeen& seen) const {
  const UrlCounts& counts = seen.url->second;
  switch (kind) {
    case TallyKind::kDayOfWeek:
      return counts.weekdays[seen.bucket - 1];
    case TallyKind::kMonth:
      return counts.months[seen.bucket - 1];
    case TallyKind::kHour:
      return counts.hours[seen.bucket];
    case TallyKind::kStatus:
      for (const auto& [code, hits] : counts.statuses) {
        if (code == seen.bucket) return hits;
      }
  }
  return 0;
}

void RunTally::ForEachKey(TallyKind kind,
                          const std::function<void(const Key&)>& visit) const {
  for (const FirstSeen& seen : first_seen_[static_cast<size_t>(kind)]) {
    visit({names_[seen.name], seen.site->identifier, seen.url->first,
           seen.bucket, HitsOf(kind, seen)});
  }
}

void RunTally::ForEachText(
    const std::function<void(std::string_view, std::string_view)>& visit)
    const {
  for (const auto& [identifier, site] : sites_) {
    for (const auto& [url, counts] : site->urls) visit(site->identifier, url);
  }
}

void RunTally::ForEachSite(
    const std::function<void(std::string_view)>& visit) const {
  for (const auto& [identifier, site] : sites_) visit(site->identifier);
}

void RunTally::Clear() {
  sites_.clear();
  names_.clear();
  for (auto& seen : first_seen_) seen.clear();
  site_ = nullptr;
  name_ = 0;
  memory_ = 0;
}

}  // namespace velnor
