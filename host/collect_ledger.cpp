// Each step is a short session of its own on the ledger alone.
#include "host/collect_ledger.h"

#include <sys/stat.h>

#include "host/command_support.h"
#include "ledger/ledger_schema.h"
#include "platform/ado/session.h"
#include "platform/automation/error_state.h"

namespace velnor::host {

bool LedgerExists(const std::string& path) {
  struct stat info {};
  return ::lstat(path.c_str(), &info) == 0;
}

bool ReadLedgerBeforeRun(const std::string& path, int lock_wait_ms,
                         ledger::LedgerContents& contents) {
  if (!LedgerExists(path)) return true;
  bool read = automation::ResumeNext([&] {
    auto session = ado::Session::BeginReading(lock_wait_ms);
    ledger::LedgerStore store(*session, session->Attach(path));
    contents = store.ReadAll();
    session->Commit();
  });
  if (read) return true;
  std::string reason = automation::Err().Description();
  automation::Err().Clear();
  return Usage(
      "cannot use the collection ledger " + Shown(path) + ": " + reason,
      "nothing was collected; the ledger records what each run "
      "counted, so a run needs it: correct that and run again");
}

bool MakeLedger(const std::string& path) {
  bool made = automation::ResumeNext([&] { ledger::CreateLedger(path); });
  if (made) return true;
  std::string reason = automation::Err().Description();
  automation::Err().Clear();
  return Usage(
      "cannot use the collection ledger " + Shown(path) + ": " + reason,
      "nothing was collected; the ledger records what each run "
      "counted, so a run needs it: correct that and run again");
}

int64_t RecordRunStart(const std::string& path, int lock_wait_ms,
                       ledger::RunRow run, const ledger::RunRow* ledger_start) {
  auto session = ado::Session::Private(lock_wait_ms);
  ledger::LedgerStore store(*session, session->Attach(path));
  if (ledger_start != nullptr) {
    ledger::RunRow start = *ledger_start;
    start.run_id = store.NextRunId();
    store.AddRun(start);
    store.EndRun(start.run_id, start.started, ledger::Outcome::kCompleted, 0);
  }
  run.run_id = store.NextRunId();
  store.AddRun(run);
  session->Commit();
  return run.run_id;
}

ledger::RunRow LedgerStartRow(const std::string& server, bool is_ftp,
                              ledger::Day first_day,
                              const std::string& started) {
  ledger::RunRow row;
  row.run_id = 1;  // the ledger is new
  row.server = server;
  row.is_ftp = is_ftp;
  row.first_day = first_day;
  row.last_day = first_day;
  row.mode = std::string(ledger::kLedgerStartMode);
  row.started = started;
  row.ended = started;
  row.outcome = ledger::Outcome::kCompleted;
  return row;
}

void RecordRunFailed(const std::string& path, int lock_wait_ms, int64_t run_id,
                     const std::string& ended) {
  automation::ResumeNext([&] {
    auto session = ado::Session::Private(lock_wait_ms);
    ledger::LedgerStore store(*session, session->Attach(path));
    store.EndRun(run_id, ended, ledger::Outcome::kFailed, 0);
    session->Commit();
  });
  automation::Err().Clear();
}

}  // namespace velnor::host
