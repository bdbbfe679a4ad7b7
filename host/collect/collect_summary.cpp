// Error-log lines are shown by procedure and description, whole and
// wrapped to lines a terminal or a mail shows without cutting them.
#include "host/collect/collect_summary.h"

#include "host/common/command_support.h"
#include "host/render/text_format.h"

namespace velnor::host {
namespace {

// Columns of a wrapped line, its indentation included.
constexpr size_t kLineColumns = 100;

}  // namespace

void PrintCollectSummary(const CollectOutcome& outcome, std::ostream& out) {
  out << SummaryLine(outcome.run, outcome.server, outcome.ftp, outcome.seconds,
                     outcome.listed)
      << "\n";
  for (const std::string& note : outcome.notes) out << note << "\n";
  const ErrorLogTally& errors = outcome.errors;
  out << "error log: " << errors.written << " new line"
      << (errors.written == 1 ? "" : "s") << " in " << outcome.error_log
      << "\n";
  for (const ErrorLogEntry& entry : errors.first_entries) {
    const std::vector<std::string> lines =
        WrapText(entry.procedure + ": " + entry.description, kLineColumns - 4);
    for (size_t i = 0; i < lines.size(); ++i) {
      out << (i == 0 ? "  " : "    ") << lines[i] << "\n";
    }
  }
  const auto shown = static_cast<int64_t>(errors.first_entries.size());
  const int64_t more = errors.written + errors.lost - shown;
  if (more > 0)
    out << "  and " << more << " more in " << outcome.error_log << "\n";
  if (errors.lost > 0) {
    out << "  (" << errors.lost << " of them could not be written to "
        << outcome.error_log << ")\n";
  }
}

}  // namespace velnor::host
