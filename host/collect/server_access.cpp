// The set-up of how velnor reaches a server's shares.
#include "host/collect/server_access.h"

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <sstream>

#include "host/collect/site_list.h"
#include "host/common/command_support.h"
#include "platform/automation/error_state.h"
#include "platform/automation/text.h"
#include "platform/unc/unc.h"

namespace velnor::host {
namespace {

namespace fs = std::filesystem;

// SMB timeouts from a tenth of a second to ten minutes: shorter ones fail
// healthy servers, longer ones look like a hang.
constexpr double kMinSmbTimeout = 0.1;
constexpr double kMaxSmbTimeout = 600;

// The setting `option` (spelled `name`), or else the environment variable
// `variable`, in `value`; nothing there when neither is given. A setting
// given empty (an unset variable in a cron line) is a usage mistake, never
// taken as not given: the help says to give `what`, or to leave it out to
// do `without`.
bool GivenSetting(const std::optional<std::string>& option,
                  const std::string& name, const char* variable,
                  const std::string& what, const std::string& without,
                  std::optional<std::string>& value) {
  value = option;
  std::string source = name;
  if (!value) {
    if (const char* env = std::getenv(variable)) value = env;
    source = variable;
  }
  if (!value || !value->empty()) return true;
  return Usage(source + " is empty",
               "give " + what + ", or leave " + source + " out to " + without);
}

bool ConfigureWindowsDirs(const ServerAccess& options,
                          wmi::WindowsDirectories& windows_directories) {
  std::vector<WindowsDir> dirs;
  if (const auto& file = options.windows_dirs_file) {
    if (file->empty()) {
      return Usage("--windows-dirs is empty",
                   "give the file of SERVER=PATH lines, or leave "
                   "--windows-dirs out");
    }
    if (!ReadWindowsDirsFile(*file, dirs)) return false;
  }
  for (const std::string& entry : options.windows_dirs) {
    if (!ParseWindowsDir({entry, "--windows-dir"}, dirs.emplace_back())) {
      return false;
    }
  }
  for (const WindowsDir& dir : dirs) {
    windows_directories.Set(dir.server, dir.path);
  }
  return true;
}

bool ConfigureShareRoot(const ServerAccess& options, unc::ShareAccess& shares) {
  std::optional<std::string> root;
  if (!GivenSetting(options.share_root, "--share-root", "VELNOR_SHARE_ROOT",
                    "the folder that holds SERVER/SHARE/...",
                    "read the shares over SMB", root)) {
    return false;
  }
  if (!root) return true;
  if (!fs::is_directory(*root)) {
    return Usage("the share root " + Shown(*root) + " is not a folder",
                 "give the folder that holds SERVER/SHARE/... "
                 "(--share-root or VELNOR_SHARE_ROOT)");
  }
  shares.share_root = *root;
  shares.smb_beside_share_root = options.smb_fallback;
  return true;
}

// Servers no share root maps are read over SMB, with the credentials of an
// authentication file (never a password on the command line).
bool ConfigureSmb(const ServerAccess& options, unc::ShareAccess& shares) {
  if (options.smb_port < 1 || options.smb_port > 65535) {
    return Usage(
        "--smb-port " + std::to_string(options.smb_port) + " is not a TCP port",
        "give a port from 1 to 65535 (445 is SMB's)");
  }
  // NaN fails both comparisons, so it is refused too.
  if (!(options.smb_timeout >= kMinSmbTimeout &&
        options.smb_timeout <= kMaxSmbTimeout)) {
    std::ostringstream given;
    given << options.smb_timeout;
    return Usage(
        "--smb-timeout " + given.str() + " is not a usable number of seconds",
        "give seconds from 0.1 to 600, such as 5 or 2.5");
  }
  shares.smb_port = static_cast<uint16_t>(options.smb_port);
  shares.smb_timeout_ms =
      static_cast<int>(std::lround(options.smb_timeout * 1000));
  std::optional<std::string> given;
  if (!GivenSetting(options.smb_auth, "--smb-auth", "VELNOR_SMB_AUTH",
                    "the SMB authentication file", "log on without one",
                    given)) {
    return false;
  }
  if (!given) return true;
  const std::string& auth = *given;
  if (!automation::ResumeNext(
          [&] { shares.smb_credentials = unc::ReadSmbAuthFile(auth); })) {
    std::string reason = automation::Err().Description();
    automation::Err().Clear();
    return Usage("cannot use the SMB authentication file " + Shown(auth),
                 reason);
  }
  return true;
}

}  // namespace

bool ConfigureServerAccess(const ServerAccess& options,
                           wmi::WindowsDirectories& windows_directories,
                           unc::ShareAccess& shares) {
  return ConfigureWindowsDirs(options, windows_directories) &&
         ConfigureShareRoot(options, shares) && ConfigureSmb(options, shares);
}

bool CheckServerUnderShareRoot(const unc::ShareAccess& shares,
                               const std::string& server) {
  if (shares.share_root.empty() || shares.smb_beside_share_root) return true;
  if (automation::ResumeNext([&] { unc::ListShares(shares, server); })) {
    return true;
  }
  const bool missing =
      automation::Err().Number() == automation::kErrPathNotFound;
  std::string reason = automation::Err().Description();
  automation::Err().Clear();
  if (!missing) {
    return Usage("cannot list the shares of " + server +
                     " under the share root " + Shown(shares.share_root),
                 reason);
  }
  return Usage("the share root " + Shown(shares.share_root) +
                   " holds no folder of the server " + server +
                   ", so none of its logs can be read",
               "mount or copy its shares there as " + server + "/C$, " +
                   server +
                   "/D$..., check --server, or give "
                   "--smb-fallback to read it over SMB");
}

std::string ExpandSystemDrive(const std::string& directory,
                              const std::string& drive) {
  constexpr std::string_view kSystemDrive = "%systemdrive%";
  if (!automation::StartsWithIgnoringAsciiCase(directory, kSystemDrive)) {
    return directory;
  }
  return drive + directory.substr(kSystemDrive.size());
}

}  // namespace velnor::host
