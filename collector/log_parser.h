// LogParser, the collector: the component's one creatable class. It stores
// the run state, shows the progress window, and runs the collection when
// the window calls it back by name ("PrepareReport").
#ifndef VELNOR_COLLECTOR_LOG_PARSER_H_
#define VELNOR_COLLECTOR_LOG_PARSER_H_

#include <memory>
#include <string>
#include <string_view>

#include "collector/log_parser_interface.h"
#include "collector/run_hooks.h"
#include "collector/run_state.h"
#include "collector/run_summary.h"
#include "loglocation/log_locator.h"
#include "reportstore/report_store.h"

namespace velnor {

class LogParser : public LogParserInterface,
                  public std::enable_shared_from_this<LogParser> {
 public:
  // Every run of this collector reports to `hooks` and runs with
  // `settings`.
  explicit LogParser(RunHooks hooks = {}, RunSettings settings = {});

  automation::StringArray GetLogFilesFromDirectory(
      std::string_view strPath) override;
  void CollectDataFromLogFile(bool blnIsFTPCollection,
                              std::string_view strAppPath) override;
  void CollectIISLogData(
      std::string_view strServerName, bool blnIsFTPCollection,
      double dtStartDate, double dtEndDate, std::string_view strAppPath,
      bool blnIsCollectRawData, automation::ObjectRef objGrd = nullptr,
      std::shared_ptr<automation::Collection> colSiteCollection = nullptr,
      bool blnLogSitelevel = false,
      bool blnRefreshDateInServerLevel = false) override;
  void PrepareReport() override;
  std::string GetLogFilePath(std::string_view strLogPath,
                             std::string_view strServerName = "") override;
  void SetErrorLogPath(std::string_view strErrorLogPath) override;
  int32_t GetLogFileCountFromDB(automation::ObjectRef objCn) override;

  // Late-bound calls: "PrepareReport" is the only method called by name.
  void CallMethod(std::string_view name) override;

  const RunState& state() const { return state_; }
  const RunSummary& last_run() const { return last_run_; }

 private:
  void objProgressDialog_onReportCollectionCanceled();

  const RunHooks hooks_;
  const RunSettings settings_;
  RunState state_;
  ReportStore report_store_;
  LogLocator log_locator_;
  RunSummary last_run_;
};

}  // namespace velnor

#endif  // VELNOR_COLLECTOR_LOG_PARSER_H_
