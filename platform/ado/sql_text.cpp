// A small SQL scanner: just enough of SQLite's lexical rules to tell
// literals from identifiers and comments. It never judges the grammar; what
// it cannot classify is passed through for SQLite to accept or reject.
#include "platform/ado/sql_text.h"

#include <strings.h>

#include <array>
#include <charconv>
#include <cstdlib>
#include <cstring>

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

// Character classes, one table look-up per character: the scanner runs on
// every statement the report store sends.
enum CharClass : uint8_t {
  kWordStart = 1,  // letters, '_' and every byte of a multi-byte character
  kWordChar = 2,   // word starts, digits and '$'
  kDigitChar = 4,
  kBlankChar = 8,
};

constexpr std::array<uint8_t, 256> MakeClasses() {
  std::array<uint8_t, 256> classes{};
  for (int c = 0; c < 256; ++c) {
    bool letter = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
                  c == '_' || c >= 0x80;
    bool digit = c >= '0' && c <= '9';
    uint8_t bits = 0;
    if (letter) bits |= kWordStart | kWordChar;
    if (digit) bits |= kDigitChar | kWordChar;
    if (c == '$') bits |= kWordChar;
    if (c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' ||
        c == '\v') {
      bits |= kBlankChar;
    }
    classes[c] = bits;
  }
  return classes;
}
constexpr std::array<uint8_t, 256> kClasses = MakeClasses();

bool Is(char c, CharClass what) {
  return (kClasses[static_cast<unsigned char>(c)] & what) != 0;
}
bool IsWordStart(char c) { return Is(c, kWordStart); }
bool IsWordChar(char c) { return Is(c, kWordChar); }
bool IsDigit(char c) { return Is(c, kDigitChar); }
bool IsBlank(char c) { return Is(c, kBlankChar); }

bool WordIs(std::string_view word, const char* keyword) {
  return word.size() == std::char_traits<char>::length(keyword) &&
         strncasecmp(word.data(), keyword, word.size()) == 0;
}

class Scanner {
 public:
  explicit Scanner(std::string_view sql, size_t pos = 0)
      : sql_(sql), pos_(pos) {}

  bool Done() const { return pos_ >= sql_.size(); }

  Token Next() {
    size_t start = pos_;
    TokenKind kind = Scan();
    return {kind, sql_.substr(start, pos_ - start)};
  }

 private:
  char At(size_t i) const { return i < sql_.size() ? sql_[i] : '\0'; }

  // Advances past the closing `close`; a doubled `close` is part of the
  // content. Runs to the end and returns false when unterminated.
  bool SkipQuoted(char close, bool doubling) {
    ++pos_;
    while (pos_ < sql_.size()) {
      const void* found =
          std::memchr(sql_.data() + pos_, close, sql_.size() - pos_);
      if (!found) break;
      pos_ = static_cast<const char*>(found) - sql_.data() + 1;
      if (!doubling || At(pos_) != close) return true;
      ++pos_;
    }
    pos_ = sql_.size();
    return false;
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
    // An unterminated literal is no literal: SQLite is left to reject it.
    if (c == '\'') {
      return SkipQuoted('\'', true) ? TokenKind::kText : TokenKind::kOther;
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

// The value of a text literal (`quoted` with its apostrophes): a view into
// the SQL when nothing is doubled, else undoubled onto the end of
// `unescaped`, which the caller has reserved so that it never reallocates.
std::string_view UnquoteText(std::string_view quoted, std::string& unescaped) {
  std::string_view inner = quoted.substr(1, quoted.size() - 2);
  if (inner.find('\'') == std::string_view::npos) return inner;
  size_t start = unescaped.size();
  for (size_t i = 0; i < inner.size(); ++i) {
    unescaped += inner[i];
    if (inner[i] == '\'') ++i;  // the second of a doubled apostrophe
  }
  return std::string_view(unescaped).substr(start);
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
  if (!inner.empty() &&
      (inner.back() == ']' || inner.back() == '"' || inner.back() == '`')) {
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

// How a literal token begins, as SqlMark::start records it.
char StartOf(std::string_view literal) {
  return literal[0] == '\'' || literal[0] == '.' ? literal[0] : '0';
}

}  // namespace

void LiftLiterals(std::string_view sql, SqlShape& shape) {
  SqlPattern& pattern = shape.pattern;
  pattern.text.clear();
  pattern.marks.clear();
  shape.literals.clear();
  shape.unescaped.clear();
  // Undoubled values are shorter than the SQL: with this room the views
  // into `unescaped` stay valid as it grows.
  shape.unescaped.reserve(sql.size());
  Scanner scanner(sql);
  std::string_view previous_word;
  // Inside ORDER BY and GROUP BY a number names a result column; as a
  // parameter it would become a constant and change the query.
  bool numbers_are_positions = false;
  // Text is copied to the shape a run at a time, up to each lifted literal.
  const char* run_start = sql.data();
  auto lift = [&](std::string_view token, const SqlLiteral& literal) {
    pattern.text.append(run_start, token.data());
    pattern.marks.push_back({pattern.text.size(), StartOf(token)});
    pattern.text += '?';
    run_start = token.data() + token.size();
    shape.literals.push_back(literal);
  };
  while (!scanner.Done()) {
    Token token = scanner.Next();
    switch (token.kind) {
      case TokenKind::kText:
        lift(token.text, {SqlLiteral::Kind::kText,
                          UnquoteText(token.text, shape.unescaped), 0, 0});
        break;
      case TokenKind::kNumber:
        if (!numbers_are_positions) {
          lift(token.text, NumberLiteral(token.text));
        }
        break;
      case TokenKind::kWord:
        if (token.text.size() == 2 && WordIs(token.text, "BY") &&
            (WordIs(previous_word, "ORDER") ||
             WordIs(previous_word, "GROUP"))) {
          numbers_are_positions = true;
        } else if (token.text.size() >= 5 && token.text.size() <= 6 &&
                   (WordIs(token.text, "LIMIT") ||
                    WordIs(token.text, "HAVING") ||
                    WordIs(token.text, "WHERE") ||
                    WordIs(token.text, "SELECT"))) {
          numbers_are_positions = false;
        }
        previous_word = token.text;
        break;
      default:
        break;
    }
  }
  pattern.text.append(run_start, sql.data() + sql.size());
}

// Equivalent to LiftLiterals because the text before each literal is the
// same as in `known`: the scanner reads it the same way up to the literal
// (what it looks ahead at, the literal's first character, is of the same
// class), stands in the same state there, and reads the literal itself by
// the same rules.
bool LiftLiteralsLike(const SqlPattern& known, std::string_view sql,
                      SqlShape& shape) {
  shape.literals.clear();
  shape.unescaped.clear();
  shape.unescaped.reserve(sql.size());
  std::string_view rest = known.text;  // the pattern not yet matched
  size_t pos = 0;                      // in `sql`
  size_t matched = 0;                  // in `known.text`
  for (const SqlMark& mark : known.marks) {
    std::string_view run = rest.substr(0, mark.at - matched);
    if (sql.substr(pos, run.size()) != run) return false;
    pos += run.size();
    if (pos >= sql.size()) return false;
    Token token = Scanner(sql, pos).Next();
    if (StartOf(token.text) != mark.start) return false;
    if (token.kind == TokenKind::kText) {
      shape.literals.push_back({SqlLiteral::Kind::kText,
                                UnquoteText(token.text, shape.unescaped), 0,
                                0});
    } else if (token.kind == TokenKind::kNumber) {
      shape.literals.push_back(NumberLiteral(token.text));
    } else {
      return false;
    }
    pos += token.text.size();
    matched = mark.at + 1;
    rest = std::string_view(known.text).substr(matched);
  }
  return sql.substr(pos) == rest;
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
      (table.kind != TokenKind::kWord &&
       table.kind != TokenKind::kQuotedName)) {
    return std::nullopt;
  }
  if (!IsEmptyTail(
          sql.substr(table.text.data() + table.text.size() - sql.data()))) {
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
