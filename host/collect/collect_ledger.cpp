// Each step before the run is a short session of its own on the ledger
// alone; the run's start and failure are transactions apart in its session.
#include "host/collect/collect_ledger.h"

#include <set>
#include <utility>

#include "host/collect/collect_options.h"
#include "host/common/command_support.h"
#include "host/render/text_format.h"
#include "platform/ado/ado.h"
#include "platform/ado/session.h"
#include "platform/automation/error_state.h"

namespace velnor::host {

int ReadLedgerBeforeRun(const reportdb::ReportLocation& location,
                        const std::string& server, bool is_ftp,
                        int lock_wait_ms, ledger::LedgerContents& contents) {
  const std::string path = location.LedgerPath(server, is_ftp);
  bool read = automation::ResumeNext([&] {
    auto session =
        ado::Session::BeginReading(lock_wait_ms, location.MakeEngine());
    ledger::LedgerStore store(*session, session->Attach(path));
    contents = store.ReadAll();
    session->Commit();
  });
  if (read) return -1;
  std::string reason = automation::Err().Description();
  // Only a missing table is worth a second look: a ledger locked or
  // unreadable would keep the probe waiting as long again.
  const bool no_table = automation::Err().Number() == ado::kErrTableNotFound;
  automation::Err().Clear();
  if (auto [problem, help] =
          no_table ? LedgerLacksTable(location, path, lock_wait_ms,
                                      /*collecting=*/true)
                   : std::pair<std::string, std::string>();
      !problem.empty()) {
    Usage(problem, help);
    return kExitUsage;
  }
  Usage("cannot use the collection ledger " + Shown(location.Shown(path)) +
            ": " + reason,
        "nothing was collected; the ledger records what each run "
        "counted, so a run needs it: correct that and run again");
  return kExitLoggedErrors;
}

bool MakeLedger(const reportdb::ReportLocation& location,
                const std::string& server, bool is_ftp) {
  bool made =
      automation::ResumeNext([&] { location.CreateLedger(server, is_ftp); });
  if (made) return true;
  std::string reason = automation::Err().Description();
  automation::Err().Clear();
  return Usage("cannot use the collection ledger " +
                   Shown(location.Shown(location.LedgerPath(server, is_ftp))) +
                   ": " + reason,
               "nothing was collected; the ledger records what each run "
               "counted, so a run needs it: correct that and run again");
}

bool MakeStatistics(const reportdb::ReportLocation& location,
                    const std::string& server, bool is_ftp) {
  bool made = automation::ResumeNext(
      [&] { location.CreateStatistics(server, is_ftp); });
  if (made) return true;
  std::string reason = automation::Err().Description();
  automation::Err().Clear();
  return Usage(
      "cannot use the statistics database " +
          Shown(location.Shown(location.StatisticsPath(server, is_ftp))) +
          ": " + reason,
      "nothing was collected; correct that and run again, or give "
      "--no-statistics to keep the counts only");
}

int64_t RecordRunStart(ado::Session& session, const std::string& ledger_schema,
                       ledger::RunRow run, const ledger::RunRow* ledger_start) {
  session.CommitApart([&] {
    ledger::LedgerStore store(session, ledger_schema);
    if (ledger_start != nullptr) {
      ledger::RunRow start = *ledger_start;
      start.run_id = store.NextRunId();
      store.AddRun(start);
      store.EndRun(start.run_id, start.started, ledger::Outcome::kCompleted, 0);
    }
    run.run_id = store.NextRunId();
    store.AddRun(run);
  });
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

void RecordRunFailed(ado::Session& session, const std::string& ledger_schema,
                     int64_t run_id, const std::string& ended) {
  automation::ResumeNext([&] {
    session.CommitApart([&] {
      ledger::LedgerStore(session, ledger_schema)
          .EndRun(run_id, ended, ledger::Outcome::kFailed, 0);
    });
  });
  automation::Err().Clear();
}

void CheckNothingCountedMeanwhile(ledger::LedgerStore& store,
                                  const ledger::LedgerContents& before,
                                  const std::vector<ledger::DayRow>& days,
                                  bool central) {
  std::set<int64_t> known;
  for (const ledger::RunRow& run : before.runs) {
    if (!run.ended.empty()) known.insert(run.run_id);
  }
  std::set<std::pair<std::string, ledger::Day>> counting;
  int64_t self = 0;
  for (const ledger::DayRow& day : days) {
    self = day.run_id;
    if (day.hits > 0) counting.insert({day.site, day.day});
  }
  std::string clash;
  for (const ledger::DayRow& day : store.EndedDaysWithHits()) {
    if (day.run_id == self || known.contains(day.run_id) ||
        !counting.contains({day.site, day.day})) {
      continue;
    }
    AppendListItem(clash, ", ",
                   ledger::DayText(day.day) + " of site " + Shown(day.site) +
                       " by run " + std::to_string(day.run_id));
  }
  if (clash.empty()) return;
  automation::Raise(
      automation::kErrPermissionDenied,
      "another run of the same databases committed while this one ran and "
      "counted the same days (" +
          clash +
          (central ? "); its run lock was bypassed (a writer that took no "
                     "advisory lock?). Check that one collection of a server "
                     "at a time uses the store"
                   : "); its run lock was bypassed (the lock file deleted or "
                     "replaced?). Check that one collection at a time uses "
                     "the folder"));
}

}  // namespace velnor::host
