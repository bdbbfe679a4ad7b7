// DBSupport: connections and recordsets of the report databases, opened and
// closed in one place so that every failure to open is logged the same way.
#include "dbsupport/db_support.h"

#include <utility>

#include "dbsupport/error_log.h"
#include "platform/automation/error_state.h"
#include "platform/automation/object.h"

namespace velnor {

using automation::Err;
using automation::ErrorHandler;
using automation::ResumeNext;

bool OpenConnection(std::shared_ptr<ado::Connection>& connection,
                    std::string_view db_path) {
  bool opened = false;
  ErrorHandler handler([] {
    WriteErrorLog(Err().Number(), Err().Description(), kDbSupportSource,
                  "OpenConnection");
  });
  handler([&] {
    if (!connection) automation::Raise(automation::kErrObjectNotSet);
    connection->SetProvider(ado::kJetProvider);
    connection->Open(db_path);
    opened = true;
  });
  return opened;
}

bool OpenRecordSetEx(std::shared_ptr<ado::Recordset>& rs, std::string_view sql,
                     std::shared_ptr<ado::Connection>& connection,
                     int32_t cursor_type, int32_t lock_type,
                     int16_t cursor_location) {
  ErrorHandler handler([&] {
    WriteErrorLog(Err().Number(), Err().Description(), kOpenRecordSetExSource,
                  sql);
    if (!rs) return;
    // The caller must get either an open recordset or nothing, never a
    // half-made one, so the release happens even when Close fails.
    ResumeNext([&] {
      if (rs->State() != ado::adStateClosed) rs->Close();
    });
    rs.reset();
  });
  return handler([&] {
    rs = automation::CreateObjectAs<ado::Recordset>("ADODB.Recordset");
    rs->SetLockType(lock_type);
    rs->SetCursorType(cursor_type);
    rs->SetCursorLocation(cursor_location);
    rs->SetActiveConnection(connection);
    rs->Open(sql);
  });
}

bool OpenCommandEx(std::unique_ptr<ado::Command>& command, std::string_view sql,
                   std::shared_ptr<ado::Connection>& connection,
                   const std::vector<automation::Variant>& values) {
  ErrorHandler handler([&] {
    WriteErrorLog(Err().Number(), Err().Description(), kOpenRecordSetExSource,
                  ado::WithLiterals(sql, values));
  });
  return handler([&] {
    if (!command || !command->Usable()) {
      command.reset();
      if (!connection) automation::Raise(automation::kErrObjectNotSet);
      command = std::make_unique<ado::Command>(connection, sql);
    }
    for (size_t i = 0; i < values.size(); ++i) {
      command->SetParameter(static_cast<int>(i + 1), values[i]);
    }
    command->Execute();
  });
}

void CloseConnection(std::shared_ptr<ado::Connection>& connection) {
  if (!connection) return;
  if (connection->State() == ado::adStateOpen) {
    connection->Close();
    connection.reset();
  }
}

void CloseRecordSet(std::shared_ptr<ado::Recordset>& rs, const bool& release) {
  // Like any procedure that continues past errors, this one starts and ends
  // with no pending error: a failed Close is handled here, not reported.
  Err().Clear();
  if (rs && rs->State() == ado::adStateOpen) {
    if (!ResumeNext([&] { rs->Close(); })) {
      ResumeNext([&] { rs->CancelUpdate(); });
    }
    if (release) rs.reset();
  }
  Err().Clear();
}

automation::Variant NullToDefault(const automation::Variant& value,
                                  const automation::Variant& defaultValue) {
  return value.IsNull() ? defaultValue : value;
}

automation::Variant NullToDefault(automation::Variant&& value,
                                  const automation::Variant& defaultValue) {
  if (value.IsNull()) return defaultValue;
  return std::move(value);
}

std::string QuoteSQLString(const automation::Variant& value) {
  std::string quoted;
  if (const std::string* text = value.AsString()) {
    AppendQuotedSQLString(quoted, *text);
  } else {
    AppendQuotedSQLString(quoted, automation::CStr(value));
  }
  return quoted;
}

void AppendQuotedSQLString(std::string& sql, std::string_view text) {
  sql += '\'';
  for (size_t start = 0;;) {
    size_t apostrophe = text.find('\'', start);
    if (apostrophe == std::string_view::npos) {
      sql.append(text, start);
      break;
    }
    sql.append(text, start, apostrophe + 1 - start);
    sql += '\'';
    start = apostrophe + 1;
  }
  sql += '\'';
}

}  // namespace velnor
