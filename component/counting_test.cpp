// Counting in memory against counting record by record: the same generated
// logs collected both ways (and in memory with a limit so small that the
// counts are written after every few records) must leave the same rows in
// all six tables and the same error-log lines, also over rows of an
// earlier run that the way of counting must find again: duplicated keys, a
// count of 0, a count near the 32-bit maximum.
#include <gtest/gtest.h>

#include <functional>
#include <random>
#include <sstream>

#include "component/test_support.h"
#include "component/velnor.h"
#include "platform/automation/ole_date.h"

namespace velnor::testing {
namespace {

using automation::DateSerial;

constexpr const char* kPrefixes[] = {"DayOfWeek", "HitsByMonth", "HitsByHour",
                                     "HitsByStatus"};

enum class Mode { kPerRecord, kInMemory, kInMemoryTinyLimit };

// Everything a run leaves that can be compared: the rows of the six tables
// in the order they were written, and the error-log lines without their
// time.
struct Outcome {
  std::vector<Rows> tables;
  std::vector<std::string> error_lines;
  std::vector<std::string> counted_record_by_record;
};

// Records of a few days around a month end, with URLs that need quoting,
// are not ASCII, differ only in case, are missing or run to thousands of
// bytes (more in all than a tally keeps in one block of texts, and one
// longer than a quarter of such a block), and the statuses of both
// services' lists and outside them: more kinds than a URL's counters hold
// in place.
std::vector<LogRecord> Generated(unsigned seed, int count) {
  std::vector<std::string> urls = {"/",
                                   "/A",
                                   "/a",
                                   "/b",
                                   "/O'Brien.htm",
                                   "/caf\xC3\xA9/men\xC3\xBC.htm",
                                   "/\xE6\x97\xA5.htm",
                                   "/Default.aspx",
                                   "/default.aspx",
                                   "/x'y'z",
                                   "-",
                                   "/" + std::string(5000, 'L')};
  for (char page = 'a'; page < 'g'; ++page) {
    urls.push_back(std::string("/") + page + std::string(3000, 'm'));
  }
  const int statuses[] = {200, 200, 304, 404, 500, 226, 331, 403, 550, 401};
  const char* days[] = {"2024-05-29", "2024-05-30", "2024-05-31",
                        "2024-06-01", "2024-06-02", "2024-06-03"};
  std::mt19937 rng(seed);
  std::vector<LogRecord> records;
  for (int i = 0; i < count; ++i) {
    char time[16];
    std::snprintf(
        time, sizeof time, "%02u:%02u:%02u", static_cast<unsigned>(rng() % 24),
        static_cast<unsigned>(rng() % 60), static_cast<unsigned>(rng() % 60));
    records.push_back({days[rng() % 6], time, urls[rng() % urls.size()],
                       statuses[rng() % 10]});
  }
  // The keys the earlier run left rows for (or a test adds), hit for sure:
  // Friday 2024-05-31 at 10 o'clock, status 200.
  for (const char* url : {"/A", "/b", "/zero", "/null", "/big"}) {
    for (int i = 0; i < 3; ++i) {
      records.push_back(
          {"2024-05-31", "10:1" + std::to_string(i) + ":00", url, 200});
    }
  }
  return records;
}

// Compares table by table and row by row, so that a difference shows where
// it is.
void ExpectSame(const Outcome& actual, const Outcome& expected) {
  ASSERT_EQ(actual.tables.size(), expected.tables.size());
  for (size_t t = 0; t < expected.tables.size(); ++t) {
    SCOPED_TRACE("table " + std::to_string(t));
    const Rows& a = actual.tables[t];
    const Rows& e = expected.tables[t];
    for (size_t r = 0; r < std::min(a.size(), e.size()); ++r) {
      ASSERT_EQ(a[r], e[r]) << "row " << r;
    }
    ASSERT_EQ(a.size(), e.size());
  }
  EXPECT_EQ(actual.error_lines, expected.error_lines);
}

// Each test runs with the sites read one after another and two at once.
class CountingTest : public RunFixture,
                     public ::testing::WithParamInterface<int> {
 protected:
  void WriteLogs(bool ftp) {
    const std::string service = ftp ? "MSFTPSVC" : "W3SVC";
    WriteShareFile("SRV1/D$/Logs/" + service + "1/ex240530.log",
                   WebLog(Generated(1, 700)));
    WriteShareFile("SRV1/D$/Logs/" + service + "2/ex240531.log",
                   WebLog(Generated(2, 400)));
    WriteShareFile("SRV1/D$/Logs/" + service + "10/ex240601.log",
                   WebLog(Generated(3, 300)));
    // Another folder whose site has identifier 1 too: it shares the rows
    // of site 1.
    WriteShareFile("SRV1/E$/Logs/" + service + "1/ex240602.log",
                   WebLog(Generated(4, 200)));
  }

  // Rows an earlier run left, keyed as this run's records will be, and
  // rows that only look so: a URL stored as a blob, which equals no text;
  // a day or month named in capitals, which is the same key where the
  // column compares as NOCASE.
  void SeedEarlierRows(bool ftp) {
    const std::string site = ftp ? "[FTP Site Name]" : "[Web Site Name]";
    const char* buckets[][3] = {
        {"[Sort Field], [Day of week]", "6, 'Friday'", "6, 'FRIDAY'"},
        {"[Sort Field], [Months]", "5, 'May'", "5, 'MAY'"},
        {"Hours", "10", "11"},
        {"[Sort Field], Status, [Status code]", "0, 'x', 200", "0, 'x', 404"}};
    for (int k = 0; k < 4; ++k) {
      std::string insert =
          "INSERT INTO tblGeneral ([Server name], Identifier, " + site +
          ", URL, [No of Hits], " + buckets[k][0] + ") VALUES ";
      auto row = [&](const char* id, const char* url, const char* hits,
                     int bucket = 1) {
        return std::string("('SRV1', '") + id + "', 'Earlier', " + url + ", " +
               hits + ", " + buckets[k][bucket] + ")";
      };
      Execute(Prefix(ftp, k), insert + row("1", "'/a'", "5") + ", " +
                                  row("1", "'/b'", "3") + ", " +
                                  row("1", "'/B'", "7") + ", " +
                                  row("2", "'/big'", "2147483640") + ", " +
                                  row("1", "CAST('/a' AS BLOB)", "9") + ", " +
                                  row("2", "'/a'", "11", 2));
    }
  }

  std::string Prefix(bool ftp, int kind) const {
    return std::string("QDX_UA") + (ftp ? "FTPLog" : "WebLog") +
           kPrefixes[kind] + "_";
  }

  // Collects into new databases holding an earlier run's rows (or none,
  // without `earlier`), after `prepare`.
  Outcome Collect(bool ftp, Mode mode,
                  const std::function<void()>& prepare = {},
                  bool earlier = true) {
    std::filesystem::remove_all(db_dir_);
    std::filesystem::create_directories(db_dir_);
    std::filesystem::remove(error_log_);
    MakeDatabases(ftp);
    if (earlier) SeedEarlierRows(ftp);
    if (prepare) prepare();
    return CollectAgain(ftp, mode);
  }

  // Collects into the databases as they are.
  Outcome CollectAgain(bool ftp, Mode mode) {
    RunSettings settings = Settings();
    settings.counting.in_memory = mode != Mode::kPerRecord;
    if (mode == Mode::kInMemoryTinyLimit) settings.counting.memory_limit = 4096;
    settings.workers = GetParam();
    auto parser = CreateLogParser({}, settings);
    parser->SetErrorLogPath(error_log_.string());
    parser->CollectIISLogData(
        "SRV1", ftp, DateSerial(2024, 5, 30), DateSerial(2024, 6, 2),
        db_dir_.string(), false, nullptr,
        std::make_shared<automation::Collection>(std::vector<std::string>{
            "Main Site,D:\\Logs,1", "Bob's Site,D:\\Logs,2",
            "Tenth,D:\\Logs,10", "Main Again,E:\\Logs,1"}),
        false, true);
    Outcome outcome;
    const RunSummary summary = LastRunSummary(*parser);
    outcome.counted_record_by_record = summary.counted_record_by_record;
    // Sites are read side by side whenever every database is counted in
    // memory.
    EXPECT_EQ(
        summary.sites_at_once,
        mode != Mode::kPerRecord && summary.counted_record_by_record.empty()
            ? GetParam()
            : 1);
    for (int k = 0; k < 4; ++k) {
      outcome.tables.push_back(
          Query(Prefix(ftp, k), "SELECT * FROM tblGeneral ORDER BY rowid"));
    }
    for (const char* table : {"tblTotalAccess", "tblLogFiles"}) {
      outcome.tables.push_back(
          Query(Prefix(ftp, 2),
                std::string("SELECT * FROM ") + table + " ORDER BY rowid"));
    }
    std::istringstream log(ErrorLog());
    for (std::string line; std::getline(log, line);) {
      outcome.error_lines.push_back(line.substr(line.find('\t')));
    }
    return outcome;
  }
};

// Over an earlier run's rows (found again: /a and /A are one page, both /b
// rows get the first one's count plus the run's) and into empty tables
// (where /A and /a, or /Default.aspx and /default.aspx, are still one row).
TEST_P(CountingTest, InMemoryGivesTheRowsOfCountingRecordByRecord) {
  for (bool ftp : {false, true}) {
    WriteLogs(ftp);
    for (bool earlier : {true, false}) {
      SCOPED_TRACE(std::string(ftp ? "FTP" : "web") +
                   (earlier ? ", earlier rows" : ", empty tables"));
      Outcome reference = Collect(ftp, Mode::kPerRecord, {}, earlier);
      ASSERT_GT(reference.tables[0].size(), 20u);
      EXPECT_TRUE(reference.error_lines.empty());
      for (Mode mode : {Mode::kInMemory, Mode::kInMemoryTinyLimit}) {
        Outcome in_memory = Collect(ftp, mode, {}, earlier);
        EXPECT_TRUE(in_memory.counted_record_by_record.empty());
        ExpectSame(in_memory, reference);
      }
    }
  }
}

// A database whose counts cannot be found again in memory is counted
// record by record, with the same rows and error-log lines: a count of 0
// makes every hit of its key a new row and a null count costs an error-log
// line per hit; without a column, every look-up fails naming its statement.
TEST_P(CountingTest, ADatabaseItCannotCountInMemoryIsCountedRecordByRecord) {
  struct Case {
    const char* database;
    int kind;
    const char* prepare;
    size_t more_error_lines_than;
    const char* first_error;
  };
  const Case kCases[] = {
      {"WebLogHitsByHour", 2,
       "INSERT INTO tblGeneral (Identifier, URL, [No of Hits], Hours) "
       "VALUES ('1', '/zero', 0, 10), ('1', '/null', NULL, 10)",
       0, "GetNumberOfHits"},
      {"WebLogHitsByMonth", 1,
       "DROP INDEX tblGeneral_Key; ALTER TABLE tblGeneral DROP COLUMN Months",
       1000,
       "select [No of Hits] from tblGeneral where [Identifier]='1' And URL = "},
  };
  WriteLogs(false);
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.database);
    auto prepare = [&] { Execute(Prefix(false, c.kind), c.prepare); };
    Outcome reference = Collect(false, Mode::kPerRecord, prepare);
    ASSERT_GT(reference.error_lines.size(), c.more_error_lines_than);
    EXPECT_NE(reference.error_lines[0].find(c.first_error), std::string::npos)
        << reference.error_lines[0];
    Outcome in_memory = Collect(false, Mode::kInMemory, prepare);
    EXPECT_EQ(in_memory.counted_record_by_record,
              std::vector<std::string>{c.database});
    ExpectSame(in_memory, reference);
  }
}

// Databases made elsewhere may compare their key texts otherwise: byte for
// byte (where /A and /a are two pages) or by a rule of their own (where
// only the database itself can tell which keys are one). Either way the
// rows must be those counting record by record gives.
TEST_P(CountingTest, KeysAreTheOnesTheDatabaseTellsApart) {
  WriteLogs(false);
  for (const char* collation : {"", "COLLATE RTRIM"}) {
    SCOPED_TRACE(std::string("key texts compared ") +
                 (*collation ? collation : "byte for byte"));
    auto recollate = [&] {
      for (int k = 0; k < 4; ++k) {
        std::string sql = Query(Prefix(false, k),
                                "SELECT sql FROM sqlite_master WHERE name = "
                                "'tblGeneral'")[0][0];
        for (size_t at; (at = sql.find("COLLATE NOCASE")) != sql.npos;) {
          sql.replace(at, 14, collation);
        }
        Execute(Prefix(false, k),
                "ALTER TABLE tblGeneral RENAME TO old; " + sql +
                    "; INSERT INTO tblGeneral SELECT * FROM old; DROP TABLE "
                    "old");
      }
    };
    Outcome reference = Collect(false, Mode::kPerRecord, recollate);
    Outcome in_memory = Collect(false, Mode::kInMemory, recollate);
    EXPECT_TRUE(in_memory.counted_record_by_record.empty());
    ExpectSame(in_memory, reference);
    if (!*collation) {
      // /A and /a stay two rows of one hour.
      Rows pages = Query(Prefix(false, 2),
                         "SELECT URL FROM tblGeneral WHERE Identifier = '2' "
                         "AND Hours = 10 AND URL IN ('/A', '/a')");
      EXPECT_EQ(pages.size(), 2u);
    }
  }
}

// So many new keys of three sites that an empty report's key index is left
// out rather than kept up to date row by row (where a site shares the
// identifier of one written before and its keys are looked up, it is made
// again): the rows, the error-log lines, the schema's text but for that
// index and a sound file are those of counting record by record, also
// where a refused row of the second site undoes the write of its keys (and
// they are written one by one). Counting record by record into those
// databases afterwards makes each key index again as it was.
TEST_P(CountingTest, ManyNewKeysLeaveTheRowsAndSchemaOfRecordByRecord) {
  std::vector<LogRecord> records;
  for (int i = 0; i < 3000; ++i) {
    records.push_back({"2024-05-31", i % 2 ? "10:00:00" : "11:00:00",
                       std::string("/p")
                           .append(std::to_string(i % 2500))
                           .append(i % 3 ? "" : "X"),
                       200});
  }
  for (const char* folder :
       {"D$/Logs/W3SVC1", "D$/Logs/W3SVC2", "E$/Logs/W3SVC1"}) {
    WriteShareFile(std::string("SRV1/") + folder + "/ex240531.log",
                   WebLog(records));
  }
  for (bool refused : {false, true}) {
    SCOPED_TRACE(refused ? "a refused row" : "all rows kept");
    auto prepare = [&] {
      if (!refused) return;
      Execute(Prefix(false, 2),
              "CREATE TRIGGER r BEFORE INSERT ON tblGeneral WHEN new.URL = "
              "'/p2002' AND new.Identifier = '2' BEGIN SELECT RAISE(ABORT, "
              "'refused'); END");
    };
    std::vector<Outcome> outcomes;
    std::vector<Rows> schemas;
    for (Mode mode : {Mode::kPerRecord, Mode::kInMemory}) {
      outcomes.push_back(Collect(false, mode, prepare, false));
      for (int k = 0; k < 4; ++k) {
        schemas.push_back(Query(Prefix(false, k),
                                "SELECT type, name, tbl_name, sql FROM "
                                "sqlite_master ORDER BY name"));
        EXPECT_EQ(Query(Prefix(false, k), "PRAGMA integrity_check"),
                  (Rows{{"ok"}}));
      }
    }
    ASSERT_GT(outcomes[0].tables[2].size(), 5000u);
    EXPECT_EQ(outcomes[0].error_lines.size(), refused ? 1u : 0u);
    EXPECT_TRUE(outcomes[1].counted_record_by_record.empty());
    ExpectSame(outcomes[1], outcomes[0]);
    auto without_key_index = [](Rows rows) {
      std::erase_if(rows,
                    [](const auto& row) { return row[1] == "tblGeneral_Key"; });
      return rows;
    };
    for (int k = 0; k < 4; ++k) {
      EXPECT_EQ(without_key_index(schemas[4 + k]),
                without_key_index(schemas[k]));
    }
    if (refused) continue;
    EXPECT_EQ(schemas[4 + 2], without_key_index(schemas[2]));
    CollectAgain(false, Mode::kPerRecord);
    for (int k = 0; k < 4; ++k) {
      EXPECT_EQ(Query(Prefix(false, k),
                      "SELECT type, name, tbl_name, sql FROM sqlite_master "
                      "ORDER BY name"),
                schemas[k]);
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Workers, CountingTest, ::testing::Values(1, 2),
                         [](const auto& info) {
                           return std::to_string(info.param) + "Workers";
                         });

}  // namespace
}  // namespace velnor::testing
