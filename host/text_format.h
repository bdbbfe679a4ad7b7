// Text helpers shared by the report and raw-listing renderers: UTF-8
// cleaning, cutting to a width, CSV fields (RFC 4180) and JSON strings.
#ifndef VELNOR_HOST_TEXT_FORMAT_H_
#define VELNOR_HOST_TEXT_FORMAT_H_

#include <cstddef>
#include <string>
#include <string_view>

namespace velnor::host {

// `text` as valid UTF-8: each byte that does not start or continue a
// well-formed sequence becomes U+FFFD. With `replace_controls`, C0 and C1
// control characters and DEL become U+FFFD as well.
std::string CleanUtf8(std::string_view text, bool replace_controls);

// CleanUtf8(text, true) cut to at most `max_chars` characters (at least 1),
// the last one then being "…".
std::string CutText(std::string_view text, size_t max_chars);

// Characters (code points) of valid UTF-8 text.
size_t CharCount(std::string_view text);

// One CSV field of cleaned text, quoted when it holds a comma, a quote or a
// line end (quotes inside doubled).
std::string CsvField(std::string_view raw);

// A JSON string literal of cleaned text, quotes included.
std::string JsonString(std::string_view raw);

}  // namespace velnor::host

#endif  // VELNOR_HOST_TEXT_FORMAT_H_
