// How velnor reaches a server's administrative shares: a folder holding
// copies of them (the share root), SMB, and the servers' Windows
// directories. collect and sites take the same options for it.
#ifndef VELNOR_HOST_COLLECT_SERVER_ACCESS_H_
#define VELNOR_HOST_COLLECT_SERVER_ACCESS_H_

#include <optional>
#include <string>
#include <vector>

#include "platform/unc/unc.h"
#include "platform/wmi/wmi.h"

namespace velnor::host {

struct ServerAccess {
  // Also VELNOR_SHARE_ROOT; given but empty is a mistake, not "no share
  // root": it would read over SMB, which the user did not ask for.
  std::optional<std::string> share_root;
  // With a share root, servers and shares it does not hold are read over
  // SMB instead of reported missing.
  bool smb_fallback = false;
  // Also VELNOR_SMB_AUTH; given but empty is a mistake, not "no
  // credentials": SMB would log on as a guest.
  std::optional<std::string> smb_auth;
  int smb_port = 445;
  double smb_timeout = 5;
  std::vector<std::string> windows_dirs;  // "SERVER=C:\Windows"
  // Given but empty is a mistake: the run would search the drives instead.
  std::optional<std::string> windows_dirs_file;
};

// Sets how the shares are reached (the share root and SMB) from `access`
// in `shares`, and the Windows directories it gives in
// `windows_directories`. Prints the usage mistake and returns false when
// an option cannot be used.
bool ConfigureServerAccess(const ServerAccess& access,
                           wmi::WindowsDirectories& windows_directories,
                           unc::ShareAccess& shares);

// False, with the mistake printed, when `shares` read `server` through a
// share root alone (no SMB beside it) and the share root holds no folder
// for it, or that folder cannot be listed: nothing of the server could be
// read, so the run is refused before it makes or writes anything.
bool CheckServerUnderShareRoot(const unc::ShareAccess& shares,
                               const std::string& server);

// `directory` with a leading "%SystemDrive%" (in any case) replaced by
// `drive` ("C:"); other directories unchanged.
std::string ExpandSystemDrive(const std::string& directory,
                              const std::string& drive);

}  // namespace velnor::host

#endif  // VELNOR_HOST_COLLECT_SERVER_ACCESS_H_
