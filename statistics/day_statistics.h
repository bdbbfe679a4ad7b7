// The statistics a run keeps beside the hit counts, per site and day: hits
// by status class, bytes sent and received, distinct client addresses
// (visitors), the time taken by requests, FTP sessions, and per URL the
// 404s, server errors and time taken, all exact.
//
// Everything is kept so that two parts of a day (two runs, or two workers
// of one run) combine exactly: the addresses (visitor_set.h) and sessions
// as sets, the time taken as a histogram of its milliseconds (an integer
// in the log, so the histogram is exact and holds as many entries as
// distinct values).
//
// A field feeds a day only through the records that hold a value for it.
// A day none of whose records holds the field (a log without sc-bytes, or
// "-" throughout) has no figure for it, never zero; a day some of whose
// files carry the field and some not has the figure of the records that
// hold it, with their number beside it (`hits` of each figure), so that a
// reader sees which part of the day's hits it covers.
#ifndef VELNOR_STATISTICS_DAY_STATISTICS_H_
#define VELNOR_STATISTICS_DAY_STATISTICS_H_

#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_set>
#include <utility>
#include <vector>

#include "absl/container/btree_map.h"
#include "absl/container/flat_hash_map.h"
#include "platform/automation/text_hash.h"
#include "platform/iislog/w3c_format.h"
#include "statistics/url_pool.h"
#include "statistics/visitor_set.h"

namespace velnor::statistics {

// Days are OLE dates without their time, as the ledger's.
using Day = int32_t;

using TextSet =
    std::unordered_set<std::string, automation::TextHash, std::equal_to<>>;

// A sum over the records that hold a value for its field.
struct Sum {
  int64_t total = 0;
  int64_t hits = 0;  // records that held a value; 0: the field is absent
};

// What one URL of a day drew.
struct UrlFigures {
  int64_t not_found = 0;      // hits with status 404
  int64_t server_errors = 0;  // hits with a 5xx status
  int64_t time_taken_ms = 0;  // over its hits that logged the time taken
};
// URL texts to their figures, as read back from the store.
using UrlMap = absl::flat_hash_map<std::string, UrlFigures,
                                   automation::TextHash, std::equal_to<>>;
// A day's URLs, by their id in the run's pool. Flat: looked up for most
// records, and nothing points into it.
using DayUrls = absl::flat_hash_map<UrlPool::Id, UrlFigures>;

// The hits per time taken in ms of a day: a count per value below kDense
// ms, where nearly every request falls, and a sorted map of the slower
// ones. It allocates only when it grows: the counts up to the largest
// value seen, the map for a value it has not seen.
class TimeHistogram {
 public:
  // Adds `hits` hits that took `ms` (at least 0) each.
  void Add(int64_t ms, int64_t hits = 1) {
    if (ms < kDense) {
      const auto index = static_cast<size_t>(ms);
      if (index >= dense_.size()) Grow(index);
      dense_[index] += hits;
    } else {
      sparse_[ms] += hits;
    }
  }
  // Adds what `other` holds.
  void Merge(const TimeHistogram& other);
  // Calls fn(ms, hits) for each value that has hits, smallest first.
  template <typename Fn>
  void ForEach(Fn fn) const {
    for (size_t ms = 0; ms < dense_.size(); ++ms) {
      if (dense_[ms] != 0) fn(static_cast<int64_t>(ms), dense_[ms]);
    }
    for (const auto& [ms, hits] : sparse_) fn(ms, hits);
  }

 private:
  static constexpr int64_t kDense = 4096;
  // Makes room for `index`, at least doubling, so that a day grows its
  // counts a few times only.
  void Grow(size_t index);

  std::vector<int64_t> dense_;
  absl::btree_map<int64_t, int64_t> sparse_;
};

// One site's day. Add is the per-record path: a few hash look-ups on the
// record's views, allocating only for a session or URL the day has not
// seen, or when a set grows.
struct DayStatistics {
  // Adds one counted record with status `status` (0: none logged), its URL
  // interned in `pool`. With `sessions`, the FTP session it belongs to is
  // looked for too.
  void Add(int32_t status, const iislog::RecordFields& fields, bool sessions,
           UrlPool& pool);
  // Adds what `other`, a later part of the same day, holds; the URL of
  // `other`'s id i is this day's pool's id ids[i].
  void Merge(const DayStatistics& other, const std::vector<UrlPool::Id>& ids);

  int64_t hits = 0;
  std::array<int64_t, 5> hits_by_class = {};  // 1xx .. 5xx
  Sum bytes_sent;
  Sum bytes_received;
  int64_t client_hits = 0;  // records that logged a client address
  VisitorSet visitors;
  int64_t session_hits = 0;  // records that named their FTP session
  TextSet sessions;
  Sum time_taken_ms;
  TimeHistogram time_taken_histogram;
  DayUrls urls;  // only URLs with a figure that is not zero
};

// The nearest-rank `percent` percentile of `histogram` (value to hits,
// `hits` in all, at least one): the smallest value that at least
// percent/100 of the hits do not exceed.
int64_t NearestRank(const std::map<int64_t, int64_t>& histogram, int64_t hits,
                    int percent);

// The session a record of an FTP log belongs to: its x-session, else the
// "[n]" the FTP servers before IIS 7.5 put before each command; nothing
// when the record names none.
std::optional<std::string_view> FtpSession(const iislog::RecordFields& fields);

// A run's statistics, per site and day.
class RunStatistics {
 public:
  using Key = std::pair<std::string, Day>;  // site identifier, day

  // `ftp`: the run reads FTP logs, whose sessions are counted.
  explicit RunStatistics(bool ftp) : ftp_(ftp) {}

  // Adds one counted record of site `site` on day `day`.
  void Add(std::string_view site, Day day, int32_t status,
           const iislog::RecordFields& fields);
  // Adds what `other` holds, as the part of the run that came after.
  void Merge(const RunStatistics& other);

  const std::map<Key, DayStatistics>& days() const { return days_; }
  // The texts of the days' URL ids.
  const UrlPool& urls() const { return urls_; }
  bool ftp() const { return ftp_; }

 private:
  bool ftp_;
  std::map<Key, DayStatistics> days_;
  UrlPool urls_;
  // The day of the record before, which the next one almost always shares.
  DayStatistics* last_ = nullptr;
  const Key* last_key_ = nullptr;
};

}  // namespace velnor::statistics

#endif  // VELNOR_STATISTICS_DAY_STATISTICS_H_
