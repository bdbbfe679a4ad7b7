// `velnor init-db` as a user runs it: the built binary, its exit status,
// its output and the files it leaves.
#include "host/command_support.h"
#include "host/init_db_command.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <cstdio>
#include <filesystem>

namespace velnor::host {
namespace {

struct CommandResult {
  int status;
  std::string output;
};

CommandResult Velnor(const std::string& arguments) {
  std::string command = std::string(VELNOR_EXE) + " " + arguments + " 2>&1";
  FILE* pipe = popen(command.c_str(), "r");
  std::string output;
  char buffer[512];
  while (size_t n = fread(buffer, 1, sizeof buffer, pipe)) output.append(buffer, n);
  int status = pclose(pipe);
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, output};
}

class InitDbCommandTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char templ[] = "/tmp/init_db_test-XXXXXX";
    dir_ = mkdtemp(templ);
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  size_t FileCount() const {
    return std::distance(std::filesystem::directory_iterator(dir_),
                         std::filesystem::directory_iterator());
  }

  std::string dir_;
};

TEST_F(InitDbCommandTest, MakesThenLeavesTheFiles) {
  CommandResult first = Velnor("init-db --db-dir " + dir_ + " --server web-01.example");
  EXPECT_EQ(first.status, 0) << first.output;
  EXPECT_NE(first.output.find("made " + dir_ +
                              "/QDX_UAWebLogHitsByStatus_web-01.example.mdb"),
            std::string::npos)
      << first.output;
  EXPECT_EQ(FileCount(), 4u);

  CommandResult again = Velnor("init-db --db-dir " + dir_ + " --server web-01.example");
  EXPECT_EQ(again.status, 0);
  EXPECT_EQ(again.output.find("made "), std::string::npos);
  EXPECT_NE(again.output.find("left " + dir_ + "/QDX_UAWebLogDayOfWeek_"),
            std::string::npos);

  EXPECT_EQ(Velnor("init-db --ftp --db-dir " + dir_ + " --server SRV1").status, 0);
  EXPECT_TRUE(std::filesystem::exists(dir_ + "/QDX_UAFTPLogHitsByHour_SRV1.mdb"));
}

TEST_F(InitDbCommandTest, BadArgumentsExitWithStatusTwoAndMakeNothing) {
  CommandResult bad_name = Velnor("init-db --db-dir " + dir_ + " --server 'SRV1;rm'");
  EXPECT_EQ(bad_name.status, 2);
  EXPECT_NE(bad_name.output.find("not a valid server name"), std::string::npos);
  CommandResult no_folder = Velnor("init-db --db-dir " + dir_ + "/none --server SRV1");
  EXPECT_EQ(no_folder.status, 2);
  EXPECT_NE(no_folder.output.find(dir_ + "/none"), std::string::npos);
  EXPECT_EQ(Velnor("init-db --server SRV1").status, 2);
  EXPECT_EQ(Velnor("").status, 2);
  EXPECT_EQ(FileCount(), 0u);

  CommandResult help = Velnor("init-db --help");
  EXPECT_EQ(help.status, 0);
  EXPECT_NE(help.output.find("velnor init-db --db-dir"), std::string::npos);
}

TEST(HostNameTest, AcceptsHostNamesOnly) {
  EXPECT_TRUE(IsValidHostName("SRV1"));
  EXPECT_TRUE(IsValidHostName("a.b-c.d9"));
  EXPECT_TRUE(IsValidHostName(std::string(63, 'a') + "." + std::string(63, 'b')));
  EXPECT_FALSE(IsValidHostName(""));
  EXPECT_FALSE(IsValidHostName("-srv"));
  EXPECT_FALSE(IsValidHostName("srv-.x"));
  EXPECT_FALSE(IsValidHostName("a..b"));
  EXPECT_FALSE(IsValidHostName("a."));
  EXPECT_FALSE(IsValidHostName("srv_1"));
  EXPECT_FALSE(IsValidHostName("../x"));
  EXPECT_FALSE(IsValidHostName(std::string(64, 'a')));
  std::string long_name;
  while (long_name.size() < 254) long_name += "abc.";
  EXPECT_FALSE(IsValidHostName(long_name.substr(0, 254)));
}

}  // namespace
}  // namespace velnor::host
