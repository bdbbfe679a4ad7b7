// Test support: a real Samba server (Debian's smbd) on 127.0.0.1, on a free
// port, with all its state in a folder the test owns, so that tests can
// reach files over SMB the way a Windows server's administrative shares are
// reached. Every process it starts is stopped by process id.
#ifndef VELNOR_PLATFORM_UNC_SMBD_FIXTURE_H_
#define VELNOR_PLATFORM_UNC_SMBD_FIXTURE_H_

#include <sys/types.h>

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <string>
#include <thread>

namespace velnor::unc::smbd {

// The password of SambaServer::User() on every server started here.
inline constexpr char kSmbdPassword[] = "Velnor-Test-1";

// A TCP port on 127.0.0.1 that nothing listened on a moment ago
// (velnor::testing::FreePort, named here for the SMB tests).
uint16_t FreePort();

// Writes an authentication file in smbclient's format for
// SambaServer::User() with `password`, readable by its owner only.
void WriteSmbAuthFile(const std::filesystem::path& file,
                      const std::string& password);

// A TCP listener on 127.0.0.1 that never accepts and never answers: the
// kernel completes each connection into its backlog, where the test can
// count them. A server that has gone silent, as seen from a client.
class SilentListener {
 public:
  SilentListener();
  ~SilentListener();
  SilentListener(const SilentListener&) = delete;
  SilentListener& operator=(const SilentListener&) = delete;

  uint16_t port() const { return port_; }
  // The connections made to it so far.
  int Connections();
  // The connections waiting in its backlog now, left there: their clients
  // wait for an answer.
  int Waiting() const;

 private:
  int fd_ = -1;
  uint16_t port_ = 0;
  int taken_ = 0;
};

// A TCP relay on 127.0.0.1 to the server on 127.0.0.1:`server_port` that
// passes the server's bytes on at `bytes_per_second` and the client's at
// once: a slow link to a live server. Relays any number of connections on
// a thread of its own until it is destroyed, which closes them all.
class SlowLink {
 public:
  SlowLink(uint16_t server_port, long bytes_per_second);
  ~SlowLink();
  SlowLink(const SlowLink&) = delete;
  SlowLink& operator=(const SlowLink&) = delete;

  uint16_t port() const { return port_; }
  // The connections clients made to it so far.
  int Connections() const { return connections_.load(); }
  // The times a client sent something (a request) so far.
  long Requests() const { return requests_.load(); }
  // The server's bytes passed on to the clients so far.
  long BytesToClients() const { return to_clients_.load(); }

 private:
  void Relay(uint16_t server_port, long bytes_per_second);

  int fd_ = -1;
  uint16_t port_ = 0;
  std::atomic<bool> stopping_{false};
  std::atomic<int> connections_{0};
  std::atomic<long> requests_{0};
  std::atomic<long> to_clients_{0};
  std::thread thread_;
};

// smbd and every process it forks, as the test's own processes. Not
// copyable; the destructor stops the server.
class SambaServer {
 public:
  SambaServer() = default;
  SambaServer(const SambaServer&) = delete;
  SambaServer& operator=(const SambaServer&) = delete;
  ~SambaServer() { Stop(); }

  // Starts smbd with its configuration and state in the existing folder
  // `dir`, serving each folder `dir`/share/X as the read-only share "X$"
  // ("C$" from `dir`/share/C, made if missing), for User() with
  // kSmbdPassword; the share listing is served too. Returns "" once the
  // server accepts connections, else why it cannot run here (not root, smbd
  // not installed, smbd failing), with smbd's own output.
  std::string Start(const std::filesystem::path& dir);

  // Stops smbd and every process it started, by process id; waits up to
  // 5 s for them before killing them. Safe to call more than once.
  void Stop();

  uint16_t port() const { return port_; }
  // The main smbd process; each client is served by a child of it.
  pid_t pid() const { return pid_; }
  // The user the share is served to: the user running the test.
  static std::string User();

 private:
  std::string Config() const;
  std::string Log(const char* name) const;
  void WriteConfig();

  std::filesystem::path dir_;
  uint16_t port_ = 0;
  pid_t pid_ = -1;
};

}  // namespace velnor::unc::smbd

#endif  // VELNOR_PLATFORM_UNC_SMBD_FIXTURE_H_
