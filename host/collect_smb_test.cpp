// `velnor collect` and `velnor sites` reading a Windows-style server over
// SMB, as a user runs them: the built binary against a real Samba server on
// 127.0.0.1 serving the C$ and D$ shares of an IIS 10 server
// (host/testing/iis_server_shares.h). The rows stored must equal those of
// the same collect through a share root that holds the very same files,
// with the sites typed by hand or discovered (the drive shares from the
// server's share listing, the configuration and the logs read over SMB,
// the FTP site of IIS 8.5 from FTPSVC12); a wrong password or a missing
// share must be reported, not pass as an empty site; a server that goes
// away in the middle of a file must end the run promptly, reported, with
// the records read so far kept. Skipped, with the reason, where smbd
// cannot run.
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <thread>
#include <vector>

#include "host/testing/iis_server_shares.h"
#include "host/testing/report_rows.h"
#include "host/testing/velnor_test_support.h"
#include "platform/unc/smbd_fixture.h"
#include "reportdb/schema.h"
#include "testing/test_support.h"

namespace velnor::host {
namespace {

using testing::Contains;
using testing::EndsWithin;
using testing::HasEnded;
using testing::Lines;
using testing::QueryRows;
using testing::ReadFile;
using testing::Rows;
using testing::TempDir;
using testing::WaitFor;
using testing::WriteFile;

using reportdb::kReportKinds;
using reportdb::ReportDatabaseFileName;
using reportdb::ReportKind;
namespace fs = std::filesystem;
using unc::smbd::SambaServer;

constexpr char kServer[] = "127.0.0.1";
constexpr char kSite[] = "Default Web Site,C:\\inetpub\\logs\\LogFiles,1";
constexpr char kSiteFolder[] =
    "\\\\127.0.0.1\\C$\\inetpub\\logs\\LogFiles\\W3SVC1";

// Every row of `table` in the database file, sorted; `columns` limits the
// columns, "*" takes them all.
Rows TableRows(const fs::path& file, const std::string& table,
               const std::string& columns = "*") {
  Rows rows = QueryRows(file, "SELECT " + columns + " FROM " + table);
  std::sort(rows.begin(), rows.end());
  return rows;
}

fs::path Database(const fs::path& db_dir, ReportKind kind) {
  return db_dir / ReportDatabaseFileName(kind, kServer, false);
}

// The site totals without anything a run could vary: the four columns the
// collector sets.
Rows SiteTotals(const fs::path& db_dir) {
  return TableRows(Database(db_dir, ReportKind::kHitsByHour), "tblTotalAccess",
                   "[Server name], Identifier, [Web Site Name], [No of Hits]");
}

// The hits of `file`, of site `id` or of every site.
long Hits(const fs::path& file, const std::string& id = "") {
  return std::stol(QueryRows(
      file, "SELECT total([No of Hits]) FROM tblGeneral" +
                (id.empty() ? "" : " WHERE Identifier = '" + id + "'"))[0][0]);
}

// velnor collect of 3 to 5 June 2024 into `db_dir`, making the report
// databases, with plain progress lines, and `more`.
std::vector<std::string> CollectArguments(const fs::path& db_dir,
                                          std::vector<std::string> more,
                                          bool ftp = false) {
  more.insert(more.begin(), {"--create-db", "--no-tui"});
  if (ftp) more.emplace_back("--ftp");
  return CollectArgs(kServer, db_dir.string(), std::move(more));
}

class CollectSmbTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    tmp_ = new TempDir("collect_smb_test");
    LayOutIisServer(Dir() / "share/C", Dir() / "share/D");
    // The share root serves the very files smbd serves.
    fs::create_directories(Dir() / "root" / kServer);
    for (const char* drive : {"C", "D"}) {
      fs::create_directory_symlink(
          Dir() / "share" / drive,
          Dir() / "root" / kServer / (std::string(drive) + "$"));
    }
    unc::smbd::WriteSmbAuthFile(Dir() / "auth", unc::smbd::kSmbdPassword);
    unc::smbd::WriteSmbAuthFile(Dir() / "wrong-auth", "not-the-password");
    server_ = new SambaServer;
    skip_reason_ = server_->Start(Dir());
  }

  static void TearDownTestSuite() {
    delete server_;  // stops smbd before its folder goes
    server_ = nullptr;
    delete tmp_;
  }

  void SetUp() override {
    if (!skip_reason_.empty()) VELNOR_SKIP_WITHOUT_TOOL(skip_reason_);
  }

  static fs::path Dir() { return tmp_->path(); }

  // velnor collect into a new database folder `name`, with `more`.
  static VelnorRun Collect(const std::string& name,
                           std::vector<std::string> more, bool ftp = false) {
    fs::create_directory(Dir() / name);
    return RunVelnor(CollectArguments(Dir() / name, std::move(more), ftp),
                     Dir());
  }

  // The SMB options, with the authentication file `auth`, then `more`.
  static std::vector<std::string> Smb(std::vector<std::string> more = {},
                                      const char* auth = "auth") {
    std::vector<std::string> options = {"--smb-auth", (Dir() / auth).string(),
                                        "--smb-port",
                                        std::to_string(server_->port())};
    options.insert(options.end(), more.begin(), more.end());
    return options;
  }

  // The records of the logs of site 1 dated 3 to 5 June 2024, counted
  // here from the files themselves.
  static long RecordsInPeriod() {
    long count = 0;
    for (const auto& file : fs::directory_iterator(
             Dir() / "share/C/inetpub/logs/LogFiles/W3SVC1")) {
      for (const std::string& line : Lines(ReadFile(file.path()))) {
        std::string day = line.substr(0, 10);
        if (day >= "2024-06-03" && day <= "2024-06-05") ++count;
      }
    }
    return count;
  }

  static inline TempDir* tmp_ = nullptr;
  static inline SambaServer* server_ = nullptr;
  static inline std::string skip_reason_;
};

TEST_F(CollectSmbTest, SmbAndShareRootStoreTheSameRows) {
  const long records = RecordsInPeriod();
  ASSERT_GT(records, 0);
  const std::string summary =
      "collected 1 site of 127.0.0.1 (web): " + std::to_string(records) +
      " records in ";

  VelnorRun smb = Collect("D1", Smb({"--site", kSite}));
  EXPECT_EQ(smb.status, 0) << smb.err;
  EXPECT_TRUE(Contains(smb.err, summary)) << smb.err;
  EXPECT_TRUE(Contains(smb.err, "error log: 0 new lines")) << smb.err;

  VelnorRun mapped = Collect(
      "D2", {"--site", kSite, "--share-root", (Dir() / "root").string()});
  EXPECT_EQ(mapped.status, 0) << mapped.err;
  EXPECT_TRUE(Contains(mapped.err, summary)) << mapped.err;

  for (ReportKind kind : kReportKinds) {
    Rows rows = TableRows(Database(Dir() / "D1", kind), "tblGeneral");
    EXPECT_EQ(rows, TableRows(Database(Dir() / "D2", kind), "tblGeneral"))
        << ReportDatabaseFileName(kind, kServer, false);
    // Every record counts once in each report.
    EXPECT_EQ(Hits(Database(Dir() / "D1", kind)), records)
        << ReportDatabaseFileName(kind, kServer, false);
  }
  Rows totals = SiteTotals(Dir() / "D1");
  EXPECT_EQ(
      totals,
      (Rows{{kServer, "1", "Default Web Site", std::to_string(records)}}));
  EXPECT_EQ(totals, SiteTotals(Dir() / "D2"));
  EXPECT_EQ(
      TableRows(Database(Dir() / "D1", ReportKind::kHitsByHour), "tblLogFiles"),
      TableRows(Database(Dir() / "D2", ReportKind::kHitsByHour),
                "tblLogFiles"));
}

TEST_F(CollectSmbTest, UnreadableFolderIsLoggedAndOnlyTheZeroTotalStored) {
  struct Case {
    const char* name;
    const char* site;
    const char* site_name;
    const char* id;
    const char* auth;
    const char* folder;
    const char* problem;
  };
  for (const Case& c : {
           Case{"wrong-password", kSite, "Default Web Site", "1", "wrong-auth",
                kSiteFolder, "Permission denied"},
           Case{"missing-share", "Intranet,E:\\Logs,2", "Intranet", "2", "auth",
                "\\\\127.0.0.1\\E$\\Logs\\W3SVC2", "Path not found"},
       }) {
    SCOPED_TRACE(c.name);
    VelnorRun run = Collect(c.name, Smb({"--site", c.site}, c.auth));
    EXPECT_EQ(run.status, 1) << run.err;
    EXPECT_TRUE(
        Contains(run.err, "collected 1 site of 127.0.0.1 (web): 0 records"))
        << run.err;
    EXPECT_TRUE(Contains(run.err, "error log: 1 new line in")) << run.err;

    std::vector<std::string> log =
        Lines(ReadFile(Dir() / c.name / "velnor-errors.log"));
    ASSERT_EQ(log.size(), 1u) << run.err;
    EXPECT_TRUE(Contains(log[0], c.folder)) << log[0];
    EXPECT_TRUE(Contains(log[0], c.problem)) << log[0];

    for (ReportKind kind : kReportKinds) {
      EXPECT_TRUE(
          TableRows(Database(Dir() / c.name, kind), "tblGeneral").empty());
    }
    EXPECT_EQ(SiteTotals(Dir() / c.name),
              (Rows{{kServer, c.id, c.site_name, "0"}}));
    EXPECT_TRUE(TableRows(Database(Dir() / c.name, ReportKind::kHitsByHour),
                          "tblLogFiles")
                    .empty());
  }
}

// The processes smbd started to serve its clients: the children of
// `parent`, its main process.
std::vector<fs::path> ClientServers(pid_t parent) {
  std::vector<fs::path> found;
  for (const auto& entry : fs::directory_iterator("/proc")) {
    std::ifstream status(entry.path() / "status");
    long ppid = -1;
    for (std::string line; std::getline(status, line);) {
      if (line.rfind("PPid:", 0) == 0) ppid = std::stol(line.substr(5));
    }
    if (ppid == parent) found.push_back(entry.path());
  }
  return found;
}

// The bytes smbd's client servers have read from files so far.
long BytesServed(pid_t parent) {
  long total = 0;
  for (const fs::path& process : ClientServers(parent)) {
    std::ifstream io(process / "io");
    std::string key;
    long value = 0;
    while (io >> key >> value) {
      if (key == "rchar:") total += value;
    }
  }
  return total;
}

// Sends `signal` to each of smbd's client servers.
void SignalClientServers(pid_t parent, int signal) {
  for (const fs::path& process : ClientServers(parent)) {
    ::kill(std::stoi(process.filename().string()), signal);
  }
}

constexpr char kBigLog[] =
    "\\\\127.0.0.1\\C$\\inetpub\\logs\\LogFiles\\W3SVC3\\u_ex240604.log";
constexpr char kBigSite[] = "Big Site,C:\\inetpub\\logs\\LogFiles,3";

// Writes a log of `records` records of 4 June 2024 (some 100 bytes each)
// as site 3's on drive C of the server in `dir`.
void WriteBigLog(const fs::path& dir, long records) {
  std::string log =
      "#Fields: date time s-ip cs-method cs-uri-stem cs-uri-query s-port "
      "c-ip cs(User-Agent) sc-status time-taken\n";
  for (long i = 0; i < records; ++i) {
    char line[160];
    std::snprintf(line, sizeof line,
                  "2024-06-04 %02ld:%02ld:%02ld 10.0.0.5 GET /p%ld.htm - 80 "
                  "192.168.1.%ld Mozilla/5.0+(X11;+Linux+x86_64) %d %ld\n",
                  i / 3600 % 24, i / 60 % 60, i % 60, i % 40, i % 250,
                  i % 7 == 0 ? 404 : 200, i % 900);
    log += line;
  }
  WriteFile(dir / "share/C/inetpub/logs/LogFiles/W3SVC3/u_ex240604.log", log);
}

TEST_F(CollectSmbTest, ServerGoneMidFileEndsTheRunAndKeepsWhatWasRead) {
  constexpr long kRecords = 300000;
  // The site has a server of its own, since it is stopped halfway.
  const fs::path gone = Dir() / "gone-server";
  WriteBigLog(gone, kRecords);
  SambaServer server;
  ASSERT_EQ(server.Start(gone), "");

  // Rows stored earlier, by a complete run of another site.
  ASSERT_EQ(Collect("gone", Smb({"--site", kSite})).status, 0);
  const fs::path db_dir = Dir() / "gone";
  std::vector<Rows> earlier;
  for (ReportKind kind : kReportKinds) {
    earlier.push_back(
        TableRows(Database(db_dir, kind), "tblGeneral WHERE Identifier = '1'"));
  }
  const Rows earlier_totals = SiteTotals(db_dir);

  pid_t pid = StartVelnor(
      CollectArguments(
          db_dir, {"--site", kBigSite, "--smb-auth", (Dir() / "auth").string(),
                   "--smb-port", std::to_string(server.port())}),
      db_dir);
  EXPECT_TRUE(WaitForStderr(db_dir, "Collecting data for site",
                            std::chrono::seconds(60)));
  // Frozen once a few megabytes of the 30 MB file went out, the run is
  // sure to find the server gone in the middle of the file.
  EXPECT_TRUE(WaitFor([&] { return BytesServed(server.pid()) > (2 << 20); },
                      std::chrono::seconds(60)));
  ::kill(pid, SIGSTOP);
  server.Stop();
  ::kill(pid, SIGCONT);
  EXPECT_TRUE(EndsWithin(pid, std::chrono::seconds(10)))
      << "velnor still runs 10 s after the server went away";
  VelnorRun run = FinishVelnor(pid, db_dir);
  EXPECT_EQ(run.status, 1) << run.err;

  std::string errors = ReadFile(db_dir / "velnor-errors.log");
  EXPECT_TRUE(Contains(errors, std::string("cannot read ") + kBigLog))
      << errors;
  Rows totals = SiteTotals(db_dir);
  ASSERT_EQ(totals.size(), 2u) << run.err;
  EXPECT_EQ(totals[0], earlier_totals.at(0));
  EXPECT_EQ(totals[1][2], "Big Site");
  const long counted = std::stol(totals[1][3]);
  EXPECT_GT(counted, 0);
  EXPECT_LT(counted, kRecords);
  for (size_t k = 0; k < kReportKinds.size(); ++k) {
    const fs::path file = Database(db_dir, kReportKinds[k]);
    EXPECT_EQ(Hits(file, "3"), counted) << file;
    EXPECT_EQ(TableRows(file, "tblGeneral WHERE Identifier = '1'"), earlier[k])
        << file;
  }
}

TEST_F(CollectSmbTest,
       SigtermEndsARunWhoseServerFreezesMidFileWithinTwoSeconds) {
  // A server of its own, frozen while it sends the file: the read waits on
  // a connection that stays open, far longer than the run's SMB timeout.
  const fs::path frozen = Dir() / "frozen-server";
  WriteBigLog(frozen, 300000);
  SambaServer server;
  ASSERT_EQ(server.Start(frozen), "");
  const fs::path db_dir = Dir() / "frozen";
  fs::create_directory(db_dir);
  pid_t pid = StartVelnor(
      CollectArguments(
          db_dir, {"--site", kBigSite, "--smb-auth", (Dir() / "auth").string(),
                   "--smb-port", std::to_string(server.port()), "--smb-timeout",
                   "600"}),
      db_dir);
  EXPECT_TRUE(WaitFor([&] { return BytesServed(server.pid()) > (2 << 20); },
                      std::chrono::seconds(60)));
  SignalClientServers(server.pid(), SIGSTOP);
  // Long enough for the bytes read ahead to run out.
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  EXPECT_FALSE(HasEnded(pid)) << "the run ended before the server froze";
  const auto sent = std::chrono::steady_clock::now();
  ::kill(pid, SIGTERM);
  EXPECT_TRUE(EndsWithin(pid, std::chrono::seconds(10)));
  EXPECT_LT(std::chrono::steady_clock::now() - sent, std::chrono::seconds(2));
  SignalClientServers(server.pid(), SIGCONT);
  VelnorRun run = FinishVelnor(pid, db_dir);
  EXPECT_EQ(run.status, 130) << run.err;
  EXPECT_TRUE(Contains(run.err, "nothing of this run was stored")) << run.err;
  EXPECT_EQ(SiteTotals(db_dir).size(), 0u);
}

TEST_F(CollectSmbTest, SigintOverASlowLinkCancelsTheRunAndKeepsItsCounts) {
  // A live server behind a link slow enough that a read of a megabyte
  // takes two seconds: Ctrl+C while one is in progress must stop the run
  // as Cancel does, not end it as if the server did not answer.
  constexpr long kRecords = 300000;
  const fs::path slow = Dir() / "slow-server";
  WriteBigLog(slow, kRecords);
  SambaServer server;
  ASSERT_EQ(server.Start(slow), "");
  unc::smbd::SlowLink link(server.port(), 512 << 10);
  const fs::path db_dir = Dir() / "slow";
  fs::create_directory(db_dir);
  pid_t pid = StartVelnor(
      CollectArguments(
          db_dir,
          {"--site", kBigSite, "--smb-auth", (Dir() / "auth").string(),
           "--smb-port", std::to_string(link.port()), "--smb-timeout", "60"}),
      db_dir);
  // Records are counted by now; the signal comes just after the next
  // request for bytes went out.
  EXPECT_TRUE(WaitFor([&] { return link.BytesToClients() > (2 << 20); },
                      std::chrono::seconds(60)));
  const long requests = link.Requests();
  EXPECT_TRUE(WaitFor([&] { return link.Requests() > requests; },
                      std::chrono::seconds(10)));
  ::kill(pid, SIGINT);
  EXPECT_TRUE(EndsWithin(pid, std::chrono::seconds(20)));
  VelnorRun run = FinishVelnor(pid, db_dir);
  EXPECT_EQ(run.status, 130) << run.err;
  EXPECT_FALSE(Contains(run.err, "nothing of this run was stored")) << run.err;
  EXPECT_TRUE(Contains(run.err, "Interrupted: Cancel\n")) << run.err;

  const Rows totals = SiteTotals(db_dir);
  ASSERT_EQ(totals.size(), 1u) << run.err;
  const long counted = std::stol(totals[0][3]);
  EXPECT_GT(counted, 0);
  EXPECT_LT(counted, kRecords);
  EXPECT_TRUE(Contains(run.err, "cancelled after 1 site of 127.0.0.1 (web): " +
                                    std::to_string(counted) + " records in"))
      << run.err;
  for (ReportKind kind : kReportKinds) {
    EXPECT_EQ(Hits(Database(db_dir, kind), "3"), counted);
  }
  const fs::path ledger = db_dir / "velnor_ledger_127.0.0.1_web.sqlite";
  EXPECT_EQ(QueryRows(ledger, "SELECT outcome, records FROM runs"),
            (Rows{{"cancelled", std::to_string(counted)}}));
  EXPECT_EQ(QueryRows(ledger, "SELECT records FROM run_files"),
            (Rows{{std::to_string(counted)}}));
}

TEST_F(CollectSmbTest, AShareRootIsAPromiseSmbBesideItOnlyWhenAsked) {
  // The root holds 127.0.0.1's C$ and D$ only; the site's log folder is on
  // E$.
  std::vector<std::string> options =
      Smb({"--site", "Intranet,E:\\Logs,2", "--share-root",
           (Dir() / "root").string()});
  VelnorRun promised = Collect("promised", options);
  EXPECT_EQ(promised.status, 1) << promised.err;
  std::string log = ReadFile(Dir() / "promised/velnor-errors.log");
  EXPECT_TRUE(Contains(log, "has no folder 127.0.0.1/E$")) << log;
  EXPECT_FALSE(Contains(log, "smb://")) << log;

  options.emplace_back("--smb-fallback");
  VelnorRun asked = Collect("asked", options);
  EXPECT_EQ(asked.status, 1) << asked.err;
  log = ReadFile(Dir() / "asked/velnor-errors.log");
  EXPECT_TRUE(Contains(log, "smb://127.0.0.1/E$/Logs/W3SVC2")) << log;
}

TEST_F(CollectSmbTest, DiscoveredOverSmbStoresTheRowsOfHandTypedSites) {
  for (bool ftp : {false, true}) {
    const std::string word = ftp ? "ftp" : "web";
    SCOPED_TRACE(word);
    VelnorRun discovered =
        Collect("smb-" + word, Smb({"--discover-sites"}), ftp);
    EXPECT_EQ(discovered.status, 0) << discovered.err;
    EXPECT_TRUE(Contains(discovered.err,
                         "\nsites of 127.0.0.1 read from \\\\127.0.0.1\\C$\\"
                         "Windows\\System32\\inetsrv\\config\\"
                         "applicationHost.config\nWindows directory of "
                         "127.0.0.1: C:\\Windows (found on C$)\n"))
        << discovered.err;

    std::vector<std::string> typed = HandTypedSiteOptions(kServer, ftp);
    typed.insert(typed.end(), {"--share-root", "root"});
    VelnorRun by_hand = Collect("typed-" + word, typed, ftp);
    EXPECT_EQ(by_hand.status, 0) << by_hand.err;

    const std::string summary =
        std::string(ftp ? "collected 2 sites of 127.0.0.1 (ftp): "
                        : "collected 4 sites of 127.0.0.1 (web): ") +
        std::to_string(RecordsOfCollectedSites(Dir() / "share/C",
                                               Dir() / "share/D", ftp)) +
        " records in ";
    EXPECT_TRUE(Contains(discovered.err, summary)) << discovered.err;
    EXPECT_TRUE(Contains(by_hand.err, summary)) << by_hand.err;
    if (ftp) {
      EXPECT_TRUE(Contains(discovered.err,
                           "FTP site 12 \"Public FTP\": read from "
                           "\\\\127.0.0.1\\D$\\FtpLogs\\FTPSVC12"))
          << discovered.err;
    }
    EXPECT_EQ(AllReportRows(Dir() / ("smb-" + word), kServer, ftp),
              AllReportRows(Dir() / ("typed-" + word), kServer, ftp));
  }
}

TEST_F(CollectSmbTest, SitesOverSmbListWhatTheShareRootShows) {
  for (const char* format : {"text", "json"}) {
    SCOPED_TRACE(format);
    std::vector<std::string> sites = {"sites", "--server", kServer,
                                      "--ftp", "--format", format};
    std::vector<std::string> smb = sites;
    for (const std::string& option : Smb()) smb.push_back(option);
    sites.insert(sites.end(), {"--share-root", "root"});
    VelnorRun over_smb = RunVelnor(smb, Dir());
    EXPECT_EQ(over_smb.status, 0) << over_smb.err;
    EXPECT_EQ(over_smb.out, RunVelnor(sites, Dir()).out);
    EXPECT_TRUE(Contains(over_smb.out, "FTPSVC12")) << over_smb.out;
  }
}

// Needs no Samba: the server accepts connections and never answers.
TEST(CollectSmbSilentTest, ASilentServerCostsOneTimeoutForAllItsSites) {
  TempDir tmp("collect_smb_silent");
  unc::smbd::SilentListener silent;
  VelnorRun run = RunVelnor(
      CollectArguments(tmp.path(),
                       {"--site", kSite, "--site", "Intranet,D:\\Logs,2",
                        "--site", "Shop,E:\\Shop\\Logs,3", "--smb-port",
                        std::to_string(silent.port()), "--smb-timeout", "1"}),
      tmp.path());
  EXPECT_EQ(run.status, 1) << run.err;
  std::vector<std::string> log =
      Lines(ReadFile(tmp.path() / "velnor-errors.log"));
  ASSERT_EQ(log.size(), 3u) << run.err;
  for (const std::string& line : log) {
    EXPECT_TRUE(Contains(line, "server 127.0.0.1")) << line;
  }
  // One probe and one SMB connection: the first timeout answers for the
  // server's other folders and for the run itself.
  EXPECT_LE(silent.Connections(), 2);
  EXPECT_EQ(SiteTotals(tmp.path()).size(), 3u);
}

// Needs no server: the file is refused before anything is read or made.
TEST(CollectSmbAuthTest, AuthFileOthersMayReadIsRefused) {
  TempDir tmp("collect_smb_auth");
  const fs::path& dir = tmp.path();
  const fs::path auth = dir / "auth";
  unc::smbd::WriteSmbAuthFile(auth, unc::smbd::kSmbdPassword);
  fs::permissions(auth, fs::perms::others_read, fs::perm_options::add);
  VelnorRun by_option = RunVelnor(
      CollectArguments(dir, {"--site", kSite, "--smb-auth", auth.string()}),
      dir);
  ::setenv("VELNOR_SMB_AUTH", auth.c_str(), 1);
  VelnorRun by_environment =
      RunVelnor(CollectArguments(dir, {"--site", kSite}), dir);
  ::unsetenv("VELNOR_SMB_AUTH");

  for (const VelnorRun& run : {by_option, by_environment}) {
    EXPECT_EQ(run.status, 2) << run.err;
    EXPECT_TRUE(Contains(
        run.err, "cannot use the SMB authentication file " + auth.string()))
        << run.err;
    EXPECT_FALSE(Contains(run.err, "collected")) << run.err;
  }
  for (const auto& entry : fs::directory_iterator(dir)) {
    EXPECT_NE(entry.path().extension(), ".mdb") << entry.path();
  }
}

// Needs no server: each file is refused before anything is read or made,
// and a FIFO in the file's place is not waited on.
TEST(CollectSmbAuthTest, AuthFileThatHoldsNoCredentialsIsRefused) {
  TempDir tmp("collect_smb_auth_kinds");
  const fs::path& dir = tmp.path();
  ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0600), 0);
  fs::create_directory(dir / "folder");
  WriteFile(dir / "no-user", "password = secret\ndomain = VTEST\n");
  WriteFile(dir / "huge", "username = someone\n" + std::string(1 << 20, '#'));
  for (const char* name : {"no-user", "huge"}) {
    fs::permissions(dir / name, fs::perms::owner_read | fs::perms::owner_write);
  }
  struct Case {
    const char* file;
    const char* reason;
  };
  for (const Case& c :
       {Case{"fifo", "a FIFO that no program writes to"},
        Case{"folder", "not a regular file"},
        Case{"/dev/zero", "not a regular file"},
        Case{"no-user", "username = NAME"}, Case{"huge", "bytes"}}) {
    SCOPED_TRACE(c.file);
    const fs::path auth = dir / c.file;  // an absolute path stays as it is
    pid_t pid = StartVelnor(
        CollectArguments(dir, {"--site", kSite, "--smb-auth", auth.string()}),
        dir);
    EXPECT_TRUE(EndsWithin(pid, std::chrono::seconds(20)));
    VelnorRun run = FinishVelnor(pid, dir);
    EXPECT_EQ(run.status, 2) << run.err;
    EXPECT_TRUE(Contains(
        run.err, "cannot use the SMB authentication file " + auth.string()))
        << run.err;
    EXPECT_TRUE(Contains(run.err, c.reason)) << run.err;
    for (const auto& entry : fs::directory_iterator(dir)) {
      EXPECT_NE(entry.path().extension(), ".mdb") << entry.path();
    }
  }
}

// Needs no server: a setting given empty (an unset variable in a cron
// line) is refused, where taking it as not given would log on as a guest
// or search the drives for the Windows directory.
TEST(CollectSmbSettingsTest, AnEmptySettingIsRefusedNotTakenAsNone) {
  TempDir tmp("collect_smb_empty");
  const fs::path& dir = tmp.path();
  struct Case {
    const char* setting;
    std::vector<std::string> options;
    const char* environment;
  };
  for (const Case& c :
       {Case{"--smb-auth", {"--smb-auth", ""}, nullptr},
        Case{"VELNOR_SMB_AUTH", {}, ""},
        Case{"--windows-dirs", {"--windows-dirs", ""}, nullptr}}) {
    SCOPED_TRACE(c.setting);
    std::vector<std::string> more = {"--site", kSite, "--smb-timeout", "1"};
    more.insert(more.end(), c.options.begin(), c.options.end());
    if (c.environment != nullptr) ::setenv("VELNOR_SMB_AUTH", c.environment, 1);
    VelnorRun run = RunVelnor(CollectArguments(dir, more), dir);
    ::unsetenv("VELNOR_SMB_AUTH");
    EXPECT_EQ(run.status, 2) << run.err;
    EXPECT_TRUE(Contains(run.err, std::string(c.setting) + " is empty"))
        << run.err;
    for (const auto& entry : fs::directory_iterator(dir)) {
      EXPECT_NE(entry.path().extension(), ".mdb") << entry.path();
    }
  }
}

}  // namespace
}  // namespace velnor::host
