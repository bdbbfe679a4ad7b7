// The IIS log reader. A record line is split into views once, when it is
// read; its values are converted only when a property asks for them. The
// date and time are checked at once, because a line whose date is not a date
// is not a record.
//
// Invariant: has_record_ implies lines_ is set, values_ holds
// layout_.size() views into the line reader's buffer (valid until the next
// read), and date_time_ holds the record's date-time when it has one.
#include "platform/iislog/iis_log.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <utility>

#include "platform/automation/error_state.h"
#include "platform/automation/ole_date.h"
#include "platform/automation/text.h"
#include "platform/iislog/log_input.h"
#include "platform/interrupt/interrupt.h"

namespace velnor::iislog {
namespace {

using automation::Variant;

constexpr std::string_view kW3CFormat = "W3C Extended Log File Format";

}  // namespace

// The file's own bytes, counted for the observers before any
// decompression, so that they compare with the sizes a directory listing
// shows. The reader outlives its input.
class IISLog::CountedInput : public unc::InputFile {
 public:
  CountedInput(std::unique_ptr<unc::InputFile> file, IISLog& reader)
      : file_(std::move(file)), reader_(reader) {}

  size_t Read(char* buffer, size_t size) override {
    size_t n = file_->Read(buffer, size);
    const ReadHooks& hooks = *reader_.hooks_;
    if (hooks.counters != nullptr) {
      hooks.counters->bytes += static_cast<int64_t>(n);
    }
    reader_.AddRecordsToCounters();
    for (ReadObserver* observer : hooks.observers) observer->ChunkRead();
    return n;
  }

 private:
  std::unique_ptr<unc::InputFile> file_;
  IISLog& reader_;
};

namespace {

// The text after a directive's name ("#Fields:") when `line` is that
// directive.
std::optional<std::string_view> DirectiveText(std::string_view line,
                                              std::string_view name) {
  if (!automation::StartsWithIgnoringAsciiCase(line, name)) {
    return std::nullopt;
  }
  return line.substr(name.size());
}

// The first blank-separated word of `text`.
std::string_view FirstWord(std::string_view text) {
  size_t begin = text.find_first_not_of(" \t");
  if (begin == std::string_view::npos) return {};
  size_t end = text.find_first_of(" \t", begin);
  return text.substr(begin, end == std::string_view::npos ? end : end - begin);
}

bool IsBlankLine(std::span<const char> line) {
  for (char c : line) {
    if (c != ' ' && c != '\t') return false;
  }
  return true;
}

}  // namespace

void IISLog::OpenLogFile(std::string_view path, int32_t io_mode,
                         std::string_view /*service*/,
                         std::string_view /*instance*/,
                         std::string_view format) {
  CloseLogFiles(1);
  skipped_lines_ = 0;
  if (io_mode != 1) {
    automation::Raise(automation::kErrInvalidProcedureCall,
                      "Cannot open the log file " + std::string(path) +
                          " in I/O mode " + std::to_string(io_mode) +
                          ": this reader only reads log files. Open it with "
                          "mode 1.");
  }
  if (!automation::EqualsIgnoringAsciiCase(format, kW3CFormat)) {
    automation::Raise(automation::kErrInvalidProcedureCall,
                      "Cannot read the log file " + std::string(path) +
                          " as \"" + std::string(format) + "\": only the \"" +
                          std::string(kW3CFormat) +
                          "\" is supported. Set the site to log in that "
                          "format.");
  }
  std::unique_ptr<unc::InputFile> input;
  try {
    input = CheckGzipData(unc::OpenForReading(access_, path), path,
                          [&] { return unc::OpenForReading(access_, path); });
  } catch (const automation::AutomationError&) {
    for (ReadObserver* observer : hooks_->observers) {
      observer->FileNotOpened(path);
    }
    throw;
  }
  OpenInput(std::move(input), path);
}

void IISLog::OpenInput(std::unique_ptr<unc::InputFile> input,
                       std::string_view path) {
  CloseLogFiles(1);
  skipped_lines_ = 0;
  first_skipped_line_ = 0;
  records_ = 0;
  records_in_counters_ = 0;
  path_ = path;
  layout_ = FieldLayout();
  directive_day_.reset();
  days_past_directive_ = 0;
  block_time_before_ = -1;
  counted_.clear();
  counted_end_ = 0;
  for (ReadObserver* observer : hooks_->observers) observer->FileOpened(path_);
  // Bytes are counted as the record loop takes them, on its own thread.
  std::unique_ptr<unc::InputFile> text = DecodeLogInput(
      std::make_unique<CountedInput>(ReadInBackground(std::move(input)), *this),
      path);
  ReadPlan plan;
  if (hooks_->planner != nullptr) {
    std::string head;
    text =
        ReadAhead(std::move(text), hooks_->planner->HeadBytesFor(path_), head);
    // NUL bytes at the end of the text are no text (see LineReader::Next):
    // the lines a server writes over them later leave the log the one it
    // was.
    std::string_view start = head;
    while (!start.empty() && start.back() == '\0') start.remove_suffix(1);
    plan = hooks_->planner->PlanFor(path_, start);
  }
  lines_ = std::make_unique<LineReader>(std::move(text));
  lines_->HoldBackUnterminatedLine(plan.hold_back_unterminated_line);
  counted_ = std::move(plan.counted);
  counted_day_ = std::numeric_limits<int32_t>::min();
  counted_day_offset_ = -1;
  read_before_ = plan.reported_up_to;
  for (const CountedPart& part : counted_) {
    counted_end_ = std::max(counted_end_, part.offset);
    if (part.offset != kWholeDayCounted) {
      read_before_ = std::max(read_before_, part.offset);
    }
  }
}

void IISLog::ReadLogRecord() {
  has_record_ = false;
  if (!lines_) return;
  // A failure closes the file, so that a loop over AtEndOfLog ends instead
  // of calling a broken reader forever. Caught rather than noticed by a
  // guard's destructor, which would ask for the uncaught exceptions on every
  // record.
  try {
    ReadNextRecord();
  } catch (...) {
    CloseAfterFailure();
    throw;
  }
}

void IISLog::ReadNextRecord() {
  std::span<char> line;
  while (!interrupt::Interrupted()) {
    switch (lines_->Next(&line)) {
      case LineReader::Status::kEnd:
        reached_end_ = true;
        return;
      case LineReader::Status::kTooLong:
        CountSkipped();
        break;
      case LineReader::Status::kLine:
        if (!TakeLine(line)) break;
        // One test per record, and only while a plan is pending.
        if (!counted_.empty() && CountedBefore()) break;
        has_record_ = true;
        ++records_;
        return;
    }
  }
}

bool IISLog::CountedBefore() {
  const int64_t line_end = lines_->Offset();
  // Lines come in order: past the last counted offset, the plan is done.
  if (line_end > counted_end_) {
    counted_.clear();
    return false;
  }
  if (!date_time_) return false;
  const auto day = static_cast<int32_t>(automation::DatePart(*date_time_));
  // Records come in runs of one day: the day's part is looked up when the
  // day changes.
  if (day != counted_day_) {
    counted_day_ = day;
    counted_day_offset_ = -1;
    for (const CountedPart& part : counted_) {
      if (part.day == day) counted_day_offset_ = part.offset;
    }
  }
  return line_end <= counted_day_offset_;
}

void IISLog::CloseLogFiles(int32_t /*io_mode*/) {
  const bool was_open = lines_ != nullptr;
  const int64_t text_offset = was_open ? lines_->Offset() : 0;
  const bool held_back = was_open && lines_->HeldBack();
  AddRecordsToCounters();
  lines_.reset();
  counted_.clear();
  has_record_ = false;
  values_.clear();
  date_time_.reset();
  if (was_open) {
    const FileReadReport report{
        path_,       records_,  skipped_lines_, first_skipped_line_,
        text_offset, held_back, read_failed_,   reached_end_};
    for (ReadObserver* observer : hooks_->observers) {
      observer->FileClosed(report);
    }
  }
  read_failed_ = false;
  reached_end_ = false;
}

void IISLog::AddRecordsToCounters() {
  if (hooks_->counters != nullptr) {
    hooks_->counters->records += records_ - records_in_counters_;
  }
  records_in_counters_ = records_;
}

void IISLog::CloseAfterFailure() {
  read_failed_ = lines_ != nullptr;
  CloseLogFiles(1);
}

void IISLog::CountSkipped() {
  // A line an earlier run read past is in the error log already; a run
  // that reads on in a growing log would otherwise tell it again each time.
  if (lines_->Offset() <= read_before_) return;
  if (skipped_lines_++ == 0) first_skipped_line_ = lines_->LineNumber();
}

bool IISLog::TakeLine(std::span<char> line) {
  if (IsBlankLine(line)) return false;
  if (line.front() == '#') {
    const std::string_view text(line.data(), line.size());
    // A CR inside a directive is the line end of a file that ends its lines
    // in CR alone: what follows it (further directives, records) is no part
    // of this one, so the line is garbled rather than a directive to pass
    // over without a word.
    if (text.find('\r') != std::string_view::npos) {
      CountSkipped();
      return false;
    }
    TakeDirective(text);
    return false;
  }
  if (TakeRecord(line)) return true;
  CountSkipped();
  return false;
}

void IISLog::TakeDirective(std::string_view line) {
  if (auto names = DirectiveText(line, "#Fields:")) {
    layout_ = FieldLayout::Parse(*names);
    return;
  }
  auto date = DirectiveText(line, "#Date:");
  if (!date) date = DirectiveText(line, "#Start-Date:");
  if (!date) return;  // the other directives do not change how records read
  // A directive whose date is unreadable leaves its block without a day
  // rather than with the day of an older block.
  automation::DateParts day;
  if (ParseW3CDate(FirstWord(*date), &day)) {
    directive_day_ = day;
  } else {
    directive_day_.reset();
  }
  days_past_directive_ = 0;
  block_time_before_ = -1;
}

// The Advanced Logging module quotes values that hold blanks; IIS's own
// logger never quotes, and writes what a client sent as it came, so a user
// agent or query of its log may start with a quote that ends nothing
// ("sqlmap"+1.0, a lone "). Such a line is a record when its values split
// at blanks alone fill the layout, rather than a hit lost as a garbled
// line.
bool IISLog::SplitRecord(std::span<char> line) {
  values_.clear();
  if (std::memchr(line.data(), '"', line.size()) == nullptr) {
    return SplitValues(line, &values_) && values_.size() == layout_.size();
  }
  unquoted_line_.assign(line.data(), line.size());
  if (SplitValues(line, &values_) && values_.size() == layout_.size()) {
    return true;
  }
  std::memcpy(line.data(), unquoted_line_.data(), line.size());
  values_.clear();
  SplitAtBlanks(std::string_view(line.data(), line.size()), &values_);
  return values_.size() == layout_.size();
}

bool IISLog::TakeRecord(std::span<char> line) {
  date_time_.reset();
  if (!layout_.declared() || !SplitRecord(line)) return false;
  // The day: the record's own date, else the directive's for a time-only
  // layout. "-" is a null date or time, which leaves the record undated.
  automation::DateParts parts;
  bool dated = false;
  bool own_date = false;
  bool null_part = false;
  if (int i = layout_.IndexOf(Field::kDate); i >= 0) {
    if (values_[i] == "-") {
      null_part = true;
    } else if (!ParseDay(values_[i], &parts)) {
      return false;
    }
    dated = true;
    own_date = true;
  } else if (layout_.IndexOf(Field::kTime) >= 0 && directive_day_) {
    parts = *directive_day_;
    dated = true;
  }
  const bool block_day = dated && !own_date;
  if (int i = layout_.IndexOf(Field::kTime); i >= 0) {
    if (values_[i] == "-") {
      null_part = true;
    } else if (!ParseW3CTime(values_[i], &parts)) {
      return false;
    }
  }
  if (dated && !null_part) {
    // Both parts were checked as they were parsed.
    date_time_ = block_day
                     ? TimeInDateBlock(&parts)
                     : automation::DateAtTime(last_day_.ole_days, parts.hour,
                                              parts.minute, parts.second);
    if (!date_time_) return false;
    parts_ = parts;
  }
  return true;
}

// A log without dates is dated by its block's directive, which IIS writes
// when it starts the file or the service: a file kept for longer than a
// day (weekly, monthly or by size) goes on past midnight under the same
// directive, its times starting again from 00:00. A time more than an hour
// before the block's record before it is such a new day; records a little
// out of order, as a busy server writes them, are no such turn back.
std::optional<double> IISLog::TimeInDateBlock(automation::DateParts* parts) {
  const int32_t seconds =
      parts->hour * 3600 + parts->minute * 60 + parts->second;
  // Past the limit the count stops: every later record of the block is
  // refused as well, until a directive starts a new one.
  if (block_time_before_ - seconds > kTimeBackForNewDay &&
      days_past_directive_ <= kMaxDaysPastDirective) {
    ++days_past_directive_;
  }
  block_time_before_ = seconds;
  if (days_past_directive_ > kMaxDaysPastDirective) return std::nullopt;
  if (days_past_directive_ == 0) return automation::DateFromParts(*parts);
  const int64_t day =
      automation::OleDays(parts->year, parts->month, parts->day) +
      days_past_directive_;
  const automation::DateParts date =
      automation::PartsOf(static_cast<double>(day));
  parts->year = date.year;
  parts->month = date.month;
  parts->day = date.day;
  return automation::DateAtTime(day, parts->hour, parts->minute, parts->second);
}

bool IISLog::ParseDay(std::string_view text, automation::DateParts* parts) {
  const std::string_view last(last_day_.text.data(), last_day_.text.size());
  if (!last_day_.valid || text != last) {
    last_day_.valid = false;
    if (text.size() != last_day_.text.size() ||
        !ParseW3CDate(text, &last_day_.parts)) {
      return false;
    }
    std::copy(text.begin(), text.end(), last_day_.text.begin());
    last_day_.ole_days = automation::OleDays(
        last_day_.parts.year, last_day_.parts.month, last_day_.parts.day);
    last_day_.valid = true;
  }
  parts->year = last_day_.parts.year;
  parts->month = last_day_.parts.month;
  parts->day = last_day_.parts.day;
  return true;
}

std::optional<std::string_view> IISLog::Value(Field field) const {
  return Fields().Text(field);
}

Variant IISLog::Text(Field field) const {
  auto value = Value(field);
  if (!value) return automation::Null{};
  return Variant(*value);
}

Variant IISLog::Number(Field field) const {
  auto value = Value(field);
  if (!value) return automation::Null{};
  std::optional<int64_t> number = ParseInteger(*value);
  if (!number) return Variant(*value);
  if (*number >= std::numeric_limits<int32_t>::min() &&
      *number <= std::numeric_limits<int32_t>::max()) {
    return Variant(static_cast<int32_t>(*number));
  }
  return Variant(*number);
}

Variant IISLog::DateTime() const {
  if (!has_record_ || !date_time_) return automation::Null{};
  return automation::Date{*date_time_};
}

Variant IISLog::ClientIp() const { return Text(Field::kClientIp); }
Variant IISLog::Method() const { return Text(Field::kMethod); }
Variant IISLog::URIStem() const { return Text(Field::kUriStem); }
Variant IISLog::ProtocolStatus() const { return Number(Field::kStatus); }

void RegisterClasses() {
  automation::RegisterClass("MSWC.IISLog",
                            [] { return std::make_shared<IISLog>(); });
}

}  // namespace velnor::iislog
