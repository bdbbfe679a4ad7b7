// Text helpers shared by the report and raw-listing renderers: UTF-8
// cleaning, cutting to a width, CSV fields (RFC 4180) and JSON strings.
#ifndef VELNOR_HOST_RENDER_TEXT_FORMAT_H_
#define VELNOR_HOST_RENDER_TEXT_FORMAT_H_

#include <cstddef>
#include <string>
#include <string_view>

namespace velnor::host {

// `text` as valid UTF-8: each byte that does not start or continue a
// well-formed sequence becomes U+FFFD. With `replace_controls`, C0 and C1
// control characters and DEL become U+FFFD as well.
std::string CleanUtf8(std::string_view text, bool replace_controls);

// CleanUtf8(text, true) cut to at most `max_chars` characters (at least 1
// more than `mark` has), ending in `mark` when cut.
std::string CutText(std::string_view text, size_t max_chars,
                    std::string_view mark = "\u2026");

// Appends `item` to `list`, after `separator` unless `list` is empty.
void AppendListItem(std::string& list, std::string_view separator,
                    std::string_view item);

// True when the user's locale (LC_ALL, else LC_CTYPE, else LANG) encodes
// text as UTF-8, so that block and box-drawing characters show on the
// terminal. A locale that is named but not installed counts by its name.
bool LocaleIsUtf8();

// Characters (code points) of valid UTF-8 text.
size_t CharCount(std::string_view text);

// One CSV field of cleaned text, quoted when it holds a comma, a quote or a
// line end (quotes inside doubled).
std::string CsvField(std::string_view raw);

// A JSON string literal of cleaned text, quotes included.
std::string JsonString(std::string_view raw);

}  // namespace velnor::host

#endif  // VELNOR_HOST_RENDER_TEXT_FORMAT_H_
