// The ledger's rows gathered by site and day and by site and file. Only
// rows of committed runs exist (a run's rows are committed with its
// counts), so every row here stands for counts in the report databases.
#include "ledger/counted_days.h"

#include <zlib.h>

#include <algorithm>
#include <limits>
#include <span>

namespace velnor::ledger {
namespace {

std::string Folded(std::string text) {
  for (char& c : text) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return text;
}

void AddRun(std::vector<int64_t>& runs, int64_t run) {
  if (std::find(runs.begin(), runs.end(), run) == runs.end()) {
    runs.push_back(run);
  }
}

}  // namespace

std::vector<DaySpan> SpansOf(const std::vector<Day>& days) {
  std::vector<DaySpan> spans;
  for (Day day : days) {
    if (spans.empty() || spans.back().last + 1 != day) {
      spans.push_back({day, day, {}});
    } else {
      spans.back().last = day;
    }
  }
  return spans;
}

CountedDays::CountedDays(const LedgerContents& ledger) {
  for (const DayRow& row : ledger.days) {
    CountedDay& day = days_[row.site][row.day];
    day.complete = day.complete || row.complete;
    AddRun(day.runs, row.run_id);
    day.hits += row.hits;
    for (int i = 0; i < 4; ++i) day.hits_by_class[i] += row.hits_by_class[i];
  }
  for (auto& [site, days] : days_) {
    for (auto& [day, counted] : days) {
      counted.complete = counted.complete && counted.hits > 0;
    }
  }
  files_ = ledger.files;
  for (size_t i = 0; i < files_.size(); ++i) {
    const FileRow& row = files_[i];
    names_[{row.site, Folded(row.file_name)}].push_back(i);
    if (row.head_bytes > 0) {
      heads_[row.site][row.head_bytes].emplace(row.head_checksum, i);
    }
  }
  IndexLineEnds();
  for (const RunRow& run : ledger.runs) {
    if (run.mode == kLedgerStartMode) ledger_start_ = run;
    if (run.mode != "count" && run.mode != "recount") continue;
    size_t start = 0;
    while (start <= run.sites.size()) {
      size_t comma = run.sites.find(',', start);
      if (comma == std::string::npos) comma = run.sites.size();
      auto [first, made] = first_asked_.try_emplace(
          run.sites.substr(start, comma - start), run.first_day);
      if (!made) first->second = std::min(first->second, run.first_day);
      start = comma + 1;
    }
  }
}

std::optional<Day> CountedDays::FirstDayAskedFor(
    const std::string& site) const {
  auto found = first_asked_.find(site);
  if (found == first_asked_.end()) return std::nullopt;
  return found->second;
}

const std::map<Day, CountedDay>& CountedDays::DaysOf(
    const std::string& site) const {
  static const std::map<Day, CountedDay> kNone;
  auto found = days_.find(site);
  return found == days_.end() ? kNone : found->second;
}

std::vector<std::string> CountedDays::Sites() const {
  std::vector<std::string> sites;
  for (const auto& [site, days] : days_) sites.push_back(site);
  return sites;
}

std::optional<Day> CountedDays::LastCompleteDay(const std::string& site) const {
  const std::map<Day, CountedDay>& days = DaysOf(site);
  // NOLINTNEXTLINE(modernize-loop-convert): clang 14 cannot take reverse_view
  for (auto day = days.rbegin(); day != days.rend(); ++day) {
    if (day->second.complete) return day->first;
  }
  return std::nullopt;
}

std::vector<DaySpan> CountedDays::CompleteSpans(const std::string& site,
                                                Day first, Day last) const {
  const std::map<Day, CountedDay>& days = DaysOf(site);
  std::vector<Day> complete;
  for (auto day = days.lower_bound(first);
       day != days.end() && day->first <= last; ++day) {
    if (day->second.complete) complete.push_back(day->first);
  }
  std::vector<DaySpan> spans = SpansOf(complete);
  for (DaySpan& span : spans) {
    for (Day day = span.first; day <= span.last; ++day) {
      for (int64_t run : days.at(day).runs) AddRun(span.runs, run);
    }
    std::sort(span.runs.begin(), span.runs.end());
  }
  return spans;
}

// Each distinct list once: rows of the same head share theirs, and a row
// whose head is the start of a longer one's, ending at one of its line
// ends, uses the longer one's (its own line ends are that one's up to its
// length), as does a row that keeps none because another covered it.
void CountedDays::IndexLineEnds() {
  std::vector<int64_t> list_head_bytes;
  for (const FileRow& row : files_) {
    if (row.line_checksums.empty()) continue;
    auto [list, made] =
        list_of_head_.try_emplace({row.site, row.head_bytes, row.head_checksum},
                                  static_cast<uint32_t>(list_rows_.size()));
    if (!made) continue;
    list_rows_.emplace_back();
    list_head_bytes.push_back(row.head_bytes);
    auto& ends = line_ends_[row.site];
    for (const auto& [length, checksum] : row.line_checksums) {
      ends.emplace_back(length, checksum, list->second);
    }
  }
  for (auto& [site, ends] : line_ends_) std::sort(ends.begin(), ends.end());
  for (size_t i = 0; i < files_.size(); ++i) {
    FileRow& row = files_[i];
    std::optional<uint32_t> list;
    auto own =
        list_of_head_.find({row.site, row.head_bytes, row.head_checksum});
    if (own != list_of_head_.end()) list = own->second;
    for (const auto& [length, checksum, other] :
         EndsAt(row.site, row.head_bytes, row.head_checksum)) {
      if (!list || list_head_bytes[other] > list_head_bytes[*list]) {
        list = other;
      }
    }
    if (list) list_rows_[*list].push_back(static_cast<uint32_t>(i));
    // Indexed: the copy need not keep them too.
    row.line_checksums = {};
  }
  // The lists a longer one took the place of in every row.
  for (auto& [site, ends] : line_ends_) {
    std::erase_if(ends, [this](const auto& end) {
      return list_rows_[std::get<2>(end)].empty();
    });
  }
}

std::span<const std::tuple<uint32_t, uint32_t, uint32_t>> CountedDays::EndsAt(
    const std::string& site, int64_t length, uint32_t checksum) const {
  auto ends = line_ends_.find(site);
  if (ends == line_ends_.end() || length <= 0 ||
      length > std::numeric_limits<uint32_t>::max()) {
    return {};
  }
  const auto key = std::make_tuple(static_cast<uint32_t>(length), checksum);
  auto [begin, end] = std::equal_range(
      ends->second.begin(), ends->second.end(), key,
      [](const auto& a, const auto& b) {
        return std::make_tuple(std::get<0>(a), std::get<1>(a)) <
               std::make_tuple(std::get<0>(b), std::get<1>(b));
      });
  return {begin, end};
}

bool CountedDays::KeepsLineEndsOf(const std::string& site, int64_t head_bytes,
                                  uint32_t head_checksum) const {
  return list_of_head_.contains({site, head_bytes, head_checksum}) ||
         !EndsAt(site, head_bytes, head_checksum).empty();
}

std::vector<const FileRow*> CountedDays::RowsOfLog(
    const std::string& site, std::string_view head) const {
  std::vector<size_t> found;
  if (const auto start = RecordStart(head)) {
    for (const auto& [length, checksum, list] :
         EndsAt(site, start->first, start->second)) {
      // A head no longer than this one is the start of it or not, whole.
      for (uint32_t row : list_rows_[list]) {
        if (files_[row].head_bytes > std::ssize(head)) found.push_back(row);
      }
    }
  }
  // One pass over the head: the checksum of each recorded length grows
  // from the one before.
  static const std::map<int64_t, std::multimap<uint32_t, size_t>> kNone;
  auto lengths = heads_.find(site);
  uLong crc = crc32(0, nullptr, 0);
  size_t done = 0;
  for (const auto& [length, rows] :
       lengths == heads_.end() ? kNone : lengths->second) {
    if (static_cast<size_t>(length) > head.size()) break;
    crc = crc32(crc, reinterpret_cast<const Bytef*>(head.data() + done),
                static_cast<uInt>(length - done));
    done = static_cast<size_t>(length);
    auto [begin, end] = rows.equal_range(static_cast<uint32_t>(crc));
    for (auto row = begin; row != end; ++row) found.push_back(row->second);
  }
  std::sort(found.begin(), found.end());
  std::vector<const FileRow*> rows;
  for (size_t i : found) rows.push_back(&files_[i]);
  return rows;
}

std::vector<std::pair<Day, int64_t>> CountedDays::CountedParts(
    const std::string& site, const std::vector<const FileRow*>& rows, Day first,
    Day last) const {
  std::vector<std::pair<Day, int64_t>> parts;
  if (rows.empty()) return parts;
  const std::map<Day, CountedDay>& days = DaysOf(site);
  for (auto day = days.lower_bound(first);
       day != days.end() && day->first <= last; ++day) {
    if (day->second.complete) continue;
    // Each run of the day went on from where the one before it stopped,
    // so the part counted ends where the furthest of them stopped.
    int64_t offset = 0;
    for (const FileRow* row : rows) {
      if (std::find(day->second.runs.begin(), day->second.runs.end(),
                    row->run_id) != day->second.runs.end()) {
        offset = std::max(offset, row->end_offset);
      }
    }
    if (offset > 0) parts.emplace_back(day->first, offset);
  }
  return parts;
}

const FileRow* CountedDays::LatestFile(const std::string& site,
                                       const std::string& file_name) const {
  auto rows = names_.find({site, Folded(file_name)});
  return rows == names_.end() ? nullptr : &files_[rows->second.back()];
}

uint32_t HeadChecksum(std::string_view bytes) {
  return static_cast<uint32_t>(
      crc32(0, reinterpret_cast<const Bytef*>(bytes.data()),
            static_cast<uInt>(bytes.size())));
}

std::vector<std::pair<uint32_t, uint32_t>> LineChecksums(
    std::string_view head) {
  std::vector<std::pair<uint32_t, uint32_t>> checksums;
  if (head.size() > std::numeric_limits<uint32_t>::max()) return checksums;
  uLong crc = crc32(0, nullptr, 0);
  size_t done = 0;
  for (size_t end = head.find('\n'); end != std::string_view::npos;
       end = head.find('\n', end + 1)) {
    crc = crc32(crc, reinterpret_cast<const Bytef*>(head.data() + done),
                static_cast<uInt>(end + 1 - done));
    done = end + 1;
    checksums.emplace_back(static_cast<uint32_t>(done),
                           static_cast<uint32_t>(crc));
  }
  return checksums;
}

std::optional<std::pair<uint32_t, uint32_t>> RecordStart(
    std::string_view head) {
  const size_t end = head.rfind('\n');
  if (end == std::string_view::npos ||
      end >= std::numeric_limits<uint32_t>::max()) {
    return std::nullopt;
  }
  const std::string_view text = head.substr(0, end + 1);
  // Each line ends with a line end, the last one too.
  for (size_t line = 0; line < text.size(); line = text.find('\n', line) + 1) {
    const size_t first = text.find_first_not_of('\0', line);
    if (text[first] >= '0' && text[first] <= '9') {
      return std::make_pair(static_cast<uint32_t>(text.size()),
                            HeadChecksum(text));
    }
  }
  return std::nullopt;
}

}  // namespace velnor::ledger
