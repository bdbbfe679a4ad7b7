// The SMB way in, on libsmbclient. One client context serves the process,
// set up for the access of each call; libsmbclient is not thread-safe, so
// every call into it holds one mutex.
// Before a server is contacted it is resolved and a TCP connection to its
// port is tried with the configured timeout: libsmbclient's own name
// resolution and connect can wait far longer, and this way an unreachable
// server fails fast with an error that names it. A share that answered is
// asked again over the connection libsmbclient keeps, unprobed.
#include <fcntl.h>
#include <libsmbclient.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <map>
#include <mutex>
#include <set>
#include <sstream>

#include "platform/automation/error_state.h"
#include "platform/automation/text.h"
#include "platform/dynlib/dynamic_library.h"
#include "platform/interrupt/interrupt.h"
#include "platform/unc/backend.h"
#include "platform/unc/local_fs.h"

namespace velnor::unc {
namespace {

using automation::Raise;

constexpr char kDeniedAdvice[] =
    "Check the user name, password and domain in the SMB authentication "
    "file, and the share's permissions.";

// Guards the context and every libsmbclient call.
std::mutex& SmbMutex() {
  static std::mutex mutex;
  return mutex;
}

// A call of the thread that runs the work, which may reach a server: an
// interrupt may end the process while the server keeps it waiting
// (libsmbclient goes on waiting through signals until its timeout, up to
// minutes), or while another thread's call holds the mutex.
struct SmbCall {
  interrupt::AbandonScope abandon{
      "velnor: stopped while waiting for a server that does not answer; "
      "nothing of this run was stored\n"};
  std::lock_guard<std::mutex> lock{SmbMutex()};
};

// The most one read asks of a server. On a read-ahead thread the read is
// not abandoned itself (interrupt::WaitedOnScope): the thread that waits
// for its bytes is, and gives it a second after an interrupt. Small enough
// for a slow but live server to answer within that second, large enough to
// keep a fast link busy.
constexpr size_t kMostReadBytes = size_t{256} << 10;

// The libsmbclient functions this client calls, each named once: the
// loader looks each up by this name and keeps it in a member of the same
// name.
#define VELNOR_SMB_FUNCTIONS(X)          \
  X(smbc_free_context)                   \
  X(smbc_getFunctionClose)               \
  X(smbc_getFunctionClosedir)            \
  X(smbc_getFunctionFstat)               \
  X(smbc_getFunctionOpen)                \
  X(smbc_getFunctionOpendir)             \
  X(smbc_getFunctionPurgeCachedServers)  \
  X(smbc_getFunctionRead)                \
  X(smbc_getFunctionReaddir)             \
  X(smbc_getFunctionReaddirPlus)         \
  X(smbc_init_context)                   \
  X(smbc_new_context)                    \
  X(smbc_setDebug)                       \
  X(smbc_setFunctionAuthDataWithContext) \
  X(smbc_setOptionFallbackAfterKerberos) \
  X(smbc_setOptionUseKerberos)           \
  X(smbc_setPort)                        \
  X(smbc_setTimeout)

// libsmbclient, loaded on the first SMB call rather than linked: its
// hundred libraries would cost every run some 40 ms before it starts, most
// of which never reach a share over SMB.
struct SmbClient {
// The member's name is a declarator, which parentheses would not keep.
// NOLINTNEXTLINE(bugprone-macro-parentheses)
#define VELNOR_SMB_MEMBER(name) decltype(&::name) name;
  VELNOR_SMB_FUNCTIONS(VELNOR_SMB_MEMBER)
#undef VELNOR_SMB_MEMBER
};

// The library's own calls, looked up without raising: a fault is worded
// below, once.
SmbClient LookUpSmbClient() {
  const dynlib::Library library("libsmbclient.so.0");
  SmbClient client{};
#define VELNOR_SMB_LOAD(name) library.Find(#name, client.name);
  VELNOR_SMB_FUNCTIONS(VELNOR_SMB_LOAD)
#undef VELNOR_SMB_LOAD
  // Files are read on read-ahead threads, so the library's per-thread state
  // (its talloc stack frames) must be kept per thread. Builds without
  // thread support (Debian's among them) lack the call; there the one
  // mutex around every call is what keeps two threads apart.
  if (auto thread_posix = library.FindOptional<decltype(&smbc_thread_posix)>(
          "smbc_thread_posix")) {
    thread_posix();
  }
  return client;
}

SmbClient LoadSmbClient() {
  try {
    return LookUpSmbClient();
  } catch (const dynlib::LoadError& error) {
    const std::string start =
        "Path/File access error: the SMB client cannot start: ";
    if (!error.missing().empty()) {
      Raise(75, start + "libsmbclient lacks " + error.missing() +
                    ". Reinstall the package libsmbclient.");
    }
    Raise(75, start + error.what() + ". Install the package libsmbclient.");
  }
}

#undef VELNOR_SMB_FUNCTIONS

// Raises when the library cannot be loaded, and tries again at the next
// call.
const SmbClient& SmbLib() {
  static const SmbClient client = LoadSmbClient();
  return client;
}

// The process's one context, made on first use and kept (libsmbclient
// leaks a little with every new context), with the settings of the access
// it was last used for. Caller holds SmbMutex().
struct ContextState {
  SMBCCTX* context = nullptr;
  uint16_t port = 0;
  int timeout_ms = 0;
  SmbCredentials credentials;
};

ContextState& TheContext() {
  static ContextState state;
  return state;
}

void CopyField(const std::string& value, char* field, int size) {
  if (value.empty() || size <= 0) return;
  size_t length = std::min(value.size(), static_cast<size_t>(size - 1));
  std::memcpy(field, value.data(), length);
  field[length] = '\0';
}

// Called inside a libsmbclient call, which holds SmbMutex().
void SupplyCredentials(SMBCCTX*, const char*, const char*, char* workgroup,
                       int workgroup_size, char* username, int username_size,
                       char* password, int password_size) {
  const SmbCredentials& credentials = TheContext().credentials;
  CopyField(credentials.domain, workgroup, workgroup_size);
  CopyField(credentials.username, username, username_size);
  CopyField(credentials.password, password, password_size);
}

SMBCCTX* NewContext() {
  const SmbClient& lib = SmbLib();
  SMBCCTX* context = lib.smbc_new_context();
  if (context != nullptr) {
    lib.smbc_setDebug(context, 0);
    lib.smbc_setOptionUseKerberos(context, 1);
    lib.smbc_setOptionFallbackAfterKerberos(context, 1);
    lib.smbc_setFunctionAuthDataWithContext(context, SupplyCredentials);
  }
  if (context == nullptr || lib.smbc_init_context(context) == nullptr) {
    int error = errno;
    if (context != nullptr) lib.smbc_free_context(context, 0);
    Raise(75, "Path/File access error: the SMB client cannot start: " +
                  std::string(std::strerror(error)) +
                  ". Check the Samba client configuration.");
  }
  return context;
}

// The servers, with the share, that answered a call with the context's
// present settings: libsmbclient keeps its connection to each and reuses
// it, so a later call there opens no connection that could keep it waiting,
// and a probe would only cost the server a process of its own (smbd forks
// one for every connection) just as the file is read. Caller holds
// SmbMutex().
std::set<std::string>& AnsweringServers() {
  static std::set<std::string> answering;
  return answering;
}

// Whether the context exists with the settings of `access`. Caller holds
// SmbMutex().
bool SettingsMatch(const ShareAccess& access) {
  const ContextState& state = TheContext();
  return state.context != nullptr && state.port == access.smb_port &&
         state.timeout_ms == access.smb_timeout_ms &&
         state.credentials == access.smb_credentials;
}

// The context, set up for `access`. Connections made with other settings
// are dropped, except those that files still read from. Caller holds
// SmbMutex().
SMBCCTX* ContextFor(const ShareAccess& access) {
  ContextState& state = TheContext();
  if (state.context == nullptr) state.context = NewContext();
  if (state.port != access.smb_port ||
      state.timeout_ms != access.smb_timeout_ms ||
      state.credentials != access.smb_credentials) {
    const SmbClient& lib = SmbLib();
    lib.smbc_setPort(state.context, access.smb_port);
    lib.smbc_setTimeout(state.context, access.smb_timeout_ms);
    state.port = access.smb_port;
    state.timeout_ms = access.smb_timeout_ms;
    state.credentials = access.smb_credentials;
    lib.smbc_getFunctionPurgeCachedServers(state.context)(state.context);
    AnsweringServers().clear();
  }
  return state.context;
}

// Why `server` cannot be reached on `port`, or "" when it accepts a
// connection within `timeout_ms`.
std::string ConnectProblem(const std::string& server, uint16_t port,
                           int timeout_ms) {
  addrinfo hints{};
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* addresses = nullptr;
  int rc = ::getaddrinfo(server.c_str(), std::to_string(port).c_str(), &hints,
                         &addresses);
  if (rc != 0)
    return std::string("the name cannot be resolved: ") + gai_strerror(rc);
  std::string problem = "it has no usable address";
  for (addrinfo* a = addresses; a != nullptr; a = a->ai_next) {
    int fd =
        ::socket(a->ai_family, a->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC,
                 a->ai_protocol);
    if (fd < 0) continue;
    int error = ::connect(fd, a->ai_addr, a->ai_addrlen) == 0 ? 0 : errno;
    if (error == EINPROGRESS) {
      pollfd wait{fd, POLLOUT, 0};
      // A signal (the user stopping the run) is not the server's silence:
      // the wait goes on for the rest of the timeout.
      const auto deadline = std::chrono::steady_clock::now() +
                            std::chrono::milliseconds(timeout_ms);
      int ready;
      do {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        ready = ::poll(&wait, 1,
                       static_cast<int>(std::max<int64_t>(0, left.count())));
      } while (ready < 0 && errno == EINTR);
      socklen_t length = sizeof error;
      if (ready <= 0) {
        error = ready == 0 ? ETIMEDOUT : errno;
      } else if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0) {
        error = errno;
      }
    }
    ::close(fd);
    if (error == 0) {
      problem.clear();
      break;
    }
    problem = "port " + std::to_string(port) +
              " does not answer: " + std::strerror(error);
  }
  ::freeaddrinfo(addresses);
  return problem;
}

[[noreturn]] void RaiseUnreachable(std::string_view path, const UncPath& unc,
                                   const std::string& problem) {
  Raise(automation::kErrPathNotFound,
        "Path not found: cannot reach " + std::string(path) + ": server " +
            unc.server + " (no share root maps it, so SMB was tried): " +
            problem + ". Check the server name and the network, or set a " +
            "share root that holds " + unc.server +
            (unc.share.empty() ? "" : "/" + unc.share) + ".");
}

// The key of `unc`'s server on the access's port among the silent ones.
std::string SilentKey(const ShareAccess& access, const UncPath& unc) {
  return automation::AsciiLowered(unc.server) + ":" +
         std::to_string(access.smb_port);
}

std::string AnsweringKey(const ShareAccess& access, const UncPath& unc) {
  return SilentKey(access, unc) + "/" + automation::AsciiLowered(unc.share);
}

// Raises when `unc`'s server does not accept a connection in time, and
// counts it as silent from now on. Caller holds SmbMutex().
void Probe(const ShareAccess& access, std::string_view path,
           const UncPath& unc) {
  std::string problem =
      ConnectProblem(unc.server, access.smb_port, access.smb_timeout_ms);
  if (problem.empty()) return;
  AnsweringServers().erase(AnsweringKey(access, unc));
  access.silent_servers->emplace(SilentKey(access, unc), problem);
  RaiseUnreachable(path, unc, problem);
}

// Caller holds SmbMutex(). A server that failed once fails again at once.
// One that answered a call on the share before is not probed again: false.
bool CheckReachable(const ShareAccess& access, std::string_view path,
                    const UncPath& unc) {
  std::map<std::string, std::string>& silent = *access.silent_servers;
  if (auto known = silent.find(SilentKey(access, unc)); known != silent.end()) {
    RaiseUnreachable(path, unc, known->second);
  }
  if (SettingsMatch(access) &&
      AnsweringServers().contains(AnsweringKey(access, unc))) {
    return false;
  }
  Probe(access, path, unc);
  return true;
}

// After a call on a server that was not probed first failed: a server gone
// since it answered fails as one that cannot be reached, as it would have
// had it been probed. Caller holds SmbMutex().
void ProbeIfSkipped(bool probed, const ShareAccess& access,
                    std::string_view path, const UncPath& unc) {
  if (!probed) Probe(access, path, unc);
}

void Answered(const ShareAccess& access, const UncPath& unc) {
  AnsweringServers().insert(AnsweringKey(access, unc));
}

// After a libsmbclient call on `path` failed with `error`: a server that
// accepted the connection but did not answer in time counts as silent from
// now on, and the failure says so. Caller holds SmbMutex().
void FailIfTimedOut(const ShareAccess& access, int error, std::string_view path,
                    const UncPath& unc) {
  if (error != ETIMEDOUT) return;
  std::string problem =
      "it accepts connections on port " + std::to_string(access.smb_port) +
      " but does not answer (" + std::strerror(ETIMEDOUT) + ")";
  access.silent_servers->emplace(SilentKey(access, unc), problem);
  RaiseUnreachable(path, unc, problem);
}

// Everything but unreserved characters is percent-encoded: libsmbclient
// decodes URLs, so "%", "?" or "#" in a name must not be taken literally.
std::string Encode(std::string_view component) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string encoded;
  for (unsigned char c : component) {
    if (std::isalnum(c) || std::strchr("-._~$", c) != nullptr) {
      encoded += static_cast<char>(c);
    } else {
      encoded += {'%', kHex[c >> 4], kHex[c & 15]};
    }
  }
  return encoded;
}

std::string UrlOf(const UncPath& unc, size_t rest_components) {
  std::string url = "smb://" + Encode(unc.server) + "/" + Encode(unc.share);
  for (size_t i = 0; i < rest_components; ++i) {
    url += '/';
    url += Encode(unc.rest[i]);
  }
  return url;
}

UncPath ParseOrRaise(std::string_view path) {
  auto unc = ParseUncPath(path);
  if (!unc) {
    Raise(automation::kErrPathNotFound,
          "Path not found: " + std::string(path) +
              " names no share. Give \\\\SERVER\\SHARE\\path.");
  }
  return *unc;
}

bool IsSmbDirectory(SMBCCTX* context, const std::string& url) {
  SMBCFILE* dir =
      SmbLib().smbc_getFunctionOpendir(context)(context, url.c_str());
  if (dir == nullptr) return false;
  SmbLib().smbc_getFunctionClosedir(context)(context, dir);
  return true;
}

class SmbFile final : public InputFile {
 public:
  SmbFile(SMBCCTX* context, SMBCFILE* file, std::string where)
      : context_(context), file_(file), where_(std::move(where)) {}
  ~SmbFile() override {
    SmbCall call;
    SmbLib().smbc_getFunctionClose(context_)(context_, file_);
  }
  SmbFile(const SmbFile&) = delete;
  SmbFile& operator=(const SmbFile&) = delete;

  size_t Read(char* buffer, size_t size) override {
    SmbCall call;
    ssize_t got = SmbLib().smbc_getFunctionRead(context_)(
        context_, file_, buffer, std::min(size, kMostReadBytes));
    if (got >= 0) return static_cast<size_t>(got);
    Raise(57, "Device I/O error: cannot read " + where_ + ": " +
                  std::strerror(errno) +
                  ". Check the connection to the server.");
  }

 private:
  SMBCCTX* context_;
  SMBCFILE* file_;
  std::string where_;
};

class Smb final : public Backend {
 public:
  bool Claims(const ShareAccess& access, std::string_view path) const override {
    if (!ParseUncPath(path)) return false;
    return access.share_root.empty() || access.smb_beside_share_root;
  }

  std::unique_ptr<InputFile> Open(const ShareAccess& access,
                                  std::string_view path) override {
    UncPath unc = ParseOrRaise(path);
    SmbCall call;
    const bool probed = CheckReachable(access, path, unc);
    SMBCCTX* context = ContextFor(access);
    std::string url = UrlOf(unc, unc.rest.size());
    SMBCFILE* file = SmbLib().smbc_getFunctionOpen(context)(
        context, url.c_str(), O_RDONLY, 0);
    int error = errno;
    struct stat st;
    if (file != nullptr &&
        SmbLib().smbc_getFunctionFstat(context)(context, file, &st) == 0 &&
        S_ISDIR(st.st_mode)) {
      SmbLib().smbc_getFunctionClose(context)(context, file);
      file = nullptr;
      error = EISDIR;
    }
    if (file == nullptr) {
      ProbeIfSkipped(probed, access, path, unc);
      FailIfTimedOut(access, error, path, unc);
      bool in_folder = !unc.rest.empty() &&
                       IsSmbDirectory(context, UrlOf(unc, unc.rest.size() - 1));
      RaiseAccessError(error, "open", url, path, !in_folder, kDeniedAdvice);
    }
    Answered(access, unc);
    return std::make_unique<SmbFile>(context, file,
                                     std::string(path) + " (" + url + ")");
  }

  std::vector<DirEntry> List(const ShareAccess& access,
                             std::string_view path) override {
    UncPath unc = ParseOrRaise(path);
    SmbCall call;
    const bool probed = CheckReachable(access, path, unc);
    SMBCCTX* context = ContextFor(access);
    std::string url = UrlOf(unc, unc.rest.size());
    SMBCFILE* dir =
        SmbLib().smbc_getFunctionOpendir(context)(context, url.c_str());
    if (dir == nullptr) {
      int error = errno;
      ProbeIfSkipped(probed, access, path, unc);
      FailIfTimedOut(access, error, path, unc);
      RaiseAccessError(error, "list", url, path, true, kDeniedAdvice);
    }
    std::vector<DirEntry> entries;
    constexpr uint16_t kDirectoryAttribute = 0x10;
    while (const libsmb_file_info* entry =
               SmbLib().smbc_getFunctionReaddirPlus(context)(context, dir)) {
      std::string_view name = entry->name;
      if (name == "." || name == "..") continue;
      const bool is_directory = (entry->attrs & kDirectoryAttribute) != 0;
      // The server serves what is no folder as a file.
      entries.push_back({std::string(name), is_directory, !is_directory,
                         is_directory ? 0 : entry->size,
                         entry->mtime_ts.tv_sec});
    }
    SmbLib().smbc_getFunctionClosedir(context)(context, dir);
    Answered(access, unc);
    return entries;
  }
};

// The most an authentication file of three short lines can sensibly hold.
constexpr size_t kMostAuthFileBytes = size_t{64} << 10;

[[noreturn]] void RefuseAuthFile(const std::string& path,
                                 const std::string& reason) {
  Raise(75,
        "Path/File access error: cannot use the SMB authentication "
        "file " +
            path + ": " + reason);
}

// Reads the open `fd` to its end, at most kMostAuthFileBytes. A pipe
// (`velnor --smb-auth <(pass show smb)`) is waited on in short steps, so
// that an interrupt ends a wait for a writer that never writes.
std::string ReadAll(int fd, const std::string& path) {
  std::string text;
  char buffer[4096];
  for (;;) {
    const ssize_t got = ::read(fd, buffer, sizeof buffer);
    if (got == 0) return text;
    if (got > 0) {
      text.append(buffer, static_cast<size_t>(got));
      if (text.size() > kMostAuthFileBytes) {
        RefuseAuthFile(path, "it holds more than " +
                                 std::to_string(kMostAuthFileBytes) +
                                 " bytes, far more than the three lines of "
                                 "credentials it should. Check that the path "
                                 "names the authentication file.");
      }
      continue;
    }
    if (errno == EINTR) continue;
    if (errno != EAGAIN) {
      Raise(57, "Device I/O error: cannot read the SMB authentication file " +
                    path + ": " + std::strerror(errno) + ". Check the file.");
    }
    if (interrupt::Interrupted()) {
      RefuseAuthFile(path,
                     "stopped while waiting for the pipe to give the "
                     "credentials.");
    }
    pollfd wait{fd, POLLIN, 0};
    ::poll(&wait, 1, 100);
  }
}

// Closes the descriptor on every way out, raises included.
struct FdCloser {
  int fd;
  ~FdCloser() { ::close(fd); }
};

// The text of the authentication file `path`: a private regular file or a
// pipe. It is opened without blocking, so that a FIFO no one writes to is
// not waited on, and checked through the opened descriptor, so that what
// is checked is what is read.
std::string ReadAuthFileText(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    Raise(automation::kErrFileNotFound,
          "File not found: cannot read the SMB authentication file " + path +
              ": " + std::strerror(errno) + ". Check the path.");
  }
  FdCloser closer{fd};
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !(S_ISREG(st.st_mode) || S_ISFIFO(st.st_mode))) {
    RefuseAuthFile(path,
                   "it is not a regular file (a folder or a device, "
                   "say), so it is not read. Give the file that holds "
                   "the username = and password = lines.");
  }
  if ((st.st_mode & (S_IRGRP | S_IROTH)) != 0) {
    Raise(automation::kErrPermissionDenied,
          "Permission denied: the SMB authentication file " + path +
              " is readable by group or others and holds a password. "
              "Make it private with chmod 600 " +
              path + ".");
  }
  std::string text = ReadAll(fd, path);
  if (text.empty() && S_ISFIFO(st.st_mode)) {
    RefuseAuthFile(path,
                   "it is a FIFO that no program writes to. Give the "
                   "file itself, or a pipe from the program that "
                   "writes the credentials.");
  }
  return text;
}

}  // namespace

SmbCredentials ReadSmbAuthFile(const std::string& path) {
  const std::string contents = ReadAuthFileText(path);
  SmbCredentials read;
  // A line of a Windows editor ends in CR, trimmed with the blanks.
  constexpr std::string_view kBlanks = " \t\r";
  std::istringstream in(contents);
  for (std::string line; std::getline(in, line);) {
    std::string_view text = automation::Trim(line, kBlanks);
    size_t equals = text.find('=');
    if (text.empty() || text.starts_with("#") || equals == text.npos) continue;
    std::string_view key = automation::Trim(text.substr(0, equals), kBlanks);
    std::string value(automation::Trim(text.substr(equals + 1), kBlanks));
    if (key == "username") read.username = value;
    if (key == "password") read.password = value;
    if (key == "domain") read.domain = value;
  }
  // Without a user name libsmbclient would log on as a guest: the user
  // asked for credentials, so a file that gives none is a mistake.
  if (read.username.empty()) {
    Raise(75,
          "Path/File access error: cannot use the SMB authentication "
          "file " +
              path +
              ": it has no \"username = NAME\" line. Write "
              "the username =, password = and domain = lines in it.");
  }
  return read;
}

std::vector<std::string> SmbShares(const ShareAccess& access,
                                   std::string_view server) {
  const std::string path = "\\\\" + std::string(server);
  UncPath unc{std::string(server), "", {}};
  SmbCall call;
  // A share root that does not hold the server is not a reason to ask it.
  if (const std::string root = ShareRootOf(access);
      !root.empty() && !access.smb_beside_share_root) {
    Raise(automation::kErrPathNotFound,
          "Path not found: cannot list the shares of " + path +
              ": the share root " + root + " has no folder " +
              std::string(server) + " (tried " + root + "/" +
              std::string(server) +
              "). Mount or copy the server's shares "
              "there.");
  }
  const bool probed = CheckReachable(access, path, unc);
  SMBCCTX* context = ContextFor(access);
  const std::string url = "smb://" + Encode(server);
  SMBCFILE* dir =
      SmbLib().smbc_getFunctionOpendir(context)(context, url.c_str());
  if (dir == nullptr) {
    int error = errno;
    ProbeIfSkipped(probed, access, path, unc);
    FailIfTimedOut(access, error, path, unc);
    RaiseAccessError(error, "list the shares of", url, path, true,
                     kDeniedAdvice);
  }
  std::vector<std::string> shares;
  while (const smbc_dirent* entry =
             SmbLib().smbc_getFunctionReaddir(context)(context, dir)) {
    if (entry->smbc_type == SMBC_FILE_SHARE) shares.emplace_back(entry->name);
  }
  SmbLib().smbc_getFunctionClosedir(context)(context, dir);
  Answered(access, unc);
  return shares;
}

Backend& SmbBackend() {
  static Smb backend;
  return backend;
}

}  // namespace velnor::unc
