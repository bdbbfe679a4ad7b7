// Text helpers shared by the report and raw-listing renderers: UTF-8
// cleaning, cutting to a width, CSV fields (RFC 4180) and TSV fields.
#ifndef VELNOR_HOST_RENDER_TEXT_FORMAT_H_
#define VELNOR_HOST_RENDER_TEXT_FORMAT_H_

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace velnor::host {

// `text` as valid UTF-8: each byte that does not start or continue a
// well-formed sequence becomes U+FFFD, and so does a NUL byte, which no
// text tool takes (C strings end at it, CSV readers refuse its line) and a
// log record holds only when damaged. With `replace_controls`, every C0
// and C1 control character and DEL become U+FFFD as well.
std::string CleanUtf8(std::string_view text, bool replace_controls);

// CleanUtf8(text, true) cut to at most `max_columns` terminal columns (at
// least 1 more than `mark` takes), ending in `mark` when cut. A cut falls
// between user-perceived characters, never inside one: a letter keeps its
// combining marks, an emoji sequence stays whole, a wide (CJK) character
// counts two columns.
std::string CutText(std::string_view text, size_t max_columns,
                    std::string_view mark = "\u2026");

// The terminal columns CleanUtf8(text, true) takes (libutf8proc's widths:
// 2 for wide characters, 0 for combining marks).
size_t DisplayWidth(std::string_view text);

// `text` padded with blanks to `columns` terminal columns; as it is when
// wider already.
std::string PadToWidth(std::string_view text, size_t columns);

// CleanUtf8(text, true) as lines of at most `max_columns` columns, broken
// at blanks; a word wider than a line is broken between its characters.
// Blanks at a break are dropped; one line at least.
std::vector<std::string> WrapText(std::string_view text, size_t max_columns);

// Appends `item` to `list`, after `separator` unless `list` is empty.
void AppendListItem(std::string& list, std::string_view separator,
                    std::string_view item);

// True when the user's locale (LC_ALL, else LC_CTYPE, else LANG) encodes
// text as UTF-8, so that block and box-drawing characters show on the
// terminal. A locale that is named but not installed counts by its name.
bool LocaleIsUtf8();

// Characters (code points) of valid UTF-8 text; DisplayWidth measures text
// for a terminal.
size_t CharCount(std::string_view text);

// One CSV field of cleaned text, quoted when it holds a comma, a quote or a
// line end (quotes inside doubled). A leading = + - @ is kept: the field is
// the logged text that other tools match, not a guess at what a spreadsheet
// might evaluate (the README tells users to import such files as text).
// The tab and the line ends (CR LF, LF) stay, as a quoted field holds them
// and every CSV reader gives them back; a CR alone, no line end to most
// readers, would send a terminal's cursor back over the row's first fields
// for what follows it to cover. It and every other control character (ESC,
// DEL, the C1 controls) become U+FFFD, as NUL and broken bytes do: CSV has no
// escape a spreadsheet would read back, and the text comes from logs
// anyone can write into, so a control kept would reach the terminal of
// whoever shows the file and could move its cursor or rewrite what it
// shows.
std::string CsvField(std::string_view raw);

// One TSV field of cleaned text (NUL and broken bytes U+FFFD) that holds
// the text exactly, in the backslash escapes PostgreSQL's COPY text format
// and most TSV readers take: tab, newline, carriage return and backslash
// as \t \n \r \\, every other control character's bytes as \xHH (ESC
// as \x1b, the C1 control U+009B as \xc2\x9b). A row stays one line, its
// fields split at the tabs, and no byte of the file steers a terminal.
std::string TsvField(std::string_view raw);

}  // namespace velnor::host

#endif  // VELNOR_HOST_RENDER_TEXT_FORMAT_H_
