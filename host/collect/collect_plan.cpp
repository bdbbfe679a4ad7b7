// The run lock and each site's days: the plan of a collect run made under
// the lock, against the collection ledger as it is then.
#include "host/collect/collect_plan.h"

#include <fmt/format.h>

#include <filesystem>
#include <iostream>
#include <utility>

#include "host/collect/collect_clock.h"
#include "host/collect/collect_ledger.h"
#include "host/common/command_support.h"
#include "ledger/counted_days.h"
#include "ledger/ledger_files.h"
#include "platform/ado/pg_connection.h"
#include "platform/ado/session.h"
#include "platform/automation/error_state.h"
#include "platform/interrupt/interrupt.h"

namespace velnor::host {
namespace {

namespace fs = std::filesystem;

using reportdb::kReportKinds;
using reportdb::PgRunLock;
using reportdb::ReportKind;
using reportdb::RunLock;
using reportdb::RunLockAttempt;

// The exit status when `lock` was not taken (another run holds the
// databases, or the folder cannot hold the lock file), after the message;
// -1 when it was.
int LockProblem(const RunLockAttempt& lock, const CollectOptions& options,
                const PlannedRun& run) {
  if (lock.status == RunLock::Status::kCancelled) {
    return CancelledBeforeTheRun();
  }
  if (lock.status == RunLock::Status::kHeld) {
    Usage("another collection of " + run.server +
              (options.ftp ? " (FTP)" : " (web)") + " in " +
              run.location.Name() + " is running: " + lock.detail,
          "wait for it to end, or give --wait SECONDS to wait longer "
          "(now " +
              fmt::format("{:g}", options.wait) + ")");
    return kExitUsage;
  }
  if (lock.status == RunLock::Status::kUnusable && lock.file_refused) {
    Usage(lock.detail,
          "velnor takes its lock only on a file of its own; remove this one "
          "(no run holds it) and the next run makes its own");
    return kExitLoggedErrors;
  }
  if (lock.status == RunLock::Status::kUnusable) {
    Usage("the database folder " + options.db_dir +
              " cannot be written: " + lock.detail,
          "a run writes its databases and a lock file there; make the "
          "folder writable (or mount it read-write)");
    return kExitLoggedErrors;
  }
  return -1;
}

// Whether any of the report databases of the run holds counts (rows in a
// report or a site total); databases that are missing or cannot be read
// hold none. One session reads them all: in a central store each session
// is a connection, which costs the server more than the reads.
bool DatabasesHoldCounts(const CollectOptions& options, const PlannedRun& run) {
  bool counts = false;
  automation::ResumeNext([&] {
    auto session =
        ado::Session::BeginReading(WaitMs(options), run.location.MakeEngine());
    std::vector<std::pair<ReportKind, std::string>> attached;
    for (ReportKind kind : kReportKinds) {
      const std::string path =
          run.location.DatabasePath(kind, run.server, options.ftp);
      if (!run.location.IsPostgres() && !fs::exists(path)) continue;
      automation::ResumeNext(
          [&] { attached.emplace_back(kind, session->Attach(path)); });
      automation::Err().Clear();
    }
    for (const auto& [kind, schema] : attached) {
      std::vector<std::string> tables = {"tblGeneral"};
      if (kind == ReportKind::kHitsByHour) {
        tables.emplace_back("tblTotalAccess");
      }
      for (const std::string& table : tables) {
        automation::ResumeNext([&] {
          counts =
              counts ||
              session->Prepare("SELECT 1 FROM " + table + " LIMIT 1", schema)
                  ->Step();
        });
        automation::Err().Clear();
      }
    }
    session->Commit();
  });
  automation::Err().Clear();
  return counts;
}

// A ledger that is missing, or records no run yet (init-db makes one with
// the databases), beside databases that hold counts: those counts are of
// days the run cannot know, so it is refused unless --start-ledger says
// from which day on the ledger is to count. A raw listing counts nothing
// and goes on without a ledger. A ledger found is read into the run. The
// exit status when the run must not go on (after its message), -1 when it
// goes on.
int CheckLedgerStart(const CollectOptions& options, PlannedRun& run) {
  bool exists = false;
  if (!automation::ResumeNext([&] {
        exists = run.location.LedgerExists(run.server, options.ftp);
      })) {
    Usage("cannot use the collection ledger " +
              Shown(run.location.Shown(run.ledger_path)) + ": " +
              automation::Err().Description(),
          "nothing was collected; correct that and run again");
    automation::Err().Clear();
    return kExitUsage;
  }
  run.ledger_found = exists;
  if (exists) {
    if (int status = ReadLedgerBeforeRun(run.location, run.server, options.ftp,
                                         WaitMs(options), run.ledger);
        status >= 0) {
      return status;
    }
  }
  const bool started = exists && !run.ledger.runs.empty();
  if (started && run.start_ledger) {
    Usage("--start-ledger starts a collection ledger, and " +
              Shown(run.location.Shown(run.ledger_path)) +
              " exists already and records runs",
          "nothing was collected; leave --start-ledger out: the ledger "
          "knows what was counted");
    return kExitUsage;
  }
  if (started || run.start_ledger || !DatabasesHoldCounts(options, run)) {
    return -1;
  }
  if (options.raw) {
    run.ledger_path.clear();
    return -1;
  }
  Usage("the report databases of " + run.server +
            (options.ftp ? " (FTP)" : " (web)") + " in " + run.location.Name() +
            " hold counts, but " +
            (exists ? "the collection ledger beside them (" +
                          ledger::LedgerFileName(run.server, options.ftp) +
                          ") records no run: another program filled them"
                    : "there is no collection ledger beside them (" +
                          ledger::LedgerFileName(run.server, options.ftp) +
                          "): it was deleted, or another program filled "
                          "them") +
            ", so which days they hold cannot be told",
        "nothing was collected; restore the ledger from a backup, or give "
        "--start-ledger DAY to start one that takes the days before DAY as "
        "counted and collects DAY and later");
  return kExitUsage;
}

}  // namespace

// Reads the ledger and decides each site's days (see collect_window.h);
// sites with nothing to collect are left out of the run. The exit status
// when the run must not go on (after its message; 0 when there is nothing
// to collect), -1 when it goes on.
int PlanDays(const CollectOptions& options, PlannedRun& run) {
  run.ledger_path = run.location.LedgerPath(run.server, options.ftp);
  if (int status = CheckLedgerStart(options, run); status >= 0) {
    return status;
  }
  if (run.start_ledger) {
    run.ledger.runs.push_back(LedgerStartRow(
        run.server, options.ftp, static_cast<ledger::Day>(*run.start_ledger),
        UtcStamp(CollectNow())));
  }
  run.today = LogDayOf(CollectNow());
  auto day = [](const std::optional<double>& date) {
    return date ? std::optional<ledger::Day>(static_cast<ledger::Day>(*date))
                : std::nullopt;
  };
  const WindowRequest request{
      day(run.from),   day(run.to), options.since_last, options.partial_day,
      options.recount, options.raw, run.today};
  std::optional<std::vector<SiteWindow>> windows =
      PlanWindows(request, run.sites, run.ledger,
                  ledger::CountedDays(run.ledger), run.notes);
  if (!windows) return kExitUsage;
  std::vector<std::string> sites;
  for (size_t i = 0; i < windows->size(); ++i) {
    if ((*windows)[i].Empty()) continue;
    sites.push_back(run.sites[i]);
    run.windows.push_back((*windows)[i]);
  }
  run.sites = std::move(sites);
  if (!run.sites.empty()) {
    if (!run.ledger_path.empty() && options.statistics) {
      run.statistics_path =
          run.location.StatisticsPath(run.server, options.ftp);
    }
    return -1;
  }
  for (const std::string& note : run.notes) std::cerr << note << "\n";
  std::cerr << "nothing to collect for " << run.server
            << (options.ftp ? " (ftp)" : " (web)") << "\n";
  return kExitCompleted;
}

int TakeRunLock(const CollectOptions& options, const PlannedRun& run,
                HeldRunLock& lock) {
  // A central store's runs are serialised by an advisory lock, a
  // folder's by a lock file in it.
  RunLockAttempt attempt = run.location.IsPostgres()
                               ? RunLockAttempt{}
                               : RunLock::Acquire(options.db_dir, run.server,
                                                  options.ftp, options.wait);
  if (run.location.IsPostgres()) {
    try {
      lock.store =
          PgRunLock::Acquire(run.location.db_url, run.server, options.ftp,
                             options.wait, attempt.detail);
    } catch (const ado::pg::PgError& error) {
      Usage("cannot reach the report store " + run.location.db_url + ": " +
                error.what(),
            StoreUnreachableHelp(run.location.db_url));
      return kExitUsage;
    }
    attempt.status = lock.store                 ? RunLock::Status::kTaken
                     : interrupt::Interrupted() ? RunLock::Status::kCancelled
                                                : RunLock::Status::kHeld;
  }
  if (attempt.lock) lock.file.emplace(std::move(*attempt.lock));
  return LockProblem(attempt, options, run);
}

int CancelledBeforeTheRun() {
  std::cerr << kCancelledBeforeTheRun;
  return kExitCancelled;
}

// `status`, or the cancelled one when an interrupt came meanwhile: a wait
// for a database another process holds ends early then, and fails.
int Stopped(int status) {
  if (!interrupt::Interrupted()) return status;
  return CancelledBeforeTheRun();
}

int WaitMs(const CollectOptions& options) {
  return static_cast<int>(options.wait * 1000);
}

}  // namespace velnor::host
