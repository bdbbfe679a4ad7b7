// W3C extended log format pieces. Everything here runs once per record line
// or less, so it works on views and never allocates per value.
#include "platform/iislog/w3c_format.h"

#include <bit>
#include <charconv>
#include <cstring>
#include <string>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

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

constexpr size_t kWindow = 64;  // the bytes one mask of blanks covers

// Bit i set: bytes[i] is a blank, for kWindow bytes.
uint64_t WindowMarks(const char* bytes) {
  uint64_t marks = 0;
#if defined(__SSE2__)
  const __m128i space = _mm_set1_epi8(' ');
  const __m128i tab = _mm_set1_epi8('\t');
  for (size_t i = 0; i < kWindow; i += 16) {
    const __m128i chunk =
        _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + i));
    const __m128i blank =
        _mm_or_si128(_mm_cmpeq_epi8(chunk, space), _mm_cmpeq_epi8(chunk, tab));
    marks |=
        static_cast<uint64_t>(static_cast<uint16_t>(_mm_movemask_epi8(blank)))
        << i;
  }
#else
  for (size_t i = 0; i < kWindow; ++i) {
    marks |= static_cast<uint64_t>(IsBlank(bytes[i])) << i;
  }
#endif
  return marks;
}

// The blanks of the window of `line` at `base`, without reading past the
// line: bytes past its end count as blanks, which ends its last value there.
uint64_t BlankMarks(std::span<const char> line, size_t base) {
  const size_t left = line.size() - base;
  if (left >= kWindow) return WindowMarks(line.data() + base);
  const uint64_t past_end = ~uint64_t{0} << left;
  if (line.size() >= kWindow) {
    // The window that ends with the line, moved down to `base`.
    return WindowMarks(line.data() + line.size() - kWindow) >>
               (kWindow - left) |
           past_end;
  }
  std::array<char, kWindow> padded;
  std::memcpy(padded.data(), line.data() + base, left);
  return WindowMarks(padded.data()) | past_end;
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
  std::vector<std::string_view> split;
  SplitAtBlanks(names, &split);
  for (std::string_view name : split) {
    auto index = static_cast<int32_t>(layout.size_);
    if (const NamedField* named = Find(kPreferredNames, name);
        named != nullptr &&
        layout.index_[static_cast<size_t>(named->field)] == kAbsent) {
      layout.index_[static_cast<size_t>(named->field)] = index;
    } else if (Find(kFallbackNames, name) != nullptr) {
      fallbacks.emplace_back(name, index);
    }
    ++layout.size_;
  }
  for (const auto& [name, index] : fallbacks) {
    auto& slot =
        layout.index_[static_cast<size_t>(Find(kFallbackNames, name)->field)];
    if (slot == kAbsent) slot = index;
  }
  return layout;
}

// One pass over the line's masks: a value starts where a blank is followed
// by something else and ends where the reverse happens, so each value costs
// two bit scans. A quoted value is read on its own, and the pass goes on
// after it, past the bytes its unquoting rewrote.
bool SplitValues(std::span<char> line, std::vector<std::string_view>* values) {
  size_t base = 0;
  uint64_t before_blank = 1;  // the byte before `base` is a blank, or none
  size_t start = 0;           // of the value being read, while in_value
  bool in_value = false;
  while (base < line.size()) {
    const uint64_t blanks = BlankMarks(line, base);
    const uint64_t after_blank = blanks << 1 | before_blank;
    uint64_t starts = ~blanks & after_blank;
    uint64_t ends = blanks & ~after_blank;
    size_t next = base + kWindow;
    before_blank = blanks >> (kWindow - 1);
    for (;;) {
      if (in_value) {
        if (ends == 0) break;
        const size_t end = base + static_cast<size_t>(std::countr_zero(ends));
        ends &= ends - 1;
        values->emplace_back(line.data() + start, end - start);
        in_value = false;
        continue;
      }
      if (starts == 0) break;
      start = base + static_cast<size_t>(std::countr_zero(starts));
      starts &= starts - 1;
      if (line[start] != '"') {
        in_value = true;
        continue;
      }
      std::string_view value;
      if (!TakeQuoted(line, &start, &value)) return false;
      values->push_back(value);
      // TakeQuoted stopped at a blank or at the end.
      next = start;
      before_blank = 1;
      break;
    }
    base = next;
  }
  // A value that fills the last window to the line's end has no blank
  // after it.
  if (in_value) values->emplace_back(line.data() + start, line.size() - start);
  return true;
}

void SplitAtBlanks(std::string_view line,
                   std::vector<std::string_view>* values) {
  size_t pos = 0;
  while (pos < line.size()) {
    if (IsBlank(line[pos])) {
      ++pos;
      continue;
    }
    size_t end = pos;
    while (end < line.size() && !IsBlank(line[end])) ++end;
    values->push_back(line.substr(pos, end - pos));
    pos = end;
  }
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
