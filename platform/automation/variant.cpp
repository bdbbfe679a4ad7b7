// Variant conversions. Each converts through the held type; text is parsed
// the way automation parses it (leading and trailing blanks allowed, the
// whole text must be used).
#include "platform/automation/variant.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <limits>

#include "platform/automation/error_state.h"
#include "platform/automation/ole_date.h"
#include "platform/automation/text.h"

namespace velnor::automation {

struct VariantAccess {
  static const auto& Value(const Variant& v) { return v.value_; }
};

namespace {

template <class... F>
struct Overload : F... {
  using F::operator()...;
};
// Clang before 17 does not deduce aggregate template arguments by itself.
template <class... F>
Overload(F...) -> Overload<F...>;

double ParseNumber(const std::string& text) {
  std::string_view s = Trim(text);
  if (!s.empty() && s.front() == '+') s.remove_prefix(1);
  double d = 0;
  auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), d);
  if (s.empty() || ec == std::errc::invalid_argument ||
      end != s.data() + s.size()) {
    Raise(kErrTypeMismatch);
  }
  if (ec == std::errc::result_out_of_range) Raise(kErrOverflow);
  return d;
}

// Every value as a double; text is parsed, true is -1.
double ToDouble(const Variant& v) {
  return std::visit(
      Overload{
          [](Empty) -> double { return 0; },
          [](Null) -> double { Raise(kErrInvalidUseOfNull); },
          [](bool b) -> double { return b ? -1 : 0; },
          [](int16_t i) -> double { return i; },
          [](int32_t l) -> double { return l; },
          [](int64_t ll) -> double { return static_cast<double>(ll); },
          [](float f) -> double { return f; },
          [](double d) -> double { return d; },
          [](Date d) -> double { return d.value; },
          [](const std::string& s) -> double {
            if (Trim(s) == "True") return -1;
            if (Trim(s) == "False") return 0;
            return ParseNumber(s);
          },
          [](const ObjectRef&) -> double { Raise(kErrTypeMismatch); },
          [](const StringArray&) -> double { Raise(kErrTypeMismatch); },
      },
      VariantAccess::Value(v));
}

std::string NumberText(double d) {
  if (d == std::trunc(d) && std::fabs(d) < 1e15) {
    return std::to_string(static_cast<int64_t>(d));
  }
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%.15G", d);
  return buffer;
}

}  // namespace

int32_t UBound(const StringArray& array) {
  return static_cast<int32_t>(array.size()) - 1;
}

const std::string& ArrayItem(const StringArray& array, int64_t index) {
  if (index < 0 || index >= static_cast<int64_t>(array.size())) {
    Raise(kErrSubscriptOutOfRange);
  }
  return array[static_cast<size_t>(index)];
}

StringArray Split(std::string_view text, std::string_view delimiter) {
  StringArray parts;
  if (text.empty()) return parts;
  if (delimiter.empty()) return {std::string(text)};
  size_t start = 0;
  for (;;) {
    size_t at = text.find(delimiter, start);
    parts.emplace_back(text.substr(start, at - start));
    if (at == std::string_view::npos) break;
    start = at + delimiter.size();
  }
  return parts;
}

template <class T>
T RoundToInteger(double d) {
  if (std::isnan(d)) Raise(kErrOverflow);
  double r = std::nearbyint(d);  // the default rounding mode: half to even
  if (r < static_cast<double>(std::numeric_limits<T>::min()) ||
      r > static_cast<double>(std::numeric_limits<T>::max())) {
    Raise(kErrOverflow);
  }
  // The double nearest to INT64_MAX is 2^63, which the test above lets
  // through; it is out of range too.
  if constexpr (sizeof(T) == 8) {
    if (r >= 9223372036854775807.0) Raise(kErrOverflow);
  }
  return static_cast<T>(r);
}
template int32_t RoundToInteger<int32_t>(double);
template int64_t RoundToInteger<int64_t>(double);

int32_t CLng(const Variant& v) {
  if (auto* l = std::get_if<int32_t>(&VariantAccess::Value(v))) return *l;
  return RoundToInteger<int32_t>(ToDouble(v));
}

int64_t CLngLng(const Variant& v) {
  if (auto* ll = std::get_if<int64_t>(&VariantAccess::Value(v))) return *ll;
  return RoundToInteger<int64_t>(ToDouble(v));
}

double CDbl(const Variant& v) { return ToDouble(v); }

double CDate(const Variant& v) {
  if (const std::string* s = v.AsString()) {
    if (auto d = ParseDateText(*s)) return *d;
  }
  double d = ToDouble(v);
  if (d < kMinOleDate || d > kMaxOleDate) Raise(kErrOverflow);
  return d;
}

std::string BoolText(bool b) { return b ? "True" : "False"; }

std::string CStr(const Variant& v) {
  return std::visit(
      Overload{
          [](Empty) -> std::string { return ""; },
          [](Null) -> std::string { Raise(kErrInvalidUseOfNull); },
          [](bool b) { return BoolText(b); },
          [](int16_t i) { return std::to_string(i); },
          [](int32_t l) { return std::to_string(l); },
          [](int64_t ll) { return std::to_string(ll); },
          [](float f) {
            char buffer[32];
            std::snprintf(buffer, sizeof buffer, "%.7G", f);
            return std::string(buffer);
          },
          [](double d) { return NumberText(d); },
          [](Date d) { return DateToText(d.value); },
          [](const std::string& s) { return s; },
          [](const ObjectRef&) -> std::string { Raise(kErrTypeMismatch); },
          [](const StringArray&) -> std::string { Raise(kErrTypeMismatch); },
      },
      VariantAccess::Value(v));
}

}  // namespace velnor::automation
