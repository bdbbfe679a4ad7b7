// The SMB way in against a real Samba server that the test starts on
// 127.0.0.1 (a free port, all its state in a temporary folder): listing and
// reading give what the share root gives for the same files, and failures
// carry the same numbers. Skipped, with the reason, where smbd cannot run.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <pwd.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <thread>

#include "platform/automation/error_state.h"
#include "platform/unc/unc.h"

namespace velnor::unc {
namespace {

namespace fs = std::filesystem;
using automation::AutomationError;

constexpr char kPassword[] = "Velnor-Test-1";
constexpr char kSite[] = "\\C$\\WINDOWS\\system32\\LogFiles\\W3SVC1";

uint16_t FreePort() {
  int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  ::bind(fd, reinterpret_cast<sockaddr*>(&address), length);
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
  ::close(fd);
  return ntohs(address.sin_port);
}

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

// Every process below `pid`, found through /proc, deepest last.
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

// smbd (and whatever it forks) as this test's own processes.
class SambaServer {
 public:
  ~SambaServer() { Stop(); }

  // Starts smbd serving share C$ from `dir`/share; "" on success, else why
  // it cannot run here.
  std::string Start(const fs::path& dir) {
    if (::geteuid() != 0) return "smbd must run as root to serve files";
    if (!fs::exists("/usr/sbin/smbd")) return "/usr/sbin/smbd is not installed";
    dir_ = dir;
    port_ = FreePort();
    WriteConfig();
    std::string add_user = "printf '%s\\n%s\\n' " + std::string(kPassword) +
                           " " + kPassword + " | smbpasswd -c " + Config() +
                           " -a -s " + User() + " >" +
                           (dir / "smbpasswd.out").string() + " 2>&1";
    if (std::system(add_user.c_str()) != 0)
      return "smbpasswd failed: " + Log("smbpasswd.out");
    pid_ = ::fork();
    if (pid_ == 0) {
      ::prctl(PR_SET_PDEATHSIG, SIGTERM);  // never outlive the test
      // smbd signals its whole process group when it stops; keep the test
      // out of it.
      ::setpgid(0, 0);
      std::string out = (dir / "smbd.out").string();
      std::freopen(out.c_str(), "w", stdout);
      std::freopen(out.c_str(), "a", stderr);
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

  // Stops smbd and every process it started, by process id.
  void Stop() {
    if (pid_ <= 0) return;
    std::set<pid_t> pids;
    CollectDescendants(pid_, &pids);
    for (const char* name : {"smbd.pid", "samba-dcerpcd.pid"}) {
      std::ifstream in(dir_ / "pid" / name);
      if (pid_t p; in >> p && p > 0) pids.insert(p);
    }
    pids.insert(pid_);
    for (pid_t p : pids) ::kill(p, SIGTERM);
    ::waitpid(pid_, nullptr, 0);
    for (int i = 0; i < 50 && std::any_of(pids.begin(), pids.end(), Alive);
         ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    for (pid_t p : pids) {
      if (Alive(p)) ::kill(p, SIGKILL);
    }
    pid_ = -1;
  }

  uint16_t port() const { return port_; }
  static std::string User() { return ::getpwuid(::geteuid())->pw_name; }

 private:
  std::string Config() const { return (dir_ / "smb.conf").string(); }

  std::string Log(const char* name) const {
    std::ifstream in(dir_ / name);
    std::stringstream text;
    text << in.rdbuf();
    return text.str().substr(0, 2000);
  }

  void WriteConfig() {
    for (const char* sub :
         {"private", "lock", "state", "cache", "pid", "log", "ncalrpc"}) {
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
        << "  rpc start on demand helpers = no\n"
        << "  map to guest = never\n"
        << "[C$]\n  path = " << d << "/share/C\n  read only = yes\n";
  }

  fs::path dir_;
  uint16_t port_ = 0;
  pid_t pid_ = -1;
};

class SmbTest : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    std::string pattern = fs::temp_directory_path() / "smb_test_XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) {
      skip_reason_ = "no temporary folder";
      return;
    }
    dir_ = pattern;
    fs::path site = dir_ / "share/C/WINDOWS/system32/LogFiles/W3SVC1";
    fs::create_directories(site / "old logs");
    std::string text;
    for (int i = 0; text.size() < 300000; ++i) {
      text += "2007-03-12 10:00:" + std::to_string(i % 60) + " /page" +
              std::to_string(i) + ".htm 200\r\n";
    }
    std::ofstream(site / "ex070312.log", std::ios::binary) << text;
    std::ofstream(site / "ex070313.log") << "";
    std::ofstream(site / "caf\xc3\xa9 100%.log") << "x";
    fs::create_directories(dir_ / "root/SRV1");
    fs::create_directory_symlink(dir_ / "share/C", dir_ / "root/SRV1/C$");
    std::ofstream(dir_ / "auth")
        << "username = " << SambaServer::User() << "\npassword = " << kPassword
        << "\ndomain = VTEST\n";
    fs::permissions(dir_ / "auth",
                    fs::perms::owner_read | fs::perms::owner_write);
    server_ = new SambaServer;
    skip_reason_ = server_->Start(dir_);
  }

  static void TearDownTestSuite() {
    delete server_;
    server_ = nullptr;
    fs::remove_all(dir_);
  }

  void SetUp() override {
    if (!skip_reason_.empty()) GTEST_SKIP() << skip_reason_;
    SetShareRoot((dir_ / "root").string());
    SetSmbOptions(server_->port(), 3000);
    SetSmbAuthFile((dir_ / "auth").string());
  }

  void TearDown() override {
    SetShareRoot("");
    SetSmbOptions(445, 5000);
    SetSmbAuthFile("");
  }

  static std::vector<std::pair<std::string, bool>> Listing(
      std::string_view path) {
    std::vector<std::pair<std::string, bool>> entries;
    for (const DirEntry& entry : ListDirectory(path)) {
      entries.emplace_back(entry.name, entry.is_directory);
    }
    std::sort(entries.begin(), entries.end());
    return entries;
  }

  static std::string ReadAll(std::string_view path) {
    auto file = OpenForReading(path);
    std::string text, buffer(8192, '\0');
    while (size_t got = file->Read(buffer.data(), buffer.size())) {
      text.append(buffer, 0, got);
    }
    return text;
  }

  static AutomationError ErrorOf(auto&& statement) {
    try {
      statement();
    } catch (const AutomationError& e) {
      return e;
    }
    ADD_FAILURE() << "no error raised";
    return AutomationError(0, "");
  }

  static std::string Smb(std::string_view rest) {
    return "\\\\127.0.0.1" + std::string(rest);
  }
  static std::string Mapped(std::string_view rest) {
    return "\\\\SRV1" + std::string(rest);
  }

  static inline fs::path dir_;
  static inline SambaServer* server_ = nullptr;
  static inline std::string skip_reason_;
};

TEST_F(SmbTest, ListingAndReadingMatchTheShareRoot) {
  auto listed = Listing(Smb(kSite));
  EXPECT_EQ(listed, Listing(Mapped(kSite)));
  EXPECT_EQ(listed.size(), 4u);
  std::string log = ReadAll(Mapped(std::string(kSite) + "\\ex070312.log"));
  EXPECT_GT(log.size(), 300000u);
  EXPECT_EQ(ReadAll(Smb(std::string(kSite) + "\\ex070312.log")), log);
  EXPECT_EQ(
      ReadAll(Smb("\\c$\\windows\\SYSTEM32\\logfiles\\w3svc1\\EX070312.LOG")),
      log);
  EXPECT_EQ(ReadAll(Smb(std::string(kSite) + "\\caf\xc3\xa9 100%.log")), "x");
  EXPECT_TRUE(ListDirectory(Smb(std::string(kSite) + "\\old logs")).empty());
}

TEST_F(SmbTest, FailuresCarryTheShareRootsNumbers) {
  auto same_number = [](auto&& operation, const std::string& rest) {
    int32_t smb = ErrorOf([&] { operation(Smb(rest)); }).number();
    EXPECT_NE(smb, 0) << rest;
    EXPECT_EQ(smb, ErrorOf([&] { operation(Mapped(rest)); }).number()) << rest;
  };
  const std::string site = kSite;
  for (const char* rest : {"\\x.log", "\\Nothing\\x.log", "", "\\old logs"}) {
    same_number([](const std::string& path) { OpenForReading(path); },
                site + rest);
  }
  for (const char* rest : {"\\Nothing", "\\ex070312.log"}) {
    same_number([](const std::string& path) { ListDirectory(path); },
                site + rest);
  }
  AutomationError e = ErrorOf([] { ListDirectory(Smb("\\D$\\Logs")); });
  EXPECT_EQ(e.number(), automation::kErrPathNotFound);
  EXPECT_NE(e.description().find("smb://127.0.0.1/D$/Logs"), std::string::npos)
      << e.description();
}

TEST_F(SmbTest, WrongPasswordIsPermissionDenied) {
  fs::path wrong = dir_ / "wrong-auth";
  std::ofstream(wrong) << "username = " << SambaServer::User()
                       << "\npassword = not-the-password\n";
  fs::permissions(wrong, fs::perms::owner_read | fs::perms::owner_write);
  SetSmbAuthFile(wrong.string());
  AutomationError e = ErrorOf([] { ListDirectory(Smb(kSite)); });
  EXPECT_EQ(e.number(), automation::kErrPermissionDenied);
  EXPECT_NE(e.description().find(Smb(kSite)), std::string::npos);
  // An authentication file others can read is refused outright.
  fs::permissions(wrong, fs::perms::others_read, fs::perm_options::add);
  e = ErrorOf([&] { SetSmbAuthFile(wrong.string()); });
  EXPECT_EQ(e.number(), automation::kErrPermissionDenied);
  EXPECT_NE(e.description().find(wrong.string()), std::string::npos);
}

TEST_F(SmbTest, ServerThatDoesNotAnswerFailsNamingIt) {
  SetSmbOptions(FreePort(), 2000);
  AutomationError e = ErrorOf([] { ListDirectory(Smb(kSite)); });
  EXPECT_EQ(e.number(), automation::kErrPathNotFound);
  EXPECT_NE(e.description().find("server 127.0.0.1"), std::string::npos)
      << e.description();
}

}  // namespace
}  // namespace velnor::unc
