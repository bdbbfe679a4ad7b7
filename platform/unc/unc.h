// UNC paths on Linux: how this machine reaches "\\SERVER\SHARE\rest", the
// administrative shares through which a server's log files are read.
//
// A path that does not start with two backslashes is an ordinary local path
// and is used as it is. A UNC path is resolved by the first way in that
// claims it (see backend.h): a share root folder that holds
// ROOT/SERVER/SHARE, and otherwise an SMB client. A share root is a promise
// that the servers are reached through it: while one is set, a server or
// share it does not hold is an error naming the missing folder, and SMB is
// tried only when the access allows it beside the share root, never by
// accident with whatever credentials the machine has. Every failure raises
// automation::AutomationError whose description names the UNC path and,
// where one was tried, the local path.
#ifndef VELNOR_PLATFORM_UNC_UNC_H_
#define VELNOR_PLATFORM_UNC_UNC_H_

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
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

// One entry of a directory listing, as it is: below a share a symbolic link
// is neither what it names nor followed for its size or time.
struct DirEntry {
  std::string name;
  bool is_directory = false;
  // A regular file, which a read opens: not a link, FIFO, device or socket.
  bool is_file = false;
  uint64_t size = 0;          // bytes of a regular file; 0 for anything else
  int64_t modified_time = 0;  // last change, seconds since 1970 (UTC)
};

// "\\SERVER\SHARE\rest" taken apart. Either kind of slash separates
// components; empty and "." components are dropped and ".." removes the
// component before it but never climbs above the share, as on Windows.
struct UncPath {
  std::string server;
  std::string share;
  std::vector<std::string> rest;
};
// Nothing when `path` is not UNC or names no share.
std::optional<UncPath> ParseUncPath(std::string_view path);

// The login an SMB client offers. All empty: a Kerberos ticket of this
// machine is used when there is one, else an anonymous login is tried.
struct SmbCredentials {
  std::string username;
  std::string password;
  std::string domain;
  bool operator==(const SmbCredentials&) const = default;
};

// The credentials of an authentication file in smbclient's format
// ("username = ", "password = ", "domain = " lines; blank and "#" lines
// skipped). Raises permission denied (70) naming the file when group or
// others may read it (the password would not be private), file not found
// (53) when it cannot be opened, and path/file access error (75) when it
// is neither a regular file nor a pipe (a FIFO no one writes to is not
// waited on, a pipe only until an interrupt), holds more than 64 KB or
// gives no user name (which would log on as a guest).
SmbCredentials ReadSmbAuthFile(const std::string& path);

// UNC folders read from other ones. Callers that build paths they cannot
// change (the collector appends a fixed folder name to a site's log
// directory) are pointed at the folder that exists.
class FolderAliases {
 public:
  // Makes every path below the folder `from` (a UNC path, compared
  // component by component without regard to case) read from the same
  // place below the folder `to` instead. A later alias of the same `from`
  // replaces the earlier one. Raises invalid procedure call (5) when either
  // path names no share.
  void Add(std::string_view from, std::string_view to);
  // `path` with the alias that covers it applied, or `path` itself when
  // none does.
  std::string Apply(std::string_view path) const;

 private:
  struct Alias {
    UncPath from;
    UncPath to;
  };
  // One entry per folder a run redirects, searched in order.
  std::vector<Alias> aliases_;
};

// How this machine reaches UNC paths, handed to every open, listing and
// share listing. A plain value: the host builds it from its options, and
// each run reads through the one it is given.
struct ShareAccess {
  // The folder that maps "\\SERVER\SHARE\rest" to ROOT/SERVER/SHARE/rest;
  // each component is matched without regard to ASCII case when no exact
  // match exists. Empty: none, and SMB serves every UNC path.
  std::string share_root;
  // With a share root, lets UNC paths whose server or share it does not
  // hold go to SMB (otherwise they fail naming the missing folder).
  bool smb_beside_share_root = false;
  // The TCP port of the servers and how long to wait for one to accept a
  // connection or answer before the path counts as not found.
  uint16_t smb_port = 445;
  int smb_timeout_ms = 5000;
  SmbCredentials smb_credentials;
  FolderAliases folder_aliases;
  // The servers that did not answer in time, by lower-case name and port,
  // with why: every later path on one fails at once with the same reason,
  // so a silent server costs one timeout, not one per file or folder.
  // Shared by the copies of one access (a run's readers and listings).
  std::shared_ptr<std::map<std::string, std::string>> silent_servers =
      std::make_shared<std::map<std::string, std::string>>();
};

// The names of the shares of `server` ("C$", "D$", ...). Under a share root
// that holds a folder for the server (matched without regard to case), the
// sub-folders of ROOT/SERVER; otherwise, over SMB, the server's disk shares,
// the hidden administrative ones included. Raises like ListDirectory, naming
// the server, when it cannot be reached or the listing is refused.
std::vector<std::string> ListShares(const ShareAccess& access,
                                    std::string_view server);

// Opens `path` (UNC, reached through `access` after its folder aliases, or
// local) for reading. Raises file not found (53), path not found (76),
// permission denied (70) or path/file access error (75, e.g. for a
// directory), naming the path.
std::unique_ptr<InputFile> OpenForReading(const ShareAccess& access,
                                          std::string_view path);

// Lists the entries of directory `path`, without "." and "..", in the order
// the file system delivers them. Raises path not found (76) for a missing
// directory and otherwise like OpenForReading.
std::vector<DirEntry> ListDirectory(const ShareAccess& access,
                                    std::string_view path);

}  // namespace velnor::unc

#endif  // VELNOR_PLATFORM_UNC_UNC_H_
