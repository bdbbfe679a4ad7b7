// The per-record path of the statistics. It runs once for every counted
// record, so it works on the record's views and allocates only for what
// the day has not seen yet.
#include "statistics/day_statistics.h"

#include <algorithm>

namespace velnor::statistics {
namespace {

using iislog::Field;

// A byte count or time in milliseconds: a decimal integer that is not
// negative. Anything else is not a value.
std::optional<int64_t> Amount(const iislog::RecordFields& fields, Field field) {
  const std::optional<std::string_view> text = fields.Text(field);
  if (!text) return std::nullopt;
  const std::optional<int64_t> number = iislog::ParseInteger(*text);
  if (!number || *number < 0) return std::nullopt;
  return number;
}

void AddTo(Sum& sum, std::optional<int64_t> value) {
  if (!value) return;
  sum.total += *value;
  ++sum.hits;
}

void Insert(TextSet& set, std::string_view text) {
  if (!set.contains(text)) set.emplace(text);
}

}  // namespace

void TimeHistogram::Merge(const TimeHistogram& other) {
  if (other.dense_.size() > dense_.size()) dense_.resize(other.dense_.size());
  for (size_t ms = 0; ms < other.dense_.size(); ++ms) {
    dense_[ms] += other.dense_[ms];
  }
  for (const auto& [ms, hits] : other.sparse_) sparse_[ms] += hits;
}

void TimeHistogram::Grow(size_t index) {
  dense_.resize(std::min(static_cast<size_t>(kDense),
                         std::max(index + 1, 2 * dense_.size())));
}

void DayStatistics::Add(int32_t status, const iislog::RecordFields& fields,
                        bool count_sessions, UrlPool& pool) {
  ++hits;
  const int32_t status_class = status / 100;
  if (status_class >= 1 && status_class <= 5) ++hits_by_class[status_class - 1];
  AddTo(bytes_sent, Amount(fields, Field::kBytesSent));
  AddTo(bytes_received, Amount(fields, Field::kBytesReceived));
  if (const auto client = fields.Text(Field::kClientIp)) {
    ++client_hits;
    visitors.Insert(*client);
  }
  if (count_sessions) {
    if (const auto session = FtpSession(fields)) {
      ++session_hits;
      Insert(sessions, *session);
    }
  }
  const std::optional<int64_t> time_taken = Amount(fields, Field::kTimeTaken);
  if (time_taken) {
    AddTo(time_taken_ms, time_taken);
    time_taken_histogram.Add(*time_taken);
  }
  const bool not_found = status == 404;
  const bool server_error = status_class == 5;
  if (!not_found && !server_error && time_taken.value_or(0) == 0) return;
  const std::optional<std::string_view> url = fields.Text(Field::kUriStem);
  if (!url) return;
  auto it = urls.try_emplace(pool.Intern(*url)).first;
  it->second.not_found += not_found ? 1 : 0;
  it->second.server_errors += server_error ? 1 : 0;
  it->second.time_taken_ms += time_taken.value_or(0);
}

void DayStatistics::Merge(const DayStatistics& other,
                          const std::vector<UrlPool::Id>& ids) {
  hits += other.hits;
  for (size_t i = 0; i < hits_by_class.size(); ++i) {
    hits_by_class[i] += other.hits_by_class[i];
  }
  for (auto [sum, add] : {std::pair{&bytes_sent, &other.bytes_sent},
                          std::pair{&bytes_received, &other.bytes_received},
                          std::pair{&time_taken_ms, &other.time_taken_ms}}) {
    sum->total += add->total;
    sum->hits += add->hits;
  }
  client_hits += other.client_hits;
  visitors.Merge(other.visitors);
  session_hits += other.session_hits;
  sessions.insert(other.sessions.begin(), other.sessions.end());
  time_taken_histogram.Merge(other.time_taken_histogram);
  for (const auto& [id, figures] : other.urls) {
    UrlFigures& mine = urls[ids[id]];
    mine.not_found += figures.not_found;
    mine.server_errors += figures.server_errors;
    mine.time_taken_ms += figures.time_taken_ms;
  }
}

int64_t NearestRank(const std::map<int64_t, int64_t>& histogram, int64_t hits,
                    int percent) {
  // The rank is ceil(percent * hits / 100), at least 1.
  const int64_t rank = std::max<int64_t>(1, (percent * hits + 99) / 100);
  int64_t seen = 0;
  for (const auto& [value, count] : histogram) {
    seen += count;
    if (seen >= rank) return value;
  }
  return histogram.empty() ? 0 : histogram.rbegin()->first;
}

std::optional<std::string_view> FtpSession(const iislog::RecordFields& fields) {
  if (fields.Carries(Field::kSession)) return fields.Text(Field::kSession);
  const std::optional<std::string_view> method = fields.Text(Field::kMethod);
  if (!method || method->size() < 3 || (*method)[0] != '[') {
    return std::nullopt;
  }
  const size_t close = method->find(']');
  if (close == std::string_view::npos || close == 1) return std::nullopt;
  for (size_t i = 1; i < close; ++i) {
    if ((*method)[i] < '0' || (*method)[i] > '9') return std::nullopt;
  }
  return method->substr(0, close + 1);
}

void RunStatistics::Add(std::string_view site, Day day, int32_t status,
                        const iislog::RecordFields& fields) {
  if (last_ == nullptr || last_key_->second != day ||
      last_key_->first != site) {
    auto it = days_.try_emplace(Key(std::string(site), day)).first;
    last_key_ = &it->first;
    last_ = &it->second;
  }
  last_->Add(status, fields, ftp_, urls_);
}

void RunStatistics::Merge(const RunStatistics& other) {
  std::vector<UrlPool::Id> ids(other.urls_.size());
  for (UrlPool::Id id = 0; id < ids.size(); ++id) {
    ids[id] = urls_.Intern(other.urls_.Text(id));
  }
  for (const auto& [key, day] : other.days_) days_[key].Merge(day, ids);
}

}  // namespace velnor::statistics
