// A token scanner just large enough to find table names, "?" markers and
// the end of a statement without being fooled by literals and names that
// hold keywords, question marks or semicolons.
#include "platform/ado/jet_sql.h"

#include <cctype>

#include "platform/automation/text.h"

namespace velnor::ado {
namespace {

enum class Kind { kBlank, kComment, kLiteral, kName, kWord, kOther };

struct Token {
  Kind kind = Kind::kOther;
  std::string_view text;
};

bool IsWordChar(char c) {
  return std::isalnum(static_cast<unsigned char>(c)) || c == '_' ||
         static_cast<unsigned char>(c) >= 0x80;
}

// Splits SQL into tokens; a literal or name left open runs to the end.
class Scanner {
 public:
  explicit Scanner(std::string_view sql) : sql_(sql) {}
  bool Done() const { return at_ >= sql_.size(); }
  size_t at() const { return at_; }

  Token Next() {
    size_t start = at_;
    char c = sql_[at_];
    Kind kind = Kind::kOther;
    if (std::isspace(static_cast<unsigned char>(c))) {
      kind = Kind::kBlank;
      while (!Done() && std::isspace(static_cast<unsigned char>(sql_[at_]))) {
        ++at_;
      }
    } else if (c == '-' && sql_.substr(at_, 2) == "--") {
      kind = Kind::kComment;
      at_ = std::min(sql_.find('\n', at_), sql_.size());
    } else if (c == '/' && sql_.substr(at_, 2) == "/*") {
      kind = Kind::kComment;
      size_t end = sql_.find("*/", at_ + 2);
      at_ = end == std::string_view::npos ? sql_.size() : end + 2;
    } else if (c == '\'') {
      kind = Kind::kLiteral;
      SkipQuoted('\'');
    } else if (c == '"' || c == '`') {
      kind = Kind::kName;
      SkipQuoted(c);
    } else if (c == '[') {
      kind = Kind::kName;
      size_t end = sql_.find(']', at_);
      at_ = end == std::string_view::npos ? sql_.size() : end + 1;
    } else if (IsWordChar(c)) {
      kind = Kind::kWord;
      while (!Done() && IsWordChar(sql_[at_])) ++at_;
    } else {
      ++at_;
    }
    return {kind, sql_.substr(start, at_ - start)};
  }

  // The next token that is not a blank or a comment; kOther with empty text
  // at the end.
  Token NextSignificant() {
    while (!Done()) {
      Token token = Next();
      if (token.kind != Kind::kBlank && token.kind != Kind::kComment) {
        return token;
      }
    }
    return {};
  }

 private:
  // A quoted run, the closing quote doubled inside it.
  void SkipQuoted(char quote) {
    ++at_;
    while (!Done()) {
      if (sql_[at_++] != quote) continue;
      if (Done() || sql_[at_] != quote) return;
      ++at_;
    }
  }

  std::string_view sql_;
  size_t at_ = 0;
};

bool WordIs(const Token& token, std::string_view word) {
  return token.kind == Kind::kWord &&
         automation::EqualsIgnoringAsciiCase(token.text, word);
}

bool IsTableName(const Token& token) {
  return token.kind == Kind::kWord || token.kind == Kind::kName;
}

std::string Unwrapped(const Token& token) {
  if (token.kind != Kind::kName) return std::string(token.text);
  std::string_view inner = token.text.substr(1);
  if (!inner.empty() &&
      (inner.back() == ']' || inner.back() == '"' || inner.back() == '`')) {
    inner.remove_suffix(1);
  }
  return std::string(inner);
}

}  // namespace

std::string QualifyTables(std::string_view sql, std::string_view prefix) {
  std::string out;
  out.reserve(sql.size() + 4 * prefix.size());
  Scanner scanner(sql);
  bool table_follows = false;
  while (!scanner.Done()) {
    size_t start = scanner.at();
    Token token = scanner.Next();
    bool significant =
        token.kind != Kind::kBlank && token.kind != Kind::kComment;
    if (table_follows && significant) {
      table_follows = false;
      if (IsTableName(token)) {
        // A name followed by "." is a schema already.
        Scanner ahead(sql.substr(scanner.at()));
        if (ahead.NextSignificant().text != ".") out += prefix;
      }
    }
    out.append(sql.substr(start, scanner.at() - start));
    if (WordIs(token, "FROM") || WordIs(token, "JOIN") ||
        WordIs(token, "UPDATE") || WordIs(token, "INTO")) {
      table_follows = true;
    }
  }
  return out;
}

std::string StatementTable(std::string_view sql) {
  Scanner scanner(sql);
  while (!scanner.Done()) {
    Token token = scanner.NextSignificant();
    if (WordIs(token, "FROM") || WordIs(token, "JOIN") ||
        WordIs(token, "UPDATE") || WordIs(token, "INTO")) {
      Token table = scanner.NextSignificant();
      return IsTableName(table) ? Unwrapped(table) : "";
    }
  }
  return "";
}

std::optional<std::string> BareTable(std::string_view sql) {
  Scanner scanner(sql);
  Token select = scanner.NextSignificant();
  Token star = scanner.NextSignificant();
  Token from = scanner.NextSignificant();
  Token table = scanner.NextSignificant();
  if (!WordIs(select, "SELECT") || star.text != "*" || !WordIs(from, "FROM") ||
      !IsTableName(table) || !IsEmptyTail(sql.substr(scanner.at()))) {
    return std::nullopt;
  }
  return Unwrapped(table);
}

std::string FillParameters(std::string_view sql,
                           const std::function<std::string(int)>& literal) {
  std::string out;
  Scanner scanner(sql);
  int index = 0;
  while (!scanner.Done()) {
    Token token = scanner.Next();
    if (token.kind == Kind::kOther && token.text == "?") {
      out += literal(++index);
    } else {
      out.append(token.text);
    }
  }
  return out;
}

std::string PostgresSql(std::string_view sql,
                        std::string_view function_schema) {
  std::string out;
  out.reserve(sql.size() + 16);
  Scanner scanner(sql);
  int index = 0;
  while (!scanner.Done()) {
    Token token = scanner.Next();
    if (token.kind == Kind::kName) {
      std::string name = Unwrapped(token);
      // A quoted name keeps a quote inside it doubled: one quote of it.
      const char quote = token.text.front();
      if (quote == '"' || quote == '`') {
        const std::string twice(2, quote);
        for (size_t at = name.find(twice); at != std::string::npos;
             at = name.find(twice, at + 1)) {
          name.erase(at, 1);
        }
      }
      out += '"';
      for (char c : name) {
        out += automation::AsciiLower(c);
        if (c == '"') out += '"';
      }
      out += '"';
    } else if (token.kind == Kind::kOther && token.text == "?") {
      out += '$' + std::to_string(++index);
    } else if (WordIs(token, "typeof") || WordIs(token, "temp")) {
      Scanner ahead(sql.substr(scanner.at()));
      std::string_view next = ahead.NextSignificant().text;
      if (WordIs(token, "typeof") && next == "(") {
        out.append(function_schema);
        out += ".typeof";
      } else if (WordIs(token, "temp") && next == ".") {
        out += "pg_temp";
      } else {
        out.append(token.text);
      }
    } else {
      out.append(token.text);
    }
  }
  return out;
}

bool IsEmptyTail(std::string_view rest) {
  Scanner scanner(rest);
  while (!scanner.Done()) {
    Token token = scanner.Next();
    if (token.kind != Kind::kBlank && token.kind != Kind::kComment &&
        token.text != ";") {
      return false;
    }
  }
  return true;
}

}  // namespace velnor::ado
