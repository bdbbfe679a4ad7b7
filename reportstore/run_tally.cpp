// Counting costs one hash look-up of the URL per record (the site is
// nearly always the one before) and a few array increments; a key's first
// count also appends to its report's first-seen list.
//
// A log's URL counters do not stay in the cache while its text streams
// through it, so each record's counters are a wait on memory. The look-up
// itself reads only the index's slots and the packed texts, which do stay;
// the counters it finds are asked for then and written by the next call,
// after the reader has parsed the next line: their fetch overlaps the
// parsing instead of stalling the record loop.
#include "reportstore/run_tally.h"

#include <algorithm>

namespace velnor {
namespace {

// What one new URL entry costs beyond its text: the counters, the index's
// slot and the entry's place in its deque.
constexpr size_t kUrlEntryBytes = 544;
constexpr size_t kFirstSeenBytes = 32;
// The texts' block size; a text longer than a quarter of it gets a block
// of its own, so that a block wastes at most that quarter.
constexpr size_t kTextBlock = 16384;

// Asks for every cache line of `object` without waiting for them.
template <typename T>
void PrefetchForWrite(const T& object) {
  constexpr size_t kLine = 64;
  const auto* bytes = reinterpret_cast<const char*>(&object);
  for (size_t at = 0; at < sizeof(T); at += kLine) {
    __builtin_prefetch(bytes + at, 1);
  }
  __builtin_prefetch(bytes + sizeof(T) - 1, 1);
}

}  // namespace

std::string_view RunTally::TextArena::Store(std::string_view text) {
  // A byte more than the text, so that every text, an empty one too, has
  // an address of its own: the writes tell URLs apart by their data.
  const size_t bytes = text.size() + 1;
  char* start = nullptr;
  if (bytes > kTextBlock / 4) {
    start = blocks_.emplace_back(std::make_unique_for_overwrite<char[]>(bytes))
                .get();
  } else {
    if (bytes > left_) {
      free_ =
          blocks_
              .emplace_back(std::make_unique_for_overwrite<char[]>(kTextBlock))
              .get();
      left_ = kTextBlock;
    }
    start = free_;
    free_ += bytes;
    left_ -= bytes;
  }
  std::copy(text.begin(), text.end(), start);
  return {start, text.size()};
}

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

RunTally::UrlEntry& RunTally::EntryOf(Site& site, std::string_view url) {
  auto found = site.urls.find(url);
  if (found != site.urls.end()) return *found->second;
  UrlEntry& entry = site.entries.emplace_back();
  entry.url = site.texts.Store(url);
  site.urls.emplace(entry.url, &entry);
  memory_ += kUrlEntryBytes + url.size();
  return entry;
}

void RunTally::Note(TallyKind kind, const UrlEntry& url, int32_t bucket) {
  first_seen_[static_cast<size_t>(kind)].push_back(
      {site_, &url, bucket, name_});
  memory_ += kFirstSeenBytes;
}

void RunTally::Count(std::string_view site_name, std::string_view identifier,
                     std::string_view url, int32_t weekday, int32_t month,
                     int32_t hour, int32_t status,
                     const std::array<bool, 4>& kinds) {
  // Before site_ and name_ move on: the pending record is counted under
  // them.
  Settle();
  Site& site = SiteOf(identifier);
  NameOf(site_name);
  UrlEntry& entry = EntryOf(site, url);
  const UrlCounts& counts = entry.counts;
  if (kinds[0]) PrefetchForWrite(counts.weekdays[weekday - 1]);
  if (kinds[1]) PrefetchForWrite(counts.months[month - 1]);
  if (kinds[2]) PrefetchForWrite(counts.hours[hour]);
  if (kinds[3]) PrefetchForWrite(counts.statuses);
  pending_ = {&entry, weekday, month, hour, status, kinds};
}

void RunTally::Settle() {
  if (pending_.entry == nullptr) return;
  const Pending record = pending_;
  pending_.entry = nullptr;
  Increment(*record.entry, record.weekday, record.month, record.hour,
            record.status, record.kinds);
}

void RunTally::Increment(UrlEntry& entry, int32_t weekday, int32_t month,
                         int32_t hour, int32_t status,
                         const std::array<bool, 4>& kinds) {
  UrlCounts& counts = entry.counts;
  if (kinds[0] && counts.weekdays[weekday - 1]++ == 0) {
    Note(TallyKind::kDayOfWeek, entry, weekday);
  }
  if (kinds[1] && counts.months[month - 1]++ == 0) {
    Note(TallyKind::kMonth, entry, month);
  }
  if (kinds[2] && counts.hours[hour]++ == 0) {
    Note(TallyKind::kHour, entry, hour);
  }
  if (kinds[3]) {
    auto& statuses = counts.statuses;
    auto code =
        std::find_if(statuses.begin(), statuses.end(),
                     [status](const auto& s) { return s.first == status; });
    if (code == statuses.end()) {
      statuses.emplace_back(status, 1);
      memory_ += 16;
      Note(TallyKind::kStatus, entry, status);
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
      for (const UrlEntry& entry : site.entries) {
        memory_ += kUrlEntryBytes + entry.url.size() +
                   16 * entry.counts.statuses.size();
      }
      taken.insert(&site);
      sites_.insert(part.sites_.extract(it));
    }
    it = next;
  }
  return taken;
}

void RunTally::Add(RunTally& part) {
  Settle();
  part.Settle();
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
      UrlEntry& entry = EntryOf(site, seen.url->url);
      const auto tally_kind = static_cast<TallyKind>(kind);
      uint64_t& hits = CounterOf(tally_kind, entry.counts, seen.bucket);
      if (hits == 0) Note(tally_kind, entry, seen.bucket);
      hits += part.HitsOf(tally_kind, seen);
    }
  }
  part.Clear();
}

uint64_t RunTally::HitsOf(TallyKind kind, const FirstSeen& seen) const {
  const UrlCounts& counts = seen.url->counts;
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
    visit({names_[seen.name], seen.site->identifier, seen.url->url, seen.bucket,
           HitsOf(kind, seen)});
  }
}

void RunTally::ForEachText(
    const std::function<void(std::string_view, std::string_view)>& visit)
    const {
  for (const auto& [identifier, site] : sites_) {
    for (const UrlEntry& entry : site->entries) {
      visit(site->identifier, entry.url);
    }
  }
}

void RunTally::ForEachSite(
    const std::function<void(std::string_view)>& visit) const {
  for (const auto& [identifier, site] : sites_) visit(site->identifier);
}

void RunTally::Clear() {
  pending_ = {};
  sites_.clear();
  names_.clear();
  for (auto& seen : first_seen_) seen.clear();
  site_ = nullptr;
  name_ = 0;
  memory_ = 0;
}

}  // namespace velnor
