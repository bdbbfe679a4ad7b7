// Stands in for WMI's Win32_OperatingSystem.WindowsDirectory of a remote
// server, the one thing the system asks a server's management service: no
// such service can be queried from Linux, so the host tells each server's
// Windows directory (WindowsDirectories::Set) and hands the map to the log
// locator and site discovery, which look it up (Of). A server without one
// is answered as an unreachable server is on Windows, with
// kErrRpcServerUnavailable and its text, so that the error log reads the
// same.
#ifndef VELNOR_PLATFORM_WMI_WMI_H_
#define VELNOR_PLATFORM_WMI_WMI_H_

#include <cstdint>
#include <map>
#include <string>
#include <string_view>

#include "platform/automation/text.h"

namespace velnor::wmi {

// 0x800706BA: the server is unknown or unreachable.
inline constexpr int32_t kErrRpcServerUnavailable = -2147023174;
inline constexpr char kRpcServerUnavailableText[] =
    "The RPC server is unavailable.";

// The Windows directory of each server the host knows one of. Servers are
// compared without regard to ASCII case. A plain value: each holder has
// its own.
class WindowsDirectories {
 public:
  // Sets the Windows directory of `server`, a drive-letter path such as
  // "C:\WINDOWS"; an empty `directory` removes it.
  void Set(std::string_view server, std::string directory);

  // The Windows directory of `server`, or "" when none is set.
  std::string Of(std::string_view server) const;

 private:
  std::map<std::string, std::string, automation::LessIgnoringAsciiCase>
      by_server_;
};

}  // namespace velnor::wmi

#endif  // VELNOR_PLATFORM_WMI_WMI_H_
