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

bool OpenConnection(std::shared_ptr<ado::Connection>& objCn,
                    std::string_view strDBPath) {
  bool opened = false;
  ErrorHandler handler([] {
    WriteErrorLog(Err().Number(), Err().Description(), kDbSupportSource,
                  "OpenConnection");
  });
  handler([&] {
    if (!objCn) automation::Raise(automation::kErrObjectNotSet);
    objCn->SetProvider(ado::kJetProvider);
    objCn->Open(strDBPath);
    opened = true;
  });
  return opened;
}

bool OpenRecordSetEx(std::shared_ptr<ado::Recordset>& objRs,
                     std::string_view strSQL,
                     std::shared_ptr<ado::Connection>& objCn,
                     int32_t lCursorType, int32_t lLockType,
                     int16_t iCursorLocation) {
  ErrorHandler handler([&] {
    WriteErrorLog(Err().Number(), Err().Description(), kOpenRecordSetExSource,
                  strSQL);
    if (!objRs) return;
    // The caller must get either an open recordset or nothing, never a
    // half-made one, so the release happens even when Close fails.
    ResumeNext([&] {
      if (objRs->State() != ado::adStateClosed) objRs->Close();
    });
    objRs.reset();
  });
  return handler([&] {
    objRs = automation::CreateObjectAs<ado::Recordset>("ADODB.Recordset");
    objRs->SetLockType(lLockType);
    objRs->SetCursorType(lCursorType);
    objRs->SetCursorLocation(iCursorLocation);
    objRs->SetActiveConnection(objCn);
    objRs->Open(strSQL);
  });
}

bool OpenCommandEx(std::unique_ptr<ado::Command>& objCmd,
                   std::string_view strSQL,
                   std::shared_ptr<ado::Connection>& objCn,
                   const std::vector<automation::Variant>& values) {
  ErrorHandler handler([&] {
    WriteErrorLog(Err().Number(), Err().Description(), kOpenRecordSetExSource,
                  ado::WithLiterals(strSQL, values));
  });
  return handler([&] {
    if (!objCmd || !objCmd->Usable()) {
      objCmd.reset();
      if (!objCn) automation::Raise(automation::kErrObjectNotSet);
      objCmd = std::make_unique<ado::Command>(objCn, strSQL);
    }
    for (size_t i = 0; i < values.size(); ++i) {
      objCmd->SetParameter(static_cast<int>(i + 1), values[i]);
    }
    objCmd->Execute();
  });
}

void CloseConnection(std::shared_ptr<ado::Connection>& objCn) {
  if (!objCn) return;
  if (objCn->State() == ado::adStateOpen) {
    objCn->Close();
    objCn.reset();
  }
}

void CloseRecordSet(std::shared_ptr<ado::Recordset>& objRs,
                    const bool& blnRelease) {
  // Like any procedure that continues past errors, this one starts and ends
  // with no pending error: a failed Close is handled here, not reported.
  Err().Clear();
  if (objRs && objRs->State() == ado::adStateOpen) {
    if (!ResumeNext([&] { objRs->Close(); })) {
      ResumeNext([&] { objRs->CancelUpdate(); });
    }
    if (blnRelease) objRs.reset();
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
