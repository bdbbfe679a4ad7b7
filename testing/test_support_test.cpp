// A test whose tool is missing: under the test command, which requires
// every tool, it fails with the reason rather than passing as a skip.
#include "testing/test_support.h"

#include <gtest/gtest-spi.h>
#include <stdlib.h>

#include <cstdlib>
#include <optional>
#include <string>

namespace velnor::testing {
namespace {

void NeedsMissingTool() {
  VELNOR_SKIP_WITHOUT_TOOL("frobnicate is not installed (Debian package)");
}

// What NeedsMissingTool reports, caught into `results` before it reaches
// this test.
void CatchReportsOfNeedsMissingTool(::testing::TestPartResultArray& results) {
  ::testing::ScopedFakeTestPartResultReporter reporter(
      ::testing::ScopedFakeTestPartResultReporter::
          INTERCEPT_ONLY_CURRENT_THREAD,
      &results);
  NeedsMissingTool();
}

// Sets VELNOR_REQUIRE_TEST_TOOLS for a scope, then puts back what the test
// command set.
class RequiredToolsSetting {
 public:
  RequiredToolsSetting() {
    if (const char* value = std::getenv(kName)) before_ = value;
  }
  ~RequiredToolsSetting() {
    if (before_) {
      ::setenv(kName, before_->c_str(), 1);
    } else {
      ::unsetenv(kName);
    }
  }
  RequiredToolsSetting(const RequiredToolsSetting&) = delete;
  RequiredToolsSetting& operator=(const RequiredToolsSetting&) = delete;

  void Set(const char* value) {
    if (value != nullptr) {
      ::setenv(kName, value, 1);
    } else {
      ::unsetenv(kName);
    }
  }

 private:
  static constexpr char kName[] = "VELNOR_REQUIRE_TEST_TOOLS";
  std::optional<std::string> before_;
};

TEST(MissingToolTest, FailsWithTheReasonOnlyWhenEveryToolIsRequired) {
  RequiredToolsSetting setting;
  setting.Set("1");
  EXPECT_TRUE(TestToolsRequired());
  EXPECT_FATAL_FAILURE(NeedsMissingTool(), "frobnicate is not installed");
  // A developer's partial machine: unset, empty or "0" skips, with the
  // reason.
  for (const char* value : {static_cast<const char*>(nullptr), "", "0"}) {
    SCOPED_TRACE(value != nullptr ? '"' + std::string(value) + '"' : "unset");
    setting.Set(value);
    EXPECT_FALSE(TestToolsRequired());
    ::testing::TestPartResultArray results;
    CatchReportsOfNeedsMissingTool(results);
    ASSERT_EQ(results.size(), 1);
    EXPECT_TRUE(results.GetTestPartResult(0).skipped());
    EXPECT_NE(std::string(results.GetTestPartResult(0).message())
                  .find("frobnicate is not installed"),
              std::string::npos);
  }
}

}  // namespace
}  // namespace velnor::testing
