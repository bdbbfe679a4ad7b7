// `velnor init-db` as a user runs it: the built binary, its exit status,
// its output and the files it leaves; and the host-name check it relies on.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>

#include "host/common/command_support.h"
#include "host/testing/velnor_test_support.h"

namespace velnor::host {

namespace {

namespace fs = std::filesystem;

class InitDbCommandTest : public ::testing::Test {
 protected:
  // velnor with `arguments` split at blanks; standard output and error
  // together.
  std::string Velnor(const std::string& arguments, int expected_status) {
    VelnorRun run = RunVelnor(testing::Words(arguments), tmp_.path());
    EXPECT_EQ(run.status, expected_status) << arguments << "\n" << run.err;
    return run.out + run.err;
  }

  size_t DatabaseCount() const {
    size_t count = 0;
    for (const auto& file : fs::directory_iterator(db_)) {
      count += file.path().extension() == ".mdb";
    }
    return count;
  }

  testing::TempDir tmp_{"init_db_test"};
  std::string db_ = tmp_.path().string();
};

TEST_F(InitDbCommandTest, MakesThenLeavesTheFiles) {
  std::string first =
      Velnor("init-db --db-dir " + db_ + " --server web-01.example", 0);
  EXPECT_NE(first.find("made " + db_ +
                       "/QDX_UAWebLogHitsByStatus_web-01.example.mdb"),
            std::string::npos)
      << first;
  EXPECT_EQ(DatabaseCount(), 4u);
  // The ledger too, so that a first collection finds it made.
  EXPECT_NE(
      first.find("made " + db_ + "/velnor_ledger_web-01.example_web.sqlite"),
      std::string::npos)
      << first;

  std::string again =
      Velnor("init-db --db-dir " + db_ + " --server web-01.example", 0);
  EXPECT_EQ(again.find("made "), std::string::npos);
  EXPECT_NE(again.find("left " + db_ + "/QDX_UAWebLogDayOfWeek_"),
            std::string::npos);
  EXPECT_NE(again.find("left " + db_ + "/velnor_ledger_web-01.example_web"),
            std::string::npos)
      << again;
  // Beside databases that were there before, a new ledger would take
  // whatever they count for no run's: the collection decides.
  fs::remove(db_ + "/velnor_ledger_web-01.example_web.sqlite");
  std::string without =
      Velnor("init-db --db-dir " + db_ + " --server web-01.example", 0);
  EXPECT_NE(without.find("no collection ledger made: " + db_ +
                         "/velnor_ledger_web-01.example_web.sqlite is missing"),
            std::string::npos)
      << without;
  EXPECT_FALSE(fs::exists(db_ + "/velnor_ledger_web-01.example_web.sqlite"));

  Velnor("init-db --ftp --db-dir " + db_ + " --server SRV1", 0);
  EXPECT_TRUE(fs::exists(db_ + "/QDX_UAFTPLogHitsByHour_SRV1.mdb"));
}

// Server names are Windows names: another spelling of a server whose
// databases are in the folder is that server, never a second set.
TEST_F(InitDbCommandTest, AnotherSpellingOfTheServerIsTheSameServer) {
  Velnor("init-db --db-dir " + db_ + " --server WEB01", 0);
  std::string again = Velnor("init-db --db-dir " + db_ + " --server web01", 0);
  EXPECT_EQ(again.find("made "), std::string::npos) << again;
  EXPECT_NE(again.find("left " + db_ + "/QDX_UAWebLogHitsByHour_WEB01.mdb"),
            std::string::npos)
      << again;
  EXPECT_FALSE(fs::exists(db_ + "/velnor_statistics_web01_web.sqlite"));
  EXPECT_EQ(DatabaseCount(), 4u);
  // A set left incomplete is completed under its own spelling.
  fs::remove(db_ + "/QDX_UAWebLogHitsByMonth_WEB01.mdb");
  std::string completed =
      Velnor("init-db --db-dir " + db_ + " --server Web01", 0);
  EXPECT_NE(completed.find("made " + db_ + "/QDX_UAWebLogHitsByMonth_WEB01"),
            std::string::npos)
      << completed;
  EXPECT_EQ(DatabaseCount(), 4u);
  // The FTP service's databases are a set of their own.
  Velnor("init-db --ftp --db-dir " + db_ + " --server web01", 0);
  EXPECT_TRUE(fs::exists(db_ + "/QDX_UAFTPLogHitsByHour_web01.mdb"));
}

TEST_F(InitDbCommandTest, BadArgumentsExitWithStatusTwoAndMakeNothing) {
  EXPECT_NE(Velnor("init-db --db-dir " + db_ + " --server SRV1;rm", 2)
                .find("not a valid server name"),
            std::string::npos);
  EXPECT_NE(Velnor("init-db --db-dir " + db_ + "/none --server SRV1", 2)
                .find(db_ + "/none"),
            std::string::npos);
  Velnor("init-db --server SRV1", 2);
  Velnor("", 2);
  EXPECT_EQ(DatabaseCount(), 0u);
}

// velnor loads libpq only for a store: where it cannot be loaded (here an
// empty file found first at its name), a store is refused naming the
// library and the package that brings it, and folders work all the same.
TEST_F(InitDbCommandTest, WithoutLibpqAStoreIsRefusedByNameAndFoldersWork) {
  fs::create_directories(tmp_.path() / "lib");
  testing::WriteFile(tmp_.path() / "lib/libpq.so.5", "");
  const std::string lib = (tmp_.path() / "lib").string();
  auto run = [&](const std::string& arguments) {
    return FinishVelnor(
        StartVelnor(testing::Words(arguments), tmp_.path(),
                    [&] { ::setenv("LD_LIBRARY_PATH", lib.c_str(), 1); }),
        tmp_.path());
  };
  VelnorRun store =
      run("init-db --db-url postgresql://127.0.0.1:1/velnor --server SRV1");
  EXPECT_EQ(store.status, 2) << store.err;
  EXPECT_NE(store.err.find("PostgreSQL client library cannot be loaded"),
            std::string::npos)
      << store.err;
  EXPECT_NE(store.err.find(lib + "/libpq.so.5"), std::string::npos)
      << store.err;
  EXPECT_NE(store.err.find("install the package libpq5"), std::string::npos)
      << store.err;

  VelnorRun folder = run("init-db --db-dir " + db_ + " --server SRV1");
  EXPECT_EQ(folder.status, 0) << folder.err;
  EXPECT_EQ(DatabaseCount(), 4u);
}

// A store nobody answers at (a free port of the loopback): one message of
// a line and its help, with libpq's reason of two lines on the first.
TEST_F(InitDbCommandTest, AStoreThatDoesNotAnswerIsOneMessage) {
  const std::string url =
      "postgresql://velnor@127.0.0.1:" + std::to_string(testing::FreePort()) +
      "/velnor";
  VelnorRun run =
      RunVelnor({"init-db", "--db-url", url, "--server", "SRV1"}, tmp_.path());
  EXPECT_EQ(run.status, 1) << run.err;
  EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 2) << run.err;
  EXPECT_TRUE(run.err.starts_with(
      "velnor: error: cannot make the report databases of SRV1 in " + url +
      ": Could not connect to the PostgreSQL database " + url + ": "))
      << run.err;
  EXPECT_NE(run.err.find("connections? Check the URL, that the server runs "
                         "and accepts this machine, and the password in "),
            std::string::npos)
      << run.err;
  EXPECT_NE(run.err.find("\n  help: fix what the message names and run "
                         "velnor init-db again; schemas already there are "
                         "left as they are\n"),
            std::string::npos)
      << run.err;
}

TEST(HostNameTest, AcceptsHostNamesOnly) {
  EXPECT_TRUE(IsValidHostName("SRV1"));
  EXPECT_TRUE(IsValidHostName("a.b-c.d9"));
  EXPECT_TRUE(
      IsValidHostName(std::string(63, 'a') + "." + std::string(63, 'b')));
  for (const char* bad :
       {"", "-srv", "srv-.x", "a..b", "a.", "srv_1", "../x"}) {
    EXPECT_FALSE(IsValidHostName(bad)) << bad;
  }
  EXPECT_FALSE(IsValidHostName(std::string(64, 'a')));
  std::string long_name;
  while (long_name.size() < 254) long_name += "abc.";
  EXPECT_FALSE(IsValidHostName(long_name.substr(0, 254)));
}

}  // namespace
}  // namespace velnor::host
