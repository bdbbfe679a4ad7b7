// Each step is a short session of its own on the ledger alone.
#include "host/collect_ledger.h"

#include "host/command_support.h"
#include "ledger/ledger_schema.h"
#include "platform/ado/session.h"
#include "platform/automation/error_state.h"

namespace velnor::host {

bool ReadLedgerBeforeRun(const std::string& path, int lock_wait_ms,
                         ledger::LedgerContents& contents) {
  bool read = automation::ResumeNext([&] {
    ledger::CreateLedger(path);
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

int64_t RecordRunStart(const std::string& path, int lock_wait_ms,
                       ledger::RunRow run) {
  auto session = ado::Session::Private(lock_wait_ms);
  ledger::LedgerStore store(*session, session->Attach(path));
  run.run_id = store.NextRunId();
  store.AddRun(run);
  session->Commit();
  return run.run_id;
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
