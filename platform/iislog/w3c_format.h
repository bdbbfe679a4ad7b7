// The pieces of the W3C extended log file format as IIS writes it: the field
// layout a #Fields directive declares, the splitting of a record line into
// its values, and the date, time and integer forms of values.
#ifndef VELNOR_PLATFORM_IISLOG_W3C_FORMAT_H_
#define VELNOR_PLATFORM_IISLOG_W3C_FORMAT_H_

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "platform/automation/ole_date.h"

namespace velnor::iislog {

// The fields the reader hands out, by meaning.
enum class Field : uint8_t {
  kDate,           // date, else date-local
  kTime,           // time, else time-local
  kClientIp,       // c-ip
  kMethod,         // cs-method
  kUriStem,        // cs-uri-stem
  kStatus,         // sc-status
  kBytesSent,      // sc-bytes
  kBytesReceived,  // cs-bytes
  kTimeTaken,      // time-taken (milliseconds), else TimeTakenMS
  kSession,        // x-session, the FTP session of newer FTP servers
  kCount
};

// The layout of the records that follow one #Fields directive.
class FieldLayout {
 public:
  // No layout yet: no line is a record.
  FieldLayout() { index_.fill(kAbsent); }

  // The layout declared by `names`, the text after "#Fields:": names
  // separated by runs of blanks or tabs, matched without regard to case.
  // Names the reader does not hand out still take their position.
  static FieldLayout Parse(std::string_view names);

  // Whether a #Fields directive has been seen.
  bool declared() const { return declared_; }
  // The number of values a record of this layout holds.
  size_t size() const { return size_; }
  // The position of `field` in a record, or -1 when the layout lacks it.
  int IndexOf(Field field) const { return index_[static_cast<size_t>(field)]; }

 private:
  static constexpr int32_t kAbsent = -1;

  bool declared_ = false;
  size_t size_ = 0;
  std::array<int32_t, static_cast<size_t>(Field::kCount)> index_;
};

// One record's values under the layout they were read by: a cheap view for
// callers that look at more fields than the reader's properties. Valid as
// long as the layout and the values it points into.
class RecordFields {
 public:
  // No record: every field absent.
  RecordFields() = default;
  RecordFields(const FieldLayout* layout,
               std::span<const std::string_view> values)
      : layout_(layout), values_(values) {}

  // Whether the record's layout declares `field` at all, whatever the
  // record holds there: a field a log does not carry is absent, not empty.
  bool Carries(Field field) const {
    return layout_ != nullptr && layout_->IndexOf(field) >= 0;
  }
  // The field's text as it stands in the line (quotes undone); nothing
  // when the layout lacks it or the record holds "-" (null) there.
  std::optional<std::string_view> Text(Field field) const {
    if (!Carries(field)) return std::nullopt;
    const std::string_view value = values_[layout_->IndexOf(field)];
    if (value == "-") return std::nullopt;
    return value;
  }

 private:
  const FieldLayout* layout_ = nullptr;
  std::span<const std::string_view> values_;
};

// Splits a record line into its values, appending views into `line` to
// `values`. Values are separated by runs of blanks or tabs; leading and
// trailing blanks separate nothing. A value that starts with a double quote
// runs to the next lone double quote, which must end the value; the quotes
// are dropped and doubled quotes inside become one (rewritten in place, so
// `line` is changed). Returns false for a line that is not well formed (an
// unterminated quoted value, or text right after a closing quote).
bool SplitValues(std::span<char> line, std::vector<std::string_view>* values);

// Splits `line` at runs of blanks or tabs alone, quotes kept as bytes of the
// values: the form of IIS's own W3C logs, which never quote a value, so that
// a value sent by a client (a user agent, a query) may start with a quote.
void SplitAtBlanks(std::string_view line,
                   std::vector<std::string_view>* values);

// "yyyy-mm-dd", a real calendar day within the automation date range.
// Sets year, month and day of `parts`.
bool ParseW3CDate(std::string_view text, automation::DateParts* parts);

// "hh:mm:ss", optionally followed by a fraction of a second (".363"), which
// is dropped. Sets hour, minute and second of `parts`.
bool ParseW3CTime(std::string_view text, automation::DateParts* parts);

// A decimal integer with an optional minus sign that fits in 64 bits.
std::optional<int64_t> ParseInteger(std::string_view text);

}  // namespace velnor::iislog

#endif  // VELNOR_PLATFORM_IISLOG_W3C_FORMAT_H_
