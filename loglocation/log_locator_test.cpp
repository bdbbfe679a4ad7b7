// Resolution of configured log directories into administrative-share paths,
// directory listings, the error-log lines of both, and the two together
// finding a site's log files under a share root.
#include "loglocation/log_locator.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "dbsupport/error_log.h"
#include "platform/automation/error_state.h"
#include "platform/unc/unc.h"
#include "platform/wmi/wmi.h"
#include "testing/test_support.h"

namespace velnor {
namespace {

namespace fs = std::filesystem;
using automation::StringArray;

class LogLocatorTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::permissions(dir_, fs::perms::owner_all | fs::perms::others_exec);
    gstrErrorLogPath = (dir_ / "errors.log").string();
    windows_directories_.Set("SRV1", "C:\\WINDOWS");
  }
  void TearDown() override { gstrErrorLogPath.clear(); }

  std::vector<std::string> ErrorLogLines() const {
    return testing::ReadLines(gstrErrorLogPath);
  }

  static void Touch(const fs::path& path) { testing::WriteFile(path, "x"); }

  static StringArray Sorted(StringArray names) {
    std::sort(names.begin(), names.end());
    return names;
  }

  testing::TempDir tmp_{"log_locator"};
  const fs::path dir_ = tmp_.path();
  std::string mstrServerName = "SRV1";
  wmi::WindowsDirectories windows_directories_;
  unc::ShareAccess shares_;
  LogLocator locator_{mstrServerName, windows_directories_, shares_};
};

TEST_F(LogLocatorTest, PercentPathsTakeTheServersWindowsDirectory) {
  EXPECT_EQ(locator_.GetLogFilePath("%WinDir%\\System32\\LogFiles"),
            "\\\\SRV1\\C$\\WINDOWS\\System32\\LogFiles");
  // The variable's name plays no part, and every colon of the Windows
  // directory becomes a dollar.
  windows_directories_.Set("srv1", "E:\\OS:2");
  EXPECT_EQ(locator_.GetLogFilePath("%SystemRoot%\\a\\b"),
            "\\\\SRV1\\E$\\OS$2\\a\\b");
  EXPECT_EQ(locator_.GetLogFilePath("%WinDir%"), "\\\\SRV1\\E$\\OS$2");
  // A leading blank makes it an ordinary path.
  EXPECT_EQ(locator_.GetLogFilePath(" %WinDir%\\x"), "\\\\SRV1\\ %WinDir%\\x");
  EXPECT_TRUE(ErrorLogLines().empty());
}

TEST_F(LogLocatorTest, OtherPathsGoThroughTheAdministrativeShare) {
  EXPECT_EQ(locator_.GetLogFilePath("D:\\Logs\\Web"),
            "\\\\SRV1\\D$\\Logs\\Web");
  EXPECT_EQ(locator_.GetLogFilePath("D:\\a:b\\c:"), "\\\\SRV1\\D$\\a$b\\c$");
  EXPECT_EQ(locator_.GetLogFilePath("Logs"), "\\\\SRV1\\Logs");
  EXPECT_EQ(locator_.GetLogFilePath(""), "\\\\SRV1\\");
  EXPECT_EQ(locator_.GetLogFilePath("\\\\X\\Y"), "\\\\SRV1\\\\\\X\\Y");
}

TEST_F(LogLocatorTest, ServerArgumentReplacesTheServerForGood) {
  EXPECT_EQ(locator_.GetLogFilePath("D:\\Logs", "SRV2"), "\\\\SRV2\\D$\\Logs");
  EXPECT_EQ(mstrServerName, "SRV2");
  EXPECT_EQ(locator_.GetLogFilePath("D:\\Logs", ""), "\\\\SRV2\\D$\\Logs");
  EXPECT_EQ(mstrServerName, "SRV2");
  windows_directories_.Set("SRV2", "C:\\WINNT");
  EXPECT_EQ(locator_.GetLogFilePath("%WinDir%\\x"), "\\\\SRV2\\C$\\WINNT\\x");
}

TEST_F(LogLocatorTest, UnreachableServerLogsTheWmiFailure) {
  EXPECT_EQ(locator_.GetLogFilePath("%WinDir%\\System32\\LogFiles", "SRV9"),
            "");
  EXPECT_EQ(mstrServerName, "SRV9");
  EXPECT_EQ(automation::Err().Number(), 0);
  std::vector<std::string> lines = ErrorLogLines();
  ASSERT_EQ(lines.size(), 1u);
  std::string expected_tail =
      "\tVELNORLogAnalysis-LogParser(WMI)        "
      "\tGetLogFilePath                          "
      "\t  800706BA"
      "\tThe RPC server is unavailable.\r";
  EXPECT_TRUE(lines[0].ends_with(expected_tail)) << lines[0];
  // A drive-letter path needs no WMI and still resolves.
  EXPECT_EQ(locator_.GetLogFilePath("D:\\Logs"), "\\\\SRV9\\D$\\Logs");
  EXPECT_EQ(ErrorLogLines().size(), 1u);
}

// A folder that cannot be searched (missing, or on a server no share root
// holds) looks the same as an empty one, and is not logged.
TEST_F(LogLocatorTest, NothingToListGivesOneEmptyName) {
  fs::create_directory(dir_ / "empty");
  shares_.share_root = dir_.string();
  const StringArray nothing{""};
  EXPECT_EQ(locator_.GetLogFilesFromDirectory((dir_ / "empty").string()),
            nothing);
  EXPECT_EQ(locator_.GetLogFilesFromDirectory((dir_ / "missing").string()),
            nothing);
  EXPECT_EQ(locator_.GetLogFilesFromDirectory("\\\\SRV1\\C$\\Logs"), nothing);
  EXPECT_TRUE(ErrorLogLines().empty());
}

// Permission denied is not an error for the caller either: the folder
// lists as nothing, like a missing one.
TEST_F(LogLocatorTest, UnreadableDirectoryGivesOneEmptyName) {
  fs::create_directory(dir_ / "locked");
  fs::permissions(dir_ / "locked", fs::perms::owner_all);
  Touch(dir_ / "locked" / "a.log");
  const std::string path = (dir_ / "locked").string();
  fs::permissions(dir_ / "locked", fs::perms::none);
  EXPECT_EQ(testing::RunUnprivileged([&] {
              return locator_.GetLogFilesFromDirectory(path) == StringArray{""}
                         ? 0
                         : 1;
            }),
            0);
  fs::permissions(dir_ / "locked", fs::perms::owner_all);
}

TEST_F(LogLocatorTest, ListsEveryEntryByNameOnly) {
  for (const char* name :
       {"a", "b", "c", "with blank.log", "caf\xc3\xa9.log", "\xe9t\xe9.log"}) {
    Touch(dir_ / "site" / name);
  }
  fs::create_directory(dir_ / "site" / "old logs");
  EXPECT_EQ(Sorted(locator_.GetLogFilesFromDirectory((dir_ / "site").string())),
            (StringArray{"a", "b", "c", "caf\xc3\xa9.log", "old logs",
                         "with blank.log", "\xe9t\xe9.log"}));
}

TEST_F(LogLocatorTest, FindsASitesLogFilesThroughTheShareRoot) {
  const fs::path share = dir_ / "root" / "SRV1";
  const fs::path web = share / "C$/WINDOWS/system32/LogFiles/W3SVC1";
  const fs::path ftp = share / "D$/Logs/MSFTPSVC1";
  Touch(web / "ex070312.log");
  Touch(web / "ex070313.log");
  Touch(ftp / "ex070312.log");
  shares_.share_root = (dir_ / "root").string();

  std::string web_dir =
      locator_.GetLogFilePath("%WinDir%\\System32\\LogFiles") + "\\W3SVC1";
  EXPECT_EQ(web_dir, "\\\\SRV1\\C$\\WINDOWS\\System32\\LogFiles\\W3SVC1");
  StringArray web_files = locator_.GetLogFilesFromDirectory(web_dir);
  EXPECT_EQ(Sorted(web_files), (StringArray{"ex070312.log", "ex070313.log"}));

  std::string ftp_dir = locator_.GetLogFilePath("D:\\Logs") + "\\MSFTPSVC1";
  EXPECT_EQ(locator_.GetLogFilesFromDirectory(ftp_dir),
            StringArray{"ex070312.log"});
}

}  // namespace
}  // namespace velnor
