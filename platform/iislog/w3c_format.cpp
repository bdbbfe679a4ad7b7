// W3C extended log format pieces. Everything here runs once per record line
// or less, so it works on views and never allocates per value.
#include "platform/iislog/w3c_format.h"

#include <bit>
#include <charconv>
#include <cstring>
#include <string>

#include "platform/automation/text.h"

namespace velnor::iislog {
namespace {

struct NamedField {
  std::string_view name;
  Field field;
};

// Preferred names first: a fallback name (date-local) only fills a
// field the layout does not carry under its preferred name.
constexpr NamedField kPreferredNames[] = {
    {"date", Field::kDate},
    {"time", Field::kTime},
    {"c-ip", Field::kClientIp},
    {"cs-method", Field::kMethod},
    {"cs-uri-stem", Field::kUriStem},
    {"sc-status", Field::kStatus},
    {"sc-bytes", Field::kBytesSent},
    {"cs-bytes", Field::kBytesReceived},
    {"time-taken", Field::kTimeTaken},
    {"x-session", Field::kSession},
};
// The Advanced Logging module names the time taken TimeTakenMS.
constexpr NamedField kFallbackNames[] = {
    {"date-local", Field::kDate},
    {"time-local", Field::kTime},
    {"TimeTakenMS", Field::kTimeTaken},
};

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// The bytes of `word` that are blanks, each marked by its high bit: the
// has-zero-byte test on the word xor-ed with each blank. A borrow can mark
// a byte above a true blank too, never one below the lowest, so only the
// lowest mark is to be trusted.
uint64_t BlankMarks(uint64_t word) {
  constexpr uint64_t kOnes = 0x0101010101010101;
  constexpr uint64_t kHighs = 0x8080808080808080;
  const auto zero_bytes = [](uint64_t x) { return (x - kOnes) & ~x & kHighs; };
  return zero_bytes(word ^ (kOnes * ' ')) | zero_bytes(word ^ (kOnes * '\t'));
}

// The position of the first blank at or after `pos`, or the line's size.
// Values are most of a line's bytes, so they are scanned eight at a time.
size_t ValueEnd(std::span<const char> line, size_t pos) {
  if constexpr (std::endian::native == std::endian::little) {
    while (pos + sizeof(uint64_t) <= line.size()) {
      uint64_t word = 0;
      std::memcpy(&word, line.data() + pos, sizeof word);
      if (const uint64_t marks = BlankMarks(word); marks != 0) {
        return pos + static_cast<size_t>(std::countr_zero(marks)) / 8;
      }
      pos += sizeof word;
    }
  }
  while (pos < line.size() && !IsBlank(line[pos])) ++pos;
  return pos;
}

template <size_t N>
const NamedField* Find(const NamedField (&table)[N], std::string_view name) {
  for (const NamedField& entry : table) {
    if (automation::EqualsIgnoringAsciiCase(name, entry.name)) return &entry;
  }
  return nullptr;
}

// Reads exactly `digits` decimal digits at `pos`.
bool FixedDigits(std::string_view text, size_t pos, size_t digits, int* out) {
  int value = 0;
  for (size_t i = pos; i < pos + digits; ++i) {
    if (text[i] < '0' || text[i] > '9') return false;
    value = value * 10 + (text[i] - '0');
  }
  *out = value;
  return true;
}

int DaysInMonth(int year, int month) {
  static constexpr int kDays[] = {31, 28, 31, 30, 31, 30,
                                  31, 31, 30, 31, 30, 31};
  bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  return month == 2 && leap ? 29 : kDays[month - 1];
}

// Splits off one quoted value starting at line[*pos] == '"'. The value is
// unescaped in place, starting at the opening quote's position.
bool TakeQuoted(std::span<char> line, size_t* pos, std::string_view* value) {
  size_t out = *pos;
  size_t in = *pos + 1;
  for (;;) {
    if (in == line.size()) return false;
    if (line[in] == '"') {
      if (in + 1 < line.size() && line[in + 1] == '"') {
        line[out++] = '"';
        in += 2;
        continue;
      }
      ++in;
      break;
    }
    line[out++] = line[in++];
  }
  if (in < line.size() && !IsBlank(line[in])) return false;
  *value = std::string_view(line.data() + *pos, out - *pos);
  *pos = in;
  return true;
}

}  // namespace

FieldLayout FieldLayout::Parse(std::string_view names) {
  FieldLayout layout;
  layout.declared_ = true;
  std::vector<std::pair<std::string_view, int32_t>> fallbacks;
  size_t pos = 0;
  while (pos < names.size()) {
    if (IsBlank(names[pos])) {
      ++pos;
      continue;
    }
    size_t end = pos;
    while (end < names.size() && !IsBlank(names[end])) ++end;
    std::string_view name = names.substr(pos, end - pos);
    auto index = static_cast<int32_t>(layout.size_);
    if (const NamedField* named = Find(kPreferredNames, name);
        named != nullptr &&
        layout.index_[static_cast<size_t>(named->field)] == kAbsent) {
      layout.index_[static_cast<size_t>(named->field)] = index;
    } else if (Find(kFallbackNames, name) != nullptr) {
      fallbacks.emplace_back(name, index);
    }
    ++layout.size_;
    pos = end;
  }
  for (const auto& [name, index] : fallbacks) {
    auto& slot =
        layout.index_[static_cast<size_t>(Find(kFallbackNames, name)->field)];
    if (slot == kAbsent) slot = index;
  }
  return layout;
}

bool SplitValues(std::span<char> line, std::vector<std::string_view>* values) {
  size_t pos = 0;
  while (pos < line.size()) {
    if (IsBlank(line[pos])) {
      ++pos;
      continue;
    }
    if (line[pos] == '"') {
      std::string_view value;
      if (!TakeQuoted(line, &pos, &value)) return false;
      values->push_back(value);
      continue;
    }
    const size_t end = ValueEnd(line, pos);
    values->emplace_back(line.data() + pos, end - pos);
    pos = end;
  }
  return true;
}

bool ParseW3CDate(std::string_view text, automation::DateParts* parts) {
  int year = 0, month = 0, day = 0;
  if (text.size() != 10 || text[4] != '-' || text[7] != '-' ||
      !FixedDigits(text, 0, 4, &year) || !FixedDigits(text, 5, 2, &month) ||
      !FixedDigits(text, 8, 2, &day)) {
    return false;
  }
  if (year < 100 || month < 1 || month > 12 || day < 1 ||
      day > DaysInMonth(year, month)) {
    return false;
  }
  parts->year = year;
  parts->month = month;
  parts->day = day;
  return true;
}

// A fraction of a second is dropped rather than rounded: rounding
// 23:59:59.6 up would move the record into the next day.
bool ParseW3CTime(std::string_view text, automation::DateParts* parts) {
  int hour = 0, minute = 0, second = 0;
  if (text.size() < 8 || text[2] != ':' || text[5] != ':' ||
      !FixedDigits(text, 0, 2, &hour) || !FixedDigits(text, 3, 2, &minute) ||
      !FixedDigits(text, 6, 2, &second)) {
    return false;
  }
  if (text.size() > 8) {
    if (text[8] != '.' || text.size() == 9) return false;
    for (char c : text.substr(9)) {
      if (c < '0' || c > '9') return false;
    }
  }
  if (hour > 23 || minute > 59 || second > 59) return false;
  parts->hour = hour;
  parts->minute = minute;
  parts->second = second;
  return true;
}

std::optional<int64_t> ParseInteger(std::string_view text) {
  int64_t value = 0;
  const char* end = text.data() + text.size();
  auto [ptr, ec] = std::from_chars(text.data(), end, value);
  if (ec != std::errc() || ptr != end || text.empty()) return std::nullopt;
  return value;
}

}  // namespace velnor::iislog
