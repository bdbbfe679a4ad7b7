// The WMI scripting surface this system needs: bind to a server's
// root\cimv2 namespace through a "winmgmts:" moniker, query
// Win32_OperatingSystem and read WindowsDirectory.
//
// No Windows management service can be queried from Linux, so each server's
// Windows directory comes from the host's configuration (SetWindowsDirectory,
// LoadWindowsDirectories). A server without one fails the bind exactly as an
// unreachable server does on Windows, so callers and the error log see the
// same number and text.
#ifndef VELNOR_PLATFORM_WMI_WMI_H_
#define VELNOR_PLATFORM_WMI_WMI_H_

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace velnor::wmi {

// 0x800706BA: the server is unknown or unreachable.
inline constexpr int32_t kErrRpcServerUnavailable = -2147023174;
inline constexpr char kRpcServerUnavailableText[] =
    "The RPC server is unavailable.";
// 0x800401E4 (MK_E_SYNTAX), what GetObject raises for a moniker it cannot
// parse: not "winmgmts:", no server, or an unclosed "{...}".
inline constexpr int32_t kErrInvalidSyntax = -2147221020;
// 0x8004100E: a namespace other than root\cimv2.
inline constexpr int32_t kErrInvalidNamespace = -2147217394;
// 0x80041017: any query other than the operating-system query.
inline constexpr int32_t kErrInvalidQuery = -2147217385;

// One Win32_OperatingSystem instance.
class OperatingSystem {
 public:
  explicit OperatingSystem(std::string windows_directory)
      : windows_directory_(std::move(windows_directory)) {}
  // A drive-letter path such as "C:\WINDOWS".
  const std::string& WindowsDirectory() const { return windows_directory_; }

 private:
  std::string windows_directory_;
};

// The service object of one server's namespace.
class Services {
 public:
  Services(std::string server, std::string name_space)
      : server_(std::move(server)), namespace_(std::move(name_space)) {}

  const std::string& server() const { return server_; }
  const std::string& name_space() const { return namespace_; }

  // Runs a WQL query. Only "Select * From Win32_OperatingSystem" is known
  // (keywords and class name without regard to case, any run of blanks
  // between words); any other raises kErrInvalidQuery. Raises
  // kErrRpcServerUnavailable when the server's directory was removed from
  // the configuration since the bind.
  std::vector<OperatingSystem> ExecQuery(std::string_view query) const;

 private:
  std::string server_;
  std::string namespace_;
};

// Binds to the moniker "winmgmts:[{settings}[!]]\\SERVER\NAMESPACE" (either
// kind of slash). The settings such as authenticationLevel=pktPrivacy are
// accepted and have no effect here. Raises automation::AutomationError:
// kErrInvalidSyntax for a malformed moniker, kErrInvalidNamespace for a
// namespace other than root\cimv2, kErrRpcServerUnavailable with
// kRpcServerUnavailableText for a server whose Windows directory is not
// configured. The caller owns the result.
std::shared_ptr<Services> GetObject(std::string_view moniker);

// Configures the Windows directory of `server` (compared without regard to
// ASCII case); an empty `directory` removes it. Process-wide, thread-safe.
void SetWindowsDirectory(std::string_view server, std::string directory);

// The configured Windows directory of `server` (compared without regard to
// ASCII case), or "" when none is configured.
std::string ConfiguredWindowsDirectory(std::string_view server);

// Reads "SERVER=PATH" lines from `file` into the configuration; blank lines
// and lines starting with "#" are skipped, blanks around both parts are
// trimmed. Raises file not found (53) naming the file when it cannot be
// read, and invalid procedure call (5) naming the file and line for a line
// without "=" or with an empty server; lines before it are kept.
void LoadWindowsDirectories(const std::string& file);

// Forgets every configured directory.
void ClearWindowsDirectories();

}  // namespace velnor::wmi

#endif  // VELNOR_PLATFORM_WMI_WMI_H_
