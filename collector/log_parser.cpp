// LogParser's public methods: storing the run state, the modal progress
// window and its start-up call, the cancel flag, and the methods a host may
// call at any time (forwarded to the log location and the report store).
#include "collector/log_parser.h"

#include "collector/collection_run.h"
#include "dbsupport/error_log.h"
#include "platform/automation/error_state.h"
#include "progress/frm_progress_dialog.h"

namespace velnor {

using automation::Err;
using automation::ErrorHandler;
using automation::ResumeNext;

LogParser::LogParser(RunHooks hooks, RunSettings settings)
    : hooks_(std::move(hooks)),
      settings_(std::move(settings)),
      report_store_(state_.mstrServerName, state_.mblnIsFTPCollection,
                    settings_.counting),
      log_locator_(state_.mstrServerName, settings_.windows_directories,
                   settings_.shares) {}

automation::StringArray LogParser::GetLogFilesFromDirectory(
    std::string_view strPath) {
  automation::StringArray result{""};
  ResumeNext([&] { result = log_locator_.GetLogFilesFromDirectory(strPath); });
  Err().Clear();
  return result;
}

void LogParser::CollectDataFromLogFile(bool blnIsFTPCollection,
                                       std::string_view strAppPath) {
  ResumeNext([&] {
    CollectionRun run(state_, report_store_, log_locator_, hooks_,
                      settings_.shares, settings_.workers);
    last_run_ = run.Run(blnIsFTPCollection, strAppPath);
  });
  Err().Clear();
}

void LogParser::CollectIISLogData(
    std::string_view strServerName, bool blnIsFTPCollection, double dtStartDate,
    double dtEndDate, std::string_view strAppPath, bool blnIsCollectRawData,
    automation::ObjectRef objGrd,
    std::shared_ptr<automation::Collection> colSiteCollection,
    bool blnLogSitelevel, bool blnRefreshDateInServerLevel) {
  ErrorHandler step([] {
    WriteErrorLog(Err().Number(), Err().Description(), kLogParserSource,
                  "CollectIISLogData");
  });
  last_run_ = RunSummary{};
  state_.mstrServerName = strServerName;
  state_.mdtStartDate = dtStartDate;
  state_.mdtEndDate = dtEndDate;
  state_.mblnIsFTPCollection = blnIsFTPCollection;
  state_.mblnIsCollectRawData = blnIsCollectRawData;
  state_.mblnLogSitelevel = blnLogSitelevel;
  state_.mblnRefreshDateInServerLevel = blnRefreshDateInServerLevel;
  state_.mstrAppPath = strAppPath;
  if (!state_.mstrAppPath.ends_with('\\')) state_.mstrAppPath += '\\';
  if (objGrd) state_.mobjGrd = std::move(objGrd);
  if (colSiteCollection)
    state_.mcolSiteCollection = std::move(colSiteCollection);
  state_.mblnCancelRequested = false;

  step([&] {
    state_.objProgressDialog = std::make_shared<ProcessingDialog>();
    // The dialog outlives nothing of ours, but a weak reference keeps a
    // click that arrives after this collector is gone harmless.
    std::weak_ptr<LogParser> self = weak_from_this();
    state_.objProgressDialog->SetCancelHandler([self] {
      if (auto parser = self.lock()) {
        parser->objProgressDialog_onReportCollectionCanceled();
      }
    });
  });
  step([&] {
    state_.objProgressDialog->SetDataCollectorObject(shared_from_this());
  });
  step([&] {
    std::shared_ptr<frmProgressDialog> window = frmProgressDialog::Instance();
    window->SetPresentation({settings_.progress_window, hooks_.status_line});
    state_.objProgressDialog->SetProgressDialog(std::move(window));
  });
  step([&] { state_.objProgressDialog->ShowProgressBar(true); });
  step([&] { state_.objProgressDialog->EnableCancelButton(true); });
  // Without a window ShowDialog returns at once and nothing is collected.
  step([&] { state_.objProgressDialog->ShowDialog(); });
}

void LogParser::PrepareReport() {
  // Both steps run whatever happens in the other, so the window is closed
  // even when the run failed.
  ResumeNext([&] {
    CollectDataFromLogFile(state_.mblnIsFTPCollection, state_.mstrAppPath);
  });
  ResumeNext([&] {
    if (!state_.objProgressDialog)
      automation::Raise(automation::kErrObjectNotSet);
    state_.objProgressDialog->CloseDialog();
  });
  Err().Clear();
}

std::string LogParser::GetLogFilePath(std::string_view strLogPath,
                                      std::string_view strServerName) {
  std::string result;
  ResumeNext(
      [&] { result = log_locator_.GetLogFilePath(strLogPath, strServerName); });
  Err().Clear();
  return result;
}

void LogParser::SetErrorLogPath(std::string_view strErrorLogPath) {
  gstrErrorLogPath = strErrorLogPath;
}

int32_t LogParser::GetLogFileCountFromDB(automation::ObjectRef objCn) {
  int32_t count = 0;
  ResumeNext([&] {
    auto connection = std::dynamic_pointer_cast<ado::Connection>(objCn);
    count = report_store_.GetLogFileCountFromDB(connection);
  });
  Err().Clear();
  return count;
}

void LogParser::CallMethod(std::string_view name) {
  if (name == "PrepareReport") {
    PrepareReport();
    return;
  }
  Object::CallMethod(name);
}

void LogParser::objProgressDialog_onReportCollectionCanceled() {
  state_.mblnCancelRequested = true;
}

}  // namespace velnor
