// The IIS log reader, registered as "MSWC.IISLog": stands in for the IIS
// logging utility object, reading the W3C extended log files of IIS web and
// FTP sites record by record and handing out fields of the current record as
// automation values. The collector uses OpenLogFile, ReadLogRecord,
// AtEndOfLog, CloseLogFiles and five fields (DateTime, ClientIp, Method,
// URIStem, ProtocolStatus); the fuzzer feeds OpenInput.
//
// What it reads: the directives #Software, #Version, #Date, #Fields,
// #Remark, #Start-Date and #End-Date, where #Fields may change anywhere in a
// file and the records follow the latest one; values separated by runs of
// blanks, "-" for a null value, quoted values with doubled inner quotes; LF,
// CR LF or CR CR LF line ends, a UTF-8 byte-order mark, blank lines, a last
// line without a line end, bytes that are not UTF-8 (kept as they are),
// the NUL bytes a server that stopped unexpectedly leaves at the end of
// its log (no text); gzip-compressed files. A line that does not fit the latest
// #Fields (wrong number of values, a date or time that is not one, no #Fields
// yet, a broken quoted value, a line over LineReader::kMaxLineBytes) is not a
// record, nor is a directive holding a CR (lines that end in CR alone): it is
// skipped and counted, and reading goes on. Memory stays flat: the file streams
// through one buffer.
//
// An interrupt (platform/interrupt) ends the reading of the open file as
// its end would, at the next line: whoever caught it is stopping the work,
// and a file of nothing but blank lines must not keep it waiting.
//
// Each reader reports to the observers of its hooks (read_hooks.h) and
// reads a file as their planner asks (read_plan.h): records an earlier run
// counted are passed over as if they were not there.
#ifndef VELNOR_PLATFORM_IISLOG_IIS_LOG_H_
#define VELNOR_PLATFORM_IISLOG_IIS_LOG_H_

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/automation/object.h"
#include "platform/automation/variant.h"
#include "platform/iislog/line_reader.h"
#include "platform/iislog/read_hooks.h"
#include "platform/iislog/w3c_format.h"
#include "platform/unc/unc.h"

namespace velnor::iislog {

class IISLog : public automation::Object {
 public:
  IISLog() = default;

  // The hooks of the files opened from now on; none until set.
  void SetHooks(ReadHooks hooks) { *hooks_ = std::move(hooks); }
  // How the files opened from now on are reached; until set, local paths
  // as they are and UNC paths over SMB.
  void SetShareAccess(unc::ShareAccess access) { access_ = std::move(access); }

  // Opens the log file `path` (local or UNC, see unc::OpenForReading) for
  // reading, closing any file open before. No record is current until
  // ReadLogRecord. `io_mode` must be 1 (read) and `format` "W3C Extended Log
  // File Format" (any case); `service` and `instance` name the log's owner
  // and do not change how it is read.
  //
  // Raises AutomationError naming `path` when the file does not exist or
  // cannot be opened (file not found 53, path not found 76, permission
  // denied 70, as unc reports them), or invalid procedure call (5) for
  // another mode or format. After a failure no file is open and AtEndOfLog
  // is true.
  void OpenLogFile(std::string_view path, int32_t io_mode,
                   std::string_view service, std::string_view instance,
                   std::string_view format);

  // Like OpenLogFile, over an input already open; `path` names it in errors
  // and decides, by a ".gz" ending, on decompression. Takes ownership.
  void OpenInput(std::unique_ptr<unc::InputFile> input, std::string_view path);

  // Makes the next record of the file current, passing over directives,
  // blank lines and lines that are not records; at the end of the file no
  // record is current. Without an open file it does nothing. A read error
  // (an unreadable file, corrupt gzip data) raises AutomationError naming
  // the path and closes the file, so AtEndOfLog is true afterwards.
  void ReadLogRecord();

  // True when there is no current record: before the first ReadLogRecord,
  // after the last record, after any failure and when no file is open.
  bool AtEndOfLog() const { return !has_record_; }

  // Closes the open file, if any. `io_mode` names the files to close (1:
  // those opened for reading, the only kind there is).
  void CloseLogFiles(int32_t io_mode);
  // Closes the open file after a read error (the observer hears so).
  void CloseAfterFailure();

  // The fields of the current record. Each is Null when the latest #Fields
  // does not carry the field, when the record holds "-" there, or when no
  // record is current. Text comes as it stands in the file ("+" is kept);
  // numbers are 32-bit when they fit and 64-bit otherwise, and a numeric
  // field holding something else than a decimal integer comes as its text.
  //
  // DateTime is an automation::Date of date and time (date-local and
  // time-local when the file has no date and time), UTC as IIS writes it,
  // without conversion; fractions of a second are dropped. A file with a
  // time but no date takes the day of the latest #Date (or #Start-Date)
  // directive; with no such directive the value is Null. A date alone gives
  // midnight.
  automation::Variant DateTime() const;
  automation::Variant ClientIp() const;        // c-ip
  automation::Variant Method() const;          // cs-method
  automation::Variant URIStem() const;         // cs-uri-stem
  automation::Variant ProtocolStatus() const;  // sc-status, numeric

  // The same fields without a Variant, for a caller that reads every
  // record. RecordTime is DateTime's date-time, nothing where DateTime is
  // Null. FieldText is the field's text as it stands in the line (quotes
  // undone), nothing where its property is Null; the view is valid until
  // the next ReadLogRecord, OpenLogFile or CloseLogFiles.
  std::optional<double> RecordTime() const {
    return has_record_ ? date_time_ : std::nullopt;
  }
  // The calendar parts of RecordTime as the line gives them (whole
  // seconds), without working them out of the date-time again; meaningful
  // only while RecordTime has a value.
  const automation::DateParts& RecordParts() const { return parts_; }
  std::optional<std::string_view> FieldText(Field field) const {
    return Value(field);
  }
  // Every field of the current record, any the layout declares (none when
  // no record is current); valid as FieldText's views are.
  RecordFields Fields() const {
    return has_record_ ? RecordFields(&layout_, values_) : RecordFields();
  }

 private:
  class CountedInput;

  // Adds the records handed out since the last call to the hooks'
  // counters.
  void AddRecordsToCounters();
  // ReadLogRecord's reading, which leaves closing after a failure to it.
  void ReadNextRecord();
  // Handles one line; true when it became the current record.
  bool TakeLine(std::span<char> line);
  void TakeDirective(std::string_view line);
  bool TakeRecord(std::span<char> line);
  // Splits a record line into values_; false when it does not hold the
  // layout's number of values either way it may be written.
  bool SplitRecord(std::span<char> line);
  // The calendar day of a record's date text into `parts` (its year, month
  // and day); false when the text is not a valid date.
  bool ParseDay(std::string_view text, automation::DateParts* parts);
  // The date-time of a record of a block without dates, whose day and time
  // `parts` holds, in file order; moves `parts` to the day its time has
  // passed on to. Nothing when that day is more than kMaxDaysPastDirective
  // after the block's directive: the record is refused.
  std::optional<double> TimeInDateBlock(automation::DateParts* parts);
  // True when the plan says the current record was counted already.
  bool CountedBefore();
  void CountSkipped();
  // The value of `field` in the current record; nothing when it is null.
  std::optional<std::string_view> Value(Field field) const;
  automation::Variant Text(Field field) const;
  automation::Variant Number(Field field) const;

  std::string path_;
  std::unique_ptr<LineReader> lines_;  // null when no file is open
  FieldLayout layout_;
  // The day of the latest #Date or #Start-Date directive, for logs that
  // carry a time but no date.
  std::optional<automation::DateParts> directive_day_;
  // The midnights the records of that directive's block have passed, and
  // the time of day of its record before, in seconds (-1: none yet).
  static constexpr int32_t kTimeBackForNewDay = 3600;
  // IIS writes a block's directives when it starts a file or the service:
  // a file rolled by the day, week or month passes at most 30 midnights
  // under one #Date, and one rolled by size or never gets a new #Date at
  // each start of the service, which a server's updates bring many times
  // a year. A year of midnights under one directive is no real log's, but
  // a garbled or hostile one's (times that alternate late and early move a
  // day on every other line), which would date its records at will.
  static constexpr int32_t kMaxDaysPastDirective = 366;
  int32_t days_past_directive_ = 0;
  int32_t block_time_before_ = -1;
  // The open file's plan while records before its last counted offset may
  // follow; empty once the reading is past them all.
  std::vector<CountedPart> counted_;
  // The largest offset of counted_.
  int64_t counted_end_ = 0;
  // How far earlier runs read the open file: the plan's reported_up_to, or
  // the largest offset of its parts short of a whole day. Those runs
  // logged the garbled lines up to it.
  int64_t read_before_ = 0;
  // The day CountedBefore looked up last, and its offset in counted_ (-1:
  // none).
  int32_t counted_day_ = INT32_MIN;
  int64_t counted_day_offset_ = -1;
  std::vector<std::string_view> values_;  // of the current record
  // A line holding a quote as it was before SplitValues unquoted it in
  // place, for its split at blanks alone; kept for its capacity.
  std::string unquoted_line_;
  bool has_record_ = false;
  std::optional<double> date_time_;  // of the current record
  automation::DateParts parts_;      // of date_time_
  // The last date text parsed, with its day: records come in runs of one
  // day, so a date like the record before's is not parsed again.
  struct LastDay {
    std::array<char, 10> text{};  // YYYY-MM-DD
    bool valid = false;
    automation::DateParts parts;
    int64_t ole_days = 0;
  };
  LastDay last_day_;
  int64_t records_ = 0;  // of the open file
  // The records of the open file already added to the hooks' counters:
  // they are added a chunk of the file at a time, not for each record.
  int64_t records_in_counters_ = 0;
  int64_t skipped_lines_ = 0;
  int64_t first_skipped_line_ = 0;
  bool read_failed_ = false;  // set just before a failure closes the file
  bool reached_end_ = false;  // of the open file's text
  // Apart from the members the record loop reads, which it would spread
  // over more cache lines.
  std::unique_ptr<ReadHooks> hooks_ = std::make_unique<ReadHooks>();
  unc::ShareAccess access_;
};

// Registers IISLog as "MSWC.IISLog" with automation::RegisterClass.
void RegisterClasses();

}  // namespace velnor::iislog

#endif  // VELNOR_PLATFORM_IISLOG_IIS_LOG_H_
