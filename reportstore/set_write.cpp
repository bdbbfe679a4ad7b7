// Writing a report's counts with a few statements (set_sql.h) instead of a
// look-up and a write per key: over a network each statement is a round
// trip, and even in-process this saves most statements of a large run.
//
// The rows are those WriteKey gives key by key, in first-counted order:
// - Keys the database takes for one (the same bucket and the same site
//   identifier and URL, but for the case of ASCII letters where the column
//   compares as NOCASE and velnor_nocase do) are one group here. Key by key,
//   the group's first key appends the row (or raises the stored one) and each
//   later key raises it further; so the group is staged once, with the first
//   key's URL and site name and the sum of the hits.
// - A stored row gets the count of the key's first stored row plus the
//   hits, in every stored row of the key; the others are appended in the
//   order their groups were first counted. A count that would pass the
//   32-bit maximum writes nothing and fails the run, as key by key.
// All of it is undone through a savepoint when any statement fails, and the
// keys are then written one by one, with the error-log lines that gives.
#include <array>
#include <limits>
#include <optional>
#include <unordered_map>

#include "dbsupport/error_log.h"
#include "platform/automation/error_state.h"
#include "reportdb/status_labels.h"
#include "reportstore/report_store.h"
#include "reportstore/set_sql.h"

namespace velnor {
namespace {

using automation::Variant;

struct Group {
  RunTally::Key first;  // its first key, with the group's hits
};

// The key as the database compares it: `caseless` tells for the identifier
// and the URL whether ASCII letters compare without regard to case.
std::string FoldedKey(const RunTally::Key& key,
                      const std::array<bool, 2>& caseless) {
  std::string folded = std::to_string(key.identifier.size()) + ":";
  const std::array<std::string_view, 2> parts = {key.identifier, key.url};
  for (size_t i = 0; i < parts.size(); ++i) {
    for (char c : parts[i]) {
      bool upper = c >= 'A' && c <= 'Z';
      folded += caseless[i] && upper ? static_cast<char>(c + 32) : c;
    }
  }
  return folded + "|" + std::to_string(key.bucket);
}

}  // namespace

std::vector<Variant> ReportStore::StagedRow(size_t table, size_t seq,
                                            const RunTally::Key& key) const {
  std::vector<Variant> values = {Variant(static_cast<int32_t>(seq)),
                                 Variant(mstrServerName_),
                                 Variant(key.identifier),
                                 Variant(key.site_name),
                                 Variant(key.url),
                                 Variant(key.bucket),
                                 Variant(static_cast<int32_t>(key.hits))};
  if (table == 0) values[5] = Variant(weekday_names_[key.bucket - 1]);
  if (table == 1) values[5] = Variant(month_names_[key.bucket - 1]);
  if (table == 0 || table == 1) values.emplace_back(key.bucket);
  if (table == 3) {
    auto [label, sort] = reportdb::StatusLabelOf(site_column_, key.bucket);
    values.emplace_back(sort);
    values.emplace_back(label);
  }
  if (values.size() != set_sql::StagedColumns(table)) {
    automation::Raise(automation::kErrTypeMismatch);
  }
  return values;
}

void ReportStore::StageWithInserts(
    size_t table, const std::shared_ptr<ado::Connection>& cn,
    const std::vector<std::vector<Variant>>& rows) {
  for (size_t start = 0; start < rows.size();
       start += set_sql::kRowsPerInsert) {
    size_t count = std::min(set_sql::kRowsPerInsert, rows.size() - start);
    ado::Command& stage = PreparedCommand(cn, set_sql::StageRows(table, count));
    int index = 1;
    for (size_t i = start; i < start + count; ++i) {
      for (const Variant& value : rows[i]) stage.SetParameter(index++, value);
    }
    stage.Execute();
  }
}

// Where the engine bulk-loads, the new keys' rows are loaded into the
// report the same way rather than inserted from the staging table: a bulk
// load writes rows a page at a time, an INSERT ... SELECT one by one, which
// costs the server about twice as much. The UPDATE tells which staged keys
// are stored already; the others are the new rows, in staging order.
void ReportStore::AppendNewByCopy(
    size_t table, const std::shared_ptr<ado::Connection>& cn,
    const std::vector<std::vector<Variant>>& rows) {
  std::vector<bool> stored(rows.size(), false);
  ado::Command& update =
      PreparedCommand(cn, set_sql::UpdateStoredReturning(table));
  for (update.Execute(); !update.Eof(); update.MoveNext()) {
    stored.at(static_cast<size_t>(automation::CLng(update.Value(0)))) = true;
  }
  update.Close();
  CopyNewRows(table, cn, rows, stored);
}

bool ReportStore::CopyNewRows(size_t table,
                              const std::shared_ptr<ado::Connection>& cn,
                              const std::vector<std::vector<Variant>>& rows,
                              const std::vector<bool>& stored) {
  const std::vector<set_sql::NewRowColumn> columns =
      set_sql::NewRowColumns(table, site_column_);
  std::vector<std::string> names;
  for (const set_sql::NewRowColumn& column : columns) {
    names.push_back(column.report);
  }
  std::vector<std::vector<Variant>> appended;
  for (size_t i = 0; i < rows.size(); ++i) {
    if (stored[i]) continue;
    std::vector<Variant>& row = appended.emplace_back();
    for (const set_sql::NewRowColumn& column : columns) {
      row.push_back(rows[i][column.staged]);
    }
  }
  return appended.empty() || cn->CopyRows("tblGeneral", names, appended);
}

// A report that holds no row yet (a server's first collection, or the
// first into a new store) can hold none of the keys: its rows are all new,
// and where the engine bulk-loads they are loaded at once, without the
// staging and the UPDATE that would find nothing to raise.
bool ReportStore::CopiedIntoEmpty(
    size_t table, const std::shared_ptr<ado::Connection>& cn,
    const std::vector<std::vector<Variant>>& rows) {
  ado::Command& probe = PreparedCommand(cn, set_sql::AnyRow());
  probe.Execute();
  const bool empty = probe.Eof();
  probe.Close();
  return empty &&
         CopyNewRows(table, cn, rows, std::vector<bool>(rows.size(), false));
}

bool ReportStore::WriteTableTogether(size_t table, TallyKind kind) {
  std::vector<Group> groups;
  std::unordered_map<std::string, size_t> group_of;
  tally_.ForEachKey(kind, [&](const RunTally::Key& key) {
    auto [found, added] = group_of.try_emplace(
        FoldedKey(key, writing_[table].caseless), groups.size());
    if (added) {
      groups.push_back({key});
    } else {
      groups[found->second].first.hits += key.hits;
    }
  });
  if (groups.empty()) return true;

  auto& cn = (*tables_)[table].cn;
  auto past_maximum = [&](const RunTally::Key& key) {
    FailPastMaximum(table, cn, key.identifier, key.url,
                    BucketName(table, key.bucket), key.bucket);
    return true;
  };
  constexpr uint64_t kMaxCount = std::numeric_limits<int32_t>::max();
  for (const Group& group : groups) {
    if (group.first.hits > kMaxCount) return past_maximum(group.first);
  }
  automation::Err().Clear();
  if (!automation::ResumeNext(
          [&] { cn->Execute("SAVEPOINT velnor_counts"); })) {
    return false;
  }
  std::optional<size_t> past;  // the group whose count would not fit
  bool written = automation::ResumeNext([&] {
    std::vector<std::vector<Variant>> rows;
    rows.reserve(groups.size());
    for (size_t i = 0; i < groups.size(); ++i) {
      rows.push_back(StagedRow(table, i, groups[i].first));
    }
    if (CopiedIntoEmpty(table, cn, rows)) return;
    PreparedCommand(cn, set_sql::CreateStaging(table, site_column_)).Execute();
    PreparedCommand(cn, set_sql::ClearStaging(table)).Execute();
    const bool copied = cn->CopyRows(set_sql::StagingTable(table),
                                     set_sql::StagedColumnNames(table), rows);
    if (!copied) StageWithInserts(table, cn, rows);
    // Where the keys were bulk-loaded the UPDATE's own integer arithmetic
    // refuses a count past the maximum: the statement fails, all of this is
    // undone and the keys are written one by one, which names the first
    // such key as the check below does. That saves the server a join of
    // every staged key.
    if (!copied) {
      ado::Command& check =
          PreparedCommand(cn, set_sql::FirstPastMaximum(table));
      check.Execute();
      if (!check.Eof()) {
        past = static_cast<size_t>(automation::CLng(check.Value(0)));
      }
      check.Close();
      if (past) return;
    }
    // The staged rows stay until the next write of the table clears them
    // (or the session ends): deleting them now would cost the server a
    // pass over them for nothing.
    if (copied) {
      AppendNewByCopy(table, cn, rows);
    } else {
      PreparedCommand(cn, set_sql::UpdateStored(table)).Execute();
      PreparedCommand(cn, set_sql::InsertNew(table, site_column_)).Execute();
    }
  });
  if (written) {
    written =
        automation::ResumeNext([&] { cn->Execute("RELEASE velnor_counts"); });
  }
  if (!written) {
    // A failure that spoiled the run's transaction is the one line the
    // run gets for this report: nothing more is tried.
    if (cn->TransactionFailed()) {
      WriteErrorLog(automation::Err().Number(), automation::Err().Description(),
                    kLogParserSource, "FinishCounting");
    }
    automation::ResumeNext([&] {
      cn->Execute("ROLLBACK TO velnor_counts");
      cn->Execute("RELEASE velnor_counts");
    });
  }
  automation::Err().Clear();
  if (written && past) return past_maximum(groups[*past].first);
  return written;
}

}  // namespace velnor
