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
//
// The staged rows are made a batch at a time: a report can get hundreds of
// thousands of keys, and holding a row of values for each at once would
// cost more memory than all the counting. Where the engine bulk-loads, the
// batches of a table are one load, so that the server takes in each batch
// while the next is made rather than each waiting on the other. What must see
// every key before anything is kept (the check against the maximum, the raise
// of the stored rows) runs once over all of them, after the last batch.
// In-process (SQLite) nothing is staged: one pass over the report's rows
// finds each stored row of a key and its count (MatchStoredRows), and the
// run works out the rest: the check, the rows to raise and the keys that
// are new. On a server the keys are staged in bulk and joined there: the
// UPDATE's own arithmetic makes the check, and RETURNING tells the new
// keys.
#include <algorithm>
#include <array>
#include <limits>
#include <optional>
#include <string>
#include <unordered_map>
#include <unordered_set>

#include "dbsupport/error_log.h"
#include "platform/automation/error_state.h"
#include "reportdb/pg_schema.h"
#include "reportdb/status_labels.h"
#include "reportdb/table_layout.h"
#include "reportstore/key_match.h"
#include "reportstore/report_store.h"
#include "reportstore/set_sql.h"
#include "reportstore/stored_rows.h"

namespace velnor {
namespace {

using automation::Variant;

// The staged rows made and written at a time: a multiple of
// set_sql::kRowsPerInsert, so that only a table's last statement is
// shorter.
constexpr size_t kRowsPerBatch = 40 * set_sql::kRowsPerInsert;

// The new rows of an empty report from which its indexes are built once,
// after them, rather than kept up to date row by row: below it, dropping
// and making them again costs more than it saves.
constexpr size_t kRowsForIndexesAfter = 2000;

using key_match::Folded;
using key_match::SameText;

// The URL texts (by their data) of the identifiers and URLs of `tally`
// that another one matches as the database compares them (`caseless`: for
// the identifier and the URL, whether ASCII letters compare without regard
// to case). Only their keys can be one row with another key: the others
// need no look-up, and there are far fewer URLs than keys.
std::unordered_set<const char*> Twins(const RunTally& tally,
                                      const std::array<bool, 2>& caseless) {
  std::unordered_set<const char*> twins;
  // Two texts are one only where one holds a capital letter the other
  // does not; without any, the keys are as distinct as the tally's.
  auto has_capital = [](std::string_view text, bool caseless) {
    return caseless && std::any_of(text.begin(), text.end(),
                                   [](char c) { return c >= 'A' && c <= 'Z'; });
  };
  bool capitals = false;
  tally.ForEachText([&](std::string_view identifier, std::string_view url) {
    capitals = capitals || has_capital(identifier, caseless[0]) ||
               has_capital(url, caseless[1]);
  });
  if (!capitals) return twins;
  std::unordered_map<std::string, const char*> first;
  tally.ForEachText([&](std::string_view identifier, std::string_view url) {
    std::string folded = std::to_string(identifier.size()) + ":";
    for (char c : identifier) folded += Folded(c, caseless[0]);
    for (char c : url) folded += Folded(c, caseless[1]);
    auto [found, added] = first.try_emplace(std::move(folded), url.data());
    if (!added) {
      twins.insert(found->second);
      twins.insert(url.data());
    }
  });
  return twins;
}

// The run's keys of `kind` as the database tells them apart (`caseless` as
// for Twins). Keys it takes for one are one group, with the first key's
// texts and the sum of the hits; groups keep the order they were first
// counted in.
std::vector<RunTally::Key> Groups(const RunTally& tally, TallyKind kind,
                                  const std::array<bool, 2>& caseless) {
  const std::unordered_set<const char*> twins = Twins(tally, caseless);
  std::vector<RunTally::Key> groups;
  auto hash_of = [&](size_t index) {
    const RunTally::Key& key = groups[index];
    return static_cast<size_t>(
        key_match::KeyHash(key.identifier, key.url, key.bucket, caseless));
  };
  auto same_key = [&](size_t a, size_t b) {
    const RunTally::Key& x = groups[a];
    const RunTally::Key& y = groups[b];
    return x.bucket == y.bucket &&
           SameText(x.identifier, y.identifier, caseless[0]) &&
           SameText(x.url, y.url, caseless[1]);
  };
  groups.reserve(tally.KeyCount(kind));
  if (twins.empty()) {
    tally.ForEachKey(kind,
                     [&](const RunTally::Key& key) { groups.push_back(key); });
    return groups;
  }
  std::unordered_set<size_t, decltype(hash_of), decltype(same_key)> known(
      0, hash_of, same_key);
  tally.ForEachKey(kind, [&](const RunTally::Key& key) {
    groups.push_back(key);
    if (!twins.contains(key.url.data())) return;
    auto [found, added] = known.insert(groups.size() - 1);
    if (!added) {
      groups[*found].hits += key.hits;
      groups.pop_back();
    }
  });
  return groups;
}

}  // namespace

void ReportStore::AppendStagedRow(size_t table, size_t seq,
                                  const RunTally::Key& key,
                                  StagedRows& rows) const {
  const size_t first = rows.values.size();
  std::string_view bucket_name;
  if (table == 0) bucket_name = weekday_names_[key.bucket - 1];
  if (table == 1) bucket_name = month_names_[key.bucket - 1];
  rows.values.insert(
      rows.values.end(),
      {static_cast<int64_t>(seq), mstrServerName_, key.identifier,
       key.site_name, key.url,
       table <= 1 ? StagedValue(bucket_name) : StagedValue(int64_t{key.bucket}),
       static_cast<int64_t>(key.hits)});
  if (table <= 1) rows.values.emplace_back(int64_t{key.bucket});
  if (table == 3) {
    auto [label, sort] = reportdb::StatusLabelOf(site_column_, key.bucket);
    rows.values.emplace_back(int64_t{sort});
    rows.values.emplace_back(label);
  }
  if (writing_[table].folded) {
    rows.values.emplace_back(
        rows.folded.emplace_back(reportdb::FoldedKey(key.identifier, key.url)));
  }
  if (rows.values.size() - first != rows.width) {
    automation::Raise(automation::kErrTypeMismatch);
  }
}

void ReportStore::ForEachBatch(
    size_t table, const std::vector<RunTally::Key>& groups,
    const std::function<void(const StagedRows&)>& write) const {
  StagedRows rows;
  rows.width = set_sql::StagedColumns(table, writing_[table].folded);
  rows.values.reserve(std::min(groups.size(), kRowsPerBatch) * rows.width);
  for (size_t first = 0; first < groups.size(); first += kRowsPerBatch) {
    rows.values.clear();
    rows.folded.clear();
    const size_t end = std::min(groups.size(), first + kRowsPerBatch);
    for (size_t i = first; i < end; ++i) {
      AppendStagedRow(table, i, groups[i], rows);
    }
    write(rows);
  }
}

// The texts are bound without a copy: they are the tally's and the
// store's, which outlive the statement's run.
void ReportStore::InsertInChunks(const std::shared_ptr<ado::Connection>& cn,
                                 const std::function<std::string(size_t)>& sql,
                                 const StagedRows& rows,
                                 const std::vector<size_t>& columns) {
  for (size_t start = 0; start < rows.size();
       start += set_sql::kRowsPerInsert) {
    size_t count = std::min(set_sql::kRowsPerInsert, rows.size() - start);
    ado::Command& insert = PreparedCommand(cn, sql(count));
    int index = 1;
    for (size_t i = start; i < start + count; ++i) {
      for (size_t column : columns) {
        const StagedValue& value = rows.at(i, column);
        if (const auto* text = std::get_if<std::string_view>(&value)) {
          insert.SetBorrowedText(index++, *text);
        } else {
          insert.SetParameter(index++, Variant(std::get<int64_t>(value)));
        }
      }
    }
    insert.Execute();
  }
}

// The batches' texts are made in place of the batch before's, whose
// strings keep their room: a report's keys are made into hundreds of
// thousands of texts, and the server takes in a batch while the next is
// made.
bool ReportStore::CopyGroups(const std::shared_ptr<ado::Connection>& cn,
                             size_t table, std::string_view target,
                             const std::vector<std::string>& names,
                             const std::vector<size_t>& columns,
                             const std::vector<RunTally::Key>& groups,
                             const std::vector<bool>& skipped,
                             const std::function<void()>& between) const {
  if (!cn->BulkLoads()) return false;
  if (!skipped.empty() &&
      std::find(skipped.begin(), skipped.end(), false) == skipped.end()) {
    return true;
  }
  StagedRows rows;
  rows.width = set_sql::StagedColumns(table, writing_[table].folded);
  std::vector<ado::Engine::CopyRow> texts;
  size_t first = 0;
  auto next = [&]() -> const std::vector<ado::Engine::CopyRow>* {
    if (first >= groups.size()) return nullptr;
    if (between) between();
    rows.values.clear();
    rows.folded.clear();
    const size_t end = std::min(groups.size(), first + kRowsPerBatch);
    for (size_t i = first; i < end; ++i) {
      if (skipped.empty() || !skipped[i]) {
        AppendStagedRow(table, i, groups[i], rows);
      }
    }
    first = end;
    texts.resize(rows.size());
    for (size_t i = 0; i < rows.size(); ++i) {
      texts[i].resize(columns.size());
      for (size_t c = 0; c < columns.size(); ++c) {
        const StagedValue& value = rows.at(i, columns[c]);
        if (const auto* text = std::get_if<std::string_view>(&value)) {
          texts[i][c] = *text;
        } else {
          texts[i][c] = std::to_string(std::get<int64_t>(value));
        }
      }
    }
    return &texts;
  };
  return groups.empty() || cn->CopyRows(target, names, next);
}

void ReportStore::Stage(size_t table,
                        const std::shared_ptr<ado::Connection>& cn,
                        const std::vector<RunTally::Key>& groups) {
  const bool folded = writing_[table].folded;
  // Rows stored without their key (another writer's) get it first, or the
  // join would not find them.
  if (folded)
    PreparedCommand(cn, reportdb::FillFoldedKeys("tblGeneral")).Execute();
  PreparedCommand(cn, set_sql::CreateStaging(table, site_column_, folded))
      .Execute();
  PreparedCommand(cn, set_sql::ClearStaging(table)).Execute();
  // The new rows are written from the run's own values (AppendNewByCopy),
  // never from the staging table: it gets only what the match with the
  // report reads, which saves parsing and storing the other texts of every
  // key.
  const std::vector<size_t> raising = set_sql::RaisingColumns(table, folded);
  std::vector<std::string> raising_names;
  for (size_t column : raising) {
    raising_names.push_back(set_sql::StagedColumnNames(table, folded)[column]);
  }
  // Only an engine that bulk-loads stages: one that then did not is at
  // fault.
  if (!CopyGroups(cn, table, set_sql::StagingTable(table), raising_names,
                  raising, groups, {}, nullptr)) {
    automation::Raise(automation::kErrTypeMismatch);
  }
}

// Where the engine bulk-loads, the new keys' rows are loaded into the
// report the same way rather than inserted from the staging table: a bulk
// load writes rows a page at a time, an INSERT ... SELECT one by one, which
// costs the server about twice as much. The UPDATE tells which staged keys
// are stored already; the others are the new rows, in staging order.
//
// The stored rows are first raised each by its own count: a store of our
// own writing holds one row per key, for which that is the outcome. A key
// with several stored rows (a store written by other tools) undoes it, and
// the rows are raised as UpdateStoredReturning raises them.
void ReportStore::AppendNewByCopy(size_t table,
                                  const std::shared_ptr<ado::Connection>& cn,
                                  const std::vector<RunTally::Key>& groups) {
  std::vector<bool> stored(groups.size(), false);
  cn->Execute("SAVEPOINT velnor_raise");
  const bool folded = writing_[table].folded;
  if (RaiseStored(cn, set_sql::RaiseEachStoredReturning(table, folded),
                  stored)) {
    cn->Execute("ROLLBACK TO velnor_raise");
    stored.assign(groups.size(), false);
    RaiseStored(cn, set_sql::UpdateStoredReturning(table, folded), stored);
  }
  cn->Execute("RELEASE velnor_raise");
  CopyNewRows(table, cn, groups, stored, nullptr);
}

bool ReportStore::RaiseStored(const std::shared_ptr<ado::Connection>& cn,
                              const std::string& sql,
                              std::vector<bool>& stored) {
  bool several = false;
  ado::Command& update = PreparedCommand(cn, sql);
  for (update.Execute(); !update.Eof(); update.MoveNext()) {
    const auto seq = static_cast<size_t>(automation::CLng(update.Value(0)));
    several = several || stored.at(seq);
    stored[seq] = true;
  }
  update.Close();
  return several;
}

bool ReportStore::CopyNewRows(size_t table,
                              const std::shared_ptr<ado::Connection>& cn,
                              const std::vector<RunTally::Key>& groups,
                              const std::vector<bool>& stored,
                              const std::function<void()>& between) const {
  std::vector<std::string> names;
  std::vector<size_t> columns;
  for (const set_sql::NewRowColumn& column :
       set_sql::NewRowColumns(table, site_column_)) {
    names.push_back(column.report);
    columns.push_back(column.staged);
  }
  // The new rows carry their folded key, which the server would otherwise
  // have to compute for the next run's join.
  if (writing_[table].folded) {
    names.emplace_back(reportdb::kFoldedKeyColumn);
    columns.push_back(set_sql::StagedColumns(table, true) - 1);
  }
  return CopyGroups(cn, table, "tblGeneral", names, columns, groups, stored,
                    between);
}

void ReportStore::RaiseMatched(size_t table,
                               const std::shared_ptr<ado::Connection>& cn,
                               const std::vector<RunTally::Key>& groups,
                               std::optional<size_t>& past) {
  std::span<const std::string> names;
  if (table == 0) names = weekday_names_;
  if (table == 1) names = month_names_;
  const StoredKeyEquality equality{writing_[table].caseless, names,
                                   writing_[table].bucket_caseless};
  std::vector<StoredRow> matched = MatchStoredRows(
      PreparedCommand(cn, set_sql::StoredKeys(table)), groups, equality);
  // A key's rows all get the count of its first stored row (in row
  // identity order) plus the hits.
  std::sort(matched.begin(), matched.end(),
            [](const StoredRow& a, const StoredRow& b) {
              return a.seq != b.seq ? a.seq < b.seq : a.row < b.row;
            });
  constexpr int64_t kMaxCount = std::numeric_limits<int32_t>::max();
  std::vector<bool> stored(groups.size(), false);
  std::vector<std::pair<int64_t, int64_t>> counts;  // row, new count
  counts.reserve(matched.size());
  for (size_t i = 0; i < matched.size();) {
    const size_t seq = matched[i].seq;
    const int64_t count =
        matched[i].count + static_cast<int64_t>(groups.at(seq).hits);
    if (count > kMaxCount) {
      past = seq;
      return;
    }
    stored[seq] = true;
    for (; i < matched.size() && matched[i].seq == seq; ++i) {
      counts.emplace_back(matched[i].row, count);
    }
  }
  // In row order the updates walk the table's pages once.
  std::sort(counts.begin(), counts.end());
  ado::Command& set = PreparedCommand(cn, set_sql::SetCountOfRow());
  for (const auto& [row, count] : counts) {
    set.SetParameter(1, Variant(static_cast<int32_t>(count)));
    set.SetParameter(2, Variant(row));
    set.Execute();
  }
  std::vector<RunTally::Key> added;
  for (size_t i = 0; i < groups.size(); ++i) {
    if (!stored[i]) added.push_back(groups[i]);
  }
  ForEachBatch(table, added,
               [&](const StagedRows& rows) { InsertNewRows(table, cn, rows); });
}

void ReportStore::InsertNewRows(size_t table,
                                const std::shared_ptr<ado::Connection>& cn,
                                const StagedRows& rows) {
  std::vector<size_t> columns;
  for (const set_sql::NewRowColumn& column :
       set_sql::NewRowColumns(table, site_column_)) {
    columns.push_back(column.staged);
  }
  InsertInChunks(
      cn,
      [&](size_t count) {
        return set_sql::InsertRows(table, site_column_, count);
      },
      rows, columns);
}

// A report that held no row when this counting first wrote into it (a
// server's first collection, or the first into a new store) holds only the
// rows of the sites written since, so the keys of the others are all new
// rows, appended at once (bulk-loaded where the engine can), without the
// staging and the UPDATE that would find nothing to raise. The counts were
// checked against the maximum in memory, which is all a new row needs.
void ReportStore::WriteIntoEmpty(size_t table,
                                 const std::shared_ptr<ado::Connection>& cn,
                                 const std::vector<RunTally::Key>& groups,
                                 const std::function<void()>& between) {
  auto append = [&] {
    if (CopyNewRows(table, cn, groups, {}, between)) return;
    ForEachBatch(table, groups, [&](const StagedRows& rows) {
      between();
      InsertNewRows(table, cn, rows);
    });
  };
  if (groups.size() < kRowsForIndexesAfter) return append();
  // Its key index serves only look-ups one key at a time, which counting
  // in memory never makes: it is left out, and made again by a counting
  // that looks keys up (EnsureKeyIndex).
  cn->AppendLeavingIndexesOut(
      "tblGeneral",
      reportdb::KeyIndexLayout(reportdb::kReportKinds[table]).name, append);
}

bool ReportStore::ReportIsEmpty(const std::shared_ptr<ado::Connection>& cn) {
  ado::Command& probe = PreparedCommand(cn, set_sql::AnyRow());
  probe.Execute();
  const bool empty = probe.Eof();
  probe.Close();
  return empty;
}

bool ReportStore::WriteTableTogether(size_t table, TallyKind kind,
                                     const std::function<void()>& between) {
  const std::vector<RunTally::Key> groups =
      Groups(tally_, kind, writing_[table].caseless);
  if (groups.empty()) return true;

  auto& cn = (*tables_)[table].cn;
  const bool appends_only = AppendsOnly(table);
  // The staged keys are looked up in the report.
  if (!appends_only) BuildIndexes(table);
  auto past_maximum = [&](const RunTally::Key& key) {
    FailPastMaximum(table, cn, key.identifier, key.url,
                    BucketName(table, key.bucket), key.bucket);
    return true;
  };
  constexpr uint64_t kMaxCount = std::numeric_limits<int32_t>::max();
  for (const RunTally::Key& group : groups) {
    if (group.hits > kMaxCount) return past_maximum(group);
  }
  automation::Err().Clear();
  if (!automation::ResumeNext(
          [&] { cn->Execute("SAVEPOINT velnor_counts"); })) {
    return false;
  }
  std::optional<size_t> past;  // the group whose count would not fit
  bool written = automation::ResumeNext([&] {
    if (appends_only) return WriteIntoEmpty(table, cn, groups, between);
    if (!cn->BulkLoads()) return RaiseMatched(table, cn, groups, past);
    // The staged rows stay until the next write of the table clears them
    // (or the session ends): deleting them now would cost the server a
    // pass over them for nothing.
    Stage(table, cn, groups);
    AppendNewByCopy(table, cn, groups);
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
  if (written && past) return past_maximum(groups[*past]);
  return written;
}

}  // namespace velnor
