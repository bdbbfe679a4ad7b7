// Local and share-root access: streaming reads, listings, case-insensitive
// matching of UNC components and the errors that name what was tried.
#include "platform/unc/unc.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

#include "platform/automation/error_state.h"

namespace velnor::unc {
namespace {

namespace fs = std::filesystem;
using automation::AutomationError;

class UncTest : public testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "unc_test_XXXXXX");
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
  }
  void TearDown() override {
    SetShareRoot("");
    fs::remove_all(dir_);
  }

  void Write(const fs::path& path, const std::string& text) {
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << text;
  }

  static std::string ReadAll(std::string_view path, size_t chunk) {
    auto file = OpenForReading(path);
    std::string text, buffer(chunk, '\0');
    while (size_t got = file->Read(buffer.data(), chunk))
      text.append(buffer, 0, got);
    return text;
  }

  static std::vector<std::string> Names(std::string_view path) {
    std::vector<std::string> names;
    for (const DirEntry& entry : ListDirectory(path))
      names.push_back(entry.name);
    std::sort(names.begin(), names.end());
    return names;
  }

  template <class F>
  static AutomationError ErrorOf(F&& f) {
    try {
      f();
    } catch (const AutomationError& e) {
      return e;
    }
    ADD_FAILURE() << "no error raised";
    return AutomationError(0, "");
  }

  fs::path dir_;
};

TEST_F(UncTest, LocalPathsAreReadAndListedAsGiven) {
  std::string big(100000, 'x');
  big += "end";
  Write(dir_ / "a.log", big);
  fs::create_directory(dir_ / "sub");
  EXPECT_EQ(ReadAll((dir_ / "a.log").string(), 4096), big);
  auto entries = ListDirectory(dir_.string());
  ASSERT_EQ(entries.size(), 2u);
  for (const DirEntry& entry : entries) {
    EXPECT_EQ(entry.is_directory, entry.name == "sub") << entry.name;
  }
  EXPECT_TRUE(ListDirectory((dir_ / "sub").string()).empty());
}

TEST_F(UncTest, LocalFailuresCarryTheirNumbers) {
  fs::create_directory(dir_ / "sub");
  std::string missing_file = (dir_ / "none.log").string();
  AutomationError e = ErrorOf([&] { OpenForReading(missing_file); });
  EXPECT_EQ(e.number(), automation::kErrFileNotFound);
  EXPECT_NE(e.description().find(missing_file), std::string::npos);
  EXPECT_EQ(
      ErrorOf([&] { OpenForReading((dir_ / "no/x.log").string()); }).number(),
      automation::kErrPathNotFound);
  EXPECT_EQ(ErrorOf([&] { ListDirectory((dir_ / "none").string()); }).number(),
            automation::kErrPathNotFound);
  EXPECT_EQ(ErrorOf([&] { OpenForReading((dir_ / "sub").string()); }).number(),
            75);
}

// Root reads every directory, so as root the listing runs in a child
// process that has dropped to the unprivileged user "nobody".
int32_t ListErrorNumberAsUnprivileged(const std::string& path) {
  auto number = [&] {
    try {
      ListDirectory(path);
      return 0;
    } catch (const AutomationError& e) {
      return static_cast<int>(e.number());
    }
  };
  if (::geteuid() != 0) return number();
  pid_t pid = ::fork();
  if (pid == 0) {
    if (::setgid(65534) != 0 || ::setuid(65534) != 0) ::_exit(255);
    ::_exit(number());
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST_F(UncTest, UnreadableDirectoryIsPermissionDenied) {
  fs::permissions(dir_, fs::perms::owner_all | fs::perms::others_exec);
  fs::create_directory(dir_ / "locked");
  fs::permissions(dir_ / "locked", fs::perms::owner_all);
  EXPECT_EQ(ListErrorNumberAsUnprivileged((dir_ / "locked").string()),
            automation::kErrPermissionDenied);
}

TEST_F(UncTest, ShareRootMapsComponentsWithoutRegardToCase) {
  Write(dir_ / "SRV1/C$/WINDOWS/system32/LogFiles/W3SVC1/ex070312.log",
        "GET /");
  Write(dir_ / "SRV1/C$/WINDOWS/system32/LogFiles/W3SVC1/Ex070313.log", "");
  SetShareRoot(dir_.string() + "/");
  EXPECT_EQ(
      ReadAll("\\\\srv1\\c$\\windows\\System32\\LOGFILES\\w3svc1\\EX070312.LOG",
              2),
      "GET /");
  EXPECT_EQ(Names("\\\\SRV1\\C$\\WINDOWS\\system32\\LogFiles\\W3SVC1"),
            (std::vector<std::string>{"Ex070313.log", "ex070312.log"}));
  // Forward slashes, doubled separators, "." and ".." as Windows takes them;
  // ".." never climbs out of the share.
  EXPECT_EQ(
      Names("\\\\SRV1\\C$\\windows\\.\\system32//LogFiles\\x\\..\\W3SVC1"),
      Names("\\\\SRV1\\C$\\WINDOWS\\system32\\LogFiles\\W3SVC1"));
  EXPECT_EQ(Names("\\\\SRV1\\C$\\..\\..\\WINDOWS"),
            (std::vector<std::string>{"system32"}));
}

TEST_F(UncTest, ShareRootErrorsNameTheUncAndTheLocalPath) {
  Write(dir_ / "SRV1/C$/Logs/a.log", "");
  SetShareRoot(dir_.string());
  AutomationError e =
      ErrorOf([] { OpenForReading("\\\\SRV1\\C$\\Logs\\b.log"); });
  EXPECT_EQ(e.number(), automation::kErrFileNotFound);
  EXPECT_NE(e.description().find("\\\\SRV1\\C$\\Logs\\b.log"),
            std::string::npos);
  EXPECT_NE(e.description().find((dir_ / "SRV1/C$/Logs/b.log").string()),
            std::string::npos);
  e = ErrorOf([] { ListDirectory("\\\\SRV1\\c$\\Nothing\\Logs"); });
  EXPECT_EQ(e.number(), automation::kErrPathNotFound);
  EXPECT_NE(e.description().find((dir_ / "SRV1/C$/Nothing/Logs").string()),
            std::string::npos);
  // A server or share the root does not hold is named, not looked for over
  // SMB, unless that is asked for.
  e = ErrorOf([] { ListDirectory("\\\\SRV1\\D$\\Logs"); });
  EXPECT_EQ(e.number(), automation::kErrPathNotFound);
  EXPECT_NE(e.description().find("has no folder SRV1/D$"), std::string::npos)
      << e.description();
  e = ErrorOf([] { OpenForReading("\\\\SRV2\\C$\\Logs\\a.log"); });
  EXPECT_NE(e.description().find("has no folder SRV2 "), std::string::npos)
      << e.description();
  SetSmbBesideShareRoot(true);
  e = ErrorOf([] { ListDirectory("\\\\SRV1\\D$\\Logs"); });
  SetSmbBesideShareRoot(false);
  EXPECT_EQ(e.number(), automation::kErrPathNotFound);
  EXPECT_NE(e.description().find("server SRV1"), std::string::npos);
  EXPECT_EQ(ErrorOf([] { ListDirectory("\\\\SRV1"); }).number(),
            automation::kErrPathNotFound);
}

TEST_F(UncTest, SharesUnderTheShareRootAreTheServersFolders) {
  Write(dir_ / "SRV1/C$/Windows/win.ini", "");
  Write(dir_ / "SRV1/D$/Logs/a.log", "");
  Write(dir_ / "SRV1/notes.txt", "");
  SetShareRoot(dir_.string());
  std::vector<std::string> shares = ListShares("srv1");
  std::sort(shares.begin(), shares.end());
  EXPECT_EQ(shares, (std::vector<std::string>{"C$", "D$"}));
}

TEST_F(UncTest, FolderAliasRedirectsReadsAndListingsBelowIt) {
  Write(dir_ / "SRV1/C$/inetpub/logs/LogFiles/FTPSVC3/u_ex240603.log", "ftp");
  Write(dir_ / "SRV1/C$/inetpub/logs/LogFiles/MSFTPSVC30/ex240603.log", "old");
  SetShareRoot(dir_.string());
  SetFolderAlias("\\\\SRV1\\C$\\inetpub\\logs\\LogFiles\\MSFTPSVC3",
                 "\\\\SRV1\\C$\\inetpub\\logs\\LogFiles\\FTPSVC3");
  EXPECT_EQ(Names("\\\\srv1\\c$\\inetpub\\logs\\LogFiles\\msftpsvc3"),
            (std::vector<std::string>{"u_ex240603.log"}));
  EXPECT_EQ(
      ReadAll(
          "\\\\SRV1\\C$\\inetpub\\logs\\LogFiles\\MSFTPSVC3\\u_ex240603.log",
          16),
      "ftp");
  // A folder whose name only starts like the alias is not below it.
  EXPECT_EQ(Names("\\\\SRV1\\C$\\inetpub\\logs\\LogFiles\\MSFTPSVC30"),
            (std::vector<std::string>{"ex240603.log"}));
  // An error names the folder actually read.
  AutomationError e = ErrorOf([] {
    OpenForReading("\\\\SRV1\\C$\\inetpub\\logs\\LogFiles\\MSFTPSVC3\\x.log");
  });
  EXPECT_NE(e.description().find("FTPSVC3\\x.log"), std::string::npos)
      << e.description();

  SetFolderAlias("\\\\SRV1\\C$\\inetpub\\logs\\LogFiles\\MSFTPSVC3",
                 "\\\\SRV1\\C$\\inetpub\\logs\\LogFiles\\MSFTPSVC30");
  EXPECT_EQ(Names("\\\\SRV1\\C$\\inetpub\\logs\\LogFiles\\MSFTPSVC3"),
            (std::vector<std::string>{"ex240603.log"}));
  ClearFolderAliases();
  EXPECT_EQ(ErrorOf([] {
              ListDirectory("\\\\SRV1\\C$\\inetpub\\logs\\LogFiles\\MSFTPSVC3");
            }).number(),
            automation::kErrPathNotFound);
  EXPECT_EQ(
      ErrorOf([] { SetFolderAlias("C:\\Logs", "\\\\SRV1\\C$"); }).number(),
      automation::kErrInvalidProcedureCall);
}

TEST_F(UncTest, UncPathWithoutShareRootIsPathNotFound) {
  AutomationError e = ErrorOf([] { ListDirectory("\\\\SRV1\\C$\\Logs"); });
  EXPECT_EQ(e.number(), automation::kErrPathNotFound);
  EXPECT_NE(e.description().find("\\\\SRV1\\C$\\Logs"), std::string::npos);
}

}  // namespace
}  // namespace velnor::unc
