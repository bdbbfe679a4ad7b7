// UNC paths on Linux: how this machine reaches "\\SERVER\SHARE\rest", the
// administrative shares through which a server's log files are read.
//
// A path that does not start with two backslashes is an ordinary local path
// and is used as it is. A UNC path is resolved by the first way in that
// claims it (see backend.h): a share root folder that holds
// ROOT/SERVER/SHARE, and otherwise an SMB client. A share root is a promise
// that the servers are reached through it: while one is set, a server or
// share it does not hold is an error naming the missing folder, and SMB is
// tried only when SetSmbBesideShareRoot allows it, never by accident with
// whatever credentials the machine has. Every failure raises
// automation::AutomationError whose description names the UNC path and,
// where one was tried, the local path.
#ifndef VELNOR_PLATFORM_UNC_UNC_H_
#define VELNOR_PLATFORM_UNC_UNC_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace velnor::unc {

// A file open for reading, streamed.
class InputFile {
 public:
  virtual ~InputFile() = default;
  // Reads up to `size` bytes; 0 at the end. Raises device I/O error (57),
  // naming the path, on a read error.
  virtual size_t Read(char* buffer, size_t size) = 0;
};

// One entry of a directory listing.
struct DirEntry {
  std::string name;
  bool is_directory = false;
  uint64_t size = 0;          // bytes of a file; 0 for a directory
  int64_t modified_time = 0;  // last change, seconds since 1970 (UTC)
};

// Sets the folder that maps "\\SERVER\SHARE\rest" to ROOT/SERVER/SHARE/rest;
// each component is matched without regard to ASCII case when no exact match
// exists. An empty `root` turns the mapping off (the default). The host
// decides where the root comes from; the library reads no environment.
// Process-wide; safe to call from any thread.
void SetShareRoot(std::string root);
std::string ShareRoot();

// The SMB client that reaches UNC paths no share root maps, as
// smb://SERVER/SHARE/rest. Credentials come from an authentication file in
// smbclient's format ("username = ", "password = ", "domain = " lines; blank
// and "#" lines skipped); without one, a Kerberos ticket of this machine is
// used when there is one, else an anonymous login is tried.
//
// SetSmbAuthFile raises permission denied (70) naming the file when group or
// others may read it (the password would not be private), and file not found
// (53) when it cannot be read. An empty `path` forgets the credentials.
void SetSmbAuthFile(const std::string& path);
// The TCP port of the servers (default 445) and how long to wait for one to
// accept a connection or answer (default 5000 ms) before the path counts as
// not found. A server that did not answer in time is not tried again: every
// later path on it fails at once with the same reason, so a silent server
// costs one timeout, not one per file or folder. New options forget that.
void SetSmbOptions(uint16_t port, int timeout_ms);

// Lets UNC paths whose server or share the share root does not hold go to
// SMB (default: they fail naming the missing folder). No effect without a
// share root, where SMB serves every UNC path.
void SetSmbBesideShareRoot(bool allowed);

// The names of the shares of `server` ("C$", "D$", ...). Under a share root
// that holds a folder for the server (matched without regard to case), the
// sub-folders of ROOT/SERVER; otherwise, over SMB, the server's disk shares,
// the hidden administrative ones included. Raises like ListDirectory, naming
// the server, when it cannot be reached or the listing is refused.
std::vector<std::string> ListShares(std::string_view server);

// Makes every path below the folder `from` (a UNC path, compared component by
// component without regard to case) read from the same place below the
// folder `to` instead, for OpenForReading and ListDirectory alike. Callers
// that build paths they cannot change (the collector appends a fixed folder
// name to a site's log directory) are pointed at the folder that exists.
// A later alias of the same `from` replaces the earlier one. Process-wide;
// safe to call from any thread. Raises invalid procedure call (5) when
// either path names no share.
void SetFolderAlias(std::string_view from, std::string_view to);
// Forgets every alias.
void ClearFolderAliases();

// Opens `path` (UNC or local) for reading. Raises file not found (53),
// path not found (76), permission denied (70) or path/file access error (75,
// e.g. for a directory), naming the path.
std::unique_ptr<InputFile> OpenForReading(std::string_view path);

// Lists the entries of directory `path`, without "." and "..", in the order
// the file system delivers them. Raises path not found (76) for a missing
// directory and otherwise like OpenForReading.
std::vector<DirEntry> ListDirectory(std::string_view path);

}  // namespace velnor::unc

#endif  // VELNOR_PLATFORM_UNC_UNC_H_
