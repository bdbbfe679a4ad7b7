// What a host learns of each record a run counts: the site, when the record
// was made, its status, the file it came from and every field the log
// carries for it. The report databases keep
// no date, so this is the only way the host can know which days a run
// counted, and how far into each file.
//
// Only counted records are reported: records outside the run's window,
// without a date, listed in raw mode or that failed to be counted are not.
#ifndef VELNOR_COLLECTOR_COUNT_OBSERVER_H_
#define VELNOR_COLLECTOR_COUNT_OBSERVER_H_

#include <cstdint>
#include <string_view>

#include "platform/iislog/w3c_format.h"

namespace velnor {

struct CountedRecord {
  std::string_view site;  // the site identifier, as in the site descriptor
  double time = 0;        // the record's OLE date-time, as the log has it
  int32_t status = 0;     // its protocol status; 0 when the log has none
  std::string_view file;  // the path the run opened the log file by
  // The record's fields under its #Fields layout (bytes, client, time
  // taken, ...), for observers that keep more than hits.
  iislog::RecordFields fields;
};

// Called on the run's thread once per counted record, so it must be cheap;
// the views are valid during the call only. Implementations must not
// raise.
class CountObserver {
 public:
  virtual ~CountObserver() = default;
  virtual void RecordCounted(const CountedRecord& record) = 0;
};

}  // namespace velnor

#endif  // VELNOR_COLLECTOR_COUNT_OBSERVER_H_
