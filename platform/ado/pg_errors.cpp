// PostgreSQL's failures told as the Jet engine tells its own, so that the
// component's error styles hold whichever store a run writes to.
#include "platform/ado/pg_errors.h"

#include <string>

#include "platform/ado/ado.h"
#include "platform/automation/error_state.h"
#include "platform/automation/text.h"

namespace velnor::ado {

using automation::Raise;
using pg::PgError;

namespace {

// The quoted name in a server message such as `relation "a.b" does not
// exist`, without the schema.
std::string NameInMessage(const std::string& message,
                          const std::string& schema) {
  size_t open = message.find('"');
  size_t close = open == std::string::npos ? open : message.find('"', open + 1);
  if (close == std::string::npos) return message;
  std::string name = message.substr(open + 1, close - open - 1);
  if (name.starts_with(schema + ".")) name.erase(0, schema.size() + 1);
  return name;
}

}  // namespace

bool Spoils(const PgError& error) {
  const std::string& state = error.sqlstate();
  return error.ConnectionLost() || state.starts_with("53") ||
         state.starts_with("58") || state.starts_with("XX") ||
         state.starts_with("57P");
}

void RaiseError(const PgError& error, const std::string& where,
                const std::string& schema, std::string_view table) {
  const std::string& state = error.sqlstate();
  std::string message = error.what();
  if (Spoils(error)) {
    Raise(kErrUnspecified,
          "Disk or network error. " + message + " on " + where +
              "; check that the PostgreSQL server runs and is reachable, "
              "then run again.");
  }
  if (state.starts_with("23") || state.starts_with("22")) {
    std::string in_table =
        table.empty() ? "" : "Table '" + std::string(table) + "' in ";
    Raise(kErrRowRefused, in_table + where + " refused the row: " + message +
                              ". Correct the value written to that column.");
  }
  if (state == "40P01" || state == "55P03" || state == "40001") {
    Raise(kErrUnspecified,
          "Could not update; currently locked by another session. " + where +
              " is held by another process (" + message +
              "); retry when it has finished.");
  }
  if (state == "42501" || state == "25006") {
    Raise(kErrUnspecified, "Cannot update. Database or object is read-only. " +
                               where + " cannot be written (" + message +
                               "); grant the role the rights on the schema.");
  }
  if (state == "42P01") {
    Raise(kErrTableNotFound,
          "The Microsoft Jet database engine cannot find the input table or "
          "query '" +
              NameInMessage(message, schema) +
              "'. Make sure it exists and that its name is spelled correctly.");
  }
  if (state == "42703") {
    Raise(kErrNoValueGiven,
          "No value given for one or more required parameters. '" +
              NameInMessage(message, schema) +
              "' is not a column of the query's tables in " + where + ".");
  }
  if (state.starts_with("42")) {
    Raise(kErrSyntax, "Syntax error in SQL statement: " + message);
  }
  Raise(kErrUnspecified, message + " (database " + where + ").");
}

PgError ErrorOf(PGconn* conn, const PGresult* result) {
  const char* state =
      result ? PQresultErrorField(result, PG_DIAG_SQLSTATE) : nullptr;
  const char* primary =
      result ? PQresultErrorField(result, PG_DIAG_MESSAGE_PRIMARY) : nullptr;
  std::string message = primary ? primary : PQerrorMessage(conn);
  while (!message.empty() &&
         (message.back() == '\n' || message.back() == ' ')) {
    message.pop_back();
  }
  bool lost = PQstatus(conn) == CONNECTION_BAD;
  return PgError(lost || !state ? "08006" : state,
                 message.empty() ? "the server gave no reason" : message);
}

void RefuseNul(std::string_view value, const std::string& where) {
  if (value.find('\0') == std::string_view::npos) return;
  Raise(automation::kErrInvalidProcedureCall,
        "The text '" + automation::NulsShown(value) +
            "' holds a NUL byte (shown as \\0), which PostgreSQL cannot "
            "store in " +
            where +
            "; it is left out. The log line is damaged: check the log "
            "file.");
}

}  // namespace velnor::ado
