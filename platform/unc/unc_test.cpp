// Local and share-root access: streaming reads, listings, case-insensitive
// matching of UNC components and the errors that name what was tried.
#include "platform/unc/unc.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "testing/raised_error.h"
#include "testing/test_support.h"

namespace velnor::unc {
namespace {

namespace fs = std::filesystem;
using automation::AutomationError;
using testing::ErrorOf;
using testing::WriteFile;

class UncTest : public ::testing::Test {
 protected:
  std::string ReadAll(std::string_view path, size_t chunk) {
    auto file = OpenForReading(access_, path);
    std::string text, buffer(chunk, '\0');
    while (size_t got = file->Read(buffer.data(), chunk))
      text.append(buffer, 0, got);
    return text;
  }

  std::vector<std::string> Names(std::string_view path) {
    std::vector<std::string> names;
    for (const DirEntry& entry : ListDirectory(access_, path))
      names.push_back(entry.name);
    std::sort(names.begin(), names.end());
    return names;
  }

  ShareAccess access_;
  testing::TempDir tmp_{"unc_test"};
  const fs::path dir_ = tmp_.path();
};

TEST_F(UncTest, LocalPathsAreReadAndListedAsGiven) {
  std::string big(100000, 'x');
  big += "end";
  WriteFile(dir_ / "a.log", big);
  fs::create_directory(dir_ / "sub");
  EXPECT_EQ(ReadAll((dir_ / "a.log").string(), 4096), big);
  auto entries = ListDirectory(access_, dir_.string());
  ASSERT_EQ(entries.size(), 2u);
  for (const DirEntry& entry : entries) {
    EXPECT_EQ(entry.is_directory, entry.name == "sub") << entry.name;
  }
  EXPECT_TRUE(ListDirectory(access_, (dir_ / "sub").string()).empty());
}

TEST_F(UncTest, LocalAndUnmappedPathFailuresCarryTheirNumbers) {
  fs::create_directory(dir_ / "sub");
  std::string missing_file = (dir_ / "none.log").string();
  AutomationError e = ErrorOf([&] { OpenForReading(access_, missing_file); });
  EXPECT_EQ(e.number(), automation::kErrFileNotFound);
  EXPECT_NE(e.description().find(missing_file), std::string::npos);
  EXPECT_EQ(ErrorOf([&] {
              OpenForReading(access_, (dir_ / "no/x.log").string());
            }).number(),
            automation::kErrPathNotFound);
  EXPECT_EQ(ErrorOf([&] {
              ListDirectory(access_, (dir_ / "none").string());
            }).number(),
            automation::kErrPathNotFound);
  EXPECT_EQ(ErrorOf([&] {
              OpenForReading(access_, (dir_ / "sub").string());
            }).number(),
            75);
  // A UNC path without a share root is a path not found.
  e = ErrorOf([&] { ListDirectory(access_, "\\\\SRV1\\C$\\Logs"); });
  EXPECT_EQ(e.number(), automation::kErrPathNotFound);
  EXPECT_NE(e.description().find("\\\\SRV1\\C$\\Logs"), std::string::npos);
}

TEST_F(UncTest, UnreadableDirectoryIsPermissionDenied) {
  fs::permissions(dir_, fs::perms::owner_all | fs::perms::others_exec);
  fs::create_directory(dir_ / "locked");
  fs::permissions(dir_ / "locked", fs::perms::owner_all);
  const std::string locked = (dir_ / "locked").string();
  EXPECT_EQ(testing::RunUnprivileged([&] {
              return ErrorOf([&] { ListDirectory(access_, locked); }).number();
            }),
            automation::kErrPermissionDenied);
}

TEST_F(UncTest, ShareRootMapsServersSharesAndPathsWithoutRegardToCase) {
  WriteFile(dir_ / "SRV1/C$/WINDOWS/system32/LogFiles/W3SVC1/ex070312.log",
            "GET /");
  WriteFile(dir_ / "SRV1/C$/WINDOWS/system32/LogFiles/W3SVC1/Ex070313.log", "");
  WriteFile(dir_ / "SRV1/D$/Logs/a.log", "");
  WriteFile(dir_ / "SRV1/D$/Logs/W3SVC2/u_ex24\\0604.log", "copied");
  WriteFile(dir_ / "SRV1/notes.txt", "");
  access_.share_root = dir_.string() + "/";
  // The shares are the server's folders.
  std::vector<std::string> shares = ListShares(access_, "srv1");
  std::sort(shares.begin(), shares.end());
  EXPECT_EQ(shares, (std::vector<std::string>{"C$", "D$"}));
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
  // A Linux name may hold a backslash, which a UNC path takes for a
  // separator: the file its folder lists is read by that name.
  EXPECT_EQ(Names("\\\\SRV1\\D$\\Logs\\W3SVC2"),
            (std::vector<std::string>{"u_ex24\\0604.log"}));
  EXPECT_EQ(ReadAll("\\\\SRV1\\D$\\Logs\\W3SVC2\\u_ex24\\0604.log", 4),
            "copied");
  EXPECT_EQ(ReadAll("\\\\srv1\\d$\\logs\\w3svc2\\U_EX24\\0604.LOG", 4),
            "copied");
  // Beside a folder whose file the same path names, neither is read.
  WriteFile(dir_ / "SRV1/D$/Logs/W3SVC2/u_ex24/0604.log", "decoy");
  AutomationError e = ErrorOf([&] {
    OpenForReading(access_, "\\\\SRV1\\D$\\Logs\\W3SVC2\\u_ex24\\0604.log");
  });
  EXPECT_EQ(e.number(), 75);
  EXPECT_NE(e.description().find("names two files"), std::string::npos)
      << e.description();
}

TEST_F(UncTest, ShareRootErrorsNameTheUncAndTheLocalPath) {
  WriteFile(dir_ / "SRV1/C$/Logs/a.log", "");
  access_.share_root = dir_.string();
  AutomationError e =
      ErrorOf([&] { OpenForReading(access_, "\\\\SRV1\\C$\\Logs\\b.log"); });
  EXPECT_EQ(e.number(), automation::kErrFileNotFound);
  EXPECT_NE(e.description().find("\\\\SRV1\\C$\\Logs\\b.log"),
            std::string::npos);
  EXPECT_NE(e.description().find((dir_ / "SRV1/C$/Logs/b.log").string()),
            std::string::npos);
  e = ErrorOf([&] { ListDirectory(access_, "\\\\SRV1\\c$\\Nothing\\Logs"); });
  EXPECT_EQ(e.number(), automation::kErrPathNotFound);
  EXPECT_NE(e.description().find((dir_ / "SRV1/C$/Nothing/Logs").string()),
            std::string::npos);
  // A server or share the root does not hold is named, not looked for over
  // SMB, unless that is asked for.
  e = ErrorOf([&] { ListDirectory(access_, "\\\\SRV1\\D$\\Logs"); });
  EXPECT_EQ(e.number(), automation::kErrPathNotFound);
  EXPECT_NE(e.description().find("has no folder SRV1/D$"), std::string::npos)
      << e.description();
  e = ErrorOf([&] { OpenForReading(access_, "\\\\SRV2\\C$\\Logs\\a.log"); });
  EXPECT_NE(e.description().find("has no folder SRV2 "), std::string::npos)
      << e.description();
  access_.smb_beside_share_root = true;
  e = ErrorOf([&] { ListDirectory(access_, "\\\\SRV1\\D$\\Logs"); });
  EXPECT_EQ(e.number(), automation::kErrPathNotFound);
  EXPECT_NE(e.description().find("server SRV1"), std::string::npos);
  EXPECT_EQ(ErrorOf([&] { ListDirectory(access_, "\\\\SRV1"); }).number(),
            automation::kErrPathNotFound);
}

TEST_F(UncTest, FolderAliasRedirectsReadsAndListingsBelowIt) {
  WriteFile(dir_ / "SRV1/C$/inetpub/logs/LogFiles/FTPSVC3/u_ex240603.log",
            "ftp");
  WriteFile(dir_ / "SRV1/C$/inetpub/logs/LogFiles/MSFTPSVC30/ex240603.log",
            "old");
  access_.share_root = dir_.string();
  access_.folder_aliases.Add("\\\\SRV1\\C$\\inetpub\\logs\\LogFiles\\MSFTPSVC3",
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
  AutomationError e = ErrorOf([&] {
    OpenForReading(access_,
                   "\\\\SRV1\\C$\\inetpub\\logs\\LogFiles\\MSFTPSVC3\\x.log");
  });
  EXPECT_NE(e.description().find("FTPSVC3\\x.log"), std::string::npos)
      << e.description();

  access_.folder_aliases.Add(
      "\\\\SRV1\\C$\\inetpub\\logs\\LogFiles\\MSFTPSVC3",
      "\\\\SRV1\\C$\\inetpub\\logs\\LogFiles\\MSFTPSVC30");
  EXPECT_EQ(Names("\\\\SRV1\\C$\\inetpub\\logs\\LogFiles\\MSFTPSVC3"),
            (std::vector<std::string>{"ex240603.log"}));
  access_.folder_aliases = {};
  EXPECT_EQ(ErrorOf([&] {
              ListDirectory(access_,
                            "\\\\SRV1\\C$\\inetpub\\logs\\LogFiles\\MSFTPSVC3");
            }).number(),
            automation::kErrPathNotFound);
  EXPECT_EQ(ErrorOf([&] {
              access_.folder_aliases.Add("C:\\Logs", "\\\\SRV1\\C$");
            }).number(),
            automation::kErrInvalidProcedureCall);
}

}  // namespace
}  // namespace velnor::unc
