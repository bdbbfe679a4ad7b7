// The site readers on IIS configuration files (a real IIS 6 MetaBase.xml and
// files in the form IIS writes them, under testdata/), on hostile and broken
// files, and the search for a server's configuration through a share root.
// Each case states every site expected, as "service<TAB>descriptor", with
// "<TAB>not collected: reason" for a site that is not collected.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "platform/unc/unc.h"
#include "siteconfig/server_config.h"
#include "testing/raised_error.h"
#include "testing/test_support.h"

namespace velnor::siteconfig {
namespace {

namespace fs = std::filesystem;
using automation::AutomationError;
using testing::ErrorOf;
using testing::ReadFile;
using Lines = std::vector<std::string>;

const fs::path kTestData = fs::path(VELNOR_SOURCE_DIR) / "siteconfig/testdata";
// The log folder of a site that names none.
const std::string kDefault = "%SystemDrive%\\inetpub\\logs\\LogFiles";

Lines Describe(const IisSites& sites) {
  Lines lines;
  for (const IisSite& site : sites.sites) {
    std::string line =
        std::string(ServiceWord(site.service)) + "\t" + Descriptor(site);
    if (!site.not_collected.empty()) {
      line += "\tnot collected: " + site.not_collected;
    }
    lines.push_back(line);
  }
  return lines;
}

IisSites Parse(const std::string& bytes, const std::string& source = "test") {
  return ReadIisSites(XmlDocument::Parse(bytes, source), source);
}

Lines SitesOf(const std::string& file) {
  return Describe(Parse(ReadFile(kTestData / file), file));
}

// Long expected lines are split over several literals.
// NOLINTBEGIN(bugprone-suspicious-missing-comma)
TEST(IisConfigurationTest, EveryFileGivesAllItsSitesAndWhySomeAreNotCollected) {
  const std::pair<const char*, Lines> kFiles[] = {
      // A real IIS 6 MetaBase.xml.
      {"iis6-metabase-1web-templates.xml",
       {"web\tDefault Web Site,C:\\WINDOWS\\system32\\LogFiles,1"}},
      {"iis6-web-and-ftp.MetaBase.xml",
       {
           "web\tDefault Web Site,%WinDir%\\System32\\LogFiles,1",
           "web\tIntranet Test,%WinDir%\\System32\\LogFiles,4\tnot collected: "
           "logging is off (LogType=\"0\")",
           "web\tOld Shop,%WinDir%\\System32\\LogFiles,5\tnot collected: it "
           "logs in another format than W3C "
           "(LogPluginClsid=\"{FF160657-DE82-11CF-BC0A-00AA006111E0}\")",
           "web\tShop,D:\\Logs,1882737290",
           "ftp\tDefault FTP Site,E:\\FtpLogs,1",
           "ftp\tPartners FTP,D:\\Logs\\Partners FTP,3",
       }},
      {"iis10-sites.applicationHost.config",
       {
           "web\tDefault Web Site," + kDefault + ",1",
           "web\tIntranet," + kDefault + ",3",
           "web\tReports,D:\\Logs\\Reports,4\tnot collected: it logs in the "
           "NCSA format, not W3C (logFile logFormat=\"NCSA\")",
           "web\tLegacy," + kDefault +
               ",5\tnot collected: logging is off (logFile enabled=\"false\")",
           "web\tShop,D:\\Logs\\Shop,7",
           "web\tPartners,C:\\inetpub\\logs\\Partners,9",
           "web\tPublic FTP," + kDefault +
               ",12\tnot collected: it serves FTP only (all its bindings are "
               "ftp)",
           "ftp\tPartners," + kDefault + ",9",
           "ftp\tPublic FTP,D:\\FtpLogs,12",
       }},
      // Rewritten by IIS with its built-in defaults left out.
      {"iis75-builtin-defaults.applicationHost.config",
       {
           "web\tDefault Web Site," + kDefault + ",1",
           // Extranet does not log, so its namesake's id is free.
           "web\tExtranet,C:\\WebLogs,2\tnot collected: logging is off "
           "(httpLogging dontLog=\"true\")",
           "web\tExtranet Copy," + kDefault + ",2",
           "web\tBlog, News," + kDefault +
               ",8\tnot collected: its name holds a comma, which a site "
               "descriptor cannot carry",
           "web\tStaging,\\\\fileserver\\iislogs,15\tnot collected: its logs "
           "go to the network share \\\\fileserver\\iislogs, not to a folder "
           "of the server",
           "web\tUploads," + kDefault +
               ",20\tnot collected: it serves FTP only (all its bindings are "
               "ftp)",
           "web\tTelemetry," + kDefault +
               ",30\tnot collected: it logs to event tracing only, not to "
               "files (logFile logTargetW3C=\"ETW\")",
           "ftp\tUploads," + kDefault + ",20",
       }},
  };
  for (const auto& [file, sites] : kFiles) {
    SCOPED_TRACE(file);
    EXPECT_EQ(SitesOf(file), sites);
  }
}

// NOLINTEND(bugprone-suspicious-missing-comma)

TEST(IisConfigurationTest, ServerWideHttpLoggingOffUnlessASiteTurnsItOn) {
  IisSites sites = Parse(
      "<configuration><system.applicationHost><sites>"
      "<site name=\"A\" id=\"1\"/><site name=\"B\" id=\"2\"/>"
      "<site name=\"C\" id=\"3\"/>"
      "</sites></system.applicationHost>"
      "<system.webServer><httpLogging dontLog=\"true\"/></system.webServer>"
      "<location path=\"b/\"><system.webServer><httpLogging "
      "dontLog=\"false\"/></system.webServer></location>"
      "<location path=\"C\"><system.webServer><directoryBrowse "
      "enabled=\"true\"/></system.webServer></location>"
      "</configuration>");
  const std::string kOff =
      "\tnot collected: logging is off (httpLogging dontLog=\"true\")";
  EXPECT_EQ(Describe(sites), (Lines{"web\tA," + kDefault + ",1" + kOff,
                                    "web\tB," + kDefault + ",2",
                                    "web\tC," + kDefault + ",3" + kOff}));
  // The server's setting in the <location path=""> IIS writes to unlock
  // the section.
  for (const char* path : {"", "."}) {
    SCOPED_TRACE(path);
    IisSites unlocked = Parse(
        std::string("<configuration><system.applicationHost><sites>"
                    "<site name=\"A\" id=\"1\"/><site name=\"B\" id=\"2\"/>"
                    "</sites></system.applicationHost>"
                    "<location path=\"") +
        path +
        "\" overrideMode=\"Allow\"><system.webServer><httpLogging "
        "dontLog=\"true\"/></system.webServer></location>"
        "<location path=\"B\"><system.webServer><httpLogging "
        "dontLog=\"false\"/></system.webServer></location>"
        "</configuration>");
    EXPECT_EQ(Describe(unlocked), (Lines{"web\tA," + kDefault + ",1" + kOff,
                                         "web\tB," + kDefault + ",2"}));
  }
}

TEST(IisConfigurationTest, FtpSettingsWithoutAnFtpBindingServeNoFtp) {
  IisSites sites = Parse(
      "<configuration><system.applicationHost><sites>"
      "<site name=\"A\" id=\"1\"><bindings><binding protocol=\"http\" "
      "bindingInformation=\"*:80:\"/></bindings><ftpServer><logFile "
      "directory=\"D:\\Ftp\"/></ftpServer></site>"
      "<site name=\"B\" id=\"2\"><bindings><binding protocol=\"FTP\" "
      "bindingInformation=\"*:21:\"/></bindings></site>"
      "</sites></system.applicationHost></configuration>");
  EXPECT_EQ(Describe(sites),
            (Lines{"web\tA," + kDefault + ",1",
                   "web\tB," + kDefault +
                       ",2\tnot collected: it serves FTP only (all its "
                       "bindings are ftp)",
                   "ftp\tA,D:\\Ftp,1\tnot collected: it has FTP settings "
                   "(ftpServer) but no ftp binding, so it serves no FTP",
                   "ftp\tB," + kDefault + ",2"}));
}

TEST(IisConfigurationTest, CentralLoggingMarksEverySiteOfTheService) {
  IisSites sites = Parse(
      ReadFile(kTestData / "iis85-central-logging.applicationHost.config"));
  const std::string web =
      "the server writes one central W3C log for all its web sites "
      "(centralLogFileMode=\"CentralW3C\"), which has no log folder per site; "
      "switch IIS to one log file per site to collect them";
  const std::string ftp =
      "the server writes one central log for all its FTP sites "
      "(system.ftpServer log centralLogFileMode=\"Central\"), which has no "
      "log folder per site; switch IIS to one log file per site to collect "
      "them";
  EXPECT_EQ(sites.web_unsupported, web);
  EXPECT_EQ(sites.ftp_unsupported, ftp);
  EXPECT_EQ(
      Describe(sites),
      (Lines{
          "web\tDefault Web Site," + kDefault + ",1\tnot collected: " + web,
          "web\tShop,D:\\Logs,2\tnot collected: " + web,
          "ftp\tDefault Web Site," + kDefault + ",1\tnot collected: " + ftp,
      }));
}

TEST(IisConfigurationTest, DirectoriesTheSharesCannotReachAndPaddedIds) {
  auto site = [](const std::string& directory) {
    return "<configuration><system.applicationHost><sites><site name=\"S\" "
           "id=\"007\"><logFile directory=\"" +
           directory +
           "\"/></site></sites></system.applicationHost></configuration>";
  };
  struct Case {
    std::string directory;
    std::string reason;  // "" when collected
  };
  for (const Case& c : std::vector<Case>{
           {"%SystemRoot%\\System32\\LogFiles", ""},
           {"%windir%\\System32\\LogFiles", ""},
           {"E:\\", ""},
           {"%LogRoot%\\W3",
            "its log directory %LogRoot%\\W3 starts with a "
            "variable only the server knows"},
           {"D:\\%COMPUTERNAME%\\Logs",
            "its log directory "
            "D:\\%COMPUTERNAME%\\Logs holds a "
            "variable only the server knows"},
           {"Logs\\W3",
            "its log directory \"Logs\\W3\" is not a path that "
            "starts with a drive letter"},
           {"D:\\Logs,Old",
            "its log directory D:\\Logs,Old holds a comma, "
            "which a site descriptor cannot carry"},
       }) {
    IisSites sites = Parse(site(c.directory));
    ASSERT_EQ(sites.sites.size(), 1u) << c.directory;
    EXPECT_EQ(sites.sites[0].id, "7");
    EXPECT_EQ(sites.sites[0].log_directory, c.directory);
    EXPECT_EQ(sites.sites[0].not_collected, c.reason) << c.directory;
  }
}

// A name a line of a --sites file would lose or change: the site is left
// out of discovery as well, so that both collect the same sites.
TEST(IisConfigurationTest, NamesASitesFileCannotCarryAreNotCollected) {
  const std::string kBreak =
      "its name holds a control character (a line break or tab, say), which "
      "a line of a --sites file cannot carry";
  const std::string kStart =
      "its name starts with \"#\" or a blank, which a --sites file takes "
      "for a comment or drops; give it by hand with --site";
  struct Case {
    std::string name;  // as written in the attribute
    std::string reason;
  };
  for (const Case& c : std::vector<Case>{
           {"Shop #2", ""},
           {"", "it has no name, which a site descriptor needs"},
           {"   ", "it has no name, which a site descriptor needs"},
           {"Shop&#10;Old,C:\\Windows,3",
            "its name holds a comma, which a "
            "site descriptor cannot carry"},
           {"Shop&#10;Old", kBreak},
           {"Shop&#9;Old", kBreak},
           {"#1 Shop", kStart},
           {" Shop", kStart},
       }) {
    SCOPED_TRACE(c.name);
    IisSites sites = Parse(
        "<configuration><system.applicationHost><sites><site name=\"" + c.name +
        "\" id=\"2\"/></sites></system.applicationHost>"
        "</configuration>");
    ASSERT_EQ(sites.sites.size(), 1u);
    EXPECT_EQ(sites.sites[0].not_collected, c.reason);
  }
  IisSites metabase = Parse(
      "<configuration><MBProperty><IIsWebServer Location=\"/LM/W3SVC/4\"/>"
      "</MBProperty></configuration>");
  ASSERT_EQ(metabase.sites.size(), 1u);
  EXPECT_EQ(metabase.sites[0].not_collected,
            "it has no name, which a site descriptor needs");
  IisSites directory = Parse(
      "<configuration><system.applicationHost><sites><site name=\"S\" "
      "id=\"2\"><logFile directory=\"D:\\Logs&#10;Old\"/></site></sites>"
      "</system.applicationHost></configuration>");
  ASSERT_EQ(directory.sites.size(), 1u);
  EXPECT_EQ(directory.sites[0].not_collected,
            "its log directory holds a control character (a line break or "
            "tab, say), which a line of a --sites file cannot carry");
}

class HostileFileTest : public ::testing::Test {
 protected:
  // The one-line error that reading `bytes` gives; nothing may be printed.
  static std::string ErrorLine(const std::string& bytes) {
    ::testing::internal::CaptureStderr();
    AutomationError error = ErrorOf([&] { Parse(bytes, "\\\\SRV\\cfg"); });
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(error.number(), kErrInvalidFileFormat);
    EXPECT_EQ(error.description().find('\n'), std::string::npos);
    EXPECT_TRUE(error.description().starts_with("\\\\SRV\\cfg "))
        << error.description();
    return error.description();
  }
};

TEST_F(HostileFileTest, EntitiesAreNeverExpandedNorFetched) {
  std::string laughs =
      "<?xml version=\"1.0\"?>\n<!DOCTYPE configuration [\n"
      " <!ENTITY lol \"lol\">\n";
  for (int i = 1; i <= 9; ++i) {
    std::string previous = i == 1 ? "lol" : "lol" + std::to_string(i - 1);
    laughs += " <!ENTITY lol" + std::to_string(i) + " \"";
    for (int j = 0; j < 10; ++j) laughs += "&" + previous + ";";
    laughs += "\">\n";
  }
  laughs +=
      "]>\n<configuration><system.applicationHost><sites><site name=\"&lol9;\" "
      "id=\"1\"/></sites></system.applicationHost></configuration>\n";
  EXPECT_NE(ErrorLine(laughs).find("document type declaration"),
            std::string::npos);

  char pattern[] = "/tmp/siteconfig_secret_XXXXXX";
  int fd = ::mkstemp(pattern);
  ASSERT_GE(fd, 0);
  const std::string secret = "TOP-SECRET-7f3a9";
  testing::WriteFile(pattern, secret);
  for (const std::string& reference :
       {std::string("<site name=\"&xxe;\" id=\"1\"/>"),
        std::string("<site name=\"x\" id=\"1\">&xxe;</site>")}) {
    std::string xxe =
        "<?xml version=\"1.0\"?>\n<!DOCTYPE configuration [\n <!ENTITY xxe "
        "SYSTEM \"file://" +
        std::string(pattern) +
        "\">\n]>\n"
        "<configuration><system.applicationHost><sites>" +
        reference + "</sites></system.applicationHost></configuration>\n";
    std::string line = ErrorLine(xxe);
    EXPECT_NE(line.find("document type declaration"), std::string::npos);
    EXPECT_EQ(line.find(secret), std::string::npos);
  }
  ::close(fd);
  fs::remove(pattern);
}

TEST_F(HostileFileTest, BrokenOrHugeFilesNameTheLineOrTheSize) {
  const std::string good =
      ReadFile(kTestData / "iis10-sites.applicationHost.config");
  std::string truncated = good.substr(0, good.size() / 2);
  std::string line = ErrorLine(truncated);
  EXPECT_NE(line.find("is not well-formed XML (line "), std::string::npos)
      << line;

  EXPECT_EQ(ErrorLine(""), "\\\\SRV\\cfg cannot be read as XML: it is empty.");
  EXPECT_NE(ErrorLine("<configuration><sites></configuration>")
                .find("line 1: Opening and ending tag mismatch"),
            std::string::npos);
  EXPECT_EQ(ErrorLine("<html><body/></html>"),
            "\\\\SRV\\cfg is not an IIS configuration: it has neither "
            "<configuration><system.applicationHost> (IIS 7 and later) nor "
            "<configuration><MBProperty> (IIS 6).");
  // Nesting deeper than any configuration stops at libxml2's depth limit.
  std::string deep = "<configuration>";
  for (int i = 0; i < 100000; ++i) deep += "<a>";
  EXPECT_NE(ErrorLine(deep).find("not well-formed"), std::string::npos);
  // Input beyond the limit is refused before parsing.
  std::string big(kMaxXmlBytes + 1, ' ');
  big.replace(0, 15, "<configuration>");
  EXPECT_NE(ErrorLine(big).find("is larger than 32 MB"), std::string::npos);
}

TEST_F(HostileFileTest, EncodingsAreTakenAsDeclaredOrRefused) {
  const std::string utf8 =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<configuration><system."
      "applicationHost><sites><site name=\"Caf\xC3\xA9\" id=\"1\"/></sites>"
      "</system.applicationHost></configuration>\r\n";
  const Lines expected{"web\tCaf\xC3\xA9," + kDefault + ",1"};
  EXPECT_EQ(Describe(Parse(utf8)), expected);

  // UTF-16 with its byte order mark is XML like any other.
  std::string utf16 = "\xFF\xFE";
  std::string declared16 = utf8;
  declared16.replace(declared16.find("UTF-8"), 5, "UTF-16");
  for (size_t i = 0; i < declared16.size(); ++i) {
    unsigned char c = declared16[i];
    if (c == 0xC3) {  // é
      utf16 += "\xE9";
      utf16 += '\0';
      ++i;
    } else {
      utf16 += static_cast<char>(c);
      utf16 += '\0';
    }
  }
  EXPECT_EQ(Describe(Parse(utf16)), expected);

  EXPECT_NE(ErrorLine(declared16).find("UTF-16"), std::string::npos);
  std::string latin1 = utf8;
  // One character, not the string "\xE9": GCC 12 warns falsely
  // (-Wrestrict) of replacing by a literal in optimised builds.
  latin1.replace(latin1.find("\xC3\xA9"), 2, 1, '\xE9');
  EXPECT_NE(ErrorLine(latin1).find("not proper UTF-8"), std::string::npos);
}

// A share root made in a temporary folder; SRV's drives are its folders.
class ServerConfigTest : public ::testing::Test {
 protected:
  void SetUp() override { shares_.share_root = root_.string(); }

  void Put(const std::string& path, const std::string& text) {
    testing::WriteFile(root_ / "SRV" / path, text);
  }
  // Puts a MetaBase.xml or an applicationHost.config below `windows`.
  void PutConfig(const std::string& windows, bool metabase) {
    std::string path = windows + "/" +
                       (metabase ? "system32/inetsrv/MetaBase.xml"
                                 : "System32/inetsrv/config/"
                                   "applicationHost.config");
    Put(path, ReadFile(kTestData /
                       (metabase ? "iis6-web-and-ftp.MetaBase.xml"
                                 : "iis10-sites.applicationHost.config")));
  }

  testing::TempDir tmp_{"siteconfig_test"};
  const fs::path root_ = tmp_.path();
  unc::ShareAccess shares_;
};

TEST_F(ServerConfigTest, FirstDriveWithWindowsOrWinntHoldingAConfiguration) {
  Put("C$/Data/readme.txt", "");
  Put("print$/x.txt", "");
  PutConfig("D$/winnt", true);
  PutConfig("E$/Windows", false);
  ServerConfig found = FindServerConfig(shares_, "SRV", "");
  EXPECT_EQ(found.windows_directory, "D:\\winnt");
  EXPECT_EQ(found.path, "\\\\SRV\\D$\\winnt\\system32\\inetsrv\\MetaBase.xml");
  EXPECT_EQ(ReadServerSites(shares_, found.path).Of(IisService::kFtp).size(),
            2u);

  // Given, the Windows directory is the only place looked in.
  found = FindServerConfig(shares_, "SRV", "E:\\Windows");
  EXPECT_EQ(found.windows_directory, "E:\\Windows");
  EXPECT_EQ(found.path,
            "\\\\SRV\\E$\\Windows\\System32\\inetsrv\\config\\"
            "applicationHost.config");
  EXPECT_EQ(Describe(ReadServerSites(shares_, found.path)),
            SitesOf("iis10-sites.applicationHost.config"));

  // applicationHost.config wins over a MetaBase.xml left beside it.
  PutConfig("C$/WINDOWS", false);
  PutConfig("C$/WINDOWS", true);
  found = FindServerConfig(shares_, "srv", "");
  EXPECT_EQ(found.windows_directory, "C:\\WINDOWS");
  EXPECT_EQ(found.path,
            "\\\\srv\\C$\\WINDOWS\\System32\\inetsrv\\config\\"
            "applicationHost.config");
}

TEST_F(ServerConfigTest, MissingConfigurationSaysWhereItLooked) {
  Put("C$/Windows/win.ini", "");
  Put("D$/Data/readme.txt", "");
  AutomationError error =
      ErrorOf([&] { FindServerConfig(shares_, "SRV", ""); });
  EXPECT_EQ(error.number(), automation::kErrFileNotFound);
  EXPECT_EQ(error.description(),
            "File not found: no IIS configuration found on SRV: looked for "
            "System32\\inetsrv\\config\\applicationHost.config and "
            "system32\\inetsrv\\MetaBase.xml under Windows and WINNT on C$, "
            "D$.");
  error = ErrorOf([&] { FindServerConfig(shares_, "SRV", "D:\\WINNT"); });
  EXPECT_EQ(error.number(), automation::kErrFileNotFound);
  EXPECT_NE(error.description().find("no IIS configuration in "
                                     "\\\\SRV\\D$\\WINNT"),
            std::string::npos)
      << error.description();
  EXPECT_EQ(
      ErrorOf([&] { FindServerConfig(shares_, "SRV", "Windows"); }).number(),
      automation::kErrInvalidProcedureCall);
}

TEST_F(ServerConfigTest, HundredMegabyteFileIsNotReadWhole) {
  fs::path big = root_ /
                 "SRV/C$/Windows/System32/inetsrv/config/"
                 "applicationHost.config";
  fs::create_directories(big.parent_path());
  {
    std::ofstream out(big, std::ios::binary);
    out << "<configuration><system.applicationHost><sites>";
    const std::string site =
        "<site name=\"Padding\" id=\"1\"><bindings><binding protocol=\"http\" "
        "bindingInformation=\"*:80:\"/></bindings></site>\r\n";
    for (size_t written = 0; written < 100u << 20; written += site.size()) {
      out << site;
    }
    out << "</sites></system.applicationHost></configuration>";
  }
  ASSERT_GT(fs::file_size(big), 100u << 20);
  ServerConfig found = FindServerConfig(shares_, "SRV", "");
  AutomationError error =
      ErrorOf([&] { ReadServerSites(shares_, found.path); });
  EXPECT_EQ(error.number(), kErrInvalidFileFormat);
  EXPECT_NE(error.description().find("is larger than 32 MB"), std::string::npos)
      << error.description();
}

}  // namespace
}  // namespace velnor::siteconfig
