// Small text helpers every layer shares, so that blanks are trimmed and
// names compared without regard to case in one way: the ASCII way, as
// Windows compares server, share, file and field names and as the database
// engines' NOCASE does. Bytes outside ASCII (UTF-8 sequences) compare as
// they are.
#ifndef VELNOR_PLATFORM_AUTOMATION_TEXT_H_
#define VELNOR_PLATFORM_AUTOMATION_TEXT_H_

#include <string>
#include <string_view>

namespace velnor::automation {

// `text` without the leading and trailing characters found in `blanks`.
std::string_view Trim(std::string_view text, std::string_view blanks = " \t");

// `c` with the ASCII capitals A to Z made lower case; other bytes unchanged.
constexpr char AsciiLower(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// `text` with AsciiLower applied to every byte.
std::string AsciiLowered(std::string_view text);

// `text` with each NUL byte written as the two characters \0, so that a
// message can show a damaged text whole.
std::string NulsShown(std::string_view text);

// Whether `a` and `b` are equal when ASCII letters are compared without
// regard to case.
bool EqualsIgnoringAsciiCase(std::string_view a, std::string_view b);

// Whether `text` starts with `prefix`, ASCII letters compared without regard
// to case.
bool StartsWithIgnoringAsciiCase(std::string_view text,
                                 std::string_view prefix);

// Orders texts as their AsciiLowered forms order byte by byte, for maps
// and sorts keyed by names that ignore case. Transparent: looks up by
// std::string_view without a copy.
struct LessIgnoringAsciiCase {
  using is_transparent = void;
  bool operator()(std::string_view a, std::string_view b) const;
};

}  // namespace velnor::automation

#endif  // VELNOR_PLATFORM_AUTOMATION_TEXT_H_
