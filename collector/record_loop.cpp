// The record loop: reads one log file record by record, keeps the records
// of the date window and counts each into the four reports (or lists it in
// the grid), showing the site's counter as it goes.
#include <atomic>
#include <limits>
#include <optional>
#include <string_view>

#include "collector/collection_run.h"
#include "dbsupport/db_support.h"
#include "dbsupport/error_log.h"
#include "platform/automation/error_state.h"
#include "platform/automation/ole_date.h"
#include "platform/automation/text.h"

namespace velnor {
namespace {

using automation::Err;
using automation::Variant;

}  // namespace

void CollectionRun::ReadLogFile(Site& site, const std::string& file_name,
                                const SiteReading& reading) {
  iislog::IISLog& reader = *reading.reader;
  const std::string path = site.log_directory + "\\" + file_name;
  step_([&] {
    reader.OpenLogFile(path, 1, is_ftp_ ? "MSFTPSVC" : "W3SVC", "1",
                       "W3C Extended Log File Format");
  });
  // A reader that cannot tell where it is counts as being at its end, so a
  // failing reader never keeps the loop running.
  bool at_end = true;
  step_([&] { reader.ReadLogRecord(); });
  step_([&] { at_end = reader.AtEndOfLog(); });
  bool undated_logged = false;
  // Records come in runs of one day: the weekday is worked out when the day
  // changes.
  double weekday_day = std::numeric_limits<double>::quiet_NaN();
  int32_t weekday = 0;
  while (!at_end) {
    // A record without a usable date is skipped rather than counted under
    // the date of the record before it; one line per file says so, since a
    // layout without dates would otherwise log every record.
    const std::optional<double> record_time = reader.RecordTime();
    if (!record_time && !undated_logged) {
      LogUndated(reader, path);
      undated_logged = true;
    }
    if (record_time) {
      const double day = automation::DatePart(*record_time);
      if (start_day_ <= day && day <= end_day_) {
        if (day != weekday_day) {
          weekday_day = day;
          weekday = automation::Weekday(day);
        }
        const automation::DateParts& parts = reader.RecordParts();
        TakeRecord(site, reading,
                   {*record_time, weekday, parts.month, parts.hour}, path);
      }
    }
    if (reading.stop != nullptr ? WorkerStopped(*reading.stop)
                                : CancelCheck(CheckPoint::kRecord)) {
      break;
    }
    at_end = true;
    step_([&] { reader.ReadLogRecord(); });
    step_([&] { at_end = reader.AtEndOfLog(); });
  }
  step_([&] { reader.CloseLogFiles(1); });
}

void CollectionRun::LogUndated(iislog::IISLog& reader,
                               const std::string& path) {
  // The date as an automation value would convert it: the same error for
  // the line, raised once per file only.
  automation::ResumeNext(
      [&] { automation::CDate(NullToDefault(reader.DateTime(), "")); });
  WriteErrorLog(
      Err().Number(),
      Err().Description() + " (record without a date in " + path + ")",
      RunSource(), "CollectDataFromLogFile");
  Err().Clear();
}

void CollectionRun::TakeRecord(Site& site, const SiteReading& reading,
                               const RecordWhen& when,
                               const std::string& path) {
  // A worker's count is shown by the run's thread (parallel_sites.cpp).
  if (reading.shown_records != nullptr) {
    reading.shown_records->store(site.record_counter,
                                 std::memory_order_relaxed);
  } else {
    step_([&] {
      Dialog().SetReportItemDescription("Processing Record # : ",
                                        site.record_counter);
    });
  }
  bool taken = true;
  if (state_.mblnIsCollectRawData) {
    AddGridRow(site);
  } else {
    taken = TallyRecord(site, reading, when, path);
  }
  if (taken && site.record_counter < std::numeric_limits<int32_t>::max()) {
    ++site.record_counter;
  }
}

int32_t CollectionRun::RecordStatus(iislog::IISLog& reader) {
  const std::optional<std::string_view> text =
      reader.FieldText(iislog::Field::kStatus);
  if (!text) return 0;
  const std::optional<int64_t> number = iislog::ParseInteger(*text);
  if (number && *number >= std::numeric_limits<int32_t>::min() &&
      *number <= std::numeric_limits<int32_t>::max()) {
    return static_cast<int32_t>(*number);
  }
  // What is not a 32-bit integer converts, or fails, as its automation
  // value does.
  int32_t status = 0;
  step_([&] {
    status = automation::CLng(
        NullToDefault(reader.ProtocolStatus(), Variant(int16_t{0})));
  });
  return status;
}

// A NUL byte in a record's URL is a damaged log line. TallyRecord looks for
// it once per record and refuses the record here, for every store, before
// anything counts it: PostgreSQL cannot hold it and SQLite would, so the two
// stores would count the same log differently; and a tally in memory would
// meet the database's refusal only when written, long after the ledger had
// heard of the record. The site's name and identifier come from inputs that
// refuse NUL bytes already.
void CollectionRun::RefuseNulText(std::string_view url,
                                  const std::string& path) {
  automation::Raise(automation::kErrInvalidProcedureCall,
                    "The text '" + automation::NulsShown(url) +
                        "' holds a NUL byte (shown as \\0), which "
                        "PostgreSQL cannot store; the record of " +
                        path +
                        " is left out, in either store. The log line is "
                        "damaged: check the log file.");
}

bool CollectionRun::TallyRecord(const Site& site, const SiteReading& reading,
                                const RecordWhen& when,
                                const std::string& path) {
  const std::string_view url =
      reading.reader->FieldText(iislog::Field::kUriStem).value_or("");
  const int32_t status = RecordStatus(*reading.reader);
  // A record left out for its NUL byte is left out of the site's total
  // too, which would otherwise hold a hit that no report and no day has.
  const bool damaged = url.find('\0') != std::string_view::npos;

  const bool counted = step_([&] {
    if (damaged) RefuseNulText(url, path);
    if (reading.tally != nullptr) {
      reading.tally->Count(site.name, site.identifier, url, when.weekday,
                           when.month, when.hour, status,
                           {true, true, true, true});
    } else {
      store_.CountRecord(site.name, site.identifier, url, when.weekday,
                         when.month, when.hour, status);
    }
  });
  if (counted && reading.count_observer != nullptr) {
    reading.count_observer->RecordCounted(
        {site.identifier, when.time, status, path, reading.reader->Fields()});
  }
  return !damaged;
}

}  // namespace velnor
