// `velnor collect` reading a site's logs straight from a Windows-style server
// over SMB, as a user runs it: the built binary against a real Samba server
// on 127.0.0.1 that serves the administrative share C$. The rows it stores
// must equal those of the same collect through a share root; a wrong
// password or a missing share must be reported, not pass as an empty site;
// and a server that goes away in the middle of a file must end the run
// promptly, reported, with the records read so far kept.
// Skipped, with the reason, where smbd cannot run.
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <thread>
#include <vector>

#include "host/testing/velnor_test_support.h"
#include "platform/unc/smbd_fixture.h"
#include "reportdb/schema.h"

namespace velnor::host {

using reportdb::kReportKinds;
using reportdb::ReportDatabaseFileName;
using reportdb::ReportKind;
namespace {

namespace fs = std::filesystem;
using testing::Rows;
using testing::VelnorRun;
using unc::smbd::SambaServer;

constexpr char kServer[] = "127.0.0.1";
constexpr char kSite[] = "Default Web Site,C:\\inetpub\\logs\\LogFiles,1";
constexpr char kSiteFolder[] =
    "\\\\127.0.0.1\\C$\\inetpub\\logs\\LogFiles\\W3SVC1";

// Every row of `table` in the database file, sorted; `columns` limits the
// columns, "*" takes them all.
Rows TableRows(const fs::path& file, const std::string& table,
               const std::string& columns = "*") {
  Rows rows = testing::QueryRows(file, "SELECT " + columns + " FROM " + table);
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

long SumOfHits(const fs::path& file) {
  long sum = 0;
  for (const auto& row : TableRows(file, "tblGeneral", "[No of Hits]")) {
    sum += std::stol(row.at(0));
  }
  return sum;
}

// velnor collect of `site` for 3 to 5 June 2024 into `db_dir`, making the
// report databases, with plain progress lines.
std::vector<std::string> CollectArguments(const fs::path& db_dir,
                                          const char* site) {
  return {"collect",  "--server",   kServer,    "--from",        "2024-06-03",
          "--to",     "2024-06-05", "--db-dir", db_dir.string(), "--create-db",
          "--no-tui", "--site",     site};
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

class CollectSmbTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    tmp_ = new testing::TempDir("collect_smb_test");
    dir_ = tmp_->path();
    fs::path logs = dir_ / "share/C/inetpub/logs/LogFiles";
    fs::create_directories(logs);
    fs::copy(fs::path(VELNOR_SOURCE_DIR) /
                 "examples/shares/WEB01/C$/inetpub/logs/LogFiles/W3SVC1",
             logs / "W3SVC1");
    // The share root serves the very files smbd serves.
    fs::create_directories(dir_ / "root" / kServer);
    fs::create_directory_symlink(dir_ / "share/C",
                                 dir_ / "root" / kServer / "C$");
    unc::smbd::WriteSmbAuthFile(dir_ / "auth", unc::smbd::kSmbdPassword);
    unc::smbd::WriteSmbAuthFile(dir_ / "wrong-auth", "not-the-password");
    server_ = new SambaServer;
    skip_reason_ = server_->Start(dir_);
  }

  static void TearDownTestSuite() {
    delete server_;  // stops smbd before its folder goes
    server_ = nullptr;
    delete tmp_;
  }

  void SetUp() override {
    if (!skip_reason_.empty()) GTEST_SKIP() << skip_reason_;
  }

  // velnor collect of `site` into a new database folder `name`, with
  // `extra` options.
  static VelnorRun Collect(const std::string& name, const char* site,
                           std::vector<std::string> extra) {
    fs::create_directory(dir_ / name);
    std::vector<std::string> arguments = CollectArguments(dir_ / name, site);
    arguments.insert(arguments.end(), extra.begin(), extra.end());
    return testing::RunVelnor(arguments, dir_ / name);
  }

  static std::vector<std::string> SmbOptions(const char* auth) {
    return {"--smb-auth", (dir_ / auth).string(), "--smb-port",
            std::to_string(server_->port())};
  }

  // The records of the copied logs dated 3 to 5 June 2024, counted here
  // from the files themselves.
  static long RecordsInPeriod() {
    long count = 0;
    for (const auto& file : fs::directory_iterator(
             dir_ / "share/C/inetpub/logs/LogFiles/W3SVC1")) {
      for (const std::string& line : Lines(testing::ReadFile(file.path()))) {
        std::string day = line.substr(0, 10);
        if (day >= "2024-06-03" && day <= "2024-06-05") ++count;
      }
    }
    return count;
  }

  static inline testing::TempDir* tmp_ = nullptr;
  static inline fs::path dir_;
  static inline SambaServer* server_ = nullptr;
  static inline std::string skip_reason_;
};

TEST_F(CollectSmbTest, SmbAndShareRootStoreTheSameRows) {
  const long records = RecordsInPeriod();
  ASSERT_GT(records, 0);
  const std::string summary =
      "collected 1 site of 127.0.0.1 (web): " + std::to_string(records) +
      " records in ";

  VelnorRun smb = Collect("D1", kSite, SmbOptions("auth"));
  EXPECT_EQ(smb.status, 0) << smb.err;
  EXPECT_NE(smb.err.find(summary), std::string::npos) << smb.err;
  EXPECT_NE(smb.err.find("error log: 0 new lines"), std::string::npos)
      << smb.err;

  VelnorRun mapped =
      Collect("D2", kSite, {"--share-root", (dir_ / "root").string()});
  EXPECT_EQ(mapped.status, 0) << mapped.err;
  EXPECT_NE(mapped.err.find(summary), std::string::npos) << mapped.err;

  for (ReportKind kind : kReportKinds) {
    Rows rows = TableRows(Database(dir_ / "D1", kind), "tblGeneral");
    EXPECT_EQ(rows, TableRows(Database(dir_ / "D2", kind), "tblGeneral"))
        << ReportDatabaseFileName(kind, kServer, false);
    // Every record counts once in each report.
    EXPECT_EQ(SumOfHits(Database(dir_ / "D1", kind)), records)
        << ReportDatabaseFileName(kind, kServer, false);
  }
  Rows totals = SiteTotals(dir_ / "D1");
  EXPECT_EQ(
      totals,
      (Rows{{kServer, "1", "Default Web Site", std::to_string(records)}}));
  EXPECT_EQ(totals, SiteTotals(dir_ / "D2"));
  fs::path hour = Database(dir_ / "D1", ReportKind::kHitsByHour);
  EXPECT_EQ(
      TableRows(hour, "tblLogFiles"),
      TableRows(Database(dir_ / "D2", ReportKind::kHitsByHour), "tblLogFiles"));
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
           Case{"missing-share", "Intranet,D:\\Logs,2", "Intranet", "2", "auth",
                "\\\\127.0.0.1\\D$\\Logs\\W3SVC2", "Path not found"},
       }) {
    SCOPED_TRACE(c.name);
    VelnorRun run = Collect(c.name, c.site, SmbOptions(c.auth));
    EXPECT_EQ(run.status, 1) << run.err;
    EXPECT_NE(run.err.find("collected 1 site of 127.0.0.1 (web): 0 records"),
              std::string::npos)
        << run.err;
    EXPECT_NE(run.err.find("error log: 1 new line in"), std::string::npos)
        << run.err;

    std::vector<std::string> log =
        Lines(testing::ReadFile(dir_ / c.name / "velnor-errors.log"));
    ASSERT_EQ(log.size(), 1u) << run.err;
    EXPECT_NE(log[0].find(c.folder), std::string::npos) << log[0];
    EXPECT_NE(log[0].find(c.problem), std::string::npos) << log[0];

    for (ReportKind kind : kReportKinds) {
      EXPECT_TRUE(
          TableRows(Database(dir_ / c.name, kind), "tblGeneral").empty());
    }
    EXPECT_EQ(SiteTotals(dir_ / c.name),
              (Rows{{kServer, c.id, c.site_name, "0"}}));
    EXPECT_TRUE(TableRows(Database(dir_ / c.name, ReportKind::kHitsByHour),
                          "tblLogFiles")
                    .empty());
  }
}

// The report rows of site `id` in the database file, sorted.
Rows SiteRows(const fs::path& file, const char* id) {
  return TableRows(file,
                   std::string("tblGeneral WHERE Identifier = '") + id + "'");
}

long SiteHits(const fs::path& file, const char* id) {
  return std::stol(testing::QueryRows(
      file, std::string("SELECT total([No of Hits]) FROM tblGeneral ") +
                "WHERE Identifier = '" + id + "'")[0][0]);
}

// Polls `done` every 10 ms until it holds or `limit` has passed; false then.
template <typename Done>
bool WaitFor(Done done, std::chrono::milliseconds limit) {
  auto deadline = std::chrono::steady_clock::now() + limit;
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return true;
}

// The bytes the children of process `parent` (smbd's client servers) have
// read from files so far.
long BytesServed(pid_t parent) {
  long total = 0;
  for (const auto& entry : fs::directory_iterator("/proc")) {
    std::ifstream status(entry.path() / "status");
    std::string key;
    long ppid = -1;
    for (std::string line; std::getline(status, line);) {
      if (line.rfind("PPid:", 0) == 0) ppid = std::stol(line.substr(5));
    }
    if (ppid != parent) continue;
    std::ifstream io(entry.path() / "io");
    long value = 0;
    while (io >> key >> value) {
      if (key == "rchar:") total += value;
    }
  }
  return total;
}

TEST_F(CollectSmbTest, ServerGoneMidFileEndsTheRunAndKeepsWhatWasRead) {
  constexpr long kRecords = 300000;
  constexpr char kBigSite[] = "Big Site,C:\\inetpub\\logs\\LogFiles,3";
  constexpr char kBigLog[] =
      "\\\\127.0.0.1\\C$\\inetpub\\logs\\LogFiles\\W3SVC3\\u_ex240604.log";
  // The site has a server of its own, since it is stopped halfway.
  const fs::path gone = dir_ / "gone-server";
  std::string log =
      "#Fields: date time s-ip cs-method cs-uri-stem cs-uri-query s-port "
      "c-ip cs(User-Agent) sc-status time-taken\n";
  for (long i = 0; i < kRecords; ++i) {
    char line[160];
    std::snprintf(line, sizeof line,
                  "2024-06-04 %02ld:%02ld:%02ld 10.0.0.5 GET /p%ld.htm - 80 "
                  "192.168.1.%ld Mozilla/5.0+(X11;+Linux+x86_64) %d %ld\n",
                  i / 3600 % 24, i / 60 % 60, i % 60, i % 40, i % 250,
                  i % 7 == 0 ? 404 : 200, i % 900);
    log += line;
  }
  testing::WriteFile(
      gone / "share/C/inetpub/logs/LogFiles/W3SVC3/u_ex240604.log", log);
  SambaServer server;
  std::string problem = server.Start(gone);
  ASSERT_EQ(problem, "");

  // Rows stored earlier, by a complete run of another site.
  ASSERT_EQ(Collect("gone", kSite, SmbOptions("auth")).status, 0);
  const fs::path db_dir = dir_ / "gone";
  const fs::path hour = Database(db_dir, ReportKind::kHitsByHour);
  std::vector<Rows> earlier;
  for (ReportKind kind : kReportKinds) {
    earlier.push_back(SiteRows(Database(db_dir, kind), "1"));
  }
  const Rows earlier_totals = SiteTotals(db_dir);

  std::vector<std::string> arguments = CollectArguments(db_dir, kBigSite);
  arguments.insert(arguments.end(),
                   {"--smb-auth", (dir_ / "auth").string(), "--smb-port",
                    std::to_string(server.port())});
  pid_t pid = testing::StartVelnor(arguments, db_dir);
  EXPECT_TRUE(testing::WaitFor(
      [&] {
        return testing::ReadFile(db_dir / "stderr")
                   .find("Collecting data for site") != std::string::npos;
      },
      std::chrono::seconds(60)));
  // Frozen once a few megabytes of the 30 MB file went out, the run is
  // sure to find the server gone in the middle of the file.
  EXPECT_TRUE(WaitFor([&] { return BytesServed(server.pid()) > (2 << 20); },
                      std::chrono::seconds(60)));
  ::kill(pid, SIGSTOP);
  server.Stop();
  ::kill(pid, SIGCONT);
  const bool ended = WaitFor(
      [&] {
        siginfo_t info{};
        ::waitid(P_PID, pid, &info, WEXITED | WNOHANG | WNOWAIT);
        return info.si_pid == pid;
      },
      std::chrono::seconds(10));
  if (!ended) {
    ADD_FAILURE() << "velnor still runs 10 s after the server went away";
    ::kill(pid, SIGKILL);
  }
  VelnorRun run = testing::FinishVelnor(pid, db_dir);
  EXPECT_EQ(run.status, 1) << run.err;

  std::string errors = testing::ReadFile(db_dir / "velnor-errors.log");
  EXPECT_NE(errors.find(std::string("cannot read ") + kBigLog),
            std::string::npos)
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
    EXPECT_EQ(SiteHits(file, "3"), counted) << file;
    EXPECT_EQ(SiteRows(file, "1"), earlier[k]) << file;
  }
}

TEST_F(CollectSmbTest, AShareRootIsAPromiseSmbBesideItOnlyWhenAsked) {
  // The root holds 127.0.0.1's C$ only; the site's log folder is on D$.
  const char* kIntranet = "Intranet,D:\\Logs,2";
  std::vector<std::string> options = SmbOptions("auth");
  options.insert(options.end(), {"--share-root", (dir_ / "root").string()});
  VelnorRun promised = Collect("promised", kIntranet, options);
  EXPECT_EQ(promised.status, 1) << promised.err;
  std::string log = testing::ReadFile(dir_ / "promised/velnor-errors.log");
  EXPECT_NE(log.find("has no folder 127.0.0.1/D$"), std::string::npos) << log;
  EXPECT_EQ(log.find("smb://"), std::string::npos) << log;

  options.emplace_back("--smb-fallback");
  VelnorRun asked = Collect("asked", kIntranet, options);
  EXPECT_EQ(asked.status, 1) << asked.err;
  log = testing::ReadFile(dir_ / "asked/velnor-errors.log");
  EXPECT_NE(log.find("smb://127.0.0.1/D$/Logs/W3SVC2"), std::string::npos)
      << log;
}

// Needs no Samba: the server accepts connections and never answers.
TEST(CollectSmbSilentTest, ASilentServerCostsOneTimeoutForAllItsSites) {
  testing::TempDir tmp("collect_smb_silent");
  unc::smbd::SilentListener silent;
  std::vector<std::string> arguments = CollectArguments(tmp.path(), kSite);
  arguments.insert(
      arguments.end(),
      {"--site", "Intranet,D:\\Logs,2", "--site", "Shop,E:\\Shop\\Logs,3",
       "--smb-port", std::to_string(silent.port()), "--smb-timeout", "1"});
  VelnorRun run = testing::RunVelnor(arguments, tmp.path());
  EXPECT_EQ(run.status, 1) << run.err;
  std::vector<std::string> log =
      Lines(testing::ReadFile(tmp.path() / "velnor-errors.log"));
  ASSERT_EQ(log.size(), 3u) << run.err;
  for (const std::string& line : log) {
    EXPECT_NE(line.find("server 127.0.0.1"), std::string::npos) << line;
  }
  // One probe and one SMB connection: the first timeout answers for the
  // server's other folders and for the run itself.
  EXPECT_LE(silent.Connections(), 2);
  EXPECT_EQ(SiteTotals(tmp.path()).size(), 3u);
}

// Needs no server: the file is refused before anything is read or made.
TEST(CollectSmbAuthTest, AuthFileOthersMayReadIsRefused) {
  testing::TempDir tmp("collect_smb_auth");
  const fs::path& dir = tmp.path();
  const fs::path auth = dir / "auth";
  unc::smbd::WriteSmbAuthFile(auth, unc::smbd::kSmbdPassword);
  fs::permissions(auth, fs::perms::others_read, fs::perm_options::add);
  const std::vector<std::string> collect = CollectArguments(dir, kSite);

  std::vector<std::string> with_option = collect;
  with_option.insert(with_option.end(), {"--smb-auth", auth.string()});
  VelnorRun by_option = testing::RunVelnor(with_option, dir);
  ::setenv("VELNOR_SMB_AUTH", auth.c_str(), 1);
  VelnorRun by_environment = testing::RunVelnor(collect, dir);
  ::unsetenv("VELNOR_SMB_AUTH");

  for (const VelnorRun& run : {by_option, by_environment}) {
    EXPECT_EQ(run.status, 2) << run.err;
    EXPECT_NE(
        run.err.find("cannot use the SMB authentication file " + auth.string()),
        std::string::npos)
        << run.err;
    EXPECT_EQ(run.err.find("collected"), std::string::npos) << run.err;
  }
  for (const auto& entry : fs::directory_iterator(dir)) {
    EXPECT_NE(entry.path().extension(), ".mdb") << entry.path();
  }
}

}  // namespace
}  // namespace velnor::host
