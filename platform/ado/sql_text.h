// Reading the SQL text the component sends, before SQLite sees it: lifting
// the inlined literals out into parameters so that statements of one shape
// share one prepared plan, and recognising the plain "select * from <table>"
// sources that accept new rows.
#ifndef VELNOR_PLATFORM_ADO_SQL_TEXT_H_
#define VELNOR_PLATFORM_ADO_SQL_TEXT_H_

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace velnor::ado {

// One literal lifted out of a statement.
struct SqlLiteral {
  enum class Kind { kText, kInteger, kReal };
  Kind kind = Kind::kText;
  // kText: the value, doubled apostrophes undone. It points into the SQL
  // text that was lifted, or into the shape's `unescaped` when the literal
  // held a doubled apostrophe; valid while both are unchanged.
  std::string_view text;
  int64_t integer = 0;
  double real = 0;
};

// Where a lifted literal stood in the statement's pattern: the offset of
// its "?", and how the literal began ('\'' text, '0' a number starting with
// a digit, '.' one starting with a point). How the text before a literal
// is read can depend on that first character.
struct SqlMark {
  size_t at = 0;
  char start = '\'';
};

// A statement with its literals replaced by "?".
struct SqlPattern {
  std::string text;            // the key of the statement cache
  std::vector<SqlMark> marks;  // the lifted literals, in order
};

// A statement taken apart: its pattern and the values of its literals.
struct SqlShape {
  SqlPattern pattern;
  std::vector<SqlLiteral> literals;  // one per mark
  std::string unescaped;  // values of text literals that needed undoubling
};

// Replaces every apostrophe-quoted text literal and every bare decimal
// number by "?" and records its value. Bracketed, double-quoted and
// back-quoted identifiers, comments, blob literals (X'..'), digits inside
// names and numbers after ORDER BY / GROUP BY (column positions there) stay
// as written. An unterminated literal is left in place for SQLite to
// reject. `shape` is overwritten; reusing one avoids allocations. The text
// literals refer to `sql`, which must outlive their use.
void LiftLiterals(std::string_view sql, SqlShape& shape);

// The quick way for statements sent again and again with new values: when
// `sql` is the statement `known` was lifted from but for the values of its
// literals (each of the same kind and first character), fills
// `shape.literals` and `shape.unescaped` exactly as LiftLiterals would and
// returns true, reading only the literals and comparing the rest. The
// pattern LiftLiterals would make is `known` itself and `shape.pattern` is
// left alone. Otherwise returns false; `shape.literals` is then undefined.
bool LiftLiteralsLike(const SqlPattern& known, std::string_view sql,
                      SqlShape& shape);

// True when `tail` (what follows the first statement) holds only blanks,
// comments and semicolons.
bool IsEmptyTail(std::string_view tail);

// The table of a source of the form "select * from <table>" (the name
// unbracketed), or nullopt for any other source.
std::optional<std::string> BareTableOf(std::string_view sql);

// The table a statement writes to or reads from first: the name after the
// first UPDATE, INTO or FROM; empty when there is none.
std::string StatementTable(std::string_view sql);

}  // namespace velnor::ado

#endif  // VELNOR_PLATFORM_ADO_SQL_TEXT_H_
