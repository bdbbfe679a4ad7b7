// The rows of a collection ledger (ledger_schema.h) and the statements that
// read and write them, through a database session: a run writes its rows in
// its own session, so that they are kept with its counts or not at all.
//
// Days are OLE dates without their time (days since 1899-12-30), the form
// the collector's windows take; the tables hold them as YYYY-MM-DD.
#ifndef VELNOR_LEDGER_LEDGER_STORE_H_
#define VELNOR_LEDGER_LEDGER_STORE_H_

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/ado/session.h"

namespace velnor::ledger {

using Day = int32_t;

// "2024-06-03" for the day `day`.
std::string DayText(Day day);
// "2024-06-03", or "2024-06-03 to 2024-06-05".
std::string DaysText(Day first, Day last);
// The day of a YYYY-MM-DD text; -1 when it is not one.
Day ParseDayText(std::string_view text);

// How a run ended. kInterrupted is a run that never committed: its start
// is all the ledger has of it, and it counted nothing.
enum class Outcome { kInterrupted, kCompleted, kCancelled, kFailed };
std::string_view OutcomeText(Outcome outcome);  // "completed", ...

// The mode of the row that starts a ledger on report databases that held
// counts already: the days before its first day were counted without one.
inline constexpr std::string_view kLedgerStartMode = "ledger start";

struct RunRow {
  int64_t run_id = 0;
  std::string server;
  bool is_ftp = false;
  std::string sites;  // the site identifiers, comma-separated
  Day first_day = 0;
  Day last_day = 0;
  std::string mode;  // "count", "recount", "raw" or kLedgerStartMode
  bool partial_day = false;
  std::string started;  // UTC, YYYY-MM-DDTHH:MM:SSZ
  std::string ended;    // empty while the run has not committed
  Outcome outcome = Outcome::kInterrupted;
  int64_t records = 0;  // counted (listed, in raw mode)
};

struct FileRow {
  int64_t run_id = 0;
  std::string site;
  std::string file_name;
  int64_t size = 0;
  std::string modified;  // UTC, YYYY-MM-DDTHH:MM:SSZ
  int64_t head_bytes = 0;
  uint32_t head_checksum = 0;  // CRC-32 of the first head_bytes bytes
  int64_t start_offset = 0;
  int64_t end_offset = 0;
  std::string first_record;  // log time, YYYY-MM-DD HH:MM:SS; empty: none
  std::string last_record;
  int64_t records = 0;
  // The CRC-32 of each start of the head that ends with a line end, as
  // (length, checksum), by length (LineChecksums); empty in a row of a
  // ledger made before they were kept, and in a row whose head's line ends
  // an earlier row keeps (CountedDays::KeepsLineEndsOf).
  std::vector<std::pair<uint32_t, uint32_t>> line_checksums;
};

// Hits per class of status: 2xx, 3xx, 4xx, 5xx; hits of other codes are
// in `hits` only.
struct DayRow {
  int64_t run_id = 0;
  std::string site;
  Day day = 0;
  int64_t hits = 0;
  int64_t hits_by_class[4] = {0, 0, 0, 0};
  bool complete = true;
};

struct LedgerContents {
  std::vector<RunRow> runs;    // by run_id
  std::vector<FileRow> files;  // by run_id, site, file name
  std::vector<DayRow> days;    // by run_id, site, day
};

class LedgerStore {
 public:
  // The ledger joined to `session` as `schema`. Failures of every member
  // raise automation::AutomationError naming the file.
  LedgerStore(ado::Session& session, std::string schema);

  // Reads a ledger of an earlier design as it is.
  LedgerContents ReadAll();
  // ReadAll without the files' rows (`files` left empty): what a report or
  // a list of runs reads, neither of which asks how far a log was read.
  LedgerContents ReadRunsAndDays();
  // Brings a ledger of an earlier design to this one in the session's
  // transaction (rows already there keep no line ends); true when it did.
  // The members that write rows run it first.
  bool Upgrade();
  // One more than the largest run_id; 1 for an empty ledger.
  int64_t NextRunId();
  // The run as it starts: its end, outcome and records stay empty.
  void AddRun(const RunRow& run);
  void EndRun(int64_t run_id, const std::string& ended, Outcome outcome,
              int64_t records);
  void AddFile(const FileRow& file);
  void AddDay(const DayRow& day);
  // The rows of `files` and `days`, as AddFile and AddDay add them, in one
  // bulk load each where the engine bulk-loads.
  void AddFiles(const std::vector<FileRow>& files);
  void AddDays(const std::vector<DayRow>& days);
  // The days with hits of every run that has ended, by run_id, site and
  // day: what the session sees counted now.
  std::vector<DayRow> EndedDaysWithHits();
  // The first of the ledger's tables (LedgerTables) the database lacks,
  // renamed or dropped by another tool; empty when it has them all. Fails
  // on nothing: a table it cannot ask about otherwise is taken as there.
  // A probe of every table, for when reading the ledger failed.
  std::string MissingTable();

 private:
  std::unique_ptr<ado::Statement> Prepare(const std::string& sql);
  // Each table's rows into `ledger`.
  void ReadRuns(LedgerContents& ledger);
  void ReadFiles(LedgerContents& ledger);
  void ReadDays(LedgerContents& ledger);
  // Whether run_files has its line_ends column (asked once).
  bool HasLineEnds();

  ado::Session& session_;
  std::string schema_;
  std::optional<bool> has_line_ends_;
  // A run adds a row per file and per site and day: prepared once.
  std::unique_ptr<ado::Statement> insert_file_;
  std::unique_ptr<ado::Statement> insert_day_;
};

}  // namespace velnor::ledger

#endif  // VELNOR_LEDGER_LEDGER_STORE_H_
