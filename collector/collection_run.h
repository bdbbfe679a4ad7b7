// One collection run: opens the report databases, walks the sites, chooses
// each site's log files, reads them record by record, writes each site's
// total, reacts to Cancel and closes everything again. Every failure is
// logged and the run goes on with the next step; nothing escapes Run.
#ifndef VELNOR_COLLECTOR_COLLECTION_RUN_H_
#define VELNOR_COLLECTOR_COLLECTION_RUN_H_

#include <array>
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
  CollectionRun(RunState& state, ReportStore& store, LogLocator& locator,
                const RunHooks& hooks, const unc::ShareAccess& shares);
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

  bool OpenDatabases(std::string_view app_path);
  bool OpenDatabase(Kind kind, std::string_view app_path);
  bool OpenTable(Kind kind);
  void CollectSite(const std::string& descriptor);
  automation::StringArray ChooseLogFiles(const Site& site, bool& no_files);
  void ReadSiteFiles(Site& site, const automation::StringArray& files,
                     bool no_files);
  // The bar at `files_done` of `file_count`, or at the host's measure when
  // it gives one.
  void ShowProgress(int32_t files_done, int32_t file_count);

  // The record loop over one file (record_loop.cpp).
  void ReadLogFile(Site& site, const std::string& file_name);
  // The error-log line of the first record of a file without a date.
  void LogUndated(const std::string& path);
  // Lists or counts one record of the window.
  void TakeRecord(Site& site, double record_time, const std::string& path);
  void TallyRecord(const Site& site, double record_time,
                   const std::string& path);
  // Raises invalid procedure call (5), naming `url` and `path`, when `url`
  // holds a NUL byte.
  void RefuseNulText(std::string_view url, const std::string& path);
  // The current record's status code, 0 when it has none.
  int32_t RecordStatus();
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
