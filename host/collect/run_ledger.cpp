// The run's ledger. Counted records arrive at a million a second, so the
// tally of one keeps the site, day and file of the record before and looks
// them up only when one of them changes.
#include "host/collect/run_ledger.h"

#include <fmt/format.h>

#include <algorithm>
#include <cstdlib>
#include <limits>

#include "dbsupport/error_log.h"
#include "host/collect/collect_clock.h"
#include "host/collect/log_file_days.h"
#include "host/common/command_support.h"
#include "host/render/text_format.h"
#include "platform/automation/ole_date.h"
#include "platform/automation/text.h"
#include "platform/unc/unc.h"

namespace velnor::host {
namespace {

// "2024-06-11 10:00:01" for a record's OLE date-time.
std::string RecordTime(double time) {
  automation::DateParts parts = automation::PartsOf(time);
  return fmt::format("{:04}-{:02}-{:02} {:02}:{:02}:{:02}", parts.year,
                     parts.month, parts.day, parts.hour, parts.minute,
                     parts.second);
}

}  // namespace

RunLedger::RunLedger(const ledger::CountedDays& counted,
                     const std::vector<SiteFolder>& folders,
                     const std::vector<SiteWindow>& windows, bool recount,
                     std::time_t now)
    : counted_(counted),
      folders_(folders),
      windows_(windows),
      recount_(recount),
      now_(now),
      today_(LogDayOf(now)) {}

std::unique_ptr<RunLedger> RunLedger::MakePart() const {
  return std::make_unique<RunLedger>(counted_, folders_, windows_, recount_,
                                     now_);
}

void RunLedger::Merge(RunLedger& part) {
  for (auto& [name, site] : part.sites_) {
    SiteTally& into = SiteOf(name);
    into.unread_file |= site.unread_file;
    for (const auto& [day, tally] : site.days) {
      DayTally& day_into = into.days[day];
      day_into.hits += tally.hits;
      for (size_t i = 0; i < std::size(tally.hits_by_class); ++i) {
        day_into.hits_by_class[i] += tally.hits_by_class[i];
      }
    }
  }
  for (auto& [path, file] : part.files_) {
    auto [into, made] = files_.try_emplace(path, file);
    if (made) continue;
    // Read before under the same path: the later reading is the file's
    // state now, the records add up.
    FileTally& before = into->second;
    if (file.records > 0 &&
        (before.records == 0 || file.first_record < before.first_record)) {
      before.first_record = file.first_record;
    }
    before.last_record = std::max(before.last_record, file.last_record);
    before.records += file.records;
    before.closed = file.closed;
    before.held_back = file.held_back;
    before.end_offset = file.end_offset;
    before.start_offset = std::max(before.start_offset, file.start_offset);
    before.earlier_runs_offset =
        std::max(before.earlier_runs_offset, file.earlier_runs_offset);
    before.read_under_name =
        std::max(before.read_under_name, file.read_under_name);
  }
  records_ += part.records_;
  auto append = [](std::vector<std::string>& to,
                   const std::vector<std::string>& from) {
    to.insert(to.end(), from.begin(), from.end());
  };
  append(changed_, part.changed_);
  append(same_log_, part.same_log_);
  append(continued_, part.continued_);
  counting_site_ = nullptr;
  counting_file_ = nullptr;
}

void RunLedger::RecordCounted(const CountedRecord& record) {
  if (record.site != counting_site_name_ || counting_site_ == nullptr) {
    counting_site_ = &SiteOf(record.site);
    counting_site_name_ = record.site;
    counting_day_ = -1;
  }
  const auto day = static_cast<ledger::Day>(record.time);
  if (day != counting_day_) {
    counting_day_tally_ = &counting_site_->days[day];
    counting_day_ = day;
  }
  ++counting_day_tally_->hits;
  const auto status_class = static_cast<unsigned>(record.status / 100 - 2);
  if (status_class < 4) ++counting_day_tally_->hits_by_class[status_class];

  if (record.file != counting_path_ || counting_file_ == nullptr) {
    counting_file_ = &FileOf(record.file);
    counting_path_ = record.file;
  }
  FileTally& file = *counting_file_;
  if (file.records++ == 0 || record.time < file.first_record) {
    file.first_record = record.time;
  }
  file.last_record = std::max(file.last_record, record.time);
  ++records_;
}

void RunLedger::FileOpened(std::string_view path) {
  FileOf(path).closed = false;
}

void RunLedger::FileNotOpened(std::string_view path) {
  if (const SiteFolder* folder = FolderOf(path)) {
    SiteOf(folder->identifier).unread_file = true;
  }
}

void RunLedger::FileClosed(const iislog::FileReadReport& report) {
  FileTally& file = FileOf(report.path);
  file.closed = !report.read_failed;
  file.held_back = report.held_back;
  file.end_offset = report.text_offset;
  if (report.read_failed) SiteOf(file.site).unread_file = true;
  // Told from the text read, not from the listed size: offsets count the
  // text, which in a gzip or UTF-16 file has a size of its own. Named only
  // when there was more to read: a file whose records of the day were all
  // counted is passed over without a word.
  if (file.start_offset > 0 && report.text_offset > file.start_offset) {
    continued_.push_back(Shown(file.name) + " of site " + Shown(file.site));
  }
  // The same start but less text than earlier runs read: cut short, or
  // rewritten in place. What is there was counted; text written past the
  // cut later is read only past where the earlier runs stopped. A copy of
  // the log's start, shorter than the log this run or earlier ones read, is
  // no such file.
  if (report.reached_end && report.text_offset < file.read_under_name &&
      report.text_offset < file.earlier_runs_offset) {
    changed_.push_back(
        Shown(file.name) + " of " + SiteText(file.site) + " holds " +
        std::to_string(report.text_offset) + " bytes, fewer than the " +
        std::to_string(file.earlier_runs_offset) +
        " earlier runs read of it: it was cut short or rewritten in place, "
        "and nothing of it was counted again; if its text is new, collect "
        "its days with --recount");
  }
  // A line left for a later run is lost without a word when no one is
  // writing the file any more: its writer stopped inside it.
  if (report.held_back && CutOff(file)) {
    WriteErrorLog(
        0,
        "The last line of " + report.path +
            " has no line end and was not counted: the file has not "
            "changed for over " +
            std::to_string(kSettlingSeconds / 60) +
            " minutes, so the line is cut off (the server stopped while "
            "writing it, or a copy ended early) rather than still being "
            "written. Look at the end of the file there; a later run counts "
            "the line once it ends.",
        "velnor collect", "ReadLogFile");
  }
}

bool RunLedger::CutOff(const FileTally& file) const {
  const unc::DirEntry* listed = Listed(file.site, file.name);
  const SiteWindow* window = WindowOf(file.site);
  if (listed == nullptr || window == nullptr ||
      std::abs(static_cast<int64_t>(now_) - listed->modified_time) <
          kSettlingSeconds) {
    return false;
  }
  // The days the cut line may be of: those the name gives, else that of
  // the last record read. A log of other days than the window's is no
  // concern of this run.
  FileDays days;
  if (std::optional<FileDays> named =
          DaysInLogFileName(file.name, SixDigitNamesOfSite(file.site))) {
    days = *named;
  } else if (file.records > 0) {
    days.first = days.last = static_cast<ledger::Day>(file.last_record);
  } else {
    return false;
  }
  return days.last < today_ && days.last >= window->first &&
         days.first <= window->last;
}

// Only a file listed with bytes: an empty one has no start to be known
// by. ListedSize is 0 too for a file the listing did not show, which is
// then read without a look at its start.
size_t RunLedger::HeadBytesFor(std::string_view path) {
  const FileTally& file = FileOf(path);
  return ListedSize(file.site, file.name) > 0 ? kHeadBytes : 0;
}

iislog::ReadPlan RunLedger::PlanFor(std::string_view path,
                                    std::string_view head) {
  iislog::ReadPlan plan;
  // Any file may be written as it is read (a nightly run reads the new
  // day's file too; a past day's file may still be copied): a last line
  // without its line end is left for a later run.
  plan.hold_back_unterminated_line = true;
  FileTally& file = FileOf(path);
  file.head_bytes = static_cast<int64_t>(head.size());
  file.head_checksum = ledger::HeadChecksum(head);
  file.line_checksums = ledger::LineChecksums(head);
  const SiteWindow* window = WindowOf(file.site);
  if (window == nullptr) return plan;
  std::map<ledger::Day, int64_t> parts;
  for (ledger::Day day : window->done) {
    parts[day] = iislog::kWholeDayCounted;
  }
  const std::vector<const ledger::FileRow*> rows =
      counted_.RowsOfLog(file.site, head);
  const ledger::FileRow* before = counted_.LatestFile(file.site, file.name);
  const bool changed =
      before != nullptr && !head.empty() &&
      std::find(rows.begin(), rows.end(), before) == rows.end();
  if (!recount_) {
    for (const auto& [day, offset] :
         counted_.CountedParts(file.site, rows, window->first, window->last)) {
      parts[day] = std::max(parts[day], offset);
    }
    // Named once, when the log is first met under this name.
    const bool known_by_name =
        std::any_of(rows.begin(), rows.end(), [&](const ledger::FileRow* row) {
          return automation::EqualsIgnoringAsciiCase(row->file_name, file.name);
        });
    if (!rows.empty() && !known_by_name) {
      NoteSameLog(file, rows.back()->file_name, rows.back()->run_id);
    }
    // Whatever days they counted (none, for a log of garbled lines only),
    // the runs that read the log told its garbled lines up to where they
    // stopped.
    for (const ledger::FileRow* row : rows) {
      plan.reported_up_to = std::max(plan.reported_up_to, row->end_offset);
      if (automation::EqualsIgnoringAsciiCase(row->file_name, file.name)) {
        file.read_under_name = std::max(file.read_under_name, row->end_offset);
      }
    }
  }
  for (const auto& [day, offset] : parts) {
    if (offset != iislog::kWholeDayCounted) {
      file.earlier_runs_offset = std::max(file.earlier_runs_offset, offset);
    }
  }
  // The same log read by this run under another name (both forms side by
  // side): every day of the window was counted up to where that stopped.
  const auto [read_here, other] = ReadInThisRun(file, head);
  if (read_here > 0) {
    plan.reported_up_to = std::max(plan.reported_up_to, read_here);
    for (ledger::Day day = window->first; day <= window->last; ++day) {
      parts[day] = std::max(parts[day], read_here);
    }
    NoteSameLog(file, other, 0);
  }
  for (const auto& [day, offset] : parts) {
    plan.counted.push_back({day, offset});
    if (offset != iislog::kWholeDayCounted) {
      file.start_offset = std::max(file.start_offset, offset);
    }
  }
  if (changed && rows.empty()) {
    changed_.push_back(
        Shown(file.name) + " of " + SiteText(file.site) +
        " is not the file run " + std::to_string(before->run_id) +
        " read: its first 64 KB differ (a reinstalled server, or logs "
        "rotated by hand?); it was read from its start" +
        (recount_ ? "" : ", so records counted before may be counted again"));
  }
  return plan;
}

std::pair<int64_t, std::string> RunLedger::ReadInThisRun(
    const FileTally& file, std::string_view head) const {
  std::pair<int64_t, std::string> read{0, ""};
  // Most heads are kHeadBytes long: each length's checksum is made once.
  std::map<int64_t, uint32_t> checksums;
  const std::optional<std::pair<uint32_t, uint32_t>> start =
      ledger::RecordStart(head);
  for (const auto& [path, other] : files_) {
    if (&other == &file || other.site != file.site || other.head_bytes == 0 ||
        other.end_offset <= read.first) {
      continue;
    }
    bool same = false;
    if (other.head_bytes <= std::ssize(head)) {
      auto [checksum, made] = checksums.try_emplace(other.head_bytes);
      if (made) {
        checksum->second = ledger::HeadChecksum(
            head.substr(0, static_cast<size_t>(other.head_bytes)));
      }
      same = checksum->second == other.head_checksum;
    } else if (start) {
      // This file is shorter than the other's head: the same log when its
      // lines are the other's first lines.
      same = std::binary_search(other.line_checksums.begin(),
                                other.line_checksums.end(), *start);
    }
    if (same) read = {other.end_offset, other.name};
  }
  return read;
}

void RunLedger::NoteSameLog(const FileTally& file, const std::string& other,
                            int64_t run_id) {
  same_log_.push_back(
      Shown(file.name) + " of " + SiteText(file.site) + " is the log read as " +
      Shown(other) +
      (run_id == 0 ? std::string(" by this run")
                   : " by run " + std::to_string(run_id)) +
      " (the same text: renamed or compressed); only what that reading did "
      "not reach was counted");
}

std::vector<std::string> RunLedger::Notes() const {
  std::vector<std::string> notes = changed_;
  for (size_t i = 0; i < same_log_.size() && i < 3; ++i) {
    notes.push_back(same_log_[i]);
  }
  if (same_log_.size() > 3) {
    notes.push_back("and " + std::to_string(same_log_.size() - 3) +
                    " more files that are logs read under another name");
  }
  if (!continued_.empty()) {
    std::string files;
    for (size_t i = 0; i < continued_.size() && i < 3; ++i) {
      AppendListItem(files, ", ", continued_[i]);
    }
    if (continued_.size() > 3) {
      files += " and " + std::to_string(continued_.size() - 3) + " more";
    }
    notes.push_back("went on where earlier runs of the same days stopped in " +
                    files);
  }
  return notes;
}

// A growing log read run after run keeps the same head once it is
// kHeadBytes long, and each run's row of it would repeat the same few KB.
// The longest heads first, so that a shorter one of the same log, ending
// at a line end (a copy made while it grew), is covered by it.
void RunLedger::KeepLineEndsOnce(std::vector<ledger::FileRow>& rows) const {
  std::vector<ledger::FileRow*> longest_first;
  for (ledger::FileRow& row : rows) longest_first.push_back(&row);
  std::stable_sort(longest_first.begin(), longest_first.end(),
                   [](const ledger::FileRow* a, const ledger::FileRow* b) {
                     return a->head_bytes > b->head_bytes;
                   });
  std::vector<const ledger::FileRow*> kept;
  for (ledger::FileRow* row : longest_first) {
    const auto covers = [row](const ledger::FileRow* other) {
      return other->site == row->site &&
             ((other->head_bytes == row->head_bytes &&
               other->head_checksum == row->head_checksum) ||
              std::binary_search(
                  other->line_checksums.begin(), other->line_checksums.end(),
                  std::make_pair(static_cast<uint32_t>(row->head_bytes),
                                 row->head_checksum)));
    };
    if (counted_.KeepsLineEndsOf(row->site, row->head_bytes,
                                 row->head_checksum) ||
        std::any_of(kept.begin(), kept.end(), covers)) {
      row->line_checksums.clear();
    } else if (!row->line_checksums.empty()) {
      kept.push_back(row);
    }
  }
}

std::vector<ledger::DayRow> RunLedger::Write(
    ledger::LedgerStore& store, int64_t run_id,
    const std::set<std::string>& reached, bool completed) const {
  // One row per site and file name, as Windows names files.
  std::map<std::pair<std::string, std::string>, ledger::FileRow> rows;
  for (const auto& [path, file] : files_) {
    ledger::FileRow& row =
        rows[{file.site, automation::AsciiLowered(file.name)}];
    row.run_id = run_id;
    row.site = file.site;
    row.file_name = file.name;
    row.head_bytes = file.head_bytes;
    row.head_checksum = file.head_checksum;
    row.line_checksums = file.line_checksums;
    row.start_offset = file.start_offset;
    row.end_offset = std::max(row.end_offset, file.end_offset);
    if (file.records > 0) {
      row.first_record = RecordTime(file.first_record);
      row.last_record = RecordTime(file.last_record);
    }
    row.records += file.records;
    for (const SiteFolder& folder : folders_) {
      if (folder.identifier != file.site) continue;
      for (const unc::DirEntry& entry : folder.files) {
        if (automation::EqualsIgnoringAsciiCase(entry.name, file.name)) {
          row.size = static_cast<int64_t>(entry.size);
          row.modified =
              UtcStamp(static_cast<std::time_t>(entry.modified_time));
        }
      }
    }
  }
  std::vector<ledger::FileRow> file_rows;
  for (const auto& [key, row] : rows) file_rows.push_back(row);
  KeepLineEndsOnce(file_rows);
  store.AddFiles(file_rows);

  std::vector<ledger::DayRow> days;
  std::set<std::string> written;  // a site given twice is counted once here
  for (const SiteWindow& window : windows_) {
    if (window.Empty() || !reached.contains(window.identifier) ||
        !written.insert(window.identifier).second) {
      continue;
    }
    const bool whole = completed && SiteReadWhole(window.identifier);
    const std::optional<ledger::Day> unsettled =
        UnsettledFrom(window.identifier);
    const std::map<ledger::Day, ledger::CountedDay>& before =
        counted_.DaysOf(window.identifier);
    auto site = sites_.find(window.identifier);
    for (ledger::Day day = window.first; day <= window.last; ++day) {
      if (std::binary_search(window.done.begin(), window.done.end(), day)) {
        continue;
      }
      ledger::DayRow row;
      row.run_id = run_id;
      row.site = window.identifier;
      row.day = day;
      if (site != sites_.end()) {
        auto tally = site->second.days.find(day);
        if (tally != site->second.days.end()) {
          row.hits = tally->second.hits;
          std::copy(std::begin(tally->second.hits_by_class),
                    std::end(tally->second.hits_by_class), row.hits_by_class);
        }
      }
      // Nothing read of a day is no evidence that it is over: its log
      // may come late.
      auto earlier = before.find(day);
      const bool read =
          row.hits > 0 || (earlier != before.end() && earlier->second.hits > 0);
      row.complete =
          whole && read && day < today_ && (!unsettled || day < *unsettled);
      days.push_back(row);
    }
  }
  store.AddDays(days);
  return days;
}

const SiteFolder* RunLedger::FolderOf(std::string_view path) const {
  return FindFileFolder(folders_, path).folder;
}

const unc::DirEntry* RunLedger::Listed(const std::string& site,
                                       const std::string& name) const {
  for (const SiteFolder& folder : folders_) {
    if (folder.identifier != site) continue;
    for (const unc::DirEntry& entry : folder.files) {
      if (automation::EqualsIgnoringAsciiCase(entry.name, name)) return &entry;
    }
  }
  return nullptr;
}

uint64_t RunLedger::ListedSize(const std::string& site,
                               const std::string& name) const {
  const unc::DirEntry* entry = Listed(site, name);
  return entry ? entry->size : 0;
}

SixDigitNames RunLedger::SixDigitNamesOfSite(const std::string& site) const {
  for (const SiteFolder& folder : folders_) {
    if (folder.identifier == site) return folder.six_digit_names;
  }
  return SixDigitNames::kDays;
}

const SiteWindow* RunLedger::WindowOf(const std::string& site) const {
  for (const SiteWindow& window : windows_) {
    if (window.identifier == site) return &window;
  }
  return nullptr;
}

std::string RunLedger::SiteText(const std::string& site) const {
  const SiteWindow* window = WindowOf(site);
  return "site " + Shown(site) +
         (window ? " (" + Shown(window->name) + ")" : std::string());
}

RunLedger::FileTally& RunLedger::FileOf(std::string_view path) {
  auto found = files_.find(path);
  if (found != files_.end()) return found->second;
  FileTally& file = files_[std::string(path)];
  const FileInFolder in_folder = FindFileFolder(folders_, path);
  file.site = in_folder.folder ? in_folder.folder->identifier : std::string();
  file.name = in_folder.name;
  return file;
}

RunLedger::SiteTally& RunLedger::SiteOf(std::string_view site) {
  auto found = sites_.find(site);
  if (found != sites_.end()) return found->second;
  return sites_[std::string(site)];
}

std::optional<ledger::Day> RunLedger::UnsettledFrom(
    const std::string& site) const {
  std::optional<ledger::Day> from;
  for (const auto& [path, file] : files_) {
    if (file.site != site) continue;
    const unc::DirEntry* listed = Listed(file.site, file.name);
    const bool settling =
        listed != nullptr && std::abs(static_cast<int64_t>(now_) -
                                      listed->modified_time) < kSettlingSeconds;
    if (!file.held_back && !settling) continue;
    // The file's days start with its first record read, else with the day
    // its name gives; a file that tells neither may hold any day.
    ledger::Day first = std::numeric_limits<ledger::Day>::min();
    if (file.records > 0) {
      first = static_cast<ledger::Day>(file.first_record);
    } else if (std::optional<FileDays> named = DaysInLogFileName(
                   file.name, SixDigitNamesOfSite(file.site))) {
      first = named->first;
    }
    from = from ? std::min(*from, first) : first;
  }
  return from;
}

// A site's folder was listed (or IIS has not made it yet: nothing was
// logged), and every file the run opened of it was read to its end.
bool RunLedger::SiteReadWhole(const std::string& site) const {
  for (const SiteFolder& folder : folders_) {
    if (folder.identifier == site && !folder.listed && !folder.not_made_yet) {
      return false;
    }
  }
  auto tally = sites_.find(site);
  if (tally != sites_.end() && tally->second.unread_file) return false;
  for (const auto& [path, file] : files_) {
    if (file.site == site && !file.closed) return false;
  }
  return true;
}

}  // namespace velnor::host
