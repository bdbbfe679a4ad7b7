// The record loop: reads one log file record by record, keeps the records
// of the date window and counts each into the four reports (or lists it in
// the grid), showing the site's counter as it goes.
#include <limits>

#include "collector/collection_run.h"
#include "dbsupport/db_support.h"
#include "dbsupport/error_log.h"
#include "platform/automation/ole_date.h"

namespace velnor {
namespace {

using automation::Err;
using automation::Variant;

}  // namespace

void CollectionRun::ReadLogFile(Site& site, const std::string& file_name) {
  const std::string path = site.log_directory + "\\" + file_name;
  step_([&] {
    reader_->OpenLogFile(path, 1, is_ftp_ ? "MSFTPSVC" : "W3SVC", "1",
                         "W3C Extended Log File Format");
  });
  // A reader that cannot tell where it is counts as being at its end, so a
  // failing reader never keeps the loop running.
  bool at_end = true;
  step_([&] { reader_->ReadLogRecord(); });
  step_([&] { at_end = reader_->AtEndOfLog(); });
  bool undated_logged = false;
  while (!at_end) {
    // A record without a usable date is skipped rather than counted under
    // the date of the record before it; one line per file says so, since a
    // layout without dates would otherwise log every record.
    double record_time = 0;
    bool dated = automation::ResumeNext([&] {
      record_time = automation::CDate(NullToDefault(reader_->DateTime(), ""));
    });
    if (!dated && !undated_logged) {
      WriteErrorLog(
          Err().Number(),
          Err().Description() + " (record without a date in " + path + ")",
          RunSource(), "CollectDataFromLogFile");
      undated_logged = true;
    }
    Err().Clear();
    const double day = automation::DatePart(record_time);
    if (dated && start_day_ <= day && day <= end_day_) {
      step_([&] {
        Dialog().SetReportItemDescription("Processing Record # : ",
                                          site.record_counter);
      });
      if (state_.mblnIsCollectRawData) {
        AddGridRow(site);
      } else {
        TallyRecord(site, record_time, path);
      }
      if (site.record_counter < std::numeric_limits<int32_t>::max()) {
        ++site.record_counter;
      }
    }
    if (CancelCheck(CheckPoint::kRecord)) break;
    at_end = true;
    step_([&] { reader_->ReadLogRecord(); });
    step_([&] { at_end = reader_->AtEndOfLog(); });
  }
  step_([&] { reader_->CloseLogFiles(1); });
}

void CollectionRun::TallyRecord(const Site& site, double record_time,
                                const std::string& path) {
  const automation::DateParts parts = automation::PartsOf(record_time);
  const int32_t weekday = automation::Weekday(record_time);
  std::string url;
  int32_t status = 0;
  step_([&] { url = automation::CStr(NullToDefault(reader_->URIStem(), "")); });
  step_([&] {
    status = automation::CLng(
        NullToDefault(reader_->ProtocolStatus(), Variant(int16_t{0})));
  });

  const bool counted = step_([&] {
    store_.CountRecord(site.name, site.identifier, url, weekday, parts.month,
                       parts.hour, status);
  });
  if (counted && hooks_.count_observer != nullptr) {
    hooks_.count_observer->RecordCounted(
        {site.identifier, record_time, status, path});
  }
}

}  // namespace velnor
