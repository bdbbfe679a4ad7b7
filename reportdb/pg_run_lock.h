// PgRunLock: one collection run at a time per server and service in a
// central PostgreSQL store, as RunLock is for a folder of files. It is a
// session-level advisory lock, held for the run in the server session that
// took it (ado::pg::HeldSessionLocks), which the run's steps then use in
// turn while a ConnectionReuse lives: the server drops it when that
// session ends, so a killed run never leaves it behind. Runs for different
// servers take different locks and never wait on each other.
#ifndef VELNOR_REPORTDB_PG_RUN_LOCK_H_
#define VELNOR_REPORTDB_PG_RUN_LOCK_H_

#include <cstdint>
#include <memory>
#include <string>

#include "platform/ado/pg_connection.h"

namespace velnor::reportdb {

class PgRunLock {
 public:
  // Takes the lock of `server`'s service (FTP with `is_ftp`) in the
  // database `url`, waiting up to `wait_seconds` for another run to end.
  // Returns null, with `holder` describing the run that has it (its
  // process, start and machine), when it cannot be had. An interrupt
  // (interrupt::Interrupted()) ends the wait at once: null, `holder` left
  // as it was. Raises ado::pg::PgError when the database cannot be
  // reached.
  static std::unique_ptr<PgRunLock> Acquire(const std::string& url,
                                            const std::string& server,
                                            bool is_ftp, double wait_seconds,
                                            std::string& holder);

  // Whether a run holds the lock of `server`'s service in `url` now.
  // Raises ado::pg::PgError when the database cannot be reached.
  static bool IsHeld(const std::string& url, const std::string& server,
                     bool is_ftp);

  // The advisory lock's key: the same for a server's name in any case.
  static int64_t Key(const std::string& server, bool is_ftp);

 private:
  explicit PgRunLock(std::unique_ptr<ado::pg::PgConnection> connection)
      : held_(std::move(connection)) {}

  ado::pg::HeldSessionLocks held_;
};

}  // namespace velnor::reportdb

#endif  // VELNOR_REPORTDB_PG_RUN_LOCK_H_
