// The libpq calls behind PgConnection. Every result is freed on every way
// out (ResultPtr), raises included.
#include "platform/ado/pg_connection.h"

#include <libpq-fe.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <utility>

#include "platform/ado/pg_library.h"
#include "platform/automation/error_state.h"
#include "platform/interrupt/interrupt.h"

namespace velnor::ado::pg {
namespace {

struct ResultFree {
  void operator()(PGresult* result) const { PQclear(result); }
};
using ResultPtr = std::unique_ptr<PGresult, ResultFree>;

struct OptionsFree {
  void operator()(PQconninfoOption* options) const { PQconninfoFree(options); }
};

// Whether the parsed `options` of a URL give a password.
bool HoldsPassword(const PQconninfoOption* options) {
  for (const PQconninfoOption* option = options; option->keyword; ++option) {
    if (std::strcmp(option->keyword, "password") == 0 && option->val &&
        *option->val) {
      return true;
    }
  }
  return false;
}

// How long a connection may take to be answered unless the URL
// (connect_timeout=...) or PGCONNECT_TIMEOUT says otherwise. libpq's own
// default is to wait for ever: a store host that takes the connection and
// never answers (gone silent behind a firewall) would hold a collector
// from cron, and every one after it, until someone looks.
constexpr char kConnectTimeoutSeconds[] = "10";

// How long a store host may stay silent before the connection is given up
// for lost, unless the URL says otherwise: TCP keepalive probes after a
// minute without traffic, six of them ten seconds apart, and at most two
// minutes for what was sent to be acknowledged. A host that vanishes in
// the middle of a run (a crash, a dropped route) then fails the run within
// about two minutes instead of holding a collector from cron for the
// kernel's two hours and more. A busy server's kernel acknowledges both
// however long its statement takes, so a long commit is never cut short.
constexpr std::pair<const char*, const char*> kSilenceLimits[] = {
    {"keepalives", "1"},
    {"keepalives_idle", "60"},
    {"keepalives_interval", "10"},
    {"keepalives_count", "6"},
    {"tcp_user_timeout", "120000"}};

// Connecting writes nothing, so an interrupt may end the process while a
// silent server keeps libpq waiting: what the run had begun rolls back
// with the process.
constexpr char kConnectNote[] =
    "velnor: stopped while connecting to a PostgreSQL store that does not "
    "answer\n";

// The connect_timeout a connection to `url` is made with: the URL's, else
// PGCONNECT_TIMEOUT's, else ours.
std::string ConnectTimeoutFor(const std::string& url) {
  std::unique_ptr<PQconninfoOption, OptionsFree> options(
      PQconninfoParse(url.c_str(), nullptr));
  for (PQconninfoOption* option = options.get(); option && option->keyword;
       ++option) {
    if (std::strcmp(option->keyword, "connect_timeout") == 0 && option->val &&
        *option->val) {
      return option->val;
    }
  }
  const char* set = std::getenv("PGCONNECT_TIMEOUT");
  return set && *set ? set : kConnectTimeoutSeconds;
}

std::string Trimmed(const char* message) {
  std::string text = message ? message : "";
  while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) {
    text.pop_back();
  }
  return text;
}

// libpq's reason on one line ("...: Connection refused\n\tIs the server
// running ...?"), as velnor's messages are one line each: a line break and
// the indent after it become ". " after a line without an end of its own.
std::string OneLine(const std::string& text) {
  std::string line;
  for (size_t at = 0; at < text.size(); ++at) {
    if (text[at] != '\n') {
      line += text[at];
      continue;
    }
    while (at + 1 < text.size() &&
           (text[at + 1] == '\t' || text[at + 1] == ' ')) {
      ++at;
    }
    const bool ended =
        !line.empty() &&
        std::string_view(".?!:").find(line.back()) != std::string_view::npos;
    line += ended ? " " : ". ";
  }
  return line;
}

// The error of `result` (or of the connection when there is no result).
[[noreturn]] void RaiseResult(PGconn* conn, const PGresult* result) {
  const char* state =
      result ? PQresultErrorField(result, PG_DIAG_SQLSTATE) : nullptr;
  std::string message =
      Trimmed(result ? PQresultErrorMessage(result) : PQerrorMessage(conn));
  if (message.empty()) message = Trimmed(PQerrorMessage(conn));
  std::string sqlstate = state ? state : "";
  if (sqlstate.empty() || PQstatus(conn) == CONNECTION_BAD) {
    sqlstate = "08006";
  }
  throw PgError(sqlstate, message.empty() ? "no reason given" : message);
}

bool Succeeded(const PGresult* result) {
  if (!result) return false;
  ExecStatusType status = PQresultStatus(result);
  return status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK;
}

// One value in COPY's text format.
void AppendCopyValue(std::string& out, const Value& value) {
  if (!value) {
    out += "\\N";
    return;
  }
  for (char c : *value) {
    switch (c) {
      case '\\':
        out += "\\\\";
        break;
      case '\t':
        out += "\\t";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      default:
        out += c;
    }
  }
}

// The connections kept for reuse, by URL, while a ConnectionReuse lives.
struct Kept {
  std::mutex mutex;
  int scopes = 0;
  std::multimap<std::string, PGconn*> idle;
  // The connections whose advisory locks a HeldSessionLocks keeps, idle or
  // in use, and the name each had when they were taken.
  std::map<PGconn*, std::string> holding;
};

Kept& KeptConnections() {
  static Kept kept;
  return kept;
}

// Closes a connection the pool may know of.
void Close(PGconn* conn) {
  if (!conn) return;
  {
    Kept& kept = KeptConnections();
    std::lock_guard<std::mutex> hold(kept.mutex);
    kept.holding.erase(conn);
  }
  PQfinish(conn);
}

// DISCARD ALL but for pg_advisory_unlock_all (DISCARD ALL cannot be taken
// apart, and runs outside a transaction only).
constexpr char kResetKeepingLocks[] =
    "CLOSE ALL; SET SESSION AUTHORIZATION DEFAULT; RESET ALL; DEALLOCATE "
    "ALL; UNLISTEN *; DISCARD PLANS; DISCARD SEQUENCES; DISCARD TEMP";

// Resets `conn`, idle, for a new user; with `keeping_locks`, its advisory
// locks stay. False when the connection refuses.
bool Reset(PGconn* conn, bool keeping_locks) {
  ResultPtr reset(
      PQexec(conn, keeping_locks ? kResetKeepingLocks : "DISCARD ALL"));
  return Succeeded(reset.get());
}

// Names a kept connection for its new user and gives it the database's
// encoding again (the reset undid both). False when the connection is
// lost or refuses.
bool Renew(PGconn* conn, const std::string& application_name) {
  const char* name = application_name.c_str();
  const char* encoding = PQparameterStatus(conn, "server_encoding");
  ResultPtr result(
      PQexecParams(conn, "SELECT set_config('application_name', $1, false)", 1,
                   nullptr, &name, nullptr, nullptr, 0));
  return Succeeded(result.get()) &&
         (!encoding || PQsetClientEncoding(conn, encoding) == 0);
}

// A kept connection to `url`, renewed for `application_name`; null when
// none is kept (or none is usable any more). One that holds kept locks is
// taken first, and keeps the name it held them by.
PGconn* TakeKept(const std::string& url, const std::string& application_name) {
  Kept& kept = KeptConnections();
  for (;;) {
    PGconn* conn = nullptr;
    std::string name = application_name;
    {
      std::lock_guard<std::mutex> hold(kept.mutex);
      auto [first, end] = kept.idle.equal_range(url);
      if (first == end) return nullptr;
      auto taken = first;
      for (auto at = first; at != end; ++at) {
        if (kept.holding.contains(at->second)) taken = at;
      }
      conn = taken->second;
      kept.idle.erase(taken);
      if (auto holder = kept.holding.find(conn); holder != kept.holding.end()) {
        name = holder->second;
      }
    }
    if (Renew(conn, name)) return conn;
    Close(conn);
  }
}

// Keeps `conn` for the next connection to `url` when reuse is on and the
// connection ends in good order; false, keeping nothing, otherwise.
bool KeepForReuse(const std::string& url, PGconn* conn) {
  Kept& kept = KeptConnections();
  bool keeping_locks = false;
  {
    std::lock_guard<std::mutex> hold(kept.mutex);
    if (kept.scopes == 0) return false;
    keeping_locks = kept.holding.contains(conn);
  }
  if (!conn || PQstatus(conn) != CONNECTION_OK) return false;
  PGTransactionStatusType state = PQtransactionStatus(conn);
  if (state == PQTRANS_INTRANS || state == PQTRANS_INERROR) {
    ResultPtr rollback(PQexec(conn, "ROLLBACK"));
    if (!Succeeded(rollback.get())) return false;
  } else if (state != PQTRANS_IDLE) {
    return false;
  }
  if (!Reset(conn, keeping_locks)) return false;
  std::lock_guard<std::mutex> hold(kept.mutex);
  if (kept.scopes == 0) return false;
  // Locks whose holder ended meanwhile end with the connection.
  if (keeping_locks && !kept.holding.contains(conn)) return false;
  kept.idle.emplace(url, conn);
  return true;
}

}  // namespace

ConnectionReuse::ConnectionReuse() {
  Kept& kept = KeptConnections();
  std::lock_guard<std::mutex> hold(kept.mutex);
  ++kept.scopes;
}

ConnectionReuse::~ConnectionReuse() {
  Kept& kept = KeptConnections();
  std::multimap<std::string, PGconn*> closing;
  {
    std::lock_guard<std::mutex> hold(kept.mutex);
    if (--kept.scopes > 0) return;
    closing.swap(kept.idle);
  }
  for (auto& [url, conn] : closing) Close(conn);
}

HeldSessionLocks::HeldSessionLocks(std::unique_ptr<PgConnection> connection) {
  Kept& kept = KeptConnections();
  {
    std::lock_guard<std::mutex> hold(kept.mutex);
    if (kept.scopes == 0) {
      own_ = std::move(connection);
      return;
    }
    held_ = connection->handle();
    kept.holding.emplace(held_, connection->name());
  }
  connection.reset();
}

HeldSessionLocks::~HeldSessionLocks() {
  if (own_) return;
  Kept& kept = KeptConnections();
  std::string url;
  {
    std::lock_guard<std::mutex> hold(kept.mutex);
    if (kept.holding.erase(held_) == 0) return;  // closed already
    auto idle =
        std::find_if(kept.idle.begin(), kept.idle.end(),
                     [&](const auto& at) { return at.second == held_; });
    // In use: its user's end resets it whole.
    if (idle == kept.idle.end()) return;
    url = idle->first;
    kept.idle.erase(idle);
  }
  if (!KeepForReuse(url, held_)) Close(held_);
}

std::string CheckDbUrl(const std::string& url) {
  if (url.empty()) return "the database URL is empty";
  if (std::string problem = PgLibraryProblem(); !problem.empty()) {
    return problem;
  }
  char* error = nullptr;
  std::unique_ptr<PQconninfoOption, OptionsFree> options(
      PQconninfoParse(url.c_str(), &error));
  if (!options) {
    std::string reason = Trimmed(error);
    PQfreemem(error);
    return "the database URL does not parse (" + reason +
           "); write it as postgresql://USER@HOST:PORT/DATABASE or as "
           "key=value pairs (host=... dbname=...)";
  }
  if (HoldsPassword(options.get())) {
    return "the database URL holds a password, which others can read on "
           "the command line or in the environment; remove it and put it "
           "in the password file, " +
           PasswordFile(url) + ", mode 600";
  }
  return "";
}

std::string PasswordFile(const std::string& url) {
  std::string file;
  if (PgLibraryProblem().empty()) {
    std::unique_ptr<PQconninfoOption, OptionsFree> options(
        PQconninfoParse(url.c_str(), nullptr));
    for (const PQconninfoOption* option = options.get();
         option && option->keyword; ++option) {
      if (std::strcmp(option->keyword, "passfile") == 0 && option->val) {
        file = option->val;
      }
    }
  }
  if (const char* named = std::getenv("PGPASSFILE"); file.empty() && named) {
    file = named;
  }
  if (file.empty()) {
    // libpq finds the home folder as this does, not through HOME.
    const passwd* user = ::getpwuid(::geteuid());
    file = user ? std::string(user->pw_dir) + "/.pgpass" : "~/.pgpass";
  }
  struct stat info {};
  if (file != "~/.pgpass" && ::stat(file.c_str(), &info) != 0) {
    file += " (there is no such file)";
  }
  return file;
}

std::string ShownDbUrl(const std::string& url) {
  if (!PgLibraryProblem().empty()) return url;
  std::unique_ptr<PQconninfoOption, OptionsFree> options(
      PQconninfoParse(url.c_str(), nullptr));
  if (options && HoldsPassword(options.get())) {
    return "given (not shown here: it holds a password)";
  }
  return url;
}

PgConnection::PgConnection(const std::string& url,
                           const std::string& application_name)
    : url_(url), name_(application_name) {
  conn_ = TakeKept(url, application_name);
  if (conn_) return;
  // expand_dbname = 1: entries before the URL are defaults it overrides,
  // those after it override the URL. PGCONNECT_TIMEOUT is a default too,
  // which an entry of ours would hide.
  const char* timeout_set = std::getenv("PGCONNECT_TIMEOUT");
  const bool own_timeout = !timeout_set || !*timeout_set;
  std::vector<const char*> keywords, values;
  if (own_timeout) {
    keywords.push_back("connect_timeout");
    values.push_back(kConnectTimeoutSeconds);
  }
  for (const auto& [keyword, value] : kSilenceLimits) {
    keywords.push_back(keyword);
    values.push_back(value);
  }
  for (const char* keyword :
       {"dbname", "application_name", "fallback_application_name"}) {
    keywords.push_back(keyword);
  }
  for (const char* value : {url.c_str(), application_name.c_str(), "velnor"}) {
    values.push_back(value);
  }
  keywords.push_back(nullptr);
  values.push_back(nullptr);
  {
    interrupt::AbandonScope abandon(kConnectNote);
    conn_ = PQconnectdbParams(keywords.data(), values.data(), 1);
  }
  if (!conn_ || PQstatus(conn_) != CONNECTION_OK) {
    std::string reason =
        conn_ ? OneLine(Trimmed(PQerrorMessage(conn_))) : "out of memory";
    if (reason.ends_with("timeout expired")) {
      reason += " (no answer within " + ConnectTimeoutFor(url) +
                " s; for a server that answers slower, give "
                "connect_timeout=SECONDS in the URL)";
    }
    PQfinish(conn_);
    conn_ = nullptr;
    throw PgError("08001", reason);
  }
  // Notices (such as a ROLLBACK outside a transaction) are the server
  // talking to a person at a terminal; failures come as errors.
  PQsetNoticeProcessor(
      conn_, [](void*, const char*) {}, nullptr);
  // The report tables hold the bytes the logs had: no conversion between
  // the client and the database.
  const char* encoding = PQparameterStatus(conn_, "server_encoding");
  if (encoding && PQsetClientEncoding(conn_, encoding) != 0) RaiseLastError();
}

PgConnection::~PgConnection() {
  if (!KeepForReuse(url_, conn_)) Close(conn_);
}

std::vector<Row> PgConnection::Query(const std::string& sql,
                                     const std::vector<Value>& params) {
  std::vector<const char*> values;
  for (const Value& param : params) {
    values.push_back(param ? param->c_str() : nullptr);
  }
  ResultPtr result(PQexecParams(conn_, sql.c_str(),
                                static_cast<int>(values.size()), nullptr,
                                values.data(), nullptr, nullptr, 0));
  if (!Succeeded(result.get())) RaiseResult(conn_, result.get());
  std::vector<Row> rows;
  for (int r = 0; r < PQntuples(result.get()); ++r) {
    Row row;
    for (int c = 0; c < PQnfields(result.get()); ++c) {
      if (PQgetisnull(result.get(), r, c)) {
        row.emplace_back();
      } else {
        row.emplace_back(
            std::string(PQgetvalue(result.get(), r, c),
                        static_cast<size_t>(PQgetlength(result.get(), r, c))));
      }
    }
    rows.push_back(std::move(row));
  }
  return rows;
}

void PgConnection::Exec(const std::string& sql) {
  ResultPtr result(PQexec(conn_, sql.c_str()));
  if (!Succeeded(result.get())) RaiseResult(conn_, result.get());
}

void PgConnection::RollBackQuietly() noexcept {
  ResultPtr result(PQexec(conn_, "ROLLBACK"));
}

void PgConnection::CopyIn(
    const std::string& copy_from_stdin,
    const std::function<const std::vector<Row>*()>& next) {
  ResultPtr start(PQexec(conn_, copy_from_stdin.c_str()));
  if (!start || PQresultStatus(start.get()) != PGRES_COPY_IN) {
    RaiseResult(conn_, start.get());
  }
  // Sent a megabyte at a time, so that a large table is never held twice.
  constexpr size_t kChunk = size_t{1} << 20;
  std::string data;
  auto send = [&] {
    if (PQputCopyData(conn_, data.data(), static_cast<int>(data.size())) != 1) {
      RaiseLastError();
    }
    data.clear();
  };
  try {
    while (const std::vector<Row>* rows = next()) {
      for (const Row& row : *rows) {
        for (size_t i = 0; i < row.size(); ++i) {
          if (i > 0) data += '\t';
          AppendCopyValue(data, row[i]);
        }
        data += '\n';
        if (data.size() >= kChunk) send();
      }
      // What is made is sent before the next batch is asked for, so that
      // the server takes it in meanwhile.
      if (!data.empty()) send();
    }
  } catch (...) {
    // The server fails the copy it was told to end with an error; that
    // failure is ours to pass on, not the server's answer to it.
    if (PQputCopyEnd(conn_, "the rows to copy could not be made") == 1) {
      while (PGresult* rest = PQgetResult(conn_)) PQclear(rest);
    }
    throw;
  }
  if (PQputCopyEnd(conn_, nullptr) != 1) RaiseLastError();
  ResultPtr end(PQgetResult(conn_));
  bool ok = Succeeded(end.get());
  // The copy's last result is followed by the end of its results.
  while (PGresult* rest = PQgetResult(conn_)) PQclear(rest);
  if (!ok) RaiseResult(conn_, end.get());
}

void PgConnection::RaiseLastError() const { RaiseResult(conn_, nullptr); }

std::string QuoteIdentifier(const std::string& name) {
  std::string quoted = "\"";
  for (char c : name) {
    quoted += c;
    if (c == '"') quoted += '"';
  }
  return quoted + '"';
}

bool SchemaMadeAlready(const PgError& error) {
  return error.sqlstate() == "42P06" || error.sqlstate() == "23505";
}

std::string Sentence(const std::string& reason) {
  if (!reason.empty() &&
      std::string_view(".?!").find(reason.back()) != std::string_view::npos) {
    return reason;
  }
  return reason + ".";
}

namespace {

// What to do about a maker of schemas' `error`.
std::string SchemaFailureAdvice(const PgError& error) {
  if (error.sqlstate() == kReadOnlyTransaction) return kTakesNoWritesAdvice;
  // A table another tool renamed or dropped while a schema was being
  // brought up (init-db makes those an earlier design lacks first) comes
  // back by hand.
  if (error.sqlstate() == "42P01") {
    return "Another tool renamed or dropped that table; rename it back "
           "(ALTER TABLE ... RENAME TO ...) or restore it from a backup, then "
           "run the same command again.";
  }
  // A table of the schema's name without a column velnor's has was made
  // by another tool (or changed by one): no design of velnor's to bring up.
  if (error.sqlstate() == "42703") {
    return "A table of that schema lacks a column of velnor's report tables: "
           "another tool made or changed it. Give velnor a server name of its "
           "own, or move that schema away (ALTER SCHEMA ... RENAME TO ...), "
           "then run the same command again.";
  }
  return "Check the URL, that the server runs, and that the role may create "
         "schemas in the database (see README: the central store).";
}

}  // namespace

void RaiseSchemaFailure(const std::string& url, const std::string& what,
                        const PgError& error) {
  automation::Raise(automation::kErrPermissionDenied,
                    "Could not " + what + " in the PostgreSQL database " + url +
                        ": " + Sentence(error.what()) + " " +
                        SchemaFailureAdvice(error));
}

std::unique_ptr<PgConnection> ConnectForSchemas(
    const std::string& url, const std::string& application_name) {
  try {
    return std::make_unique<PgConnection>(url, application_name);
  } catch (const PgError& error) {
    // Whether the role may make schemas is no question yet: the server
    // was not reached.
    automation::Raise(
        automation::kErrPermissionDenied,
        "Could not connect to the PostgreSQL database " + url + ": " +
            Sentence(error.what()) +
            " Check the URL, that the server runs and accepts this machine, "
            "and the password in " +
            PasswordFile(url) + ".");
  }
}

}  // namespace velnor::ado::pg
