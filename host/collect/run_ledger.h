// The ledger's side of one collect run. While the run reads, it hears what
// is counted (per site and day, per file) and how far each file is read,
// and it plans each file's reading so that the records earlier runs of the
// same days counted are passed over; after the run it writes the run's
// rows, in the run's own session, so that they are kept with the counts or
// not at all.
//
// A file is known by the start of its text (kHeadBytes of it), not by its
// name: a log renamed, compressed with gzip, lying beside its compressed
// copy, or found as a copy made while it was shorter, is the log read
// before, and is read on from where that reading stopped.
#ifndef VELNOR_HOST_COLLECT_RUN_LEDGER_H_
#define VELNOR_HOST_COLLECT_RUN_LEDGER_H_

#include <cstdint>
#include <ctime>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "component/velnor.h"
#include "host/collect/collect_window.h"
#include "host/collect/log_folders.h"
#include "ledger/counted_days.h"
#include "ledger/ledger_store.h"

namespace velnor::host {

// How much of the start of a log's text it is known by: enough to tell one
// log from another (its directives and first records), little enough to
// keep in memory while the file is planned.
inline constexpr int64_t kHeadBytes = int64_t{64} * 1024;

// A file changed this recently (before or after the run's clock: a
// server's clock may be ahead) may still be written or copied: its days
// are counted as far as it is read and left in part.
inline constexpr int64_t kSettlingSeconds = int64_t{5} * 60;

class RunLedger : public CountObserver,
                  public iislog::ReadObserver,
                  public iislog::ReadPlanner {
 public:
  // `counted` (the ledger before the run), `folders` (the survey of the
  // sites' log folders) and `windows` (each site's days, the same sites in
  // the same order) must outlive this object. With `recount`, files are
  // read whole whatever earlier runs counted (but each log once in the
  // run). `now` is the run's clock. Every file's last line is left for
  // later when it has no line end yet: it is still being written.
  RunLedger(const ledger::CountedDays& counted,
            const std::vector<SiteFolder>& folders,
            const std::vector<SiteWindow>& windows, bool recount,
            std::time_t now);

  void RecordCounted(const CountedRecord& record) override;
  void FileOpened(std::string_view path) override;
  void FileNotOpened(std::string_view path) override;
  void FileClosed(const iislog::FileReadReport& report) override;
  size_t HeadBytesFor(std::string_view path) override;
  iislog::ReadPlan PlanFor(std::string_view path,
                           std::string_view head) override;

  // The site `site` leaves files that may hold days of its window unread
  // (not registered): its days are not counted whole.
  void KeepsFilesUnread(const std::string& site) {
    SiteOf(site).unread_file = true;
  }

  // A ledger for one site of a run that reads sites side by side (a
  // RunPart's): it hears and plans that site's files on the site's worker
  // from the same ledger before the run, folders and windows, and is then
  // merged into this one with Merge, the sites in the order of the run.
  std::unique_ptr<RunLedger> MakePart() const;
  // Takes in what `part` heard, as if this ledger had heard it now.
  void Merge(RunLedger& part);

  // Records counted so far.
  int64_t Records() const { return records_; }
  // Lines for the run's summary: files that changed since they were
  // counted, files that are a log read before under another name, files
  // continued where earlier runs stopped.
  std::vector<std::string> Notes() const;

  // Writes the run's rows into `store`: a row per file read, and a row per
  // day of the window of each site in `reached` (the sites the run
  // started), but the days it passed over (SiteWindow::done). A day is
  // counted whole when records of it were read (by this run or earlier
  // ones), the run `completed`, the site's folder and every file of it
  // could be read to a line end, no file that holds the day changed in the
  // last kSettlingSeconds, and the day is over. Returns the day rows.
  std::vector<ledger::DayRow> Write(ledger::LedgerStore& store, int64_t run_id,
                                    const std::set<std::string>& reached,
                                    bool completed) const;

 private:
  struct DayTally {
    int64_t hits = 0;
    int64_t hits_by_class[4] = {0, 0, 0, 0};
  };
  struct SiteTally {
    std::map<ledger::Day, DayTally> days;
    // A file could not be opened or read whole, or was left unread.
    bool unread_file = false;
  };
  struct FileTally {
    std::string site;
    std::string name;
    int64_t head_bytes = 0;
    uint32_t head_checksum = 0;
    // The head's checksum at each of its line ends (length, CRC-32): a
    // shorter file of this run or a later one whose text up to its last
    // line end is a start of this head (a copy made while the log grew) is
    // this log.
    std::vector<std::pair<uint32_t, uint32_t>> line_checksums;
    int64_t start_offset = 0;
    // Of start_offset, the part earlier runs read (not another file of this
    // run that is the same log).
    int64_t earlier_runs_offset = 0;
    int64_t end_offset = 0;
    bool closed = false;
    bool held_back = false;  // it ended in a line still being written
    // How far earlier runs read the log under this file's name: a copy
    // under another name may hold less text than they read of the log
    // without being cut short.
    int64_t read_under_name = 0;
    double first_record = 0;
    double last_record = 0;
    int64_t records = 0;
  };

  // Clears the line ends of each of `rows` (this run's) whose head's line
  // ends the ledger or another of `rows` keeps
  // (CountedDays::KeepsLineEndsOf).
  void KeepLineEndsOnce(std::vector<ledger::FileRow>& rows) const;
  // The site whose folder holds `path`, or null.
  const SiteFolder* FolderOf(std::string_view path) const;
  const SiteWindow* WindowOf(const std::string& site) const;
  // The file `name` of `site` as the survey listed it, or null.
  const unc::DirEntry* Listed(const std::string& site,
                              const std::string& name) const;
  // Its size as listed; 0 when it was not listed.
  uint64_t ListedSize(const std::string& site, const std::string& name) const;
  // How the six-digit log names of the folder of `site` read.
  SixDigitNames SixDigitNamesOfSite(const std::string& site) const;
  std::string SiteText(const std::string& site) const;
  FileTally& FileOf(std::string_view path);
  SiteTally& SiteOf(std::string_view site);
  bool SiteReadWhole(const std::string& site) const;
  // Whether `file`, which ended in a line without its line end, is one no
  // one writes any more: listed, unchanged for kSettlingSeconds, and of days
  // of the site's window before today.
  bool CutOff(const FileTally& file) const;
  // The first day of `site` that a file still being written or copied may
  // hold; nothing when no such file was read.
  std::optional<ledger::Day> UnsettledFrom(const std::string& site) const;
  // Where this run stopped reading another file of `site` that is the log
  // whose text starts with `head` (0: none), and its name.
  std::pair<int64_t, std::string> ReadInThisRun(const FileTally& file,
                                                std::string_view head) const;
  void NoteSameLog(const FileTally& file, const std::string& other,
                   int64_t run_id);

  const ledger::CountedDays& counted_;
  const std::vector<SiteFolder>& folders_;
  const std::vector<SiteWindow>& windows_;
  bool recount_;
  std::time_t now_;
  ledger::Day today_;

  std::map<std::string, SiteTally, std::less<>> sites_;
  std::map<std::string, FileTally, std::less<>> files_;  // by path
  int64_t records_ = 0;
  std::vector<std::string> changed_;    // notes
  std::vector<std::string> same_log_;   // notes
  std::vector<std::string> continued_;  // "u_ex240611.log of site 1"

  // The tallies the last counted record went to: records come in runs of
  // one site, one day and one file.
  std::string counting_site_name_;
  SiteTally* counting_site_ = nullptr;
  ledger::Day counting_day_ = -1;
  DayTally* counting_day_tally_ = nullptr;
  std::string counting_path_;
  FileTally* counting_file_ = nullptr;
};

}  // namespace velnor::host

#endif  // VELNOR_HOST_COLLECT_RUN_LEDGER_H_
