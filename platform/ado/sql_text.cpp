// A small SQL scanner: just enough of SQLite's lexical rules to tell
// literals from identifiers and comments. It never judges the grammar; what
// it cannot classify is passed through for SQLite to accept or reject.
#include "platform/ado/sql_text.h"

#include <strings.h>

#include <charconv>
#include <cstdlib>

namespace velnor::ado {
namespace {

enum class TokenKind {
  kWord,        // bare identifier or keyword
  kQuotedName,  // [name], "name" or `name`
  kText,        // 'text'
  kNumber,
  kBlob,  // X'..'
  kBlank,
  kComment,
  kOther,  // operators, punctuation, '?' and anything unknown
};

struct Token {
  TokenKind kind;
  std::string_view text;
};

bool IsWordStart(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_' ||
         static_cast<unsigned char>(c) >= 0x80;
}
bool IsWordChar(char c) {
  return IsWordStart(c) || (c >= '0' && c <= '9') || c == '$';
}
bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' ||
         c == '\v';
}

bool WordIs(std::string_view word, const char* keyword) {
  return word.size() == std::char_traits<char>::length(keyword) &&
         strncasecmp(word.data(), keyword, word.size()) == 0;
}

class Scanner {
 public:
  explicit Scanner(std::string_view sql) : sql_(sql) {}

  bool Done() const { return pos_ >= sql_.size(); }

  Token Next() {
    size_t start = pos_;
    TokenKind kind = Scan();
    return {kind, sql_.substr(start, pos_ - start)};
  }

 private:
  char At(size_t i) const { return i < sql_.size() ? sql_[i] : '\0'; }

  // Advances past the closing `close`; a doubled `close` is part of the
  // content. Runs to the end when unterminated.
  void SkipQuoted(char close, bool doubling) {
    ++pos_;
    while (pos_ < sql_.size()) {
      if (sql_[pos_] == close) {
        if (doubling && At(pos_ + 1) == close) {
          pos_ += 2;
          continue;
        }
        ++pos_;
        return;
      }
      ++pos_;
    }
  }

  TokenKind ScanNumber() {
    while (IsDigit(At(pos_))) ++pos_;
    if (At(pos_) == '.') {
      ++pos_;
      while (IsDigit(At(pos_))) ++pos_;
    }
    if ((At(pos_) == 'e' || At(pos_) == 'E') &&
        (IsDigit(At(pos_ + 1)) ||
         ((At(pos_ + 1) == '+' || At(pos_ + 1) == '-') &&
          IsDigit(At(pos_ + 2))))) {
      pos_ += 2;
      while (IsDigit(At(pos_))) ++pos_;
    }
    // "1abc" or "0x1F" is not a plain decimal number: leave it to SQLite.
    if (IsWordChar(At(pos_))) {
      while (IsWordChar(At(pos_))) ++pos_;
      return TokenKind::kOther;
    }
    return TokenKind::kNumber;
  }

  TokenKind Scan() {
    char c = sql_[pos_];
    if (IsBlank(c)) {
      while (IsBlank(At(pos_))) ++pos_;
      return TokenKind::kBlank;
    }
    if (c == '-' && At(pos_ + 1) == '-') {
      while (pos_ < sql_.size() && sql_[pos_] != '\n') ++pos_;
      return TokenKind::kComment;
    }
    if (c == '/' && At(pos_ + 1) == '*') {
      size_t end = sql_.find("*/", pos_ + 2);
      pos_ = end == std::string_view::npos ? sql_.size() : end + 2;
      return TokenKind::kComment;
    }
    if (c == '\'') {
      SkipQuoted('\'', true);
      return TokenKind::kText;
    }
    if (c == '[') {
      SkipQuoted(']', false);
      return TokenKind::kQuotedName;
    }
    if (c == '"' || c == '`') {
      SkipQuoted(c, true);
      return TokenKind::kQuotedName;
    }
    if ((c == 'x' || c == 'X') && At(pos_ + 1) == '\'') {
      ++pos_;
      SkipQuoted('\'', false);
      return TokenKind::kBlob;
    }
    if (IsWordStart(c)) {
      while (IsWordChar(At(pos_))) ++pos_;
      return TokenKind::kWord;
    }
    if (IsDigit(c) || (c == '.' && IsDigit(At(pos_ + 1)))) return ScanNumber();
    ++pos_;
    return TokenKind::kOther;
  }

  std::string_view sql_;
  size_t pos_ = 0;
};

bool Terminated(std::string_view quoted) {
  return quoted.size() >= 2 && quoted.back() == '\'';
}

std::string UnquoteText(std::string_view quoted) {
  std::string value;
  std::string_view inner = quoted.substr(1, quoted.size() - 2);
  value.reserve(inner.size());
  for (size_t i = 0; i < inner.size(); ++i) {
    value += inner[i];
    if (inner[i] == '\'') ++i;  // the second of a doubled apostrophe
  }
  return value;
}

SqlLiteral NumberLiteral(std::string_view digits) {
  SqlLiteral literal;
  bool integral = digits.find_first_of(".eE") == std::string_view::npos;
  if (integral) {
    auto [end, error] = std::from_chars(
        digits.data(), digits.data() + digits.size(), literal.integer);
    if (error == std::errc() && end == digits.data() + digits.size()) {
      literal.kind = SqlLiteral::Kind::kInteger;
      return literal;
    }
  }
  // Like SQLite, an integer too large for 64 bits is read as a real.
  literal.kind = SqlLiteral::Kind::kReal;
  literal.real = std::strtod(std::string(digits).c_str(), nullptr);
  return literal;
}

std::string NameOf(const Token& token) {
  if (token.kind == TokenKind::kWord) return std::string(token.text);
  std::string_view inner = token.text.substr(1);
  if (!inner.empty() && (inner.back() == ']' || inner.back() == '"' ||
                         inner.back() == '`')) {
    inner.remove_suffix(1);
  }
  return std::string(inner);
}

// The next token that is neither blank nor comment; kind kOther with empty
// text at the end.
Token NextSignificant(Scanner& scanner) {
  while (!scanner.Done()) {
    Token token = scanner.Next();
    if (token.kind != TokenKind::kBlank && token.kind != TokenKind::kComment) {
      return token;
    }
  }
  return {TokenKind::kOther, {}};
}

}  // namespace

void LiftLiterals(std::string_view sql, SqlShape& shape) {
  shape.text.clear();
  shape.literals.clear();
  Scanner scanner(sql);
  std::string_view previous_word;
  // Inside ORDER BY and GROUP BY a number names a result column; as a
  // parameter it would become a constant and change the query.
  bool numbers_are_positions = false;
  while (!scanner.Done()) {
    Token token = scanner.Next();
    switch (token.kind) {
      case TokenKind::kText:
        if (Terminated(token.text)) {
          shape.literals.push_back(
              {SqlLiteral::Kind::kText, UnquoteText(token.text), 0, 0});
          shape.text += '?';
          continue;
        }
        break;
      case TokenKind::kNumber:
        if (!numbers_are_positions) {
          shape.literals.push_back(NumberLiteral(token.text));
          shape.text += '?';
          continue;
        }
        break;
      case TokenKind::kWord:
        if (WordIs(token.text, "BY") && (WordIs(previous_word, "ORDER") ||
                                         WordIs(previous_word, "GROUP"))) {
          numbers_are_positions = true;
        } else if (WordIs(token.text, "LIMIT") ||
                   WordIs(token.text, "HAVING") ||
                   WordIs(token.text, "WHERE") ||
                   WordIs(token.text, "SELECT")) {
          numbers_are_positions = false;
        }
        previous_word = token.text;
        break;
      default:
        break;
    }
    shape.text += token.text;
  }
}

bool IsEmptyTail(std::string_view tail) {
  Scanner scanner(tail);
  while (!scanner.Done()) {
    Token token = scanner.Next();
    bool ignorable = token.kind == TokenKind::kBlank ||
                     token.kind == TokenKind::kComment || token.text == ";";
    if (!ignorable) return false;
  }
  return true;
}

std::optional<std::string> BareTableOf(std::string_view sql) {
  Scanner scanner(sql);
  Token select = NextSignificant(scanner);
  Token star = NextSignificant(scanner);
  Token from = NextSignificant(scanner);
  Token table = NextSignificant(scanner);
  if (select.kind != TokenKind::kWord || !WordIs(select.text, "SELECT") ||
      star.text != "*" || from.kind != TokenKind::kWord ||
      !WordIs(from.text, "FROM") ||
      (table.kind != TokenKind::kWord && table.kind != TokenKind::kQuotedName)) {
    return std::nullopt;
  }
  if (!IsEmptyTail(sql.substr(table.text.data() + table.text.size() -
                              sql.data()))) {
    return std::nullopt;
  }
  return NameOf(table);
}

std::string StatementTable(std::string_view sql) {
  Scanner scanner(sql);
  while (!scanner.Done()) {
    Token token = NextSignificant(scanner);
    if (token.kind == TokenKind::kWord &&
        (WordIs(token.text, "UPDATE") || WordIs(token.text, "INTO") ||
         WordIs(token.text, "FROM"))) {
      Token table = NextSignificant(scanner);
      if (table.kind == TokenKind::kWord ||
          table.kind == TokenKind::kQuotedName) {
        return NameOf(table);
      }
      return "";
    }
  }
  return "";
}

}  // namespace velnor::ado
