// The SMB way in against a real Samba server that the test starts on
// 127.0.0.1 (a free port, all its state in a temporary folder): listing and
// reading give what the share root gives for the same files, and failures
// carry the same numbers. Skipped, with the reason, where smbd cannot run.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <memory>
#include <tuple>

#include "platform/unc/smbd_fixture.h"
#include "platform/unc/unc.h"
#include "testing/raised_error.h"
#include "testing/test_support.h"

namespace velnor::unc {
namespace {

namespace fs = std::filesystem;
using automation::AutomationError;
using smbd::FreePort;
using smbd::SambaServer;
using testing::ErrorOf;

constexpr char kSite[] = "\\C$\\WINDOWS\\system32\\LogFiles\\W3SVC1";

class SmbTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    std::string pattern = fs::temp_directory_path() / "smb_test_XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) {
      skip_reason_ = "no temporary folder";
      return;
    }
    dir_ = pattern;
    fs::path site = dir_ / "share/C/WINDOWS/system32/LogFiles/W3SVC1";
    fs::create_directories(site / "old logs");
    std::string text;
    for (int i = 0; text.size() < 300000; ++i) {
      text += "2007-03-12 10:00:" + std::to_string(i % 60) + " /page" +
              std::to_string(i) + ".htm 200\r\n";
    }
    std::ofstream(site / "ex070312.log", std::ios::binary) << text;
    std::ofstream(site / "ex070313.log") << "";
    std::ofstream(site / "caf\xc3\xa9 100%.log") << "x";
    fs::create_directories(dir_ / "share/E/Logs");
    fs::create_directories(dir_ / "root/SRV1");
    fs::create_directory_symlink(dir_ / "share/C", dir_ / "root/SRV1/C$");
    fs::create_directory_symlink(dir_ / "share/E", dir_ / "root/SRV1/E$");
    smbd::WriteSmbAuthFile(dir_ / "auth", smbd::kSmbdPassword);
    server_ = new SambaServer;
    skip_reason_ = server_->Start(dir_);
  }

  static void TearDownTestSuite() {
    delete server_;
    server_ = nullptr;
    fs::remove_all(dir_);
  }

  void SetUp() override {
    if (!skip_reason_.empty()) VELNOR_SKIP_WITHOUT_TOOL(skip_reason_);
    access_.share_root = (dir_ / "root").string();
    access_.smb_beside_share_root = true;
    access_.smb_port = server_->port();
    access_.smb_timeout_ms = 3000;
    access_.smb_credentials = ReadSmbAuthFile((dir_ / "auth").string());
  }

  // Name, kind and size of each entry, by name.
  std::vector<std::tuple<std::string, bool, uint64_t>> Listing(
      std::string_view path) {
    std::vector<std::tuple<std::string, bool, uint64_t>> entries;
    for (const DirEntry& entry : ListDirectory(access_, path)) {
      entries.emplace_back(entry.name, entry.is_directory, entry.size);
    }
    std::sort(entries.begin(), entries.end());
    return entries;
  }

  std::string ReadAll(std::string_view path) {
    auto file = OpenForReading(access_, path);
    std::string text, buffer(8192, '\0');
    while (size_t got = file->Read(buffer.data(), buffer.size())) {
      text.append(buffer, 0, got);
    }
    return text;
  }

  static std::string Smb(std::string_view rest) {
    return "\\\\127.0.0.1" + std::string(rest);
  }
  static std::string Mapped(std::string_view rest) {
    return "\\\\SRV1" + std::string(rest);
  }

  ShareAccess access_;
  static inline fs::path dir_;
  static inline SambaServer* server_ = nullptr;
  static inline std::string skip_reason_;
};

TEST_F(SmbTest, ListingAndReadingMatchTheShareRoot) {
  auto listed = Listing(Smb(kSite));
  EXPECT_EQ(listed, Listing(Mapped(kSite)));
  EXPECT_EQ(listed.size(), 4u);
  std::string log = ReadAll(Mapped(std::string(kSite) + "\\ex070312.log"));
  EXPECT_EQ(std::get<2>(listed[1]), log.size()) << std::get<0>(listed[1]);
  EXPECT_GT(log.size(), 300000u);
  EXPECT_EQ(ReadAll(Smb(std::string(kSite) + "\\ex070312.log")), log);
  EXPECT_EQ(
      ReadAll(Smb("\\c$\\windows\\SYSTEM32\\logfiles\\w3svc1\\EX070312.LOG")),
      log);
  EXPECT_EQ(ReadAll(Smb(std::string(kSite) + "\\caf\xc3\xa9 100%.log")), "x");
  EXPECT_TRUE(
      ListDirectory(access_, Smb(std::string(kSite) + "\\old logs")).empty());
}

TEST_F(SmbTest, AServerThatAnsweredIsNotProbedAgainUntilItIsGone) {
  auto link = std::make_unique<smbd::SlowLink>(server_->port(), 1 << 30);
  access_.smb_port = link->port();
  const std::string log = std::string(kSite) + "\\ex070312.log";
  EXPECT_EQ(Listing(Smb(kSite)).size(), 4u);
  EXPECT_GT(ReadAll(Smb(log)).size(), 300000u);
  EXPECT_EQ(ListShares(access_, "127.0.0.1").size(), 2u);
  EXPECT_EQ(Listing(Smb(kSite)).size(), 4u);
  // For each share asked (C$, then IPC$ for the listing of shares), one
  // probe and the connection the client keeps.
  EXPECT_EQ(link->Connections(), 4);
  // Gone, it fails as a server that cannot be reached, as when probed.
  link.reset();
  AutomationError e = ErrorOf([&] { OpenForReading(access_, Smb(log)); });
  EXPECT_EQ(e.number(), automation::kErrPathNotFound) << e.description();
  EXPECT_NE(e.description().find("cannot reach"), std::string::npos)
      << e.description();
}

TEST_F(SmbTest, ShareListingMatchesTheShareRoot) {
  std::vector<std::string> shares = ListShares(access_, "127.0.0.1");
  std::sort(shares.begin(), shares.end());
  EXPECT_EQ(shares, (std::vector<std::string>{"C$", "E$"}));
  std::vector<std::string> mapped = ListShares(access_, "SRV1");
  std::sort(mapped.begin(), mapped.end());
  EXPECT_EQ(mapped, shares);
}

TEST_F(SmbTest, FailuresCarryTheShareRootsNumbers) {
  auto same_number = [](auto&& operation, const std::string& rest) {
    int32_t smb = ErrorOf([&] { operation(Smb(rest)); }).number();
    EXPECT_NE(smb, 0) << rest;
    EXPECT_EQ(smb, ErrorOf([&] { operation(Mapped(rest)); }).number()) << rest;
  };
  const std::string site = kSite;
  for (const char* rest : {"\\x.log", "\\Nothing\\x.log", "", "\\old logs"}) {
    same_number([&](const std::string& path) { OpenForReading(access_, path); },
                site + rest);
  }
  for (const char* rest : {"\\Nothing", "\\ex070312.log"}) {
    same_number([&](const std::string& path) { ListDirectory(access_, path); },
                site + rest);
  }
  AutomationError e =
      ErrorOf([&] { ListDirectory(access_, Smb("\\D$\\Logs")); });
  EXPECT_EQ(e.number(), automation::kErrPathNotFound);
  EXPECT_NE(e.description().find("smb://127.0.0.1/D$/Logs"), std::string::npos)
      << e.description();
}

TEST_F(SmbTest, WrongPasswordIsPermissionDenied) {
  fs::path wrong = dir_ / "wrong-auth";
  smbd::WriteSmbAuthFile(wrong, "not-the-password");
  access_.smb_credentials = ReadSmbAuthFile(wrong.string());
  AutomationError e = ErrorOf([&] { ListDirectory(access_, Smb(kSite)); });
  EXPECT_EQ(e.number(), automation::kErrPermissionDenied);
  EXPECT_NE(e.description().find(Smb(kSite)), std::string::npos);
  // An authentication file others can read is refused outright.
  fs::permissions(wrong, fs::perms::others_read, fs::perm_options::add);
  e = ErrorOf([&] { ReadSmbAuthFile(wrong.string()); });
  EXPECT_EQ(e.number(), automation::kErrPermissionDenied);
  EXPECT_NE(e.description().find(wrong.string()), std::string::npos);
}

TEST_F(SmbTest, ServerThatDoesNotAnswerFailsNamingIt) {
  access_.smb_port = FreePort();
  access_.smb_timeout_ms = 2000;
  AutomationError e = ErrorOf([&] { ListDirectory(access_, Smb(kSite)); });
  EXPECT_EQ(e.number(), automation::kErrPathNotFound);
  EXPECT_NE(e.description().find("server 127.0.0.1"), std::string::npos)
      << e.description();
}

TEST_F(SmbTest, SilentServerCostsOneTimeoutThenFailsAtOnce) {
  smbd::SilentListener silent;
  access_.smb_port = silent.port();
  access_.smb_timeout_ms = 500;
  AutomationError first = ErrorOf([&] { ListDirectory(access_, Smb(kSite)); });
  EXPECT_EQ(first.number(), automation::kErrPathNotFound);
  EXPECT_NE(first.description().find("server 127.0.0.1"), std::string::npos)
      << first.description();
  const int after_first = silent.Connections();
  EXPECT_GT(after_first, 0);
  for (const char* rest : {"\\Nothing", "\\ex070312.log"}) {
    AutomationError again = ErrorOf(
        [&] { OpenForReading(access_, Smb(std::string(kSite) + rest)); });
    EXPECT_EQ(again.number(), automation::kErrPathNotFound);
    EXPECT_NE(again.description().find("does not answer"), std::string::npos)
        << again.description();
  }
  EXPECT_EQ(silent.Connections(), after_first) << "the server was tried again";
  // Another access, as the next run builds, tries it afresh.
  ShareAccess next;
  next.smb_port = silent.port();
  next.smb_timeout_ms = 500;
  ErrorOf([&] { ListDirectory(next, Smb(kSite)); });
  EXPECT_GT(silent.Connections(), after_first);
}

}  // namespace
}  // namespace velnor::unc
