// The Windows directories a host tells: case, replacement and removal.
#include "platform/wmi/wmi.h"

#include <gtest/gtest.h>

namespace velnor::wmi {
namespace {

TEST(WmiTest, ServersAreLookedUpWithoutRegardToCase) {
  WindowsDirectories directories;
  EXPECT_EQ(directories.Of("SRV1"), "");
  directories.Set("SRV1", "C:\\WINDOWS");
  directories.Set("srv2", "D:\\WINNT");
  EXPECT_EQ(directories.Of("Srv1"), "C:\\WINDOWS");
  EXPECT_EQ(directories.Of("SRV2"), "D:\\WINNT");
  EXPECT_EQ(directories.Of("SRV"), "");

  directories.Set("srv1", "E:\\W");  // the same server, a new directory
  EXPECT_EQ(directories.Of("SRV1"), "E:\\W");
  directories.Set("Srv1", "");
  EXPECT_EQ(directories.Of("SRV1"), "");
  EXPECT_EQ(directories.Of("SRV2"), "D:\\WINNT");
}

}  // namespace
}  // namespace velnor::wmi
