// PostgreSQL's failures told as the Jet engine tells its own, so that the
// component's error styles hold whichever store a run writes to.
#include "platform/ado/pg_errors.h"

#include <algorithm>
#include <cctype>
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

// `name` as it may stand in a GRANT the user copies: as it is when
// PostgreSQL would read it so, else double-quoted.
std::string GrantName(const std::string& name) {
  const bool plain =
      !name.empty() &&
      (std::islower(static_cast<unsigned char>(name[0])) || name[0] == '_') &&
      std::all_of(name.begin(), name.end(), [](unsigned char c) {
        return std::islower(c) || std::isdigit(c) || c == '_';
      });
  return plain ? name : pg::QuoteIdentifier(name);
}

// What a refused right (SQLSTATE 42501) means: the schema's use, or the
// table's rows, which `asker` was reading or writing; and the statements
// the owner runs to give it.
[[noreturn]] void RaiseRefusedRight(const std::string& message,
                                    const std::string& where,
                                    const std::string& schema,
                                    const Asker& asker) {
  const std::string role =
      asker.role.empty() ? "the role" : "the role " + asker.role;
  const std::string to = " TO " + GrantName(asker.role);
  const bool schema_refused = message.find("for schema") != std::string::npos;
  const std::string on_schema = GrantName(schema);
  std::string lacks, grants;
  if (schema_refused) {
    lacks = "USAGE on the schema " + schema;
    grants = "GRANT USAGE ON SCHEMA " + on_schema + to;
  } else {
    lacks = asker.reading ? "SELECT on its tables"
                          : "a right a run needs on its tables or their "
                            "sequences";
    grants = "GRANT " +
             std::string(asker.reading ? "SELECT"
                                       : "SELECT, INSERT, UPDATE, DELETE") +
             " ON ALL TABLES IN SCHEMA " + on_schema + to;
  }
  if (!asker.reading) {
    if (schema_refused) {
      grants +=
          "; GRANT SELECT, INSERT, UPDATE, DELETE ON ALL TABLES IN "
          "SCHEMA " +
          on_schema + to;
    }
    grants += "; GRANT USAGE ON ALL SEQUENCES IN SCHEMA " + on_schema + to;
  }
  const std::string fix =
      schema.empty() || asker.role.empty()
          ? "grant " + role + " the rights on the schema."
          : "the schema's owner gives it with: " + grants + ".";
  if (asker.reading) {
    Raise(kErrUnspecified, "Record(s) cannot be read; no read permission on " +
                               where + " (" + message + "): " + role +
                               " lacks " + lacks + "; " + fix);
  }
  Raise(kErrUnspecified, "Cannot update. Database or object is read-only. " +
                             where + " cannot be written (" + message +
                             "): " + role + " lacks " + lacks + "; " + fix);
}

}  // namespace

bool Spoils(const PgError& error) {
  const std::string& state = error.sqlstate();
  return error.ConnectionLost() || state.starts_with("53") ||
         state.starts_with("58") || state.starts_with("XX") ||
         state.starts_with("57P");
}

void RaiseError(const PgError& error, const std::string& where,
                const std::string& schema, std::string_view table,
                const Asker& asker) {
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
  if (state == "42501") RaiseRefusedRight(message, where, schema, asker);
  if (state == pg::kReadOnlyTransaction) {
    Raise(kErrUnspecified, "Cannot update. Database or object is read-only. " +
                               where + " cannot be written (" + message +
                               "). " + pg::kTakesNoWritesAdvice);
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
