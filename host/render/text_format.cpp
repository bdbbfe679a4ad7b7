// Text for terminals, CSV and TSV from bytes of any kind: every function
// here writes valid UTF-8, whatever the log or the database held.
#include "host/render/text_format.h"

#include <fmt/format.h>
#include <langinfo.h>
#include <locale.h>
#include <utf8proc.h>

#include <algorithm>
#include <cstdlib>

#include "platform/automation/text.h"

namespace velnor::host {
namespace {

constexpr std::string_view kReplacement = "\xEF\xBF\xBD";  // U+FFFD

// Length of the well-formed UTF-8 sequence at the start of `text`, or 0.
size_t SequenceLength(std::string_view text, char32_t* code_point) {
  auto byte = [&](size_t i) { return static_cast<unsigned char>(text[i]); };
  unsigned char lead = byte(0);
  size_t length;
  char32_t value;
  char32_t minimum;
  if (lead < 0x80) {
    *code_point = lead;
    return 1;
  } else if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2, value = lead & 0x1F, minimum = 0x80;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3, value = lead & 0x0F, minimum = 0x800;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4, value = lead & 0x07, minimum = 0x10000;
  } else {
    return 0;
  }
  if (text.size() < length) return 0;
  for (size_t i = 1; i < length; ++i) {
    if ((byte(i) & 0xC0) != 0x80) return 0;
    value = (value << 6) | (byte(i) & 0x3F);
  }
  if (value < minimum || value > 0x10FFFF ||
      (value >= 0xD800 && value <= 0xDFFF)) {
    return 0;
  }
  *code_point = value;
  return length;
}

bool IsControl(char32_t c) { return c < 0x20 || (c >= 0x7F && c <= 0x9F); }

// The controls a terminal acts on when it is shown the text (ESC starts the
// sequences that move the cursor, recolour, retitle the window or answer
// back; the C1 CSI does the same alone), as opposed to the tab and the line
// ends, which only lay it out.
bool SteersTerminal(char32_t c) {
  return IsControl(c) && c != '\t' && c != '\n' && c != '\r';
}

// `text` as valid UTF-8, each broken byte, NUL, and each code point
// `replaced` picks becoming U+FFFD.
template <typename Replaced>
std::string Clean(std::string_view text, Replaced replaced) {
  std::string clean;
  clean.reserve(text.size());
  while (!text.empty()) {
    char32_t code_point = 0;
    size_t length = SequenceLength(text, &code_point);
    if (length == 0) {
      clean += kReplacement;
      length = 1;
    } else if (code_point == 0 || replaced(code_point)) {
      clean += kReplacement;
    } else {
      clean += text.substr(0, length);
    }
    text.remove_prefix(length);
  }
  return clean;
}

}  // namespace

std::string CleanUtf8(std::string_view text, bool replace_controls) {
  return Clean(text,
               [&](char32_t c) { return replace_controls && IsControl(c); });
}

size_t CharCount(std::string_view text) {
  size_t count = 0;
  for (char c : text) count += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
  return count;
}

namespace {

// A user-perceived character of valid UTF-8 text (a letter with its
// combining marks, an emoji sequence) and the terminal columns it takes.
struct Cluster {
  size_t bytes = 0;
  size_t columns = 0;
};

// The cluster at the start of `text`, which is valid UTF-8 and not empty.
Cluster NextCluster(std::string_view text) {
  const auto* bytes = reinterpret_cast<const utf8proc_uint8_t*>(text.data());
  const auto size = static_cast<utf8proc_ssize_t>(text.size());
  utf8proc_int32_t state = 0;
  utf8proc_int32_t first = 0;
  utf8proc_ssize_t at = utf8proc_iterate(bytes, size, &first);
  Cluster cluster{static_cast<size_t>(at), 0};
  int columns = utf8proc_charwidth(first);
  utf8proc_int32_t previous = first;
  while (at < size) {
    utf8proc_int32_t next = 0;
    const utf8proc_ssize_t length =
        utf8proc_iterate(bytes + at, size - at, &next);
    if (utf8proc_grapheme_break_stateful(previous, next, &state)) break;
    // A mark on a zero-width start (a lone combining mark) still shows.
    columns = std::max(columns, utf8proc_charwidth(next));
    previous = next;
    at += length;
    cluster.bytes = static_cast<size_t>(at);
  }
  cluster.columns = static_cast<size_t>(std::max(columns, 0));
  return cluster;
}

}  // namespace

size_t DisplayWidth(std::string_view text) {
  const std::string clean = CleanUtf8(text, true);
  std::string_view rest = clean;
  size_t columns = 0;
  while (!rest.empty()) {
    const Cluster cluster = NextCluster(rest);
    columns += cluster.columns;
    rest.remove_prefix(cluster.bytes);
  }
  return columns;
}

std::string CutText(std::string_view text, size_t max_columns,
                    std::string_view mark) {
  const size_t mark_columns = DisplayWidth(mark);
  max_columns = std::max(max_columns, mark_columns + 1);
  std::string clean = CleanUtf8(text, true);
  if (DisplayWidth(clean) <= max_columns) return clean;
  std::string_view rest = clean;
  size_t columns = 0;
  size_t end = 0;
  while (!rest.empty()) {
    const Cluster cluster = NextCluster(rest);
    if (columns + cluster.columns > max_columns - mark_columns) break;
    columns += cluster.columns;
    end += cluster.bytes;
    rest.remove_prefix(cluster.bytes);
  }
  return clean.substr(0, end) + std::string(mark);
}

std::vector<std::string> WrapText(std::string_view text, size_t max_columns) {
  max_columns = std::max<size_t>(max_columns, 1);
  const std::string clean = CleanUtf8(text, true);
  std::vector<std::string> lines(1);
  size_t columns = 0;
  std::string_view rest = clean;
  while (!rest.empty()) {
    const size_t blank = rest.find(' ');
    const std::string_view word = rest.substr(0, blank);
    rest.remove_prefix(std::min(word.size() + 1, rest.size()));
    std::string_view left = word;
    while (!left.empty()) {
      const size_t space = columns == 0 ? 0 : 1;
      const size_t width = DisplayWidth(left);
      if (columns + space + width <= max_columns) {
        lines.back() += std::string(space, ' ') + std::string(left);
        columns += space + width;
        break;
      }
      if (columns > 0 && width <= max_columns) {
        lines.emplace_back();
        columns = 0;
        continue;
      }
      // A word wider than a line is cut between its characters.
      if (columns > 0) lines.emplace_back();
      size_t taken = 0;
      columns = 0;
      while (taken < left.size()) {
        const Cluster cluster = NextCluster(left.substr(taken));
        if (columns + cluster.columns > max_columns && taken > 0) break;
        columns += cluster.columns;
        taken += cluster.bytes;
      }
      lines.back() += left.substr(0, taken);
      left.remove_prefix(taken);
      if (!left.empty()) {
        lines.emplace_back();
        columns = 0;
      }
    }
  }
  return lines;
}

std::string PadToWidth(std::string_view text, size_t columns) {
  std::string padded(text);
  const size_t width = DisplayWidth(text);
  if (width < columns) padded.append(columns - width, ' ');
  return padded;
}

void AppendListItem(std::string& list, std::string_view separator,
                    std::string_view item) {
  if (!list.empty()) list += separator;
  list += item;
}

bool LocaleIsUtf8() {
  const char* name = nullptr;
  for (const char* variable : {"LC_ALL", "LC_CTYPE", "LANG"}) {
    name = std::getenv(variable);
    if (name != nullptr && *name != '\0') break;
  }
  if (name == nullptr || *name == '\0') return false;  // the C locale
  locale_t locale = newlocale(LC_CTYPE_MASK, name, nullptr);
  if (locale == nullptr) {
    const std::string lower = automation::AsciiLowered(name);
    return lower.find("utf-8") != std::string::npos ||
           lower.find("utf8") != std::string::npos;
  }
  std::string_view codeset = nl_langinfo_l(CODESET, locale);
  bool utf8 = codeset == "UTF-8";
  freelocale(locale);
  return utf8;
}

std::string CsvField(std::string_view raw) {
  std::string text = Clean(raw, SteersTerminal);
  for (size_t cr = text.find('\r'); cr != std::string::npos;
       cr = text.find('\r', cr + 1)) {
    if (cr + 1 == text.size() || text[cr + 1] != '\n') {
      text.replace(cr, 1, kReplacement);
    }
  }
  if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
  std::string quoted = "\"";
  for (char c : text) {
    if (c == '"') quoted += '"';
    quoted += c;
  }
  return quoted + "\"";
}

std::string TsvField(std::string_view raw) {
  std::string text = CleanUtf8(raw, false);
  std::string field;
  field.reserve(text.size());
  for (std::string_view rest = text; !rest.empty();) {
    char32_t code_point = 0;
    const size_t length = SequenceLength(rest, &code_point);
    if (code_point == '\t') {
      field += "\\t";
    } else if (code_point == '\n') {
      field += "\\n";
    } else if (code_point == '\r') {
      field += "\\r";
    } else if (code_point == '\\') {
      field += "\\\\";
    } else if (IsControl(code_point)) {
      for (char byte : rest.substr(0, length)) {
        field += fmt::format("\\x{:02x}", static_cast<unsigned char>(byte));
      }
    } else {
      field += rest.substr(0, length);
    }
    rest.remove_prefix(length);
  }
  return field;
}

}  // namespace velnor::host
