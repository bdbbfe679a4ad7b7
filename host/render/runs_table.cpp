// Runs as rows. Times are shown in UTC, as the ledger keeps them and as
// the logs' days are counted.
#include "host/render/runs_table.h"

#include <algorithm>

#include "host/render/report_days.h"
#include "host/render/text_format.h"
#include "platform/automation/variant.h"

namespace velnor::host {

std::string OutcomeShown(const ledger::RunRow& run, bool running) {
  if (run.outcome == ledger::Outcome::kInterrupted && running) {
    return "running";
  }
  std::string outcome(ledger::OutcomeText(run.outcome));
  if (run.outcome == ledger::Outcome::kInterrupted ||
      run.outcome == ledger::Outcome::kFailed) {
    outcome += ", nothing counted";
  }
  return outcome;
}

std::string WindowShown(const ledger::RunRow& run) {
  return ledger::DaysText(run.first_day, run.last_day) +
         (run.partial_day ? " (today in part)" : "");
}

std::vector<std::vector<std::string>> RunRows(
    const std::vector<ledger::RunRow>& runs, bool servers, int64_t running) {
  std::vector<std::vector<std::string>> rows;
  std::vector<std::string> header = {"run",     "started (UTC)", "ended (UTC)",
                                     "outcome", "window",        "sites",
                                     "records", "mode"};
  if (servers) header.insert(header.begin() + 1, {"server", "service"});
  rows.push_back(header);
  for (const ledger::RunRow& run : runs) {
    const bool raw = run.mode == "raw";
    std::string records =
        run.outcome == ledger::Outcome::kInterrupted ||
                run.outcome == ledger::Outcome::kFailed
            ? "-"
            : std::to_string(run.records) + (raw ? " listed" : "");
    std::vector<std::string> row = {
        std::to_string(run.run_id),
        CleanUtf8(ShownUtc(run.started).substr(0, 19), true),
        run.ended.empty() ? "-"
                          : CleanUtf8(ShownUtc(run.ended).substr(0, 19), true),
        OutcomeShown(run, run.run_id == running),
        WindowShown(run),
        CleanUtf8(run.sites, true),
        records,
        CleanUtf8(run.mode, true)};
    if (servers) {
      row.insert(row.begin() + 1,
                 {CleanUtf8(run.server, true), run.is_ftp ? "ftp" : "web"});
    }
    rows.push_back(std::move(row));
  }
  return rows;
}

Json RunJson(const ledger::RunRow& run, bool running) {
  Json sites = Json::array();
  for (const std::string& site : automation::Split(run.sites, ",")) {
    sites.push_back(JsonText(site));
  }
  const std::string outcome =
      running && run.outcome == ledger::Outcome::kInterrupted
          ? "running"
          : std::string(ledger::OutcomeText(run.outcome));
  return {{"run", run.run_id},
          {"server", JsonText(run.server)},
          {"service", run.is_ftp ? "ftp" : "web"},
          {"started", JsonText(run.started)},
          {"ended", JsonTextOrNull(run.ended)},
          {"outcome", outcome},
          {"mode", JsonText(run.mode)},
          {"partial_day", run.partial_day},
          {"first_day", ledger::DayText(run.first_day)},
          {"last_day", ledger::DayText(run.last_day)},
          {"sites", sites},
          {"records", run.records}};
}

std::string AlignedColumns(const std::vector<std::vector<std::string>>& rows,
                           const std::string& indent) {
  std::vector<size_t> widths;
  for (const auto& row : rows) {
    widths.resize(std::max(widths.size(), row.size()), 0);
    for (size_t i = 0; i < row.size(); ++i) {
      widths[i] = std::max(widths[i], DisplayWidth(row[i]));
    }
  }
  std::string text;
  for (const auto& row : rows) {
    std::string line = indent;
    for (size_t i = 0; i < row.size(); ++i) {
      line += row[i];
      if (i + 1 < row.size()) {
        line += std::string(widths[i] - DisplayWidth(row[i]) + 2, ' ');
      }
    }
    line.erase(line.find_last_not_of(' ') + 1);
    text += line + "\n";
  }
  return text;
}

}  // namespace velnor::host
