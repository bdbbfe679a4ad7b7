// The velnor command as a user runs it: the built binary in a temporary
// folder, standard input not a terminal (headless progress), its exit
// status, its output and the report databases it leaves, read back with
// plain SQLite and compared with counts taken from the log files here.
#include <gtest/gtest.h>

#include <algorithm>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iomanip>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "host/testing/velnor_test_support.h"
#include "testing/test_support.h"

namespace velnor::host {
namespace {

using testing::FreePort;
using testing::QueryRows;
using testing::ReadFile;
using testing::TempDir;
using testing::Words;
using testing::WriteFile;
using namespace std::string_literals;

namespace fs = std::filesystem;
using Counts = std::map<std::string, long>;

const fs::path kExamples = fs::path(VELNOR_SOURCE_DIR) / "examples";
const fs::path kExpected = fs::path(VELNOR_SOURCE_DIR) / "host/testdata/cli";

// Runs `sql` on `db`; each row's first column is a key, its second (if
// any) a count added to the key's.
Counts Query(const fs::path& db, const std::string& sql) {
  Counts counts;
  for (const auto& row : QueryRows(db, sql)) {
    counts[row[0] == "NULL" ? "" : row[0]] +=
        row.size() > 1 && row[1] != "NULL" ? std::stol(row[1]) : 0;
  }
  return counts;
}

std::string WeekdayName(const std::string& date) {
  std::tm day{};
  std::istringstream(date) >> std::get_time(&day, "%Y-%m-%d");
  timegm(&day);  // fills in the weekday
  char name[16];
  std::strftime(name, sizeof name, "%A", &day);
  return name;
}

// What a site's log files hold, counted by a reading of the W3C format of
// its own: #Fields may change mid-file, FTP logs date their records only
// in #Date.
struct Tally {
  long total = 0;
  Counts by_status, by_hour, by_weekday;
};

Tally CountRecords(const fs::path& folder) {
  Tally tally;
  for (const auto& file : fs::directory_iterator(folder)) {
    std::ifstream in(file.path());
    std::vector<std::string> fields;
    std::string header_date, line;
    while (std::getline(in, line)) {
      std::vector<std::string> words = Words(line);
      if (words.empty()) continue;
      if (words[0] == "#Fields:") fields.assign(words.begin() + 1, words.end());
      if (words[0] == "#Date:") header_date = words[1];
      if (words[0][0] == '#') continue;
      auto value = [&](const std::string& name) {
        auto at = std::find(fields.begin(), fields.end(), name);
        return at == fields.end() ? "" : words[at - fields.begin()];
      };
      std::string date = value("date").empty() ? header_date : value("date");
      ++tally.total;
      ++tally.by_status[value("sc-status")];
      ++tally.by_hour[std::to_string(std::stoi(value("time").substr(0, 2)))];
      ++tally.by_weekday[WeekdayName(date)];
    }
  }
  return tally;
}

std::string Masked(const std::string& text) {
  // How many sites were read at once depends on the machine's cores.
  static const std::regex kTiming(
      R"(in [0-9.]+ s \([0-9]+ records/s\)(, [0-9]+ sites at once)?)");
  return std::regex_replace(text, kTiming, "in T");
}

class VelnorCliTest : public ::testing::Test {
 protected:
  // A UTF-8 locale, as the expected tables draw their rule in box lines.
  void SetUp() override {
    setenv("LC_ALL", "C.UTF-8", 1);
    fs::create_directory(dir_ / "db");
  }

  VelnorRun Velnor(const std::vector<std::string>& args) {
    return RunVelnor(args, dir_);
  }
  VelnorRun Velnor(const std::string& args) { return Velnor(Words(args)); }

  // collect over 2024-06-03..05 with the share root "shares" in the folder.
  static std::vector<std::string> CollectArgs(
      const std::string& server, const std::vector<std::string>& more) {
    std::vector<std::string> args = {"--share-root", "shares"};
    args.insert(args.end(), more.begin(), more.end());
    return host::CollectArgs(server, "db", std::move(args));
  }
  VelnorRun Collect(const std::string& server,
                    const std::vector<std::string>& more) {
    return Velnor(CollectArgs(server, more));
  }

  void InitDb(const std::string& server, bool ftp = false) {
    ASSERT_EQ(
        Velnor("init-db --db-dir db --server " + server + (ftp ? " --ftp" : ""))
            .status,
        0);
  }

  fs::path Db(const std::string& kind, const std::string& server,
              bool ftp = false) const {
    return dir_ / "db" /
           ("QDX_UA" + std::string(ftp ? "FTP" : "Web") + "Log" + kind + "_" +
            server + ".mdb");
  }

  // Two sites of SRV1: records just outside 2024-06-03..05 on both sides,
  // a #Fields change that drops method and status, and URLs that need
  // quoting or escaping in every format, one with a NUL byte that none
  // writes as it is.
  void WriteSmallLogs() {
    WriteFile(dir_ / "shares/SRV1/C$/logs/W3SVC1/u_ex240603.log",
              "#Software: Microsoft Internet Information Services 10.0\r\n"
              "#Fields: date time c-ip cs-method cs-uri-stem sc-status\r\n"
              "2024-06-02 23:59:59 10.0.0.1 GET /before.htm 200\r\n"
              "2024-06-03 00:00:00 10.0.0.2 GET /a,b.htm 200\r\n"
              "2024-06-03 13:05:00 10.0.0.3 POST /say\"hi\".aspx 404\r\n"
              "#Fields: date time cs-uri-stem c-ip\r\n"
              "2024-06-05 23:59:59 /dir\\file\0.htm 10.0.0.4\r\n"
              "2024-06-06 00:00:00 /after.htm 10.0.0.5\r\n"s);
    WriteFile(dir_ / "shares/SRV1/D$/Logs/W3SVC2/u_ex240604.log",
              "#Fields: date time c-ip cs-method cs-uri-stem sc-status\n"
              "2024-06-04 08:00:00 10.0.1.1 GET /caf\xe9.htm 500\n"
              "2024-06-04 09:30:15 10.0.1.2 HEAD /\xc3\xbc"
              "ber/stra\xc3\x9f"
              "e.htm 304\n");
  }

  // Collects a demo server from the example shares and checks the tables
  // against its log folders, given by site identifier.
  void ExpectDemoCollected(const std::string& server, bool ftp,
                           const std::map<std::string, fs::path>& folders,
                           const std::string& summary) {
    InitDb(server, ftp);
    std::string sites_file = ftp ? "ftp01-sites.txt" : "web01-sites.txt";
    std::vector<std::string> more{"--windows-dirs",
                                  kExamples / "windows-dirs.txt", "--sites",
                                  kExamples / sites_file};
    if (ftp) more.emplace_back("--ftp");
    VelnorRun run = Collect(server, more);
    EXPECT_EQ(run.status, 0) << run.err;

    Counts totals;
    long records = 0;
    for (const auto& [id, folder] : folders) {
      SCOPED_TRACE("site " + id);
      Tally tally = CountRecords(dir_ / "shares" / server / folder);
      totals[id] = tally.total;
      records += tally.total;
      std::string of_site =
          " from tblGeneral where Identifier = '" + id + "' group by 1";
      EXPECT_EQ(Query(Db("HitsByHour", server, ftp),
                      "select Hours, sum([No of Hits])" + of_site),
                tally.by_hour);
      EXPECT_EQ(Query(Db("HitsByStatus", server, ftp),
                      "select [Status code], sum([No of Hits])" + of_site),
                tally.by_status);
      EXPECT_EQ(Query(Db("DayOfWeek", server, ftp),
                      "select [Day of week], sum([No of Hits])" + of_site),
                tally.by_weekday);
    }
    EXPECT_EQ(Query(Db("HitsByHour", server, ftp),
                    "select Identifier, [No of Hits] from tblTotalAccess"),
              totals);
    EXPECT_NE(Masked(run.err).find(summary + ": " + std::to_string(records) +
                                   " records in T\nerror log: 0 new lines "
                                   "in db/velnor-errors.log\n"),
              std::string::npos)
        << run.err;
    EXPECT_EQ(ReadFile(dir_ / "db/velnor-errors.log"), "");
  }

  TempDir tmp_{"velnor_cli_test"};
  const fs::path& dir_ = tmp_.path();
};

TEST_F(VelnorCliTest, CollectsTheDemoWebAndFtpServers) {
  fs::copy(kExamples / "shares", dir_ / "shares", fs::copy_options::recursive);
  ExpectDemoCollected(
      "WEB01", false,
      {{"1", "C$/inetpub/logs/LogFiles/W3SVC1"}, {"2", "D$/Logs/W3SVC2"}},
      "collected 2 sites of WEB01 (web)");
  ExpectDemoCollected("FTP01", true,
                      {{"1", "C$/WINDOWS/system32/LogFiles/MSFTPSVC1"}},
                      "collected 1 site of FTP01 (ftp)");
}

TEST_F(VelnorCliTest, RawListingsMatchTheExpectedFilesAndCountNothing) {
  WriteSmallLogs();
  InitDb("SRV1");
  // As a Windows editor saves it: a byte order mark and CRLF line ends.
  WriteFile(dir_ / "sites.txt",
            "\xEF\xBB\xBF# Sites of SRV1\r\nMain Site,C:\\logs,1\r\n\r\n"
            "  Intranet,D:\\Logs,2\r\n");
  for (auto [format, expected] :
       std::map<std::string, std::string>{{"csv", "raw.csv"},
                                          {"tsv", "raw.tsv"},
                                          {"json", "raw.json"},
                                          {"table", "raw.txt"}}) {
    std::vector<std::string> more{"--sites", "sites.txt", "--raw", "--format",
                                  format};
    VelnorRun to_stdout = Collect("SRV1", more);
    EXPECT_EQ(to_stdout.status, 0) << to_stdout.err;
    EXPECT_EQ(to_stdout.out, ReadFile(kExpected / expected)) << format;
    // The summary says what the run did: it stored nothing.
    EXPECT_NE(Masked(to_stdout.err)
                  .find("\nlisted 2 sites of SRV1 (web): 5 records in T\n"),
              std::string::npos)
        << to_stdout.err;

    more.insert(more.end(), {"--output", "listing"});
    VelnorRun to_file = Collect("SRV1", more);
    EXPECT_EQ(to_file.status, 0) << to_file.err;
    EXPECT_EQ(to_file.out, "");
    EXPECT_EQ(ReadFile(dir_ / "listing"), ReadFile(kExpected / expected));
  }
  for (const char* kind :
       {"DayOfWeek", "HitsByMonth", "HitsByHour", "HitsByStatus"}) {
    EXPECT_EQ(Query(Db(kind, "SRV1"), "select * from tblGeneral"), Counts())
        << kind;
  }
  EXPECT_EQ(Query(Db("HitsByHour", "SRV1"), "select * from tblTotalAccess"),
            Counts());
}

// URLs come from logs anyone can write into: a listing someone cats must
// not carry the controls that steer a terminal, and a TSV row must stay one
// row with its text kept exactly, in escapes a script reads back.
TEST_F(VelnorCliTest, RawCsvAndTsvCarryNoTerminalControlsAndTsvKeepsText) {
  WriteFile(dir_ / "shares/SRV1/C$/logs/W3SVC1/u_ex240603.log",
            "#Fields: date time c-ip cs-method cs-uri-stem sc-status\n"
            "2024-06-03 00:00:00 10.0.0.1 GET /t\x1b]0;pwned\x07x 200\n"
            "2024-06-03 00:00:00 10.0.0.2 GET /c1\xC2\x9B"
            "31m\x7F 200\n"
            "2024-06-03 00:00:00 10.0.0.3 GET \"/tab\tx\\y\" 200\n");
  InitDb("SRV1");
  auto listing = [&](const std::string& format) {
    VelnorRun run = Collect("SRV1", {"--site", "Main Site,C:\\logs,1", "--raw",
                                     "--format", format});
    EXPECT_EQ(run.status, 0) << run.err;
    return run.out;
  };
  EXPECT_EQ(listing("tsv"),
            "Server Name\tSite Name\tClient IP\tMethod\tPage URL\tStatus\t"
            "Date\n"
            "SRV1\tMain Site\t10.0.0.1\tGET\t/t\\x1b]0;pwned\\x07x\t200\t"
            "6/3/2024\n"
            "SRV1\tMain Site\t10.0.0.2\tGET\t/c1\\xc2\\x9b31m\\x7f\t200\t"
            "6/3/2024\n"
            "SRV1\tMain Site\t10.0.0.3\tGET\t/tab\\tx\\\\y\t200\t6/3/2024\n");
  EXPECT_EQ(listing("csv"),
            "Server Name,Site Name,Client IP,Method,Page URL,Status,Date\r\n"
            "SRV1,Main Site,10.0.0.1,GET,/t\uFFFD]0;pwned\uFFFDx,200,"
            "6/3/2024\r\n"
            "SRV1,Main Site,10.0.0.2,GET,/c1\uFFFD31m\uFFFD,200,6/3/2024\r\n"
            "SRV1,Main Site,10.0.0.3,GET,/tab\tx\\y,200,6/3/2024\r\n");
}

TEST_F(VelnorCliTest, RawListingsWriteIsoTimesOnRequestAndAsciiWithoutUtf8) {
  WriteSmallLogs();
  InitDb("SRV1");
  const std::vector<std::string> kSites{"--site", "Main Site,C:\\logs,1",
                                        "--site", "Intranet,D:\\Logs,2"};
  auto raw = [&](std::vector<std::string> more) {
    more.insert(more.begin(), kSites.begin(), kSites.end());
    more.emplace_back("--raw");
    return Collect("SRV1", more);
  };
  VelnorRun csv = raw({"--format", "csv", "--time-format", "iso"});
  EXPECT_EQ(csv.status, 0) << csv.err;
  EXPECT_EQ(csv.out, ReadFile(kExpected / "raw-iso.csv"));
  // The keys stay the column names; only the values change.
  VelnorRun json = raw({"--format", "json", "--time-format", "iso"});
  EXPECT_EQ(json.status, 0) << json.err;
  EXPECT_NE(json.out.find("\"Status\": \"200\", \"Date\": "
                          "\"2024-06-03T00:00:00Z\"}"),
            std::string::npos)
      << json.out;
  EXPECT_EQ(raw({"--format", "json", "--time-format", "grid"}).out,
            ReadFile(kExpected / "raw.json"));

  setenv("LC_ALL", "C", 1);
  VelnorRun table = raw({});
  EXPECT_EQ(table.status, 0) << table.err;
  std::string rule = table.out.substr(table.out.find('\n') + 1);
  rule = rule.substr(0, rule.find('\n'));
  EXPECT_EQ(rule,
            "---------------- ---------------- ---------------- "
            "---------------- ---------------- ---------------- "
            "----------------");
  EXPECT_EQ(table.out.find("\u2500"), std::string::npos);
  EXPECT_EQ(table.out.find("\u2026"), std::string::npos);

  for (const auto& [more, message] :
       std::map<std::vector<std::string>, std::string>{
           {{"--time-format", "local"}, "--time-format local is not known"},
           {{"--time-format=iso"}, ""}}) {
    VelnorRun run = raw(more);
    EXPECT_EQ(run.status, message.empty() ? 0 : 2) << run.err;
    EXPECT_NE(run.err.find(message), std::string::npos) << run.err;
  }
  VelnorRun counted = Collect(
      "SRV1", {"--site", "Main Site,C:\\logs,1", "--time-format", "iso"});
  EXPECT_EQ(counted.status, 2);
  EXPECT_NE(counted.err.find("--time-format requires --raw"), std::string::npos)
      << counted.err;
}

TEST_F(VelnorCliTest, UsageMistakesAreRefusedWithStatusTwoAndChangeNothing) {
  fs::copy(kExamples / "shares", dir_ / "shares", fs::copy_options::recursive);
  InitDb("WEB01");
  // Files a user may give by mistake: a folder, 100 MB on one line, a
  // binary file, a descriptor that is wrong on its line.
  fs::create_directory(dir_ / "sites-dir");
  WriteFile(dir_ / "huge.txt", std::string(100 << 20, 'x'));
  WriteFile(dir_ / "binary.txt", std::string("\x7f"
                                             "ELF\x02\x01\x01\0\0\0\xff\xfe",
                                             12));
  WriteFile(dir_ / "sites.txt",
            "Intranet,D:\\Logs,2\n# next: no drive\nIntranet,Logs,2\n");
  WriteFile(dir_ / "dirs.txt", "# Windows folders\nWEB01=Windows\n");
  WriteFile(dir_ / "comments.txt", "# FTP sites of WEB01\n\n");
  WriteFile(dir_ / "twice.txt",
            "Intranet,D:\\Logs,2\nShop,E:\\Shop,3\nIntranet again,D:\\Old,2\n");
  auto db_folder = [&] {
    std::map<std::string, std::string> files;
    for (const auto& file : fs::directory_iterator(dir_ / "db")) {
      files[file.path().filename()] = ReadFile(file.path());
    }
    return files;
  };
  const auto before = db_folder();
  // Each mistake is the working command line below with one text
  // replaced.
  const std::string good =
      "--server WEB01 --from 2024-06-03 --to 2024-06-05 --db-dir db "
      "--share-root shares --site Intranet,D:\\Logs,2";
  const std::string site = "--site Intranet,D:\\Logs,2";
  const std::tuple<std::string, std::string, std::string> kCases[] = {
      {"--from 2024-06-03", "--from 2024-02-30",
       "--from 2024-02-30 is not a date: February 2024 has 29 days"},
      {"--to 2024-06-05", "--to 2024-13-05",
       "--to 2024-13-05 is not a date: there is no month 13"},
      {"--to 2024-06-05", "--to 06/05/2024", "--to 06/05/2024 is not a date"},
      {"2024-06-03 --to 2024-06-05", "2024-06-05 --to 2024-06-03",
       "the period ends (2024-06-03) before it starts (2024-06-05)"},
      {"WEB01", "WEB_01", "\"WEB_01\" is not a valid server name"},
      {"Logs,2", "Logs", "\"Intranet,D:\\Logs\" has 2 fields"},
      {"Logs,2", "Logs,two", "the site identifier \"two\" of"},
      {"Logs,2", "Logs,002",
       "the site identifier \"002\" of the site descriptor "
       "\"Intranet,D:\\Logs,002\" starts with a zero: IIS names a site's "
       "log folder by its number without one, such as W3SVC2\n  help: give "
       "it as 2: \"Intranet,D:\\Logs,2\""},
      {"D:\\Logs", "Logs",
       "\"Logs\" of the site descriptor \"Intranet,Logs,2\" "
       "is neither a drive path nor a %VARIABLE% path"},
      {"Intranet,", ",", "\",D:\\Logs,2\" has no site name"},
      {"Intranet", "Intra\x07net", "holds a control character"},
      {"Intranet", "Intra\xffnet", "bytes that are not UTF-8"},
      {"--db-dir db", "--db-dir nowhere", "the database folder nowhere does"},
      {"WEB01", "WEB02", "db/QDX_UAWebLogDayOfWeek_WEB02.mdb is missing"},
      {"shares", "shares --format table", "--format requires --raw"},
      {"shares", "shares --raw --format xml", "--format xml is not known"},
      {"shares", "shares --raw --recount",
       "--raw and --recount are given together, but a command takes one or "
       "the other\n  help: give one of them (--raw: List the records instead "
       "of counting them; --recount: Count days"},
      {"shares", "shares --bogus",
       "--bogus is not an option of velnor "
       "collect\n  help: velnor help collect"},
      // Mistyped options get the option meant; a descriptor the shell took
      // the backslashes of gets the hint to quote it.
      {"--from 2024-06-03", "--frm 2024-06-03",
       "--frm is not an option of velnor collect\n  help: did you mean "
       "--from? velnor help collect shows its options and examples"},
      {"--share-root shares", "--share-rot=shares",
       "--share-rot is not an option of velnor collect\n  help: did you "
       "mean --share-root?"},
      {"D:\\Logs", "D:Logs",
       "the log directory \"D:Logs\" of the site descriptor "
       "\"Intranet,D:Logs,2\" has a drive but no backslash after it: the "
       "shell took the backslashes of an unquoted descriptor\n  help: quote "
       "the descriptor in single quotes"},
      {"D:\\Logs", "%SystemDrive%inetpublogs",
       "the shell took the backslashes"},
      {"--db-dir db", "--db-dir sites.txt",
       "--db-dir sites.txt is a file, not a folder\n  help: give the folder "
       "that holds the report databases (., if this file is one of them)"},
      {site, "--sites nowhere.txt",
       "cannot read the file nowhere.txt given to --sites"},
      {site, "--sites sites-dir", "--sites sites-dir is a folder, not a file"},
      {site, "--sites comments.txt",
       "--sites comments.txt holds no site descriptor, so there is no site "
       "to collect\n  help: add a line"},
      {site, "--sites huge.txt", "huge.txt:1: the line is longer than 4096"},
      {site, "--sites binary.txt", "binary.txt:1: the line holds a NUL byte"},
      {site, "--sites sites.txt",
       "sites.txt:3: the site descriptor "
       "\"Intranet,Logs,2\" is neither"},
      {"D:", "%SystemDrive%", "needs the Windows directory of WEB01"},
      {"shares", "shares --windows-dir WEB01=Windows",
       "--windows-dir WEB01=Windows: \"Windows\" is not an absolute Windows "
       "path"},
      {"shares", "shares --windows-dirs dirs.txt",
       "dirs.txt:2: WEB01=Windows: \"Windows\" is not an absolute"},
      {"shares", "shares --smb-timeout nan", "--smb-timeout nan is not a"},
      {"shares", "shares --smb-timeout 0.0001", "--smb-timeout 0.0001 is not"},
      {"shares", "shares --smb-timeout 1e9", "--smb-timeout 1e+09 is not"},
      {"shares", "shares --error-log nowhere/errors.log",
       "cannot write the error log nowhere/errors.log: its folder nowhere "
       "does not exist"},
      {"shares", "shares --raw --output sites.txt/listing.csv",
       "cannot write --output sites.txt/listing.csv: sites.txt is a file, "
       "not a folder"},
      {"shares", "shares --raw --output sites-dir", "--output sites-dir is a"},
      // One site twice, by its identifier and so its log folder.
      {site, site + " --site Other,E:\\Logs,2",
       "site 2 is given twice: \"Intranet,D:\\Logs,2\" (--site) and "
       "\"Other,E:\\Logs,2\" (--site)"},
      {site, "--sites twice.txt",
       "site 2 is given twice: \"Intranet,D:\\Logs,2\" (twice.txt:1) and "
       "\"Intranet again,D:\\Old,2\" (twice.txt:3)"},
      // The site's folder given as its log directory, in any case.
      {"D:\\Logs", "d:\\logs\\w3svc2",
       "the log directory d:\\logs\\w3svc2 of site 2 (Intranet) names the "
       "site's log folder itself: its logs would be read from "
       "\\\\WEB01\\d$\\logs\\w3svc2\\W3SVC2, which does not exist, while "
       "\\\\WEB01\\d$\\logs\\w3svc2 holds 3 log files\n  help: give the "
       "folder above it, as IIS has it configured (IIS adds w3svc2 itself): "
       "\"Intranet,d:\\logs,2\""},
  };
  for (const auto& [good_part, bad_part, message] : kCases) {
    std::string args = good;
    args.replace(args.find(good_part), good_part.size(), bad_part);
    VelnorRun run = Velnor("collect " + args);
    EXPECT_EQ(run.status, 2) << args;
    EXPECT_NE(run.err.find("velnor: error: "), std::string::npos) << run.err;
    EXPECT_NE(run.err.find(message), std::string::npos) << args << run.err;
    // One short message in the common style, whatever the input held.
    EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 2) << run.err;
    EXPECT_NE(run.err.find("\n  help: "), std::string::npos) << run.err;
    EXPECT_LT(run.err.size(), 600u) << args;
    EXPECT_EQ(run.err.find('\0'), std::string::npos) << args;
    EXPECT_EQ(run.out, "");
    EXPECT_TRUE(db_folder() == before) << args;
  }
  EXPECT_EQ(Velnor("collect " + good).status, 0);
}

TEST_F(VelnorCliTest, HelpVersionAndCommandMistakes) {
  for (std::string command : {"init-db", "collect", "report"}) {
    for (const std::string& ask : {command + " --help", "help " + command}) {
      VelnorRun help = Velnor(ask);
      EXPECT_EQ(help.status, 0) << ask;
      EXPECT_NE(help.out.find("Example"), std::string::npos) << ask;
      EXPECT_NE(help.out.find("\n  velnor " + command + " --"),
                std::string::npos)
          << help.out;
      // Option names as they are typed, not as the parser declares them.
      EXPECT_EQ(help.out.find("{false}"), std::string::npos) << help.out;
    }
  }
  VelnorRun help = Velnor("help");
  EXPECT_EQ(help.status, 0);
  EXPECT_NE(help.out.find("Usage: velnor [OPTIONS] SUBCOMMAND"),
            std::string::npos)
      << help.out;
  VelnorRun version = Velnor("--version");
  EXPECT_EQ(version.status, 0);
  EXPECT_TRUE(std::regex_match(version.out,
                               std::regex("velnor [0-9]+\\.[0-9]+\\.[0-9]+\n")))
      << version.out;

  // Mistakes before any command runs, in the style of every other one.
  const std::string kCommands =
      "init-db, collect, report, runs, sites, migrate and help";
  const std::pair<std::string, std::string> kMistakes[] = {
      {"",
       "velnor: error: no command given\n  help: say what to do: velnor "
       "COMMAND, where the commands are " +
           kCommands},
      {"colect --server SRV1",
       "velnor: error: \"colect\" is not a velnor "
       "command\n  help: did you mean collect? the commands are " +
           kCommands + "; velnor help COMMAND explains one\n"},
      {"help colect",
       "velnor: error: \"colect\" is not a velnor command\n"
       "  help: did you mean collect? the commands are " +
           kCommands + "\n"},
      // An option before the command is velnor's own, and only --help and
      // --version are.
      {"--versoin",
       "velnor: error: --versoin is not an option of velnor itself\n  help: "
       "did you mean --version? a command's options come after it"},
      {"--db-dir=db report",
       "velnor: error: --db-dir is not an option of velnor itself\n  help: "
       "a command's options come after it: velnor COMMAND --option;"},
      // Too far from every command for a guess.
      {"xyz",
       "velnor: error: \"xyz\" is not a velnor command\n  help: the "
       "commands are " +
           kCommands},
      {"reprot --db-dir db",
       "velnor: error: \"reprot\" is not a velnor "
       "command\n  help: did you mean report?"},
      {"report --servre SRV1 --db-dir db",
       "velnor: error: --servre is not an option of velnor report\n  help: "
       "did you mean --server? velnor help report shows its options and "
       "examples\n"},
      {"report --server SRV1 --db-dir velnor-cli-file",
       "velnor: error: --db-dir velnor-cli-file is a file, not a folder\n"},
      {"collect",
       "velnor: error: --server is required\n  help: velnor help "
       "collect shows its options and examples\n"},
      {"init-db --db-dir db --server SRV_1",
       "velnor: error: \"SRV_1\" is not a valid server name\n  help: "},
      // Values the parser refuses: what was given, and what is taken.
      {"collect --server SRV1 --wait abc",
       "velnor: error: --wait abc is not a number of seconds from 0 to "
       "86400\n"},
      {"collect --server SRV1 --wait=86401", "velnor: error: --wait 86401 is"},
      {"collect --server SRV1 --workers 2.5",
       "velnor: error: --workers 2.5 is not a whole number from 1 to 256\n"},
      {"collect --server SRV1 --smb-port 1.5",
       "velnor: error: --smb-port 1.5 is not a whole number\n  help: give it "
       "as --smb-port PORT; velnor help collect"},
      {"collect --server SRV1 --smb-timeout soon",
       "velnor: error: --smb-timeout soon is not a number\n"},
      {"collect --server SRV1 --no-statistics=maybe",
       "velnor: error: --no-statistics takes no value, but was given maybe\n"},
      {"report --db-dir db --server SRV1 --db-dir elsewhere",
       "velnor: error: --db-dir is given 2 times (db, elsewhere); it takes "
       "one value\n  help: give it once; velnor help report"},
      {"report --db-dir db --server",
       "velnor: error: --server is given without its value\n  help: give it "
       "as --server NAME; velnor help report"},
      // A diagnostic option hidden from --help, whose name the parser's
      // messages leave out, named as given all the same.
      {"collect --server SRV1 --tally memory --tally per-record",
       "velnor: error: --tally is given 2 times (memory, per-record); it "
       "takes one value\n"},
      {"collect --server SRV1 --tally fast",
       "velnor: error: --tally fast not in {memory,per-record}\n"},
      {"report --db-dir db --server SRV1 monthly",
       "velnor: error: \"monthly\" is neither an option of velnor report nor "
       "the value of one\n"},
      // A value left out before another option, as an empty variable in a
      // script leaves it: the option, not the stray value after the next.
      {"report --db-url --server SRV1",
       "velnor: error: --db-url is given without its value: the word after "
       "it, --server, is an option\n  help: give it as --db-url URL (in a "
       "script, a variable that is empty or unset leaves none); velnor help "
       "report"},
      {"runs --db-url --server=SRV1",
       "velnor: error: --db-url is given without its value: the word after "
       "it, --server, is an option\n"},
      {"init-db --db-dir --server SRV1",
       "velnor: error: --db-dir is given without its value: the word after "
       "it, --server, is an option\n"},
  };
  WriteFile(dir_ / "velnor-cli-file", "");
  for (const auto& [args, message] : kMistakes) {
    VelnorRun run = Velnor(args);
    EXPECT_EQ(run.status, 2) << args;
    EXPECT_TRUE(run.err.starts_with(message)) << args << "\n" << run.err;
    EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 2) << run.err;
  }
}

// A store nobody answers at (a free port of the loopback): one message in
// the common form, however many servers the folder holds.
TEST_F(VelnorCliTest, EveryCommandToAStoreThatDoesNotAnswerSaysSoOnce) {
  InitDb("SRV1");
  InitDb("SRV2");
  InitDb("SRV2", true);
  const std::string url =
      "postgresql://velnor@127.0.0.1:" + std::to_string(FreePort()) + "/velnor";
  // Collecting into it, reading one server's report or the overview from
  // it, and listing its runs are refused alike, naming the store (not a
  // database file it does not have) and what failed first.
  const std::vector<std::pair<std::vector<std::string>, std::string>> kRefused =
      {
          {{"collect", "--server", "SRV1", "--from", "2024-06-03", "--to",
            "2024-06-03", "--site", "Main Site,C:\\logs,1"},
           "\n  help: nothing was collected; "},
          {{"report", "--server", "SRV1"}, "\n  help: check the URL"},
          {{"report"}, "\n  help: check the URL"},
          {{"runs"}, "\n  help: check the URL"},
      };
  for (auto [args, help] : kRefused) {
    args.insert(args.end(), {"--db-url", url});
    VelnorRun run = Velnor(args);
    EXPECT_EQ(run.status, 2) << args[0] << "\n" << run.err;
    EXPECT_TRUE(
        run.err.starts_with("velnor: error: cannot use the report "
                            "store " +
                            url + ": Could not connect to"))
        << args[0] << "\n"
        << run.err;
    EXPECT_NE(run.err.find(help), std::string::npos) << run.err;
    EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 2) << run.err;
    EXPECT_EQ(run.out, "") << args[0];
  }

  VelnorRun run = Velnor({"migrate", "--db-dir", "db", "--db-url", url});
  EXPECT_EQ(run.status, 1) << run.err;
  EXPECT_TRUE(run.err.starts_with(
      "velnor: error: cannot reach the PostgreSQL store " + url + ": "))
      << run.err;
  EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 2) << run.err;
  EXPECT_NE(run.err.find("\n  help: nothing was copied; check the URL"),
            std::string::npos)
      << run.err;
  EXPECT_EQ(run.out, "");

  // --ftp without --server is the FTP services only: the web sets are
  // not tried, so a folder without FTP databases is refused before the
  // store is reached.
  fs::create_directory(dir_ / "web");
  EXPECT_EQ(Velnor("init-db --db-dir web --server SRV1").status, 0);
  VelnorRun ftp =
      Velnor({"migrate", "--db-dir", "web", "--db-url", url, "--ftp"});
  EXPECT_EQ(ftp.status, 2) << ftp.err;
  EXPECT_TRUE(
      ftp.err.starts_with("velnor: error: no FTP report databases in "
                          "web\n"))
      << ftp.err;

  // A set that lacks a database is named, in the common form, with the
  // command that makes the others; the store is not reached for it.
  fs::remove(dir_ / "web/QDX_UAWebLogHitsByHour_SRV1.mdb");
  VelnorRun part = Velnor({"migrate", "--db-dir", "web", "--db-url", url});
  EXPECT_EQ(part.status, 1) << part.err;
  const std::string init_db = "init-db --db-dir web --server SRV1";
  EXPECT_EQ(part.err,
            "velnor: error: SRV1 (web) has 3 of its four report databases in "
            "web; it was not copied\n  help: make the others with velnor " +
                init_db + "\n")
      << part.err;
  VelnorRun made = Velnor(init_db);
  EXPECT_EQ(made.status, 0) << made.err;
  EXPECT_TRUE(fs::exists(dir_ / "web/QDX_UAWebLogHitsByHour_SRV1.mdb"));

  // A folder the shell would take apart is quoted in the command, so that
  // the command works as it is pasted.
  const std::string odd = "web dbs, Bob's";
  fs::create_directory(dir_ / odd);
  EXPECT_EQ(Velnor({"init-db", "--db-dir", odd, "--server", "SRV1"}).status, 0);
  fs::remove(dir_ / odd / "QDX_UAWebLogHitsByHour_SRV1.mdb");
  VelnorRun quoted = Velnor({"migrate", "--db-dir", odd, "--db-url", url});
  const std::string before = "help: make the others with velnor ";
  ASSERT_NE(quoted.err.find(before), std::string::npos) << quoted.err;
  std::string command =
      quoted.err.substr(quoted.err.find(before) + before.size());
  command.pop_back();  // the line's end
  testing::ProgramRun words = testing::Shell("printf '%s\\n' " + command);
  ASSERT_EQ(words.status, 0) << command;
  EXPECT_EQ(Velnor(testing::Lines(words.out)).status, 0) << command;
  EXPECT_TRUE(fs::exists(dir_ / odd / "QDX_UAWebLogHitsByHour_SRV1.mdb"))
      << command;
}

}  // namespace
}  // namespace velnor::host
