// The collection run: databases, the site loop, the choice of a site's log
// files, cancellation and the close. The record loop is record_loop.cpp,
// the raw-mode grid raw_grid.cpp.
#include "collector/collection_run.h"

#include <algorithm>

#include "dbsupport/db_support.h"
#include "dbsupport/error_log.h"
#include "platform/automation/ole_date.h"
#include "platform/automation/text.h"
#include "platform/forms/forms.h"
#include "platform/win32/user32.h"
#include "reportdb/report_files.h"

namespace velnor {
namespace {

using automation::ArrayItem;
using automation::Err;

constexpr char kRunProcedure[] = "CollectDataFromLogFile";
constexpr int32_t kYesNoQuestionSecondDefault = 4 + 32 + 256;
constexpr int32_t kAnswerYes = 6;

// IIS names a log after the period it holds (u_ex240603.log), so files read
// in the order of their names, compared as Windows compares them, are read
// in date order: a run stopped part-way has read a prefix of the days, and
// a listing never goes back in time. The registry and the directory give
// them in an order of their own.
void SortByName(automation::StringArray& names) {
  std::stable_sort(names.begin(), names.end(),
                   automation::LessIgnoringAsciiCase());
}

}  // namespace

CollectionRun::CollectionRun(RunState& state, ReportStore& store,
                             LogLocator& locator, const RunHooks& hooks,
                             const unc::ShareAccess& shares, int workers)
    : state_(state),
      store_(store),
      locator_(locator),
      hooks_(hooks),
      shares_(shares),
      workers_(workers),
      step_(std::function<void()>([this] {
        WriteErrorLog(Err().Number(), Err().Description(), RunSource(),
                      kRunProcedure);
      })) {}

// Releasing the members releases the reader, the recordsets, the
// connections and the grid, on every way out of the run.
CollectionRun::~CollectionRun() { state_.mobjGrd = nullptr; }

RunSummary CollectionRun::Run(bool blnIsFTPCollection,
                              std::string_view strAppPath) {
  is_ftp_ = blnIsFTPCollection;
  site_column_ = reportdb::SiteColumn(is_ftp_);
  start_day_ = automation::DatePart(state_.mdtStartDate);
  end_day_ = automation::DatePart(state_.mdtEndDate);
  cancel_confirmed_ = false;
  grid_row_counter_ = 0;
  for (int i = 0; i < 7; ++i) {
    weekday_names_[i] = automation::WeekdayName(i + 1);
  }
  for (int i = 0; i < 12; ++i) month_names_[i] = automation::MonthName(i + 1);

  // The run's changes to its databases are kept together or not at all:
  // in the host's session when it made one (and commits it), else in one
  // of the run's own, committed when the run ends.
  std::shared_ptr<ado::Session> own_session;
  if (!ado::Session::Current()) own_session = ado::Session::Begin();
  if (OpenDatabases(strAppPath)) {
    step_([&] {
      server_log_file_count_ =
          store_.GetLogFileCountFromDB(databases_[kHitsByHour].cn);
    });
    // Without a site collection there is nothing to enumerate: the failed
    // enumeration is logged and the run closes as after an empty list.
    std::shared_ptr<automation::Collection> sites = state_.mcolSiteCollection;
    if (!sites) step_([] { automation::Raise(automation::kErrObjectNotSet); });
    if (sites && CanReadSitesAtOnce(*sites)) {
      CollectSitesAtOnce(*sites);
    } else if (sites) {
      for (const std::string& descriptor : *sites) {
        CollectSite(descriptor);
        if (CancelCheck(CheckPoint::kSite)) break;
      }
    }
    Close();
  }
  if (own_session) Commit(*own_session);
  summary_.cancel_confirmed = cancel_confirmed_;
  return summary_;
}

void CollectionRun::Commit(ado::Session& session) {
  try {
    session.Commit();
  } catch (const automation::AutomationError& error) {
    summary_.commit_failure = error.description();
    WriteErrorLog(error.number(), error.description(), RunSource(),
                  kRunProcedure);
  }
}

ProcessingDialog& CollectionRun::Dialog() const {
  if (!state_.objProgressDialog) {
    automation::Raise(automation::kErrObjectNotSet);
  }
  return *state_.objProgressDialog;
}

std::string CollectionRun::RunSource() const {
  return kLogParserSource + automation::BoolText(state_.mblnIsCollectRawData);
}

std::string CollectionRun::KindName(Kind kind) const {
  return reportdb::DatabaseWord(reportdb::kReportKinds[kind], is_ftp_);
}

bool CollectionRun::OpenDatabases(std::string_view app_path) {
  if (state_.mblnIsCollectRawData) {
    if (!OpenDatabase(kHitsByHour, app_path)) return false;
    SetUpGrid();
    return true;
  }
  for (Kind kind : {kDayOfWeek, kHitsByMonth, kHitsByHour, kHitsByStatus}) {
    if (!OpenDatabase(kind, app_path)) return false;
  }
  for (Kind kind : {kDayOfWeek, kHitsByMonth, kHitsByHour, kHitsByStatus}) {
    if (!OpenTable(kind)) return false;
  }
  step_([&] {
    store_.BeginCounting(databases_, site_column_, weekday_names_,
                         month_names_);
  });
  for (Kind kind : {kDayOfWeek, kHitsByMonth, kHitsByHour, kHitsByStatus}) {
    if (!store_.CountedInMemory()[kind]) {
      summary_.counted_record_by_record.push_back(KindName(kind));
    }
  }
  return true;
}

bool CollectionRun::OpenDatabase(Kind kind, std::string_view app_path) {
  std::shared_ptr<ado::Connection>& cn = databases_[kind].cn;
  step_([&] {
    cn = automation::CreateObjectAs<ado::Connection>("ADODB.Connection");
  });
  const std::string path =
      std::string(app_path) +
      reportdb::ReportDatabaseFileName(reportdb::kReportKinds[kind],
                                       state_.mstrServerName, is_ftp_);
  if (OpenConnection(cn, path)) return true;
  WriteErrorLog(Err().Number(), "Connection failed-" + KindName(kind),
                kLogParserSource, kRunProcedure);
  step_([&] { CloseConnection(cn); });
  return false;
}

bool CollectionRun::OpenTable(Kind kind) {
  ReportStore::ReportTable& db = databases_[kind];
  if (OpenRecordSetEx(db.rs, "select * from tblGeneral", db.cn,
                      ado::adOpenDynamic, ado::adLockPessimistic,
                      ado::adUseServer)) {
    return true;
  }
  WriteErrorLog(Err().Number(), Err().Description(),
                std::string(kLogParserSource) + "(" + KindName(kind) + ")",
                kRunProcedure);
  CloseRecordSet(db.rs, true);
  step_([&] { CloseConnection(db.cn); });
  return false;
}

void CollectionRun::CollectSite(const std::string& descriptor) {
  Site site;
  ++summary_.sites;
  ParseSite(descriptor, site, /*show=*/true);
  bool no_files = false;
  const automation::StringArray files = ChooseLogFiles(site, no_files);
  const int32_t file_count = no_files ? 0 : automation::UBound(files) + 1;
  ShowFilesStart(file_count);
  ReadSiteFiles(site, files, no_files);
  FinishSite(site);
}

void CollectionRun::ParseSite(const std::string& descriptor, Site& site,
                              bool show) {
  const automation::StringArray fields = automation::Split(descriptor, ",");
  step_([&] { site.name = ArrayItem(fields, 0); });
  step_([&] { site.identifier = ArrayItem(fields, 2); });
  if (show) ShowSiteStart(site.name);
  step_([&] {
    site.log_directory = locator_.GetLogFilePath(ArrayItem(fields, 1), "") +
                         "\\" + SiteLogFolderName(is_ftp_, site.identifier);
  });
}

void CollectionRun::ShowSiteStart(const std::string& name) {
  step_([&] {
    Dialog().SetReportDescription("Collecting data for site " +
                                  QuoteSQLString(name));
  });
  step_([&] { Dialog().SetReportItemDescription("Processing Record # : 0"); });
}

void CollectionRun::ShowFilesStart(int32_t file_count) {
  step_([&] {
    Dialog().SetMaxProgressBarValue(hooks_.progress ? kProgressParts
                                                    : file_count);
  });
  ShowProgress(0, file_count);
}

// The total is written also for a site without files, without a reader
// or cancelled half-way, with the records counted so far.
void CollectionRun::FinishSite(const Site& site) {
  if (!state_.mblnIsCollectRawData) {
    step_([&] {
      store_.AddSitesAccessInfo(databases_[kHitsByHour].cn, site.name,
                                site.identifier, site.record_counter,
                                site_column_);
    });
  }
  summary_.records += site.record_counter;
}

automation::StringArray CollectionRun::ChooseLogFiles(
    const Site& site, bool& no_files, automation::StringArray* register_later) {
  std::shared_ptr<ado::Connection>& cn_hour = databases_[kHitsByHour].cn;
  automation::StringArray list;
  step_([&] {
    list = store_.CollectLogFileFromDB(cn_hour, site.name, site.identifier,
                                       site_column_);
  });
  SortByName(list);
  // Either flag makes a site without registered files read its whole
  // directory, for the rest of the run.
  if (list.empty() &&
      (state_.mblnLogSitelevel || state_.mblnRefreshDateInServerLevel)) {
    server_log_file_count_ = 0;
  }
  if (list.empty() && server_log_file_count_ == 0) {
    step_(
        [&] { list = locator_.GetLogFilesFromDirectory(site.log_directory); });
    SortByName(list);
    step_([&] {
      if (ArrayItem(list, 0).empty()) {
        no_files = true;
      } else if (state_.mblnRefreshDateInServerLevel) {
        if (register_later != nullptr) {
          *register_later = list;
        } else {
          RegisterLogFiles(site, list);
        }
      }
    });
  }
  return list;
}

void CollectionRun::RegisterLogFiles(const Site& site,
                                     const automation::StringArray& files) {
  store_.DumpLogFilesIntoDB(databases_[kHitsByHour].cn, site.name,
                            site.identifier, automation::Variant(files));
}

std::shared_ptr<iislog::IISLog> CollectionRun::CreateReader(
    iislog::ReadHooks read) {
  std::shared_ptr<iislog::IISLog> reader;
  step_([&] {
    reader = automation::CreateObjectAs<iislog::IISLog>("MSWC.IISLog");
    reader->SetHooks(std::move(read));
    reader->SetShareAccess(shares_);
  });
  if (!reader) {
    WriteErrorLog(Err().Number(), "Object Creation Error", RunSource(),
                  kRunProcedure);
  }
  return reader;
}

void CollectionRun::ReadSiteFiles(Site& site,
                                  const automation::StringArray& files,
                                  bool no_files) {
  reader_.reset();
  iislog::ReadHooks read = hooks_.read;
  if (hooks_.progress) read.observers.push_back(&measured_progress_);
  reader_ = CreateReader(std::move(read));
  if (!reader_ || no_files) return;
  const SiteReading reading{.reader = reader_.get(),
                            .count_observer = hooks_.count_observer};
  const int32_t file_count = automation::UBound(files) + 1;
  for (int32_t index = 0; index < file_count; ++index) {
    ReadLogFile(site, files[static_cast<size_t>(index)], reading);
    if (CancelCheck(CheckPoint::kFile)) break;
    if (win32::GetInputState() != 0) forms::DoEvents();
    ShowProgress(index + 1, file_count);
  }
}

void CollectionRun::ShowProgress(int32_t files_done, int32_t file_count) {
  step_([&] {
    if (hooks_.progress) {
      Dialog().SetProgress(hooks_.progress->PartsDone(), kProgressParts);
    } else {
      Dialog().SetProgress(files_done, file_count);
    }
  });
}

void CollectionRun::MeasuredProgress::ChunkRead() {
  const auto now = std::chrono::steady_clock::now();
  if (now - shown_ < std::chrono::milliseconds(100)) return;
  shown_ = now;
  run_.step_([this] {
    run_.Dialog().SetProgress(run_.hooks_.progress->PartsDone(),
                              kProgressParts);
  });
}

bool CollectionRun::CancelCheck(CheckPoint point) {
  if (!state_.mblnCancelRequested) return false;
  // Once confirmed, the file and site loops end without asking again.
  if (point != CheckPoint::kRecord && cancel_confirmed_) return true;
  int32_t answer = 0;
  step_([&] {
    answer = win32::MessageBox("Do you want to cancel this operation? ",
                               "VELNOR", kYesNoQuestionSecondDefault);
  });
  if (answer == kAnswerYes) {
    cancel_confirmed_ = true;
    return true;
  }
  state_.mblnCancelRequested = false;
  return false;
}

void CollectionRun::Close() {
  if (state_.mblnIsCollectRawData) {
    store_.ReleaseStatements();
    step_([&] { CloseConnection(databases_[kHitsByHour].cn); });
    FinishGrid();
    return;
  }
  if (hooks_.counted) hooks_.counted();
  step_([&] { store_.FinishCounting(); });
  store_.ReleaseStatements();
  for (auto& db : databases_) CloseRecordSet(db.rs, true);
  for (auto& db : databases_) step_([&] { CloseConnection(db.cn); });
}

}  // namespace velnor
