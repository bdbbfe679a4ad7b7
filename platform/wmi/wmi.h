// Stands in for WMI's Win32_OperatingSystem.WindowsDirectory of a remote
// server, the one thing the system asks a server's management service: no
// such service can be queried from Linux, so the host configures each
// server's Windows directory (SetWindowsDirectory) and the log locator and
// site discovery look it up (ConfiguredWindowsDirectory). A server without
// one is answered as an unreachable server is on Windows, with
// kErrRpcServerUnavailable and its text, so that the error log reads the
// same.
#ifndef VELNOR_PLATFORM_WMI_WMI_H_
#define VELNOR_PLATFORM_WMI_WMI_H_

#include <cstdint>
#include <string>
#include <string_view>

namespace velnor::wmi {

// 0x800706BA: the server is unknown or unreachable.
inline constexpr int32_t kErrRpcServerUnavailable = -2147023174;
inline constexpr char kRpcServerUnavailableText[] =
    "The RPC server is unavailable.";

// Configures the Windows directory of `server` (compared without regard to
// ASCII case), a drive-letter path such as "C:\WINDOWS"; an empty
// `directory` removes it. Process-wide, thread-safe.
void SetWindowsDirectory(std::string_view server, std::string directory);

// The configured Windows directory of `server` (compared without regard to
// ASCII case), or "" when none is configured.
std::string ConfiguredWindowsDirectory(std::string_view server);

}  // namespace velnor::wmi

#endif  // VELNOR_PLATFORM_WMI_WMI_H_
