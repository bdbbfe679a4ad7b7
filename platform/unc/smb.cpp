// The SMB way in, on libsmbclient. One client context serves the process;
// libsmbclient is not thread-safe, so every call into it holds one mutex.
// Before a server is contacted it is resolved and a TCP connection to its
// port is tried with the configured timeout: libsmbclient's own name
// resolution and connect can wait far longer, and this way an unreachable
// server fails fast with an error that names it.
#include <dlfcn.h>
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
#include <fstream>
#include <map>
#include <mutex>

#include "platform/automation/error_state.h"
#include "platform/automation/text.h"
#include "platform/interrupt/interrupt.h"
#include "platform/unc/backend.h"
#include "platform/unc/local_fs.h"

namespace velnor::unc {
namespace {

using automation::Raise;

constexpr char kDeniedAdvice[] =
    "Check the user name, password and domain in the SMB authentication "
    "file, and the share's permissions.";

struct Settings {
  std::string username;
  std::string password;
  std::string domain;
  uint16_t port = 445;
  int timeout_ms = 5000;
  bool beside_share_root = false;
  // Servers that did not answer in time, by lower-case name, with why.
  std::map<std::string, std::string> silent_servers;
};

// Guards the settings, the context and every libsmbclient call.
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

Settings& TheSettings() {
  static Settings settings;
  return settings;
}

// libsmbclient, loaded on the first SMB call rather than linked: its
// hundred libraries would cost every run some 40 ms before it starts, most
// of which never reach a share over SMB.
struct SmbClient {
  decltype(&smbc_free_context) free_context;
  decltype(&smbc_getFunctionClose) getFunctionClose;
  decltype(&smbc_getFunctionClosedir) getFunctionClosedir;
  decltype(&smbc_getFunctionFstat) getFunctionFstat;
  decltype(&smbc_getFunctionOpen) getFunctionOpen;
  decltype(&smbc_getFunctionOpendir) getFunctionOpendir;
  decltype(&smbc_getFunctionPurgeCachedServers) getFunctionPurgeCachedServers;
  decltype(&smbc_getFunctionRead) getFunctionRead;
  decltype(&smbc_getFunctionReaddir) getFunctionReaddir;
  decltype(&smbc_getFunctionReaddirPlus) getFunctionReaddirPlus;
  decltype(&smbc_init_context) init_context;
  decltype(&smbc_new_context) new_context;
  decltype(&smbc_setDebug) setDebug;
  decltype(&smbc_setFunctionAuthDataWithContext) setFunctionAuthDataWithContext;
  decltype(&smbc_setOptionFallbackAfterKerberos) setOptionFallbackAfterKerberos;
  decltype(&smbc_setOptionUseKerberos) setOptionUseKerberos;
  decltype(&smbc_setPort) setPort;
  decltype(&smbc_setTimeout) setTimeout;
};

template <class Function>
void Load(void* library, const char* name, Function& function) {
  function = reinterpret_cast<Function>(::dlsym(library, name));
  if (function == nullptr) {
    Raise(75, std::string("Path/File access error: the SMB client cannot "
                          "start: libsmbclient lacks ") +
                  name + ". Reinstall the package libsmbclient.");
  }
}

SmbClient LoadSmbClient() {
  void* library = ::dlopen("libsmbclient.so.0", RTLD_NOW | RTLD_LOCAL);
  if (library == nullptr) {
    Raise(75,
          std::string("Path/File access error: the SMB client cannot start: ") +
              ::dlerror() + ". Install the package libsmbclient.");
  }
  SmbClient client{};
  Load(library, "smbc_free_context", client.free_context);
  Load(library, "smbc_getFunctionClose", client.getFunctionClose);
  Load(library, "smbc_getFunctionClosedir", client.getFunctionClosedir);
  Load(library, "smbc_getFunctionFstat", client.getFunctionFstat);
  Load(library, "smbc_getFunctionOpen", client.getFunctionOpen);
  Load(library, "smbc_getFunctionOpendir", client.getFunctionOpendir);
  Load(library, "smbc_getFunctionPurgeCachedServers",
       client.getFunctionPurgeCachedServers);
  Load(library, "smbc_getFunctionRead", client.getFunctionRead);
  Load(library, "smbc_getFunctionReaddir", client.getFunctionReaddir);
  Load(library, "smbc_getFunctionReaddirPlus", client.getFunctionReaddirPlus);
  Load(library, "smbc_init_context", client.init_context);
  Load(library, "smbc_new_context", client.new_context);
  Load(library, "smbc_setDebug", client.setDebug);
  Load(library, "smbc_setFunctionAuthDataWithContext",
       client.setFunctionAuthDataWithContext);
  Load(library, "smbc_setOptionFallbackAfterKerberos",
       client.setOptionFallbackAfterKerberos);
  Load(library, "smbc_setOptionUseKerberos", client.setOptionUseKerberos);
  Load(library, "smbc_setPort", client.setPort);
  Load(library, "smbc_setTimeout", client.setTimeout);
  // Files are read on read-ahead threads, so the library's per-thread state
  // (its talloc stack frames) must be kept per thread. Builds without
  // thread support (Debian's among them) lack the call; there the one
  // mutex around every call is what keeps two threads apart.
  if (auto thread_posix = reinterpret_cast<decltype(&smbc_thread_posix)>(
          ::dlsym(library, "smbc_thread_posix"))) {
    thread_posix();
  }
  return client;
}

// Raises when the library cannot be loaded, and tries again at the next
// call.
const SmbClient& SmbLib() {
  static const SmbClient client = LoadSmbClient();
  return client;
}

// The process's one context, made on first use and kept: libsmbclient leaks
// a little with every new context. Caller holds SmbMutex().
SMBCCTX*& ContextSlot() {
  static SMBCCTX* context = nullptr;
  return context;
}

// Applies changed settings to the context. Connections made with the old
// ones are dropped, except those that files still read from.
void ApplySettings() {
  SMBCCTX* context = ContextSlot();
  if (context == nullptr) return;
  SmbLib().setPort(context, TheSettings().port);
  SmbLib().setTimeout(context, TheSettings().timeout_ms);
  SmbLib().getFunctionPurgeCachedServers(context)(context);
}

void CopyField(const std::string& value, char* field, int size) {
  if (value.empty() || size <= 0) return;
  size_t length = std::min(value.size(), static_cast<size_t>(size - 1));
  std::memcpy(field, value.data(), length);
  field[length] = '\0';
}

void SupplyCredentials(SMBCCTX*, const char*, const char*, char* workgroup,
                       int workgroup_size, char* username, int username_size,
                       char* password, int password_size) {
  const Settings& settings = TheSettings();
  CopyField(settings.domain, workgroup, workgroup_size);
  CopyField(settings.username, username, username_size);
  CopyField(settings.password, password, password_size);
}

SMBCCTX* Context() {
  if (ContextSlot() != nullptr) return ContextSlot();
  SMBCCTX* context = SmbLib().new_context();
  if (context != nullptr) {
    SmbLib().setDebug(context, 0);
    SmbLib().setPort(context, TheSettings().port);
    SmbLib().setTimeout(context, TheSettings().timeout_ms);
    SmbLib().setOptionUseKerberos(context, 1);
    SmbLib().setOptionFallbackAfterKerberos(context, 1);
    SmbLib().setFunctionAuthDataWithContext(context, SupplyCredentials);
  }
  if (context == nullptr || SmbLib().init_context(context) == nullptr) {
    int error = errno;
    if (context != nullptr) SmbLib().free_context(context, 0);
    Raise(75, "Path/File access error: the SMB client cannot start: " +
                  std::string(std::strerror(error)) +
                  ". Check the Samba client configuration.");
  }
  ContextSlot() = context;
  return context;
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

// Caller holds SmbMutex(). A server that failed once fails again at once.
void CheckReachable(std::string_view path, const UncPath& unc) {
  Settings& settings = TheSettings();
  const std::string key = automation::AsciiLowered(unc.server);
  if (auto known = settings.silent_servers.find(key);
      known != settings.silent_servers.end()) {
    RaiseUnreachable(path, unc, known->second);
  }
  std::string problem =
      ConnectProblem(unc.server, settings.port, settings.timeout_ms);
  if (problem.empty()) return;
  settings.silent_servers.emplace(key, problem);
  RaiseUnreachable(path, unc, problem);
}

// After a libsmbclient call on `path` failed with `error`: a server that
// accepted the connection but did not answer in time counts as silent from
// now on, and the failure says so. Caller holds SmbMutex().
void FailIfTimedOut(int error, std::string_view path, const UncPath& unc) {
  if (error != ETIMEDOUT) return;
  std::string problem =
      "it accepts connections on port " + std::to_string(TheSettings().port) +
      " but does not answer (" + std::strerror(ETIMEDOUT) + ")";
  TheSettings().silent_servers.emplace(automation::AsciiLowered(unc.server),
                                       problem);
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
  SMBCFILE* dir = SmbLib().getFunctionOpendir(context)(context, url.c_str());
  if (dir == nullptr) return false;
  SmbLib().getFunctionClosedir(context)(context, dir);
  return true;
}

class SmbFile final : public InputFile {
 public:
  SmbFile(SMBCCTX* context, SMBCFILE* file, std::string where)
      : context_(context), file_(file), where_(std::move(where)) {}
  ~SmbFile() override {
    SmbCall call;
    SmbLib().getFunctionClose(context_)(context_, file_);
  }
  SmbFile(const SmbFile&) = delete;
  SmbFile& operator=(const SmbFile&) = delete;

  size_t Read(char* buffer, size_t size) override {
    SmbCall call;
    ssize_t got = SmbLib().getFunctionRead(context_)(
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
  bool Claims(std::string_view path) const override {
    if (!ParseUncPath(path)) return false;
    if (ShareRoot().empty()) return true;
    std::lock_guard lock(SmbMutex());
    return TheSettings().beside_share_root;
  }

  std::unique_ptr<InputFile> Open(std::string_view path) override {
    UncPath unc = ParseOrRaise(path);
    SmbCall call;
    CheckReachable(path, unc);
    SMBCCTX* context = Context();
    std::string url = UrlOf(unc, unc.rest.size());
    SMBCFILE* file =
        SmbLib().getFunctionOpen(context)(context, url.c_str(), O_RDONLY, 0);
    int error = errno;
    struct stat st;
    if (file != nullptr &&
        SmbLib().getFunctionFstat(context)(context, file, &st) == 0 &&
        S_ISDIR(st.st_mode)) {
      SmbLib().getFunctionClose(context)(context, file);
      file = nullptr;
      error = EISDIR;
    }
    if (file == nullptr) {
      FailIfTimedOut(error, path, unc);
      bool in_folder = !unc.rest.empty() &&
                       IsSmbDirectory(context, UrlOf(unc, unc.rest.size() - 1));
      RaiseAccessError(error, "open", url, path, !in_folder, kDeniedAdvice);
    }
    return std::make_unique<SmbFile>(context, file,
                                     std::string(path) + " (" + url + ")");
  }

  std::vector<DirEntry> List(std::string_view path) override {
    UncPath unc = ParseOrRaise(path);
    SmbCall call;
    CheckReachable(path, unc);
    SMBCCTX* context = Context();
    std::string url = UrlOf(unc, unc.rest.size());
    SMBCFILE* dir = SmbLib().getFunctionOpendir(context)(context, url.c_str());
    if (dir == nullptr) {
      int error = errno;
      FailIfTimedOut(error, path, unc);
      RaiseAccessError(error, "list", url, path, true, kDeniedAdvice);
    }
    std::vector<DirEntry> entries;
    constexpr uint16_t kDirectoryAttribute = 0x10;
    while (const libsmb_file_info* entry =
               SmbLib().getFunctionReaddirPlus(context)(context, dir)) {
      std::string_view name = entry->name;
      if (name == "." || name == "..") continue;
      const bool is_directory = (entry->attrs & kDirectoryAttribute) != 0;
      entries.push_back({std::string(name), is_directory,
                         is_directory ? 0 : entry->size,
                         entry->mtime_ts.tv_sec});
    }
    SmbLib().getFunctionClosedir(context)(context, dir);
    return entries;
  }
};

}  // namespace

void SetSmbAuthFile(const std::string& path) {
  Settings read;
  if (!path.empty()) {
    struct stat st;
    std::ifstream in(path);
    if (::stat(path.c_str(), &st) != 0 || !in) {
      Raise(automation::kErrFileNotFound,
            "File not found: cannot read the SMB authentication file " + path +
                ": " + std::strerror(errno) + ". Check the path.");
    }
    if ((st.st_mode & (S_IRGRP | S_IROTH)) != 0) {
      Raise(automation::kErrPermissionDenied,
            "Permission denied: the SMB authentication file " + path +
                " is readable by group or others and holds a password. "
                "Make it private with chmod 600 " +
                path + ".");
    }
    // A line of a Windows editor ends in CR, trimmed with the blanks.
    constexpr std::string_view kBlanks = " \t\r";
    for (std::string line; std::getline(in, line);) {
      std::string_view text = automation::Trim(line, kBlanks);
      size_t equals = text.find('=');
      if (text.empty() || text.starts_with("#") || equals == text.npos)
        continue;
      std::string_view key = automation::Trim(text.substr(0, equals), kBlanks);
      std::string value(automation::Trim(text.substr(equals + 1), kBlanks));
      if (key == "username") read.username = value;
      if (key == "password") read.password = value;
      if (key == "domain") read.domain = value;
    }
  }
  std::lock_guard lock(SmbMutex());
  Settings& settings = TheSettings();
  settings.username = std::move(read.username);
  settings.password = std::move(read.password);
  settings.domain = std::move(read.domain);
  ApplySettings();
}

void SetSmbOptions(uint16_t port, int timeout_ms) {
  std::lock_guard lock(SmbMutex());
  TheSettings().port = port;
  TheSettings().timeout_ms = timeout_ms;
  TheSettings().silent_servers.clear();
  ApplySettings();
}

void SetSmbBesideShareRoot(bool allowed) {
  std::lock_guard lock(SmbMutex());
  TheSettings().beside_share_root = allowed;
}

std::vector<std::string> SmbShares(std::string_view server) {
  const std::string path = "\\\\" + std::string(server);
  UncPath unc{std::string(server), "", {}};
  SmbCall call;
  // A share root that does not hold the server is not a reason to ask it.
  if (const std::string root = ShareRoot();
      !root.empty() && !TheSettings().beside_share_root) {
    Raise(automation::kErrPathNotFound,
          "Path not found: cannot list the shares of " + path +
              ": the share root " + root + " has no folder " +
              std::string(server) + " (tried " + root + "/" +
              std::string(server) +
              "). Mount or copy the server's shares "
              "there.");
  }
  CheckReachable(path, unc);
  SMBCCTX* context = Context();
  const std::string url = "smb://" + Encode(server);
  SMBCFILE* dir = SmbLib().getFunctionOpendir(context)(context, url.c_str());
  if (dir == nullptr) {
    int error = errno;
    FailIfTimedOut(error, path, unc);
    RaiseAccessError(error, "list the shares of", url, path, true,
                     kDeniedAdvice);
  }
  std::vector<std::string> shares;
  while (const smbc_dirent* entry =
             SmbLib().getFunctionReaddir(context)(context, dir)) {
    if (entry->smbc_type == SMBC_FILE_SHARE) shares.emplace_back(entry->name);
  }
  SmbLib().getFunctionClosedir(context)(context, dir);
  return shares;
}

Backend& SmbBackend() {
  static Smb backend;
  return backend;
}

}  // namespace velnor::unc
