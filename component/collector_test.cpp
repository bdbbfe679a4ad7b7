// Whole collection runs through CollectIISLogData with the headless
// progress window: real log files under a share root, real databases, the
// results read back with plain SQL.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <sstream>
#include <thread>

#include "component/test_support.h"
#include "component/velnor.h"
#include "platform/automation/ole_date.h"
#include "platform/forms/forms.h"
#include "platform/win32/user32.h"
#include "progress/frm_progress_dialog.h"

namespace velnor::testing {
namespace {

using automation::Collection;
using automation::DateSerial;

constexpr char kDay[] = "QDX_UAWebLogDayOfWeek_";
constexpr char kMonth[] = "QDX_UAWebLogHitsByMonth_";
constexpr char kHour[] = "QDX_UAWebLogHitsByHour_";
constexpr char kStatus[] = "QDX_UAWebLogHitsByStatus_";

std::shared_ptr<Collection> Sites(std::vector<std::string> descriptors) {
  return std::make_shared<Collection>(std::move(descriptors));
}

// The parts of a run that reads sites at once, as a host's: each reader
// pauses `pause` per chunk of 64 KiB it takes (so that a site reads for a
// while in any build), and `merged` hears each part merged.
class TestParts : public RunPartMaker {
 public:
  std::unique_ptr<RunPart> MakePart() override {
    return std::make_unique<Part>(*this);
  }
  // A run's hooks with these parts.
  RunHooks Hooks() {
    RunHooks hooks;
    hooks.parts = this;
    return hooks;
  }
  std::chrono::milliseconds pause{0};
  std::function<void()> merged = [] {};

 private:
  class Part : public RunPart, public iislog::ReadObserver {
   public:
    explicit Part(const TestParts& parts) : parts_(parts) {}
    CountObserver* count_observer() override { return nullptr; }
    iislog::ReadHooks read_hooks() override {
      iislog::ReadHooks hooks;
      hooks.observers = {this};
      return hooks;
    }
    void Merge() override { parts_.merged(); }
    void FileOpened(std::string_view) override {}
    void ChunkRead() override { std::this_thread::sleep_for(parts_.pause); }
    void FileClosed(const iislog::FileReadReport&) override {}

   private:
    const TestParts& parts_;
  };
};

class CollectorTest : public RunFixture {
 protected:
  void SetUp() override {
    RunFixture::SetUp();
    parser_ = CreateLogParser({}, Settings());
    parser_->SetErrorLogPath(error_log_.string());
  }
  void TearDown() override {
    win32::SetMessageBoxResponder({});
    RunFixture::TearDown();
  }

  // Collects 2024-06-02 (a Sunday) to 2024-06-08 (a Saturday).
  void CollectWeek(std::shared_ptr<Collection> sites, bool ftp = false,
                   bool site_level = false, bool refresh = false) {
    parser_->CollectIISLogData("SRV1", ftp, DateSerial(2024, 6, 2) + 0.5,
                               DateSerial(2024, 6, 8), db_dir_.string(), false,
                               nullptr, std::move(sites), site_level, refresh);
  }

  // Collects the week of sites One (W3SVC1) and Two (W3SVC2), read at
  // once by two workers.
  void CollectSitesOneAndTwoWithTwoWorkers(const RunHooks& hooks = {}) {
    RunSettings settings = Settings();
    settings.workers = 2;
    parser_ = CreateLogParser(hooks, settings);
    parser_->SetErrorLogPath(error_log_.string());
    CollectWeek(Sites({"One,D:\\Logs,1", "Two,D:\\Logs,2"}));
  }

  // Clicks Cancel once the item line shows `counter_text`, as a user
  // watching the window would.
  void ClickCancelWhenShowing(const std::string& counter_text) {
    forms::PostEvent([this, counter_text] {
      auto window = frmProgressDialog::Instance();
      if (window->lblCurrentProcessDescription->Caption() == counter_text) {
        window->cmdCancel->Click();
      } else {
        ClickCancelWhenShowing(counter_text);
      }
    });
  }

  // Ten records of 2024-06-03 in a file of each of `sites` (W3SVC<n>).
  void WriteTenRecords(std::initializer_list<const char*> sites) {
    std::vector<LogRecord> ten;
    for (int i = 0; i < 10; ++i) {
      ten.push_back({"2024-06-03", "08:00:0" + std::to_string(i), "/p", 200});
    }
    for (const char* site : sites) {
      WriteShareFile(std::string("SRV1/D$/Logs/W3SVC") + site + "/ex240603.log",
                     WebLog(ten));
    }
  }

  std::shared_ptr<LogParserInterface> parser_;
};

const std::vector<LogRecord> kWeek = {
    {"2024-06-01", "23:59:59", "/a", 200},  // the day before the period
    {"2024-06-02", "00:30:00", "/a", 200},
    {"2024-06-02", "13:05:00", "/a", 404},
    {"2024-06-05", "09:00:00", "/Default.htm", 500},
    {"2024-06-05", "09:10:00", "/default.htm", 500},  // the same page
    {"2024-06-08", "23:59:59", "/b", 304},  // the last second of the period
    {"2024-06-09", "00:00:00", "/b", 200},  // after it
};

TEST_F(CollectorTest, TalliesEveryBucketAndAccumulatesAcrossRuns) {
  MakeDatabases(false);
  WriteShareFile("SRV1/D$/Logs/W3SVC1/ex240602.log", WebLog(kWeek));
  WriteShareFile("SRV1/D$/Logs/W3SVC1/ex240605.log",
                 WebLog({{"2024-06-05", "10:00:00", "/a", 226},
                         {"2024-06-05", "10:01:00", "/a", 403}}));
  auto sites = Sites({"Default Web Site,D:\\Logs,1"});
  CollectWeek(sites);

  EXPECT_EQ(ErrorLog(), "");
  EXPECT_EQ(
      Query(kDay,
            "select [Server name], Identifier, [Web Site Name], URL, "
            "[Day of week], [Sort Field], [No of Hits] from tblGeneral "
            "order by URL, [Sort Field]"),
      (Rows{{"SRV1", "1", "Default Web Site", "/a", "Sunday", "1", "2"},
            {"SRV1", "1", "Default Web Site", "/a", "Wednesday", "4", "2"},
            {"SRV1", "1", "Default Web Site", "/b", "Saturday", "7", "1"},
            {"SRV1", "1", "Default Web Site", "/Default.htm", "Wednesday", "4",
             "2"}}));
  EXPECT_EQ(Query(kMonth,
                  "select URL, Months, [Sort Field], [No of Hits] from "
                  "tblGeneral order by URL"),
            (Rows{{"/a", "June", "6", "4"},
                  {"/b", "June", "6", "1"},
                  {"/Default.htm", "June", "6", "2"}}));
  EXPECT_EQ(Query(kHour,
                  "select URL, Hours, [Sort Field], [No of Hits] from "
                  "tblGeneral order by URL, Hours"),
            (Rows{{"/a", "0", "NULL", "1"},
                  {"/a", "10", "NULL", "2"},
                  {"/a", "13", "NULL", "1"},
                  {"/b", "23", "NULL", "1"},
                  {"/Default.htm", "9", "NULL", "2"}}));
  EXPECT_EQ(
      Query(kStatus,
            "select URL, [Status code], Status, [Sort Field], "
            "[No of Hits] from tblGeneral order by URL, [Status code]"),
      (Rows{{"/a", "200", "Succeeded (200)", "0", "1"},
            {"/a", "226", "Others", "100", "1"},
            {"/a", "403", "Others", "100", "1"},
            {"/a", "404", "Not Found (404)", "4", "1"},
            {"/b", "304", "Not Modified (304)", "1", "1"},
            {"/Default.htm", "500", "Internal Server Error (500)", "5", "2"}}));

  // (Text compares without regard to case, so /Default.htm sorts after /b.)
  // The second call without a site collection collects the same sites
  // again; every count doubles and a second total is appended.
  CollectWeek(nullptr);
  EXPECT_EQ(
      Query(kMonth, "select URL, [No of Hits] from tblGeneral order by URL"),
      (Rows{{"/a", "8"}, {"/b", "2"}, {"/Default.htm", "4"}}));
  EXPECT_EQ(Query(kHour,
                  "select [Server name], Identifier, [Web Site Name], "
                  "[No of Hits] from tblTotalAccess"),
            (Rows{{"SRV1", "1", "Default Web Site", "7"},
                  {"SRV1", "1", "Default Web Site", "7"}}));
  RunSummary summary = LastRunSummary(*parser_);
  EXPECT_EQ(summary.sites, 1);
  EXPECT_EQ(summary.records, 7);
  EXPECT_FALSE(summary.cancel_confirmed);
}

// Hears what a run counts, as a host's ledger does.
class RecordingCountObserver : public CountObserver {
 public:
  void RecordCounted(const CountedRecord& record) override {
    const std::string file(record.file.substr(record.file.rfind('\\') + 1));
    heard.push_back(
        {std::string(record.site), automation::DateToText(record.time),
         std::to_string(record.status), file,
         std::string(
             record.fields.Text(iislog::Field::kUriStem).value_or(""))});
  }
  Rows heard;
};

TEST_F(CollectorTest, TheCountObserverHearsEachRecordItsCollectorCounts) {
  MakeDatabases(false);
  WriteShareFile("SRV1/D$/Logs/W3SVC1/ex240602.log", WebLog(kWeek));
  WriteShareFile("SRV1/D$/Logs/W3SVC2/ex240605.log",
                 WebLog({{"2024-06-05", "10:00:00", "/a", 226},
                         {"-", "10:01:00", "/undated", 200}}));
  RecordingCountObserver observer;
  RunHooks hooks;
  hooks.count_observer = &observer;
  // The host hears once that the counting is over, with every record heard
  // by then.
  std::vector<size_t> heard_when_counted;
  hooks.counted = [&] { heard_when_counted.push_back(observer.heard.size()); };
  parser_ = CreateLogParser(hooks, Settings());
  parser_->SetErrorLogPath(error_log_.string());
  CollectWeek(Sites({"Main,D:\\Logs,1", "Other,D:\\Logs,2"}));
  EXPECT_EQ(heard_when_counted, std::vector<size_t>{6});
  EXPECT_EQ(
      observer.heard,
      (Rows{{"1", "6/2/2024 12:30:00 AM", "200", "ex240602.log", "/a"},
            {"1", "6/2/2024 1:05:00 PM", "404", "ex240602.log", "/a"},
            {"1", "6/5/2024 9:00:00 AM", "500", "ex240602.log", "/Default.htm"},
            {"1", "6/5/2024 9:10:00 AM", "500", "ex240602.log", "/default.htm"},
            {"1", "6/8/2024 11:59:59 PM", "304", "ex240602.log", "/b"},
            {"2", "6/5/2024 10:00:00 AM", "226", "ex240605.log", "/a"}}));

  // Another collector, on the same thread but created without the
  // observer, is not heard.
  observer.heard.clear();
  auto other = CreateLogParser({}, Settings());
  other->SetErrorLogPath(error_log_.string());
  other->CollectIISLogData("SRV1", false, DateSerial(2024, 6, 2) + 0.5,
                           DateSerial(2024, 6, 8), db_dir_.string(), false,
                           nullptr, Sites({"Main,D:\\Logs,1"}));
  EXPECT_EQ(LastRunSummary(*other).records, 5);
  EXPECT_EQ(observer.heard, Rows());

  // A raw listing counts nothing, so the observer hears nothing.
  Listing listing;
  parser_->CollectIISLogData("SRV1", false, DateSerial(2024, 6, 2),
                             DateSerial(2024, 6, 8), db_dir_.string(), true,
                             ListingGrid(14330, listing), nullptr);
  EXPECT_EQ(LastRunSummary(*parser_).records, 6);
  EXPECT_EQ(observer.heard, Rows());
  EXPECT_EQ(heard_when_counted.size(), 1u);
}

// Each site's part hears its own records on its worker; merged in site
// order, they are what one observer hears from a run in sequence, and a
// run whose hooks have no part maker is read in sequence.
TEST_F(CollectorTest, PartsOfSitesReadAtOnceAreHeardInSiteOrder) {
  MakeDatabases(false);
  for (int site = 1; site <= 3; ++site) {
    std::vector<LogRecord> records;
    for (int i = 0; i < 200 * site; ++i) {
      records.push_back({"2024-06-0" + std::to_string(2 + i % 5), "10:00:00",
                         "/p" + std::to_string(i % 7), 200 + i % 3});
    }
    WriteShareFile("SRV1/D$/Logs/W3SVC" + std::to_string(site) + "/ex1.log",
                   WebLog(records));
  }
  const auto sites = [] {
    return Sites({"One,D:\\Logs,1", "Two,D:\\Logs,2", "Three,D:\\Logs,3"});
  };
  class Part : public RunPart {
   public:
    explicit Part(Rows& into) : into_(into) {}
    CountObserver* count_observer() override { return &observer_; }
    iislog::ReadHooks read_hooks() override { return {}; }
    void Merge() override {
      into_.insert(into_.end(), observer_.heard.begin(), observer_.heard.end());
    }

   private:
    Rows& into_;
    RecordingCountObserver observer_;
  };
  class Parts : public RunPartMaker {
   public:
    std::unique_ptr<RunPart> MakePart() override {
      return std::make_unique<Part>(merged);
    }
    Rows merged;
  };

  RecordingCountObserver alone;
  Parts parts;
  RunHooks hooks;
  hooks.count_observer = &alone;
  RunSettings settings = Settings();
  settings.workers = 2;
  for (bool with_parts : {false, true}) {
    hooks.parts = with_parts ? &parts : nullptr;
    parser_ = CreateLogParser(hooks, settings);
    parser_->SetErrorLogPath(error_log_.string());
    CollectWeek(sites());
    EXPECT_EQ(LastRunSummary(*parser_).sites_at_once, with_parts ? 2 : 1);
  }
  ASSERT_EQ(alone.heard.size(), 1200u);
  EXPECT_EQ(parts.merged, alone.heard);
  EXPECT_EQ(ErrorLog(), "");
}

// Two sites read at once, each a long file: a confirmed Cancel stops both
// workers within half a second; the first site keeps what it counted, the
// second, whose part comes after the Cancel, is not started.
TEST_F(CollectorTest, CancelStopsEveryWorkerWithinHalfASecond) {
  MakeDatabases(false);
  std::vector<LogRecord> records(300000, {"2024-06-03", "08:00:00", "/p", 200});
  WriteShareFile("SRV1/D$/Logs/W3SVC1/ex240603.log", WebLog(records));
  WriteShareFile("SRV1/D$/Logs/W3SVC2/ex240603.log", WebLog(records));
  win32::SetMessageBoxResponder(
      [](std::string_view, std::string_view, int32_t) { return 6; });
  std::chrono::steady_clock::time_point clicked;
  std::function<void()> click = [&] {
    auto window = frmProgressDialog::Instance();
    const std::string counter = window->lblCurrentProcessDescription->Caption();
    const std::string prefix = "Processing Record # : ";
    if (counter.starts_with(prefix) &&
        std::stol(counter.substr(prefix.size())) >= 1000) {
      clicked = std::chrono::steady_clock::now();
      window->cmdCancel->Click();
    } else {
      forms::PostEvent(click);
    }
  };
  forms::PostEvent(click);
  // Each file (22 MB, 344 chunks) takes at least 0.7 s to read, in any
  // build, so that the Cancel comes well before either's end.
  TestParts parts;
  parts.pause = std::chrono::milliseconds(2);
  CollectSitesOneAndTwoWithTwoWorkers(parts.Hooks());
  const auto stopped = std::chrono::steady_clock::now() - clicked;

  EXPECT_LT(stopped, std::chrono::milliseconds(500));
  const RunSummary summary = LastRunSummary(*parser_);
  EXPECT_TRUE(summary.cancel_confirmed);
  EXPECT_EQ(summary.sites_at_once, 2);
  EXPECT_EQ(summary.sites, 1);
  EXPECT_GE(summary.records, 1000);
  EXPECT_LT(summary.records, 300000);
  EXPECT_EQ(Query(kHour, "select Identifier, [No of Hits] from tblTotalAccess"),
            (Rows{{"1", std::to_string(summary.records)}}));
  EXPECT_EQ(Query(kHour, "select Identifier, [No of Hits] from tblGeneral"),
            (Rows{{"1", std::to_string(summary.records)}}));
  EXPECT_EQ(ErrorLog(), "");
}

// Two sites read at once, the first of many pages, whose rows take a while
// to write while the second is read: a Cancel clicked meanwhile is asked
// about while that write goes on and the window still shows the first
// site, not once its rows are all written; the run then ends as a Cancel
// during the second site does, every row of the first kept.
TEST_F(CollectorTest, CancelDuringAnEarlyWriteIsAskedAtOnce) {
  MakeDatabases(false);
  constexpr int kPages = 100000;
  std::vector<LogRecord> pages;
  for (int i = 0; i < kPages; ++i) {
    pages.push_back({"2024-06-03", "08:00:00", "/p" + std::to_string(i), 200});
  }
  WriteShareFile("SRV1/D$/Logs/W3SVC1/ex240603.log", WebLog(pages));
  WriteShareFile("SRV1/D$/Logs/W3SVC2/ex240603.log",
                 WebLog(std::vector<LogRecord>(
                     300000, {"2024-06-03", "08:00:00", "/q", 200})));
  std::string asked_during;
  win32::SetMessageBoxResponder([&](std::string_view, std::string_view,
                                    int32_t) {
    asked_during =
        frmProgressDialog::Instance()->lblOverallProcessDescription->Caption();
    return 6;
  });
  // Waiting input is let through once or twice between the first site's
  // counts being taken in (its part merged) and its rows being written, and
  // between each batch of that write's hundreds. The user clicks at the
  // tenth time after the merge: inside the write on any machine, however
  // slow, and the click waits there to be looked at.
  bool merged = false;
  int seen_since_merge = 0;
  TestParts parts;
  parts.merged = [&] { merged = true; };
  std::function<void()> click = [&] {
    if (!merged || ++seen_since_merge < 10) {
      forms::PostEvent(click);
      return;
    }
    frmProgressDialog::Instance()->cmdCancel->Click();
  };
  forms::PostEvent(click);
  CollectSitesOneAndTwoWithTwoWorkers(parts.Hooks());

  EXPECT_EQ(LastRunSummary(*parser_).sites_at_once, 2);
  EXPECT_EQ(asked_during, "Collecting data for site 'One'");
  const RunSummary summary = LastRunSummary(*parser_);
  EXPECT_TRUE(summary.cancel_confirmed);
  EXPECT_EQ(summary.sites, 2);
  // Each site's rows hold its total, the second's as far as it was read.
  Rows totals{{"1", std::to_string(kPages)}};
  if (summary.records > kPages) {
    totals.push_back({"2", std::to_string(summary.records - kPages)});
  }
  EXPECT_EQ(Query(kHour,
                  "select Identifier, sum([No of Hits]) from tblGeneral "
                  "group by Identifier order by Identifier"),
            totals);
  EXPECT_EQ(Query(kDay, "select count(*) from tblGeneral"),
            (Rows{{std::to_string(kPages + totals.size() - 1)}}));
  totals.resize(2, {"2", "0"});
  EXPECT_EQ(Query(kHour,
                  "select Identifier, [No of Hits] from tblTotalAccess "
                  "order by Identifier"),
            totals);
  EXPECT_EQ(ErrorLog(), "");
}

TEST_F(CollectorTest, FtpSiteUnderTheWindowsDirectory) {
  MakeDatabases(true);
  RunSettings settings = Settings();
  settings.windows_directories.Set("SRV1", "C:\\WINNT");
  parser_ = CreateLogParser({}, settings);
  parser_->SetErrorLogPath(error_log_.string());
  WriteShareFile("SRV1/C$/WINNT/System32/LogFiles/MSFTPSVC1/ex240603.log",
                 "#Software: Microsoft Internet Information Services 5.0\n"
                 "#Version: 1.0\n"
                 "#Date: 2024-06-03 10:00:00\n"
                 "#Fields: time c-ip cs-method cs-uri-stem sc-status\n"
                 "10:00:01 10.0.0.9 [1]USER anonymous 331\n"
                 "10:00:02 10.0.0.9 [1]sent /pub/a.zip 226\n"
                 "11:00:00 10.0.0.9 [1]sent /pub/a.zip 226\n"
                 "11:30:00 10.0.0.9 [1]created /pub/b.zip 550\n");
  CollectWeek(Sites({"Default FTP Site,%SystemRoot%\\System32\\LogFiles,1"}),
              true);
  EXPECT_EQ(ErrorLog(), "");
  EXPECT_EQ(Query("QDX_UAFTPLogHitsByStatus_",
                  "select [FTP Site Name], URL, Status, [Sort Field], "
                  "[No of Hits] from tblGeneral order by URL"),
            (Rows{{"Default FTP Site", "/pub/a.zip", "Transfer complete(226)",
                   "1", "2"},
                  {"Default FTP Site", "/pub/b.zip", "Others", "100", "1"},
                  {"Default FTP Site", "anonymous", "User(331)", "3", "1"}}));
  EXPECT_EQ(Query("QDX_UAFTPLogDayOfWeek_",
                  "select distinct [Day of week] from tblGeneral"),
            (Rows{{"Monday"}}));
  EXPECT_EQ(Query("QDX_UAFTPLogHitsByHour_",
                  "select [FTP Site Name], [No of Hits] from tblTotalAccess"),
            (Rows{{"Default FTP Site", "4"}}));
}

// Two sites of two files each. Without registry rows the whole folders are
// read; with site 1's second file registered only that file is read and
// site 2 is skipped, unless the run is site-level (which reads site 2
// without registering it) or refreshes the registry from the listing.
TEST_F(CollectorTest, TheRegistryChoosesTheFilesOfEachSite) {
  // Expected rows are "value=value" pairs apart by blanks.
  struct Case {
    const char* name;
    bool registered, site_level, refresh;
    std::string totals, registry;
  };
  const Case kCases[] = {
      {"no rows", false, false, false, "1=2 2=2", ""},
      {"registered", true, false, false, "1=1 2=0", "One=ex240604.log"},
      {"site level", true, true, false, "1=1 2=2", "One=ex240604.log"},
      {"refresh", true, false, true, "1=1 2=2",
       "One=ex240604.log Two=ex240603.log Two=ex240604.log"},
  };
  auto pairs = [](const Rows& rows) {
    std::string text;
    for (const auto& row : rows) {
      text += (text.empty() ? "" : " ") + row.at(0) + "=" + row.at(1);
    }
    return text;
  };
  for (const char* site : {"W3SVC1", "W3SVC2"}) {
    for (const char* file : {"ex240603.log", "ex240604.log"}) {
      WriteShareFile(std::string("SRV1/D$/Logs/") + site + "/" + file,
                     WebLog({{"2024-06-03", "08:00:00", "/x", 200}}));
    }
  }
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    std::filesystem::remove_all(db_dir_);
    std::filesystem::create_directories(db_dir_);
    MakeDatabases(false);
    parser_ = CreateLogParser({}, Settings());
    if (c.registered) {
      Execute(kHour,
              "insert into tblLogFiles ([Server name], Identifier, "
              "[Web Site Name], [Log File Name]) values "
              "('SRV1', '1', 'One', 'ex240604.log')");
    }
    CollectWeek(Sites({"One,D:\\Logs,1", "Two,D:\\Logs,2"}), false,
                c.site_level, c.refresh);
    EXPECT_EQ(pairs(Query(kHour,
                          "select Identifier, [No of Hits] from "
                          "tblTotalAccess order by rowid")),
              c.totals);
    EXPECT_EQ(pairs(Query(kHour,
                          "select [Web Site Name], [Log File Name] from "
                          "tblLogFiles order by [Web Site Name], [Log File "
                          "Name]")),
              c.registry);
  }
}

TEST_F(CollectorTest, MissingDatabaseStopsBeforeAnySite) {
  MakeDatabases(false);
  std::filesystem::remove(DbFile(kMonth));
  WriteShareFile("SRV1/D$/Logs/W3SVC1/ex240602.log", WebLog(kWeek));
  CollectWeek(Sites({"One,D:\\Logs,1"}));
  std::string log = ErrorLog();
  EXPECT_NE(log.find("Connection failed-WebLogHitsByMonth\r\n"),
            std::string::npos);
  EXPECT_NE(log.find("VELNORLogAnalysis-DBSupport"), std::string::npos);
  EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 2) << log;
  EXPECT_TRUE(Query(kDay, "select * from tblGeneral").empty());
  EXPECT_TRUE(Query(kHour, "select * from tblTotalAccess").empty());
}

TEST_F(CollectorTest, EmptyDirectoryAndMissingCollection) {
  MakeDatabases(false);
  std::filesystem::create_directories(share_root_ / "SRV1/D$/Logs/W3SVC1");
  CollectWeek(Sites({"One,D:\\Logs,1"}));
  EXPECT_EQ(Query(kHour, "select [No of Hits] from tblTotalAccess"),
            (Rows{{"0"}}));
  EXPECT_EQ(ErrorLog(), "");

  // A fresh collector that never got a site collection logs the failed
  // enumeration and closes its databases as after an empty list.
  auto fresh = CreateLogParser({}, Settings());
  fresh->CollectIISLogData("SRV1", false, DateSerial(2024, 6, 2),
                           DateSerial(2024, 6, 8), db_dir_.string(), false);
  EXPECT_NE(ErrorLog().find("VELNORLogAnalysis-LogParserFalse"),
            std::string::npos);
  EXPECT_EQ(Query(kHour, "select count(*) from tblTotalAccess"), (Rows{{"1"}}));
}

// The public methods never let a failure out, even when called out of
// order: a run without any stored state logs why it read nothing.
TEST_F(CollectorTest, PrepareReportWithoutARunFailsQuietly) {
  auto fresh = CreateLogParser({}, Settings());
  fresh->SetErrorLogPath(error_log_.string());
  fresh->PrepareReport();
  fresh->CollectDataFromLogFile(true, db_dir_.string());
  EXPECT_NE(ErrorLog().find("Connection failed-WebLogDayOfWeek\r\n"),
            std::string::npos);
  EXPECT_NE(ErrorLog().find("Connection failed-FTPLogDayOfWeek\r\n"),
            std::string::npos);
  EXPECT_EQ(fresh->GetLogFileCountFromDB(nullptr), 0);
}

TEST_F(CollectorTest, CancelConfirmedMidFileKeepsTalliesAndTotal) {
  MakeDatabases(false);
  WriteTenRecords({"1", "2"});
  std::vector<std::string> questions;
  win32::SetMessageBoxResponder(
      [&](std::string_view text, std::string_view title, int32_t style) {
        questions.push_back(std::string(title) + "|" + std::string(text) + "|" +
                            std::to_string(style));
        return 6;  // Yes
      });
  ClickCancelWhenShowing("Processing Record # : 3");
  CollectWeek(Sites({"One,D:\\Logs,1", "Two,D:\\Logs,2"}));

  EXPECT_EQ(questions,
            (std::vector<std::string>{
                "VELNOR|Do you want to cancel this operation? |292"}));
  // The fourth record was being shown when the click arrived: it is
  // tallied, nothing after it is read, and site 2 is never started.
  EXPECT_EQ(Query(kHour, "select [No of Hits] from tblGeneral"), (Rows{{"4"}}));
  EXPECT_EQ(Query(kHour, "select Identifier, [No of Hits] from tblTotalAccess"),
            (Rows{{"1", "4"}}));
  EXPECT_TRUE(LastRunSummary(*parser_).cancel_confirmed);
  EXPECT_EQ(ErrorLog(), "");
}

TEST_F(CollectorTest, CancelAnsweredNoChangesNothingAndAsksAgain) {
  MakeDatabases(false);
  WriteTenRecords({"1"});
  int asked = 0;
  win32::SetMessageBoxResponder(
      [&](std::string_view, std::string_view, int32_t) {
        ++asked;
        if (asked == 1) ClickCancelWhenShowing("Processing Record # : 7");
        return 7;  // No
      });
  ClickCancelWhenShowing("Processing Record # : 2");
  CollectWeek(Sites({"One,D:\\Logs,1"}));
  EXPECT_EQ(asked, 2);
  EXPECT_EQ(Query(kHour, "select [No of Hits] from tblGeneral"),
            (Rows{{"10"}}));
  EXPECT_FALSE(LastRunSummary(*parser_).cancel_confirmed);
}

TEST_F(CollectorTest, UnreadableLogFileIsLoggedAndTheRunGoesOn) {
  MakeDatabases(false);
  Execute(kHour,
          "insert into tblLogFiles ([Server name], Identifier, "
          "[Web Site Name], [Log File Name]) values "
          "('SRV1', '1', 'One', 'gone.log'), ('SRV1', '1', 'One', 'ex1.log')");
  WriteShareFile("SRV1/D$/Logs/W3SVC1/ex1.log",
                 WebLog({{"2024-06-03", "08:00:00", "/x", 200}}));
  CollectWeek(Sites({"One,D:\\Logs,1"}));
  std::string log = ErrorLog();
  EXPECT_NE(log.find("gone.log"), std::string::npos) << log;
  EXPECT_EQ(Query(kHour, "select [No of Hits] from tblTotalAccess"),
            (Rows{{"1"}}));
}

// What a record holds is counted as its value reads, however odd: a status
// that is not a 32-bit number, or none, counts under 0 (the first two with
// an error-log line each), a quoted URL without its quotes, and the records
// without a date are left out with one line for their file. A URL with a NUL
// byte leaves its record out of the reports and the site's total alike.
TEST_F(CollectorTest, OddFieldsAreCountedAsTheirValuesRead) {
  MakeDatabases(false);
  WriteShareFile("SRV1/D$/Logs/W3SVC1/ex240603.log",
                 "#Fields: date time cs-uri-stem sc-status\r\n"
                 "2024-06-03 08:00:00 /a 200\r\n"
                 "2024-06-03 08:00:01 /a abc\r\n"
                 "2024-06-03 08:00:02 /a 99999999999\r\n"
                 "2024-06-03 08:00:03 /a -\r\n"
                 "- 08:00:04 /a 200\r\n"
                 "2024-06-03 - /a 200\r\n"
                 "2024-06-03 08:00:06 \"/b c\" -00404\r\n"
                 "2024-06-03 08:00:07 - 200\r\n" +
                     std::string("2024-06-03 08:00:08 /n\0ul 200\r\n", 31));
  CollectWeek(Sites({"One,D:\\Logs,1"}));
  EXPECT_EQ(Query(kStatus,
                  "select URL, [Status code], [No of Hits] from tblGeneral "
                  "order by rowid"),
            (Rows{{"/a", "200", "1"},
                  {"/a", "0", "3"},
                  {"/b c", "-404", "1"},
                  {"", "200", "1"}}));
  EXPECT_EQ(Query(kHour, "select [No of Hits] from tblTotalAccess"),
            (Rows{{"6"}}));
  std::vector<std::string> lines;
  std::istringstream log(ErrorLog());
  for (std::string line; std::getline(log, line);) lines.push_back(line);
  ASSERT_EQ(lines.size(), 4u) << ErrorLog();
  EXPECT_NE(lines[0].find("\t         D\tType mismatch"), std::string::npos)
      << lines[0];
  EXPECT_NE(lines[1].find("\t         6\tOverflow"), std::string::npos)
      << lines[1];
  EXPECT_NE(lines[2].find("(record without a date in "), std::string::npos)
      << lines[2];
  EXPECT_NE(lines[3].find("The text '/n\\0ul' holds a NUL byte"),
            std::string::npos)
      << lines[3];
}

}  // namespace
}  // namespace velnor::testing
