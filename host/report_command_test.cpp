// `velnor report` as a user runs it: the built binary on a database folder
// made by CreateReportDatabases and filled with plain SQL. Text, CSV and
// JSON are compared with the files in host/testdata/report/; run the test
// with VELNOR_UPDATE_EXPECTED=1 to rewrite them after a deliberate change,
// then read the diff before committing it.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "reportdb/schema.h"
#include "host/testing/velnor_test_support.h"

namespace velnor::host {

using reportdb::CreateReportDatabases;
using reportdb::ReportDatabaseFileName;
using reportdb::ReportKind;
namespace {

namespace fs = std::filesystem;
using testing::ExecSql;
using testing::ReadFile;
using testing::VelnorRun;

class ReportCommandTest : public ::testing::Test {
 protected:
  void SetUp() override { CreateReportDatabases(dir_, "SRV1", false); }

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

  // velnor with `arguments` split at blanks; paths here have none.
  VelnorRun Velnor(const std::string& arguments) const {
    return testing::RunVelnor(testing::Words(arguments), tmp_.path());
  }

  VelnorRun VelnorReport(const std::string& more) const {
    return Velnor("report --db-dir " + dir_ + " --server SRV1 " + more);
  }

  testing::TempDir tmp_{"report_command_test"};
  std::string dir_ = tmp_.path().string();
};

void ExpectMatchesFile(const std::string& actual, const std::string& name) {
  std::string path =
      std::string(VELNOR_SOURCE_DIR) + "/host/testdata/report/" + name;
  if (getenv("VELNOR_UPDATE_EXPECTED") != nullptr) {
    std::ofstream(path, std::ios::binary) << actual;
  }
  EXPECT_EQ(actual, ReadFile(path)) << "differs from " << path;
}

TEST_F(ReportCommandTest, TextCsvAndJsonMatchTheExpectedFiles) {
  FillWebSites();
  for (const char* format : {"text", "csv", "json"}) {
    VelnorRun run = VelnorReport(std::string("--format ") + format);
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, "");
    ExpectMatchesFile(
        run.out,
        std::string("web.") + (format == std::string("text") ? "txt" : format));
  }
}

TEST_F(ReportCommandTest, SiteAndOutputSelectWhatIsWrittenWhere) {
  FillWebSites();
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
  EXPECT_EQ(ReadFile(file), VelnorReport("--format json").out);
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
  EXPECT_EQ(
      VelnorReport("").out,
      "Usage report for server SRV1, web service\n\nNo hits recorded yet.\n");
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
       "the database folder '" + dir_ + "/none' does not exist"},
      {"report --db-dir " + dir_ + " --server SRV1;rm",
       "'SRV1;rm' is not a valid server name"},
      {"report --db-dir " + dir_ + " --server SRV2",
       "expected '" + dir_ + "/QDX_UAWebLogDayOfWeek_SRV2.mdb', '"},
      {"report --db-dir " + dir_ + " --server SRV1",
       "expected '" + Db(ReportKind::kHitsByMonth) + "'. Check --db-dir"},
      {"report --db-dir " + dir_ + " --server SRV1 --format xml",
       "unknown format 'xml'"},
  };
  for (const Case& c : cases) {
    VelnorRun run = Velnor(c.arguments + " --output " + out);
    EXPECT_EQ(run.status, 2) << c.arguments;
    EXPECT_NE(run.err.find(c.message), std::string::npos) << run.err;
    EXPECT_EQ(run.err.rfind("velnor report: ", 0), 0u) << run.err;
    EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
    EXPECT_EQ(run.out, "");
    EXPECT_FALSE(fs::exists(out)) << c.arguments;
  }
  // The command line parser's own mistakes share the status.
  EXPECT_EQ(Velnor("report --server SRV1").status, 2);
  CreateReportDatabases(dir_, "SRV1", false);
  VelnorRun no_site = VelnorReport("--site 7 --output " + out);
  EXPECT_EQ(no_site.status, 2);
  EXPECT_NE(no_site.err.find("site '7' has no rows"), std::string::npos);
  EXPECT_NE(no_site.err.find("(sites with rows: 1, 2, 10)"), std::string::npos);
  EXPECT_FALSE(fs::exists(out));
}

TEST_F(ReportCommandTest, UnreadableDatabaseIsAnErrorNamingTheFile) {
  std::ofstream(Db(ReportKind::kHitsByStatus), std::ios::trunc)
      << "this is not a database, just text that is long enough";
  VelnorRun run = VelnorReport("");
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.err.find(Db(ReportKind::kHitsByStatus)), std::string::npos)
      << run.err;
}

TEST_F(ReportCommandTest, HtmlIsOneSelfContainedPage) {
  FillWebSites();
  VelnorRun run = VelnorReport("--format html");
  ASSERT_EQ(run.status, 0) << run.err;
  const std::string& html = run.out;
  EXPECT_EQ(html.rfind("<!DOCTYPE html>", 0), 0u);
  EXPECT_NE(html.find("</html>\n"), std::string::npos);
  for (const char* outside :
       {"http", "<script", "src=", "url(", "@import", "<link", "<iframe",
        "<object", "<embed", "@font-face"}) {
    EXPECT_EQ(html.find(outside), std::string::npos) << outside;
  }
  EXPECT_EQ(html.find("<Intra>"), std::string::npos);
  EXPECT_NE(html.find("Caf\xC3\xA9 &lt;Intra&gt; &amp; &quot;Co&quot;"),
            std::string::npos);
  EXPECT_NE(html.find("/o&#39;brien.htm"), std::string::npos);
  // One section and six charts or tables per site.
  size_t sections = 0;
  for (size_t at = 0; (at = html.find("<section", at)) != std::string::npos;
       ++at) {
    ++sections;
  }
  EXPECT_EQ(sections, 3u);
}

TEST_F(ReportCommandTest, HtmlRendersInHeadlessChromium) {
  if (access("/usr/bin/chromium", X_OK) != 0) {
    GTEST_SKIP() << "chromium is not installed (Debian package chromium)";
  }
  FillWebSites();
  std::string page = dir_ + "/report.html";
  ASSERT_EQ(VelnorReport("--format html --output " + page).status, 0);
  std::string png = dir_ + "/report.png";
  std::string command =
      "/usr/bin/chromium --headless --no-sandbox --disable-gpu --disable-quic "
      "--no-first-run --disable-background-networking "
      "--disable-component-update --disable-sync --user-data-dir=" +
      dir_ + "/profile --screenshot=" + png +
      " --window-size=1200,1600 file://" + page + " >" + dir_ +
      "/chromium.log 2>&1";
  int status = std::system(command.c_str());
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0)
      << ReadFile(dir_ + "/chromium.log");
  std::string image = ReadFile(png);
  ASSERT_GT(image.size(), 10000u) << ReadFile(dir_ + "/chromium.log");
  EXPECT_EQ(image.substr(0, 8), "\x89PNG\r\n\x1a\n");
  if (const char* keep = getenv("VELNOR_KEEP_SCREENSHOT"))
    fs::copy_file(png, keep, fs::copy_options::overwrite_existing);
}

}  // namespace
}  // namespace velnor::host
