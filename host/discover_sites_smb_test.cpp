// Site discovery over SMB, as a user runs it: the built velnor against a
// real Samba server on 127.0.0.1 serving the C$ and D$ shares of an IIS 10
// server (host/testing/iis_server_shares.h). The drive shares come from
// the server's share listing, the configuration and the logs are read over
// SMB, the FTP site of IIS 8.5 from FTPSVC12; the rows stored must equal
// those of the sites typed by hand and read through a share root that
// holds the very same files. Skipped, with the reason, where smbd cannot
// run.
#include <gtest/gtest.h>

#include <filesystem>

#include "host/testing/iis_server_shares.h"
#include "host/testing/report_rows.h"
#include "host/testing/velnor_test_support.h"
#include "platform/unc/smbd_fixture.h"

namespace velnor::host {
namespace {

namespace fs = std::filesystem;
using testing::VelnorRun;
using unc::smbd::SambaServer;

constexpr char kServer[] = "127.0.0.1";

bool Contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

class DiscoverSitesSmbTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    tmp_ = new testing::TempDir("discover_sites_smb_test");
    const fs::path& dir = tmp_->path();
    testing::LayOutIisServer(dir / "share/C", dir / "share/D");
    fs::create_directories(dir / "root" / kServer);
    fs::create_directory_symlink(dir / "share/C",
                                 dir / "root" / kServer / "C$");
    fs::create_directory_symlink(dir / "share/D",
                                 dir / "root" / kServer / "D$");
    unc::smbd::WriteSmbAuthFile(dir / "auth", unc::smbd::kSmbdPassword);
    server_ = new SambaServer;
    skip_reason_ = server_->Start(dir);
  }

  static void TearDownTestSuite() {
    delete server_;  // stops smbd before its folder goes
    server_ = nullptr;
    delete tmp_;
  }

  void SetUp() override {
    if (!skip_reason_.empty()) GTEST_SKIP() << skip_reason_;
  }

  static fs::path Dir() { return tmp_->path(); }

  static std::vector<std::string> Smb() {
    return {"--smb-auth", (Dir() / "auth").string(), "--smb-port",
            std::to_string(server_->port())};
  }

  // velnor collect of 3 to 5 June 2024 into a new database folder `name`.
  static VelnorRun Collect(const std::string& name, bool ftp,
                           std::vector<std::string> more) {
    fs::create_directory(Dir() / name);
    std::vector<std::string> args = {
        "collect",    "--server", kServer, "--from",      "2024-06-03", "--to",
        "2024-06-05", "--db-dir", name,    "--create-db", "--no-tui"};
    if (ftp) args.emplace_back("--ftp");
    args.insert(args.end(), more.begin(), more.end());
    return testing::RunVelnor(args, Dir());
  }

  static inline testing::TempDir* tmp_ = nullptr;
  static inline SambaServer* server_ = nullptr;
  static inline std::string skip_reason_;
};

TEST_F(DiscoverSitesSmbTest, DiscoveredOverSmbStoresTheRowsOfHandTypedSites) {
  for (bool ftp : {false, true}) {
    const std::string word = ftp ? "ftp" : "web";
    SCOPED_TRACE(word);
    std::vector<std::string> options = Smb();
    options.emplace_back("--discover-sites");
    VelnorRun discovered = Collect("smb-" + word, ftp, options);
    EXPECT_EQ(discovered.status, 0) << discovered.err;
    EXPECT_TRUE(Contains(discovered.err,
                         "\nsites of 127.0.0.1 read from \\\\127.0.0.1\\C$\\"
                         "Windows\\System32\\inetsrv\\config\\"
                         "applicationHost.config\nWindows directory of "
                         "127.0.0.1: C:\\Windows (found on C$)\n"))
        << discovered.err;

    std::vector<std::string> typed = {"--share-root", "root", "--windows-dir",
                                      "127.0.0.1=C:\\Windows"};
    for (const std::string& site :
         ftp ? testing::HandTypedFtpSites() : testing::HandTypedWebSites()) {
      typed.insert(typed.end(), {"--site", site});
    }
    VelnorRun by_hand = Collect("typed-" + word, ftp, typed);
    EXPECT_EQ(by_hand.status, 0) << by_hand.err;

    const std::string summary =
        std::string(ftp ? "collected 2 sites of 127.0.0.1 (ftp): "
                        : "collected 4 sites of 127.0.0.1 (web): ") +
        std::to_string(testing::RecordsOfCollectedSites(
            Dir() / "share/C", Dir() / "share/D", ftp)) +
        " records in ";
    EXPECT_TRUE(Contains(discovered.err, summary)) << discovered.err;
    EXPECT_TRUE(Contains(by_hand.err, summary)) << by_hand.err;
    if (ftp) {
      EXPECT_TRUE(Contains(discovered.err,
                           "FTP site 12 \"Public FTP\": read from "
                           "\\\\127.0.0.1\\D$\\FtpLogs\\FTPSVC12"))
          << discovered.err;
    }
    EXPECT_EQ(testing::AllReportRows(Dir() / ("smb-" + word), kServer, ftp),
              testing::AllReportRows(Dir() / ("typed-" + word), kServer, ftp));
  }
}

TEST_F(DiscoverSitesSmbTest, SitesOverSmbListWhatTheShareRootShows) {
  for (const char* format : {"text", "json"}) {
    SCOPED_TRACE(format);
    std::vector<std::string> smb = {"sites", "--server", kServer,
                                    "--ftp", "--format", format};
    std::vector<std::string> mapped = smb;
    for (const std::string& option : Smb()) smb.push_back(option);
    mapped.insert(mapped.end(), {"--share-root", "root"});
    VelnorRun over_smb = testing::RunVelnor(smb, Dir());
    VelnorRun through_root = testing::RunVelnor(mapped, Dir());
    EXPECT_EQ(over_smb.status, 0) << over_smb.err;
    EXPECT_EQ(over_smb.out, through_root.out);
    EXPECT_TRUE(Contains(over_smb.out, "FTPSVC12")) << over_smb.out;
  }
}

}  // namespace
}  // namespace velnor::host
