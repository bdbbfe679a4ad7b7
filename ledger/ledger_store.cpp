// The ledger's statements, with bound values only: site and file names are
// the servers', never SQL.
#include "ledger/ledger_store.h"

#include <absl/strings/escaping.h>
#include <fmt/format.h>

#include "ledger/ledger_schema.h"
#include "platform/ado/ado.h"
#include "platform/ado/engine.h"
#include "platform/automation/error_state.h"
#include "platform/automation/ole_date.h"

namespace velnor::ledger {
namespace {

constexpr std::string_view kOutcomes[] = {"", "completed", "cancelled",
                                          "failed"};

Outcome ParseOutcome(std::string_view text) {
  for (size_t i = 1; i < std::size(kOutcomes); ++i) {
    if (text == kOutcomes[i]) return static_cast<Outcome>(i);
  }
  return Outcome::kInterrupted;
}

std::string Text(const ado::Statement& row, int column) {
  return std::string(row.Text(column));
}

// Binds text, or null for empty text.
void BindOptional(ado::Statement& statement, int index,
                  const std::string& text) {
  if (text.empty()) {
    statement.BindNull(index);
  } else {
    statement.BindText(index, text);
  }
}

// A value of a bulk-loaded row: text, or null.
using CopiedValue = std::optional<std::string>;

// A head's line checksums as run_files keeps them: base64 over a version
// byte (1) and then, per line end, its length and its checksum as 32-bit
// little-endian numbers. Text, so that any engine's column holds it.
constexpr char kLineEndsVersion = 1;

void PutUint32(std::string& out, uint32_t value) {
  for (int shift = 0; shift < 32; shift += 8) {
    out.push_back(static_cast<char>((value >> shift) & 0xff));
  }
}

uint32_t GetUint32(std::string_view in) {
  uint32_t value = 0;
  for (int i = 3; i >= 0; --i) {
    value = (value << 8) | static_cast<uint8_t>(in[static_cast<size_t>(i)]);
  }
  return value;
}

// Empty for none, kept as null: most rows leave theirs to an earlier row
// of the same head (CountedDays::KeepsLineEndsOf).
std::string PackLineEnds(
    const std::vector<std::pair<uint32_t, uint32_t>>& checksums) {
  if (checksums.empty()) return "";
  std::string bytes(1, kLineEndsVersion);
  for (const auto& [length, checksum] : checksums) {
    PutUint32(bytes, length);
    PutUint32(bytes, checksum);
  }
  return absl::Base64Escape(bytes);
}

// None for a text PackLineEnds did not make (of another version, cut
// short, lengths not rising): the row is then known by its head alone, as
// rows of earlier designs are, rather than by line ends that may be wrong.
std::vector<std::pair<uint32_t, uint32_t>> UnpackLineEnds(
    std::string_view packed) {
  std::string bytes;
  std::vector<std::pair<uint32_t, uint32_t>> checksums;
  if (!absl::Base64Unescape(absl::string_view(packed.data(), packed.size()),
                            &bytes) ||
      bytes.empty() || bytes[0] != kLineEndsVersion ||
      (bytes.size() - 1) % 8 != 0) {
    return checksums;
  }
  for (size_t at = 1; at < bytes.size(); at += 8) {
    const std::string_view entry = std::string_view(bytes).substr(at, 8);
    const uint32_t length = GetUint32(entry);
    if (!checksums.empty() && length <= checksums.back().first) return {};
    checksums.emplace_back(length, GetUint32(entry.substr(4)));
  }
  return checksums;
}

void Run(ado::Statement& statement) {
  statement.Step();
  statement.Reset();
}

// The columns of a file's and a day's row, in the order both the INSERT's
// bound values and the COPY's rows give them: one list per table, so that
// the two ways of writing a row cannot drift apart.
const std::vector<std::string>& FileColumns() {
  static const auto* columns = new std::vector<std::string>{
      "run_id",        "site",         "file_name",     "file_size",
      "file_modified", "head_bytes",   "head_checksum", "start_offset",
      "end_offset",    "first_record", "last_record",   "records",
      "line_ends"};
  return *columns;
}

const std::vector<std::string>& DayColumns() {
  static const auto* columns = new std::vector<std::string>{
      "run_id",   "site",     "log_day",  "hits",    "hits_2xx",
      "hits_3xx", "hits_4xx", "hits_5xx", "complete"};
  return *columns;
}

// "INSERT INTO table (columns) VALUES (?, ...)".
std::string InsertInto(std::string_view table,
                       const std::vector<std::string>& columns) {
  std::string names, marks;
  for (const std::string& column : columns) {
    names += (names.empty() ? "" : ", ") + column;
    marks += marks.empty() ? "?" : ", ?";
  }
  return fmt::format("INSERT INTO {} ({}) VALUES ({})", table, names, marks);
}

}  // namespace

std::string DayText(Day day) {
  automation::DateParts parts = automation::PartsOf(day);
  return fmt::format("{:04}-{:02}-{:02}", parts.year, parts.month, parts.day);
}

std::string DaysText(Day first, Day last) {
  return first == last ? DayText(first)
                       : DayText(first) + " to " + DayText(last);
}

Day ParseDayText(std::string_view text) {
  if (text.size() != 10 || text[4] != '-' || text[7] != '-') return -1;
  int numbers[3] = {0, 0, 0};
  size_t field = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    if (i == 4 || i == 7) {
      ++field;
    } else if (text[i] >= '0' && text[i] <= '9') {
      numbers[field] = numbers[field] * 10 + (text[i] - '0');
    } else {
      return -1;
    }
  }
  Day day = -1;
  automation::ResumeNext([&] {
    day = static_cast<Day>(
        automation::DateSerial(numbers[0], numbers[1], numbers[2]));
  });
  automation::Err().Clear();
  // DateSerial rolls 30 February over into March; the text must be exact.
  return day >= 0 && DayText(day) == text ? day : -1;
}

std::string_view OutcomeText(Outcome outcome) {
  return outcome == Outcome::kInterrupted
             ? "interrupted"
             : kOutcomes[static_cast<size_t>(outcome)];
}

LedgerStore::LedgerStore(ado::Session& session, std::string schema)
    : session_(session), schema_(std::move(schema)) {}

std::unique_ptr<ado::Statement> LedgerStore::Prepare(const std::string& sql) {
  return session_.Prepare(sql, schema_);
}

bool LedgerStore::HasLineEnds() {
  if (!has_line_ends_) {
    auto columns = Prepare("SELECT * FROM run_files WHERE 1 = 0");
    has_line_ends_ = false;
    for (int i = 0; i < columns->ColumnCount(); ++i) {
      if (columns->ColumnName(i) == "line_ends") has_line_ends_ = true;
    }
  }
  return *has_line_ends_;
}

bool LedgerStore::Upgrade() {
  if (HasLineEnds()) return false;
  // Named with its database: the engines qualify the tables of queries
  // only.
  Prepare("ALTER TABLE [" + schema_ + "].run_files ADD COLUMN line_ends TEXT")
      ->Step();
  has_line_ends_ = true;
  return true;
}

LedgerContents LedgerStore::ReadAll() {
  LedgerContents ledger;
  ReadRuns(ledger);
  ReadFiles(ledger);
  ReadDays(ledger);
  return ledger;
}

// The files' rows hold the bulk of a ledger's bytes, their line ends, and
// unpacking and indexing those (CountedDays) is most of what reading a
// ledger costs: a report and the list of runs leave them out.
LedgerContents LedgerStore::ReadRunsAndDays() {
  LedgerContents ledger;
  ReadRuns(ledger);
  ReadDays(ledger);
  return ledger;
}

void LedgerStore::ReadRuns(LedgerContents& ledger) {
  auto runs = Prepare(
      "SELECT run_id, server, service, sites, first_day, last_day, mode, "
      "partial_day, started, ended, outcome, records FROM runs "
      "ORDER BY run_id");
  while (runs->Step()) {
    RunRow& run = ledger.runs.emplace_back();
    run.run_id = runs->Integer(0);
    run.server = Text(*runs, 1);
    run.is_ftp = runs->Text(2) == "ftp";
    run.sites = Text(*runs, 3);
    run.first_day = ParseDayText(runs->Text(4));
    run.last_day = ParseDayText(runs->Text(5));
    run.mode = Text(*runs, 6);
    run.partial_day = runs->Integer(7) != 0;
    run.started = Text(*runs, 8);
    run.ended = Text(*runs, 9);
    run.outcome = ParseOutcome(runs->Text(10));
    run.records = runs->Integer(11);
  }
}

void LedgerStore::ReadFiles(LedgerContents& ledger) {
  const bool line_ends = HasLineEnds();
  auto files = Prepare(
      "SELECT run_id, site, file_name, file_size, file_modified, head_bytes, "
      "head_checksum, start_offset, end_offset, first_record, last_record, "
      "records" +
      std::string(line_ends ? ", line_ends" : "") +
      " FROM run_files ORDER BY run_id, site, file_name");
  while (files->Step()) {
    FileRow& file = ledger.files.emplace_back();
    file.run_id = files->Integer(0);
    file.site = Text(*files, 1);
    file.file_name = Text(*files, 2);
    file.size = files->Integer(3);
    file.modified = Text(*files, 4);
    file.head_bytes = files->Integer(5);
    file.head_checksum = static_cast<uint32_t>(files->Integer(6));
    file.start_offset = files->Integer(7);
    file.end_offset = files->Integer(8);
    file.first_record = Text(*files, 9);
    file.last_record = Text(*files, 10);
    file.records = files->Integer(11);
    if (line_ends && files->Type(12) != ado::ColumnType::kNull) {
      file.line_checksums = UnpackLineEnds(files->Text(12));
    }
  }
}

void LedgerStore::ReadDays(LedgerContents& ledger) {
  auto days = Prepare(
      "SELECT run_id, site, log_day, hits, hits_2xx, hits_3xx, hits_4xx, "
      "hits_5xx, complete FROM run_days ORDER BY run_id, site, log_day");
  while (days->Step()) {
    DayRow& day = ledger.days.emplace_back();
    day.run_id = days->Integer(0);
    day.site = Text(*days, 1);
    day.day = ParseDayText(days->Text(2));
    day.hits = days->Integer(3);
    for (int i = 0; i < 4; ++i) day.hits_by_class[i] = days->Integer(4 + i);
    day.complete = days->Integer(8) != 0;
  }
}

int64_t LedgerStore::NextRunId() {
  auto next = Prepare("SELECT MAX(run_id) FROM runs");
  return next->Step() && next->Type(0) != ado::ColumnType::kNull
             ? next->Integer(0) + 1
             : 1;
}

void LedgerStore::AddRun(const RunRow& run) {
  auto insert = Prepare(
      "INSERT INTO runs (run_id, server, service, sites, first_day, "
      "last_day, mode, partial_day, started) "
      "VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?)");
  insert->BindInteger(1, run.run_id);
  insert->BindText(2, run.server);
  insert->BindText(3, run.is_ftp ? "ftp" : "web");
  insert->BindText(4, run.sites);
  insert->BindText(5, DayText(run.first_day));
  insert->BindText(6, DayText(run.last_day));
  insert->BindText(7, run.mode);
  insert->BindInteger(8, run.partial_day ? 1 : 0);
  insert->BindText(9, run.started);
  Run(*insert);
}

void LedgerStore::EndRun(int64_t run_id, const std::string& ended,
                         Outcome outcome, int64_t records) {
  auto update = Prepare(
      "UPDATE runs SET ended = ?, outcome = ?, records = ? WHERE run_id = ?");
  update->BindText(1, ended);
  update->BindText(2, OutcomeText(outcome));
  update->BindInteger(3, records);
  update->BindInteger(4, run_id);
  Run(*update);
}

void LedgerStore::AddFile(const FileRow& file) {
  Upgrade();
  if (!insert_file_) {
    insert_file_ = Prepare(InsertInto("run_files", FileColumns()));
  }
  ado::Statement* insert = insert_file_.get();
  insert->BindInteger(1, file.run_id);
  insert->BindText(2, file.site);
  insert->BindText(3, file.file_name);
  insert->BindInteger(4, file.size);
  insert->BindText(5, file.modified);
  insert->BindInteger(6, file.head_bytes);
  insert->BindInteger(7, file.head_checksum);
  insert->BindInteger(8, file.start_offset);
  insert->BindInteger(9, file.end_offset);
  BindOptional(*insert, 10, file.first_record);
  BindOptional(*insert, 11, file.last_record);
  insert->BindInteger(12, file.records);
  BindOptional(*insert, 13, PackLineEnds(file.line_checksums));
  Run(*insert);
}

void LedgerStore::AddDay(const DayRow& day) {
  if (!insert_day_) {
    insert_day_ = Prepare(InsertInto("run_days", DayColumns()));
  }
  ado::Statement* insert = insert_day_.get();
  insert->BindInteger(1, day.run_id);
  insert->BindText(2, day.site);
  insert->BindText(3, DayText(day.day));
  insert->BindInteger(4, day.hits);
  for (int i = 0; i < 4; ++i) insert->BindInteger(5 + i, day.hits_by_class[i]);
  insert->BindInteger(9, day.complete ? 1 : 0);
  Run(*insert);
}

// A store's session would otherwise send each row as its own statement,
// with a savepoint renewed after it: two round trips a row, where a run
// writes tens of rows per site.
void LedgerStore::AddFiles(const std::vector<FileRow>& files) {
  Upgrade();
  if (!session_.BulkLoads()) {
    for (const FileRow& file : files) AddFile(file);
    return;
  }
  auto optional = [](const std::string& text) -> CopiedValue {
    if (text.empty()) return std::nullopt;
    return text;
  };
  std::vector<std::vector<CopiedValue>> rows;
  for (const FileRow& file : files) {
    rows.push_back(
        {std::to_string(file.run_id), file.site, file.file_name,
         std::to_string(file.size), file.modified,
         std::to_string(file.head_bytes), std::to_string(file.head_checksum),
         std::to_string(file.start_offset), std::to_string(file.end_offset),
         optional(file.first_record), optional(file.last_record),
         std::to_string(file.records),
         optional(PackLineEnds(file.line_checksums))});
  }
  if (rows.empty()) return;
  session_.CopyRows(schema_, "run_files", FileColumns(), ado::OneBatch(rows));
}

void LedgerStore::AddDays(const std::vector<DayRow>& days) {
  if (!session_.BulkLoads()) {
    for (const DayRow& day : days) AddDay(day);
    return;
  }
  std::vector<std::vector<CopiedValue>> rows;
  for (const DayRow& day : days) {
    std::vector<CopiedValue>& row = rows.emplace_back();
    row = {std::to_string(day.run_id), day.site, DayText(day.day),
           std::to_string(day.hits)};
    for (int64_t hits : day.hits_by_class) {
      row.emplace_back(std::to_string(hits));
    }
    row.emplace_back(day.complete ? "1" : "0");
  }
  if (rows.empty()) return;
  session_.CopyRows(schema_, "run_days", DayColumns(), ado::OneBatch(rows));
}

std::vector<DayRow> LedgerStore::EndedDaysWithHits() {
  std::vector<DayRow> rows;
  auto days = Prepare(
      "SELECT d.run_id, d.site, d.log_day, d.hits FROM run_days d "
      "JOIN runs r ON r.run_id = d.run_id "
      "WHERE r.ended IS NOT NULL AND d.hits > 0 "
      "ORDER BY d.run_id, d.site, d.log_day");
  while (days->Step()) {
    DayRow& day = rows.emplace_back();
    day.run_id = days->Integer(0);
    day.site = Text(*days, 1);
    day.day = ParseDayText(days->Text(2));
    day.hits = days->Integer(3);
  }
  return rows;
}

std::string LedgerStore::MissingTable() {
  for (const LedgerTable& table : LedgerTables()) {
    const bool asked = automation::ResumeNext([&] {
      Prepare("SELECT 1 FROM " + std::string(table.name) + " WHERE 1 = 0")
          ->Step();
    });
    const bool missing =
        !asked && automation::Err().Number() == ado::kErrTableNotFound;
    automation::Err().Clear();
    if (missing) return std::string(table.name);
  }
  return "";
}

}  // namespace velnor::ledger
