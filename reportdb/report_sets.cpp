// Report sets by name: a folder's files are listed, a store's schemas
// asked for; the four names of a set differ only in the kind's word.
#include "reportdb/report_sets.h"

#include <algorithm>
#include <filesystem>
#include <system_error>
#include <tuple>

#include "platform/automation/error_state.h"
#include "reportdb/pg_schema.h"

namespace velnor::reportdb {
namespace {

std::string Lowered(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(), [](char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
  });
  return text;
}

void AddSet(std::vector<ReportSet>& sets, ReportSet set) {
  for (const ReportSet& known : sets) {
    if (known.is_ftp == set.is_ftp && known.server == set.server) return;
  }
  sets.push_back(std::move(set));
}

}  // namespace

bool ParseReportName(std::string_view name, bool schema, ReportSet& set) {
  const std::string_view ending = schema ? "" : ".mdb";
  if (!name.ends_with(ending)) return false;
  name.remove_suffix(ending.size());
  for (bool is_ftp : {false, true}) {
    for (ReportKind kind : kReportKinds) {
      std::string prefix = "QDX_UA" + DatabaseWord(kind, is_ftp) + "_";
      if (schema) prefix = Lowered(prefix);
      if (name.size() > prefix.size() && name.starts_with(prefix)) {
        set = {std::string(name.substr(prefix.size())), is_ftp};
        return true;
      }
    }
  }
  return false;
}

std::vector<ReportSet> FindReportSets(const ReportLocation& location) {
  std::vector<ReportSet> sets;
  ReportSet set;
  if (location.IsPostgres()) {
    for (const std::string& schema : ReportSchemas(location.db_url)) {
      if (ParseReportName(schema, true, set)) AddSet(sets, set);
    }
  } else {
    std::error_code error;
    std::filesystem::directory_iterator entries(location.db_dir, error);
    for (; !error && entries != std::filesystem::directory_iterator();
         entries.increment(error)) {
      if (ParseReportName(entries->path().filename().string(), false, set)) {
        AddSet(sets, set);
      }
    }
    if (error) {
      automation::Raise(automation::kErrPermissionDenied,
                        "Could not list the folder '" + location.db_dir +
                            "': " + error.message() + ".");
    }
  }
  std::sort(sets.begin(), sets.end(),
            [](const ReportSet& a, const ReportSet& b) {
              const std::string left = Lowered(a.server);
              const std::string right = Lowered(b.server);
              return std::tie(left, a.is_ftp, a.server) <
                     std::tie(right, b.is_ftp, b.server);
            });
  return sets;
}

}  // namespace velnor::reportdb
