// The error-log line, byte for byte, and the writer's silence on failure.
#include "dbsupport/error_log.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "testing/test_support.h"

namespace velnor {
namespace {

std::time_t LocalTime(int y, int mo, int d, int h, int mi, int s) {
  std::tm t{};
  t.tm_year = y - 1900;
  t.tm_mon = mo - 1;
  t.tm_mday = d;
  t.tm_hour = h;
  t.tm_min = mi;
  t.tm_sec = s;
  t.tm_isdst = -1;
  return std::mktime(&t);
}

TEST(ErrorLogTest, LineMatchesTheDocumentedLayout) {
  std::time_t at = LocalTime(2007, 3, 12, 14, 5, 9);
  EXPECT_EQ(FormatErrorLogLine(at, 0, "Connection failed-WebLogHitsByHour",
                               "VELNORLogAnalysis-LogParser",
                               "CollectDataFromLogFile"),
            "03/12/2007 14:05:09\t"
            "VELNORLogAnalysis-LogParser             \t"
            "CollectDataFromLogFile                  \t"
            "         0\t"
            "Connection failed-WebLogHitsByHour\r\n");
  EXPECT_NE(FormatErrorLogLine(at, 3021, "", "s", "p").find("\t       BCD\t"),
            std::string::npos);
  EXPECT_NE(FormatErrorLogLine(at, -1, "", "s", "p").find("\t  FFFFFFFF\t"),
            std::string::npos);
  EXPECT_NE(FormatErrorLogLine(at, 1, "duplicate key\nDETAIL:  Key\r\nCONTEXT",
                               "s", "p")
                .find("\tduplicate key DETAIL:  Key CONTEXT\r\n"),
            std::string::npos);
  std::string forty(40, 'S');
  std::string longer(45, 'L');
  EXPECT_NE(FormatErrorLogLine(at, 1, "", forty, longer)
                .find("\t" + forty + "\t" + longer + "\t"),
            std::string::npos);
}

TEST(ErrorLogTest, AppendsOneLinePerCallAndFailsSilently) {
  testing::TempDir tmp("velnor_error_log_test");
  const std::filesystem::path& dir = tmp.path();

  ResetErrorLogTally();
  gstrErrorLogPath.clear();
  WriteErrorLog(1, "lost", "s", "p");  // no path: nothing, no failure
  gstrErrorLogPath = (dir / "missing" / "errors.log").string();
  WriteErrorLog(1, "lost", "s", "p");  // missing folder
  EXPECT_FALSE(std::filesystem::exists(dir / "missing"));

  gstrErrorLogPath = (dir / "errors.log").string();
  WriteErrorLog(1, "first", "s", "p");
  WriteErrorLog(2, "second", "s", "p");
  std::string text = testing::ReadFile(dir / "errors.log");
  EXPECT_NE(text.find("first\r\n"), std::string::npos);
  EXPECT_LT(text.find("first"), text.find("second"));
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 2);

  // The writer's own account, whatever else appends to the file.
  const ErrorLogTally& tally = ErrorLogLines();
  EXPECT_EQ(tally.written, 2);
  EXPECT_EQ(tally.lost, 2);
  ASSERT_EQ(tally.first_entries.size(), 4u);
  EXPECT_EQ(tally.first_entries[2].description, "first");
  EXPECT_EQ(tally.first_entries[3].number, 2);
  for (int i = 0; i < 5; ++i) WriteErrorLog(3, "more", "s", "p");
  EXPECT_EQ(ErrorLogLines().written, 7);
  EXPECT_EQ(ErrorLogLines().first_entries.size(),
            ErrorLogTally::kFirstEntriesKept);
  ResetErrorLogTally();
  EXPECT_EQ(ErrorLogLines().written, 0);
  gstrErrorLogPath.clear();
}

// A line cut short (a full disk, a size limit) ends without a line end;
// the next lines each start on a line of their own, and a log that ends
// whole gets no blank line.
TEST(ErrorLogTest, ALineCutShortIsNotJoinedToTheNextOne) {
  testing::TempDir tmp("velnor_error_log_test");
  const std::filesystem::path log = tmp.path() / "errors.log";
  for (const std::string cut : {"12/11/2026 01:02:03\tVELNORLog", ""}) {
    testing::WriteFile(log, cut);
    gstrErrorLogPath = log.string();
    WriteErrorLog(1, "first", "s", "p");
    WriteErrorLog(2, "second", "s", "p");
    gstrErrorLogPath.clear();
    std::vector<std::string> lines;
    std::stringstream text(testing::ReadFile(log));
    for (std::string line; std::getline(text, line);) lines.push_back(line);
    if (!cut.empty()) {
      ASSERT_FALSE(lines.empty());
      EXPECT_EQ(lines.front(), cut);
      lines.erase(lines.begin());
    }
    // Only the two lines written, each whole on its own line.
    ASSERT_EQ(lines.size(), 2u) << testing::ReadFile(log);
    EXPECT_EQ(lines[0] + "\n", FormatErrorLogLine(0, 1, "first", "s", "p")
                                   .replace(0, 19, lines[0].substr(0, 19)));
    EXPECT_EQ(lines[1] + "\n", FormatErrorLogLine(0, 2, "second", "s", "p")
                                   .replace(0, 19, lines[1].substr(0, 19)));
  }
}

namespace fs = std::filesystem;

// Appends one line to `path` as the error log; true when it was written.
bool Appended(const fs::path& path) {
  ResetErrorLogTally();
  gstrErrorLogPath = path.string();
  WriteErrorLog(1, "line", "s", "p");
  gstrErrorLogPath.clear();
  return ErrorLogLines().written == 1;
}

// A hard link is no symbolic link to O_NOFOLLOW: where the kernel lets
// anyone link any file, one planted at the log's name in /tmp after the
// command's checks would have a root run append to /etc/shadow.
TEST(ErrorLogTest, NoLineGoesIntoAHardLinkInAFolderAnyoneMayWrite) {
  testing::TempDir tmp("velnor_error_log_link");
  const fs::path open = tmp.path() / "open";
  const fs::path own = tmp.path() / "own";
  fs::create_directories(open);
  fs::create_directories(own);
  fs::permissions(open, fs::perms::all | fs::perms::sticky_bit);
  testing::WriteFile(tmp.path() / "precious", "precious\n");
  fs::create_hard_link(tmp.path() / "precious", open / "errors.log");
  EXPECT_FALSE(Appended(open / "errors.log"));
  EXPECT_EQ(testing::ReadFile(tmp.path() / "precious"), "precious\n");

  // A second name of the user's own file in a folder of the user's own, as
  // a backup by hard links leaves, is the user's doing and is written.
  testing::WriteFile(own / "errors.log", "");
  fs::create_hard_link(own / "errors.log", tmp.path() / "backup.log");
  EXPECT_TRUE(Appended(own / "errors.log"));
  EXPECT_NE(testing::ReadFile(tmp.path() / "backup.log").find("\tline\r\n"),
            std::string::npos);
}

// A root run writes wherever it opens: another user's file that has a
// second name at the log's, in any folder, is not appended to.
TEST(ErrorLogTest, NoLineGoesIntoAHardLinkToAnotherUsersFile) {
  if (::geteuid() != 0) GTEST_SKIP() << "only root gives a file to another";
  testing::TempDir tmp("velnor_error_log_theirs");
  testing::WriteFile(tmp.path() / "theirs", "theirs\n");
  ASSERT_EQ(
      ::chown((tmp.path() / "theirs").c_str(), 65534, static_cast<gid_t>(-1)),
      0);
  fs::create_hard_link(tmp.path() / "theirs", tmp.path() / "errors.log");
  EXPECT_FALSE(Appended(tmp.path() / "errors.log"));
  EXPECT_EQ(testing::ReadFile(tmp.path() / "theirs"), "theirs\n");
}

}  // namespace
}  // namespace velnor
