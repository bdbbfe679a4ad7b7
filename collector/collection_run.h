// One collection run: opens the report databases, walks the sites, chooses
// each site's log files, reads them record by record, writes each site's
// total, reacts to Cancel and closes everything again. Every failure is
// logged and the run goes on with the next step; nothing escapes Run.
#ifndef VELNOR_COLLECTOR_COLLECTION_RUN_H_
#define VELNOR_COLLECTOR_COLLECTION_RUN_H_

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "collector/run_hooks.h"
#include "collector/run_state.h"
#include "collector/run_summary.h"
#include "loglocation/log_locator.h"
#include "platform/ado/ado.h"
#include "platform/ado/session.h"
#include "platform/automation/error_state.h"
#include "platform/forms/grid.h"
#include "platform/iislog/iis_log.h"
#include "reportstore/report_store.h"

namespace velnor {

class CollectionRun {
 public:
  // The run reads and writes `state` (the cancel flag, the grid reference)
  // and calls `store` and `locator`, which read the same state, and
  // `hooks`; its readers reach the log files through `shares`. All must
  // outlive the run.
  // Up to `workers` sites are read at once where the run allows it
  // (CanReadSitesAtOnce).
  CollectionRun(RunState& state, ReportStore& store, LogLocator& locator,
                const RunHooks& hooks, const unc::ShareAccess& shares,
                int workers);
  ~CollectionRun();

  RunSummary Run(bool blnIsFTPCollection, std::string_view strAppPath);

 private:
  enum Kind { kDayOfWeek, kHitsByMonth, kHitsByHour, kHitsByStatus };
  enum class CheckPoint { kRecord, kFile, kSite };
  struct Site {
    std::string name;
    std::string identifier;
    std::string log_directory;
    int32_t record_counter = 0;
  };

  // Moves the bar by the host's measure while the reader takes the chunks
  // of a file: at most every 100 ms, so that it costs a run nothing.
  class MeasuredProgress : public iislog::ReadObserver {
   public:
    explicit MeasuredProgress(CollectionRun& run) : run_(run) {}
    void FileOpened(std::string_view) override {}
    void ChunkRead() override;
    void FileClosed(const iislog::FileReadReport&) override {}

   private:
    CollectionRun& run_;
    std::chrono::steady_clock::time_point shown_{};
  };

  // Where one site's records go while its files are read: the run's own
  // reader, store and hooks, or, for a worker of a run that reads several
  // sites at once, the worker's reader, tally and part hooks, with the stop
  // flag it heeds instead of asking the user and the count it shows the
  // run's thread.
  struct SiteReading {
    iislog::IISLog* reader = nullptr;
    CountObserver* count_observer = nullptr;
    RunTally* tally = nullptr;
    const std::atomic<bool>* stop = nullptr;
    std::atomic<int32_t>* shown_records = nullptr;
  };
  // One site of a run that reads several at once, and the workers that
  // read them (parallel_sites.cpp).
  struct SitePart;
  class PartWorkers;

  bool OpenDatabases(std::string_view app_path);
  bool OpenDatabase(Kind kind, std::string_view app_path);
  bool OpenTable(Kind kind);
  void CollectSite(const std::string& descriptor);
  // The site's name, identifier and log folder from its descriptor; with
  // `show`, the window's lines for the site in between, as it starts.
  void ParseSite(const std::string& descriptor, Site& site, bool show);
  // The window's lines for the site `name` that starts: its name, its
  // counter at 0. Takes no Site, as a worker may be counting the site's
  // records already when its start is shown.
  void ShowSiteStart(const std::string& name);
  // The site's files; with `register_later`, the names the registry is to
  // get are left there for the caller to write, else written now.
  automation::StringArray ChooseLogFiles(
      const Site& site, bool& no_files,
      automation::StringArray* register_later = nullptr);
  // Writes the site's files into the registry.
  void RegisterLogFiles(const Site& site, const automation::StringArray& files);
  // The bar's maximum for the site's files, and the bar at their start.
  void ShowFilesStart(int32_t file_count);
  // A reader for the site's files with `read` hooks, or null, logged.
  std::shared_ptr<iislog::IISLog> CreateReader(iislog::ReadHooks read);
  void ReadSiteFiles(Site& site, const automation::StringArray& files,
                     bool no_files);
  // The site's total, written after its files.
  void FinishSite(const Site& site);

  // Sites read side by side (parallel_sites.cpp): whether this run's
  // sites may be, and the site loop that does it.
  bool CanReadSitesAtOnce(const automation::Collection& sites) const;
  void CollectSitesAtOnce(const automation::Collection& sites);
  void PlanPart(SitePart& part);
  void ReadPart(SitePart& part, const std::atomic<bool>& stop);
  void MergePart(SitePart& part);
  // Delivers the window's waiting input and asks about a Cancel clicked;
  // a confirmed one stops `workers`.
  void LookForCancel(PartWorkers& workers);
  // A worker's check point: the run stops, or Ctrl+C stopped its reader.
  static bool WorkerStopped(const std::atomic<bool>& stop);
  // The bar at `files_done` of `file_count`, or at the host's measure when
  // it gives one.
  void ShowProgress(int32_t files_done, int32_t file_count);

  // The record loop over one file (record_loop.cpp).
  void ReadLogFile(Site& site, const std::string& file_name,
                   const SiteReading& reading);
  // The error-log line of the first record of a file without a date.
  void LogUndated(iislog::IISLog& reader, const std::string& path);
  // When a record was made: its date-time and the parts the reports count
  // it by.
  struct RecordWhen {
    double time = 0;
    int32_t weekday = 0;  // 1-7, Sunday first
    int32_t month = 0;    // 1-12
    int32_t hour = 0;     // 0-23
  };
  // Lists or counts one record of the window.
  void TakeRecord(Site& site, const SiteReading& reading,
                  const RecordWhen& when, const std::string& path);
  // Counts one record of the window; false when it was left out for a
  // damaged URL, so that the site's total leaves it out as well.
  bool TallyRecord(const Site& site, const SiteReading& reading,
                   const RecordWhen& when, const std::string& path);
  // Raises invalid procedure call (5), naming `url`, which holds a NUL
  // byte, and `path`.
  void RefuseNulText(std::string_view url, const std::string& path);
  // The current record's status code, 0 when it has none.
  int32_t RecordStatus(iislog::IISLog& reader);
  // Raw mode (raw_grid.cpp).
  void SetUpGrid();
  void AddGridRow(const Site& site);
  void FinishGrid();

  // True when the loop of this check point must be left.
  bool CancelCheck(CheckPoint point);
  void Close();
  // Commits the run's own session (one the host did not make).
  void Commit(ado::Session& session);

  // The progress dialog of the run; raises object not set (91) when the run
  // was started without one, so each progress call fails like any other
  // step instead of dereferencing nothing.
  ProcessingDialog& Dialog() const;
  // The run's error-log source: the module name followed by True or False,
  // the raw-data setting.
  std::string RunSource() const;
  std::string KindName(Kind kind) const;
  const std::string& SiteColumn() const { return site_column_; }

  RunState& state_;
  ReportStore& store_;
  LogLocator& locator_;
  const RunHooks& hooks_;
  const unc::ShareAccess& shares_;
  const int workers_;
  // The run's own handler: log with the run's source, resume after the step.
  automation::ErrorHandler<std::function<void()>> step_;

  bool is_ftp_ = false;
  std::string site_column_;
  double start_day_ = 0;
  double end_day_ = 0;
  int32_t server_log_file_count_ = 0;
  int32_t grid_row_counter_ = 0;
  bool cancel_confirmed_ = false;
  // The English names the databases hold, read once per run.
  std::array<std::string, 7> weekday_names_;
  std::array<std::string, 12> month_names_;
  ReportStore::ReportTables databases_;
  std::shared_ptr<iislog::IISLog> reader_;
  MeasuredProgress measured_progress_{*this};
  std::shared_ptr<forms::Grid> grid_;
  RunSummary summary_;
};

}  // namespace velnor

#endif  // VELNOR_COLLECTOR_COLLECTION_RUN_H_
