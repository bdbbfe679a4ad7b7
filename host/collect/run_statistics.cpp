// The run's statistics observer.
#include "host/collect/run_statistics.h"

namespace velnor::host {

void RunStatisticsObserver::RecordCounted(const CountedRecord& record) {
  next_->RecordCounted(record);
  // The day as the ledger takes it: the date part of the log's time.
  statistics_.Add(record.site, static_cast<statistics::Day>(record.time),
                  record.status, record.fields);
}

}  // namespace velnor::host
