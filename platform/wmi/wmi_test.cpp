// Binding through monikers, the configured directories and the query.
#include "platform/wmi/wmi.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "platform/automation/error_state.h"

namespace velnor::wmi {
namespace {

using automation::AutomationError;

constexpr char kMoniker[] =
    "winmgmts:{authenticationLevel=pktPrivacy}\\\\srv1\\root\\cimv2";

int32_t ErrorNumberOf(auto&& statement) {
  try {
    statement();
  } catch (const AutomationError& e) {
    return e.number();
  }
  return 0;
}

class WmiTest : public testing::Test {
 protected:
  void TearDown() override { ClearWindowsDirectories(); }
};

TEST_F(WmiTest, ConfiguredServerAnswersTheOperatingSystemQuery) {
  SetWindowsDirectory("SRV1", "C:\\WINDOWS");
  auto service = GetObject(kMoniker);
  EXPECT_EQ(service->server(), "srv1");
  auto systems = service->ExecQuery("select *  from WIN32_OperatingSystem");
  ASSERT_EQ(systems.size(), 1u);
  EXPECT_EQ(systems[0].WindowsDirectory(), "C:\\WINDOWS");
  EXPECT_EQ(ConfiguredWindowsDirectory("Srv1"), "C:\\WINDOWS");
  EXPECT_EQ(
      ErrorNumberOf([&] { service->ExecQuery("Select * From Win32_Service"); }),
      kErrInvalidQuery);
  SetWindowsDirectory("srv1", "");
  EXPECT_EQ(ErrorNumberOf([&] {
              service->ExecQuery("Select * From Win32_OperatingSystem");
            }),
            kErrRpcServerUnavailable);
  EXPECT_EQ(ConfiguredWindowsDirectory("SRV1"), "");
}

TEST_F(WmiTest, UnknownServerFailsTheBindLikeAnUnreachableOne) {
  try {
    GetObject(kMoniker);
    FAIL() << "bind succeeded";
  } catch (const AutomationError& e) {
    EXPECT_EQ(e.number(), kErrRpcServerUnavailable);
    EXPECT_EQ(e.description(), "The RPC server is unavailable.");
  }
}

TEST_F(WmiTest, MonikerSyntax) {
  SetWindowsDirectory("SRV1", "C:\\WINDOWS");
  SetWindowsDirectory(".", "D:\\WINNT");
  EXPECT_EQ(GetObject("WinMgmts://SRV1/root/cimv2")->server(), "SRV1");
  EXPECT_EQ(GetObject("winmgmts:{impersonationLevel=impersonate}!\\\\srv1")
                ->name_space(),
            "root\\cimv2");
  EXPECT_EQ(GetObject("winmgmts:")->server(), ".");
  EXPECT_EQ(ErrorNumberOf([] { GetObject("winmgmt:\\\\SRV1\\root\\cimv2"); }),
            kErrInvalidSyntax);
  EXPECT_EQ(ErrorNumberOf([] {
              GetObject("winmgmts:{authenticationLevel=pktPrivacy\\\\SRV1");
            }),
            kErrInvalidSyntax);
  EXPECT_EQ(ErrorNumberOf([] { GetObject("winmgmts:\\\\\\root\\cimv2"); }),
            kErrInvalidSyntax);
  EXPECT_EQ(
      ErrorNumberOf([] { GetObject("winmgmts:\\\\SRV1\\root\\default"); }),
      kErrInvalidNamespace);
}

TEST_F(WmiTest, LoadsServerLinesAndRejectsMalformedOnes) {
  auto file = std::filesystem::temp_directory_path() / "wmi_test_dirs.conf";
  std::ofstream(file) << "# servers\n\n SRV1 = C:\\WINDOWS \r\nsrv2=D:\\WINNT\n"
                         "broken line\nSRV3=E:\\W\n";
  int32_t number =
      ErrorNumberOf([&] { LoadWindowsDirectories(file.string()); });
  std::filesystem::remove(file);
  EXPECT_EQ(number, automation::kErrInvalidProcedureCall);
  EXPECT_EQ(GetObject("winmgmts:\\\\srv1\\root\\cimv2")
                ->ExecQuery("Select * From Win32_OperatingSystem")[0]
                .WindowsDirectory(),
            "C:\\WINDOWS");
  EXPECT_EQ(GetObject("winmgmts:\\\\SRV2")
                ->ExecQuery("Select * From Win32_OperatingSystem")[0]
                .WindowsDirectory(),
            "D:\\WINNT");
  EXPECT_EQ(ErrorNumberOf([] { GetObject("winmgmts:\\\\SRV3"); }),
            kErrRpcServerUnavailable);
  EXPECT_EQ(ErrorNumberOf([&] { LoadWindowsDirectories(file.string()); }),
            automation::kErrFileNotFound);
}

}  // namespace
}  // namespace velnor::wmi
