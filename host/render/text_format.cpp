// Text for terminals, CSV and JSON from bytes of any kind: every function
// here writes valid UTF-8, whatever the log or the database held.
#include "host/render/text_format.h"

#include <langinfo.h>
#include <locale.h>

#include <algorithm>
#include <cstdio>
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

}  // namespace

std::string CleanUtf8(std::string_view text, bool replace_controls) {
  std::string clean;
  clean.reserve(text.size());
  while (!text.empty()) {
    char32_t code_point = 0;
    size_t length = SequenceLength(text, &code_point);
    if (length == 0) {
      clean += kReplacement;
      length = 1;
    } else if (replace_controls && IsControl(code_point)) {
      clean += kReplacement;
    } else {
      clean += text.substr(0, length);
    }
    text.remove_prefix(length);
  }
  return clean;
}

size_t CharCount(std::string_view text) {
  size_t count = 0;
  for (char c : text) count += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
  return count;
}

std::string CutText(std::string_view text, size_t max_chars,
                    std::string_view mark) {
  const size_t mark_chars = CharCount(mark);
  max_chars = std::max(max_chars, mark_chars + 1);
  std::string clean = CleanUtf8(text, true);
  if (CharCount(clean) <= max_chars) return clean;
  size_t kept = 0;
  size_t end = 0;
  for (; end < clean.size(); ++end) {
    bool starts_char = (static_cast<unsigned char>(clean[end]) & 0xC0) != 0x80;
    if (starts_char && kept++ == max_chars - mark_chars) break;
  }
  return clean.substr(0, end) + std::string(mark);
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
  std::string text = CleanUtf8(raw, false);
  if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
  std::string quoted = "\"";
  for (char c : text) {
    if (c == '"') quoted += '"';
    quoted += c;
  }
  return quoted + "\"";
}

std::string JsonString(std::string_view raw) {
  std::string text = CleanUtf8(raw, false);
  std::string quoted = "\"";
  for (char c : text) {
    switch (c) {
      case '"':
        quoted += "\\\"";
        break;
      case '\\':
        quoted += "\\\\";
        break;
      case '\n':
        quoted += "\\n";
        break;
      case '\r':
        quoted += "\\r";
        break;
      case '\t':
        quoted += "\\t";
        break;
      default:
        if (static_cast<unsigned char>(c) < 0x20) {
          char escape[8];
          std::snprintf(escape, sizeof escape, "\\u%04x",
                        static_cast<unsigned>(c));
          quoted += escape;
        } else {
          quoted += c;
        }
    }
  }
  return quoted + "\"";
}

}  // namespace velnor::host
