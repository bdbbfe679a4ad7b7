// ReportStore: the rows a collection run writes into the report databases.
// Hit counts per site, URL and time bucket (day of week, month, hour) and per
// status code, one total per site and run, and the registry of a site's log
// files.
//
// Counts accumulate across runs: a hit raises the "No of Hits" of its key's
// row, or appends the row with one hit, so that rows are only selected,
// appended and updated, never deleted. There are two ways to get there,
// with the same rows and counts:
// - record by record (DumpDataIntoDB, DumpStatusData): one look-up and one
//   update or new row per hit, each statement prepared once with "?"
//   markers and run with the values bound;
// - counted in memory (BeginCounting, CountRecord, FinishCounting): the
//   hits of a key are added up during the run and written as one update or
//   one new row per key. A database whose tables do not have the columns
//   this needs is counted record by record instead, so that each of its
//   failures gives the same error-log lines.
//
// No operation lets an error out: each failure becomes one error-log line
// (error_log.h) and the operation goes on. Connections and recordsets are
// the caller's; the operations never close them.
//
// A count that would pass what its 32-bit column holds is no such failure:
// whichever way it is counted, it spoils the run's transaction with an
// Overflow (6) that names the database, the key and the maximum
// (ado::Connection::FailTransaction), so that the caller's commit keeps
// nothing of the run, and the run counts nothing more.
#ifndef VELNOR_REPORTSTORE_REPORT_STORE_H_
#define VELNOR_REPORTSTORE_REPORT_STORE_H_

#include <array>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "dbsupport/error_log.h"
#include "platform/ado/ado.h"
#include "platform/automation/variant.h"
#include "reportstore/counting_settings.h"
#include "reportstore/run_tally.h"

namespace velnor {

class ReportStore {
 public:
  // The report databases of a run, with the open "select * from
  // tblGeneral" recordset of each, in the order DayOfWeek, HitsByMonth,
  // HitsByHour, HitsByStatus.
  struct ReportTable {
    std::shared_ptr<ado::Connection> cn;
    std::shared_ptr<ado::Recordset> rs;
  };
  using ReportTables = std::array<ReportTable, 4>;

  // Keeps references to the collector's run state: the server name written
  // into every new row, and whether the run collects FTP (else web) logs.
  // Both are read at each call and must outlive the store. `counting` says
  // whether and how far BeginCounting counts in memory.
  ReportStore(const std::string& mstrServerName,
              const bool& mblnIsFTPCollection, CountingSettings counting = {});
  ~ReportStore();

  ReportStore(const ReportStore&) = delete;
  ReportStore& operator=(const ReportStore&) = delete;

  // Adds one hit to the tblGeneral row of (site_identifier, url, bucket)
  // in the day-of-week, month or hour database behind `connection`. The bucket
  // follows report_type, trimmed: "Day of Week" (weekday_name, sort
  // weekday), "Month" (month_name, sort month) or "Hour" (hour, no sort
  // field); any other kind has no bucket condition. A missing row is
  // appended through `rs` (the open "select * from tblGeneral" recordset
  // of the same database) with one hit. A refused row or update is logged
  // under "DumpDataIntoDB" and the hit is lost.
  void DumpDataIntoDB(std::shared_ptr<ado::Connection>& connection,
                      std::shared_ptr<ado::Recordset>& rs,
                      const std::string& site_name,
                      const std::string& site_identifier,
                      const std::string& url, const std::string& site_column,
                      const std::string& report_type,
                      const std::string& weekday_name, int32_t weekday,
                      int32_t hour, const std::string& month_name,
                      int32_t month);

  // The "No of Hits" of the first row the look-up `sql` (with "?"
  // markers for `values`) yields, or 0 when the query fails (logged by
  // OpenCommandEx with the values written in) or finds nothing. A value
  // that does not convert to a 32-bit integer (null, text) is logged under
  // "GetNumberOfHits" and gives 0.
  int32_t GetNumberOfHits(std::shared_ptr<ado::Connection>& connection,
                          std::string_view sql,
                          const std::vector<automation::Variant>& values);

  // Adds one hit to the status database row of (site_identifier, url,
  // status), appending it through `rs` with its label and sort position
  // when missing. site_column ("FTP Site Name" / "Web Site Name")
  // selects the service's label list; codes outside it are "Others" (100).
  // Failures are logged under "DumpStatusData".
  void DumpStatusData(std::shared_ptr<ado::Connection>& connection,
                      std::shared_ptr<ado::Recordset>& rs,
                      const std::string& site_name,
                      const std::string& site_identifier,
                      const std::string& url, int32_t status,
                      const std::string& site_column);

  // Appends one row (server, identifier, site name, hits) to tblTotalAccess
  // of the hits-by-hour database behind `connection`. A refused row is logged
  // under "AddSitesAccessInfo".
  void AddSitesAccessInfo(std::shared_ptr<ado::Connection>& connection,
                          const std::string& site_name,
                          const std::string& site_identifier, int32_t hits,
                          const std::string& site_column);

  // The number of tblLogFiles rows of the server, or 0 when there are none
  // or the count cannot be read. The server name is put into the statement
  // as it is, so a name with an apostrophe makes the statement fail (logged
  // by OpenRecordSetEx).
  int32_t GetLogFileCountFromDB(std::shared_ptr<ado::Connection>& objCn);

  // The log file names registered for the site named strSiteName in column
  // strSiteNameColumn, trimmed of blanks, in the order the database returns
  // them; blank names before the first non-blank one are dropped, and a name
  // containing "," comes back as two. strSiteIdentifier is not used. Any
  // failure is logged under "CollectLogFileFromDB" and reading goes on.
  automation::StringArray CollectLogFileFromDB(
      std::shared_ptr<ado::Connection>& objCn, const std::string& strSiteName,
      const std::string& strSiteIdentifier,
      const std::string& strSiteNameColumn);

  // Appends one tblLogFiles row per element of the string array in
  // varLogFileNames (a variant holding anything else appends nothing). A
  // table that cannot be opened is logged under "DumpLogFilesIntoDB", a
  // refused row under "DumpLogFilesIntoDB-Update"; later rows still go in.
  void DumpLogFilesIntoDB(std::shared_ptr<ado::Connection>& objCn,
                          const std::string& strSiteName,
                          const std::string& strSiteIdentifier,
                          const automation::Variant& varLogFileNames);

  // Starts counting a run's records into `tables` (kept until
  // FinishCounting). The weekday and month names are those the rows get,
  // Sunday and January first. A database whose tblGeneral lacks a column
  // the counting needs is counted record by record.
  void BeginCounting(ReportTables& tables, const std::string& site_column,
                     const std::array<std::string, 7>& weekday_names,
                     const std::array<std::string, 12>& month_names);
  // Counts one record of the site (site_name, site_identifier):
  // weekday 1-7 (Sunday first), month 1-12, hour 0-23. Databases counted
  // record by record get their DumpDataIntoDB and DumpStatusData calls now,
  // in report order; the others get the hit in memory, written when the
  // memory limit is reached or at FinishCounting.
  void CountRecord(const std::string& site_name,
                   const std::string& site_identifier, std::string_view url,
                   int32_t weekday, int32_t month, int32_t hour,
                   int32_t status);
  // Whether the last BeginCounting counts every database in memory.
  bool CountsAllInMemory() const {
    return in_memory_ == std::array<bool, 4>{true, true, true, true};
  }
  // Adds the counts of `part`, records counted apart into every report
  // (RunTally::Count), as if CountRecord had counted them now, and leaves
  // `part` empty; only while every database is counted in memory.
  void AddCounts(RunTally& part);
  // Writes what is counted in memory now, while the run goes on counting
  // other sites, where that gives the very rows and error-log lines
  // FinishCounting would: every database is counted in memory, each
  // report held no row when its counts were first written, and none of
  // the sites counted now had counts written before (so each key is a new
  // row, and no key counted later can be one of them). Otherwise the
  // counts wait for FinishCounting, as they do from the first such write
  // that failed or logged a line, which is undone; a failure that spoiled
  // the run's transaction keeps its lines for FinishCounting to write.
  // `between` is called before each batch of a few thousand rows, so that
  // a write of many rows still lets the caller look at its window (a
  // Cancel): it may not count, write or end the counting.
  void WriteFinishedSites(const std::function<void()>& between);
  // Writes what is counted in memory, and the lines an earlier write kept
  // (WriteFinishedSites), and ends the counting; the databases stay open,
  // with the indexes their appends set aside built again. Without
  // BeginCounting it does nothing.
  void FinishCounting();
  // Which databases of the last BeginCounting are counted in memory, in
  // report order.
  const std::array<bool, 4>& CountedInMemory() const { return in_memory_; }

  // Releases every statement prepared for the connections of a run.
  void ReleaseStatements();

 private:
  // Where the prepared statement of `sql` for `connection` is kept; empty until
  // first used.
  std::unique_ptr<ado::Command>& CommandSlot(
      const std::shared_ptr<ado::Connection>& connection, std::string_view sql);
  // The prepared statement of `sql` for `connection`; raises when it cannot be
  // prepared.
  ado::Command& PreparedCommand(
      const std::shared_ptr<ado::Connection>& connection, std::string_view sql);
  void ExecuteUpdate(std::shared_ptr<ado::Connection>& connection,
                     std::string_view sql,
                     const std::vector<automation::Variant>& values,
                     std::string_view source_head, std::string_view source_tail,
                     std::string_view procedure);
  bool CanCountInMemory(size_t table);
  // CountRecord's calls for the databases counted record by record.
  void CountRecordByRecord(const std::string& site_name,
                           const std::string& site_identifier,
                           const std::string& url, int32_t weekday,
                           int32_t month, int32_t hour, int32_t status);
  void PrepareWriting(size_t table);
  void Flush();
  // Writes every counted key of `table` with a few set statements; false,
  // with nothing of it kept, when they failed and the keys must be written
  // one by one (set_write.cpp). Where the keys are appended, `between` is
  // called before each batch of their rows.
  bool WriteTableTogether(size_t table, TallyKind kind,
                          const std::function<void()>& between);
  // One value of a staging row: a number, or a text that stays unchanged
  // until the write ends (the tally's keys, the store's own names), so that
  // it is bound without a copy.
  using StagedValue = std::variant<int64_t, std::string_view>;
  // Staging rows of a batch, in set_sql's column order, one row after the
  // other.
  struct StagedRows {
    size_t width = 0;  // the values of a row
    std::vector<StagedValue> values;
    // The texts of the rows' folded keys, which `values` views (a deque
    // keeps them where they are as it grows).
    std::deque<std::string> folded;
    size_t size() const { return values.size() / width; }
    const StagedValue& at(size_t row, size_t column) const {
      return values[row * width + column];
    }
  };
  // Appends to `rows` the staging row of `key`, the `seq`th group of report
  // `table`.
  void AppendStagedRow(size_t table, size_t seq, const RunTally::Key& key,
                       StagedRows& rows) const;
  // Calls `write` with the staging rows of `groups` of report `table`, a
  // bounded batch at a time in their order (set_write.cpp).
  void ForEachBatch(size_t table, const std::vector<RunTally::Key>& groups,
                    const std::function<void(const StagedRows&)>& write) const;
  // Appends `rows` with statements of up to set_sql::kRowsPerInsert rows,
  // `sql(n)` the statement of n rows, binding the staging columns `columns`
  // of each row in their order.
  void InsertInChunks(const std::shared_ptr<ado::Connection>& cn,
                      const std::function<std::string(size_t)>& sql,
                      const StagedRows& rows,
                      const std::vector<size_t>& columns);
  // Bulk-loads the staging columns `columns` of `groups` of report `table`
  // (but those marked in `skipped`, indexed by group, where it is not
  // empty) into `target` as its columns `names`, in their order, in one
  // load made a bounded batch at a time, calling `between` (where given)
  // before each batch; false, doing nothing, when the engine has no bulk
  // load.
  bool CopyGroups(const std::shared_ptr<ado::Connection>& cn, size_t table,
                  std::string_view target,
                  const std::vector<std::string>& names,
                  const std::vector<size_t>& columns,
                  const std::vector<RunTally::Key>& groups,
                  const std::vector<bool>& skipped,
                  const std::function<void()>& between) const;
  // Fills the session's staging table of report `table` with `groups`, for
  // an engine with a bulk load.
  void Stage(size_t table, const std::shared_ptr<ado::Connection>& cn,
             const std::vector<RunTally::Key>& groups);
  // Raises the stored rows of the staged `groups` and bulk-loads the others
  // into the report, for an engine with a bulk load.
  void AppendNewByCopy(size_t table, const std::shared_ptr<ado::Connection>& cn,
                       const std::vector<RunTally::Key>& groups);
  // Runs `sql`, an UPDATE returning the seq of each staged key it raised,
  // and marks those in `stored` (indexed by group); true when a seq came
  // more than once (a key with several stored rows).
  bool RaiseStored(const std::shared_ptr<ado::Connection>& cn,
                   const std::string& sql, std::vector<bool>& stored);
  // Bulk-loads the new rows of `groups` not marked in `stored` (indexed by
  // group) into the report, in their order, calling `between` (where
  // given) before each batch of rows; false, doing nothing, when the engine
  // has no bulk load.
  bool CopyNewRows(size_t table, const std::shared_ptr<ado::Connection>& cn,
                   const std::vector<RunTally::Key>& groups,
                   const std::vector<bool>& stored,
                   const std::function<void()>& between) const;
  // For an engine without a bulk load: matches `groups` with the report's
  // rows in one pass over them (MatchStoredRows) and, from the stored
  // counts it reads, raises
  // every stored row of a key to its first stored row's count (in row
  // identity order) plus the hits, and appends the new keys' rows in their
  // order. Sets `past`, writing nothing, to the first group whose count
  // would pass the 32-bit maximum. Raises 13 (type mismatch) for a stored
  // count that is not a 32-bit number, which counting in memory excludes.
  void RaiseMatched(size_t table, const std::shared_ptr<ado::Connection>& cn,
                    const std::vector<RunTally::Key>& groups,
                    std::optional<size_t>& past);
  // Appends the staging `rows` to report `table` as new rows, with
  // multi-row INSERTs of the new row's columns.
  void InsertNewRows(size_t table, const std::shared_ptr<ado::Connection>& cn,
                     const StagedRows& rows);
  // Appends a new row for each of `groups`, in their order, to a report
  // that holds no row, calling `between` before each batch of them.
  void WriteIntoEmpty(size_t table, const std::shared_ptr<ado::Connection>& cn,
                      const std::vector<RunTally::Key>& groups,
                      const std::function<void()>& between);
  // Whether the report behind `cn` holds no row.
  bool ReportIsEmpty(const std::shared_ptr<ado::Connection>& cn);
  // Whether every counted key of report `table` is a new row of it, which
  // it can simply append: the report held no row at this counting's first
  // write into it, and no site counted now was written before.
  bool AppendsOnly(size_t table);
  // Whether a site counted now had counts written before in this counting.
  bool CountsWrittenSite() const;
  // Builds the indexes of report `table` that its appends set aside, for a
  // look-up; a failure is left for the commit to meet again.
  void BuildIndexes(size_t table);
  // BuildIndexes, and the key index of report `table` made where an
  // earlier counting in memory left it out: before its keys are looked up
  // one by one.
  void EnsureKeyIndex(size_t table);
  // Writes the n hits of one key with one statement; false when the key
  // must be counted record by record instead.
  bool WriteKey(size_t table, const RunTally::Key& key);
  void CountOneByOne(size_t table, const RunTally::Key& key);
  // Spoils the run's transaction (see the top of this file): the count of
  // the key (identifier, URL, bucket) of report `table` in the database
  // behind `cn` would pass the maximum. The bucket is `bucket_name` for
  // weekdays and months, `bucket` for hours and status codes.
  void FailPastMaximum(size_t table, const std::shared_ptr<ado::Connection>& cn,
                       std::string_view identifier, std::string_view url,
                       std::string_view bucket_name, int32_t bucket);
  // The name rows give a weekday or month bucket of `table`; "" for others.
  std::string_view BucketName(size_t table, int32_t bucket) const;

  const std::string& mstrServerName_;
  const bool& mblnIsFTPCollection_;
  const CountingSettings counting_;
  std::map<std::pair<const ado::Connection*, std::string>,
           std::unique_ptr<ado::Command>>
      commands_;

  // The run being counted (BeginCounting to FinishCounting).
  ReportTables* tables_ = nullptr;
  std::string site_column_;
  std::array<std::string, 7> weekday_names_;
  std::array<std::string, 12> month_names_;
  std::array<bool, 4> in_memory_{};
  bool past_maximum_ = false;  // FailPastMaximum was called in this counting
  // Per report, once its counts were first written: whether it held no row
  // then.
  std::array<std::optional<bool>, 4> held_none_{};
  // The identifiers of the sites whose counts were written.
  std::vector<std::string> written_sites_;
  // Whether WriteFinishedSites may still write, and the lines of the one
  // that spoiled the run's transaction.
  bool early_writes_ = true;
  std::vector<ErrorLogEntry> early_lines_;
  // The statements writing each report's counts, prepared by BeginCounting
  // for the databases counted in memory.
  struct Writing {
    ado::Command* lookup = nullptr;
    ado::Command* update = nullptr;
    ado::Command* insert = nullptr;
    // Whether the set statements can write the counts, and for each key
    // text (identifier, URL) whether the database takes texts that differ
    // in the case of ASCII letters for one: the set statements stage one
    // row per key as the database tells keys apart.
    bool together = false;
    std::array<bool, 2> caseless{};
    // For a report whose bucket is a name (day of week, month): whether the
    // database takes names that differ in the case of ASCII letters for one.
    bool bucket_caseless = false;
    // Whether the report stores each row's folded key
    // (reportdb::kFoldedKeyColumn), which the set statements then match
    // staged keys by (set_sql.h).
    bool folded = false;
  };
  std::array<Writing, 4> writing_{};
  RunTally tally_;
};

}  // namespace velnor

#endif  // VELNOR_REPORTSTORE_REPORT_STORE_H_
