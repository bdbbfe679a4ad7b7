// RunTally: the hits of a run counted in memory before they are written,
// one counter per key of each report table: (identifier, URL, weekday),
// (identifier, URL, month), (identifier, URL, hour) and (identifier, URL,
// status code). Keys are told apart by their exact bytes; whether two of
// them are one row (the databases compare text without regard to case) is
// left to the database when the counts are written.
//
// For each report it also keeps the order in which its keys were first
// counted and the site name of that first record: written in that order, new
// rows get the same positions and names as rows added record by record.
#ifndef VELNOR_REPORTSTORE_RUN_TALLY_H_
#define VELNOR_REPORTSTORE_RUN_TALLY_H_

#include <array>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_set>
#include <utility>
#include <vector>

#include "absl/container/flat_hash_map.h"
#include "absl/container/inlined_vector.h"
#include "absl/container/node_hash_map.h"
#include "platform/automation/text_hash.h"

namespace velnor {

// The four reports, in the order a record is counted into them.
enum class TallyKind { kDayOfWeek, kMonth, kHour, kStatus };

class RunTally {
 public:
  // One key of one report and its count.
  struct Key {
    std::string_view site_name;
    std::string_view identifier;
    std::string_view url;
    // Weekday 1-7 (Sunday first), month 1-12, hour 0-23 or status code.
    int32_t bucket = 0;
    uint64_t hits = 0;
  };

  // Counts one record into the reports whose flag in `kinds` is set.
  // `site_name` and `identifier` are usually those of the record before, so
  // they are compared before anything is looked up. The record's counters
  // are found now, and added to by the next Count or by Settle: their cache
  // lines arrive while the caller reads the next record, rather than
  // stalling this call.
  void Count(std::string_view site_name, std::string_view identifier,
             std::string_view url, int32_t weekday, int32_t month, int32_t hour,
             int32_t status, const std::array<bool, 4>& kinds);

  // Adds the counts of the record Count counted last. ForEachKey and
  // KeyCount see a record's keys and hits only after it; Add and Clear
  // settle themselves.
  void Settle();

  // Moves every count of `part` (counted into every report) here, as if its
  // records were counted now, and leaves `part` empty: its keys new here
  // come after the keys counted before, in the order `part` first counted
  // them, each with the site name it had there.
  void Add(RunTally& part);

  // Calls `visit` for each key of report `kind` in the order the keys were
  // first counted.
  void ForEachKey(TallyKind kind,
                  const std::function<void(const Key&)>& visit) const;

  // The number of keys of report `kind`.
  size_t KeyCount(TallyKind kind) const {
    return first_seen_[static_cast<size_t>(kind)].size();
  }

  // Calls `visit` once with the identifier and the URL of each site and URL
  // counted, as texts of the same data as ForEachKey's keys of them.
  void ForEachText(
      const std::function<void(std::string_view identifier,
                               std::string_view url)>& visit) const;

  // Calls `visit` once with the identifier of each site counted.
  void ForEachSite(
      const std::function<void(std::string_view identifier)>& visit) const;

  // An estimate of the memory the counts hold, in bytes.
  size_t MemoryUse() const { return memory_; }
  bool Empty() const { return sites_.empty(); }
  // Forgets every count.
  void Clear();

 private:
  // A URL's counters in one block, its status codes held in place for the
  // few a URL draws, so that the lines Count fetches are all there are. A
  // busy URL draws more than a handful (200, 304, 206, 302, 401, 403, 404,
  // 500): once they spill out of the block, each record of the URL waits on
  // memory the prefetch cannot name.
  struct UrlCounts {
    std::array<uint64_t, 7> weekdays{};
    std::array<uint64_t, 12> months{};
    std::array<uint64_t, 24> hours{};
    absl::InlinedVector<std::pair<int32_t, uint64_t>, 8> statuses;
  };
  struct UrlEntry {
    std::string_view url;  // into the site's texts
    UrlCounts counts;
  };
  // The URL texts of a site, packed into blocks in the order they were
  // first counted, so that the texts a look-up compares sit together in
  // the cache; the views into them stay valid while the site lives.
  class TextArena {
   public:
    std::string_view Store(std::string_view text);

   private:
    std::vector<std::unique_ptr<char[]>> blocks_;
    // The free bytes of the block being filled (a text of a block of its
    // own is never that block).
    char* free_ = nullptr;
    size_t left_ = 0;
  };
  // The index is flat (a view and a pointer per slot), so that finding a
  // URL reads the slots and the packed texts only; the entries live in a
  // deque, which never moves them, as the first-seen entries point to them.
  struct Site {
    std::string identifier;
    absl::flat_hash_map<std::string_view, UrlEntry*, automation::TextHash,
                        std::equal_to<>>
        urls;
    std::deque<UrlEntry> entries;
    TextArena texts;
  };
  // Where a key was first counted: its URL entry, the bucket, and the site
  // name of that record (an index into names_).
  struct FirstSeen {
    const Site* site;
    const UrlEntry* url;
    int32_t bucket;
    uint32_t name;
  };

  Site& SiteOf(std::string_view identifier);
  uint32_t NameOf(std::string_view site_name);
  // The entry of `url` in `site`, made (at no count) for a URL not counted
  // yet.
  UrlEntry& EntryOf(Site& site, std::string_view url);
  void Note(TallyKind kind, const UrlEntry& url, int32_t bucket);
  void Increment(UrlEntry& entry, int32_t weekday, int32_t month, int32_t hour,
                 int32_t status, const std::array<bool, 4>& kinds);
  uint64_t HitsOf(TallyKind kind, const FirstSeen& seen) const;
  // Takes over the sites of `part` this tally has no count of; returns
  // them.
  std::unordered_set<const Site*> TakeNewSites(RunTally& part);
  // The counter of `bucket` in report `kind`, made (at 0) for a status
  // code not counted yet.
  uint64_t& CounterOf(TallyKind kind, UrlCounts& counts, int32_t bucket);

  absl::node_hash_map<std::string, std::unique_ptr<Site>, automation::TextHash,
                      std::equal_to<>>
      sites_;
  std::vector<std::string> names_;
  std::array<std::vector<FirstSeen>, 4> first_seen_;
  // The record Count left for Settle (none: entry is null), counted under
  // site_ and name_.
  struct Pending {
    UrlEntry* entry = nullptr;
    int32_t weekday = 0;
    int32_t month = 0;
    int32_t hour = 0;
    int32_t status = 0;
    std::array<bool, 4> kinds{};
  };
  Pending pending_;
  // The site and name of the record before, so that a run of records of
  // one site costs no look-up of either.
  Site* site_ = nullptr;
  uint32_t name_ = 0;
  size_t memory_ = 0;
};

}  // namespace velnor

#endif  // VELNOR_REPORTSTORE_RUN_TALLY_H_
