// The options of how velnor reaches a server's shares, which collect and
// sites share.
#include "host/cli/server_access_options.h"

namespace velnor::host {

void AddServerAccessOptions(CLI::App& cmd, ServerAccess& access) {
  cmd.add_option("--share-root", access.share_root,
                 "Folder mapping \\\\SERVER\\SHARE to ROOT/SERVER/SHARE")
      ->type_name("DIR");
  cmd.add_flag("--smb-fallback", access.smb_fallback,
               "Read servers and shares the share root does not hold over "
               "SMB");
  cmd.add_option("--smb-auth", access.smb_auth,
                 "SMB credentials file (username =, password =, domain = "
                 "lines; default VELNOR_SMB_AUTH)")
      ->type_name("FILE");
  cmd.add_option("--smb-port", access.smb_port, "SMB port (default 445)")
      ->type_name("PORT");
  cmd.add_option("--smb-timeout", access.smb_timeout,
                 "Seconds to wait for an SMB server, 0.1 to 600 (default 5)")
      ->type_name("SECONDS");
  cmd.add_option("--windows-dir", access.windows_dirs,
                 "A server's Windows directory, SERVER=C:\\Windows")
      ->type_name("SERVER=PATH");
  cmd.add_option("--windows-dirs", access.windows_dirs_file,
                 "File of SERVER=PATH lines")
      ->type_name("FILE");
}

}  // namespace velnor::host
