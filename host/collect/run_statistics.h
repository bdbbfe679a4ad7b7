// The statistics' side of a run: hears each record the run counts, keeps
// its statistics per site and day (statistics/day_statistics.h) and passes
// the record on, so that the ledger hears exactly the records the
// statistics keep.
#ifndef VELNOR_HOST_COLLECT_RUN_STATISTICS_H_
#define VELNOR_HOST_COLLECT_RUN_STATISTICS_H_

#include "component/velnor.h"
#include "statistics/day_statistics.h"

namespace velnor::host {

class RunStatisticsObserver : public CountObserver {
 public:
  // `ftp`: the run reads FTP logs. Each record goes on to `next` (the
  // ledger), which must outlive this.
  RunStatisticsObserver(bool ftp, CountObserver* next)
      : statistics_(ftp), next_(next) {}

  void RecordCounted(const CountedRecord& record) override;

  const statistics::RunStatistics& statistics() const { return statistics_; }

 private:
  statistics::RunStatistics statistics_;
  CountObserver* next_;
};

}  // namespace velnor::host

#endif  // VELNOR_HOST_COLLECT_RUN_STATISTICS_H_
