// How the PostgreSQL engine tells a server's failure: as the Jet engine
// names its own (the same numbers and texts), so that callers handle both
// stores alike.
#ifndef VELNOR_PLATFORM_ADO_PG_ERRORS_H_
#define VELNOR_PLATFORM_ADO_PG_ERRORS_H_

#include <libpq-fe.h>

#include <string>
#include <string_view>

#include "platform/ado/pg_connection.h"

namespace velnor::ado {

// True for failures after which the transaction cannot be trusted to hold
// every change made before them: the connection, the server's resources,
// the server itself.
bool Spoils(const pg::PgError& error);

// Who met a failure: the role signed in, and whether it was reading
// (a statement that only reads, or preparing one) or writing.
struct Asker {
  std::string role;
  bool reading = false;
};

// Raises `error` as the Jet engine would name it, with the database
// `where` (whose schema is `schema`, cut from the names the server
// quotes) and, for a refused row, the table. A right the server refused
// `asker` is told as a read or a write refused, with the role, the right it
// lacks and the GRANT that gives it.
[[noreturn]] void RaiseError(const pg::PgError& error, const std::string& where,
                             const std::string& schema,
                             std::string_view table = "",
                             const Asker& asker = {});

// The failure a libpq call on `conn` left in `result` (null: the
// connection's own error); a lost connection reads as SQLSTATE 08006.
pg::PgError ErrorOf(PGconn* conn, const PGresult* result);

// Raises for a `value` holding a NUL byte, which PostgreSQL text cannot
// hold and libpq would cut short: the value is named and left out.
void RefuseNul(std::string_view value, const std::string& where);

}  // namespace velnor::ado

#endif  // VELNOR_PLATFORM_ADO_PG_ERRORS_H_
