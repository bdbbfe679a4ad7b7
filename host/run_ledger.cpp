// The run's ledger. Counted records arrive at a million a second, so the
// tally of one keeps the site, day and file of the record before and looks
// them up only when one of them changes.
#include "host/run_ledger.h"

#include <fmt/format.h>
#include <zlib.h>

#include <algorithm>

#include "collector/count_observer.h"
#include "host/collect_clock.h"
#include "host/command_support.h"
#include "host/text_format.h"
#include "platform/automation/error_state.h"
#include "platform/automation/ole_date.h"
#include "platform/automation/text.h"
#include "platform/unc/unc.h"

namespace velnor::host {
namespace {

// The file's first bytes, up to `limit`; empty when it cannot be read.
std::string ReadHead(std::string_view path, size_t limit) {
  std::string head(limit, '\0');
  if (limit == 0) return head;
  size_t have = 0;
  bool read = automation::ResumeNext([&] {
    std::unique_ptr<unc::InputFile> file = unc::OpenForReading(path);
    while (have < head.size()) {
      size_t n = file->Read(head.data() + have, head.size() - have);
      if (n == 0) break;
      have += n;
    }
  });
  automation::Err().Clear();
  head.resize(read ? have : 0);
  return head;
}

uint32_t Checksum(std::string_view bytes) {
  return static_cast<uint32_t>(
      crc32(0, reinterpret_cast<const Bytef*>(bytes.data()),
            static_cast<uInt>(bytes.size())));
}

std::string_view FolderPart(std::string_view path) {
  size_t slash = path.rfind('\\');
  return slash == std::string_view::npos ? std::string_view()
                                         : path.substr(0, slash);
}

std::string_view NamePart(std::string_view path) {
  return path.substr(path.rfind('\\') + 1);
}

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
                     ledger::Day today)
    : counted_(counted),
      folders_(folders),
      windows_(windows),
      recount_(recount),
      today_(today) {
  for (const SiteWindow& window : windows_) {
    hold_back_ = hold_back_ || (!window.Empty() && window.last >= today_);
  }
}

RunLedger::Watch::Watch(RunLedger& ledger) : ledger_(ledger) {
  SetCountObserver(&ledger_);
  ledger_.replaced_observer_ = iislog::SetReadObserver(&ledger_);
  iislog::SetReadPlanner(&ledger_);
}

RunLedger::Watch::~Watch() {
  iislog::SetReadPlanner(nullptr);
  iislog::SetReadObserver(ledger_.replaced_observer_);
  SetCountObserver(nullptr);
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
  if (replaced_observer_ != nullptr) replaced_observer_->FileOpened(path);
  FileOf(path).closed = false;
}

void RunLedger::ChunkRead() {
  if (replaced_observer_ != nullptr) replaced_observer_->ChunkRead();
}

void RunLedger::FileNotOpened(std::string_view path) {
  if (replaced_observer_ != nullptr) replaced_observer_->FileNotOpened(path);
  if (const SiteFolder* folder = FolderOf(path)) {
    SiteOf(folder->identifier).unread_file = true;
  }
}

void RunLedger::FileClosed(const iislog::FileReadReport& report) {
  if (replaced_observer_ != nullptr) replaced_observer_->FileClosed(report);
  FileTally& file = FileOf(report.path);
  file.closed = !report.read_failed;
  file.end_offset = report.text_offset;
  if (report.read_failed) SiteOf(file.site).unread_file = true;
}

iislog::ReadPlan RunLedger::PlanFor(std::string_view path) {
  iislog::ReadPlan plan;
  FileTally& file = FileOf(path);
  // A file changed today may be written as it is read, also when the run
  // counts earlier days only (a nightly run reads the new day's file too):
  // its last line without a line end is left for a later run.
  const unc::DirEntry* listed = Listed(file.site, file.name);
  plan.hold_back_unterminated_line =
      hold_back_ ||
      (listed != nullptr &&
       LogDayOf(static_cast<std::time_t>(listed->modified_time)) >= today_);
  // Only as much as the listing saw: the file is opened a second time for
  // this, and a file that is no plain file (a pipe, listed with no size)
  // must not lose its start to it.
  const std::string head =
      ReadHead(path, static_cast<size_t>(std::min<uint64_t>(
                         kHeadBytes, ListedSize(file.site, file.name))));
  file.head_bytes = static_cast<int64_t>(head.size());
  file.head_checksum = Checksum(head);
  const ledger::FileRow* before = counted_.LatestFile(file.site, file.name);
  bool changed = false;
  if (before != nullptr && !head.empty()) {
    changed = before->head_bytes > file.head_bytes ||
              Checksum(std::string_view(head).substr(
                  0, static_cast<size_t>(before->head_bytes))) !=
                  before->head_checksum;
  }
  const SiteWindow* window = WindowOf(file.site);
  if (!recount_ && !changed && window != nullptr) {
    for (const auto& [day, offset] : counted_.CountedParts(
             file.site, file.name, window->first, window->last)) {
      plan.counted.push_back({day, offset});
      file.start_offset = std::max(file.start_offset, offset);
    }
  }
  // Named only when there is more to read: a file whose records of the day
  // were all counted is passed over without a word.
  if (file.start_offset > 0 && static_cast<uint64_t>(file.start_offset) <
                                   ListedSize(file.site, file.name)) {
    continued_.push_back(Shown(file.name) + " of site " + Shown(file.site));
  }
  if (changed) {
    changed_.push_back(
        Shown(file.name) + " of " + SiteText(file.site) +
        " is not the file run " + std::to_string(before->run_id) +
        " read: its first 64 KB differ (a reinstalled server, or logs "
        "rotated by hand?); it was read from its start" +
        (recount_ ? "" : ", so records counted before may be counted again"));
  }
  return plan;
}

std::vector<std::string> RunLedger::Notes() const {
  std::vector<std::string> notes = changed_;
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

void RunLedger::Write(ledger::LedgerStore& store, int64_t run_id,
                      const std::set<std::string>& reached,
                      bool completed) const {
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
  for (const auto& [key, row] : rows) store.AddFile(row);

  std::set<std::string> written;  // a site given twice is counted once here
  for (const SiteWindow& window : windows_) {
    if (window.Empty() || !reached.contains(window.identifier) ||
        !written.insert(window.identifier).second) {
      continue;
    }
    const bool whole = completed && SiteReadWhole(window.identifier);
    auto site = sites_.find(window.identifier);
    for (ledger::Day day = window.first; day <= window.last; ++day) {
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
      row.complete = whole && day < today_;
      store.AddDay(row);
    }
  }
}

const SiteFolder* RunLedger::FolderOf(std::string_view path) const {
  const std::string_view folder = FolderPart(path);
  for (const SiteFolder& site : folders_) {
    if (!site.folder.empty() &&
        automation::EqualsIgnoringAsciiCase(site.folder, folder)) {
      return &site;
    }
  }
  return nullptr;
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
  const SiteFolder* folder = FolderOf(path);
  file.site = folder ? folder->identifier : std::string();
  file.name = NamePart(path);
  return file;
}

RunLedger::SiteTally& RunLedger::SiteOf(std::string_view site) {
  auto found = sites_.find(site);
  if (found != sites_.end()) return found->second;
  return sites_[std::string(site)];
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
