// Each step is a short session of its own on the ledger alone.
#include "host/collect_ledger.h"

#include <filesystem>

#include "host/command_support.h"
#include "ledger/ledger_schema.h"
#include "platform/ado/session.h"
#include "platform/automation/error_state.h"

namespace velnor::host {

namespace {

bool LedgerUnusable(const std::string& path) {
  std::string reason = automation::Err().Description();
  automation::Err().Clear();
  return Usage(
      "cannot use the collection ledger " + Shown(path) + ": " + reason,
      "nothing was collected; the ledger records what each run "
      "counted, so a run needs it: correct that and run again");
}

}  // namespace

bool MakeLedger(const std::string& path) {
  if (path.empty() ||
      automation::ResumeNext([&] { ledger::CreateLedger(path); })) {
    return true;
  }
  return LedgerUnusable(path);
}

bool ReadLedgerBeforeRun(const std::string& path, int lock_wait_ms,
                         ledger::LedgerContents& contents) {
  if (!std::filesystem::exists(path)) return true;
  bool read = automation::ResumeNext([&] {
    auto session = ado::Session::BeginReading(lock_wait_ms);
    ledger::LedgerStore store(*session, session->Attach(path));
    contents = store.ReadAll();
    session->Commit();
  });
  return read || LedgerUnusable(path);
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
