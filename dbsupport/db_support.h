// DBSupport: the one place where report databases are connected to and
// recordsets opened and closed, plus the two value helpers used whenever a
// field or an SQL literal is composed. Every failure is written to the error
// log (error_log.h); none is raised to the caller except where noted.
#ifndef VELNOR_DBSUPPORT_DB_SUPPORT_H_
#define VELNOR_DBSUPPORT_DB_SUPPORT_H_

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/ado/ado.h"
#include "platform/automation/variant.h"

namespace velnor {

// Sets the Jet provider and opens `db_path` on the existing connection
// object. On failure writes one line (source kDbSupportSource,
// procedure "OpenConnection") and returns false; the connection is left as
// it was for the caller to close and release.
bool OpenConnection(std::shared_ptr<ado::Connection>& connection,
                    std::string_view db_path);

// Creates a new recordset into `rs` (releasing what it held), sets lock
// type, cursor type, cursor location and connection, and opens `sql`.
// On failure writes one line (source kOpenRecordSetExSource,
// the SQL text as procedure),
// closes and releases the recordset (rs becomes null) and returns false.
bool OpenRecordSetEx(std::shared_ptr<ado::Recordset>& rs, std::string_view sql,
                     std::shared_ptr<ado::Connection>& connection,
                     int32_t cursor_type, int32_t lock_type,
                     int16_t cursor_location);

// Runs a query prepared with "?" markers as OpenRecordSetEx opens one:
// prepares `sql` into `command` on `connection` unless command is already
// prepared there, sets `values` as its parameters and positions it on its
// first row. On failure writes one line (source kOpenRecordSetExSource,
// the statement with its values written in as procedure) and returns false. The
// statement is never run with its values spelled into the text.
bool OpenCommandEx(std::unique_ptr<ado::Command>& command, std::string_view sql,
                   std::shared_ptr<ado::Connection>& connection,
                   const std::vector<automation::Variant>& values);

// Closes an open connection and releases the caller's reference; one that
// is null or not open is left as it is. Errors reach the caller.
void CloseConnection(std::shared_ptr<ado::Connection>& connection);

// Closes an open recordset (cancelling a pending row when Close fails) and,
// with release, releases the caller's reference. Never fails.
void CloseRecordSet(std::shared_ptr<ado::Recordset>& rs, const bool& release);

// The default when `value` is null, else the value unchanged.
automation::Variant NullToDefault(const automation::Variant& value,
                                  const automation::Variant& defaultValue);
// The same for a value the caller hands over (a property just read): it is
// moved rather than copied.
automation::Variant NullToDefault(automation::Variant&& value,
                                  const automation::Variant& defaultValue);

// The value as text between apostrophes, inner apostrophes doubled. Null
// raises invalid use of null (94) to the caller.
std::string QuoteSQLString(const automation::Variant& value);

// Appends `text` to `sql` quoted as QuoteSQLString quotes it, for SQL
// composed once per log record without a string per literal.
void AppendQuotedSQLString(std::string& sql, std::string_view text);

}  // namespace velnor

#endif  // VELNOR_DBSUPPORT_DB_SUPPORT_H_
