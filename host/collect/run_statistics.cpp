// The run's statistics observer.
#include "host/collect/run_statistics.h"

namespace velnor::host {

void RunStatisticsObserver::RecordCounted(const CountedRecord& record) {
  next_->RecordCounted(record);
  // The day as the ledger takes it: the date part of the log's time.
  statistics_.Add(record.site, static_cast<statistics::Day>(record.time),
                  record.status, record.fields);
}

std::unique_ptr<RunStatisticsObserver> RunStatisticsObserver::MakePart(
    CountObserver* next) const {
  return std::make_unique<RunStatisticsObserver>(statistics_.ftp(), next);
}

void RunStatisticsObserver::Merge(const RunStatisticsObserver& part) {
  statistics_.Merge(part.statistics_);
}

void RunStatisticsObserver::PackInBackground(int64_t run_id) {
  packing_ = std::async(std::launch::async, [this, run_id] {
    return statistics::PackRun(run_id, statistics_);
  });
}

statistics::RunRows RunStatisticsObserver::Rows(int64_t run_id) {
  if (packing_.valid()) return packing_.get();
  return statistics::PackRun(run_id, statistics_);
}

}  // namespace velnor::host
