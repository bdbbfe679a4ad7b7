// PgConnection: one connection to a PostgreSQL server through libpq, with
// the few calls the engine, the schema maker, the run lock and the copy
// into PostgreSQL need: statements with text parameters, rows as text, and
// COPY. Failures raise PgError, which keeps the server's SQLSTATE so that
// each caller can name the failure in its own terms.
//
// The URL is a libpq connection URI ("postgresql://user@host/db") or a
// key=value string. Passwords come from the password file (libpq reads it
// itself, PasswordFile names it); a URL that carries one is refused by
// CheckDbUrl.
#ifndef VELNOR_PLATFORM_ADO_PG_CONNECTION_H_
#define VELNOR_PLATFORM_ADO_PG_CONNECTION_H_

#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

using PGconn = struct pg_conn;

namespace velnor::ado::pg {

using Value = std::optional<std::string>;  // nullopt is NULL
using Row = std::vector<Value>;

// A failure of the server or of the connection to it.
class PgError : public std::runtime_error {
 public:
  // `sqlstate` is the server's five-character code; "08006" (connection
  // failure) when the connection is gone.
  PgError(std::string sqlstate, const std::string& message)
      : std::runtime_error(message), sqlstate_(std::move(sqlstate)) {}
  const std::string& sqlstate() const { return sqlstate_; }
  // True when the connection is lost or could not be made.
  bool ConnectionLost() const { return sqlstate_.starts_with("08"); }

 private:
  std::string sqlstate_;
};

// Why `url` cannot be used (it does not parse, or it holds a password),
// with what to do; empty when it can.
std::string CheckDbUrl(const std::string& url);

// The password file libpq reads for `url`, as advice names it: the URL's
// passfile, else the file PGPASSFILE names, else .pgpass in the home
// folder of the process's user, with " (there is no such file)" after it
// when nothing is there. A message that said ~/.pgpass to a job whose
// PGPASSFILE names another file would send its reader to the wrong one.
std::string PasswordFile(const std::string& url);

// `url` as a message names it: as given, but never with its password
// (messages end up in cron's mail and in logs).
std::string ShownDbUrl(const std::string& url);

class PgConnection {
 public:
  // Connects to `url`, naming the connection `application_name` on the
  // server (other sessions see it in pg_stat_activity). The client encoding
  // is the database's own, so that text travels as the bytes it is. Over
  // TCP a host silent for about two minutes is given up for lost (keepalive
  // probes, tcp_user_timeout) unless the URL sets those itself. Raises
  // PgError with the server's or libpq's reason.
  PgConnection(const std::string& url, const std::string& application_name);
  ~PgConnection();
  PgConnection(const PgConnection&) = delete;
  PgConnection& operator=(const PgConnection&) = delete;

  // Runs one statement with `params` as $1, $2, ... (text, or NULL) and
  // returns its rows, every value as text. Raises PgError.
  std::vector<Row> Query(const std::string& sql,
                         const std::vector<Value>& params = {});
  // Runs statements without parameters (several may be separated by ";").
  void Exec(const std::string& sql);
  // Ends the open transaction, if any, without keeping it; never raises:
  // it is called after a failure, which is the one to report (a server
  // gone drops the transaction anyway).
  void RollBackQuietly() noexcept;
  // Runs `copy_from_stdin` ("COPY t (a, b) FROM STDIN") and sends, in
  // COPY's text format, the batches of rows `next` returns until it returns
  // nullptr. A raise of `next` ends the copy unfinished (the server keeps
  // none of its rows, and the transaction is failed) and is passed on.
  void CopyIn(const std::string& copy_from_stdin,
              const std::function<const std::vector<Row>*()>& next);

  // The raw handle, for the engine.
  PGconn* handle() const { return conn_; }
  // The name it was opened under.
  const std::string& name() const { return name_; }
  // Raises the PgError of a failed libpq call on this connection.
  [[noreturn]] void RaiseLastError() const;

 private:
  std::string url_;
  std::string name_;
  PGconn* conn_ = nullptr;
};

// While one lives, a PgConnection that ends in good order (connected, no
// COPY under way; an open transaction is rolled back) is kept, reset as
// DISCARD ALL resets a session (settings, prepared statements, temporary
// tables, advisory locks but for HeldSessionLocks'), and the next
// PgConnection to the same URL takes
// it instead of connecting: each new connection costs the server a process
// and its catalog caches, tens of milliseconds of CPU, and a run's steps
// each open one. A kept connection is named anew when taken, and one found
// lost then is closed and replaced by a new one. The kept connections are
// closed when the last ConnectionReuse of the process ends; safe across
// threads.
class ConnectionReuse {
 public:
  ConnectionReuse();
  ~ConnectionReuse();
  ConnectionReuse(const ConnectionReuse&) = delete;
  ConnectionReuse& operator=(const ConnectionReuse&) = delete;
};

// Session-level advisory locks held past the end of the connection that
// took them. While a ConnectionReuse lives, that connection is kept with
// its locks and its name (the reset leaves both) and taken first by the
// next connections to the same URL: a run that holds a lock goes on with
// its steps in the lock's own server session rather than in one more, and
// other sessions see the holder by the name it took the locks under. When
// this ends, the session is reset whole, its locks with the rest: at once
// when it is idle, else when its user ends. Without a ConnectionReuse the
// connection is held here until then. Should the server end the session,
// the locks end with it, as they would on a connection of their own.
class HeldSessionLocks {
 public:
  explicit HeldSessionLocks(std::unique_ptr<PgConnection> connection);
  ~HeldSessionLocks();
  HeldSessionLocks(const HeldSessionLocks&) = delete;
  HeldSessionLocks& operator=(const HeldSessionLocks&) = delete;

 private:
  std::unique_ptr<PgConnection> own_;  // without reuse
  PGconn* held_ = nullptr;             // with reuse: the pool's
};

// `name` as a double-quoted identifier.
std::string QuoteIdentifier(const std::string& name);

// The SQLSTATE of a write in a database that takes none.
inline constexpr char kReadOnlyTransaction[] = "25006";
// What to do about it, as a sentence: no right of the role is missing.
inline constexpr char kTakesNoWritesAdvice[] =
    "The server takes no writes in this database "
    "(default_transaction_read_only is on, or it is a standby); give the URL "
    "of the primary server, or have its administrator turn "
    "default_transaction_read_only off for the database.";

// Whether `error`, of a CREATE SCHEMA, says the schema is there: it was
// found, or another session made it while this one's statement waited for
// that session's commit, which the server tells as a duplicate key of its
// catalog.
bool SchemaMadeAlready(const PgError& error);

// For the makers of schemas (the report schemas, the ledgers): raises
// permission denied (70), saying that `what` ("connect", "make the schema
// x") failed in the database `url` with `error`'s reason, and what to check
// (kTakesNoWritesAdvice for a database that takes no writes; for a table
// of the schema that is missing, how to bring it back).
[[noreturn]] void RaiseSchemaFailure(const std::string& url,
                                     const std::string& what,
                                     const PgError& error);
// `reason` ended as a sentence, for the advice after it: libpq's ends
// with a question ("... accepting TCP/IP connections?") or none.
std::string Sentence(const std::string& reason);
// A connection to `url` named `application_name`, for a maker of schemas;
// a failure to connect raises naming the URL and what to check.
std::unique_ptr<PgConnection> ConnectForSchemas(
    const std::string& url, const std::string& application_name);

}  // namespace velnor::ado::pg

#endif  // VELNOR_PLATFORM_ADO_PG_CONNECTION_H_
