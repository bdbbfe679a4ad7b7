// ReportStore's counting in memory: which databases can take it, the
// counting itself, and writing the counts one statement per key. Why each
// key's statement gives the rows record-by-record counting gives is told
// at the top of report_store.cpp.
#include <algorithm>
#include <limits>

#include "dbsupport/error_log.h"
#include "platform/automation/error_state.h"
#include "platform/automation/text.h"
#include "reportdb/pg_schema.h"
#include "reportdb/status_labels.h"
#include "reportstore/report_store.h"
#include "reportstore/table_sql.h"

namespace velnor {
namespace {

using automation::Variant;
using table_sql::kStatusTable;
using table_sql::kTables;

constexpr std::array<TallyKind, 4> kKinds = {
    TallyKind::kDayOfWeek, TallyKind::kMonth, TallyKind::kHour,
    TallyKind::kStatus};

// Whether `stored` (0 for a new row) plus `hits` passes the 32-bit column.
bool PastMaximum(int64_t stored, uint64_t hits) {
  return hits >
         static_cast<uint64_t>(std::numeric_limits<int32_t>::max() - stored);
}

}  // namespace

// A database can be counted in memory when the look-up, the update and the
// new row of its report all prepare (its table and columns are there), and
// when it holds no count that record-by-record counting reads as a missing
// row or not at all. Such a row turns every hit of its key into a new row
// or an error-log line of its own, in the order of the records, which only
// counting record by record gives.
bool ReportStore::CanCountInMemory(size_t table) {
  const auto& cn = (*tables_)[table].cn;
  if (!cn || cn->State() != ado::adStateOpen) return false;
  bool odd_counts = true;
  bool prepared = automation::ResumeNext([&] {
    PreparedCommand(cn, kTables[table].lookup);
    PreparedCommand(cn, kTables[table].update);
    PreparedCommand(cn, table_sql::InsertSql(table, site_column_));
    ado::Command& odd = PreparedCommand(cn, table_sql::kOddCounts);
    odd.Execute();
    odd_counts = !odd.Eof();
    odd.Close();
  });
  return prepared && !odd_counts;
}

void ReportStore::BeginCounting(
    ReportTables& tables, const std::string& site_column,
    const std::array<std::string, 7>& weekday_names,
    const std::array<std::string, 12>& month_names) {
  tables_ = &tables;
  site_column_ = site_column;
  weekday_names_ = weekday_names;
  month_names_ = month_names;
  tally_.Clear();
  past_maximum_ = false;
  held_none_ = {};
  written_sites_.clear();
  early_writes_ = true;
  early_lines_.clear();
  for (size_t table = 0; table < in_memory_.size(); ++table) {
    in_memory_[table] = counting_.in_memory && CanCountInMemory(table);
    writing_[table] = {};
    if (in_memory_[table]) {
      PrepareWriting(table);
    } else if (tables[table].cn &&
               tables[table].cn->State() == ado::adStateOpen) {
      EnsureKeyIndex(table);  // each record's key is looked up
    }
  }
  automation::Err().Clear();
}

void ReportStore::PrepareWriting(size_t table) {
  const auto& cn = (*tables_)[table].cn;
  Writing& writing = writing_[table];
  writing.lookup = &PreparedCommand(cn, kTables[table].lookup);
  writing.update = &PreparedCommand(cn, kTables[table].update);
  writing.insert =
      &PreparedCommand(cn, table_sql::InsertSql(table, site_column_));
  // Keys can be staged together only when it is known which of them the
  // database takes for one; under another collation they go one by one,
  // each looked up by the database itself.
  writing.together = true;
  const std::array<std::string, 2> key_columns = {"Identifier", "URL"};
  for (size_t i = 0; i < key_columns.size(); ++i) {
    ado::TextEquality equality =
        cn->ColumnEquality("tblGeneral", key_columns[i]);
    writing.together &= equality != ado::TextEquality::kOther;
    writing.caseless[i] = equality == ado::TextEquality::kAsciiCaseless;
  }
  // Without a bulk load, a named bucket is matched with the stored rows'
  // names (MatchStoredRows) as its column compares them.
  if (table <= 1 && !cn->BulkLoads()) {
    ado::TextEquality equality =
        cn->ColumnEquality("tblGeneral", table == 0 ? "Day of week" : "Months");
    writing.together &= equality != ado::TextEquality::kOther;
    writing.bucket_caseless = equality == ado::TextEquality::kAsciiCaseless;
  }
  writing.folded =
      writing.together && writing.caseless[0] && writing.caseless[1] &&
      cn->ColumnEquality("tblGeneral", reportdb::kFoldedKeyColumn) ==
          ado::TextEquality::kExact;
}

void ReportStore::CountRecord(const std::string& site_name,
                              const std::string& site_identifier,
                              std::string_view url, int32_t weekday,
                              int32_t month, int32_t hour, int32_t status) {
  // Nothing of the run will be kept: the rest would be work for nothing.
  if (past_maximum_) return;
  // Tested flag by flag: the arrays' comparison is a call to memcmp, once
  // per record.
  const auto [day_of_week, months, hours, statuses] = in_memory_;
  if (!(day_of_week && months && hours && statuses)) {
    CountRecordByRecord(site_name, site_identifier, std::string(url), weekday,
                        month, hour, status);
  }
  if (!(day_of_week || months || hours || statuses)) return;
  tally_.Count(site_name, site_identifier, url, weekday, month, hour, status,
               in_memory_);
  if (tally_.MemoryUse() > counting_.memory_limit) Flush();
}

void ReportStore::AddCounts(RunTally& part) {
  if (past_maximum_) {
    part.Clear();
    return;
  }
  tally_.Add(part);
  if (tally_.MemoryUse() > counting_.memory_limit) Flush();
}

void ReportStore::CountRecordByRecord(const std::string& site_name,
                                      const std::string& site_identifier,
                                      const std::string& url, int32_t weekday,
                                      int32_t month, int32_t hour,
                                      int32_t status) {
  ReportTables& tables = *tables_;
  if (!in_memory_[0]) {
    DumpDataIntoDB(tables[0].cn, tables[0].rs, site_name, site_identifier, url,
                   site_column_, kTables[0].kind, weekday_names_[weekday - 1],
                   weekday, 0, "", 0);
  }
  if (!in_memory_[1]) {
    DumpDataIntoDB(tables[1].cn, tables[1].rs, site_name, site_identifier, url,
                   site_column_, kTables[1].kind, "", 0, 0,
                   month_names_[month - 1], month);
  }
  if (!in_memory_[2]) {
    DumpDataIntoDB(tables[2].cn, tables[2].rs, site_name, site_identifier, url,
                   site_column_, kTables[2].kind, "", 0, hour, "", 0);
  }
  if (!in_memory_[3]) {
    DumpStatusData(tables[3].cn, tables[3].rs, site_name, site_identifier, url,
                   status, site_column_);
  }
}

void ReportStore::WriteFinishedSites(const std::function<void()>& between) {
  tally_.Settle();
  if (!tables_ || !early_writes_ || past_maximum_ || tally_.Empty() ||
      !CountsAllInMemory()) {
    return;
  }
  for (size_t table = 0; table < kKinds.size(); ++table) {
    if (!writing_[table].together || !AppendsOnly(table)) return;
  }
  // The write is the one FinishCounting would make of these keys, but for
  // its failures: key by key, their lines would come before the lines of
  // the counts still to come, so the write is undone and left to it.
  const std::shared_ptr<ado::Connection>& cn = (*tables_)[0].cn;
  ErrorLogCapture capture;
  bool kept =
      automation::ResumeNext([&] { cn->Execute("SAVEPOINT velnor_sites"); });
  for (size_t table = 0; kept && table < kKinds.size(); ++table) {
    kept = !(*tables_)[table].cn->TransactionFailed() &&
           WriteTableTogether(table, kKinds[table], between);
  }
  std::vector<ErrorLogEntry> lines = capture.Take();
  kept = kept && lines.empty() && !past_maximum_ &&
         automation::ResumeNext([&] { cn->Execute("RELEASE velnor_sites"); });
  if (kept) {
    tally_.ForEachSite([&](std::string_view identifier) {
      written_sites_.emplace_back(identifier);
    });
    tally_.Clear();
  } else {
    early_writes_ = false;
    automation::ResumeNext([&] {
      cn->Execute("ROLLBACK TO velnor_sites");
      cn->Execute("RELEASE velnor_sites");
    });
    // Nothing more of the run will be kept: what it met is all it says.
    if (cn->TransactionFailed()) early_lines_ = std::move(lines);
  }
  automation::Err().Clear();
}

void ReportStore::FinishCounting() {
  if (!tables_) return;
  WriteErrorLog(early_lines_);
  early_lines_.clear();
  Flush();
  for (size_t table = 0; table < kKinds.size(); ++table) {
    if (in_memory_[table]) BuildIndexes(table);
  }
  tables_ = nullptr;
}

void ReportStore::Flush() {
  tally_.Settle();
  for (size_t table = 0; table < kKinds.size(); ++table) {
    if (!in_memory_[table]) continue;
    if ((*tables_)[table].cn->TransactionFailed()) continue;
    if (writing_[table].together &&
        WriteTableTogether(table, kKinds[table], [] {})) {
      continue;
    }
    EnsureKeyIndex(table);  // each key is looked up
    tally_.ForEachKey(kKinds[table], [&](const RunTally::Key& key) {
      // Once the run's transaction is spoiled nothing more is kept, so
      // nothing more is tried.
      if ((*tables_)[table].cn->TransactionFailed()) return;
      if (!WriteKey(table, key)) CountOneByOne(table, key);
    });
  }
  tally_.ForEachSite([&](std::string_view identifier) {
    written_sites_.emplace_back(identifier);
  });
  tally_.Clear();
  automation::Err().Clear();
}

bool ReportStore::AppendsOnly(size_t table) {
  std::optional<bool>& held_none = held_none_[table];
  if (!held_none) {
    const std::shared_ptr<ado::Connection>& cn = (*tables_)[table].cn;
    bool empty = false;
    held_none =
        automation::ResumeNext([&] { empty = ReportIsEmpty(cn); }) && empty;
    automation::Err().Clear();
  }
  return *held_none && !CountsWrittenSite();
}

bool ReportStore::CountsWrittenSite() const {
  bool met = false;
  tally_.ForEachSite([&](std::string_view identifier) {
    for (const std::string& written : written_sites_) {
      met = met || automation::EqualsIgnoringAsciiCase(identifier, written);
    }
  });
  return met;
}

void ReportStore::BuildIndexes(size_t table) {
  automation::ResumeNext(
      [&] { (*tables_)[table].cn->BuildIndexes("tblGeneral"); });
  automation::Err().Clear();
}

// A key index that cannot be made (a table of other columns) leaves the
// look-ups slower, not wrong: counting goes on without it.
void ReportStore::EnsureKeyIndex(size_t table) {
  BuildIndexes(table);
  const ado::IndexDefinition key =
      reportdb::KeyIndexDefinition(reportdb::kReportKinds[table]);
  automation::ResumeNext(
      [&] { (*tables_)[table].cn->EnsureIndex("tblGeneral", key); });
  automation::Err().Clear();
}

bool ReportStore::WriteKey(size_t table, const RunTally::Key& key) {
  const Writing& writing = writing_[table];
  const Variant identifier(key.identifier);
  const Variant url(key.url);
  Variant bucket(key.bucket);
  if (table == 0) bucket = Variant(weekday_names_[key.bucket - 1]);
  if (table == 1) bucket = Variant(month_names_[key.bucket - 1]);
  auto set = [](ado::Command& command, const std::vector<Variant>& values) {
    for (size_t i = 0; i < values.size(); ++i) {
      command.SetParameter(static_cast<int>(i + 1), values[i]);
    }
  };
  auto past_maximum = [&] {
    FailPastMaximum(table, (*tables_)[table].cn, key.identifier, key.url,
                    BucketName(table, key.bucket), key.bucket);
  };
  return automation::ResumeNext([&] {
    const std::vector<Variant> lookup_key = {identifier, url, bucket};
    ado::Command& lookup = *writing.lookup;
    set(lookup, lookup_key);
    lookup.Execute();
    if (lookup.Eof()) {
      if (PastMaximum(0, key.hits)) return past_maximum();
      const Variant hits(static_cast<int32_t>(key.hits));
      std::vector<Variant> row = {Variant(mstrServerName_), identifier,
                                  Variant(key.site_name)};
      if (table == kStatusTable) {
        auto [label, sort] = reportdb::StatusLabelOf(site_column_, key.bucket);
        row.insert(row.end(),
                   {Variant(sort), url, Variant(label), bucket, hits});
      } else if (table == 2) {
        row.insert(row.end(), {url, hits, bucket});
      } else {
        row.insert(row.end(), {url, hits, Variant(key.bucket), bucket});
      }
      set(*writing.insert, row);
      writing.insert->Execute();
      return;
    }
    // Raises for a count that record by record would not read as a number.
    const int32_t stored = automation::CLng(lookup.Value(0));
    lookup.Close();
    if (stored <= 0) automation::Raise(automation::kErrInvalidUseOfNull);
    if (PastMaximum(stored, key.hits)) return past_maximum();
    std::vector<Variant> update = {
        Variant(static_cast<int32_t>(stored + static_cast<int64_t>(key.hits)))};
    update.insert(update.end(), lookup_key.begin(), lookup_key.end());
    set(*writing.update, update);
    writing.update->Execute();
  });
}

void ReportStore::CountOneByOne(size_t table, const RunTally::Key& key) {
  automation::Err().Clear();
  auto& [cn, rs] = (*tables_)[table];
  const std::string site_name(key.site_name);
  const std::string identifier(key.identifier);
  const std::string url(key.url);
  for (uint64_t hit = 0; hit < key.hits; ++hit) {
    if (cn->TransactionFailed()) return;
    switch (table) {
      case 0:
        DumpDataIntoDB(cn, rs, site_name, identifier, url, site_column_,
                       kTables[0].kind, weekday_names_[key.bucket - 1],
                       key.bucket, 0, "", 0);
        break;
      case 1:
        DumpDataIntoDB(cn, rs, site_name, identifier, url, site_column_,
                       kTables[1].kind, "", 0, 0, month_names_[key.bucket - 1],
                       key.bucket);
        break;
      case 2:
        DumpDataIntoDB(cn, rs, site_name, identifier, url, site_column_,
                       kTables[2].kind, "", 0, key.bucket, "", 0);
        break;
      default:
        DumpStatusData(cn, rs, site_name, identifier, url, key.bucket,
                       site_column_);
    }
  }
}

}  // namespace velnor
