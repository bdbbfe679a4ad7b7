// The holder is described by the application name its lock connection
// carries ("velnor process PID, started ..."), as RunLock's holder file
// does, and by the address it connects from.
#include "reportdb/pg_run_lock.h"

#include <unistd.h>

#include <chrono>
#include <ctime>
#include <thread>

#include "platform/automation/text.h"
#include "platform/interrupt/interrupt.h"

namespace velnor::reportdb {

namespace {

// The sessions that hold the lock `key`: their names and client addresses.
std::vector<ado::pg::Row> Holders(ado::pg::PgConnection& connection,
                                  int64_t key) {
  // pg_locks shows a bigint key as its high and low 32 bits.
  const auto bits = static_cast<uint64_t>(key);
  return connection.Query(
      "SELECT a.application_name, host(a.client_addr) FROM pg_locks l JOIN "
      "pg_stat_activity a ON a.pid = l.pid WHERE l.locktype = 'advisory' AND "
      "l.granted AND l.classid = $1::oid AND l.objid = $2::oid AND "
      "l.objsubid = 1",
      {std::to_string(bits >> 32), std::to_string(bits & 0xffffffffu)});
}

}  // namespace

bool PgRunLock::IsHeld(const std::string& url, const std::string& server,
                       bool is_ftp) {
  ado::pg::PgConnection connection(url, "velnor runs");
  return !Holders(connection, Key(server, is_ftp)).empty();
}

int64_t PgRunLock::Key(const std::string& server, bool is_ftp) {
  std::string name = "velnor run " + automation::AsciiLowered(server) +
                     (is_ftp ? " ftp" : " web");
  // FNV-1a, 64 bits: a collision of two servers' keys is out of reach.
  uint64_t hash = 14695981039346656037ull;
  for (char c : name) {
    hash ^= static_cast<unsigned char>(c);
    hash *= 1099511628211ull;
  }
  return static_cast<int64_t>(hash);
}

std::unique_ptr<PgRunLock> PgRunLock::Acquire(const std::string& url,
                                              const std::string& server,
                                              bool is_ftp, double wait_seconds,
                                              std::string& holder) {
  char started[32];
  std::time_t now = std::time(nullptr);
  std::strftime(started, sizeof started, "%Y-%m-%d %H:%M:%S",
                std::localtime(&now));
  auto connection = std::make_unique<ado::pg::PgConnection>(
      url,
      "velnor process " + std::to_string(::getpid()) + ", started " + started);
  const int64_t key = Key(server, is_ftp);
  const std::string key_text = std::to_string(key);
  auto deadline = std::chrono::steady_clock::now() +
                  std::chrono::duration<double>(wait_seconds);
  for (;;) {
    auto taken = connection->Query("SELECT pg_try_advisory_lock($1::bigint)",
                                   {key_text});
    if (!taken.empty() && taken[0][0] == std::string("t")) {
      return std::unique_ptr<PgRunLock>(new PgRunLock(std::move(connection)));
    }
    if (interrupt::Interrupted()) return nullptr;
    if (std::chrono::steady_clock::now() >= deadline) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  auto rows = Holders(*connection, key);
  holder = "another velnor run";
  if (!rows.empty()) {
    if (rows[0][0] && !rows[0][0]->empty()) holder = *rows[0][0];
    if (rows[0][1]) holder += " on " + *rows[0][1];
  }
  return nullptr;
}

}  // namespace velnor::reportdb
