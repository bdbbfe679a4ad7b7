// `velnor sites` and `velnor collect --discover-sites` as a user runs them:
// the built binary on a share root that holds the administrative shares of
// an IIS 10 server (host/testing/iis_server_shares.h). The listings are
// compared with the files in host/testdata/sites/ (VELNOR_UPDATE_EXPECTED=1
// rewrites them; read the diff before committing it); a collect of the
// discovered sites must store exactly the rows of the same collect with the
// sites typed by hand.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>

#include "host/testing/iis_server_shares.h"
#include "host/testing/report_rows.h"
#include "host/testing/velnor_test_support.h"
#include "reportdb/report_files.h"

namespace velnor::host {
namespace {

namespace fs = std::filesystem;
using testing::Contains;
using testing::Rows;

const fs::path kExpected = fs::path(VELNOR_SOURCE_DIR) / "host/testdata/sites";
const fs::path kSiteConfigData =
    fs::path(VELNOR_SOURCE_DIR) / "siteconfig/testdata";

class SitesCommandTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    tmp_ = new testing::TempDir("sites_command_test");
    LayOutIisServer(Shares() / "WEB01/C$", Shares() / "WEB01/D$");
  }
  static void TearDownTestSuite() { delete tmp_; }

  static fs::path Dir() { return tmp_->path(); }
  static fs::path Shares() { return Dir() / "shares"; }

  static VelnorRun Velnor(const std::vector<std::string>& args) {
    return RunVelnor(args, Dir());
  }

  // velnor collect of 3 to 5 June 2024 into a new database folder `name`.
  static VelnorRun Collect(const std::string& name, const std::string& server,
                           bool ftp, std::vector<std::string> more) {
    fs::create_directory(Dir() / name);
    more.insert(more.begin(),
                {"--create-db", "--no-tui", "--share-root", "shares"});
    if (ftp) more.emplace_back("--ftp");
    return Velnor(CollectArgs(server, name, std::move(more)));
  }

  static bool MadeDatabases(const std::string& name) {
    return fs::exists(Dir() / name) && !fs::is_empty(Dir() / name);
  }

  static inline testing::TempDir* tmp_ = nullptr;
};

TEST_F(SitesCommandTest, ListsTheConfiguredSitesInEachFormat) {
  struct Case {
    std::vector<std::string> options;
    const char* expected;
  };
  for (const Case& c : std::vector<Case>{
           {{"--format", "text"}, "web.txt"},
           {{"--format", "csv"}, "web.csv"},
           {{"--ftp", "--format", "json"}, "ftp.json"},
           {{"--ftp", "--format", "sites"}, "ftp-sites.txt"},
       }) {
    std::vector<std::string> args = {"sites", "--server", "WEB01",
                                     "--share-root", "shares"};
    args.insert(args.end(), c.options.begin(), c.options.end());
    VelnorRun run = Velnor(args);
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, "");
    testing::ExpectMatchesFile(run.out, kExpected / c.expected);
    // Onto a full disk: a --sites file cut short would collect fewer sites
    // without a word.
    VelnorRun full = FinishVelnor(
        StartVelnor(args, Dir(),
                    [] { ::dup2(::open("/dev/full", O_WRONLY), 1); }),
        Dir());
    EXPECT_EQ(full.status, 1) << full.err;
    EXPECT_TRUE(
        Contains(full.err, "could not be written whole to standard output"))
        << full.err;
  }
}

// A site's files are those a collection reads: a link (to a log or to a
// folder), a FIFO or a folder named like a log in its folder is none.
TEST_F(SitesCommandTest, OnlyRegularFilesAreCountedAsLogFiles) {
  LayOutIisServer(Shares() / "WEB02/C$", Shares() / "WEB02/D$");
  const std::vector<std::string> args = {"sites",        "--server", "WEB02",
                                         "--share-root", "shares",   "--format",
                                         "json"};
  const VelnorRun before = Velnor(args);
  ASSERT_EQ(before.status, 0) << before.err;
  const fs::path logs = Shares() / "WEB02/C$/inetpub/logs/LogFiles/W3SVC1";
  const fs::path elsewhere = Dir() / "elsewhere";
  testing::WriteFile(elsewhere / "u_ex240606.log", IisLog("2024-06-06", 3));
  fs::create_symlink(elsewhere / "u_ex240606.log", logs / "u_ex240606.log");
  fs::create_directory_symlink(elsewhere, logs / "u_ex240607.log");
  fs::create_directories(logs / "u_ex240608.log");
  ASSERT_EQ(::mkfifo((logs / "u_ex240609.log").c_str(), 0644), 0);
  const VelnorRun after = Velnor(args);
  EXPECT_EQ(after.status, 0) << after.err;
  EXPECT_EQ(after.out, before.out);
}

// velnor loads libxml2 only to read a configuration: where it cannot be
// loaded (here an empty file found first at its name), discovery is
// refused naming the library and the package that brings it.
TEST_F(SitesCommandTest, WithoutLibxml2DiscoveryIsRefusedByName) {
  fs::create_directories(Dir() / "lib");
  testing::WriteFile(Dir() / "lib/libxml2.so.2", "");
  const std::string lib = (Dir() / "lib").string();
  VelnorRun run = FinishVelnor(
      StartVelnor({"sites", "--server", "WEB01", "--share-root", "shares"},
                  Dir(), [&] { ::setenv("LD_LIBRARY_PATH", lib.c_str(), 1); }),
      Dir());
  EXPECT_NE(run.status, 0);
  EXPECT_EQ(run.out, "");
  EXPECT_NE(run.err.find("XML library cannot be loaded"), std::string::npos)
      << run.err;
  EXPECT_NE(run.err.find(lib + "/libxml2.so.2"), std::string::npos) << run.err;
  EXPECT_NE(run.err.find("install the package libxml2"), std::string::npos)
      << run.err;
}

TEST_F(SitesCommandTest, DiscoveredSitesStoreTheRowsOfHandTypedOnes) {
  const fs::path c_drive = Shares() / "WEB01/C$";
  const fs::path d_drive = Shares() / "WEB01/D$";
  struct Case {
    bool ftp;
    std::string word;
    const char* summary;
  };
  for (const Case& c :
       {Case{false, "web", "collected 4 sites of WEB01 (web): "},
        Case{true, "ftp", "collected 2 sites of WEB01 (ftp): "}}) {
    SCOPED_TRACE(c.word);
    const long records = RecordsOfCollectedSites(c_drive, d_drive, c.ftp);
    ASSERT_GT(records, 0);
    const std::string summary =
        c.summary + std::to_string(records) + " records in ";
    VelnorRun discovered =
        Collect("discovered-" + c.word, "WEB01", c.ftp, {"--discover-sites"});
    EXPECT_EQ(discovered.status, 0) << discovered.err;
    EXPECT_TRUE(Contains(discovered.err, summary)) << discovered.err;
    EXPECT_TRUE(Contains(discovered.err,
                         "\nsites of WEB01 read from \\\\WEB01\\C$\\Windows\\"
                         "System32\\inetsrv\\config\\applicationHost.config\n"
                         "Windows directory of WEB01: C:\\Windows (found on "
                         "C$)\n"))
        << discovered.err;

    VelnorRun typed = Collect("typed-" + c.word, "WEB01", c.ftp,
                              HandTypedSiteOptions("WEB01", c.ftp));
    EXPECT_EQ(typed.status, 0) << typed.err;
    EXPECT_TRUE(Contains(typed.err, summary)) << typed.err;

    std::vector<std::string> list = {"sites",        "--server", "WEB01",
                                     "--share-root", "shares",   "--format",
                                     "sites"};
    if (c.ftp) list.emplace_back("--ftp");
    VelnorRun listed = Velnor(list);
    ASSERT_EQ(listed.status, 0) << listed.err;
    testing::WriteFile(Dir() / (c.word + "-sites.txt"), listed.out);
    VelnorRun from_file = Collect("from-file-" + c.word, "WEB01", c.ftp,
                                  {"--sites", c.word + "-sites.txt"});
    EXPECT_EQ(from_file.status, 0) << from_file.err;

    const std::vector<Rows> rows =
        AllReportRows(Dir() / ("typed-" + c.word), "WEB01", c.ftp);
    EXPECT_EQ(AllReportRows(Dir() / ("discovered-" + c.word), "WEB01", c.ftp),
              rows);
    EXPECT_EQ(AllReportRows(Dir() / ("from-file-" + c.word), "WEB01", c.ftp),
              rows);
    if (!c.ftp) continue;
    for (const VelnorRun* run : {&discovered, &typed, &from_file}) {
      EXPECT_TRUE(Contains(run->err,
                           "\nFTP site 12 \"Public FTP\": read from "
                           "\\\\WEB01\\D$\\FtpLogs\\FTPSVC12, the folder "
                           "IIS 7.5 and later write, as "
                           "\\\\WEB01\\D$\\FtpLogs\\MSFTPSVC12 does not "
                           "exist\n"))
          << run->err;
    }
  }
}

// The IIS 8.5 FTP log of site 12 (host/testdata/iis85-ftp), read from
// FTPSVC12, counted by status as read off the file: the channel records
// and QUIT carry "-" as URL, the channel records "-" as status.
TEST_F(SitesCommandTest, Iis85FtpLogIsCountedFromItsFtpsvcFolder) {
  VelnorRun run =
      Collect("ftp-12", "WEB01", true, {"--discover-sites", "--site-id", "12"});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_TRUE(Contains(run.err, "collected 1 site of WEB01 (ftp): 25 records"))
      << run.err;
  Rows rows = testing::QueryRows(
      Dir() / "ftp-12" /
          reportdb::ReportDatabaseFileName(reportdb::ReportKind::kHitsByStatus,
                                           "WEB01", true),
      "SELECT Identifier, URL, Status, [Status code], [No of Hits] "
      "FROM tblGeneral ORDER BY [Status code], URL");
  EXPECT_EQ(
      rows,
      (Rows{
          {"12", "", "Others", "0", "10"},
          {"12", "", "Others", "221", "3"},
          {"12", "catalog-2024.pdf", "Transfer complete(226)", "226", "1"},
          {"12", "orders.csv", "Transfer complete(226)", "226", "1"},
          {"12", "***", "User logged in proceed(230)", "230", "3"},
          {"12", "/pub", "Others", "250", "2"},
          {"12", "/upload", "Others", "250", "1"},
          {"12", "anonymous", "User(331)", "331", "2"},
          {"12", "CONTOSO\\jsmith", "User(331)", "331", "1"},
          {"12", "missing.zip", "Others", "550", "1"},
      }));
}

TEST_F(SitesCommandTest, SiteIdChoosesAmongTheDiscoveredSites) {
  VelnorRun run =
      Collect("ids", "WEB01", false, {"--discover-sites", "--site-id", "9,1"});
  EXPECT_EQ(run.status, 0) << run.err;
  Rows totals = testing::QueryRows(
      Dir() / "ids" /
          reportdb::ReportDatabaseFileName(reportdb::ReportKind::kHitsByHour,
                                           "WEB01", false),
      "SELECT Identifier, [Web Site Name] FROM tblTotalAccess "
      "ORDER BY Identifier");
  EXPECT_EQ(totals, (Rows{{"1", "Default Web Site"}, {"9", "Partners"}}));
  // Only the chosen sites: no line about the others.
  EXPECT_FALSE(Contains(run.err, "not collected")) << run.err;
}

// Each mistake is one message, exit status 2, and no database is made.
TEST_F(SitesCommandTest, DiscoveryMistakesTouchNothing) {
  struct Case {
    std::string name;
    std::vector<std::string> options;
    std::string message;
  };
  for (const Case& c : std::vector<Case>{
           {"not-collected-id",
            {"--discover-sites", "--site-id", "5"},
            "velnor: error: --site-id: web site 5 \"Legacy\" of WEB01 cannot "
            "be collected: logging is off (logFile enabled=\"false\")\n"},
           {"unknown-id",
            {"--discover-sites", "--site-id", "2"},
            "velnor: error: --site-id: WEB01 has no web site with the id 2\n"
            "  help: its web sites have the ids 1, 3, 4, 5, 7, 9, 12; velnor "
            "sites --server WEB01 lists them\n"},
           {"bad-ids",
            {"--discover-sites", "--site-id", "1;3"},
            "velnor: error: --site-id 1;3 is not a list of site ids\n"},
           // An unset variable (--site-id "$IDS") chooses no site, not all.
           {"empty-ids",
            {"--discover-sites", "--site-id", ""},
            "velnor: error: --site-id is empty\n"},
           // Nor does an unset --sites "$FILE" leave the choice to others.
           {"empty-sites",
            {"--sites", ""},
            "velnor: error: --sites is empty\n"},
           {"id-without-discovery",
            {"--site-id", "1"},
            "--site-id requires --discover-sites"},
           {"discovery-and-site",
            {"--discover-sites", "--site", "A,C:\\Logs,1"},
            "--site and --discover-sites are given together"},
       }) {
    SCOPED_TRACE(c.name);
    VelnorRun run = Collect(c.name, "WEB01", false, c.options);
    EXPECT_EQ(run.status, 2) << run.err;
    EXPECT_TRUE(Contains(run.err, c.message)) << run.err;
    EXPECT_TRUE(fs::is_empty(Dir() / c.name));
  }
}

// WEB02 has a configuration on C: that logs centrally and an IIS 6 one
// left on D:\WINNT.
void LayOutWeb02(const fs::path& shares) {
  testing::WriteFile(
      shares /
          "WEB02/C$/Windows/System32/inetsrv/config/applicationHost.config",
      testing::ReadFile(kSiteConfigData /
                        "iis85-central-logging.applicationHost.config"));
  testing::WriteFile(
      shares / "WEB02/D$/WINNT/system32/inetsrv/MetaBase.xml",
      testing::ReadFile(kSiteConfigData / "iis6-web-and-ftp.MetaBase.xml"));
}

TEST_F(SitesCommandTest, GivenWindowsDirectoryWins) {
  LayOutWeb02(Shares());
  VelnorRun run = Velnor({"sites", "--server", "WEB02", "--share-root",
                          "shares", "--windows-dir", "WEB02=D:\\WINNT"});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_TRUE(Contains(run.out,
                       "sites of WEB02 read from "
                       "\\\\WEB02\\D$\\WINNT\\system32\\inetsrv\\MetaBase.xml\n"
                       "Windows directory of WEB02: D:\\WINNT (given)\n"))
      << run.out;
  // %WinDir% resolves against the given directory.
  EXPECT_TRUE(
      Contains(run.out, "\\\\WEB02\\D$\\WINNT\\System32\\LogFiles\\W3SVC1"))
      << run.out;
  EXPECT_TRUE(Contains(run.out, "Shop")) << run.out;

  // Its --sites file collects as it is: it carries the directory given,
  // and IIS 6's ten-digit id of Shop.
  VelnorRun listed =
      Velnor({"sites", "--server", "WEB02", "--share-root", "shares",
              "--windows-dir", "WEB02=D:\\WINNT", "--format", "sites"});
  ASSERT_EQ(listed.status, 0) << listed.err;
  EXPECT_TRUE(Contains(listed.out, "\n--windows-dir WEB02=D:\\WINNT\n"))
      << listed.out;
  EXPECT_TRUE(Contains(listed.out, "\nShop,D:\\Logs,1882737290\n"))
      << listed.out;
  testing::WriteFile(Dir() / "web02-sites.txt", listed.out);
  testing::WriteFile(
      Shares() / "WEB02/D$/WINNT/System32/LogFiles/W3SVC1/u_ex240604.log",
      IisLog("2024-06-04", 3));
  testing::WriteFile(Shares() / "WEB02/D$/Logs/W3SVC1882737290/u_ex240605.log",
                     IisLog("2024-06-05", 2));
  VelnorRun collected = Collect("web02-from-file", "WEB02", false,
                                {"--sites", "web02-sites.txt"});
  EXPECT_EQ(collected.status, 0) << collected.err;
  EXPECT_TRUE(
      Contains(collected.err, "collected 2 sites of WEB02 (web): 5 records"))
      << collected.err;
  EXPECT_TRUE(Contains(collected.err, "error log: 0 new lines"))
      << collected.err;
}

// A site's name and id come from the server's configuration, whose XML can
// carry a line break (&#10;). A site not collected for it is a comment of
// the --sites file, and stays one line: what follows the break never
// becomes an option or a site that collect would read.
TEST_F(SitesCommandTest, ALineBreakInTheConfigurationStaysInsideItsComment) {
  testing::WriteFile(
      Shares() /
          "WEB06/C$/Windows/System32/inetsrv/config/"
          "applicationHost.config",
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<configuration>"
      "<system.applicationHost><sites>"
      "<site name=\"Only Web\" id=\"1\"><bindings><binding "
      "protocol=\"http\" bindingInformation=\"*:80:\" /></bindings></site>"
      "<site name=\"Bad&#10;--windows-dir WEB06=D:\\Evil\" id=\"2\">"
      "<bindings><binding protocol=\"http\" bindingInformation=\"*:81:\" />"
      "</bindings></site>"
      "<site name=\"Odd\" id=\"3&#13;&#10;Evil,D:\\Logs,3\"><bindings>"
      "<binding protocol=\"http\" bindingInformation=\"*:82:\" />"
      "</bindings></site>"
      "</sites></system.applicationHost></configuration>\n");
  VelnorRun web = Velnor({"sites", "--server", "WEB06", "--share-root",
                          "shares", "--format", "sites"});
  ASSERT_EQ(web.status, 0) << web.err;
  EXPECT_TRUE(Contains(web.out, "Only Web,")) << web.out;
  EXPECT_TRUE(Contains(web.out, "Evil")) << web.out;
  std::istringstream lines(web.out);
  for (std::string line; std::getline(lines, line);) {
    if (Contains(line, "Evil")) {
      EXPECT_TRUE(line.starts_with("# ")) << web.out;
    }
    EXPECT_EQ(line.find('\r'), std::string::npos) << web.out;
  }
}

// A server without FTP sites lists none, and says so apart from the list,
// which stays a list (a --sites file with no site in it).
TEST_F(SitesCommandTest, AServerWithoutFtpSitesSaysSo) {
  testing::WriteFile(
      Shares() /
          "WEB05/C$/Windows/System32/inetsrv/config/"
          "applicationHost.config",
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<configuration>"
      "<system.applicationHost><sites><site name=\"Only Web\" id=\"1\">"
      "<bindings><binding protocol=\"http\" bindingInformation=\"*:80:\" />"
      "</bindings></site></sites></system.applicationHost></configuration>\n");
  const std::string config =
      "\\\\WEB05\\C$\\Windows\\System32\\inetsrv\\config\\"
      "applicationHost.config";
  for (const char* format : {"text", "sites"}) {
    VelnorRun ftp = Velnor({"sites", "--server", "WEB05", "--share-root",
                            "shares", "--ftp", "--format", format});
    EXPECT_EQ(ftp.status, 0) << ftp.err;
    EXPECT_EQ(ftp.err, "velnor: note: the IIS configuration of WEB05 (" +
                           config +
                           ") has no FTP site\n  help: velnor sites --server "
                           "WEB05 lists its web sites\n");
    EXPECT_FALSE(Contains(ftp.out, "Only Web")) << ftp.out;
  }
  VelnorRun web = Velnor({"sites", "--server", "WEB05", "--share-root",
                          "shares", "--format", "sites"});
  EXPECT_EQ(web.err, "");
  EXPECT_TRUE(Contains(web.out,
                       "\n--windows-dir WEB05=C:\\Windows\n"
                       "Only Web,%SystemDrive%\\inetpub\\logs\\"
                       "LogFiles,1\n"))
      << web.out;
}

TEST_F(SitesCommandTest, CentralLoggingAndUnusableConfigurationsAreRefused) {
  LayOutWeb02(Shares());
  const std::string central =
      "the server writes one central W3C log for all its web sites "
      "(centralLogFileMode=\"CentralW3C\"), which has no log folder per site; "
      "switch IIS to one log file per site to collect them";
  VelnorRun listed =
      Velnor({"sites", "--server", "WEB02", "--share-root", "shares"});
  EXPECT_EQ(listed.status, 0) << listed.err;
  EXPECT_TRUE(Contains(
      listed.out, "web sites of WEB02 cannot be collected: " + central + "\n"))
      << listed.out;
  VelnorRun collect = Collect("central", "WEB02", false, {"--discover-sites"});
  EXPECT_EQ(collect.status, 2) << collect.err;
  EXPECT_TRUE(Contains(collect.err,
                       "velnor: error: the web sites of WEB02 cannot be "
                       "collected: " +
                           central + "\n"))
      << collect.err;
  EXPECT_TRUE(fs::is_empty(Dir() / "central"));

  const std::string config =
      testing::ReadFile(kSiteConfigData / "iis10-sites.applicationHost.config");
  testing::WriteFile(Shares() /
                         "WEB03/C$/Windows/System32/inetsrv/config/"
                         "applicationHost.config",
                     config.substr(0, config.find("<site name=\"Shop\"") + 24));
  testing::WriteFile(Shares() / "WEB04/C$/Data/readme.txt", "");
  struct Case {
    const char* server;
    std::string message;
  };
  for (const Case& c : {
           Case{"WEB03",
                "velnor: error: cannot read the IIS configuration of WEB03: "
                "\\\\WEB03\\C$\\Windows\\System32\\inetsrv\\config\\"
                "applicationHost.config cannot be read as XML: it is not "
                "well-formed XML (line 120: attributes construct error); IIS "
                "would refuse it as well.\n"},
           Case{"WEB04",
                "velnor: error: cannot find the IIS configuration of WEB04: "
                "File not found: no IIS configuration found on WEB04: looked "
                "for System32\\inetsrv\\config\\applicationHost.config and "
                "system32\\inetsrv\\MetaBase.xml under Windows and WINNT on "
                "C$.\n  help: give the server's Windows directory with "
                "--windows-dir WEB04=C:\\Windows"},
       }) {
    SCOPED_TRACE(c.server);
    VelnorRun sites =
        Velnor({"sites", "--server", c.server, "--share-root", "shares"});
    EXPECT_EQ(sites.status, 2) << sites.err;
    EXPECT_TRUE(Contains(sites.err, c.message)) << sites.err;
    EXPECT_EQ(sites.out, "");
    VelnorRun run = Collect(std::string("broken-") + c.server, c.server, false,
                            {"--discover-sites"});
    EXPECT_EQ(run.status, 2) << run.err;
    EXPECT_TRUE(Contains(run.err, c.message)) << run.err;
    EXPECT_TRUE(fs::is_empty(Dir() / (std::string("broken-") + c.server)));
  }
}

}  // namespace
}  // namespace velnor::host
