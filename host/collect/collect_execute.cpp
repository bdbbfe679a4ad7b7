// A planned collect run executed in its session, up to the commit.
#include "host/collect/collect_execute.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <iostream>
#include <map>

#include "dbsupport/error_log.h"
#include "host/collect/collect_clock.h"
#include "host/collect/collect_ledger.h"
#include "host/collect/log_file_days.h"
#include "host/collect/run_progress.h"
#include "host/collect/unregistered_files.h"
#include "host/common/command_support.h"
#include "host/render/text_format.h"
#include "platform/automation/error_state.h"
#include "platform/interrupt/interrupt.h"
#include "reportdb/log_file_registry.h"
#include "reportdb/schema.h"

namespace velnor::host {
namespace {

using reportdb::ReportKind;

// Whether the file `name` of `site` may hold records of the site's window
// still to count: by the days the ledger saw in it, else by its name; a
// file whose days cannot be told may.
InWindow FileInWindow(const PlannedRun& run,
                      const ledger::CountedDays& counted) {
  return [&run, &counted](const SiteFolder& folder, const std::string& name) {
    const std::string& site = folder.identifier;
    const SiteWindow* window = nullptr;
    for (const SiteWindow& candidate : run.windows) {
      if (candidate.identifier == site) window = &candidate;
    }
    if (window == nullptr) return true;
    std::optional<FileDays> days;
    const ledger::FileRow* seen = counted.LatestFile(site, name);
    if (seen != nullptr && !seen->first_record.empty()) {
      days = FileDays{ledger::ParseDayText(seen->first_record.substr(0, 10)),
                      ledger::ParseDayText(seen->last_record.substr(0, 10))};
    } else {
      days = DaysInLogFileName(name, folder.six_digit_names);
    }
    if (!days) return true;
    // Days of the window counted whole already are passed over whatever
    // the file holds.
    const ledger::Day last = std::min(days->last, window->last);
    for (ledger::Day day = std::max(days->first, window->first); day <= last;
         ++day) {
      if (!std::binary_search(window->done.begin(), window->done.end(), day)) {
        return true;
      }
    }
    return false;
  };
}

int TerminalColumns() {
  winsize size{};
  for (int fd : {STDOUT_FILENO, STDERR_FILENO}) {
    if (ioctl(fd, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) {
      return size.ws_col;
    }
  }
  return 120;
}

// The listing's writes may wait for ever on a reader that stopped reading
// (a pipe to a program that hangs). Raw mode stores no counts, so an
// interrupt may end the process there.
class AbandonableWriter : public forms::GridWriter {
 public:
  AbandonableWriter(std::unique_ptr<forms::GridWriter> inner, std::ostream& out)
      : inner_(std::move(inner)), out_(out) {}

  void Row(const std::vector<std::string>& cells) override {
    interrupt::AbandonScope abandon(kStopped);
    inner_->Row(cells);
  }
  void End(const forms::GridLayout& layout) override {
    interrupt::AbandonScope abandon(kStopped);
    inner_->End(layout);
    out_.flush();
  }

 private:
  static constexpr char kStopped[] =
      "velnor: stopped while the listing waited for its reader; the rows "
      "before were written\n";

  std::unique_ptr<forms::GridWriter> inner_;
  std::ostream& out_;
};

// The run's ledger row as it starts: the window is the span of the sites'
// windows.
ledger::RunRow StartedRun(const CollectOptions& options,
                          const PlannedRun& run) {
  ledger::RunRow row;
  row.server = run.server;
  row.is_ftp = options.ftp;
  for (const SiteWindow& window : run.windows) {
    const bool first = row.sites.empty();
    AppendListItem(row.sites, ",", window.identifier);
    row.first_day =
        first ? window.first : std::min(row.first_day, window.first);
    row.last_day = first ? window.last : std::max(row.last_day, window.last);
  }
  row.mode = options.raw ? "raw" : options.recount ? "recount" : "count";
  row.partial_day = options.partial_day;
  row.started = UtcStamp(CollectNow());
  return row;
}

}  // namespace

// Joins the report databases the run will open, then the ledger, to
// `session` before any statement runs, so that the registry work before the
// run, the run itself and its ledger rows are one transaction. Nothing,
// after the message, when one cannot be used (locked, read-only, not a
// database).
std::optional<JoinedSchemas> JoinDatabases(ado::Session& session,
                                           const CollectOptions& options,
                                           const PlannedRun& run) {
  auto join = [&](const std::string& path,
                  const char* what) -> std::optional<std::string> {
    try {
      return session.Attach(path);
    } catch (const automation::AutomationError& error) {
      Usage(std::string("cannot use the ") + what + " " + Shown(path) + ": " +
                error.description(),
            "nothing was collected; correct that, or give --wait SECONDS "
            "when another program holds it, and run again");
      return std::nullopt;
    }
  };
  JoinedSchemas schemas;
  for (ReportKind kind : reportdb::kReportKinds) {
    if (options.raw && kind != ReportKind::kHitsByHour) continue;
    std::optional<std::string> schema =
        join(run.location.DatabasePath(kind, run.server, options.ftp),
             "report database");
    if (!schema) return std::nullopt;
    if (kind == ReportKind::kHitsByHour) schemas.hour = *schema;
  }
  if (run.ledger_path.empty()) return schemas;  // a raw listing without one
  std::optional<std::string> ledger =
      join(run.ledger_path, "collection ledger");
  if (!ledger) return std::nullopt;
  schemas.ledger = *ledger;
  if (run.statistics_path.empty()) return schemas;
  std::optional<std::string> statistics =
      join(run.statistics_path, "statistics database");
  if (!statistics) return std::nullopt;
  schemas.statistics = *statistics;
  return schemas;
}

std::vector<std::string> CheckRegistry(const CollectOptions& options,
                                       const PlannedRun& run,
                                       const std::vector<SiteFolder>& folders,
                                       ado::Session& session,
                                       const std::string& hour_schema,
                                       const ledger::CountedDays& counted,
                                       std::set<std::string>& unread_sites) {
  std::vector<std::string> notes;
  automation::ResumeNext([&] {
    reportdb::LogFileRegistry registry(
        session, hour_schema, std::string(reportdb::SiteColumn(options.ftp)));
    for (const UnregisteredFiles& files : FindUnregisteredFiles(
             registry, run.server, folders, options.log_site_level,
             options.refresh_registry, FileInWindow(run, counted))) {
      if (options.register_new_files && files.site_registered) {
        registry.Register(run.server, files.site->identifier,
                          files.site->site_name, files.names);
        std::cerr << "registered " << files.names.size() << " new log file"
                  << (files.names.size() == 1 ? "" : "s") << " of site "
                  << files.site->identifier << " ("
                  << Shown(files.site->site_name) << ")\n";
      } else if (!files.in_window.empty()) {
        notes.push_back(UnregisteredNote(files));
        unread_sites.insert(files.site->identifier);
      }
    }
  });
  if (automation::Err().Number() != 0) {
    WriteErrorLog(automation::Err().Number(), automation::Err().Description(),
                  "velnor collect", "CheckLogFileRegistry");
    automation::Err().Clear();
  }
  return notes;
}

forms::BackendPreference Progress(const CollectOptions& options) {
  if (options.quiet) return forms::BackendPreference::kQuiet;
  const bool tty = isatty(STDIN_FILENO) && isatty(STDERR_FILENO);
  // Rows streaming onto the terminal would run through the dialog.
  const bool listing_on_terminal = options.raw && options.output.empty() &&
                                   options.format != "table" &&
                                   isatty(STDOUT_FILENO);
  return options.no_tui || !tty || listing_on_terminal
             ? forms::BackendPreference::kHeadless
             : forms::BackendPreference::kAuto;
}

std::vector<SiteFolder> SurveyFolders(LogParserInterface& parser,
                                      const CollectOptions& options,
                                      PlannedRun& run) {
  std::vector<SiteFolder> folders =
      SurveyLogFolders(parser, run.shares, run.server, options.ftp, run.sites);
  for (const SiteFolder& folder : folders) {
    if (folder.read_from.empty()) continue;
    run.notes.push_back("FTP site " + folder.identifier + " \"" +
                        folder.site_name + "\": read from " + folder.read_from +
                        ", the folder IIS 7.5 and later write, as " +
                        folder.folder + " does not exist");
  }
  return folders;
}

std::optional<int64_t> RecordStart(const CollectOptions& options,
                                   const PlannedRun& run, ado::Session& session,
                                   const std::string& ledger_schema) {
  int64_t run_id = 0;
  if (!ledger_schema.empty()) {
    try {
      const ledger::RunRow* start =
          run.start_ledger ? &run.ledger.runs.back() : nullptr;
      run_id = RecordRunStart(session, ledger_schema, StartedRun(options, run),
                              start);
    } catch (const automation::AutomationError& error) {
      Usage("cannot record the run in the collection ledger " +
                Shown(run.location.Shown(run.ledger_path)) + ": " +
                error.description(),
            "nothing was collected; correct that and run again");
      return std::nullopt;
    }
  }
  return run_id;
}

std::shared_ptr<forms::StreamingGrid> MakeListingGrid(PlannedRun& run,
                                                      std::ostream& listing) {
  return std::make_shared<forms::StreamingGrid>(
      static_cast<float>(TerminalColumns()) * kTwipsPerChar,
      std::make_unique<AbandonableWriter>(std::move(run.listing_writer),
                                          listing));
}

// The hooks of one site read beside others: its own progress observer,
// ledger and statistics, merged into the run's.
class SitePartHooks : public RunPart {
 public:
  SitePartHooks(RunProgress& progress, RunLedger* ledger,
                RunStatisticsObserver* statistics)
      : progress_(progress.MakePart()),
        ledger_(ledger ? ledger->MakePart() : nullptr),
        statistics_(statistics ? statistics->MakePart(ledger_.get()) : nullptr),
        into_ledger_(ledger),
        into_statistics_(statistics) {}
  CountObserver* count_observer() override {
    if (statistics_) return statistics_.get();
    return ledger_.get();
  }
  iislog::ReadHooks read_hooks() override {
    iislog::ReadHooks read;
    read.observers.push_back(progress_.get());
    if (ledger_) {
      read.observers.push_back(ledger_.get());
      read.planner = ledger_.get();
    }
    read.counters = &progress_->counters;
    return read;
  }
  void Merge() override {
    if (into_ledger_) into_ledger_->Merge(*ledger_);
    if (into_statistics_) into_statistics_->Merge(*statistics_);
  }

 private:
  std::unique_ptr<RunProgress::Part> progress_;
  std::unique_ptr<RunLedger> ledger_;
  std::unique_ptr<RunStatisticsObserver> statistics_;
  RunLedger* into_ledger_;
  RunStatisticsObserver* into_statistics_;
};

class SiteParts : public RunPartMaker {
 public:
  SiteParts(RunProgress& progress, RunLedger* ledger,
            RunStatisticsObserver* statistics)
      : progress_(progress), ledger_(ledger), statistics_(statistics) {}
  std::unique_ptr<RunPart> MakePart() override {
    return std::make_unique<SitePartHooks>(progress_, ledger_, statistics_);
  }

 private:
  RunProgress& progress_;
  RunLedger* ledger_;
  RunStatisticsObserver* statistics_;
};

// Runs the component once per set of sites that share a window (one call
// for a window given with --from and --to), until one is cancelled, with a
// collector set up by `settings`. The status line and the ledger watch the
// whole of it.
CollectedGroups CollectGroups(
    const RunSettings& settings, const CollectOptions& options,
    const PlannedRun& run, const std::vector<SiteFolder>& folders,
    const std::shared_ptr<forms::StreamingGrid>& grid, RunLedger* recorder,
    RunStatisticsObserver* statistics, const std::function<void()>& counted) {
  std::map<std::pair<ledger::Day, ledger::Day>, std::vector<size_t>> groups;
  std::vector<std::pair<ledger::Day, ledger::Day>> order;
  for (size_t i = 0; i < run.windows.size(); ++i) {
    std::pair<ledger::Day, ledger::Day> key{run.windows[i].first,
                                            run.windows[i].last};
    if (!groups.contains(key)) order.push_back(key);
    groups[key].push_back(i);
  }
  CollectedGroups collected;
  iislog::ReadCounters read;
  RunProgress progress(folders, read);
  RunHooks hooks;
  hooks.read.observers.push_back(&progress);
  hooks.read.counters = &read;
  hooks.progress = &progress;
  hooks.status_line = [&progress] { return progress.StatusLine(); };
  if (recorder) {
    hooks.count_observer = recorder;
    hooks.read.observers.push_back(recorder);
    hooks.read.planner = recorder;
  }
  // It hears each counted record first and passes it on to the ledger.
  if (statistics) hooks.count_observer = statistics;
  SiteParts parts(progress, recorder, statistics);
  hooks.parts = &parts;
  // Each window's run counts and then writes; only after the last one is
  // all of the run counted.
  bool last = false;
  if (counted) {
    hooks.counted = [&last, &counted] {
      if (last) counted();
    };
  }
  const std::shared_ptr<LogParserInterface> collector =
      CreateLogParser(hooks, settings);
  LogParserInterface& parser = *collector;
  parser.SetErrorLogPath(run.error_log);
  for (const auto& key : order) {
    last = &key == &order.back();
    std::vector<std::string> descriptors;
    for (size_t i : groups[key]) descriptors.push_back(run.sites[i]);
    parser.CollectIISLogData(
        run.server, options.ftp, key.first, key.second, run.location.AppPath(),
        options.raw, grid,
        std::make_shared<automation::Collection>(descriptors),
        options.log_site_level, options.refresh_registry);
    const RunSummary part = LastRunSummary(parser);
    for (int32_t i = 0; i < part.sites && i < std::ssize(groups[key]); ++i) {
      collected.reached.insert(
          run.windows[groups[key][static_cast<size_t>(i)]].identifier);
    }
    RunSummary& all = collected.summary;
    all.sites += part.sites;
    all.records += part.records;
    all.cancel_confirmed = part.cancel_confirmed;
    all.sites_at_once = std::max(all.sites_at_once, part.sites_at_once);
    for (const std::string& name : part.counted_record_by_record) {
      if (std::find(all.counted_record_by_record.begin(),
                    all.counted_record_by_record.end(),
                    name) == all.counted_record_by_record.end()) {
        all.counted_record_by_record.push_back(name);
      }
    }
    if (part.cancel_confirmed) break;
  }
  return collected;
}

}  // namespace velnor::host
