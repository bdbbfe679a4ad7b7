// Reading the Jet SQL that callers send, as far as an engine needs to: the
// tables a statement names (so that an engine holding several databases
// can point them at one), whether a source is a whole table (so that it
// accepts new rows), and the text of a statement with its parameters
// written in (for error messages only: values are always bound).
//
// The scanner knows apostrophe literals (inner apostrophes doubled),
// bracketed and double-quoted names and bare words; nothing else of SQL.
#ifndef VELNOR_PLATFORM_ADO_JET_SQL_H_
#define VELNOR_PLATFORM_ADO_JET_SQL_H_

#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace velnor::ado {

// `sql` with every table name that follows FROM, JOIN, UPDATE or INTO and
// is not qualified already preceded by `prefix` (such as "\"db1\"."). Only
// the first table of a comma-separated list is a table name here.
std::string QualifyTables(std::string_view sql, std::string_view prefix);

// The table of a "select * from <table>" source (any case, any blanks, a
// bracketed or quoted name unwrapped); nothing for any other statement.
std::optional<std::string> BareTable(std::string_view sql);

// The first table the statement names (after FROM, JOIN, UPDATE or INTO),
// unwrapped; empty when there is none.
std::string StatementTable(std::string_view sql);

// `sql` with each "?" outside literals and names replaced by
// `literal(index)`, indexes counting from 1.
std::string FillParameters(std::string_view sql,
                           const std::function<std::string(int)>& literal);

// `sql` as PostgreSQL reads it: every bracketed or quoted name becomes a
// double-quoted name in lower case (the report tables' names and columns
// are lower case there, as unquoted names fold to it), each "?" becomes
// $1, $2, ..., the temporary schema "temp." becomes "pg_temp.", and the
// function typeof( becomes the one of the same name in the schema
// `function_schema` (a quoted name), which answers as SQLite's does.
std::string PostgresSql(std::string_view sql, std::string_view function_schema);

// True when `rest` holds nothing but blanks and semicolons: what may
// follow the one statement of a call.
bool IsEmptyTail(std::string_view rest);

}  // namespace velnor::ado

#endif  // VELNOR_PLATFORM_ADO_JET_SQL_H_
