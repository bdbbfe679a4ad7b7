// Stands in for the automation VARIANT the component's procedures pass
// around, with the conversions they call (CLng, CLngLng, CDbl, CDate, CStr)
// and Split. A tagged value that holds nothing (empty), the null value, a
// Boolean (true is -1), 16-, 32- and 64-bit integers, single and double
// floats, a date, text, an object reference or a string array. Conversions fail
// like automation conversions: type mismatch (13), overflow (6) and invalid
// use of null (94), raised as AutomationError.
//
// Text is a byte string (UTF-8 or whatever the source held), not UTF-16.
#ifndef VELNOR_PLATFORM_AUTOMATION_VARIANT_H_
#define VELNOR_PLATFORM_AUTOMATION_VARIANT_H_

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace velnor::automation {

class Object;
using ObjectRef = std::shared_ptr<Object>;

// A one-dimensional array of strings with lower bound 0; an empty array has
// upper bound -1.
using StringArray = std::vector<std::string>;
int32_t UBound(const StringArray& array);
// Element `index`; raises subscript out of range (9) outside 0..UBound.
const std::string& ArrayItem(const StringArray& array, int64_t index);
// Splits at every occurrence of `delimiter`; the empty text gives the empty
// array.
StringArray Split(std::string_view text, std::string_view delimiter);

struct Null {
  bool operator==(const Null&) const = default;
};
struct Empty {
  bool operator==(const Empty&) const = default;
};
// An OLE Automation date (see ole_date.h), tagged so it stays a date.
struct Date {
  double value = 0;
  bool operator==(const Date&) const = default;
};

enum class VarType {
  kEmpty,
  kNull,
  kBoolean,
  kInteger,   // 16-bit
  kLong,      // 32-bit
  kLongLong,  // 64-bit
  kSingle,
  kDouble,
  kDate,
  kString,
  kObject,
  kStringArray,
};

class Variant {
 public:
  Variant() = default;
  Variant(Empty) {}
  Variant(Null) : value_(Null{}) {}
  Variant(bool b) : value_(b) {}
  Variant(int16_t i) : value_(i) {}
  Variant(int32_t l) : value_(l) {}
  Variant(int64_t ll) : value_(ll) {}
  Variant(float f) : value_(f) {}
  Variant(double d) : value_(d) {}
  Variant(Date d) : value_(d) {}
  Variant(std::string s) : value_(std::move(s)) {}
  Variant(std::string_view s) : value_(std::string(s)) {}
  Variant(const char* s) : value_(std::string(s)) {}
  Variant(ObjectRef o) : value_(std::move(o)) {}
  Variant(StringArray a) : value_(std::move(a)) {}

  VarType Type() const { return static_cast<VarType>(value_.index()); }
  bool IsNull() const { return Type() == VarType::kNull; }

  // Typed access without conversion; nullptr when the variant holds
  // another type.
  const std::string* AsString() const {
    return std::get_if<std::string>(&value_);
  }
  // Writable, so that a held text can be overwritten without reallocating.
  std::string* AsString() { return std::get_if<std::string>(&value_); }
  const StringArray* AsStringArray() const {
    return std::get_if<StringArray>(&value_);
  }

  friend bool operator==(const Variant&, const Variant&) = default;

 private:
  friend struct VariantAccess;
  std::variant<Empty, Null, bool, int16_t, int32_t, int64_t, float, double,
               Date, std::string, ObjectRef, StringArray>
      value_;
};

// Conversions with automation semantics. Numbers convert to integers by
// rounding half to even; text converts when it reads as a number (or, for
// CDate, as a date). Null raises 94 (except CStr of nothing else); empty is
// 0, "" or false.
int32_t CLng(const Variant& v);
int64_t CLngLng(const Variant& v);
double CDbl(const Variant& v);
double CDate(const Variant& v);
std::string CStr(const Variant& v);
// CStr of a Boolean: "True" / "False".
std::string BoolText(bool b);

// Rounds half to even and checks the range of T; raises overflow (6).
template <class T>
T RoundToInteger(double d);

}  // namespace velnor::automation

#endif  // VELNOR_PLATFORM_AUTOMATION_VARIANT_H_
