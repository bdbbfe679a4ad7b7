// A test whose tool is missing: under the test command, which requires
// every tool, it fails with the reason rather than passing as a skip.
#include "testing/test_support.h"

#include <gtest/gtest-spi.h>
#include <stdlib.h>

namespace velnor::testing {
namespace {

void NeedsMissingTool() {
  VELNOR_SKIP_WITHOUT_TOOL("frobnicate is not installed (Debian package)");
}

TEST(MissingToolTest, FailsWithTheReasonOnlyWhenEveryToolIsRequired) {
  ::setenv("VELNOR_REQUIRE_TEST_TOOLS", "1", 1);
  EXPECT_TRUE(TestToolsRequired());
  EXPECT_FATAL_FAILURE(NeedsMissingTool(), "frobnicate is not installed");
  // A developer's partial machine: unset, empty or "0" allows skipping.
  for (const char* value : {"", "0"}) {
    ::setenv("VELNOR_REQUIRE_TEST_TOOLS", value, 1);
    EXPECT_FALSE(TestToolsRequired()) << '"' << value << '"';
  }
  ::unsetenv("VELNOR_REQUIRE_TEST_TOOLS");
  EXPECT_FALSE(TestToolsRequired());
}

}  // namespace
}  // namespace velnor::testing
