// The configured Windows directories: case, replacement and removal.
#include "platform/wmi/wmi.h"

#include <gtest/gtest.h>

namespace velnor::wmi {
namespace {

TEST(WmiTest, ServersAreLookedUpWithoutRegardToCase) {
  EXPECT_EQ(ConfiguredWindowsDirectory("SRV1"), "");
  SetWindowsDirectory("SRV1", "C:\\WINDOWS");
  SetWindowsDirectory("srv2", "D:\\WINNT");
  EXPECT_EQ(ConfiguredWindowsDirectory("Srv1"), "C:\\WINDOWS");
  EXPECT_EQ(ConfiguredWindowsDirectory("SRV2"), "D:\\WINNT");
  EXPECT_EQ(ConfiguredWindowsDirectory("SRV"), "");

  SetWindowsDirectory("srv1", "E:\\W");  // the same server, a new directory
  EXPECT_EQ(ConfiguredWindowsDirectory("SRV1"), "E:\\W");
  SetWindowsDirectory("Srv1", "");
  EXPECT_EQ(ConfiguredWindowsDirectory("SRV1"), "");
  EXPECT_EQ(ConfiguredWindowsDirectory("SRV2"), "D:\\WINNT");
  SetWindowsDirectory("SRV2", "");
}

}  // namespace
}  // namespace velnor::wmi
