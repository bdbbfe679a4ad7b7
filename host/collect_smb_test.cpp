// `velnor collect` reading a site's logs straight from a Windows-style server
// over SMB, as a user runs it: the built binary against a real Samba server
// on 127.0.0.1 that serves the administrative share C$. The rows it stores
// must equal those of the same collect through a share root, and a wrong
// password or a missing share must be reported, not pass as an empty site.
// Skipped, with the reason, where smbd cannot run.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sqlite3.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>
#include <vector>

#include "host/report_schema.h"
#include "platform/unc/smbd_fixture.h"

namespace velnor::host {
namespace {

namespace fs = std::filesystem;
using unc::smbd::SambaServer;
using Rows = std::vector<std::vector<std::string>>;

constexpr char kServer[] = "127.0.0.1";
constexpr char kSite[] = "Default Web Site,C:\\inetpub\\logs\\LogFiles,1";
constexpr char kSiteFolder[] =
    "\\\\127.0.0.1\\C$\\inetpub\\logs\\LogFiles\\W3SVC1";

struct CommandResult {
  int status = -1;  // -1: killed or did not exit normally
  std::string output;
};

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// Runs the velnor binary with `arguments` (no shell), standard output and
// error together. A run that outlasts two minutes is killed by its process
// id; so is one still running should the test process die.
CommandResult Velnor(const std::vector<std::string>& arguments,
                     const fs::path& output_file) {
  pid_t pid = ::fork();
  if (pid == 0) {
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    int out = ::open(output_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    int in = ::open("/dev/null", O_RDONLY);
    if (out < 0 || in < 0) ::_exit(125);
    ::dup2(in, STDIN_FILENO);
    ::dup2(out, STDOUT_FILENO);
    ::dup2(out, STDERR_FILENO);
    std::vector<char*> argv{const_cast<char*>(VELNOR_EXE)};
    for (const std::string& argument : arguments) {
      argv.push_back(const_cast<char*>(argument.c_str()));
    }
    argv.push_back(nullptr);
    ::execv(VELNOR_EXE, argv.data());
    ::_exit(127);
  }
  CommandResult result;
  int status = 0;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(2);
  while (::waitpid(pid, &status, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() > deadline) {
      ::kill(pid, SIGKILL);
      ::waitpid(pid, &status, 0);
      result.output = "velnor killed after 2 minutes\n";
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  if (WIFEXITED(status)) result.status = WEXITSTATUS(status);
  result.output += ReadFile(output_file);
  return result;
}

// Every row of `table` in the database file, sorted, each value as text
// ("<null>" for null); `columns` limits the columns, "*" takes them all.
Rows TableRows(const fs::path& file, const std::string& table,
               const std::string& columns = "*") {
  sqlite3* db = nullptr;
  Rows rows;
  if (sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) ==
      SQLITE_OK) {
    sqlite3_stmt* statement = nullptr;
    std::string sql = "SELECT " + columns + " FROM " + table;
    if (sqlite3_prepare_v2(db, sql.c_str(), -1, &statement, nullptr) ==
        SQLITE_OK) {
      while (sqlite3_step(statement) == SQLITE_ROW) {
        std::vector<std::string>& row = rows.emplace_back();
        for (int i = 0; i < sqlite3_column_count(statement); ++i) {
          const unsigned char* text = sqlite3_column_text(statement, i);
          row.emplace_back(text ? reinterpret_cast<const char*>(text)
                                : "<null>");
        }
      }
    } else {
      ADD_FAILURE() << sql << " on " << file << ": " << sqlite3_errmsg(db);
    }
    sqlite3_finalize(statement);
  } else {
    ADD_FAILURE() << "cannot open " << file;
  }
  sqlite3_close(db);
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
    std::string pattern = fs::temp_directory_path() / "collect_smb_test_XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) {
      skip_reason_ = "no temporary folder";
      return;
    }
    dir_ = pattern;
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
    if (!dir_.empty()) fs::remove_all(dir_);
  }

  void SetUp() override {
    if (!skip_reason_.empty()) GTEST_SKIP() << skip_reason_;
  }

  // velnor collect of `site` into a new database folder `name`, with
  // `extra` options.
  static CommandResult Collect(const std::string& name, const char* site,
                               std::vector<std::string> extra) {
    fs::create_directory(dir_ / name);
    std::vector<std::string> arguments = CollectArguments(dir_ / name, site);
    arguments.insert(arguments.end(), extra.begin(), extra.end());
    return Velnor(arguments, dir_ / (name + ".out"));
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
      for (const std::string& line : Lines(ReadFile(file.path()))) {
        std::string day = line.substr(0, 10);
        if (day >= "2024-06-03" && day <= "2024-06-05") ++count;
      }
    }
    return count;
  }

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

  CommandResult smb = Collect("D1", kSite, SmbOptions("auth"));
  EXPECT_EQ(smb.status, 0) << smb.output;
  EXPECT_NE(smb.output.find(summary), std::string::npos) << smb.output;
  EXPECT_NE(smb.output.find("error log: 0 new lines"), std::string::npos)
      << smb.output;

  CommandResult mapped =
      Collect("D2", kSite, {"--share-root", (dir_ / "root").string()});
  EXPECT_EQ(mapped.status, 0) << mapped.output;
  EXPECT_NE(mapped.output.find(summary), std::string::npos) << mapped.output;

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
    CommandResult run = Collect(c.name, c.site, SmbOptions(c.auth));
    EXPECT_EQ(run.status, 1) << run.output;
    EXPECT_NE(run.output.find("collected 1 site of 127.0.0.1 (web): 0 records"),
              std::string::npos)
        << run.output;
    EXPECT_NE(run.output.find("error log: 1 new line in"), std::string::npos)
        << run.output;

    std::vector<std::string> log =
        Lines(ReadFile(dir_ / c.name / "velnor-errors.log"));
    ASSERT_EQ(log.size(), 1u) << run.output;
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

// Needs no server: the file is refused before anything is read or made.
TEST(CollectSmbAuthTest, AuthFileOthersMayReadIsRefused) {
  std::string pattern = fs::temp_directory_path() / "collect_smb_auth_XXXXXX";
  ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
  const fs::path dir = pattern;
  const fs::path auth = dir / "auth";
  unc::smbd::WriteSmbAuthFile(auth, unc::smbd::kSmbdPassword);
  fs::permissions(auth, fs::perms::others_read, fs::perm_options::add);
  const std::vector<std::string> collect = CollectArguments(dir, kSite);

  std::vector<std::string> with_option = collect;
  with_option.insert(with_option.end(), {"--smb-auth", auth.string()});
  CommandResult by_option = Velnor(with_option, dir / "option.out");
  ::setenv("VELNOR_SMB_AUTH", auth.c_str(), 1);
  CommandResult by_environment = Velnor(collect, dir / "environment.out");
  ::unsetenv("VELNOR_SMB_AUTH");

  for (const CommandResult& run : {by_option, by_environment}) {
    EXPECT_EQ(run.status, 2) << run.output;
    EXPECT_NE(run.output.find("cannot use the SMB authentication file " +
                              auth.string()),
              std::string::npos)
        << run.output;
    EXPECT_EQ(run.output.find("collected"), std::string::npos) << run.output;
  }
  for (const auto& entry : fs::directory_iterator(dir)) {
    EXPECT_NE(entry.path().extension(), ".mdb") << entry.path();
  }
  fs::remove_all(dir);
}

}  // namespace
}  // namespace velnor::host
