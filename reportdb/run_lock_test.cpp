// The run lock against what may be at its file's name when it is taken.
#include "reportdb/run_lock.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "testing/test_support.h"

namespace velnor::reportdb {
namespace {

namespace fs = std::filesystem;

// A second name at the lock file's, in a folder its group may write to, is
// a hard link another user may have made after the command's checks: the
// lock is not taken on it, and the file it names keeps what it held. In a
// folder of the user's own it is theirs, and the lock is taken.
TEST(RunLockTest, ALockFileWithASecondNameOthersMayHaveMadeIsNotTaken) {
  testing::TempDir dir("run_lock");
  const fs::path db_dir = dir.path() / "db";
  fs::create_directories(db_dir);
  const fs::path precious = dir.path() / "precious";
  testing::WriteFile(precious, "precious\n");
  fs::create_hard_link(precious, db_dir / ".velnor-srv1-web.lock");
  fs::permissions(db_dir, fs::perms::group_write, fs::perm_options::add);

  RunLockAttempt refused = RunLock::Acquire(db_dir.string(), "SRV1", false, 0);
  EXPECT_EQ(refused.status, RunLock::Status::kUnusable);
  EXPECT_TRUE(refused.file_refused);
  EXPECT_NE(refused.detail.find("has 2 names"), std::string::npos)
      << refused.detail;
  EXPECT_EQ(testing::ReadFile(precious), "precious\n");

  fs::permissions(db_dir, fs::perms::group_write, fs::perm_options::remove);
  RunLockAttempt own = RunLock::Acquire(db_dir.string(), "SRV1", false, 0);
  EXPECT_EQ(own.status, RunLock::Status::kTaken) << own.detail;
}

}  // namespace
}  // namespace velnor::reportdb
