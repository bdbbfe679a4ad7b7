// The Samba server of the SMB tests. smbd forks helpers and signals its
// whole process group when it stops, so it runs in a group of its own and
// is stopped through the process ids found under it in /proc and in its pid
// files; it also dies with the test process should that end first. The
// share listing needs the RPC helper samba-dcerpcd, which smbd starts on
// demand and which detaches from it, so its pid file and the workers under
// it are stopped as well. Started that way it serves named pipes only and
// opens no TCP port, so servers of tests that run at once do not collide.
#include "platform/unc/smbd_fixture.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <pwd.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <set>
#include <thread>
#include <vector>

#include "testing/test_support.h"

namespace velnor::unc::smbd {
namespace {

namespace fs = std::filesystem;

bool Accepts(uint16_t port) {
  int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bool ok =
      ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  ::close(fd);
  return ok;
}

// Every process below `pid`, found through /proc.
void CollectDescendants(pid_t pid, std::set<pid_t>* found) {
  fs::path tasks = fs::path("/proc") / std::to_string(pid) / "task";
  std::error_code ec;
  for (const auto& task : fs::directory_iterator(tasks, ec)) {
    std::ifstream in(task.path() / "children");
    for (pid_t child; in >> child;) {
      if (found->insert(child).second) CollectDescendants(child, found);
    }
  }
}

bool Alive(pid_t pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string line;
  if (!std::getline(stat, line)) return false;
  size_t paren = line.rfind(')');
  return paren != std::string::npos && line.substr(paren + 2, 1) != "Z";
}

// A listening socket on 127.0.0.1, on a port of the kernel's choosing.
int ListenOnLoopback(uint16_t& port) {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  if (::bind(fd, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
      ::listen(fd, 64) != 0 ||
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    std::perror("listening on 127.0.0.1");
  }
  port = ntohs(address.sin_port);
  return fd;
}

}  // namespace

uint16_t FreePort() { return testing::FreePort(); }

void WriteSmbAuthFile(const fs::path& file, const std::string& password) {
  std::ofstream(file) << "username = " << SambaServer::User()
                      << "\npassword = " << password << "\ndomain = VTEST\n";
  fs::permissions(file, fs::perms::owner_read | fs::perms::owner_write);
}

std::string SambaServer::Start(const fs::path& dir) {
  if (::geteuid() != 0) return "smbd must run as root to serve files";
  if (!fs::exists("/usr/sbin/smbd")) return "/usr/sbin/smbd is not installed";
  dir_ = dir;
  port_ = FreePort();
  WriteConfig();
  std::string add_user = "printf '%s\\n%s\\n' " + std::string(kSmbdPassword) +
                         " " + kSmbdPassword + " | smbpasswd -c " + Config() +
                         " -a -s " + User() + " >" +
                         (dir / "smbpasswd.out").string() + " 2>&1";
  if (std::system(add_user.c_str()) != 0)
    return "smbpasswd failed: " + Log("smbpasswd.out");
  pid_ = ::fork();
  if (pid_ == 0) {
    ::prctl(PR_SET_PDEATHSIG, SIGTERM);  // never outlive the test
    ::setpgid(0, 0);                     // keep the test out of smbd's group
    std::string out = (dir / "smbd.out").string();
    if (std::freopen(out.c_str(), "w", stdout) == nullptr ||
        std::freopen(out.c_str(), "a", stderr) == nullptr) {
      ::_exit(126);
    }
    ::execl("/usr/sbin/smbd", "smbd", "--foreground", "--no-process-group",
            "--debug-stdout", "-d", "1", "-s", Config().c_str(), nullptr);
    ::_exit(127);
  }
  for (int i = 0; i < 100; ++i) {
    if (Accepts(port_)) return "";
    int status;
    if (::waitpid(pid_, &status, WNOHANG) == pid_) {
      pid_ = -1;
      return "smbd exited: " + Log("smbd.out");
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  return "smbd did not listen within 10 s: " + Log("smbd.out");
}

void SambaServer::Stop() {
  if (pid_ <= 0) return;
  std::set<pid_t> pids;
  CollectDescendants(pid_, &pids);
  for (const char* name : {"smbd.pid", "samba-dcerpcd.pid"}) {
    std::ifstream in(dir_ / "pid" / name);
    if (pid_t p; in >> p && p > 0 && pids.insert(p).second) {
      CollectDescendants(p, &pids);
    }
  }
  pids.insert(pid_);
  for (pid_t p : pids) ::kill(p, SIGTERM);
  ::waitpid(pid_, nullptr, 0);
  for (int i = 0; i < 50 && std::any_of(pids.begin(), pids.end(), Alive); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  for (pid_t p : pids) {
    if (Alive(p)) ::kill(p, SIGKILL);
  }
  pid_ = -1;
}

std::string SambaServer::User() { return ::getpwuid(::geteuid())->pw_name; }

std::string SambaServer::Config() const { return (dir_ / "smb.conf").string(); }

std::string SambaServer::Log(const char* name) const {
  return testing::ReadFile(dir_ / name).substr(0, 2000);
}

void SambaServer::WriteConfig() {
  for (const char* sub : {"private", "lock", "state", "cache", "pid", "log",
                          "ncalrpc", "share/C"}) {
    fs::create_directories(dir_ / sub);
  }
  std::string d = dir_.string();
  std::ofstream(Config())
      << "[global]\n"
      << "  server role = standalone server\n"
      << "  workgroup = VTEST\n  netbios name = VTESTSRV\n"
      << "  passdb backend = tdbsam:" << d << "/private/passdb.tdb\n"
      << "  private dir = " << d << "/private\n"
      << "  binddns dir = " << d << "/private\n"
      << "  lock directory = " << d << "/lock\n"
      << "  state directory = " << d << "/state\n"
      << "  cache directory = " << d << "/cache\n"
      << "  pid directory = " << d << "/pid\n"
      << "  ncalrpc dir = " << d << "/ncalrpc\n"
      << "  log file = " << d << "/log/log.%m\n"
      << "  smb ports = " << port_ << "\n"
      << "  interfaces = 127.0.0.1\n  bind interfaces only = yes\n"
      << "  disable netbios = yes\n  load printers = no\n"
      << "  printcap name = /dev/null\n  disable spoolss = yes\n"
      << "  rpc start on demand helpers = yes\n"
      << "  map to guest = never\n";
  std::set<std::string> drives;
  for (const auto& entry : fs::directory_iterator(dir_ / "share")) {
    if (entry.is_directory()) drives.insert(entry.path().filename());
  }
  for (const std::string& drive : drives) {
    std::ofstream(Config(), std::ios::app)
        << "[" << drive << "$]\n  path = " << d << "/share/" << drive
        << "\n  read only = yes\n";
  }
}

SilentListener::SilentListener() { fd_ = ListenOnLoopback(port_); }

SilentListener::~SilentListener() { ::close(fd_); }

int SilentListener::Connections() {
  // Taking them off the backlog counts them; the clients see no difference.
  ::fcntl(fd_, F_SETFL, O_NONBLOCK);
  for (int client; (client = ::accept(fd_, nullptr, nullptr)) >= 0;) {
    ::close(client);
    ++taken_;
  }
  return taken_;
}

int SilentListener::Waiting() const {
  // A listening socket's line in /proc/net/tcp gives its backlog as the
  // receive queue: "sl local_address rem_address st tx_queue:rx_queue".
  char local[16];
  std::snprintf(local, sizeof local, "0100007F:%04X", port_);
  std::ifstream table("/proc/net/tcp");
  std::string line;
  while (std::getline(table, line)) {
    char address[64], state[8];
    unsigned tx = 0, rx = 0;
    if (std::sscanf(line.c_str(), "%*s %63s %*s %7s %x:%x", address, state, &tx,
                    &rx) == 4 &&
        std::string(address) == local && std::string(state) == "0A") {
      return static_cast<int>(rx);
    }
  }
  return 0;
}

namespace {

int ConnectToLoopback(uint16_t port) {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(port);
  if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) !=
      0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

// Sends all of `data`; false once the peer is gone.
bool SendAll(int fd, const char* data, size_t size) {
  while (size > 0) {
    ssize_t n = ::send(fd, data, size, MSG_NOSIGNAL);
    if (n <= 0) return false;
    data += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

}  // namespace

SlowLink::SlowLink(uint16_t server_port, long bytes_per_second) {
  fd_ = ListenOnLoopback(port_);
  thread_ = std::thread([this, server_port, bytes_per_second] {
    Relay(server_port, bytes_per_second);
  });
}

SlowLink::~SlowLink() {
  stopping_ = true;
  thread_.join();
  ::close(fd_);
}

void SlowLink::Relay(uint16_t server_port, long bytes_per_second) {
  const auto rate = static_cast<double>(bytes_per_second);
  struct Connection {
    int client;
    int server;
    double allowance = 0;  // the server's bytes it may pass on now
  };
  constexpr auto kTick = std::chrono::milliseconds(10);
  std::vector<Connection> connections;
  auto last = std::chrono::steady_clock::now();
  std::vector<char> buffer(64 << 10);
  while (!stopping_) {
    std::vector<pollfd> fds = {{fd_, POLLIN, 0}};
    for (const Connection& c : connections) {
      fds.push_back({c.client, POLLIN, 0});
      fds.push_back(
          {c.server, static_cast<short>(c.allowance >= 1 ? POLLIN : 0), 0});
    }
    ::poll(fds.data(), fds.size(), static_cast<int>(kTick.count()));
    const auto now = std::chrono::steady_clock::now();
    const double seconds = std::chrono::duration<double>(now - last).count();
    last = now;
    if (fds[0].revents & POLLIN) {
      int client = ::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
      if (client >= 0) ++connections_;
      int server = client < 0 ? -1 : ConnectToLoopback(server_port);
      if (server >= 0) {
        connections.push_back({client, server});
      } else if (client >= 0) {
        ::close(client);
      }
    }
    for (size_t i = 0; i < connections.size();) {
      Connection& c = connections[i];
      bool open = true;
      // Never more than a tenth of a second's bytes at once.
      c.allowance = std::min(c.allowance + seconds * rate, rate / 10.0);
      if (i * 2 + 2 < fds.size() &&
          fds[i * 2 + 1].revents & (POLLIN | POLLHUP | POLLERR)) {
        ssize_t n = ::recv(c.client, buffer.data(), buffer.size(), 0);
        open = n > 0 && SendAll(c.server, buffer.data(), n);
        if (n > 0) ++requests_;
      }
      if (open && i * 2 + 2 < fds.size() &&
          fds[i * 2 + 2].revents & (POLLIN | POLLHUP | POLLERR)) {
        size_t most = std::min(buffer.size(), static_cast<size_t>(c.allowance));
        ssize_t n = ::recv(c.server, buffer.data(), most, 0);
        open = n > 0 && SendAll(c.client, buffer.data(), n);
        if (n > 0) {
          c.allowance -= static_cast<double>(n);
          to_clients_ += n;
        }
      }
      if (open) {
        ++i;
        continue;
      }
      ::close(c.client);
      ::close(c.server);
      connections.erase(connections.begin() + static_cast<long>(i));
      // The poll results no longer line up with the connections past it.
      fds.resize(1 + 2 * i);
    }
  }
  for (const Connection& c : connections) {
    ::close(c.client);
    ::close(c.server);
  }
}

}  // namespace velnor::unc::smbd
