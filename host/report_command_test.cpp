// `velnor report` as a user runs it: the built binary on a database folder
// made by CreateReportDatabases and filled with plain SQL. Text, CSV and
// JSON are compared with the files in host/testdata/report/; run the test
// with VELNOR_UPDATE_EXPECTED=1 to rewrite them after a deliberate change,
// then read the diff before committing it.
#include <gtest/gtest.h>
#include <png.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <regex>
#include <set>
#include <sstream>
#include <tuple>
#include <vector>

#include "host/testing/scratch_mount.h"
#include "host/testing/velnor_test_support.h"
#include "reportdb/schema.h"
#include "testing/test_support.h"

namespace velnor::host {

using reportdb::CreateReportDatabases;
using reportdb::ReportDatabaseFileName;
using reportdb::ReportKind;
namespace {

namespace fs = std::filesystem;
using testing::ExecSql;
using testing::ReadFile;
using testing::Words;
using testing::WriteFile;

const fs::path kExpected = fs::path(VELNOR_SOURCE_DIR) / "host/testdata/report";

// 2024-06-12 14:05:09 UTC, the time every report here states as made.
constexpr const char* kMade = "1718201109";

// The overview `page` in a frame, and a script that lists the links the
// browser finds in its table as "<li>text -> target</li>": the target is
// the file name the browser opens when the link leads to a file (no query,
// no fragment), else "no file: " and the whole URL it leads to.
std::string LinkReadingPage(const std::string& page) {
  std::string srcdoc;
  for (char c : page) {
    srcdoc += c == '&' ? "&amp;" : c == '"' ? "&quot;" : std::string(1, c);
  }
  return "<!DOCTYPE html><html><body><iframe id=\"page\" srcdoc=\"" + srcdoc +
         "\"></iframe>" + R"(<script>
addEventListener('load', () => {
  const doc = document.getElementById('page').contentDocument;
  const list = document.createElement('ul');
  for (const a of doc.querySelectorAll('table a')) {
    const item = document.createElement('li');
    const url = new URL(a.href), path = url.pathname;
    const file = url.protocol === 'file:' && !url.search && !url.hash;
    item.textContent = a.textContent + ' -> ' + (file
        ? decodeURIComponent(path.slice(path.lastIndexOf('/') + 1))
        : 'no file: ' + url.href);
    list.appendChild(item);
  }
  document.body.appendChild(list);
});
</script></body></html>)";
}

class ReportCommandTest : public ::testing::Test {
 protected:
  // The runs of one test share a UTF-8 locale, UTC and a fixed time made;
  // tests that look at one of these change it for their own runs.
  void SetUp() override {
    setenv("LC_ALL", "C.UTF-8", 1);
    setenv("TZ", "UTC", 1);
    setenv("SOURCE_DATE_EPOCH", kMade, 1);
    CreateReportDatabases(dir_, "SRV1", false);
  }

  std::string Db(ReportKind kind, bool ftp = false) const {
    return dir_ + "/" + ReportDatabaseFileName(kind, "SRV1", ftp);
  }

  // Three web sites: 1 with more than ten URLs, ties and every status
  // kind; 10 (listed after 2) with texts that need escaping; 2 with runs
  // but no hits.
  void FillWebSites() {
    std::string day =
        "INSERT INTO tblGeneral VALUES "
        "('SRV1','1','Default Web Site','/default.htm',5,1,'Sunday'),"
        "('SRV1','1','Default Web Site','/default.htm',3,2,'Monday'),"
        "('SRV1','1','Default Web Site','/images/logo.gif',4,1,'Sunday'),"
        "('SRV1','1','Default Web Site','/o''brien.htm',2,7,'Saturday'),"
        "('SRV1','1','Default Web Site','/a,b\"c.htm',1,4,'Wednesday'),"
        "('SRV1','10','Caf\xC3\xA9 <Intra> & \"Co\"',"
        "  '/tab' || char(9) || 'x',6,6,'Friday'),"
        "('SRV1','10','Caf\xC3\xA9 <Intra> & \"Co\"',"
        "  CAST(X'2F6261642DFF' AS TEXT),1,6,'Friday');";
    for (int i = 9; i >= 1; --i) {
      day +=
          "INSERT INTO tblGeneral VALUES ('SRV1','1','Default Web Site',"
          "'/p0" +
          std::to_string(i) + ".htm',1,3,'Tuesday');";
    }
    ExecSql(Db(ReportKind::kDayOfWeek), day);
    ExecSql(
        Db(ReportKind::kHitsByMonth),
        "INSERT INTO tblGeneral VALUES "
        "('SRV1','1','Default Web Site','/default.htm',8,3,'March'),"
        "('SRV1','1','Default Web Site','/images/logo.gif',4,12,'December'),"
        "('SRV1','1','Default Web Site','/o''brien.htm',2,3,'March'),"
        "('SRV1','10','Caf\xC3\xA9 <Intra> & \"Co\"','/tab',7,1,'January');");
    ExecSql(
        Db(ReportKind::kHitsByHour),
        "INSERT INTO tblGeneral VALUES "
        "('SRV1','1','Default Web Site','/default.htm',6,NULL,9),"
        "('SRV1','1','Default Web Site','/default.htm',2,NULL,23),"
        "('SRV1','1','Default Web Site','/images/logo.gif',4,NULL,0),"
        "('SRV1','1','Default Web Site','/o''brien.htm',2,NULL,9),"
        "('SRV1','10','Caf\xC3\xA9 <Intra> & \"Co\"','/tab',7,NULL,12);"
        "INSERT INTO tblTotalAccess VALUES "
        "('SRV1','1','Default Web Site',10),('SRV1','2','Shop',0),"
        "('SRV1','1','Default Web Site',0),('SRV1','1','Default Web Site',12),"
        "('SRV1','10','Caf\xC3\xA9 <Intra> & \"Co\"',7);");
    ExecSql(
        Db(ReportKind::kHitsByStatus),
        "INSERT INTO tblGeneral VALUES "
        "('SRV1','1','Default Web Site',100,'/x','Others',403,1),"
        "('SRV1','1','Default Web Site',0,'/default.htm','Succeeded "
        "(200)',200,7),"
        "('SRV1','1','Default Web Site',4,'/missing','Not Found (404)',404,2),"
        "('SRV1','1','Default Web Site',100,'/y','Others',226,1),"
        "('SRV1','1','Default Web Site',0,'/images/logo.gif','Succeeded "
        "(200)',200,4),"
        "('SRV1','10','Caf\xC3\xA9 <Intra> & \"Co\"',1,'/tab','Not Modified "
        "(304)',304,7);");
  }

  // Adds `hits` records of `url` to site 1 of every report: on weekday
  // `day` (1 = Sunday) of June, in `hour`, with `status` labelled `label`.
  void AddHits(const std::string& url, int64_t hits, int day, int hour,
               int status, const std::string& label, bool ftp = false) {
    const char* kDays[] = {"Sunday",   "Monday", "Tuesday", "Wednesday",
                           "Thursday", "Friday", "Saturday"};
    std::string site =
        "'SRV1','1','Main','" + url + "'," + std::to_string(hits);
    std::string insert = "INSERT INTO tblGeneral VALUES (";
    ExecSql(Db(ReportKind::kDayOfWeek, ftp), insert + site + "," +
                                                 std::to_string(day) + ",'" +
                                                 kDays[day - 1] + "')");
    ExecSql(Db(ReportKind::kHitsByMonth, ftp), insert + site + ",6,'June')");
    ExecSql(Db(ReportKind::kHitsByHour, ftp),
            insert + site + ",NULL," + std::to_string(hour) + ")");
    ExecSql(Db(ReportKind::kHitsByStatus, ftp),
            insert + "'SRV1','1','Main'," + (label == "Others" ? "100" : "4") +
                ",'" + url + "','" + label + "'," + std::to_string(status) +
                "," + std::to_string(hits) + ")");
  }

  // velnor with `arguments` split at blanks; paths here have none.
  VelnorRun Velnor(const std::string& arguments) const {
    return RunVelnor(testing::Words(arguments), tmp_.path());
  }

  VelnorRun VelnorReport(const std::string& more) const {
    return Velnor("report --db-dir " + dir_ + " --server SRV1 " + more);
  }

  static bool NoChromium() { return access("/usr/bin/chromium", X_OK) != 0; }
  // Headless Chromium with `options`, its profile and messages
  // (chromium.log) in the test's folder.
  VelnorRun Chromium(const std::string& options) const {
    return testing::Shell(
        "/usr/bin/chromium --headless --no-sandbox --disable-gpu "
        "--disable-quic --no-first-run --disable-background-networking "
        "--disable-component-update --disable-sync --user-data-dir=" +
        dir_ + "/profile " + options + " 2>" + dir_ + "/chromium.log");
  }

  // The overview of the folder written as pages/index.html with the pages
  // beside it, and the links of its table as a browser follows them:
  // (link text, target; see LinkReadingPage).
  std::vector<std::pair<std::string, std::string>> OverviewLinks() {
    fs::create_directories(dir_ + "/pages");
    VelnorRun overview =
        Velnor("report --db-dir " + dir_ + " --format html --output " + dir_ +
               "/pages/index.html");
    EXPECT_EQ(overview.status, 0) << overview.err;
    WriteFile(dir_ + "/links.html",
              LinkReadingPage(ReadFile(dir_ + "/pages/index.html")));
    VelnorRun chromium = Chromium(
        "--virtual-time-budget=5000 --dump-dom file://" + dir_ + "/links.html");
    EXPECT_EQ(chromium.status, 0) << ReadFile(dir_ + "/chromium.log");
    std::vector<std::pair<std::string, std::string>> links;
    static const std::regex kLink("<li>([^<]*) -&gt; ([^<]*)</li>");
    for (std::sregex_iterator
             it(chromium.out.begin(), chromium.out.end(), kLink),
         end;
         it != end; ++it) {
      links.emplace_back((*it)[1].str(), (*it)[2].str());
    }
    return links;
  }

  testing::TempDir tmp_{"report_command_test"};
  std::string dir_ = tmp_.path().string();
};

size_t Occurrences(const std::string& text, const std::string& part) {
  size_t count = 0;
  for (size_t at = 0; (at = text.find(part, at)) != std::string::npos;
       at += part.size()) {
    ++count;
  }
  return count;
}

TEST_F(ReportCommandTest, FormatsMatchTheExpectedFilesSiteAndOutputSelect) {
  FillWebSites();
  for (std::string format : {"txt", "csv", "json"}) {
    VelnorRun run =
        VelnorReport("--format " + (format == "txt" ? "text" : format));
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, "");
    testing::ExpectMatchesFile(run.out, kExpected / ("web." + format));
  }
  VelnorRun only = VelnorReport("--site 10 --format csv");
  EXPECT_EQ(only.status, 0) << only.err;
  EXPECT_EQ(only.out.find(",Default Web Site,"), std::string::npos);
  EXPECT_NE(
      only.out.find("10,\"Caf\xC3\xA9 <Intra> & \"\"Co\"\"\",hour,12,,7\r\n"),
      std::string::npos)
      << only.out;

  std::string file = dir_ + "/out.json";
  VelnorRun to_file = VelnorReport("--format json --output " + file);
  EXPECT_EQ(to_file.status, 0) << to_file.err;
  EXPECT_EQ(to_file.out, "");
  EXPECT_EQ(ReadFile(file), ReadFile(kExpected / "web.json"));
}

// URLs come from logs anyone can write into: a report shown on a terminal
// (the text, or a CSV or JSON file someone cats) must not carry the
// controls that steer it, while CSV keeps the tab and line ends a quoted
// field holds.
TEST_F(ReportCommandTest, UrlControlsNeverReachTheTerminalOfAnyFormat) {
  AddHits("/t\x1b]0;pwned\x07x", 5, 2, 9, 200, "Succeeded (200)");
  AddHits(
      "/c1\xC2\x9B"
      "31m\x7F",
      4, 2, 9, 200, "Succeeded (200)");
  AddHits("/tab\tnl\r\nx", 3, 2, 9, 200, "Succeeded (200)");
  // A carriage return alone is no line end: shown, it sends the cursor back
  // to the line's start, and what follows it covers the row's first fields.
  AddHits("/cr\r2,Other,url,1,/", 2, 2, 9, 200, "Succeeded (200)");
  AddHits("/lone\r", 1, 2, 9, 200, "Succeeded (200)");
  VelnorRun csv = VelnorReport("--format csv");
  EXPECT_EQ(csv.status, 0) << csv.err;
  EXPECT_NE(csv.out.find("\r\n1,Main,url,1,/t\uFFFD]0;pwned\uFFFDx,5\r\n"
                         "1,Main,url,2,/c1\uFFFD31m\uFFFD,4\r\n"
                         "1,Main,url,3,\"/tab\tnl\r\nx\",3\r\n"
                         "1,Main,url,4,\"/cr\uFFFD2,Other,url,1,/\",2\r\n"
                         "1,Main,url,5,/lone\uFFFD,1\r\n"),
            std::string::npos)
      << csv.out;
  VelnorRun text = VelnorReport("");
  EXPECT_EQ(text.status, 0) << text.err;
  EXPECT_NE(text.out.find("/t\uFFFD]0;pwned\uFFFDx"), std::string::npos)
      << text.out;
  // JSON keeps the texts exactly, every control as an escape.
  VelnorRun json = VelnorReport("--format json");
  EXPECT_EQ(json.status, 0) << json.err;
  for (const char* url :
       {"\"/t\\u001b]0;pwned\\u0007x\"", "\"/c1\\u009b31m\\u007f\""}) {
    EXPECT_NE(json.out.find("{\"url\": " + std::string(url)), std::string::npos)
        << json.out;
  }
  for (const VelnorRun* run : {&csv, &text, &json}) {
    for (const char* control : {"\x1b", "\x07", "\x7F", "\xC2\x9B"}) {
      EXPECT_EQ(run->out.find(control), std::string::npos)
          << "control byte "
          << static_cast<int>(static_cast<unsigned char>(control[0])) << "\n"
          << run->out;
    }
  }
}

TEST_F(ReportCommandTest, FtpReadsTheFtpDatabases) {
  CreateReportDatabases(dir_, "SRV1", true);
  ExecSql(
      Db(ReportKind::kHitsByStatus, true),
      "INSERT INTO tblGeneral VALUES "
      "('SRV1','3','Files',1,'/pub/a.zip','Transfer complete(226)',226,4);");
  VelnorRun run = VelnorReport("--ftp --format csv");
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.out.find("3,Files,status,226,Transfer complete(226),4\r\n"),
            std::string::npos)
      << run.out;
  // The web databases of the same server are empty.
  EXPECT_EQ(VelnorReport("").out,
            "Usage report for server SRV1, web service\n"
            "Made 2024-06-12 14:05:09 +0000\n\n"
            "The databases hold\n"
            "  Sites:      none\n"
            "  Runs:       none recorded\n"
            "  Run dates:  not recorded: no collection ledger beside the "
            "databases, and each run stores only its site totals\n"
            "\nNo hits recorded yet.\n");
}

TEST_F(ReportCommandTest, UsageMistakesExitWithTwoAndWriteNothing) {
  FillWebSites();
  fs::remove(Db(ReportKind::kHitsByMonth));
  std::string out = dir_ + "/never.txt";
  struct Case {
    std::string arguments;
    std::string message;
  } cases[] = {
      {"report --db-dir " + dir_ + "/none" + " --server SRV1",
       "the database folder " + dir_ + "/none does not exist"},
      {"report --db-dir " + dir_ + " --server SRV1;rm",
       "'SRV1;rm' is not a valid server name"},
      {"report --db-dir " + dir_ + " --server SRV2",
       "expected '" + dir_ + "/QDX_UAWebLogDayOfWeek_SRV2.mdb', '"},
      {"report --db-dir " + dir_ + " --server SRV1",
       "expected '" + Db(ReportKind::kHitsByMonth) +
           "'\n  help: check --db-dir"},
      {"report --db-dir " + dir_ + " --server SRV1 --format xml",
       "unknown format 'xml'"},
  };
  for (const Case& c : cases) {
    VelnorRun run = Velnor(c.arguments + " --output " + out);
    EXPECT_EQ(run.status, 2) << c.arguments;
    EXPECT_NE(run.err.find(c.message), std::string::npos) << run.err;
    EXPECT_EQ(run.err.rfind("velnor: error: ", 0), 0u) << run.err;
    EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 2) << run.err;
    EXPECT_EQ(run.out, "");
    EXPECT_FALSE(fs::exists(out)) << c.arguments;
  }
  // A folder for --output that is not there is found before the overview
  // writes a server page into it, or a report is made.
  for (const char* server : {" --server SRV1", ""}) {
    VelnorRun run =
        Velnor("report --db-dir " + dir_ + server + " --format html --output " +
               dir_ + "/missing/index.html");
    EXPECT_EQ(run.status, 2) << run.err;
    EXPECT_EQ(run.err, "velnor: error: --output '" + dir_ +
                           "/missing/index.html': the folder '" + dir_ +
                           "/missing' does not exist\n  help: make it first "
                           "(mkdir -p " +
                           dir_ +
                           "/missing), or give a file in a folder "
                           "that exists\n");
  }
  // A "folder" that is a file is told as such.
  WriteFile(dir_ + "/report.txt", "");
  VelnorRun under_file =
      Velnor("report --db-dir " + dir_ + " --output " + dir_ + "/report.txt/x");
  EXPECT_EQ(under_file.status, 2) << under_file.err;
  EXPECT_EQ(under_file.err, "velnor: error: --output '" + dir_ +
                                "/report.txt/x': '" + dir_ +
                                "/report.txt' is a file, not a folder\n  "
                                "help: give a file in a folder, such as " +
                                dir_ + "/report.html\n");
  // The command line parser's own mistakes share the status.
  EXPECT_EQ(Velnor("report --server SRV1").status, 2);
  CreateReportDatabases(dir_, "SRV1", true);
  VelnorRun empty = VelnorReport("--ftp --site 1");
  EXPECT_EQ(empty.status, 2);
  EXPECT_NE(empty.err.find("(sites with rows: none)\n  help: nothing was "
                           "counted into them yet: collect first"),
            std::string::npos)
      << empty.err;
  CreateReportDatabases(dir_, "SRV1", false);
  VelnorRun no_site = VelnorReport("--site 7 --output " + out);
  EXPECT_EQ(no_site.status, 2);
  EXPECT_NE(no_site.err.find("site '7' has no rows"), std::string::npos);
  EXPECT_NE(no_site.err.find("(sites with rows: 1, 2, 10)"), std::string::npos);
  // A date written as asked but not in the calendar says what is wrong.
  VelnorRun no_day = VelnorReport("--to 2023-02-29 --output " + out);
  EXPECT_EQ(no_day.status, 2);
  EXPECT_EQ(no_day.err,
            "velnor: error: --to '2023-02-29' is not a date: February 2023 "
            "has 28 days\n  help: write it as YYYY-MM-DD\n");
  EXPECT_FALSE(fs::exists(out));
}

// Server names are Windows names, as collect takes them: another spelling
// reads the databases of the server, and two sets that differ only in case
// are refused rather than one of them shown.
TEST_F(ReportCommandTest, AnotherSpellingOfTheServerReadsItsDatabases) {
  FillWebSites();
  VelnorRun exact = VelnorReport("--format csv");
  VelnorRun lower =
      Velnor("report --db-dir " + dir_ + " --server srv1 --format csv");
  EXPECT_EQ(lower.status, 0) << lower.err;
  EXPECT_EQ(lower.out, exact.out);
  EXPECT_NE(Velnor("report --db-dir " + dir_ + " --server Srv1")
                .out.find("Usage report for server SRV1, web service\n"),
            std::string::npos);

  CreateReportDatabases(dir_, "srv1", false);
  VelnorRun both = Velnor("report --db-dir " + dir_ + " --server SRV1");
  EXPECT_EQ(both.status, 2);
  EXPECT_NE(both.err.find("report databases of SRV1 and srv1 exist in"),
            std::string::npos)
      << both.err;
  EXPECT_EQ(both.out, "");
}

TEST_F(ReportCommandTest, UnreadableDatabaseIsAnErrorNamingTheFile) {
  std::ofstream(Db(ReportKind::kHitsByStatus), std::ios::trunc)
      << "this is not a database, just text that is long enough";
  VelnorRun run = VelnorReport("");
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.err.find(Db(ReportKind::kHitsByStatus)), std::string::npos)
      << run.err;
  // init-db leaves an existing file as it is: what mends it is a backup.
  EXPECT_NE(run.err.find("file is not a database; restore it from a backup, "
                         "or move it out of the folder."),
            std::string::npos)
      << run.err;
}

// A pipe or a folder at the name of a database the report reads is there,
// not missing: the report, the overview and runs (of the ledger) say what
// stands in its place.
TEST_F(ReportCommandTest, ANonFileAtADatabasesNameIsNamedForWhatItIs) {
  FillWebSites();
  const std::string month = Db(ReportKind::kHitsByMonth);
  const std::string ledger = dir_ + "/velnor_ledger_SRV1_web.sqlite";
  const std::string statistics = dir_ + "/velnor_statistics_SRV1_web.sqlite";
  for (const std::string& name : {month, ledger, statistics}) {
    for (const std::string kind : {"a named pipe", "a folder"}) {
      SCOPED_TRACE(name + " as " + kind);
      const std::string moved = dir_ + "/moved";
      if (fs::exists(name)) fs::rename(name, moved);
      if (kind == "a folder") {
        fs::create_directory(name);
      } else {
        ASSERT_EQ(::mkfifo(name.c_str(), 0644), 0);
      }
      const std::string problem =
          name + " is " + kind + ", not a file, so it cannot be read";
      VelnorRun run = VelnorReport("");
      EXPECT_EQ(run.status, 2) << run.err;
      EXPECT_EQ(run.err.rfind("velnor: error: ", 0), 0u) << run.err;
      EXPECT_NE(run.err.find(problem +
                             "\n  help: velnor keeps its databases "
                             "in regular files; move it out of " +
                             dir_),
                std::string::npos)
          << run.err;
      EXPECT_EQ(run.out, "");
      VelnorRun overview = Velnor("report --db-dir " + dir_);
      EXPECT_EQ(overview.status, 1) << overview.err;
      EXPECT_NE(overview.out.find(problem), std::string::npos) << overview.out;
      if (name == ledger) {
        VelnorRun runs = Velnor("runs --db-dir " + dir_);
        EXPECT_EQ(runs.status, 1) << runs.err;
        EXPECT_NE(runs.err.find("the collection ledger '" + name + "' is " +
                                kind + ", not a file, so it cannot be read"),
                  std::string::npos)
            << runs.err;
      }
      fs::remove(name);
      if (fs::exists(moved)) fs::rename(moved, name);
    }
  }
  EXPECT_EQ(VelnorReport("").status, 0);
}

// A folder the user may not search hides whether the databases are there:
// report and runs say so, and send the administrator neither to make them
// anew nor to a store's password.
TEST_F(ReportCommandTest, DatabasesTheUserMayNotLookAtAreNotCalledMissing) {
  FillWebSites();
  testing::TempDir run_dir("report_command_run");
  fs::permissions(run_dir.path(), fs::perms::all);
  // Root may look anywhere: the run is nobody's then.
  std::function<void()> as_nobody;
  if (::geteuid() == 0) {
    as_nobody = [] {
      if (::setgid(65534) != 0 || ::setuid(65534) != 0) ::_exit(126);
    };
  }
  auto run_as_nobody = [&](const std::string& command) {
    fs::permissions(dir_, fs::perms::none);
    pid_t pid = StartVelnor(Words(command), run_dir.path(), as_nobody);
    VelnorRun run = FinishVelnor(pid, run_dir.path());
    fs::permissions(dir_, fs::perms::owner_all);
    return run;
  };
  VelnorRun runs = run_as_nobody("runs --db-dir " + dir_);
  EXPECT_EQ(runs.status, 2) << runs.err;
  EXPECT_NE(runs.err.find("velnor: error: cannot list the folder " + dir_ +
                          " for its ledgers: Permission denied\n  help: "
                          "velnor reads the ledgers with its user's rights"),
            std::string::npos)
      << runs.err;
  VelnorRun run = run_as_nobody("report --db-dir " + dir_ + " --server SRV1");
  EXPECT_EQ(run.status, 2) << run.err;
  EXPECT_NE(run.err.find("velnor: error: cannot look for the report database " +
                         Db(ReportKind::kDayOfWeek) +
                         ": Permission denied\n  help: velnor reads the "
                         "databases with its user's rights"),
            std::string::npos)
      << run.err;
  EXPECT_EQ(run.err.find("init-db"), std::string::npos) << run.err;
}

// A report replaces the file at --output with one of velnor's user's: the
// old file's read and write bits stay, its execute and set-id bits, which
// whoever owned it could set, do not.
TEST_F(ReportCommandTest, AReplacedReportKeepsOnlyTheOldFilesReadAndWriteBits) {
  FillWebSites();
  const fs::path page = dir_ + "/report.txt";
  WriteFile(page, "yesterday's report\n");
  ASSERT_EQ(::chmod(page.c_str(), 04750), 0);
  VelnorRun run = VelnorReport("--output " + page.string());
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_NE(ReadFile(page), "yesterday's report\n");
  struct stat info {};
  ASSERT_EQ(::stat(page.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0640u);
}

// A report that cannot be written whole (a full disk) leaves the one a
// web server serves as it was, not emptied or cut, and no file beside it.
TEST_F(ReportCommandTest, AReportThatCannotBeWrittenWholeLeavesTheOldOne) {
  FillWebSites();
  const fs::path out = dir_ + "/out";
  fs::create_directory(out);
  std::unique_ptr<ScratchMount> disk = ScratchMount::Mount(out, 1);
  const fs::path page = out / "report.html";
  WriteFile(page, "yesterday's report\n");
  std::function<void()> limit;
  if (disk) {
    disk->Fill();
  } else {
    // Without a file system of our own, no file may grow past 1000 bytes.
    limit = [] {
      ::signal(SIGXFSZ, SIG_IGN);
      rlimit limit{1000, 1000};
      ::setrlimit(RLIMIT_FSIZE, &limit);
    };
  }
  for (const std::string& server :
       {std::string(" --server SRV1"), std::string()}) {
    SCOPED_TRACE(server.empty() ? "overview" : "server");
    pid_t pid = StartVelnor(Words("report --db-dir " + dir_ + server +
                                  " --format html --output " + page.string()),
                            dir_, limit);
    VelnorRun run = FinishVelnor(pid, dir_);
    EXPECT_EQ(run.status, 1) << run.err;
    // The overview writes the server's page beside it first.
    EXPECT_NE(run.err.find("could not write the report to '" + out.string()),
              std::string::npos)
        << run.err;
    EXPECT_EQ(ReadFile(page), "yesterday's report\n");
    for (const auto& entry : fs::directory_iterator(out)) {
      const std::string name = entry.path().filename().string();
      EXPECT_TRUE(name == "report.html" || name == "filler") << name;
    }
  }
}

// A report replaces --output through a new file in its folder: a folder
// this user may not write is refused before any work, even when the file
// there is writable, and the message says why and what to do.
TEST_F(ReportCommandTest, AnOutputFolderTheUserMayNotWriteIsRefusedFirst) {
  FillWebSites();
  CreateReportDatabases(dir_, "SRV2", false);
  testing::TempDir run_dir("report_command_run");
  const fs::path out = run_dir.path() / "out";
  fs::create_directory(out);
  const fs::path page = out / "index.html";
  WriteFile(page, "yesterday's report\n");
  fs::permissions(page, fs::perms::owner_read | fs::perms::owner_write |
                            fs::perms::others_read | fs::perms::others_write);
  fs::permissions(out, fs::perms::owner_read | fs::perms::owner_exec |
                           fs::perms::others_read | fs::perms::others_exec);
  fs::permissions(run_dir.path(), fs::perms::all);
  fs::permissions(dir_, fs::perms::owner_all | fs::perms::others_read |
                            fs::perms::others_exec);
  // Root may write anywhere: the run is nobody's then.
  std::function<void()> as_nobody;
  if (::geteuid() == 0) {
    as_nobody = [] {
      if (::setgid(65534) != 0 || ::setuid(65534) != 0) ::_exit(126);
    };
  }
  for (const char* server : {" --server SRV1", ""}) {
    pid_t pid = StartVelnor(Words("report --db-dir " + dir_ + server +
                                  " --format html --output " + page.string()),
                            run_dir.path(), as_nobody);
    VelnorRun run = FinishVelnor(pid, run_dir.path());
    EXPECT_EQ(run.status, 2) << run.err;
    EXPECT_EQ(run.err,
              "velnor: error: --output '" + page.string() +
                  "' cannot be written: velnor writes a report into a new "
                  "file in its folder '" +
                  out.string() +
                  "' and then renames it over the old one, and this user may "
                  "not make files there (Permission denied)\n  help: give "
                  "--output a file in a folder this user may write, or let "
                  "this user write to the folder (see ls -ld " +
                  out.string() + ")\n");
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(ReadFile(page), "yesterday's report\n");
    EXPECT_EQ(
        std::distance(fs::directory_iterator(out), fs::directory_iterator()),
        1);
  }
  fs::permissions(out, fs::perms::owner_all);
}

// A kill (SIGTERM, or Ctrl+C's SIGINT) while a report is being put at
// --output leaves the old file or the whole new one and nothing beside it;
// one while the overview's pages are put in place leaves them all old or
// all new, never a mix the index links into.
TEST_F(ReportCommandTest, AKillWhileWritingLeavesWholeFilesAndNoTemporary) {
  if (access(kStrace, X_OK) != 0) {
    VELNOR_SKIP_WITHOUT_TOOL("strace is not installed");
  }
  FillWebSites();
  CreateReportDatabases(dir_, "SRV2", false);
  // The files in `folder`, each "new" when it holds what `made` holds
  // under its name, else "old".
  auto states = [](const fs::path& folder,
                   const std::map<std::string, std::string>& made) {
    std::map<std::string, std::string> files;
    for (const fs::directory_entry& entry : fs::directory_iterator(folder)) {
      const std::string name = entry.path().filename().string();
      files[name] =
          made.contains(name) && ReadFile(entry.path()) == made.at(name)
              ? "new"
              : "old";
    }
    return files;
  };
  fs::create_directories(dir_ + "/fresh");
  ASSERT_EQ(Velnor("report --db-dir " + dir_ + " --format html --output " +
                   dir_ + "/fresh/index.html")
                .status,
            0);
  std::map<std::string, std::string> fresh;
  for (const fs::directory_entry& entry :
       fs::directory_iterator(dir_ + "/fresh")) {
    fresh[entry.path().filename().string()] = ReadFile(entry.path());
  }
  ASSERT_EQ(fresh.size(), 3u);
  const std::map<std::string, std::string> report = {
      {"report.txt", VelnorReport("").out}};
  for (const char* signal : {"TERM", "INT"}) {
    const fs::path out = dir_ + "/out-" + signal;
    fs::create_directory(out);
    WriteFile(out / "report.txt", "yesterday's report\n");
    VelnorRun one = RunVelnorSignalledAt(
        "fsync", 1, signal,
        Words("report --db-dir " + dir_ + " --server SRV1 --output " +
              (out / "report.txt").string()),
        tmp_.path());
    EXPECT_EQ(one.status, -1) << signal << one.err;
    EXPECT_EQ(states(out, report),
              (std::map<std::string, std::string>{{"report.txt", "new"}}))
        << signal;

    const fs::path pages = out / "pages";
    fs::create_directory(pages);
    for (const auto& [name, page] : fresh) {
      WriteFile(pages / name, "yesterday's " + name + "\n");
    }
    VelnorRun overview = RunVelnorSignalledAt(
        "?rename,?renameat,renameat2", 2, signal,
        Words("report --db-dir " + dir_ + " --format html --output " +
              (pages / "index.html").string()),
        tmp_.path());
    EXPECT_EQ(overview.status, -1) << signal << overview.err;
    EXPECT_EQ(states(pages, fresh),
              (std::map<std::string, std::string>{{"SRV1-web.html", "new"},
                                                  {"SRV2-web.html", "new"},
                                                  {"index.html", "new"}}))
        << signal;
  }
}

TEST_F(ReportCommandTest, HtmlIsOneSelfContainedPage) {
  FillWebSites();
  VelnorRun run = VelnorReport("--format html");
  ASSERT_EQ(run.status, 0) << run.err;
  const std::string& html = run.out;
  EXPECT_EQ(html.rfind("<!DOCTYPE html>", 0), 0u);
  EXPECT_NE(html.find("</html>\n"), std::string::npos);
  for (const char* outside : {"http", "src=", "url(", "@import", "<link",
                              "<iframe", "<object", "<embed", "@font-face"}) {
    EXPECT_EQ(html.find(outside), std::string::npos) << outside;
  }
  // The one script, which sorts tables, is inline.
  EXPECT_EQ(Occurrences(html, "<script"), 1u);
  EXPECT_EQ(Occurrences(html, "<script>"), 1u);
  EXPECT_EQ(html.find("<Intra>"), std::string::npos);
  EXPECT_NE(html.find("Caf\xC3\xA9 &lt;Intra&gt; &amp; &quot;Co&quot;"),
            std::string::npos);
  EXPECT_NE(html.find("/o&#39;brien.htm"), std::string::npos);
  // One section per site.
  EXPECT_EQ(Occurrences(html, "<section class=\"site\""), 3u);
}

constexpr uint32_t kHeadingColour = 0x1f3a5f;
constexpr uint32_t kBarColour = 0x3b82c4;

// A rectangle of pixels, edges included.
struct Box {
  int left, top, right, bottom;
  int Height() const { return bottom - top + 1; }
};

// A PNG decoded to 8-bit RGB, row after row; 0 by 0 when it does not
// decode.
struct Screenshot {
  int width = 0;
  int height = 0;
  std::vector<uint8_t> rgb;

  // Within a step of `colour` (0xRRGGBB) on each channel, as an edge's
  // blending or a colour profile may shift it.
  bool Is(int x, int y, uint32_t colour) const {
    const uint8_t* pixel = &rgb[(static_cast<size_t>(y) * width + x) * 3];
    for (int c = 0; c < 3; ++c) {
      int want = static_cast<int>((colour >> (16 - 8 * c)) & 0xff);
      if (std::abs(pixel[c] - want) > 6) return false;
    }
    return true;
  }

  int Count(uint32_t colour) const {
    int count = 0;
    for (int y = 0; y < height; ++y) {
      for (int x = 0; x < width; ++x) count += Is(x, y, colour);
    }
    return count;
  }

  // The solid boxes of `colour` at least 3 pixels each way, in the order
  // their top left corners come, row after row: the regions of that colour
  // that fill their bounding box.
  std::vector<Box> Boxes(uint32_t colour) const {
    std::vector<bool> seen(static_cast<size_t>(width) * height);
    std::vector<Box> boxes;
    for (int y = 0; y < height; ++y) {
      for (int x = 0; x < width; ++x) {
        if (seen[y * width + x] || !Is(x, y, colour)) continue;
        Box box{x, y, x, y};
        long area = 0;
        std::vector<std::pair<int, int>> todo{{x, y}};
        seen[y * width + x] = true;
        while (!todo.empty()) {
          auto [px, py] = todo.back();
          todo.pop_back();
          ++area;
          box = {std::min(box.left, px), std::min(box.top, py),
                 std::max(box.right, px), std::max(box.bottom, py)};
          for (auto [nx, ny] : {std::pair{px + 1, py}, std::pair{px - 1, py},
                                std::pair{px, py + 1}, std::pair{px, py - 1}}) {
            if (nx < 0 || ny < 0 || nx >= width || ny >= height) continue;
            if (seen[ny * width + nx] || !Is(nx, ny, colour)) continue;
            seen[ny * width + nx] = true;
            todo.emplace_back(nx, ny);
          }
        }
        long box_area = static_cast<long>(box.right - box.left + 1) *
                        (box.bottom - box.top + 1);
        if (box.right - box.left >= 2 && box.Height() >= 3 &&
            area * 100 >= box_area * 95) {
          boxes.push_back(box);
        }
      }
    }
    return boxes;
  }
};

Screenshot ReadPng(const std::string& path) {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_file(&image, path.c_str())) return {};
  image.format = PNG_FORMAT_RGB;
  Screenshot shot;
  shot.rgb.resize(PNG_IMAGE_SIZE(image));
  if (!png_image_finish_read(&image, nullptr, shot.rgb.data(), 0, nullptr)) {
    return {};
  }
  shot.width = static_cast<int>(image.width);
  shot.height = static_cast<int>(image.height);
  return shot;
}

TEST_F(ReportCommandTest, HtmlRendersInHeadlessChromium) {
  if (NoChromium())
    VELNOR_SKIP_WITHOUT_TOOL("chromium is not installed (Debian package)");
  FillWebSites();
  std::string page = dir_ + "/report.html";
  ASSERT_EQ(VelnorReport("--format html --output " + page).status, 0);
  std::string png = dir_ + "/report.png";
  VelnorRun chromium = Chromium("--screenshot=" + png +
                                " --window-size=1200,1600 file://" + page);
  EXPECT_EQ(chromium.status, 0) << ReadFile(dir_ + "/chromium.log");
  if (const char* keep = getenv("VELNOR_KEEP_SCREENSHOT"))
    fs::copy_file(png, keep, fs::copy_options::overwrite_existing);
  Screenshot shot = ReadPng(png);
  ASSERT_EQ(shot.width, 1200) << ReadFile(dir_ + "/chromium.log");
  ASSERT_EQ(shot.height, 1600);
  // The heading's band runs across the top of the page.
  EXPECT_GT(shot.Count(kHeadingColour), 1200 * 50);
  // Every bar is a filled box of the bar colour; the charts of three sites
  // draw well over ten of them.
  std::vector<Box> bars = shot.Boxes(kBarColour);
  EXPECT_GE(bars.size(), 10u);
  // The first bars on the page stand on the first site's weekday axis:
  // Sunday's 9 hits and Monday's 3 are drawn three to one.
  ASSERT_GE(bars.size(), 2u);
  std::vector<Box> first_axis;
  for (const Box& bar : bars) {
    if (bar.bottom == bars[0].bottom) first_axis.push_back(bar);
  }
  std::sort(first_axis.begin(), first_axis.end(),
            [](const Box& a, const Box& b) { return a.left < b.left; });
  ASSERT_GE(first_axis.size(), 2u);
  EXPECT_NEAR(
      static_cast<double>(first_axis[0].Height()) / first_axis[1].Height(), 3.0,
      0.1);
}

std::string Blocks(int n) {
  std::string blocks;
  for (int i = 0; i < n; ++i) blocks += "\u2588";
  return blocks;
}

// `page` as the value of a double-quoted HTML attribute (a frame's srcdoc).
std::string AsAttribute(const std::string& page) {
  std::string quoted;
  for (char c : page) {
    if (c == '&') {
      quoted += "&amp;";
    } else if (c == '"') {
      quoted += "&quot;";
    } else {
      quoted += c;
    }
  }
  return quoted;
}

// Measures the page in a real browser, in a frame `width` CSS pixels wide
// (a browser window cannot be made as narrow as a phone): every chart that
// shows at that width is checked for text that overlaps other text, reaches
// out of its chart, or is drawn smaller than 9 pixels. The measuring script
// is in the frame's parent; the page itself has none.
std::string MeasuringPage(const std::string& page, int width) {
  const std::string srcdoc = AsAttribute(page);
  return "<!DOCTYPE html><html><body style=\"margin:0\"><iframe id=\"page\" "
         "style=\"border:0;width:" +
         std::to_string(width) + "px;height:8000px\" srcdoc=\"" + srcdoc +
         "\"></iframe>" +
         R"(<script>
addEventListener('load', () => {
  const frame = document.getElementById('page');
  const doc = frame.contentDocument, win = frame.contentWindow;
  const problems = [];
  let charts = 0;
  for (const svg of doc.querySelectorAll('svg')) {
    const box = svg.getBoundingClientRect();
    if (box.width === 0) continue;
    ++charts;
    const scale = svg.getScreenCTM().a;
    const texts = [...svg.querySelectorAll('text')].map(t => ({
      name: t.firstChild ? t.firstChild.textContent : '',
      r: t.getBoundingClientRect(),
      px: parseFloat(win.getComputedStyle(t).fontSize) * scale}));
    const label = svg.getAttribute('aria-label') + ' ' + Math.round(box.width);
    for (const t of texts) {
      if (t.px < 9) problems.push(label + ': "' + t.name + '" is ' + t.px.toFixed(1) + 'px');
      if (t.r.left < box.left - 1 || t.r.right > box.right + 1)
        problems.push(label + ': "' + t.name + '" leaves the chart');
    }
    for (let i = 0; i < texts.length; ++i) {
      for (let j = i + 1; j < texts.length; ++j) {
        const a = texts[i].r, b = texts[j].r;
        if (a.left < b.right - 1 && b.left < a.right - 1 &&
            a.top < b.bottom - 1 && b.top < a.bottom - 1)
          problems.push(label + ': "' + texts[i].name + '" overlaps "' + texts[j].name + '"');
      }
    }
  }
  const out = document.createElement('pre');
  out.id = 'measured';
  out.textContent = 'CHARTS ' + charts + '\n' + problems.join('\n') + '\nEND';
  document.body.appendChild(out);
});
</script></body></html>)";
}

TEST_F(ReportCommandTest,
       HtmlChartLabelsNeverOverlapAndStayReadableWhenNarrow) {
  if (NoChromium())
    VELNOR_SKIP_WITHOUT_TOOL("chromium is not installed (Debian package)");
  // Counts in the hundreds of thousands in every bucket, long URLs and a
  // status list with several "Others".
  const std::pair<int, const char*> kStatuses[] = {
      {200, "Succeeded (200)"}, {304, "Not Modified (304)"},
      {404, "Not Found (404)"}, {403, "Others"},
      {302, "Others"},          {500, "Internal Server Error (500)"}};
  for (int hour = 0; hour < 24; ++hour) {
    auto [code, label] = kStatuses[hour % 6];
    AddHits("/catalogue/products/category-" + std::to_string(hour) +
                "/very/long/path/to/a/page/index.aspx",
            209123 + 7919 * hour, hour % 7 + 1, hour, code, label);
  }
  std::string months;
  for (int month = 1; month <= 12; ++month) {
    months += "INSERT INTO tblGeneral VALUES ('SRV1','1','Main','/m'," +
              std::to_string(1234567 + 99991 * month) + "," +
              std::to_string(month) + ",'Month" + std::to_string(month) + "');";
  }
  ExecSql(Db(ReportKind::kHitsByMonth), months);
  std::string page = VelnorReport("--format html").out;
  // A desktop window, a tablet and a phone held upright.
  for (int width : {1280, 800, 420}) {
    SCOPED_TRACE("window " + std::to_string(width) + " px wide");
    WriteFile(dir_ + "/measure.html", MeasuringPage(page, width));
    VelnorRun chromium = Chromium(
        "--hide-scrollbars --window-size=1400,1000 --virtual-time-budget=5000 "
        "--dump-dom file://" +
        dir_ + "/measure.html");
    ASSERT_EQ(chromium.status, 0) << ReadFile(dir_ + "/chromium.log");
    const std::string& result = chromium.out;
    size_t start = result.find("<pre id=\"measured\">");
    ASSERT_NE(start, std::string::npos) << ReadFile(dir_ + "/chromium.log");
    std::string measured =
        result.substr(start + 19, result.find("</pre>", start) - start - 19);
    // Day of week, month, hour, status, URLs: five charts in every width.
    EXPECT_EQ(measured.substr(0, measured.find('\n')), "CHARTS 5");
    EXPECT_EQ(measured.substr(measured.find('\n') + 1), "\nEND") << measured;
  }
}

// What a page shows, read from its DOM in a real browser: the page sits in
// a frame whose parent script reads it, clicks a table's header and
// reports as JSON.
std::string DomReadingPage(const std::string& page) {
  const std::string srcdoc = AsAttribute(page);
  return "<!DOCTYPE html><html><body><iframe id=\"page\" "
         "style=\"width:1280px;height:4000px\" srcdoc=\"" +
         srcdoc + "\"></iframe>" + R"(<script>
addEventListener('load', () => {
  const frame = document.getElementById('page');
  const doc = frame.contentDocument, win = frame.contentWindow;
  const shown = t => [...t.childNodes].filter(n => n.nodeName !== 'title')
      .map(n => n.textContent).join('');
  const title = e => { const t = e.querySelector('title'); return t ? t.textContent : ''; };
  const out = {background: win.getComputedStyle(doc.body).backgroundColor};
  out.captions = [...doc.querySelectorAll('figcaption')].map(f => f.textContent);
  const week = [...doc.querySelectorAll('figure')].find(
      f => f.querySelector('figcaption').textContent.startsWith('Hits by week'));
  const weekSvg = week ? week.querySelector('svg.wide') : null;
  out.weekBars = weekSvg ? [...weekSvg.querySelectorAll('rect')].map(title) : [];
  out.weekLabels = weekSvg ? [...weekSvg.querySelectorAll('text')].map(shown)
      .filter(t => /^[0-9]{4}-[0-9]{2}-[0-9]{2}$/.test(t)) : [];
  out.rows = [...doc.querySelectorAll('svg.wide text')].filter(
      t => t.querySelector('title')).map(t => ({shown: shown(t), title: title(t)}));
  const table = doc.querySelector('table.sortable');
  const column = () => [...table.tBodies[0].rows].map(r => r.cells[0].textContent);
  const header = [...table.querySelectorAll('th')].find(h => h.textContent === 'records');
  out.order = [column()];
  header.click();
  out.order.push(column());
  header.click();
  out.order.push(column());
  const pre = document.createElement('pre');
  pre.id = 'measured';
  pre.textContent = JSON.stringify(out);
  document.body.appendChild(pre);
});
</script></body></html>)";
}

// "2024-11-05", or with `short_year` "241105" as IIS names its logs.
std::string DayName(std::chrono::sys_days day, bool short_year = false) {
  const std::chrono::year_month_day date{day};
  char text[16];
  std::snprintf(
      text, sizeof text, short_year ? "%02d%02u%02u" : "%04d-%02u-%02u",
      short_year ? static_cast<int>(date.year()) % 100
                 : static_cast<int>(date.year()),
      static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()));
  return text;
}

// The records a day of the long series below gets: three a day in
// November, one in December and January, ten in February.
int RecordsOn(std::chrono::sys_days day) {
  const std::chrono::year_month_day date{day};
  if (date.month() == std::chrono::November) return 3;
  if (date.month() == std::chrono::February) return 10;
  return 1;
}

TEST_F(ReportCommandTest, HtmlShowsWeeksYearsReasonsAndSortsInABrowser) {
  if (NoChromium())
    VELNOR_SKIP_WITHOUT_TOOL("chromium is not installed (Debian package)");
  using namespace std::chrono;
  // 107 days from November 2024 into February 2025, collected in three runs
  // of 130, 62 and 150 records.
  const sys_days first = sys_days{2024y / November / 1};
  const sys_days last = sys_days{2025y / February / 15};
  const std::string logs = dir_ + "/shares/LONG1/D$/Logs/W3SVC1/";
  const std::string long_url =
      "/catalogue/products/" + std::string(60, 'x') + "/index.aspx";
  std::map<sys_days, int64_t> hits;
  for (sys_days day = first; day <= last; day += days{1}) {
    const std::string text = DayName(day);
    std::string log = IisLog(text, RecordsOn(day));
    hits[day] = RecordsOn(day);
    if (text == "2024-11-05") {
      // Enough hits to be among the top ten URLs.
      for (int i = 0; i < 40; ++i) {
        log += "2024-11-05 10:00:00 10.0.0.5 GET " + long_url +
               " 80 10.1.1.1 200\r\n";
        ++hits[day];
      }
    }
    WriteFile(logs + "u_ex" + DayName(day, true) + ".log", log);
  }
  setenv("VELNOR_TEST_NOW", "2025-03-01T00:00:00Z", 1);
  for (auto [from, to] : {std::pair{"2024-11-01", "2024-11-30"},
                          {"2024-12-01", "2025-01-31"},
                          {"2025-02-01", "2025-02-15"}}) {
    VelnorRun run =
        Velnor(std::string("collect --server LONG1 --from ") + from + " --to " +
               to + " --db-dir " + dir_ + " --share-root " + dir_ +
               "/shares --site Main,D:\\Logs,1 --create-db "
               "--no-tui --quiet");
    ASSERT_EQ(run.status, 0) << run.err;
  }
  unsetenv("VELNOR_TEST_NOW");
  const std::string page =
      Velnor("report --db-dir " + dir_ + " --server LONG1 --format html").out;
  WriteFile(dir_ + "/dom.html", DomReadingPage(page));

  std::vector<nlohmann::json> seen;
  for (const char* scheme : {"", " --blink-settings=preferredColorScheme=0"}) {
    VelnorRun chromium = Chromium(
        std::string("--window-size=1400,1000 --virtual-time-budget=5000") +
        scheme + " --dump-dom file://" + dir_ + "/dom.html");
    ASSERT_EQ(chromium.status, 0) << ReadFile(dir_ + "/chromium.log");
    size_t start = chromium.out.find("<pre id=\"measured\">");
    ASSERT_NE(start, std::string::npos) << ReadFile(dir_ + "/chromium.log");
    size_t end = chromium.out.find("</pre>", start);
    std::string text = chromium.out.substr(start + 19, end - start - 19);
    for (auto [entity, plain] : {std::pair{"&quot;", "\""},
                                 {"&lt;", "<"},
                                 {"&gt;", ">"},
                                 {"&amp;", "&"}}) {
      for (size_t at; (at = text.find(entity)) != std::string::npos;) {
        text.replace(at, std::string(entity).size(), plain);
      }
    }
    seen.push_back(nlohmann::json::parse(text));
  }
  const nlohmann::json& dom = seen[0];
  // Light, and dark where the browser prefers it.
  EXPECT_EQ(dom["background"], "rgb(243, 245, 248)");
  EXPECT_EQ(seen[1]["background"], "rgb(17, 22, 29)");

  // The long series comes by week, Monday to Sunday: the week of 28
  // October holds 1 to 3 November only, so it is counted in part.
  std::vector<std::string> bars;
  sys_days monday = first - (weekday(first) - Monday);
  for (; monday <= last; monday += weeks{1}) {
    int64_t sum = 0;
    bool whole = true;
    for (sys_days day = monday; day < monday + weeks{1}; day += days{1}) {
      whole &= hits.count(day) > 0;
      sum += hits.count(day) ? hits[day] : 0;
    }
    bars.push_back("week of " + DayName(monday) + (whole ? "" : " (in part)") +
                   ": " + std::to_string(sum) + " hits");
  }
  ASSERT_EQ(bars.size(), 16u);
  EXPECT_EQ(dom["weekBars"], nlohmann::json(bars));
  EXPECT_NE(
      dom["captions"][0].get<std::string>().find("Hits by week (107 days"),
      std::string::npos)
      << dom["captions"];
  // The axis crosses into 2025: its dates carry the year.
  ASSERT_FALSE(dom["weekLabels"].empty());
  EXPECT_EQ(dom["weekLabels"][0], "2024-10-28");
  EXPECT_EQ(dom["weekLabels"].back().get<std::string>().substr(0, 5), "2025-");

  // 301 is one of "Others": its reason phrase stands beside it. The long
  // URL is cut, and its whole text is the hover title.
  bool reason = false, cut = false;
  for (const nlohmann::json& row : dom["rows"]) {
    reason |= row["shown"] == "301 Others: Moved Permanently";
    if (row["title"].get<std::string>().starts_with(long_url)) {
      const std::string text = row["shown"];
      cut |= text.ends_with("\u2026") && text.size() < long_url.size();
    }
  }
  EXPECT_TRUE(reason) << dom["rows"];
  EXPECT_TRUE(cut) << dom["rows"];

  // The ledger's runs sort by records, then the other way.
  EXPECT_EQ(
      dom["order"],
      nlohmann::json::parse(R"([["1","2","3"],["2","1","3"],["3","1","2"]])"));

  // The overview page links each server and service of the folder to its
  // own page, written beside it.
  const nlohmann::json servers = nlohmann::json::parse(
      Velnor("report --db-dir " + dir_ + " --format json").out)["servers"];
  ASSERT_EQ(servers.size(), 2u);  // LONG1, and SRV1 made empty
  std::vector<std::string> links;
  for (const auto& [text, target] : OverviewLinks()) {
    links.push_back(text + " " + target);
    const std::string own = ReadFile(dir_ + "/pages/" + target);
    EXPECT_NE(own.find("<title>Usage report: " + text), std::string::npos)
        << target;
  }
  std::vector<std::string> expected;
  for (const nlohmann::json& line : servers) {
    const std::string server = line["server"];
    expected.push_back(server + " " + server + "-" +
                       line["service"].get<std::string>() + ".html");
  }
  EXPECT_EQ(links, expected);
}

// A figure the overview lacks is an empty CSV field, but a server's name
// is its name even where it spells that mark.
TEST_F(ReportCommandTest, OverviewCsvNamesAServerThatSpellsTheMarkOfNoFigure) {
  CreateReportDatabases(dir_, "-", false);
  VelnorRun csv = Velnor("report --db-dir " + dir_ + " --format csv");
  ASSERT_EQ(csv.status, 0) << csv.err;
  EXPECT_NE(csv.out.find("\r\n-,web,"), std::string::npos) << csv.out;
}

// A server name is a file name in the folder, and a file name may hold
// what a link gives a meaning: a scheme, a fragment, a query, a percent.
// Each overview link still opens the server's own page beside it.
TEST_F(ReportCommandTest, OverviewLinksOpenThePageBesideWhateverTheServerName) {
  if (NoChromium())
    VELNOR_SKIP_WITHOUT_TOOL("chromium is not installed (Debian package)");
  for (const char* server : {"javascript:alert(1)", "50%25#top?x=1"}) {
    CreateReportDatabases(dir_, server, false);
  }
  std::set<std::string> links;
  for (const auto& [text, target] : OverviewLinks()) {
    links.insert(text + " " + target);
    EXPECT_TRUE(fs::is_regular_file(dir_ + "/pages/" + target)) << target;
  }
  std::set<std::string> expected;
  for (const char* server : {"SRV1", "javascript:alert(1)", "50%25#top?x=1"}) {
    expected.insert(std::string(server) + " " + server + "-web.html");
  }
  EXPECT_EQ(links, expected);
}

// The lines of `text` that contain `part`.
std::vector<std::string> LinesWith(const std::string& text,
                                   const std::string& part) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    if (line.find(part) != std::string::npos) lines.push_back(line);
  }
  return lines;
}

TEST_F(ReportCommandTest, TopUrlsAddUpTheSpellingsOfOnePage) {
  AddHits("/default.aspx", 92, 2, 9, 200, "Succeeded (200)");
  AddHits("/Default.aspx", 35, 3, 9, 200, "Succeeded (200)");
  AddHits("/DEFAULT.ASPX", 1, 3, 9, 200, "Succeeded (200)");
  AddHits("/news.htm", 100, 2, 10, 200, "Succeeded (200)");
  VelnorRun text = VelnorReport("");
  ASSERT_EQ(text.status, 0) << text.err;
  EXPECT_EQ(LinesWith(text.out, "  1.  "),
            std::vector<std::string>{"  1.  /default.aspx  128  " + Blocks(40)})
      << text.out;
  EXPECT_EQ(LinesWith(text.out, "Default.aspx"), std::vector<std::string>{});
  VelnorRun csv = VelnorReport("--format csv");
  EXPECT_NE(csv.out.find("1,Main,url,1,/default.aspx,128\r\n"
                         "1,Main,url,2,/news.htm,100\r\n1,Main,run"),
            std::string::npos)
      << csv.out;
  VelnorRun json = VelnorReport("--format json");
  EXPECT_NE(json.out.find("{\"url\": \"/default.aspx\", \"hits\": 128}"),
            std::string::npos);
  EXPECT_EQ(json.out.find("ASPX"), std::string::npos);
}

TEST_F(ReportCommandTest, EachStatusCodeKeepsItsOwnRowInEveryFormat) {
  for (int code : {403, 302, 206, 301}) {
    AddHits("/a", code - 200, 2, 9, code, "Others");
    AddHits("/b", 1, 2, 9, code, "Others");
  }
  AddHits("/c", 3, 2, 9, 404, "Not Found (404)");
  VelnorRun text = VelnorReport("");
  ASSERT_EQ(text.status, 0) << text.err;
  std::string table = text.out.substr(text.out.find("Hits by status\n"));
  table = table.substr(0, table.find("\n\n"));
  std::vector<std::string> rows;  // without the bars
  for (const std::string& row : LinesWith(table, "  ")) {
    rows.push_back(row.substr(0, row.find_last_of("0123456789") + 1));
  }
  auto others = [](const std::string& code, const std::string& hits) {
    return "  " + code + "  Others" + std::string(14 - hits.size(), ' ') + hits;
  };
  EXPECT_EQ(rows, (std::vector<std::string>{
                      "  404  Not Found (404)    3", others("206", "7"),
                      others("301", "102"), others("302", "103"),
                      others("403", "204")}))
      << table;

  std::string csv = VelnorReport("--format csv").out;
  for (const char* row : {"status,404,Not Found (404),3", "status,206,Others,7",
                          "status,301,Others,102", "status,302,Others,103",
                          "status,403,Others,204"}) {
    EXPECT_EQ(Occurrences(csv, std::string(",") + row + "\r\n"), 1u) << row;
  }
  std::string json = VelnorReport("--format json").out;
  EXPECT_EQ(Occurrences(json, "\"label\": \"Others\""), 4u);
  EXPECT_NE(json.find("{\"code\": 301, \"label\": \"Others\", \"sort\": 100, "
                      "\"hits\": 102}"),
            std::string::npos);
  // The page's wide and narrow charts each give every code its bar, the
  // code beside the label as stored.
  std::string html = VelnorReport("--format html").out;
  // Beside "Others" HTTP's reason phrase tells the codes apart.
  for (const auto& [code, reason] :
       std::vector<std::pair<int, std::string>>{{206, "Partial Content"},
                                                {301, "Moved Permanently"},
                                                {302, "Found"},
                                                {403, "Forbidden"}}) {
    EXPECT_EQ(Occurrences(html, "<tspan class=\"code\">" +
                                    std::to_string(code) + "</tspan> Others: "),
              2u)
        << code;
    EXPECT_NE(html.find(std::to_string(code) + " Others: " + reason),
              std::string::npos)
        << code;
  }
}

TEST_F(ReportCommandTest, BusiestDayAndHourNameEveryTieInLogTime) {
  AddHits("/a", 5, 2, 9, 200, "Succeeded (200)");
  AddHits("/b", 5, 6, 14, 200, "Succeeded (200)");
  AddHits("/c", 2, 3, 14, 200, "Succeeded (200)");
  AddHits("/d", 2, 4, 9, 200, "Succeeded (200)");
  std::string text = VelnorReport("").out;
  EXPECT_NE(text.find("  Busiest day:   Monday and Friday (a tie, 5 hits "
                      "each)\n  Busiest hour:  09:00 and 14:00 (a tie, 7 hits "
                      "each; log time: UTC for W3C logs)\n"),
            std::string::npos)
      << text;
  EXPECT_NE(text.find("\nHits by hour (log time: UTC for W3C logs; all years "
                      "together: the databases keep no year)\n"),
            std::string::npos);
  std::string html = VelnorReport("--format html").out;
  EXPECT_NE(html.find("<b>Mon and Fri</b><span>busiest day: a tie, 5 hits "
                      "each</span>"),
            std::string::npos)
      << html;
  EXPECT_NE(html.find("<b>09:00 and 14:00</b><span>busiest hour: a tie, 7 "
                      "hits each (log time: UTC for W3C logs)</span>"),
            std::string::npos);

  AddHits("/e", 1, 6, 14, 200, "Succeeded (200)");
  text = VelnorReport("").out;
  EXPECT_NE(text.find("  Busiest day:   Friday (6 hits)\n  Busiest hour:  "
                      "14:00 (8 hits; log time: UTC for W3C logs)\n"),
            std::string::npos)
      << text;
}

TEST_F(ReportCommandTest, HeadingSaysWhenMadeAndWhatTheDatabasesHold) {
  FillWebSites();
  const std::string contents =
      "\nThe databases hold\n"
      "  Sites:      3 (1, 2, 10)\n"
      "  Runs:       5 runs of 29 hits in all (site 1: 3, site 2: 1, site "
      "10: 1)\n"
      "  Run dates:  not recorded: no collection ledger beside the "
      "databases, and each run stores only its site totals\n";
  EXPECT_NE(
      VelnorReport("").out.find("Made 2024-06-12 14:05:09 +0000\n" + contents),
      std::string::npos);
  // The time is the local one, with its offset.
  setenv("TZ", "CET-1CEST,M3.5.0,M10.5.0/3", 1);
  EXPECT_NE(VelnorReport("").out.find("Made 2024-06-12 16:05:09 +0200\n"),
            std::string::npos);
  std::string html = VelnorReport("--format html").out;
  EXPECT_NE(html.find("<p>Made 2024-06-12 16:05:09 +0200</p>"),
            std::string::npos);
  EXPECT_NE(html.find("<dt>Runs</dt><dd>5 runs of 29 hits in all (site 1: 3, "
                      "site 2: 1, site 10: 1)</dd>"),
            std::string::npos);
  // Without SOURCE_DATE_EPOCH the report is made now.
  unsetenv("SOURCE_DATE_EPOCH");
  EXPECT_EQ(VelnorReport("").out.find("Made 2024-06-12"), std::string::npos);
}

TEST_F(ReportCommandTest, FtpListsPathsApartFromCommandsWithoutAPath) {
  CreateReportDatabases(dir_, "SRV1", true);
  AddHits("/pub/a.zip", 4, 2, 9, 226, "Transfer complete(226)", true);
  AddHits("/PUB/A.zip", 1, 2, 9, 226, "Transfer complete(226)", true);
  AddHits("/pub/b.txt", 2, 2, 9, 226, "Transfer complete(226)", true);
  AddHits("anonymous", 9, 2, 9, 331, "User(331)", true);
  AddHits("", 9, 2, 9, 230, "User logged in proceed(230)", true);
  std::string text = VelnorReport("--ftp").out;
  EXPECT_NE(text.find("\nTop paths\n  1.  /pub/a.zip  5  "), std::string::npos)
      << text;
  EXPECT_NE(text.find("\n  2.  /pub/b.txt  2  "), std::string::npos);
  EXPECT_NE(text.find("\nCommands without a path\n  1.  -          9  "),
            std::string::npos)
      << text;
  EXPECT_NE(text.find("\n  2.  anonymous  9  "), std::string::npos);
  EXPECT_EQ(text.find("Top URLs"), std::string::npos);

  std::string csv = VelnorReport("--ftp --format csv").out;
  EXPECT_NE(
      csv.find("1,Main,url,1,/pub/a.zip,5\r\n1,Main,url,2,/pub/b.txt,2\r\n"
               "1,Main,command,1,,9\r\n1,Main,command,2,anonymous,9\r\n"),
      std::string::npos)
      << csv;
  std::string json = VelnorReport("--ftp --format json").out;
  EXPECT_NE(json.find("\"commands_without_path\": [\n        {\"url\": \"\", "
                      "\"hits\": 9},\n        {\"url\": \"anonymous\", "
                      "\"hits\": 9}\n      ]"),
            std::string::npos)
      << json;
  std::string html = VelnorReport("--ftp --format html").out;
  EXPECT_NE(html.find("<figcaption>Top 10 paths</figcaption>"),
            std::string::npos);
  size_t commands = html.find("<figcaption>Commands without a path");
  ASSERT_NE(commands, std::string::npos);
  EXPECT_LT(html.find(">anonymous<", commands), html.find("Past runs"));
  EXPECT_EQ(html.find(">anonymous<"), html.find(">anonymous<", commands));
  // Web reports have no such list.
  EXPECT_EQ(VelnorReport("--format json").out.find("commands_without_path"),
            std::string::npos);
}

TEST_F(ReportCommandTest, TextFollowsTheLocaleAndWritesNoColour) {
  AddHits("/" + std::string(80, 'x'), 8, 2, 9, 200, "Succeeded (200)");
  AddHits("/b", 1, 2, 9, 200, "Succeeded (200)");
  setenv("TERM", "xterm-256color", 1);
  setenv("NO_COLOR", "1", 1);
  for (const char* locale : {"C", "POSIX", "en_US.ISO-8859-1"}) {
    setenv("LC_ALL", locale, 1);
    std::string text = VelnorReport("").out;
    EXPECT_TRUE(std::all_of(text.begin(), text.end(),
                            [](char c) { return c > 0 && c != '\x1b'; }))
        << locale << "\n"
        << text;
    EXPECT_NE(text.find("/" + std::string(56, 'x') + "...  8  " +
                        std::string(40, '#') + "\n"),
              std::string::npos)
        << text;
    // One hit of eight still shows.
    EXPECT_NE(text.find("  2.  /b" + std::string(60, ' ') + "1  #####\n"),
              std::string::npos)
        << text;
  }
  // LC_ALL, else LC_CTYPE, else LANG decides; a UTF-8 locale that is not
  // installed still names UTF-8.
  unsetenv("LC_ALL");
  for (const char* lang : {"C.UTF-8", "xx_YY.utf8"}) {
    setenv("LANG", lang, 1);
    std::string text = VelnorReport("").out;
    EXPECT_NE(text.find("\u2026  8  \u2588\u2588"), std::string::npos) << lang;
    EXPECT_EQ(text.find('\x1b'), std::string::npos);
  }
  setenv("LC_CTYPE", "C", 1);
  EXPECT_EQ(VelnorReport("").out.find("\u2588"), std::string::npos);
  // The page always declares and writes UTF-8.
  EXPECT_NE(VelnorReport("--format html").out.find("&middot;"),
            std::string::npos);
}

// A negative count (only a store another tool wrote holds one) draws a bar
// as long as its magnitude, in the text below or beside the others' and on
// the page below the zero line, rather than none, which reads as no hits.
TEST_F(ReportCommandTest, ANegativeCountDrawsABarOfItsOwnInTextAndCharts) {
  AddHits("/a", 6, 1, 9, 200, "Succeeded (200)");
  AddHits("/b", -3, 2, 10, 200, "Succeeded (200)");
  auto repeated = [](const std::string& part, int times) {
    std::string text;
    for (int i = 0; i < times; ++i) text += part;
    return text;
  };
  for (const auto& [locale, full, negative] :
       {std::tuple<std::string, std::string, std::string>{"C.UTF-8", "\u2588",
                                                          "\u2591"},
        {"C", "#", "-"}}) {
    setenv("LC_ALL", locale.c_str(), 1);
    VelnorRun text = VelnorReport("");
    EXPECT_EQ(text.status, 0) << text.err;
    EXPECT_NE(text.out.find("\n  Sunday      6  " + repeated(full, 40) +
                            "\n  Monday     -3  " + repeated(negative, 20) +
                            "\n  Tuesday     0\n"),
              std::string::npos)
        << locale << "\n"
        << text.out;
  }
  // The weekday chart's bars: Sunday's from the zero line up, Monday's from
  // there down, half as long.
  const std::string page = VelnorReport("--format html").out;
  std::map<std::string, std::pair<double, double>> bars;  // y, height
  static const std::regex kBar(
      "<rect class=\"bar\" x=\"[-0-9.]+\" y=\"([-0-9.]+)\" width=\"[-0-9.]+\" "
      "height=\"([-0-9.]+)\"><title>(Sunday|Monday): -?[0-9]+ hits</title>");
  for (std::sregex_iterator it(page.begin(), page.end(), kBar), end; it != end;
       ++it) {
    bars.try_emplace((*it)[3].str(), std::stod((*it)[1].str()),
                     std::stod((*it)[2].str()));
  }
  ASSERT_EQ(bars.size(), 2u) << page;
  const auto [sunday_y, sunday_height] = bars["Sunday"];
  const auto [monday_y, monday_height] = bars["Monday"];
  EXPECT_GT(sunday_height, 0);
  EXPECT_NEAR(monday_y, sunday_y + sunday_height, 0.15);
  EXPECT_NEAR(monday_height, sunday_height / 2, 0.15);
}

}  // namespace
}  // namespace velnor::host
