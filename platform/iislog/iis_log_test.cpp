// Tests of the IIS log reader through its public interface: the real logs
// under testdata/ (expected values read off the files by hand), and small
// files written here for directives, values, line handling, broken input,
// gzip and failures.
#include "platform/iislog/iis_log.h"

#include <zlib.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <ostream>
#include <random>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "gtest/gtest.h"
#include "platform/automation/error_state.h"
#include "platform/automation/ole_date.h"
#include "platform/iislog/log_input.h"
#include "platform/interrupt/interrupt.h"
#include "testing/raised_error.h"
#include "testing/test_support.h"

namespace velnor::automation {
void PrintTo(const Variant& v, std::ostream* os) {
  if (v.IsNull()) {
    *os << "Null";
  } else {
    *os << "type " << static_cast<int>(v.Type()) << " \"" << CStr(v) << "\"";
  }
}
}  // namespace velnor::automation

namespace velnor::iislog {
namespace {

namespace fs = std::filesystem;
using automation::AutomationError;
using automation::Null;
using automation::Variant;

constexpr const char* kW3C = "W3C Extended Log File Format";

std::string TestData(const std::string& name) {
  return std::string(VELNOR_SOURCE_DIR) + "/platform/iislog/testdata/" + name;
}

Variant At(int y, int mo, int d, int h = 0, int mi = 0, int s = 0) {
  return automation::Date{automation::DateFromParts({y, mo, d, h, mi, s})};
}

// Records what the readers it hooks report.
class RecordingObserver : public ReadObserver {
 public:
  void FileOpened(std::string_view path) override {
    events.push_back("open " + std::string(path));
  }
  void FileNotOpened(std::string_view path) override {
    events.push_back("not opened " + std::string(path));
  }
  void ChunkRead() override { ++chunks; }
  void FileClosed(const FileReadReport& report) override {
    closed.push_back(report);
  }
  std::vector<std::string> events;
  int chunks = 0;
  std::vector<FileReadReport> closed;
};

class IISLogTest : public ::testing::Test {
 protected:
  IISLogTest() { Hook(observer_); }

  // From now on `observer` hears the reader and `planner` (if any) plans
  // its files.
  void Hook(RecordingObserver& observer, ReadPlanner* planner = nullptr) {
    log_.SetHooks({{&observer}, planner, &counters_});
  }

  std::string Write(const std::string& name, const std::string& bytes) {
    testing::WriteFile(dir_ / name, bytes);
    return (dir_ / name).string();
  }

  // Writes `text` as one gzip member per element of `members`.
  std::string WriteGzip(const std::string& name,
                        const std::vector<std::string>& members) {
    std::string path = (dir_ / name).string();
    std::ofstream out(path, std::ios::binary);
    for (const std::string& text : members) {
      z_stream z{};
      deflateInit2(&z, Z_DEFAULT_COMPRESSION, Z_DEFLATED, 15 + 16, 8,
                   Z_DEFAULT_STRATEGY);
      std::string packed(deflateBound(&z, text.size()), '\0');
      z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(text.data()));
      z.avail_in = static_cast<uInt>(text.size());
      z.next_out = reinterpret_cast<Bytef*>(packed.data());
      z.avail_out = static_cast<uInt>(packed.size());
      deflate(&z, Z_FINISH);
      packed.resize(z.total_out);
      deflateEnd(&z);
      out << packed;
    }
    return path;
  }

  void Open(const std::string& path) {
    log_.OpenLogFile(path, 1, "W3SVC", "1", kW3C);
  }

  // Opens `path` and makes its record `n` (from 1) current.
  void OpenAt(const std::string& path, int n) {
    Open(path);
    for (int i = 0; i < n; ++i) {
      log_.ReadLogRecord();
      ASSERT_FALSE(log_.AtEndOfLog()) << "record " << i + 1 << " of " << path;
    }
  }

  // Reads `path` to the end; returns the number of records.
  int CountRecords(const std::string& path) {
    Open(path);
    int records = 0;
    for (log_.ReadLogRecord(); !log_.AtEndOfLog(); log_.ReadLogRecord()) {
      ++records;
    }
    return records;
  }

  // The records of the UTF-16 log of Utf16LogsReadAsTheirUtf8Text, from
  // its first, which is current.
  void CheckUtf16Records() {
    EXPECT_EQ(log_.URIStem(), Variant("/caf\xC3\xA9"));
    EXPECT_EQ(log_.ProtocolStatus(), Variant(int32_t{200}));
    log_.ReadLogRecord();
    EXPECT_EQ(log_.URIStem(), Variant("/\xF0\x9F\x98\x80"));
    log_.ReadLogRecord();
    EXPECT_EQ(log_.DateTime(), At(2021, 3, 4, 5, 6, 9));
    EXPECT_EQ(log_.URIStem(), Variant("/x\xEF\xBF\xBDy"));
    log_.ReadLogRecord();
    EXPECT_TRUE(log_.AtEndOfLog());
    EXPECT_EQ(Closed().skipped_lines, 0);
  }

  // The checks of NulBytesAtTheEndOfALogAreNoText for a run of `nul_bytes`.
  void CheckNulBytesAreNoText(size_t nul_bytes);

  // Closes the file and returns what the reader reported of the file it
  // closed last.
  FileReadReport Closed() {
    log_.CloseLogFiles(1);
    if (observer_.closed.empty()) return {};
    return observer_.closed.back();
  }

  testing::TempDir tmp_{"iislog"};
  const fs::path dir_ = tmp_.path();
  RecordingObserver observer_;
  ReadCounters counters_;
  IISLog log_;
};

// --- The real logs -------------------------------------------------------

TEST_F(IISLogTest, CountsRecordsAndSkippedLinesOfEveryRealLog) {
  struct Expected {
    const char* file;
    int records;
    int skipped;
  };
  const Expected kFiles[] = {
      {"ftp-iis4-msftpsvc-time-only.log", 14, 0},
      {"web-iis-advanced-logging-quoted.log", 3, 0},
      {"web-iis-native-format.log", 0, 10},  // no #Fields: not W3C at all
      {"web-iis10-cookies-header-order.log", 3, 0},
      {"web-iis10-edge-cases.log", 15, 0},
      {"web-iis10-multiple-field-sets.log", 3, 2},
      {"web-iis4-fields-directive-only.log", 5, 0},
      {"web-iis50-date-only-short-line.log", 3, 1},
      {"web-iis60-time-only-date-header.log", 11, 0},
      {"web-iis70-asp-appendtolog.log", 2, 0},
      {"web-iis70-sitename-crlf.log", 16, 0},
      {"web-iis80-fields-change-midfile.log", 17, 0},
      {"web-iis85-repeated-headers.log", 210, 0},
  };
  for (const Expected& e : kFiles) {
    EXPECT_EQ(CountRecords(TestData(e.file)), e.records) << e.file;
    EXPECT_EQ(Closed().skipped_lines, e.skipped) << e.file;
  }
}

TEST_F(IISLogTest, FtpLogTakesItsDayFromTheLatestDateDirective) {
  std::string path = TestData("ftp-iis4-msftpsvc-time-only.log");
  log_.OpenLogFile(path, 1, "MSFTPSVC", "1", kW3C);
  log_.ReadLogRecord();
  EXPECT_EQ(log_.DateTime(), At(2000, 10, 9, 16, 44, 49));
  EXPECT_EQ(log_.ClientIp(), Variant("1.1.1.1"));
  EXPECT_EQ(log_.Method(), Variant("[2]USER"));
  EXPECT_EQ(log_.URIStem(), Variant("anonymous"));
  EXPECT_EQ(log_.ProtocolStatus(), Variant(int32_t{331}));
  log_.ReadLogRecord();
  EXPECT_EQ(log_.URIStem(), Variant(Null{}));  // "-"
  OpenAt(path, 12);  // first record after the second header block
  EXPECT_EQ(log_.DateTime(), At(2000, 10, 10, 16, 44, 49));
  EXPECT_EQ(log_.Method(), Variant("[2]USER"));
}

// Values read off the real logs: each file's record `record` (from 1).
TEST_F(IISLogTest, RealLogsGiveTheValuesOfTheirRecords) {
  using Getter = Variant (IISLog::*)() const;
  const Getter kDate = &IISLog::DateTime, kIp = &IISLog::ClientIp,
               kMethod = &IISLog::Method, kStem = &IISLog::URIStem,
               kStatus = &IISLog::ProtocolStatus;
  struct Case {
    const char* file;
    int record;
    Getter field;
    Variant expected;
    const char* why = "";
  };
  const Variant kNull(Null{});
  const Case kCases[] = {
      {"web-iis-advanced-logging-quoted.log", 1, kDate,
       At(2012, 8, 15, 17, 0, 0),
       "milliseconds dropped; the data's date, not #Start-Date's"},
      {"web-iis-advanced-logging-quoted.log", 1, kIp, Variant("70.95.0.0")},
      {"web-iis-advanced-logging-quoted.log", 2, kIp, kNull},
      {"web-iis-advanced-logging-quoted.log", 2, kStatus,
       Variant(int32_t{301})},
      {"web-iis-advanced-logging-quoted.log", 3, kStem,
       Variant("/hello/world/6,681965")},
      {"web-iis10-edge-cases.log", 1, kDate, At(2022, 1, 1, 0, 1, 24)},
      {"web-iis10-edge-cases.log", 1, kIp, Variant("::1")},
      {"web-iis10-edge-cases.log", 6, kStatus, Variant(int32_t{401})},
      {"web-iis10-edge-cases.log", 7, kMethod, Variant("RPC_IN_DATA")},
      {"web-iis10-multiple-field-sets.log", 2, kDate,
       At(2018, 1, 1, 9, 10, 11)},
      {"web-iis10-multiple-field-sets.log", 3, kIp, Variant("81.2.69.143")},
      {"web-iis80-fields-change-midfile.log", 6, kStem,
       Variant("/favicon.ico")},
      {"web-iis80-fields-change-midfile.log", 7, kDate,
       At(2013, 6, 9, 17, 54, 12)},
      {"web-iis80-fields-change-midfile.log", 7, kStatus,
       Variant(int32_t{304})},
      {"web-iis4-fields-directive-only.log", 5, kDate,
       At(1996, 1, 1, 10, 48, 5)},
      {"web-iis50-date-only-short-line.log", 3, kDate, At(2003, 11, 18)},
      {"web-iis50-date-only-short-line.log", 3, kStem,
       Variant("/cgi-bin/counts.exe")},
      {"web-iis60-time-only-date-header.log", 11, kDate,
       At(2013, 7, 30, 0, 0, 13), "time only, no final line end"},
      {"web-iis60-time-only-date-header.log", 11, kMethod, Variant("POST")},
      {"web-iis60-time-only-date-header.log", 11, kStatus,
       Variant(int32_t{302})},
      {"web-iis70-sitename-crlf.log", 5, kDate, At(2010, 8, 15, 4, 43, 55),
       "stamped before its block's #Date, it keeps its own time"},
      {"web-iis70-asp-appendtolog.log", 1, kStatus, Variant(int32_t{500})},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(std::string(c.file) + " record " + std::to_string(c.record) +
                 " " + c.why);
    OpenAt(TestData(c.file), c.record);
    EXPECT_EQ((log_.*c.field)(), c.expected);
  }
}

TEST_F(IISLogTest, RepeatedHeadersKeepEveryStatus) {
  Open(TestData("web-iis85-repeated-headers.log"));
  int ok = 0, not_found = 0;
  for (log_.ReadLogRecord(); !log_.AtEndOfLog(); log_.ReadLogRecord()) {
    ok += log_.ProtocolStatus() == Variant(int32_t{200});
    not_found += log_.ProtocolStatus() == Variant(int32_t{404});
  }
  EXPECT_EQ(ok, 8);
  EXPECT_EQ(not_found, 202);
}

// --- Small files -----------------------------------------------------------

const std::string kHeader =
    "#Software: Microsoft Internet Information Services 10.0\n"
    "#Version: 1.0\n"
    "#Date: 2021-03-04 05:06:07\n"
    "#Fields: date time c-ip cs-method cs-uri-stem sc-status\n";

TEST_F(IISLogTest, DirectivesSetLayoutAndDay) {
  std::string path = Write(
      "u_ex.log",
      "2021-01-01 00:00:00 1.1.1.1 GET /before-fields 200\n"  // no layout yet
      "#Remark: anything\n" +
          kHeader +
          "2021-03-04 05:06:07 1.1.1.1 GET /a 200\n"
          "#Fields: time cs-uri-stem \n"  // time only, trailing blank
          "23:59:59 /b\n"
          "#Start-Date: 2021-03-05 00:00:00.128\n"
          "00:00:01 /c\n"
          "#Date: not-a-date\n"
          "00:00:02 /d\n"
          "#End-Date: 2021-03-06 00:00:00\n"
          "#fields: DATE cs-uri-stem\n"  // names in any case
          "2021-03-07 /e\n");
  OpenAt(path, 1);
  EXPECT_EQ(log_.URIStem(), Variant("/a"));
  log_.ReadLogRecord();
  EXPECT_EQ(log_.DateTime(), At(2021, 3, 4, 23, 59, 59));
  EXPECT_EQ(log_.ClientIp(), Variant(Null{}));
  log_.ReadLogRecord();
  EXPECT_EQ(log_.DateTime(), At(2021, 3, 5, 0, 0, 1));
  log_.ReadLogRecord();
  EXPECT_EQ(log_.URIStem(), Variant("/d"));
  EXPECT_EQ(log_.DateTime(), Variant(Null{}));  // its block has no day
  log_.ReadLogRecord();
  EXPECT_EQ(log_.DateTime(), At(2021, 3, 7));
  log_.ReadLogRecord();
  EXPECT_TRUE(log_.AtEndOfLog());
  EXPECT_EQ(Closed().skipped_lines, 1);
}

// A time-only log kept past midnight under one #Date: its times start
// again from 00:00 on the next day, which a record a little out of order
// does not.
TEST_F(IISLogTest, TimeOnlyRecordsPassMidnightIntoTheNextDay) {
  std::string path = Write("ex2102.log",
                           "#Date: 2021-02-28 00:00:00\n"
                           "#Fields: time cs-uri-stem\n"
                           "23:30:00 /late\n"
                           "22:45:00 /out-of-order\n"
                           "00:00:05 /march\n"
                           "23:59:59 /march-end\n"
                           "08:00:00 /second-turn\n"
                           "#Date: 2021-03-10 12:00:00\n"
                           "11:00:00 /new-block\n");
  const std::vector<Variant> expected = {
      At(2021, 2, 28, 23, 30, 0), At(2021, 2, 28, 22, 45, 0),
      At(2021, 3, 1, 0, 0, 5),    At(2021, 3, 1, 23, 59, 59),
      At(2021, 3, 2, 8, 0, 0),    At(2021, 3, 10, 11, 0, 0)};
  Open(path);
  for (const Variant& when : expected) {
    log_.ReadLogRecord();
    ASSERT_FALSE(log_.AtEndOfLog());
    EXPECT_EQ(log_.DateTime(), when) << automation::CStr(log_.URIStem());
    const double time = automation::CDate(log_.DateTime());
    EXPECT_EQ(log_.RecordParts().month, automation::PartsOf(time).month);
    EXPECT_EQ(log_.RecordParts().day, automation::PartsOf(time).day);
  }
  log_.ReadLogRecord();
  EXPECT_TRUE(log_.AtEndOfLog());
}

// Times that turn back on every other line move a time-only block a day
// on each time: a year of such turns under one #Date is refused as
// garbled, not dated ever later, and the next #Date starts afresh.
TEST_F(IISLogTest, TimeOnlyRecordsGoNoMoreThanAYearPastTheirDateDirective) {
  std::string text = "#Date: 2021-01-01 00:00:00\n#Fields: time cs-uri-stem\n";
  constexpr int kTurns = 370;
  text += "23:00:00 /late\n";
  for (int turn = 1; turn <= kTurns; ++turn) {
    text += "00:00:00 /early\n23:00:00 /late\n";
  }
  text += "#Date: 2021-06-01 00:00:00\n10:00:00 /next-block\n";
  Open(Write("ex2101.log", text));
  // 2022-01-02 is 366 midnights past the directive's day: its records
  // still read, those of the turns after it do not.
  Variant last_read;
  int records = 0;
  for (log_.ReadLogRecord(); !log_.AtEndOfLog(); log_.ReadLogRecord()) {
    ++records;
    if (log_.URIStem() == Variant("/next-block")) {
      EXPECT_EQ(log_.DateTime(), At(2021, 6, 1, 10, 0, 0));
    } else {
      last_read = log_.DateTime();
    }
  }
  EXPECT_EQ(last_read, At(2022, 1, 2, 23, 0, 0));
  const int read_of_block = 1 + 2 * 366;
  EXPECT_EQ(records, read_of_block + 1);
  const FileReadReport report = Closed();
  EXPECT_EQ(report.skipped_lines, 2 * (kTurns - 366));
  // Line 1 and 2 are the directives.
  EXPECT_EQ(report.first_skipped_line, 2 + read_of_block + 1);
}

TEST_F(IISLogTest, FieldsTellACarriedNullFromAFieldTheLayoutLacks) {
  std::string path =
      Write("u_ex.log",
            "#Fields: date time c-ip cs-uri-stem sc-bytes cs-bytes time-taken\n"
            "2021-03-04 05:06:07 10.0.0.1 /a 512 - 15\n"
            "#Fields: date time cs-uri-stem TimeTakenMS x-session\n"
            "2021-03-04 05:06:08 /b 7 \"a b\"\n");
  OpenAt(path, 1);
  RecordFields fields = log_.Fields();
  EXPECT_EQ(fields.Text(Field::kBytesSent), "512");
  EXPECT_TRUE(fields.Carries(Field::kBytesReceived));
  EXPECT_EQ(fields.Text(Field::kBytesReceived), std::nullopt);  // "-"
  EXPECT_EQ(fields.Text(Field::kTimeTaken), "15");
  EXPECT_EQ(fields.Text(Field::kClientIp), "10.0.0.1");
  EXPECT_FALSE(fields.Carries(Field::kSession));
  log_.ReadLogRecord();
  fields = log_.Fields();
  EXPECT_FALSE(fields.Carries(Field::kBytesSent));
  EXPECT_FALSE(fields.Carries(Field::kClientIp));
  EXPECT_EQ(fields.Text(Field::kTimeTaken), "7");  // the Advanced Logging name
  EXPECT_EQ(fields.Text(Field::kSession), "a b");
  EXPECT_EQ(fields.Text(Field::kUriStem), log_.FieldText(Field::kUriStem));
  log_.ReadLogRecord();
  EXPECT_FALSE(log_.Fields().Carries(Field::kUriStem));  // no record
}

TEST_F(IISLogTest, NullsPlusSignsAndNumbers) {
  std::string path = Write("u_ex.log",
                           "#Fields: date time cs-uri-stem c-ip sc-status\n"
                           "- - - Mozilla/5.0+(X11;+Linux) -\n"
                           "2021-03-04 05:06:07 /a++b x 2147483647\n"
                           "2021-03-04 05:06:07 /b x -5\n"
                           "2021-03-04 05:06:07 /b x 12abc\n"
                           "2021-03-04 - /c - 2147483648\n"
                           "2021-03-04 05:06:07 /d x 99999999999999999999\n"
                           "2021-03-04 05:06:07 /e x -2147483648\n");
  OpenAt(path, 1);
  EXPECT_EQ(log_.DateTime(), Variant(Null{}));
  EXPECT_EQ(log_.URIStem(), Variant(Null{}));
  EXPECT_EQ(log_.ClientIp(), Variant("Mozilla/5.0+(X11;+Linux)"));
  EXPECT_EQ(log_.ProtocolStatus(), Variant(Null{}));
  log_.ReadLogRecord();
  EXPECT_EQ(log_.URIStem(), Variant("/a++b"));
  EXPECT_EQ(log_.ProtocolStatus(), Variant(int32_t{2147483647}));
  log_.ReadLogRecord();
  EXPECT_EQ(log_.ProtocolStatus(), Variant(int32_t{-5}));
  log_.ReadLogRecord();
  EXPECT_EQ(log_.ProtocolStatus(), Variant("12abc"));  // not a number: its text
  log_.ReadLogRecord();
  EXPECT_EQ(log_.DateTime(), Variant(Null{}));  // null time
  EXPECT_EQ(log_.ProtocolStatus(), Variant(int64_t{2147483648}));
  log_.ReadLogRecord();
  EXPECT_EQ(log_.ProtocolStatus(), Variant("99999999999999999999"));
  log_.ReadLogRecord();
  EXPECT_EQ(log_.ProtocolStatus(), Variant(int32_t{-2147483648}));
}

// Quoted values are the Advanced Logging module's; IIS's own logger writes
// what a client sent unquoted, which may start with a quote of its own. A
// line is garbled only when neither reading gives the layout's values.
TEST_F(IISLogTest, QuotedValues) {
  std::string path =
      Write("u_ex.log",
            "#Fields: date time cs-uri-stem cs-method c-ip\n"
            "2021-03-04 05:06:07 \"/a b\" \"say \"\"hi\"\"\" \"\"\n"
            "2021-03-04 05:06:07\t\"-\"\t\"\"\"\"\t-\n"
            "2021-03-04 05:06:07 /x\"y \"a\"\"\" z\n"
            "2021-03-04 05:06:07 \"/open x y\n"          // unterminated
            "2021-03-04 05:06:07 \"/a\"b \"x\"\"\" y\n"  // text after a quote
            "2021-03-04 05:06:07 /p \"a b\"\n"        // a quoted pair too few
            "2021-03-04 05:06:07 \"/a b\"c x y\n"     // too many unquoted
            "2021-03-04 05:06:07 \"/a b\" x y z\n");  // too many quoted
  OpenAt(path, 1);
  EXPECT_EQ(log_.URIStem(), Variant("/a b"));
  EXPECT_EQ(log_.Method(), Variant("say \"hi\""));
  EXPECT_EQ(log_.ClientIp(), Variant(""));
  log_.ReadLogRecord();
  EXPECT_EQ(log_.URIStem(), Variant(Null{}));
  EXPECT_EQ(log_.Method(), Variant("\""));
  log_.ReadLogRecord();
  EXPECT_EQ(log_.URIStem(), Variant("/x\"y"));
  EXPECT_EQ(log_.Method(), Variant("a\""));
  log_.ReadLogRecord();
  EXPECT_EQ(log_.DateTime(), At(2021, 3, 4, 5, 6, 7));
  EXPECT_EQ(log_.URIStem(), Variant("\"/open"));
  EXPECT_EQ(log_.ClientIp(), Variant("y"));
  log_.ReadLogRecord();
  EXPECT_EQ(log_.URIStem(), Variant("\"/a\"b"));
  EXPECT_EQ(log_.Method(), Variant("\"x\"\"\""));  // as written, not unquoted
  log_.ReadLogRecord();
  EXPECT_EQ(log_.Method(), Variant("\"a"));
  EXPECT_EQ(log_.ClientIp(), Variant("b\""));
  log_.ReadLogRecord();
  EXPECT_TRUE(log_.AtEndOfLog());
  const FileReadReport report = Closed();
  EXPECT_EQ(report.skipped_lines, 2);
  EXPECT_EQ(report.first_skipped_line, 8);
}

// Blanks are found many bytes at a time: a blank must end a value wherever
// it falls, next to a window's edge or the line's end, and bytes next to a
// blank's (0x1f, 0x21, 0xa0, 0x89, 0x08) must not. Values and runs of
// blanks longer than a window, quoted values holding blanks and doubled
// quotes, and lines of blanks only are among them.
TEST(SplitValuesTest, BlankRunsEndValuesOfEveryLengthAtEveryOffset) {
  const std::string kBytes = "a\x1f\x21\xa0\x89\x08Z9";
  const std::vector<std::string> kBlanks = {" ", "\t", "  ", " \t ", "\t\t"};
  std::mt19937 rng(25);
  const auto length = [&rng] {
    return rng() % 8 == 0 ? 1 + rng() % 150 : 1 + rng() % 19;
  };
  const auto blanks = [&] {
    return rng() % 10 == 0 ? std::string(1 + rng() % 70, " \t"[rng() % 2])
                           : kBlanks[rng() % kBlanks.size()];
  };
  for (int line_number = 0; line_number < 4000; ++line_number) {
    std::string line = rng() % 3 == 0 ? blanks() : "";
    std::vector<std::string> expected;
    const int values = static_cast<int>(rng() % 7);
    for (int i = 0; i < values; ++i) {
      std::string value;
      for (size_t k = length(); k > 0; --k) {
        value += kBytes[rng() % kBytes.size()];
      }
      if (rng() % 6 == 0) {
        // Quoted: blanks and a doubled quote inside.
        value += " \t";
        line += '"' + value + "\"\"\"";
        value += '"';
      } else {
        line += value;
      }
      expected.push_back(value);
      if (i + 1 < values || rng() % 2 == 0) line += blanks();
    }
    std::vector<std::string_view> views;
    ASSERT_TRUE(SplitValues(std::span<char>(line.data(), line.size()), &views))
        << "line " << line_number;
    EXPECT_EQ(std::vector<std::string>(views.begin(), views.end()), expected)
        << "line " << line_number;
  }
}

TEST_F(IISLogTest, LineEndsBomBlankLinesAndRawBytes) {
  std::string path = Write(
      "u_ex.log", "\xEF\xBB\xBF" + kHeader +
                      "\r\n\n   \n"
                      "2021-03-04 05:06:07 1.1.1.1 GET /crlf 200\r\n"
                      "2021-03-04 05:06:07 1.1.1.1 GET /caf\xE9\xFF\x80 200\n"
                      "2021-03-04 05:06:07 1.1.1.1 GET /last 200");
  OpenAt(path, 1);
  EXPECT_EQ(log_.URIStem(), Variant("/crlf"));
  EXPECT_EQ(log_.ProtocolStatus(), Variant(int32_t{200}));  // no CR left
  log_.ReadLogRecord();
  EXPECT_EQ(log_.URIStem(), Variant("/caf\xE9\xFF\x80"));
  log_.ReadLogRecord();
  EXPECT_EQ(log_.URIStem(), Variant("/last"));
  log_.ReadLogRecord();
  EXPECT_TRUE(log_.AtEndOfLog());
  EXPECT_EQ(Closed().skipped_lines, 0);
}

// Two logs saved with a byte-order mark each and joined into one file: the
// second's #Fields, behind its mark, changes the layout as any other.
TEST_F(IISLogTest, JoinedLogsKeepEachLayoutBehindItsByteOrderMark) {
  const std::string bom = "\xEF\xBB\xBF";
  std::string path = Write(
      "u_ex.log", bom +
                      "#Fields: date time cs-uri-stem sc-status\r\n"
                      "2021-03-04 05:06:07 /first 200\r\n" +
                      bom + "#Fields: date time sc-status cs-uri-stem\r\n" +
                      "2021-03-04 05:06:08 404 /second\r\n" + bom +
                      "2021-03-04 05:06:09 500 /marked\r\n");
  OpenAt(path, 1);
  EXPECT_EQ(log_.URIStem(), Variant("/first"));
  log_.ReadLogRecord();
  EXPECT_EQ(log_.URIStem(), Variant("/second"));
  EXPECT_EQ(log_.ProtocolStatus(), Variant(int32_t{404}));
  log_.ReadLogRecord();
  EXPECT_EQ(log_.DateTime(), At(2021, 3, 4, 5, 6, 9));
  EXPECT_EQ(log_.URIStem(), Variant("/marked"));
  log_.ReadLogRecord();
  EXPECT_TRUE(log_.AtEndOfLog());
  EXPECT_EQ(Closed().skipped_lines, 0);
}

// A log saved again as UTF-16 by a Windows tool reads as the UTF-8 log it
// was, in either byte order: a URL's accent, a character of two code units
// and one left without its pair among its values, and an odd last byte;
// archived with gzip too.
TEST_F(IISLogTest, Utf16LogsReadAsTheirUtf8Text) {
  const std::u16string text =
      u"\uFEFF#Fields: date time cs-uri-stem sc-status\r\n"
      u"2021-03-04 05:06:07 /caf\u00E9 200\r\n"
      u"2021-03-04 05:06:08 /\U0001F600 404\r\n"
      u"2021-03-04 05:06:09 /x\xD800y 500\r\n";
  for (const bool big_endian : {false, true}) {
    SCOPED_TRACE(big_endian ? "big-endian" : "little-endian");
    std::string bytes;
    for (const char16_t unit : text) {
      const char high = static_cast<char>(unit >> 8);
      const char low = static_cast<char>(unit & 0xFF);
      bytes += big_endian ? std::string{high, low} : std::string{low, high};
    }
    // A last character not written whole yet ends no line.
    OpenAt(Write("u_ex_utf16.log", bytes + "x"), 1);
    CheckUtf16Records();
    OpenAt(WriteGzip("u_ex_utf16.log.gz", {bytes}), 1);
    CheckUtf16Records();
  }
}

// A CR LF log copied once more in text mode ends its lines in CR CR LF; one
// that ends them in CR alone is a single line. Neither may lose a field or a
// record without the reader saying so.
TEST_F(IISLogTest, StrayCarriageReturnsHideNoFieldAndNoRecord) {
  std::string doubled = kHeader + "2021-03-04 05:06:07 1.1.1.1 GET /a 404\n";
  for (size_t at = doubled.find('\n'); at != std::string::npos;
       at = doubled.find('\n', at + 3)) {
    doubled.insert(at, "\r\r");
  }
  OpenAt(Write("u_ex_crcrlf.log", doubled), 1);
  EXPECT_EQ(log_.ProtocolStatus(), Variant(int32_t{404}));
  log_.ReadLogRecord();
  EXPECT_TRUE(log_.AtEndOfLog());
  EXPECT_EQ(Closed().skipped_lines, 0);

  std::string cr_only = kHeader + "2021-03-04 05:06:07 1.1.1.1 GET /a 200\n";
  std::replace(cr_only.begin(), cr_only.end(), '\n', '\r');
  EXPECT_EQ(CountRecords(Write("u_ex_cr.log", cr_only)), 0);
  const FileReadReport report = Closed();
  EXPECT_EQ(report.skipped_lines, 1);
  EXPECT_EQ(report.first_skipped_line, 1);
}

TEST_F(IISLogTest, GarbledLinesAreSkippedAndCounted) {
  std::string good = "2021-03-04 05:06:07 1.1.1.1 GET /ok 200\n";
  // Over the limit too when a read brings its end along with its start.
  std::string long_record = "2021-03-04 05:06:07 1.1.1.1 GET /" +
                            std::string(LineReader::kMaxLineBytes, 'y') +
                            " 200\n";
  std::string path =
      Write("u_ex.log", kHeader + good +
                            "2021-03-04 05:06:07 1.1.1.1 GET /short\n"
                            "2021-03-04 05:06:07 1.1.1.1 GET /long 200 extra\n"
                            "2021-02-30 05:06:07 1.1.1.1 GET /feb30 200\n"
                            "0099-01-01 05:06:07 1.1.1.1 GET /year99 200\n"
                            "2021-03-04 24:00:00 1.1.1.1 GET /hour24 200\n"
                            "2021-03-04 05:06:07.x 1.1.1.1 GET /fraction 200\n"
                            "03/04/21 05:06:07 1.1.1.1 GET /slashes 200\n" +
                            std::string("\0\x01\x02 garbage \x7f\n", 14) +
                            std::string(LineReader::kMaxLineBytes + 10, 'x') +
                            "\n" + long_record + good);
  EXPECT_EQ(CountRecords(path), 2);
  const FileReadReport report = Closed();
  EXPECT_EQ(report.skipped_lines, 10);
  EXPECT_EQ(report.first_skipped_line, 6);  // after four directives and /ok
}

TEST_F(IISLogTest, ObserverHearsOfFilesBytesRecordsAndSkippedLines) {
  std::string text = kHeader + "2021-03-04 05:06:07 1.1.1.1 GET /a 200\n" +
                     "not a record\n" +
                     "2021-03-04 05:06:08 1.1.1.1 GET /b 200\n";
  std::string plain = Write("u_ex.log", text);
  std::string packed = WriteGzip("u_ex.log.gz", {text});
  RecordingObserver& observer = observer_;
  const ReadCounters before = counters_;
  EXPECT_EQ(CountRecords(plain), 2);
  log_.CloseLogFiles(1);
  EXPECT_EQ(CountRecords(packed), 2);
  log_.CloseLogFiles(1);
  log_.CloseLogFiles(1);  // nothing open: nothing reported

  EXPECT_EQ(observer.events,
            (std::vector<std::string>{"open " + plain, "open " + packed}));
  EXPECT_GE(observer.chunks, 2);
  ASSERT_EQ(observer.closed.size(), 2u);
  for (const FileReadReport& report : observer.closed) {
    EXPECT_EQ(report.records, 2);
    EXPECT_EQ(report.skipped_lines, 1);
    EXPECT_EQ(report.first_skipped_line, 6);
  }
  // The file's own bytes: compressed ones for gzip.
  EXPECT_EQ(counters_.bytes - before.bytes,
            static_cast<int64_t>(fs::file_size(plain) + fs::file_size(packed)));
  EXPECT_EQ(counters_.records - before.records, 4);
}

// Plans the files of the reader it hooks as a test says.
class FixedPlanner : public ReadPlanner {
 public:
  explicit FixedPlanner(ReadPlan plan) : plan_(std::move(plan)) {}
  size_t HeadBytesFor(std::string_view /*path*/) override { return head_bytes; }
  ReadPlan PlanFor(std::string_view path, std::string_view head) override {
    planned.emplace_back(path);
    heads.emplace_back(head);
    return plan_;
  }
  size_t head_bytes = 0;
  std::vector<std::string> planned;
  std::vector<std::string> heads;

 private:
  ReadPlan plan_;
};

int32_t Day(int y, int m, int d) {
  return static_cast<int32_t>(automation::DateSerial(y, m, d));
}

TEST_F(IISLogTest, OffsetsAreWholeLinesOfTheTextAcrossBufferRefills) {
  // Some 150 KB, so that the reader's buffer is refilled and compacted.
  std::string text = "\xEF\xBB\xBF" + kHeader;
  std::vector<size_t> ends;
  for (int i = 0; i < 3000; ++i) {
    text += "2021-03-04 05:06:07 1.1.1.1 GET /page" + std::to_string(i) +
            (i % 2 ? " 200\r\n" : " 200\n");
    ends.push_back(text.size());
  }
  for (const std::string& path :
       {Write("u_ex.log", text), WriteGzip("u_ex.log.gz", {text})}) {
    RecordingObserver observer;
    Hook(observer);
    for (int read : {0, 1, 1700, 3000}) {
      Open(path);
      for (int i = 0; i < read; ++i) log_.ReadLogRecord();
      log_.CloseLogFiles(1);
      ASSERT_FALSE(observer.closed.empty());
      // Opening reads nothing yet; then each record ends at its line end.
      EXPECT_EQ(observer.closed.back().text_offset,
                read == 0 ? 0 : static_cast<int64_t>(ends[read - 1]))
          << path << " after " << read << " records";
    }
  }
}

TEST_F(IISLogTest, APlanPassesOverCountedRecordsAndHoldsBackAWrittenLine) {
  // A log as it is being written: two days, a layout that changes, a last
  // line cut short.
  const std::string head =
      "#Fields: date time cs-uri-stem sc-status\n"
      "2021-03-03 23:59:58 /old-day 200\n"
      "#Fields: date time sc-status cs-uri-stem\n"
      "2021-03-04 00:00:01 200 /a\n"
      "2021-03-03 23:59:59 200 /late-old-day\n";
  const std::string cut = "2021-03-04 00:00:02 404 /b";
  const std::string path = Write("u_ex.log", head + cut);
  RecordingObserver observer;
  {
    FixedPlanner planner({{}, true});
    Hook(observer, &planner);
    EXPECT_EQ(CountRecords(path), 3);
    log_.CloseLogFiles(1);
    EXPECT_EQ(planner.planned, std::vector<std::string>{path});
  }
  // The cut line is not garbage.
  EXPECT_EQ(observer.closed.back().skipped_lines, 0);
  const int64_t read_to = observer.closed.back().text_offset;
  EXPECT_EQ(read_to, static_cast<int64_t>(head.size()));

  // The line is finished and more is written. Records of 4 March before
  // the offset were counted; those of 3 March were not (an earlier run
  // counted 4 March only), so they come again.
  Write("u_ex.log", head + cut + "\n2021-03-04 00:00:03 200 /c\n");
  FixedPlanner planner({{{Day(2021, 3, 4), read_to}}, true});
  Hook(observer, &planner);
  Open(path);
  std::vector<std::string> read;
  for (log_.ReadLogRecord(); !log_.AtEndOfLog(); log_.ReadLogRecord()) {
    read.push_back(automation::CStr(log_.URIStem()) + " " +
                   automation::CStr(log_.ProtocolStatus()));
  }
  // The records after the offset are read with the layout declared before
  // it.
  EXPECT_EQ(read, (std::vector<std::string>{"/old-day 200", "/late-old-day 200",
                                            "/b 404", "/c 200"}));
  log_.CloseLogFiles(1);
  EXPECT_EQ(observer.closed.back().records, 4);

  // Without the day in the plan, or without a plan, everything is read.
  FixedPlanner other_day({{{Day(2021, 3, 5), read_to}}, false});
  Hook(observer, &other_day);
  EXPECT_EQ(CountRecords(path), 5);
}

// Logs joined by copy as text end in its end-of-file mark, Ctrl+Z, after
// the last line end: no garbled line, and no last line held back for a
// writer, that is.
TEST_F(IISLogTest, TheEndOfFileMarkOfJoinedLogsEndsTheText) {
  const std::string text = kHeader +
                           "2021-03-04 05:06:07 1.1.1.1 GET /a 200\r\n"
                           "2021-03-04 05:06:08 1.1.1.1 GET /b 200\r\n";
  const std::string path = Write("u_ex.log", text + "\x1a");
  EXPECT_EQ(CountRecords(path), 2);
  EXPECT_EQ(Closed().skipped_lines, 0);
  FixedPlanner planner({{}, true});
  Hook(observer_, &planner);
  EXPECT_EQ(CountRecords(path), 2);
  const FileReadReport report = Closed();
  EXPECT_FALSE(report.held_back);
  EXPECT_EQ(report.text_offset, static_cast<int64_t>(text.size() + 1));
  // With a line end after it, the mark is a line, and a garbled one.
  EXPECT_EQ(CountRecords(Write("u_ex2.log", text + "\x1a\n")), 2);
  EXPECT_EQ(Closed().skipped_lines, 1);
}

// A server that stops unexpectedly leaves NUL bytes at the end of its log,
// the room it had set aside: no text, neither a garbled line nor one held
// back. The reading stops before them, so that the lines written over them
// later are read from there, and the NULs before the first line a restarted
// server writes after them hide no directive. However much room it had set
// aside: a run of NULs longer than any line is no line either.
TEST_F(IISLogTest, NulBytesAtTheEndOfALogAreNoText) {
  for (size_t nul_bytes : {size_t{70000}, LineReader::kMaxLineBytes + 70000}) {
    SCOPED_TRACE(std::to_string(nul_bytes) + " NUL bytes");
    CheckNulBytesAreNoText(nul_bytes);
  }
}

void IISLogTest::CheckNulBytesAreNoText(size_t nul_bytes) {
  const std::string text = kHeader +
                           "2021-03-04 05:06:07 1.1.1.1 GET /a 200\r\n"
                           "2021-03-04 05:06:08 1.1.1.1 GET /b 200\r\n";
  const std::string nuls(nul_bytes, '\0');  // past one refill of the buffer
  Hook(observer_);
  const std::string path = Write("u_ex.log", text + nuls);
  EXPECT_EQ(CountRecords(path), 2);
  EXPECT_EQ(Closed().skipped_lines, 0);
  FixedPlanner planner({{}, true});
  Hook(observer_, &planner);
  EXPECT_EQ(CountRecords(path), 2);
  FileReadReport report = Closed();
  EXPECT_EQ(report.skipped_lines, 0);
  EXPECT_FALSE(report.held_back);
  EXPECT_EQ(report.text_offset, static_cast<int64_t>(text.size()));

  const std::string restarted =
      "#Fields: date time cs-uri-stem sc-status c-ip cs-method\r\n"
      "2021-03-04 06:00:00 /c 404 1.1.1.1 GET\r\n";
  Write("u_ex.log", text + nuls + restarted);
  Open(path);
  std::vector<std::string> read;
  for (log_.ReadLogRecord(); !log_.AtEndOfLog(); log_.ReadLogRecord()) {
    read.push_back(automation::CStr(log_.URIStem()) + " " +
                   automation::CStr(log_.ProtocolStatus()));
  }
  EXPECT_EQ(read, (std::vector<std::string>{"/a 200", "/b 200", "/c 404"}));
  report = Closed();
  EXPECT_EQ(report.skipped_lines, 0);
  EXPECT_EQ(report.text_offset,
            static_cast<int64_t>(text.size() + nuls.size() + restarted.size()));
  // Text after the NULs of a last line is a line cut off, held back.
  const std::string cut = "2021-03-04 06:00:01 /d";
  Write("u_ex.log", text + nuls + cut);
  EXPECT_EQ(CountRecords(path), 2);
  report = Closed();
  EXPECT_TRUE(report.held_back);
  EXPECT_EQ(report.text_offset, static_cast<int64_t>(text.size()));
}

// A last line held back for a later reading must be one that a line end
// can still finish: a log whose lines end in CR alone has no LF to wait
// for, and is told as garbled as it is without a plan.
TEST_F(IISLogTest, AHeldBackLineIsOneStillBeingWrittenNotACrOnlyLog) {
  FixedPlanner planner({{}, true});
  Hook(observer_, &planner);
  const std::string record = "2021-03-04 05:06:07 1.1.1.1 GET /a 200";
  for (const std::string& tail : {std::string("\r"), std::string("\r\r")}) {
    SCOPED_TRACE("a record cut after " + std::to_string(tail.size()) + " CR");
    const std::string head = kHeader + record + "\r\n";
    EXPECT_EQ(CountRecords(Write("u_ex_crlf.log", head + record + tail)), 1);
    const FileReadReport report = Closed();
    EXPECT_TRUE(report.held_back);
    EXPECT_EQ(report.skipped_lines, 0);
    EXPECT_EQ(report.text_offset, static_cast<int64_t>(head.size()));
  }
  std::string cr_only = kHeader + record + "\n" + record;
  std::replace(cr_only.begin(), cr_only.end(), '\n', '\r');
  EXPECT_EQ(CountRecords(Write("u_ex_cr.log", cr_only)), 0);
  const FileReadReport report = Closed();
  EXPECT_FALSE(report.held_back);
  EXPECT_EQ(report.skipped_lines, 1);
  EXPECT_EQ(report.text_offset, static_cast<int64_t>(cr_only.size()));
}

TEST_F(IISLogTest, ThePlannerSeesTheStartOfTheTextWhichIsStillRead) {
  const std::string text = kHeader +
                           "2021-03-04 05:06:07 1.1.1.1 GET /a 200\n"
                           "2021-03-05 05:06:07 1.1.1.1 GET /b 200\n"
                           "2021-03-05 05:06:08 1.1.1.1 GET /c 200\n";
  const std::string cut = "2021-03-05 05:06:09 1.1.1.1 GET /d";
  struct Case {
    size_t head_bytes;
    bool cut_short;
    std::vector<CountedPart> counted;
    int records;  // handed out
  };
  const std::vector<Case> cases = {
      {0, false, {}, 3},
      {10, false, {}, 3},
      {1 << 20, false, {}, 3},  // more than the text: all of it
      {64, true, {}, 3},        // the cut line is held back
      {64, false, {{Day(2021, 3, 5), kWholeDayCounted}}, 1},
      {64, true, {{Day(2021, 3, 4), kWholeDayCounted}}, 2},
  };
  RecordingObserver observer;
  for (const Case& c : cases) {
    const std::string written = text + (c.cut_short ? cut : "");
    for (const std::string& path :
         {Write("u_ex.log", written), WriteGzip("u_ex.log.gz", {written})}) {
      SCOPED_TRACE(path + " head " + std::to_string(c.head_bytes));
      FixedPlanner planner({c.counted, true});
      Hook(observer, &planner);
      planner.head_bytes = c.head_bytes;
      EXPECT_EQ(CountRecords(path), c.records);
      log_.CloseLogFiles(1);
      // The inflated text, as far as asked and there.
      ASSERT_EQ(planner.heads.size(), 1u);
      EXPECT_EQ(planner.heads[0], written.substr(0, c.head_bytes));
      EXPECT_EQ(observer.closed.back().held_back, c.cut_short);
      EXPECT_EQ(observer.closed.back().text_offset,
                static_cast<int64_t>(text.size()));
    }
  }
}

TEST_F(IISLogTest, AnInterruptEndsTheFileAtTheNextLine) {
  std::string blank_lines(1 << 20, '\n');
  std::string path = Write("u_ex.log", kHeader + blank_lines +
                                           "2021-03-04 05:06:07 1.1.1.1 GET "
                                           "/late 200\n");
  {
    interrupt::CatchScope catching;
    std::raise(SIGINT);
    EXPECT_EQ(CountRecords(path), 0);
    interrupt::Forget();
  }
  EXPECT_EQ(CountRecords(path), 1);
}

TEST_F(IISLogTest, GzipFilesReadTransparently) {
  std::string text = kHeader + "2021-03-04 05:06:07 1.1.1.1 GET /gz 200\n";
  EXPECT_EQ(CountRecords(WriteGzip("u_ex.log.gz", {text})), 1);
  EXPECT_EQ(log_.URIStem(), Variant(Null{}));  // at the end: no record

  // By magic alone, several members, an empty member.
  std::string path = WriteGzip("u_ex.log", {text, "", text});
  OpenAt(path, 2);
  EXPECT_EQ(log_.URIStem(), Variant("/gz"));
  log_.ReadLogRecord();
  EXPECT_TRUE(log_.AtEndOfLog());

  EXPECT_EQ(CountRecords(Write("empty.log.gz", "")), 0);
}

TEST_F(IISLogTest, BrokenGzipRaisesNamingThePathAndEnds) {
  std::string text = kHeader;
  for (int i = 0; i < 5000; ++i) {
    text += "2021-03-04 05:06:07 1.1.1.1 GET /" + std::to_string(i) + " 200\n";
  }
  std::string packed = WriteGzip("whole.gz", {text});
  std::string bytes = testing::ReadFile(packed);
  std::string cut = Write("cut.log.gz", bytes.substr(0, bytes.size() / 2));
  std::string padded = Write("padded.log.gz", bytes + "\x1f junk\n");
  // Past the first half, so that zlib inflates records of the damaged data
  // before it notices (at the latest by the member's checksum).
  bytes[bytes.size() * 3 / 4] ^= 0x55;
  bytes[bytes.size() * 3 / 4 + 1] ^= 0x55;
  std::string corrupt = Write("corrupt.log.gz", bytes);
  std::string not_gzip = Write("plain.log.gz", kHeader);

  // A planner that looks at more text than the file holds: the failure
  // comes while the reader reads the start for it, and must cost no record
  // before it, nor the report of the file's close.
  FixedPlanner planner({{}, false});
  planner.head_bytes = size_t{1} << 20;
  for (ReadPlanner* plans : {static_cast<ReadPlanner*>(nullptr),
                             static_cast<ReadPlanner*>(&planner)}) {
    SCOPED_TRACE(plans != nullptr ? "planned" : "unplanned");
    RecordingObserver observer;
    Hook(observer, plans);
    // A copy cut short is the log's own text up to the cut, and junk after
    // a whole member damages no text: each is read that far, then the rest
    // is told to be missing.
    for (const auto& [path, whole] : {std::pair{cut, false}, {padded, true}}) {
      SCOPED_TRACE(path);
      Open(path);
      int records = 0;
      try {
        for (log_.ReadLogRecord(); !log_.AtEndOfLog(); log_.ReadLogRecord()) {
          ++records;
        }
        ADD_FAILURE() << "no error";
      } catch (const AutomationError& e) {
        EXPECT_NE(e.description().find(path), std::string::npos)
            << e.description();
      }
      EXPECT_TRUE(log_.AtEndOfLog());
      EXPECT_GT(records, 0);
      EXPECT_EQ(records == 5000, whole) << records;
      log_.ReadLogRecord();  // a closed reader stays at the end
      EXPECT_TRUE(log_.AtEndOfLog());
      // The observer hears that the rest of the file was not read.
      EXPECT_EQ(observer.closed.back().path, path);
      EXPECT_TRUE(observer.closed.back().read_failed);
      EXPECT_EQ(observer.closed.back().records, records);
    }

    // Damaged data yields no record at all: what zlib inflated of it before
    // it noticed may be damaged text.
    for (const std::string& path : {corrupt, not_gzip}) {
      SCOPED_TRACE(path);
      try {
        Open(path);
        ADD_FAILURE() << "the open raised nothing";
      } catch (const AutomationError& e) {
        EXPECT_NE(e.description().find(path), std::string::npos)
            << e.description();
        EXPECT_NE(e.description().find("corrupt"), std::string::npos)
            << e.description();
      }
      EXPECT_EQ(observer.events.back(), "not opened " + path);
      log_.ReadLogRecord();
      EXPECT_TRUE(log_.AtEndOfLog());
    }
    EXPECT_EQ(CountRecords(packed), 5000);
    log_.CloseLogFiles(1);
    EXPECT_FALSE(observer.closed.back().read_failed);
  }
  EXPECT_EQ(planner.planned, (std::vector<std::string>{cut, padded, packed}));
}

TEST_F(IISLogTest, FilesThatCannotBeOpenedOrReadEndTheLoop) {
  std::string good = Write("good.log", kHeader +
                                           "2021-03-04 05:06:07 1.1.1.1 GET "
                                           "/x 200\n");
  OpenAt(good, 1);
  std::string missing = (dir_ / "no-such.log").string();
  RecordingObserver observer;
  Hook(observer);
  AutomationError e = testing::ErrorOf([&] { Open(missing); });
  EXPECT_EQ(e.number(), automation::kErrFileNotFound);
  EXPECT_NE(e.description().find(missing), std::string::npos);
  EXPECT_EQ(observer.events,
            (std::vector<std::string>{"not opened " + missing}));
  EXPECT_TRUE(log_.AtEndOfLog());
  log_.ReadLogRecord();
  EXPECT_TRUE(log_.AtEndOfLog());

  // A directory opens or reads with an error; either way the loop ends.
  std::string folder = dir_.string();
  bool raised = !automation::ResumeNext([&] {
    Open(folder);
    log_.ReadLogRecord();
  });
  EXPECT_TRUE(raised);
  EXPECT_NE(automation::Err().Description().find(folder), std::string::npos);
  automation::Err().Clear();
  EXPECT_TRUE(log_.AtEndOfLog());

  EXPECT_THROW(log_.OpenLogFile(good, 2, "W3SVC", "1", kW3C), AutomationError);
  EXPECT_THROW(
      log_.OpenLogFile(good, 1, "W3SVC", "1", "NCSA Common Log File Format"),
      AutomationError);
  EXPECT_TRUE(log_.AtEndOfLog());
}

// --- Reading ahead ---------------------------------------------------------

// What a PiecewiseInput's reader learns of it, from any thread.
struct InputSeen {
  std::atomic<size_t> handed{0};  // bytes handed out
  std::atomic<bool> closed{false};
};

// `text` in pieces of at most `piece` bytes, then its end; or, when
// `fail_at` lies inside it, a read error once the bytes before it are out.
class PiecewiseInput : public unc::InputFile {
 public:
  static constexpr char kFailure[] = "Device I/O error: cannot read the log.";

  PiecewiseInput(const std::string& text, size_t piece, size_t fail_at,
                 InputSeen& seen)
      : text_(text), piece_(piece), fail_at_(fail_at), seen_(seen) {}
  ~PiecewiseInput() override { seen_.closed = true; }

  size_t Read(char* buffer, size_t size) override {
    const size_t at = seen_.handed;
    if (at >= fail_at_) automation::Raise(57, kFailure);
    const size_t n = std::min({size, piece_, text_.size() - at, fail_at_ - at});
    std::memcpy(buffer, text_.data() + at, n);
    seen_.handed += n;
    return n;
  }

 private:
  const std::string& text_;
  size_t piece_;
  size_t fail_at_;
  InputSeen& seen_;
};

// The threads of this process.
size_t ThreadCount() {
  return static_cast<size_t>(std::distance(
      fs::directory_iterator("/proc/self/task"), fs::directory_iterator()));
}

// True once the process has `count` threads: a thread joined may still be
// listed for a moment.
bool ThreadCountBecomes(size_t count) {
  return testing::WaitFor([&] { return ThreadCount() == count; },
                          std::chrono::seconds(2));
}

// A log larger than the read-ahead ring; `ends` gets each record's line end.
std::string LargeLog(int records, std::vector<size_t>* ends) {
  std::string text = kHeader;
  for (int i = 0; i < records; ++i) {
    text += "2021-03-04 05:06:07 1.1.1.1 GET /p" + std::to_string(i) + " 200\n";
    ends->push_back(text.size());
  }
  return text;
}

TEST_F(IISLogTest, ReadAheadHandsOutEveryRecordOnceAndAFailureAfterThem) {
  std::vector<size_t> ends;
  const std::string text = LargeLog(150000, &ends);
  ASSERT_GT(text.size(), kReadAheadBytes + kReadAheadFillBytes);
  // The failure lies inside a line, which must not pass as a record.
  const int whole = 120000;
  const size_t fail_at = ends[whole - 1] + 10;
  for (size_t piece : {size_t{997}, size_t{65537}, text.size()}) {
    for (size_t fail : {std::string::npos, fail_at}) {
      SCOPED_TRACE("pieces of " + std::to_string(piece) +
                   (fail == fail_at ? ", failing" : ""));
      InputSeen seen;
      log_.OpenInput(std::make_unique<PiecewiseInput>(text, piece, fail, seen),
                     "u_ex.log");
      int records = 0;
      std::string error;
      try {
        for (log_.ReadLogRecord(); !log_.AtEndOfLog(); log_.ReadLogRecord()) {
          if (log_.URIStem() != Variant("/p" + std::to_string(records))) {
            ADD_FAILURE() << "record " << records << ": "
                          << automation::CStr(log_.URIStem());
            break;
          }
          ++records;
        }
      } catch (const AutomationError& e) {
        error = e.description();
      }
      log_.CloseLogFiles(1);  // after a failure: closed already
      const int expected = fail == fail_at ? whole : 150000;
      EXPECT_EQ(records, expected);
      EXPECT_EQ(error, fail == fail_at ? PiecewiseInput::kFailure : "");
      EXPECT_TRUE(seen.closed);
      ASSERT_FALSE(observer_.closed.empty());
      const FileReadReport& report = observer_.closed.back();
      EXPECT_EQ(report.read_failed, fail == fail_at);
      EXPECT_EQ(report.text_offset, static_cast<int64_t>(ends[expected - 1]));
      EXPECT_EQ(report.records, expected);
    }
  }
}

TEST_F(IISLogTest, ClosingWhileTheReadAheadWaitsForRoomStopsItsThread) {
  std::vector<size_t> ends;
  const std::string text = LargeLog(300000, &ends);
  const size_t threads = ThreadCount();
  InputSeen seen;
  log_.OpenInput(std::make_unique<PiecewiseInput>(text, text.size(),
                                                  std::string::npos, seen),
                 "u_ex.log");
  log_.ReadLogRecord();
  ASSERT_FALSE(log_.AtEndOfLog());
  // The ring fills and the thread waits for room: the memory it holds is
  // bounded whatever the file's size.
  EXPECT_TRUE(testing::WaitFor([&] { return seen.handed >= kReadAheadBytes; },
                               std::chrono::seconds(20)));
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_LE(seen.handed, kReadAheadBytes + 2 * kReadAheadFillBytes);
  EXPECT_TRUE(ThreadCountBecomes(threads + 1)) << ThreadCount();

  const auto start = std::chrono::steady_clock::now();
  log_.CloseLogFiles(1);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
  EXPECT_TRUE(seen.closed);
  EXPECT_TRUE(ThreadCountBecomes(threads)) << ThreadCount();
  EXPECT_EQ(observer_.closed.back().text_offset, static_cast<int64_t>(ends[0]));

  // Destroying the reader with a file open stops the thread too.
  InputSeen also;
  {
    IISLog other;
    other.OpenInput(
        std::make_unique<PiecewiseInput>(text, 4096, std::string::npos, also),
        "u_ex.log");
    other.ReadLogRecord();
    EXPECT_FALSE(also.closed);
  }
  EXPECT_TRUE(also.closed);
  EXPECT_TRUE(ThreadCountBecomes(threads)) << ThreadCount();
}

TEST_F(IISLogTest, CloseReopenAndCreationByName) {
  std::string path =
      Write("u_ex.log",
            kHeader + "garbage\n2021-03-04 05:06:07 1.1.1.1 GET /x 200\n");
  RegisterClasses();
  auto log = automation::CreateObjectAs<IISLog>("MSWC.IISLog");
  log->SetHooks({{&observer_}});
  log->OpenLogFile(path, 1, "W3SVC", "1", kW3C);
  EXPECT_TRUE(log->AtEndOfLog());  // nothing read yet
  log->ReadLogRecord();
  EXPECT_EQ(log->URIStem(), Variant("/x"));
  log->CloseLogFiles(1);
  EXPECT_TRUE(log->AtEndOfLog());
  EXPECT_EQ(log->URIStem(), Variant(Null{}));
  log->OpenLogFile(path, 1, "W3SVC", "1", kW3C);
  log->ReadLogRecord();
  EXPECT_EQ(log->URIStem(), Variant("/x"));  // from the start again
  log->CloseLogFiles(1);
  // Each reading of the file counts its own skipped line.
  ASSERT_EQ(observer_.closed.size(), 2u);
  EXPECT_EQ(observer_.closed[0].skipped_lines, 1);
  EXPECT_EQ(observer_.closed[1].skipped_lines, 1);
}

}  // namespace
}  // namespace velnor::iislog
